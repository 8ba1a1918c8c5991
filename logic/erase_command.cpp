#include "logic/erase_command.h"

#include "loader/loader.h"
#include "logic/logic_steps.h"

namespace krt {

void EraseCommand(DialogUi& ui, DialogState& state) {
  if (!ui.AskYesNo("Erase Flash and EPLD?", kAppTitle, MessageIcon::kQuestion)) return;
  ui.BeginWaitCursor();
  ui.SetStatus("Erasing Flash and EPLD ...");

  const bool logic_passed = LogicAccessOn(ui) && CheckLogicDeviceType(ui) && EraseLogicDevice(ui);
  LogicAccessOff(ui);
  state.current_logic = 0;

  // The flash is erased whatever became of the logic device.
  ui.SetStatus("Erasing all flash sectors ...");
  const ResultCode flash = EraseAllSectors();
  state.current_firmware = 0;

  if (flash == rc::kOk && logic_passed) {
    ui.ExchangeToControls(state);
    ui.SetStatus("Erasing Flash and EPLD passed!");
    ui.EnableButton(CommandButton::kUpdate, true);
  } else {
    ui.SetStatus("Erasing Flash and EPLD failed!");
  }
  // Written as it stands, not through the version formatting.
  ui.SetText(TextControl::kCurrentFirmware, "unkown");
  ui.SetText(TextControl::kCurrentLogic, "unkown");
  ui.EndWaitCursor();
}

}  // namespace krt
