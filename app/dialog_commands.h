// The main dialog's own handlers: opening, Connect, Current, OK and Cancel.
// Update, Erase and Transmit live with their subsystems (firmware/, logic/,
// setup/); all of them run against the DialogUi seam.
#pragma once

#include "app/dialog_ui.h"

namespace krt {

// Connect tries this many times to open the link and identify the probe.
inline constexpr int kConnectAttempts = 10;

// What the dialog does when it opens (after the framework has shown the
// members in the controls): empty status, versions reset, the newest image
// versions looked up, only Connect of the command buttons enabled.
void OpenDialog(DialogUi& ui, DialogState& state);

void ConnectCommand(DialogUi& ui, DialogState& state);
void CurrentCommand(DialogUi& ui, DialogState& state);

// Leaving: start the probe firmware, close the link. OK then takes the
// controls' values with validation; true when the dialog may end with OK.
bool OkCommand(DialogUi& ui, DialogState& state);
void CancelCommand(DialogUi& ui);

// Starts the probe firmware and closes the link, under the wait cursor, as
// both ways of leaving do.
void LeaveDialog(DialogUi& ui);

}  // namespace krt
