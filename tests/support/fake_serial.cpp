#include "tests/support/fake_serial.h"

#include "link/frame_codec.h"

namespace krt::test {
namespace {

class FakeDevice final : public SerialDevice {
 public:
  explicit FakeDevice(FakeLine& line) : line_(line) {}

  ResultCode SetBitRate(std::uint32_t rate) override {
    if (rate == 0 || line_.refused_rates.count(rate) != 0) return rc::kPortOpenFailed;
    line_.rate = rate;
    line_.rates.push_back(rate);
    return rc::kOk;
  }

  void PurgeInput() override {
    line_.incoming.clear();
    ++line_.purges;
  }

  int ReadSome(std::uint8_t* buffer, std::size_t capacity, std::uint32_t deadline_ms) override {
    if (line_.gone) return rc::kDeviceGone;
    if (line_.incoming.empty()) {
      line_.now_ms += deadline_ms + 1;
      return rc::kReadTimeout;
    }
    std::size_t n = 0;
    const std::size_t limit = std::min(capacity, line_.read_chunk);
    while (n < limit && !line_.incoming.empty()) {
      buffer[n++] = line_.incoming.front();
      line_.incoming.pop_front();
    }
    return static_cast<int>(n);
  }

  ResultCode Write(const std::uint8_t* data, std::size_t count) override {
    if (line_.fail_writes) return rc::kWriteFailed;
    Bytes block(data, data + count);
    line_.writes.push_back(block);
    if (line_.on_write) line_.on_write(block);
    return rc::kOk;
  }

 private:
  FakeLine& line_;
};

}  // namespace

FakeSerialPlatform::FakeSerialPlatform() { SetSerialPlatform(this); }
FakeSerialPlatform::~FakeSerialPlatform() { SetSerialPlatform(nullptr); }

std::unique_ptr<SerialDevice> FakeSerialPlatform::Open(const std::string& path) {
  opened.push_back(path);
  if (refuse_open) return nullptr;
  line.rate = 9600;
  return std::make_unique<FakeDevice>(line);
}

void FakeSerialPlatform::Delay(std::uint32_t ms) {
  line.delays.push_back(ms);
  line.now_ms += ms;
}

Bytes Frame(const Bytes& data) {
  Bytes out(MaxFrameSize(data.size()));
  out.resize(EncodeFrame(data.data(), data.size(), out.data()));
  return out;
}

}  // namespace krt::test
