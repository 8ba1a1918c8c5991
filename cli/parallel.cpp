#include "cli/parallel.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <set>

#include "cli/json.h"
#include "cli/progress.h"
#include "link/link.h"

namespace krt::cli {
namespace {

double Now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// One port's child process and what it has told so far.
struct Child {
  PortChoice port;
  pid_t pid = -1;
  int out = -1;  // its standard output
  int err = -1;  // its standard error
  std::string out_buffer;
  std::string err_buffer;

  std::string status;  // the last status text, progress texts excluded
  std::string label;   // the label of the last progress text
  bool in_progress = false;
  unsigned percent = 0;
  ProgressMeter meter;
  double step_start = 0;

  bool got_result = false;
  std::string result;  // "passed" / "failed"
  std::string final_status;
  std::string serial;
  std::string firmware;
  std::string logic;
  int exit_status = -1;  // -1 while running; 128 + signal when killed
  bool passed() const { return got_result && result == "passed" && exit_status == 0; }
};

// The device a port choice stands for, to refuse the same device twice.
std::string DeviceKey(const PortChoice& port) {
  const std::string device = port.device.empty() ? DeviceForPort(port.text) : port.device;
  char resolved[PATH_MAX];
  if (realpath(device.c_str(), resolved) != nullptr) return resolved;
  return device;
}

// A port's name for the duplicate check: COM names in any letter case are
// one, paths are kept as they are.
std::string NameKey(std::string s) {
  if (s.find('/') != std::string::npos) return s;
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

class Runner {
 public:
  Runner(const Options& o, const Environment& env) : o_(o), env_(env) {}

  int Run(const std::vector<std::string>& args) {
    for (const PortChoice& port : o_.ports) {
      port_width_ = std::max(port_width_, port.text.size());
      Child child;
      child.port = port;
      child.step_start = Now();
      children_.push_back(std::move(child));
    }
    for (Child& c : children_) Spawn(c, ChildArguments(args, c.port.text));
    Loop();
    Summary();
    for (const Child& c : children_) {
      if (!c.passed()) return kExitFailed;
    }
    return kExitPassed;
  }

 private:
  bool Terminal() const { return !o_.json && env_.terminal.out_is_terminal; }

  void Spawn(Child& c, const std::vector<std::string>& args) {
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
      c.exit_status = 127;
      c.final_status = std::string("cannot make a pipe: ") + std::strerror(errno);
      return;
    }
    // Everything the child needs is made before the fork.
    std::vector<std::string> all = {"krt700"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const char* self = env_.self.c_str();
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      const int null = open("/dev/null", O_RDONLY);
      if (null < 0 || dup2(null, STDIN_FILENO) < 0 || dup2(out[1], STDOUT_FILENO) < 0 ||
          dup2(err[1], STDERR_FILENO) < 0) {
        _exit(127);
      }
      execv(self, argv.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    if (pid < 0) {
      close(out[0]);
      close(err[0]);
      c.exit_status = 127;
      c.final_status = std::string("cannot start a process: ") + std::strerror(errno);
      return;
    }
    c.pid = pid;
    c.out = out[0];
    c.err = err[0];
  }

  void Loop() {
    double last_draw = 0;
    for (;;) {
      std::vector<pollfd> fds;
      std::vector<std::pair<Child*, bool>> owners;  // child, is its stdout
      for (Child& c : children_) {
        if (c.out >= 0) {
          fds.push_back({c.out, POLLIN, 0});
          owners.emplace_back(&c, true);
        }
        if (c.err >= 0) {
          fds.push_back({c.err, POLLIN, 0});
          owners.emplace_back(&c, false);
        }
      }
      if (fds.empty()) break;
      const int n = poll(fds.data(), fds.size(), 100);
      if (n < 0 && errno != EINTR) break;
      for (std::size_t i = 0; n > 0 && i < fds.size(); ++i) {
        if (fds[i].revents == 0) continue;
        Child& c = *owners[i].first;
        const bool is_out = owners[i].second;
        char buffer[4096];
        const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
          Flush(c, is_out);
          close(fds[i].fd);
          (is_out ? c.out : c.err) = -1;
          if (c.out < 0 && c.err < 0) Reap(c);
          continue;
        }
        std::string& pending = is_out ? c.out_buffer : c.err_buffer;
        pending.append(buffer, static_cast<std::size_t>(got));
        for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
          const std::string line = pending.substr(0, nl);
          pending.erase(0, nl + 1);
          is_out ? OutLine(c, line) : ErrLine(c, line);
        }
      }
      if (Terminal() && (dirty_ || Now() - last_draw >= 0.1)) {
        Draw();
        last_draw = Now();
      }
    }
    if (Terminal()) Draw();
  }

  void Flush(Child& c, bool is_out) {
    std::string& pending = is_out ? c.out_buffer : c.err_buffer;
    if (pending.empty()) return;
    const std::string line = pending;
    pending.clear();
    is_out ? OutLine(c, line) : ErrLine(c, line);
  }

  void Reap(Child& c) {
    int wstatus = 0;
    while (waitpid(c.pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    c.exit_status = WIFEXITED(wstatus)     ? WEXITSTATUS(wstatus)
                    : WIFSIGNALED(wstatus) ? 128 + WTERMSIG(wstatus)
                                           : 1;
    if (!c.got_result) {
      c.final_status = "no result (exit status " + std::to_string(c.exit_status) + ")";
    }
    dirty_ = true;
  }

  // A line of a child's standard error, shown with its port.
  void ErrLine(const Child& c, const std::string& line) {
    Above("[" + c.port.text + "] " + line, env_.terminal.err);
  }

  void OutLine(Child& c, const std::string& line) {
    const std::optional<JsonValue> v = ParseJson(line);
    if (!v || v->kind != JsonValue::Kind::kObject) {
      if (o_.json) {
        // Not an object: passed on as a string member, so the output stays JSON Lines.
        Emit(JsonObject().Add("port", c.port.text).Add("event", "output").Add("text", line));
      } else {
        Above("[" + c.port.text + "] " + line, env_.terminal.out);
      }
      return;
    }
    if (o_.json) Emit(TagWithPort(line, c.port.text));
    const std::string event = v->StringAt("event");
    if (event == "status") {
      const std::string text = v->StringAt("text");
      unsigned percent = 0;
      std::string label;
      if (IsProgressText(text, &label, &percent)) {
        if (!c.in_progress || label != c.label || percent < c.percent) {
          c.meter.Start(label, 0, "", c.step_start);
        }
        c.label = label;
        c.percent = percent;
        c.in_progress = true;
      } else {
        c.status = text;
        c.in_progress = false;
        c.step_start = Now();
        dirty_ = true;
      }
      if (!o_.json && !Terminal()) Above("[" + c.port.text + "] " + text, env_.terminal.out);
    } else if (event == "message") {
      if (!o_.json) {
        Above("[" + c.port.text + "] " + v->StringAt("caption") + ": " + v->StringAt("text"),
              env_.terminal.out);
      }
    } else if (event == "result") {
      c.got_result = true;
      c.result = v->StringAt("result");
      c.final_status = v->StringAt("status");
      if (const JsonValue* probe = v->Find("probe"); probe != nullptr) {
        c.serial = probe->StringAt("serial");
        c.firmware = probe->StringAt("firmware");
        c.logic = probe->StringAt("logic");
      }
      dirty_ = true;
    }
  }

  void Emit(const JsonObject& object) { Emit(object.Text()); }
  void Emit(const std::string& text) {
    std::fputs(text.c_str(), env_.terminal.out);
    std::fputc('\n', env_.terminal.out);
    std::fflush(env_.terminal.out);
  }

  // A line above the devices' lines on a terminal, a plain line elsewhere.
  void Above(const std::string& line, std::FILE* stream) {
    if (Terminal() && drawn_) {
      std::fprintf(env_.terminal.out, "\x1b[%zuA\r\x1b[J", children_.size());
      std::fflush(env_.terminal.out);
      drawn_ = false;
    }
    std::fputs(line.c_str(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
    dirty_ = true;
  }

  std::string Row(const Child& c, std::size_t width) const {
    std::string head = c.port.text + std::string(port_width_ + 1 - c.port.text.size(), ' ');
    std::string text;
    if (c.exit_status >= 0) {
      text = (c.passed() ? "passed: " : "failed: ") + c.final_status;
    } else if (c.in_progress) {
      text = c.meter.Line(c.percent, Now(), width > head.size() + 20 ? width - head.size() : 20);
    } else {
      text = c.status.empty() ? "starting ..." : c.status;
    }
    std::string row = head + text;
    if (row.size() > width) row.resize(width);
    return row;
  }

  void Draw() {
    const std::size_t width = TerminalColumns(env_.terminal.out) - 1;
    std::string block;
    if (drawn_) {
      block += "\x1b[";
      block += std::to_string(children_.size());
      block += 'A';
    }
    for (const Child& c : children_) {
      block += '\r';
      block += Row(c, width);
      block += "\x1b[K\n";
    }
    std::fputs(block.c_str(), env_.terminal.out);
    std::fflush(env_.terminal.out);
    drawn_ = true;
    dirty_ = false;
  }

  void Summary() {
    bool all = true;
    for (const Child& c : children_) all = all && c.passed();
    if (o_.json) {
      std::string ports = "[";
      for (const Child& c : children_) {
        if (ports.size() > 1) ports += ',';
        ports += JsonObject()
                     .Add("port", c.port.text)
                     .Add("result", c.passed() ? "passed" : "failed")
                     .Add("exit", c.exit_status)
                     .Add("status", c.final_status)
                     .Text();
      }
      ports += "]";
      Emit(JsonObject()
               .Add("event", "summary")
               .Add("command", CommandName(o_.command))
               .Add("result", all ? "passed" : "failed")
               .AddRaw("ports", ports));
      return;
    }
    std::FILE* out = env_.terminal.out;
    const int w = static_cast<int>(port_width_);
    std::fprintf(out, "\n%-*s %-7s %-11s %-9s %-8s %s\n", w, "PORT", "RESULT", "SERIAL", "FIRMWARE",
                 "LOGIC", "STATUS");
    for (const Child& c : children_) {
      std::fprintf(out, "%-*s %-7s %-11s %-9s %-8s %s\n", w, c.port.text.c_str(),
                   c.passed() ? "passed" : "failed", c.serial.empty() ? "-" : c.serial.c_str(),
                   c.firmware.empty() ? "-" : c.firmware.c_str(),
                   c.logic.empty() ? "-" : c.logic.c_str(), c.final_status.c_str());
    }
    int failed = 0;
    for (const Child& c : children_) failed += c.passed() ? 0 : 1;
    std::fprintf(out, "%s: %zu passed, %d failed\n", CommandName(o_.command),
                 children_.size() - static_cast<std::size_t>(failed), failed);
    std::fflush(out);
  }

  const Options& o_;
  const Environment& env_;
  std::vector<Child> children_;
  std::size_t port_width_ = 12;  // the port column: the longest port text
  bool drawn_ = false;
  bool dirty_ = true;
};

}  // namespace

std::vector<std::string> ChildArguments(const std::vector<std::string>& args,
                                        const std::string& port) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--port") {
      ++i;  // and its value
      continue;
    }
    if (a.rfind("--port=", 0) == 0 || a == "--json") continue;
    out.push_back(a);
  }
  out.push_back("--port");
  out.push_back(port);
  out.push_back("--json");
  return out;
}

std::string TagWithPort(const std::string& line, const std::string& port) {
  const std::size_t open = line.find_first_not_of(" \t");
  if (open == std::string::npos || line[open] != '{') return line;
  const std::size_t next = line.find_first_not_of(" \t", open + 1);
  const bool empty = next != std::string::npos && line[next] == '}';
  return "{\"port\":" + JsonString(port) + (empty ? "" : ",") + line.substr(open + 1);
}

int RunParallel(const Options& o, const std::vector<std::string>& args, const Environment& env) {
  std::set<std::string> devices;
  std::set<std::string> names;
  for (const PortChoice& port : o.ports) {
    if (!names.insert(NameKey(port.text)).second || !devices.insert(DeviceKey(port)).second) {
      std::fprintf(env.terminal.err, "krt700: --port %s: that device is given twice\n",
                   port.text.c_str());
      return kExitUsage;
    }
  }
  // A child that dies must not take the parent with it.
  signal(SIGPIPE, SIG_IGN);
  return Runner(o, env).Run(args);
}

}  // namespace krt::cli
