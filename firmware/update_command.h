// The Update command: brings the connected probe to the newest firmware and
// logic beside the program, each only when its version differs from what the
// probe reported, firmware first, then identifies the probe again.
#pragma once

#include <string>

#include "app/dialog_ui.h"

namespace krt {

void UpdateCommand(DialogUi& ui, DialogState& state);

// The signature text written to the logic device for a logic version:
// "B6001E", '7' and the version's three digits.
std::string UesTextFor(VersionNumber logic_version);

// "COPJED71" for a 10-character serial number ending in an upper-case 'C',
// "COPJED70" for every other.
std::string LogicBaseFor(const std::string& serial_number);

}  // namespace krt
