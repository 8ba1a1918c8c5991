// A program run as a child process for tests: the simulator executable, the
// tool.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern char** environ;

namespace krt::test {

inline std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A program run as a child process, its standard streams on pipes; killed
// when the object goes, if still running.
class ChildProcess {
 public:
  ChildProcess(const std::string& program, const std::vector<std::string>& args) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "pipe";
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
  }
  ~ChildProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {in_, out_, err_}) {
      if (fd >= 0) close(fd);
    }
  }

  // The first line of standard output, without its line feed.
  std::string FirstLine(int timeout_ms) {
    std::string line;
    const std::int64_t end = NowMs() + timeout_ms;
    while (NowMs() < end) {
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      char c = 0;
      if (read(out_, &c, 1) != 1) break;
      if (c == '\n') return line;
      line.push_back(c);
    }
    return "(no line: " + line + ")";
  }

  std::string Stderr() {
    std::string text;
    char chunk[512];
    ssize_t n;
    while ((n = read(err_, chunk, sizeof chunk)) > 0)
      text.append(chunk, static_cast<std::size_t>(n));
    return text;
  }

  void CloseStdin() {
    close(in_);
    in_ = -1;
  }
  void Signal(int sig) const { kill(pid_, sig); }

  // The exit status, or -1 when it did not end in time (or by a signal).
  int Wait(int timeout_ms) {
    const std::int64_t end = NowMs() + timeout_ms;
    for (;;) {
      int status = 0;
      const pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      if (NowMs() >= end) return -1;
      usleep(5000);
    }
  }

 private:
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
};

}  // namespace krt::test
