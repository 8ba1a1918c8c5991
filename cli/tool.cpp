#include "cli/tool.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "app/dialog_commands.h"
#include "app/settings_store.h"
#include "cli/parallel.h"
#include "cli/trace.h"
#include "firmware/catalogue.h"
#include "firmware/update_command.h"
#include "firmware/verify_image.h"
#include "link/link.h"
#include "logic/erase_command.h"
#include "logic/fuse_map.h"
#include "setup/setup_record.h"

namespace krt::cli {
namespace {

constexpr char kConnectPassed[] = "Connecting to KRT Loader passed!";

struct PassedText {
  Command command;
  const char* status;
};

// Passed or failed is judged from the flow's final status text.
constexpr PassedText kPassedTexts[] = {
    {Command::kIdentify, kConnectPassed},
    {Command::kUpdate, "Updating firmware and logic passed!"},
    {Command::kErase, "Erasing Flash and EPLD passed!"},
    {Command::kNetsetup, "Writing setup data passed"},
    {Command::kVerify, "Firmware: Verifying Flash ... passed!"},
};

int UsageError(const Environment& env, const std::string& why) {
  std::fprintf(env.terminal.err, "krt700: %s\n", why.c_str());
  std::fflush(env.terminal.err);
  return kExitUsage;
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

// A face of the dialog that only takes the controls' values, to check the
// addresses before anything is sent; it keeps the message the check gave.
class CheckingUi : public ExchangingDialogUi {
 public:
  explicit CheckingUi(ControlValues values) : values_(std::move(values)) {}
  std::string message;

  void SetStatus(const std::string&) override {}
  void SetText(TextControl, const std::string&) override {}
  void ShowMessage(const std::string& text, const std::string&, MessageIcon) override {
    message = text;
  }
  bool AskYesNo(const std::string&, const std::string&, MessageIcon) override { return false; }
  void BeginWaitCursor() override {}
  void EndWaitCursor() override {}
  void EnableButton(CommandButton, bool) override {}

 protected:
  ControlValues ReadControls() override { return values_; }
  void WriteControls(const ControlValues&) override {}

 private:
  ControlValues values_;
};

// Where an address text came from, for the error line.
std::string Source(const std::optional<std::string>& option, const char* option_name,
                   const char* key) {
  return option ? std::string(option_name) : std::string("the stored \"") + key + "\"";
}

// The dialog's check of the address texts, as its Connect runs it; "" when
// they pass, else the error line.
std::string CheckAddresses(const Options& o, const DialogState& s) {
  CheckingUi check(ControlValuesOf(s));
  DialogState scratch;
  if (check.ExchangeFromControls(scratch)) return "";
  struct Field {
    const std::string& text;
    std::string source;
  };
  const Field fields[] = {
      {s.ip_address, Source(o.ip, "--ip", "KrtIP")},
      {s.subnet_mask, Source(o.mask, "--mask", "Subnet")},
      {s.gateway, Source(o.gateway, "--gateway", "Gateway")},
  };
  for (const Field& f : fields) {
    if (f.text.size() > kAddressTextLimit) {
      return f.source + " '" + f.text + "': " + check.message;
    }
  }
  return fields[0].source + " '" + s.ip_address + "': " + check.message;
}

std::uint64_t FileSize(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

std::string Hex32(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

int ListPorts(const Options& o, const Settings& settings, const Environment& env) {
  CliUi ui(o.json ? CliUi::Format::kJson : CliUi::Format::kHuman, env.terminal,
           CliUi::Answer::kAsk);
  ui.Print("PORT   DEVICE                          EXISTS  MAPPED");
  for (int index = 0; index < kPortCount; ++index) {
    const std::string name = PortName(index);
    const std::string device = DeviceForPort(name);
    const bool exists = Exists(device);
    const bool mapped = PortDevices().count(index + 1) != 0;
    const bool stored = index == settings.com_port;
    char line[256];
    std::snprintf(line, sizeof line, "%-6s %-31s %-7s %s%s", name.c_str(), device.c_str(),
                  exists ? "yes" : "no", mapped ? "yes" : "no", stored ? "  (stored port)" : "");
    ui.Print(line);
    ui.Emit(JsonObject()
                .Add("event", "port")
                .Add("name", name)
                .Add("device", device)
                .Add("exists", exists)
                .Add("mapped", mapped)
                .Add("stored", stored));
  }
  ui.Emit(JsonObject()
              .Add("event", "result")
              .Add("command", "ports")
              .Add("result", "passed")
              .Add("status", "")
              .Add("settings", env.settings_path));
  return kExitPassed;
}

}  // namespace

const char* PassedStatus(Command command) {
  for (const PassedText& p : kPassedTexts) {
    if (p.command == command) return p.status;
  }
  return "";
}

void VerifyCommand(CliUi& ui, DialogState& state, bool& differs, std::uint32_t& first_difference) {
  differs = false;
  WaitCursor wait(ui);
  ui.SetStatus("Firmware: Verifying Flash ...");
  unsigned last_percent = 0;
  bool units_set = false;
  const VerifyProgress progress = [&](std::uint64_t done, std::uint64_t total) {
    if (!units_set) {
      ui.SetProgressUnits(ProgressTask::kFirmware, static_cast<double>(total), "B");
      units_set = true;
    }
    const auto percent = static_cast<unsigned>(total == 0 ? 100 : done * 100 / total);
    if (percent == last_percent) return;
    last_percent = percent;
    char text[80];
    std::snprintf(text, sizeof text, "Firmware: Verifying Flash ... ( %u%% )", percent);
    ui.SetStatus(text);
    ui.Progress(ProgressTask::kFirmware, percent);
  };
  const ResultCode r = VerifyFirmwareImage(state.newest_firmware, first_difference, progress);
  if (r == rc::kOk) {
    ui.SetStatus("Firmware: Verifying Flash ... passed!");
    return;
  }
  if (r == rc::kReadBackDiffers) {
    differs = true;
    ui.ShowMessage("Flash differs from the firmware image at " + Hex32(first_difference) + "!",
                   kAppTitle, MessageIcon::kExclamation);
  } else if (r == rc::kImageRefused) {
    ui.ShowMessage(state.newest_firmware == 0 ? "No firmware image to verify against!"
                                              : "Cannot read the firmware image!",
                   kAppTitle, MessageIcon::kExclamation);
  } else {
    ui.ShowMessage("Communication with KRT failed!", kAppTitle, MessageIcon::kNone);
  }
  ui.SetStatus("Firmware: Verifying Flash ... failed!");
}

int RunTool(const std::vector<std::string>& args, const Environment& env) {
  const ParseResult parsed = ParseCommandLine(args);
  if (!parsed.ok) return UsageError(env, parsed.error);
  const Options& o = parsed.options;
  if (o.help) {
    std::fputs(UsageText(o.command).c_str(), env.terminal.out);
    std::fflush(env.terminal.out);
    return kExitPassed;
  }
  if (!o.images.empty() && !IsDirectory(o.images)) {
    return UsageError(env, "--images " + o.images + ": no such directory");
  }

  const Settings settings = LoadSettings(env.settings_path);
  ApplyPortMap(settings);
  if (o.command == Command::kPorts) return ListPorts(o, settings, env);

  const bool ask = o.command == Command::kErase && !o.yes;
  if (o.ports.size() > 1) {
    if (ask) return UsageError(env, "erase on several ports needs --yes");
    return RunParallel(o, args, env);
  }
  if (ask && !env.terminal.in_is_terminal) {
    return UsageError(env,
                      "erase asks \"Erase Flash and EPLD?\": give --yes, or run it on a terminal");
  }

  // The dialog's members, from the settings and the options.
  DialogState state;
  state.port_index = settings.com_port;
  state.speed_index = settings.baudrate;
  state.ip_address = o.ip.value_or(settings.krt_ip);
  state.subnet_mask = o.mask.value_or(settings.subnet);
  state.gateway = o.gateway.value_or(settings.gateway);
  if (!o.ports.empty()) {
    const PortChoice& port = o.ports.front();
    // The flows address ports by list index: a device path stands behind COM1
    // for this run.
    if (!port.device.empty()) SetPortDevice(1, port.device);
    state.port_index = port.port_index;
  }
  if (o.speed_index) state.speed_index = *o.speed_index;
  if (const std::string why = CheckAddresses(o, state); !why.empty()) return UsageError(env, why);

  if (o.trace) SetLinkTap(TraceTap(env.terminal.err));
  SetImageDirectory(o.images);

  CliUi ui(o.json ? CliUi::Format::kJson : CliUi::Format::kHuman, env.terminal,
           o.yes ? CliUi::Answer::kYes : CliUi::Answer::kAsk);
  OpenDialog(ui, state);
  ui.SetProgressUnits(
      ProgressTask::kFirmware,
      static_cast<double>(FileSize(ImageFileName(kFirmwareBase, state.newest_firmware))), "B");
  ui.SetProgressUnits(ProgressTask::kLogicProgram, kFuseRows, "rows");
  ui.SetProgressUnits(ProgressTask::kLogicVerify, kFuseRows, "rows");

  ConnectCommand(ui, state);
  const bool connected = ui.LastStatus() == kConnectPassed;
  bool differs = false;
  std::uint32_t first_difference = 0;
  if (connected) {
    switch (o.command) {
      case Command::kUpdate:
        UpdateCommand(ui, state);
        break;
      case Command::kErase:
        EraseCommand(ui, state);
        break;
      case Command::kNetsetup:
        TransmitCommand(ui, state);
        break;
      case Command::kVerify:
        VerifyCommand(ui, state, differs, first_difference);
        break;
      case Command::kIdentify:
      case Command::kPorts:
      case Command::kNone:
        break;
    }
  }
  const std::string final_status = ui.LastStatus();
  const bool passed = final_status == PassedStatus(o.command);

  if (o.no_start) {
    LinkClose();
  } else {
    LeaveDialog(ui);
  }
  SetLinkTap({});

  if (connected) {
    ui.Print("Probe:  SN " + state.serial_number + "  MAC " + state.mac_address + "  loader " +
             FormatVersion(state.loader_version) + "  firmware " +
             FormatVersion(state.current_firmware) + "  logic " +
             FormatVersion(state.current_logic));
  }
  ui.Print("Newest: firmware " + FormatVersion(state.newest_firmware) + "  logic " +
           FormatVersion(state.newest_logic));
  ui.Print(std::string(CommandName(o.command)) + (passed ? " passed" : " failed"));

  JsonObject result;
  result.Add("event", "result")
      .Add("command", CommandName(o.command))
      .Add("result", passed ? "passed" : "failed")
      .Add("status", final_status)
      .Add("probe", JsonObject()
                        .Add("serial", state.serial_number)
                        .Add("mac", state.mac_address)
                        .Add("loader", FormatVersion(state.loader_version))
                        .Add("firmware", FormatVersion(state.current_firmware))
                        .Add("logic", FormatVersion(state.current_logic)))
      .Add("newest", JsonObject()
                         .Add("firmware", FormatVersion(state.newest_firmware))
                         .Add("logic", FormatVersion(state.newest_logic)));
  if (differs) result.Add("first_difference", Hex32(first_difference));
  ui.Emit(result);
  return passed ? kExitPassed : kExitFailed;
}

}  // namespace krt::cli
