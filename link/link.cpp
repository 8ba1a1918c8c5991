#include "link/link.h"

#include <cstdio>
#include <cstdlib>

#include "link/frame_codec.h"
#include "link/transact.h"

namespace krt {
namespace {

// Link-level messages of the start-up: a header of sequence 0 with the flag
// bit clear, then the message.
constexpr std::uint8_t kSpeedProbe[] = {0x00, 0x01, 0x01};
constexpr std::uint8_t kWakeUp[] = {0xDB, 0xDE};
constexpr std::uint32_t kStartUpPauseMs = 300;
constexpr std::uint32_t kStartUpDeadlineMs = 200;

std::map<int, std::string>& PortDeviceTable() {
  static std::map<int, std::string> table;
  return table;
}

// The speed probe at the port's current rate: a 3-byte answer means the loader
// listens here.
bool ProbeAnswers(SerialPort& port, std::uint8_t* scratch) {
  return SendFrame(kSpeedProbe, sizeof kSpeedProbe, port) == rc::kOk &&
         ReceiveFrame(port, kLinkBufferSize, scratch, kStartUpDeadlineMs) == 3;
}

// One try at `rate`: set it, wake the loader, pause, probe.
bool TryRate(SerialPort& port, std::uint32_t rate, std::uint8_t* scratch) {
  bool ok = SetBitRate(port, rate) == rc::kOk;
  if (ok) ok = WriteBytes(port, kWakeUp, sizeof kWakeUp) == rc::kOk;
  Delay(kStartUpPauseMs);
  return ok && ProbeAnswers(port, scratch);
}

}  // namespace

LinkState& TheLink() {
  static LinkState link;
  return link;
}

std::uint32_t BitRateForIndex(int speed_index) {
  if (speed_index < 0 || speed_index >= static_cast<int>(kBitRates.size())) return kBitRates[0];
  return kBitRates[static_cast<std::size_t>(speed_index)];
}

std::string PortName(int port_index) {
  char name[32];
  std::snprintf(name, sizeof name, "COM%i", port_index + 1);
  return name;
}

std::string DeviceForPort(const std::string& name) {
  if (name.size() < 4 || name.compare(0, 3, "COM") != 0) return name;
  const char* digits = name.c_str() + 3;
  if (*digits == '-') ++digits;
  for (const char* p = digits; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return name;
  }
  if (*digits == '\0') return name;
  const int number = std::atoi(name.c_str() + 3);
  const auto& table = PortDeviceTable();
  if (auto it = table.find(number); it != table.end()) return it->second;
  return "/dev/ttyS" + std::to_string(number - 1);
}

void SetPortDevice(int com_number, const std::string& device) {
  PortDeviceTable()[com_number] = device;
}

void ClearPortDevices() { PortDeviceTable().clear(); }

const std::map<int, std::string>& PortDevices() { return PortDeviceTable(); }

ResultCode LinkOpenByIndex(int port_index, int speed_index) {
  return LinkOpen(PortName(port_index), BitRateForIndex(speed_index));
}

ResultCode NegotiateSpeed(SerialPort& port, std::uint32_t wanted_rate) {
  std::uint8_t* scratch = TheLink().answer.data();

  // The highest rate the port can be set to.
  const std::size_t highest = SetBitRate(port, kBitRates[4]) == rc::kOk ? 4 : 3;
  if (wanted_rate > kBitRates[highest]) wanted_rate = kBitRates[highest];

  // Already listening at the wanted rate: nothing else is sent.
  if (TryRate(port, wanted_rate, scratch)) return rc::kOk;

  bool found = false;
  for (std::size_t i = 0; i <= highest && !found; ++i) found = TryRate(port, kBitRates[i], scratch);
  if (!found) return rc::kNoAnswer;

  std::uint8_t change[7] = {0x00, 0x05, 0x03};
  PutU32(change, 3, wanted_rate);
  if (SendFrame(change, sizeof change, port) != rc::kOk ||
      ReceiveFrame(port, kLinkBufferSize, scratch, kStartUpDeadlineMs) != 7) {
    return rc::kPortOpenFailed;
  }
  Delay(kStartUpPauseMs);

  // The loader names the rate it will use; the tool follows it, even when it
  // is not the one asked for. A rate the port cannot take (0 among them)
  // fails here, so the answer deadline never divides by it.
  std::uint32_t named = 0;
  GetU32(scratch, 3, named);
  if (SetBitRate(port, named) != rc::kOk || !ProbeAnswers(port, scratch)) {
    return rc::kLostAfterSpeedChange;
  }
  return rc::kOk;
}

ResultCode LinkOpen(const std::string& device, std::uint32_t wanted_rate) {
  LinkState& link = TheLink();
  LinkClose();
  ResultCode r = OpenPort(link.port, DeviceForPort(device));
  if (r != rc::kOk) return r;
  r = NegotiateSpeed(link.port, wanted_rate);
  if (r != rc::kOk) {
    ClosePort(link.port);
    return r;
  }
  link.open = 1;
  link.sequence = 0;
  link.header_flag = 0x10;
  return rc::kOk;
}

void LinkClose() {
  LinkState& link = TheLink();
  if (link.open == 1) {
    ClosePort(link.port);
    link.open = 0;
  }
}

}  // namespace krt
