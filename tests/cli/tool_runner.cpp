#include "tests/cli/tool_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace krt::test {

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) {
      lines.push_back(text.substr(pos));
      break;
    }
    lines.push_back(text.substr(pos, nl - pos));
    pos = nl + 1;
  }
  return lines;
}

std::vector<std::string> ToolRun::OutLines() const { return SplitLines(out); }
std::vector<std::string> ToolRun::ErrLines() const { return SplitLines(err); }

void WriteSettings(const std::string& config_home, const std::string& text) {
  std::filesystem::create_directories(config_home + "/Kelvaro");
  std::ofstream(config_home + "/Kelvaro/Tovlane.ini", std::ios::trunc) << text;
}

ToolRun RunKrt700(const std::vector<std::string>& args, const ToolSetup& setup) {
  ToolRun run;
  int out[2] = {-1, -1};
  int err[2] = {-1, -1};
  if (pipe2(err, O_CLOEXEC) != 0) return run;
  int master = -1;
  std::string slave_path;
  if (setup.terminal) {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return run;
    slave_path = ptsname(master);
  } else if (pipe2(out, O_CLOEXEC) != 0) {
    return run;
  }

  std::vector<std::string> all = {KRT700_EXE};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid == 0) {
    if (setup.config_home.empty()) {
      unsetenv("XDG_CONFIG_HOME");
      unsetenv("HOME");
    } else {
      setenv("XDG_CONFIG_HOME", setup.config_home.c_str(), 1);
    }
    int in_fd = -1;
    int out_fd = -1;
    if (setup.terminal) {
      setsid();
      const int slave = open(slave_path.c_str(), O_RDWR);
      if (slave < 0) _exit(127);
      termios t{};
      tcgetattr(slave, &t);
      cfmakeraw(&t);
      t.c_oflag |= OPOST | ONLCR;
      t.c_lflag |= ICANON;
      t.c_iflag |= ICRNL;
      tcsetattr(slave, TCSANOW, &t);
      in_fd = out_fd = slave;
    } else {
      in_fd = open("/dev/null", O_RDONLY);
      out_fd = out[1];
    }
    if (dup2(in_fd, 0) < 0 || dup2(out_fd, 1) < 0 || dup2(err[1], 2) < 0) _exit(127);
    execv(KRT700_EXE, argv.data());
    _exit(127);
  }
  close(err[1]);
  int out_read = master;
  if (!setup.terminal) {
    close(out[1]);
    out_read = out[0];
  }
  if (setup.close_output) {
    close(out_read);
    out_read = -1;
  }
  if (setup.terminal && !setup.typed.empty()) {
    if (write(master, setup.typed.data(), setup.typed.size()) < 0) {
      // the child sees no answer and takes it as No
    }
  }

  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(setup.timeout_ms);
  int fds[2] = {out_read, err[0]};
  std::string* sinks[2] = {&run.out, &run.err};
  while (fds[0] >= 0 || fds[1] >= 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      break;
    }
    pollfd p[2] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};
    if (poll(p, 2, 100) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i] < 0 || p[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i], buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        // The end of a pipe, or of the terminal once the child has gone (EIO).
        close(fds[i]);
        fds[i] = -1;
      }
    }
  }
  for (int fd : fds) {
    if (fd >= 0) close(fd);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

}  // namespace krt::test
