// The main dialog's state as plain data: the members the command handlers
// read and write. The controls that show them are reached through DialogUi.
#pragma once

#include <string>

#include "link/result_code.h"

namespace krt {

struct DialogState {
  // Selections of the port list (0 is COM1) and the speed list (0 is 9600);
  // -1 for no selection. Stored in the settings as they are.
  int port_index = -1;
  int speed_index = -1;

  std::string ip_address;
  std::string serial_number;
  std::string subnet_mask;
  std::string gateway;
  std::string mac_address;

  VersionNumber loader_version = 0;
  VersionNumber current_firmware = 0;
  VersionNumber current_logic = 0;
  VersionNumber newest_firmware = 0;
  VersionNumber newest_logic = 0;
};

// The MAC address text: the vendor prefix and the first six characters of the
// serial number (all of it when shorter).
inline std::string MacAddressText(const std::string& serial_number) {
  return "02A7F3" + serial_number.substr(0, 6);
}

// The Update button is enabled when the newest firmware or the newest logic
// differs from what the probe reported.
inline bool UpdateButtonEnabled(const DialogState& s) {
  return !(s.newest_firmware == s.current_firmware && s.newest_logic == s.current_logic);
}

}  // namespace krt
