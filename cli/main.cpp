// krt700: the command-line face of KRT700 Update/Setup.
#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/settings_store.h"
#include "cli/tool.h"

int main(int argc, char** argv) {
  // A reader that goes away (`krt700 --json update | head -1`) must not kill
  // the tool in the middle of programming the flash: the writes fail quietly
  // and the flow runs to its end, leaving the probe as it should.
  signal(SIGPIPE, SIG_IGN);
  krt::cli::Environment env;
  env.terminal.out = stdout;
  env.terminal.err = stderr;
  env.terminal.in = stdin;
  env.terminal.out_is_terminal = isatty(STDOUT_FILENO) == 1;
  env.terminal.in_is_terminal = isatty(STDIN_FILENO) == 1;
  env.settings_path = krt::SettingsFilePath();
  const std::vector<std::string> args(argv + 1, argv + argc);
  return krt::cli::RunTool(args, env);
}
