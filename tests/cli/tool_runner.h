// Runs the built krt700 as a child process, as a user or a script would:
// arguments, a settings directory of its own, standard input /dev/null (or a
// terminal), and both outputs captured.
#pragma once

#include <string>
#include <vector>

namespace krt::test {

struct ToolRun {
  int exit_status = -1;  // 128 + signal when killed
  std::string out;
  std::string err;
  std::vector<std::string> OutLines() const;
  std::vector<std::string> ErrLines() const;
};

struct ToolSetup {
  // XDG_CONFIG_HOME for the child ("" leaves it unset, and HOME too).
  std::string config_home;
  // Standard output (and input) on a pseudo-terminal instead of a pipe.
  bool terminal = false;
  // Text typed on the terminal (with `terminal`).
  std::string typed;
  // The reader of standard output goes away at once, as `| head -0` would.
  bool close_output = false;
  int timeout_ms = 60000;
};

ToolRun RunKrt700(const std::vector<std::string>& args, const ToolSetup& setup = {});

// A settings file Tovlane.ini under `config_home`/Kelvaro with `text`.
void WriteSettings(const std::string& config_home, const std::string& text);

std::vector<std::string> SplitLines(const std::string& text);

}  // namespace krt::test
