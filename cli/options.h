// The command line of krt700: global options, one command and the command's
// own options, parsed without touching the file system or the line.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace krt::cli {

// Exit statuses.
inline constexpr int kExitPassed = 0;
inline constexpr int kExitFailed = 1;  // the command ran and failed (a failed Connect too)
inline constexpr int kExitUsage = 2;   // refused before anything was sent

// The speed list's entries (index 0 to 4) and the port list's length.
inline constexpr int kPortCount = 19;

enum class Command { kNone, kIdentify, kUpdate, kErase, kNetsetup, kPorts, kVerify };

// The command's name as typed ("" for kNone).
const char* CommandName(Command command);

// One --port value: a port of the list (COM1 to COM19) or a device path.
struct PortChoice {
  std::string text;     // as given
  int port_index = -1;  // 0 for COM1 ... 18 for COM19; 0 for a device path
  std::string device;   // the device path when one was given, else ""
};

// "COM1" to "COM19" (letter case ignored) or a path with a '/' in it; nullopt
// with `error` set otherwise (COM0, COM20, "ttyUSB0", "").
std::optional<PortChoice> ParsePort(const std::string& text, std::string* error);

// The speed-list index of a bit rate (9600 ... 115200), or nullopt.
std::optional<int> SpeedIndexOf(const std::string& text);

struct Options {
  Command command = Command::kNone;
  bool help = false;  // --help: the usage of the command (or of the tool)

  std::vector<PortChoice> ports;  // every --port, in order
  std::optional<int> speed_index;
  std::string images;  // --images DIR; "" for beside the program
  bool json = false;
  bool trace = false;
  bool no_start = false;

  // erase
  bool yes = false;
  // netsetup
  std::optional<std::string> ip;
  std::optional<std::string> mask;
  std::optional<std::string> gateway;
};

struct ParseResult {
  bool ok = false;
  std::string error;  // one line naming the problem when !ok
  Options options;
};

// Parses the arguments after the program name. Options may stand before or
// after the command, as "--name value" or "--name=value"; a command's own
// options are refused with any other command.
ParseResult ParseCommandLine(const std::vector<std::string>& args);

// The --help texts: of the tool for kNone, else of the command.
std::string UsageText(Command command);

}  // namespace krt::cli
