#include "firmware/update_command.h"

#include "firmware/catalogue.h"
#include "firmware/firmware_flashing.h"
#include "loader/loader.h"
#include "logic/logic_steps.h"

namespace krt {

std::string UesTextFor(VersionNumber logic_version) {
  return "B6001E7" + FormatVersionDigits(logic_version);
}

std::string LogicBaseFor(const std::string& serial_number) {
  return serial_number.size() == 10 && serial_number[9] == 'C' ? kLogicBase71 : kLogicBase70;
}

void UpdateCommand(DialogUi& ui, DialogState& state) {
  ui.BeginWaitCursor();
  bool passed = true;

  if (state.newest_firmware != state.current_firmware &&
      ProgramFirmwareImage(state.newest_firmware, ui) != rc::kOk) {
    ui.ShowMessage("Firmware update failed!", kAppTitle, MessageIcon::kNone);
    passed = false;
  }

  // The logic file's version is always the newest one found among the
  // COPJED70 files; which base name is opened depends on the probe.
  if (passed && state.newest_logic != state.current_logic) {
    const std::string file = ImageFileName(LogicBaseFor(state.serial_number), state.newest_logic);
    passed = UpdateLogic(ui, file, UesTextFor(state.newest_logic));
  }

  if (passed) {
    const ResultCode r = IdentifyLoader(state.loader_version, state.current_firmware,
                                        state.current_logic, state.serial_number);
    state.mac_address = MacAddressText(state.serial_number);
    passed = r == rc::kOk;
  }

  if (passed) {
    ui.ExchangeToControls(state);
    ui.SetStatus("Updating firmware and logic passed!");
    ui.EnableButton(CommandButton::kUpdate, UpdateButtonEnabled(state));
  } else {
    ui.SetStatus("Updating firmware and logic failed!");
    state.current_firmware = 0;
    state.current_logic = 0;
  }
  ui.SetText(TextControl::kCurrentFirmware, FormatVersion(state.current_firmware));
  ui.SetText(TextControl::kCurrentLogic, FormatVersion(state.current_logic));
  ui.EndWaitCursor();
}

}  // namespace krt
