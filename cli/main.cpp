// krt700: the command-line face of KRT700 Update/Setup.
#include <unistd.h>

#include <string>
#include <vector>

#include "app/settings_store.h"
#include "cli/tool.h"

int main(int argc, char** argv) {
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
