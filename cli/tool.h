// krt700 as a whole: the command line in, the flows run through the
// command-line face of the dialog, an exit status out.
#pragma once

#include <string>
#include <vector>

#include "app/dialog_state.h"
#include "cli/cli_ui.h"
#include "cli/options.h"

namespace krt::cli {

// The status text with which a command's flow ends when it passed; every
// other final status is a failure. "" for ports, which runs no flow.
const char* PassedStatus(Command command);

// The verify command's flow: reads the newest firmware image back from the
// probe and compares it. Its status texts: "Firmware: Verifying Flash ...",
// with "( n% )", then "... passed!" or "... failed!" (with a message box
// naming the first differing address, or why the image could not be read).
// `first_difference` is set when the flash differs.
void VerifyCommand(CliUi& ui, DialogState& state, bool& differs, std::uint32_t& first_difference);

struct Environment {
  Terminal terminal;
  // The settings file ("" for defaults only).
  std::string settings_path;
  // The program to start once a port in parallel mode.
  std::string self = "/proc/self/exe";
};

// Runs krt700 with the arguments after the program name; returns the exit
// status (kExitPassed, kExitFailed, kExitUsage).
int RunTool(const std::vector<std::string>& args, const Environment& env);

}  // namespace krt::cli
