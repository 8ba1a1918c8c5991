// Several probes at once: `--port` given more than once runs the command on
// every port in parallel, one child process a port (the link state exists once
// a process). Each child is this program again with one --port and --json,
// its standard input /dev/null and its output on pipes; the parent reads all
// of them and shows one line a device on a terminal, plain tagged lines
// elsewhere, or the children's JSON lines with "port" added, and ends with a
// summary.
#pragma once

#include <string>
#include <vector>

#include "cli/options.h"
#include "cli/tool.h"

namespace krt::cli {

// The arguments of the child for `port`: `args` without any --port and
// --json, then "--port" `port` and "--json".
std::vector<std::string> ChildArguments(const std::vector<std::string>& args,
                                        const std::string& port);

// `line` (a JSON object) with "port" as its first member; the line as it is
// when it is not an object.
std::string TagWithPort(const std::string& line, const std::string& port);

// Runs the command of `o` on every port of o.ports; kExitPassed when every
// port passed, kExitFailed when any failed, kExitUsage when two ports name the
// same device.
int RunParallel(const Options& o, const std::vector<std::string>& args, const Environment& env);

}  // namespace krt::cli
