// The per-user settings: the last port, speed and network addresses, in a
// small INI file, $XDG_CONFIG_HOME/Kelvaro/Tovlane.ini (~/.config by
// default), section [KRT700 PPC6xx/7xx]. A section [Ports] of the same file
// maps port names to devices (COM1=/dev/ttyUSB0) for the link.
//
// Reading never fails: a missing file, section or key, an unreadable file or a
// value that is no number gives the default of that value. Writing replaces
// the five values and keeps everything else the file holds (other sections,
// other keys, the port mapping); it writes a temporary file and renames it
// over the old one, so a crash never leaves half a file. A file that cannot
// be written is skipped without a word, as the dialog expects.
#pragma once

#include <map>
#include <string>

namespace krt {

inline constexpr char kMakerKey[] = "Kelvaro";
inline constexpr char kSettingsSection[] = "KRT700 PPC6xx/7xx";
inline constexpr char kPortsSection[] = "Ports";

struct Settings {
  int baudrate = 0;                         // "Baudrate": index into the speed list, not a bit rate
  int com_port = 0;                         // "ComPort": index into the port list, 0 is COM1
  std::string krt_ip = "111.111.111.111";   // "KrtIP"
  std::string subnet = "255.255.255.0";     // "Subnet"
  std::string gateway = "255.255.255.255";  // "Gateway"
  // [Ports]: COM number to device path.
  std::map<int, std::string> ports;
};

// The settings file of this user ("" when neither XDG_CONFIG_HOME nor HOME
// names a directory).
std::string SettingsFilePath();

Settings LoadSettings(const std::string& path);

// Writes the five values into the file at `path`; false when it could not be
// written (nothing is changed then).
bool SaveSettings(const std::string& path, const Settings& settings);

// Hands the [Ports] mapping to the link.
void ApplyPortMap(const Settings& settings);

}  // namespace krt
