// Programs run as child processes by the measuring programs: spawned with
// their standard streams where the caller wants them, and waited for with
// their resource usage.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace krt::bench {

inline double NowSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Descriptors for the child's standard input, output and error; -1 leaves
// the stream as the caller has it.
struct ChildStreams {
  int in = -1;
  int out = -1;
  int err = -1;
};

// Starts `program` with `args`; the pid, or -1.
inline pid_t Spawn(const std::string& program, const std::vector<std::string>& args,
                   const ChildStreams& streams) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (streams.in >= 0) posix_spawn_file_actions_adddup2(&actions, streams.in, 0);
  if (streams.out >= 0) posix_spawn_file_actions_adddup2(&actions, streams.out, 1);
  if (streams.err >= 0) posix_spawn_file_actions_adddup2(&actions, streams.err, 2);
  std::vector<std::string> all{program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// How a child ended and what it used.
struct ChildEnd {
  int status = -1;  // the exit status, or 128 + the signal
  double user_s = 0;
  double sys_s = 0;
};

inline double Seconds(const timeval& tv) {
  return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
}

inline ChildEnd Wait(pid_t pid) {
  ChildEnd end;
  int status = 0;
  rusage usage{};
  pid_t r;
  do {
    r = wait4(pid, &status, 0, &usage);
  } while (r < 0 && errno == EINTR);
  if (r != pid) return end;
  if (WIFEXITED(status)) end.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) end.status = 128 + WTERMSIG(status);
  end.user_s = Seconds(usage.ru_utime);
  end.sys_s = Seconds(usage.ru_stime);
  return end;
}

}  // namespace krt::bench
