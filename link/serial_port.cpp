#include "link/serial_port.h"

#include "link/link_tap.h"

namespace krt {

namespace detail {
LinkTap g_link_tap;
}  // namespace detail

void SetLinkTap(LinkTap tap) { detail::g_link_tap = std::move(tap); }

namespace {
SerialPlatform* g_platform = nullptr;
}  // namespace

void SetSerialPlatform(SerialPlatform* platform) { g_platform = platform; }

SerialPlatform& CurrentSerialPlatform() {
  return g_platform != nullptr ? *g_platform : PosixSerialPlatform();
}

ResultCode OpenPort(SerialPort& port, const std::string& name) {
  ClosePort(port);
  port.device = CurrentSerialPlatform().Open(name);
  if (!port.device) return rc::kPortOpenFailed;
  port.bit_rate = 9600;
  return rc::kOk;
}

ResultCode SetBitRate(SerialPort& port, std::uint32_t rate) {
  if (!port.device || rate == 0) return rc::kPortOpenFailed;
  const ResultCode r = port.device->SetBitRate(rate);
  if (r != rc::kOk) return rc::kPortOpenFailed;
  port.bit_rate = rate;
  return rc::kOk;
}

void PurgeInput(SerialPort& port) {
  if (!port.device) return;
  port.device->PurgeInput();
  const std::size_t dropped = port.pending_end - port.pending_begin;
  port.pending_begin = port.pending_end = 0;
  detail::Tap(TapEvent::kInputPurged, nullptr, dropped);
}

ResultCode ReadByte(SerialPort& port, std::uint8_t& byte, std::uint32_t deadline_ms) {
  if (port.pending_begin == port.pending_end) {
    if (!port.device) return rc::kDeviceGone;
    const int got = port.device->ReadSome(port.pending.data(), port.pending.size(), deadline_ms);
    if (got <= 0) return got < 0 ? got : rc::kReadTimeout;
    port.pending_begin = 0;
    port.pending_end = static_cast<std::size_t>(got);
    detail::Tap(TapEvent::kRawRead, port.pending.data(), port.pending_end);
  }
  byte = port.pending[port.pending_begin++];
  return rc::kOk;
}

ResultCode WriteBytes(SerialPort& port, const std::uint8_t* data, std::size_t count) {
  if (!port.device) return rc::kWriteFailed;
  detail::Tap(TapEvent::kRawWritten, data, count);
  return port.device->Write(data, count) == rc::kOk ? rc::kOk : rc::kWriteFailed;
}

void ClosePort(SerialPort& port) {
  port.device.reset();
  port.pending_begin = port.pending_end = 0;
}

void Delay(std::uint32_t ms) { CurrentSerialPlatform().Delay(ms); }

}  // namespace krt
