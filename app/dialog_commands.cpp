#include "app/dialog_commands.h"

#include "firmware/catalogue.h"
#include "link/link.h"
#include "loader/loader.h"

namespace krt {
namespace {

void ShowIdentification(DialogUi& ui, const DialogState& s) {
  ui.SetText(TextControl::kLoaderVersion, FormatVersion(s.loader_version));
  ui.SetText(TextControl::kCurrentFirmware, FormatVersion(s.current_firmware));
  ui.SetText(TextControl::kCurrentLogic, FormatVersion(s.current_logic));
}

ResultCode Identify(DialogState& s) {
  const ResultCode r =
      IdentifyLoader(s.loader_version, s.current_firmware, s.current_logic, s.serial_number);
  s.mac_address = MacAddressText(s.serial_number);
  return r;
}

}  // namespace

void OpenDialog(DialogUi& ui, DialogState& state) {
  ui.ExchangeToControls(state);
  ui.SetStatus("");
  state.loader_version = 0;
  state.current_firmware = 0;
  state.current_logic = 0;
  state.newest_firmware = FindNewestVersion(kFirmwareBase);
  state.newest_logic = FindNewestVersion(kLogicBase70);
  ui.SetText(TextControl::kNewestFirmware, FormatVersion(state.newest_firmware));
  ui.SetText(TextControl::kNewestLogic, FormatVersion(state.newest_logic));
  ui.EnableButton(CommandButton::kConnect, true);
  ui.EnableButton(CommandButton::kCurrent, false);
  ui.EnableButton(CommandButton::kTransmit, false);
  ui.EnableButton(CommandButton::kUpdate, false);
  ui.EnableButton(CommandButton::kErase, false);
}

void ConnectCommand(DialogUi& ui, DialogState& state) {
  if (!ui.ExchangeFromControls(state)) return;
  ui.BeginWaitCursor();
  ui.SetStatus("Connecting to KRT Loader ...");
  ResultCode r = rc::kOk;
  for (int attempt = 0; attempt < kConnectAttempts; ++attempt) {
    r = LinkOpenByIndex(state.port_index, state.speed_index);
    if (r == rc::kOk) {
      r = Identify(state);
      if (r == rc::kOk) {
        ui.ExchangeToControls(state);
        ShowIdentification(ui, state);
        break;
      }
    }
    LinkClose();
  }
  ui.EndWaitCursor();

  if (r != rc::kOk || state.loader_version == 0) {
    LinkClose();
    ui.ShowMessage(r != rc::kOk ? "Cannot connect to KRT loader!" : "There is no KRT700 connected!",
                   kAppTitle, MessageIcon::kNone);
    ui.SetStatus("Connecting to KRT loader failed!");
    return;
  }
  ui.SetStatus("Connecting to KRT Loader passed!");
  ShowIdentification(ui, state);
  ui.EnableButton(CommandButton::kConnect, false);
  ui.EnableButton(CommandButton::kCurrent, true);
  ui.EnableButton(CommandButton::kErase, true);
  ui.EnableButton(CommandButton::kTransmit, true);
  ui.EnableButton(CommandButton::kUpdate, UpdateButtonEnabled(state));
}

void CurrentCommand(DialogUi& ui, DialogState& state) {
  ui.BeginWaitCursor();
  ui.SetStatus("Reading current versions, please wait.");
  const ResultCode r = Identify(state);
  if (r == rc::kOk) {
    ui.ExchangeToControls(state);
    ShowIdentification(ui, state);
  }
  ui.EndWaitCursor();
  if (r != rc::kOk) {
    ui.ShowMessage("Communication with KRT failed!", kAppTitle, MessageIcon::kNone);
    ui.SetStatus("Reading current versions failed!");
    return;
  }
  ui.SetStatus("Reading current versions passed!");
  ui.EnableButton(CommandButton::kUpdate, UpdateButtonEnabled(state));
}

void LeaveDialog(DialogUi& ui) {
  ui.BeginWaitCursor();
  ui.SetStatus("Starting firmware please wait....");
  StartFirmware();  // with the link closed it fails at once, sending nothing
  LinkClose();
  ui.EndWaitCursor();
}

bool OkCommand(DialogUi& ui, DialogState& state) {
  LeaveDialog(ui);
  return ui.ExchangeFromControls(state);
}

void CancelCommand(DialogUi& ui) { LeaveDialog(ui); }

}  // namespace krt
