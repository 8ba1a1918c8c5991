// The Erase command: after the user confirms, erases the probe's logic device
// and its six flash sectors, so that Update programs both afresh.
#pragma once

#include "app/dialog_ui.h"

namespace krt {

void EraseCommand(DialogUi& ui, DialogState& state);

}  // namespace krt
