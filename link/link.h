// Link start-up, speed negotiation and the one link state of the process.
//
// Before any loader command the tool opens the serial port, finds the bit rate
// at which the probe loader listens, asks the loader to move to the rate the
// user chose and follows it there.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

#include "link/result_code.h"
#include "link/serial_port.h"

namespace krt {

// The bit rates of the speed list, index 0 to 4; also the order of the search.
inline constexpr std::array<std::uint32_t, 5> kBitRates = {9600, 19200, 38400, 57600, 115200};

inline constexpr std::size_t kLinkBufferSize = 1500;

// Exactly one per process, closed at program start. Everything on the road of
// a request (port, sequence counter, the shared request and answer buffers)
// lives here; transactions therefore run strictly one after another.
struct LinkState {
  int open = 0;
  SerialPort port;
  std::uint8_t header_flag = 0;  // 0x10 once open; the flag bits of every request header
  std::uint8_t sequence = 0;     // its two low bits go into every request header
  std::array<std::uint8_t, kLinkBufferSize> request{};
  std::array<std::uint8_t, kLinkBufferSize> answer{};
};

LinkState& TheLink();

// Bit rate for a speed-list index; indices outside 0 to 4 give 9600.
std::uint32_t BitRateForIndex(int speed_index);

// Opens the link at the port of the list index (0 names "COM1") and the rate
// of the speed index.
ResultCode LinkOpenByIndex(int port_index, int speed_index);

// Opens the link on `device` (a port name "COM<n>", mapped to its device, or a
// device path) and negotiates `wanted_rate`. 0 leaves the link open at the
// agreed rate with sequence 0; every failure leaves the port released.
// Codes: kPortOpenFailed, kNoAnswer, kLostAfterSpeedChange.
ResultCode LinkOpen(const std::string& device, std::uint32_t wanted_rate);

// The speed search on an open port; used by LinkOpen.
ResultCode NegotiateSpeed(SerialPort& port, std::uint32_t wanted_rate);

// Closes the link if it is open; harmless otherwise.
void LinkClose();

// Port names and the devices behind them. Index i of the port list is named
// "COM{i+1}". COM<n> maps to /dev/ttyS<n-1> unless the application set another
// device for it (the settings file's [Ports] section, such as COM1 =
// /dev/ttyUSB0). A name that is not "COM" and a number is taken as a path.
std::string PortName(int port_index);
std::string DeviceForPort(const std::string& name);
void SetPortDevice(int com_number, const std::string& device);
void ClearPortDevices();
const std::map<int, std::string>& PortDevices();

}  // namespace krt
