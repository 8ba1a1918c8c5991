// The frame receiver and the request transaction on arbitrary line input:
// the fuzz input is what the loader "answers". The first byte picks the
// receiver's capacity; the rest arrives on the line in pieces whose sizes
// come from the input too. When the bytes run out the line is silent (a
// time-out at once, on a line without a clock). Every answer must be a
// result code or a payload that fits its buffer, and the loader commands on
// top must never read past what arrived.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "link/frame_codec.h"
#include "link/link.h"
#include "link/transact.h"
#include "loader/loader.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

class FuzzLine final : public krt::SerialDevice {
 public:
  FuzzLine(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  krt::ResultCode SetBitRate(std::uint32_t rate) override {
    return rate == 0 ? krt::rc::kPortOpenFailed : krt::rc::kOk;
  }
  // A real purge drops what waits; here that would starve the transaction of
  // the input, so only the byte that says how much to drop is spent.
  void PurgeInput() override {
    if (pos_ < size_) pos_ += data_[pos_] % 4;
  }
  int ReadSome(std::uint8_t* buffer, std::size_t capacity, std::uint32_t) override {
    if (pos_ >= size_) return krt::rc::kReadTimeout;
    // Pieces of 1 to 16 bytes.
    std::size_t n = 1 + data_[pos_] % 16;
    n = std::min({n, capacity, size_ - pos_});
    std::memcpy(buffer, data_ + pos_, n);
    pos_ += n;
    return static_cast<int>(n);
  }
  krt::ResultCode Write(const std::uint8_t*, std::size_t) override { return krt::rc::kOk; }
  bool Exhausted() const { return pos_ >= size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

class NoDelay final : public krt::SerialPlatform {
 public:
  std::unique_ptr<krt::SerialDevice> Open(const std::string&) override { return nullptr; }
  void Delay(std::uint32_t) override {}
};

// An open link on the fuzz line, without the speed search.
FuzzLine* OpenOn(const std::uint8_t* data, std::size_t size) {
  krt::LinkState& link = krt::TheLink();
  auto line = std::make_unique<FuzzLine>(data, size);
  FuzzLine* raw = line.get();
  link.port.device = std::move(line);
  link.port.bit_rate = 115200;
  link.port.pending_begin = link.port.pending_end = 0;
  link.open = 1;
  link.sequence = 0;
  link.header_flag = 0x10;
  return raw;
}

void ReceiveFrames(const std::uint8_t* data, std::size_t size, int capacity) {
  krt::SerialPort port;
  port.device = std::make_unique<FuzzLine>(data, size);
  port.bit_rate = 9600;
  // One byte past the capacity is poisoned: the receiver must never write it.
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(capacity) + 1, 0xA5);
  for (int i = 0; i < 64; ++i) {
    const krt::ResultCode r = krt::ReceiveFrame(port, capacity, buffer.data(), 200);
    FUZZ_CHECK(r <= capacity);
    FUZZ_CHECK(r >= 0 || r == krt::rc::kReadTimeout || r == krt::rc::kBadEscape ||
               r == krt::rc::kBadCheck || r == krt::rc::kFrameTooLong);
    FUZZ_CHECK(buffer[static_cast<std::size_t>(capacity)] == 0xA5);
    if (r == krt::rc::kReadTimeout) break;
  }
}

void RunCommands(const std::uint8_t* data, std::size_t size) {
  FuzzLine* line = OpenOn(data, size);
  krt::VersionNumber loader = 0, firmware = 0, logic = 0;
  std::string serial;
  std::string first, second, ues;
  std::uint8_t flash[1491];
  std::uint8_t type = 0;
  std::uint32_t value = 0;
  for (int round = 0; round < 32 && !line->Exhausted(); ++round) {
    krt::ResultCode r = 0;
    switch (round % 6) {
      case 0:
        r = krt::IdentifyLoader(loader, firmware, logic, serial);
        if (r == 0) FUZZ_CHECK(serial.size() <= 10);
        break;
      case 1:
        r = krt::ReadFlash(0x01008000, 104, flash);
        break;
      case 2:
        r = krt::ReadFuseRow(static_cast<std::uint8_t>(round), first, second);
        if (r == 0) FUZZ_CHECK(first.size() == 240 && second.size() == 240);
        break;
      case 3:
        r = krt::ReadUes(ues);
        if (r == 0) FUZZ_CHECK(ues.size() == 120);
        break;
      case 4:
        r = krt::ReadLogicDeviceId(type);
        break;
      case 5:
        r = krt::ProgramFlash(0x01040000, 16, flash, value);
        break;
    }
    FUZZ_CHECK(r <= 0);
    // Raw transactions with a small answer buffer: the payload never exceeds it.
    std::uint8_t small[8];
    std::uint8_t request = 0x72;
    const krt::ResultCode t = krt::Transact(1, &request, sizeof small, small, 0);
    FUZZ_CHECK(t <= static_cast<krt::ResultCode>(sizeof small));
    FUZZ_CHECK(t >= 0 || t == krt::rc::kNoAnswer || t == krt::rc::kAnswerTooLong);
  }
  krt::LinkClose();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  static NoDelay platform;
  krt::SetSerialPlatform(&platform);
  if (size == 0) return 0;
  ReceiveFrames(bytes + 1, size - 1, bytes[0] % 8 == 0 ? 1500 : bytes[0] % 24);
  RunCommands(bytes + 1, size - 1);
  return 0;
}
