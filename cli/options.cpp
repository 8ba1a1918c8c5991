#include "cli/options.h"

#include <array>
#include <cctype>

#include "link/link.h"

namespace krt::cli {
namespace {

struct CommandInfo {
  Command command;
  const char* name;
  const char* usage;
};

constexpr char kGlobalOptions[] =
    "Options:\n"
    "  --port P       COM1 to COM19 (mapped by the [Ports] section of the settings, as in\n"
    "                 the dialog) or a device path such as /dev/ttyUSB0; default: the\n"
    "                 stored \"ComPort\". Given more than once, the command runs on every\n"
    "                 port at once, one process a port.\n"
    "  --speed BPS    9600, 19200, 38400, 57600 or 115200; default: the stored \"Baudrate\"\n"
    "  --images DIR   where the update images lie; default: beside the program\n"
    "  --json         JSON Lines on standard output, one object a line\n"
    "  --trace        a timestamped hex dump of the line on standard error\n"
    "  --no-start     leave the loader running instead of starting the firmware\n"
    "  --help         this text (after a command: the command's text)\n";

const std::array<CommandInfo, 6> kCommands = {{
    {Command::kIdentify, "identify",
     "usage: krt700 [options] identify\n"
     "Connects to the probe loader and shows the probe's serial number, MAC address\n"
     "and its loader, firmware and logic versions beside the newest images.\n"},
    {Command::kUpdate, "update",
     "usage: krt700 [options] update\n"
     "Connects, then programs the newest firmware image and the newest logic fuse\n"
     "file, each only when its version differs from the probe's, and identifies the\n"
     "probe again.\n"},
    {Command::kErase, "erase",
     "usage: krt700 [options] erase [--yes]\n"
     "Connects, then erases the probe's logic device and its six flash sectors (the\n"
     "network setup with them) after the question \"Erase Flash and EPLD?\".\n"
     "  --yes          answer the question with Yes; without it the question is asked\n"
     "                 on the terminal, and with no terminal the command is refused\n"},
    {Command::kNetsetup, "netsetup",
     "usage: krt700 [options] netsetup [--ip A] [--mask M] [--gateway G]\n"
     "Connects, then writes the probe's network setup record and reads it back.\n"
     "  --ip A         IP address (default: the stored \"KrtIP\")\n"
     "  --mask M       subnet mask (default: the stored \"Subnet\")\n"
     "  --gateway G    default gateway (default: the stored \"Gateway\")\n"
     "Each text has at most 15 characters; the IP address must be a dotted-decimal\n"
     "address other than 255.255.255.255.\n"},
    {Command::kPorts, "ports",
     "usage: krt700 [options] ports\n"
     "Lists COM1 to COM19 with the device each is mapped to and whether that device\n"
     "exists. Sends nothing.\n"},
    {Command::kVerify, "verify",
     "usage: krt700 [options] verify\n"
     "Connects, then reads the newest firmware image's records back from the probe's\n"
     "flash and compares them byte for byte with the image (the first four bytes\n"
     "of the firmware area with the signature AA 55 55 AA). Reports the first\n"
     "differing address. Writes nothing.\n"},
}};

const CommandInfo* FindCommand(const std::string& name) {
  for (const CommandInfo& c : kCommands) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

const CommandInfo* InfoOf(Command command) {
  for (const CommandInfo& c : kCommands) {
    if (c.command == command) return &c;
  }
  return nullptr;
}

bool IsDecimal(const std::string& s) {
  if (s.empty() || s.size() > 6) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

const char* CommandName(Command command) {
  const CommandInfo* info = InfoOf(command);
  return info != nullptr ? info->name : "";
}

std::optional<PortChoice> ParsePort(const std::string& text, std::string* error) {
  auto refuse = [&](const std::string& why) -> std::optional<PortChoice> {
    if (error != nullptr) *error = why;
    return std::nullopt;
  };
  if (text.find('/') != std::string::npos) {
    return PortChoice{text, 0, text};
  }
  if (text.size() >= 4 && std::toupper(static_cast<unsigned char>(text[0])) == 'C' &&
      std::toupper(static_cast<unsigned char>(text[1])) == 'O' &&
      std::toupper(static_cast<unsigned char>(text[2])) == 'M' && IsDecimal(text.substr(3))) {
    const int number = std::stoi(text.substr(3));
    if (number < 1 || number > kPortCount) {
      return refuse("--port " + text + ": the ports are COM1 to COM19");
    }
    return PortChoice{text, number - 1, ""};
  }
  return refuse("--port '" + text + "': give COM1 to COM19 or a device path such as /dev/ttyUSB0");
}

std::optional<int> SpeedIndexOf(const std::string& text) {
  if (!IsDecimal(text)) return std::nullopt;
  const long rate = std::stol(text);
  for (std::size_t i = 0; i < kBitRates.size(); ++i) {
    if (rate == static_cast<long>(kBitRates[i])) return static_cast<int>(i);
  }
  return std::nullopt;
}

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
  ParseResult result;
  Options& o = result.options;
  auto fail = [&](const std::string& why) {
    result.ok = false;
    result.error = why;
    return result;
  };

  // The command-specific options seen, to refuse them with the wrong command.
  std::vector<std::pair<std::string, Command>> specific;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      if (arg.size() > 1 && arg[0] == '-') return fail("unknown option '" + arg + "'");
      const CommandInfo* c = FindCommand(arg);
      if (c == nullptr) {
        if (o.command == Command::kNone) return fail("unknown command '" + arg + "'");
        return fail("unexpected argument '" + arg + "'");
      }
      if (o.command != Command::kNone) {
        return fail(std::string("only one command: '") + CommandName(o.command) + "' and '" + arg +
                    "'");
      }
      o.command = c->command;
      continue;
    }

    std::string name = arg;
    std::optional<std::string> inline_value;
    if (const std::size_t eq = arg.find('='); eq != std::string::npos) {
      name = arg.substr(0, eq);
      inline_value = arg.substr(eq + 1);
    }
    auto value = [&](std::string& out) -> bool {
      if (inline_value) {
        out = *inline_value;
        return true;
      }
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    auto flag = [&](bool& out) -> bool {
      if (inline_value) return false;
      out = true;
      return true;
    };

    std::string v;
    if (name == "--help") {
      if (!flag(o.help)) return fail("--help takes no value");
    } else if (name == "--json") {
      if (!flag(o.json)) return fail("--json takes no value");
    } else if (name == "--trace") {
      if (!flag(o.trace)) return fail("--trace takes no value");
    } else if (name == "--no-start") {
      if (!flag(o.no_start)) return fail("--no-start takes no value");
    } else if (name == "--yes") {
      if (!flag(o.yes)) return fail("--yes takes no value");
      specific.emplace_back(name, Command::kErase);
    } else if (name == "--port") {
      if (!value(v)) return fail("--port needs a value");
      std::string why;
      const std::optional<PortChoice> port = ParsePort(v, &why);
      if (!port) return fail(why);
      o.ports.push_back(*port);
    } else if (name == "--speed") {
      if (!value(v)) return fail("--speed needs a value");
      o.speed_index = SpeedIndexOf(v);
      if (!o.speed_index) {
        return fail("--speed " + v + ": the speeds are 9600, 19200, 38400, 57600 and 115200");
      }
    } else if (name == "--images") {
      if (!value(v)) return fail("--images needs a value");
      if (v.empty()) return fail("--images needs a directory");
      o.images = v;
    } else if (name == "--ip" || name == "--mask" || name == "--gateway") {
      if (!value(v)) return fail(name + " needs a value");
      (name == "--ip" ? o.ip : name == "--mask" ? o.mask : o.gateway) = v;
      specific.emplace_back(name, Command::kNetsetup);
    } else {
      return fail("unknown option '" + name + "'");
    }
  }

  if (o.help) {
    result.ok = true;
    return result;
  }
  if (o.command == Command::kNone) return fail("no command given (see --help)");
  for (const auto& [option, command] : specific) {
    if (command != o.command) {
      return fail(option + " is an option of " + CommandName(command) + ", not of " +
                  CommandName(o.command));
    }
  }
  result.ok = true;
  return result;
}

std::string UsageText(Command command) {
  if (const CommandInfo* info = InfoOf(command); info != nullptr) {
    return std::string(info->usage) + "\n" + kGlobalOptions;
  }
  std::string text =
      "usage: krt700 [options] COMMAND [command options]\n"
      "Brings a KRT700 probe up to date over its serial line while the probe runs its\n"
      "loader. Each command connects first and, at its end, starts the probe firmware\n"
      "and closes the line.\n"
      "\n"
      "Commands:\n"
      "  identify       connect and show the probe's versions\n"
      "  update         program the newest firmware and logic images\n"
      "  erase          erase the flash and the logic device\n"
      "  netsetup       write the IP address, subnet mask and gateway\n"
      "  verify         compare the probe's flash with the newest firmware image\n"
      "  ports          list the ports and their devices\n"
      "\n";
  text += kGlobalOptions;
  text +=
      "\n"
      "Exit status: 0 passed, 1 failed, 2 usage error (nothing was sent).\n"
      "krt700 COMMAND --help shows a command's own options.\n";
  return text;
}

}  // namespace krt::cli
