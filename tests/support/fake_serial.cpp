#include "tests/support/fake_serial.h"

#include <algorithm>

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

ScriptedPeer::ScriptedPeer(FakeSerialPlatform& platform, Handler answer)
    : platform_(platform), answer_(std::move(answer)) {
  platform_.line.on_write = [this](const Bytes& block) {
    std::uint8_t buffer[4096];
    FrameDecoder decoder(buffer, sizeof buffer);
    for (std::uint8_t b : block) {
      if (decoder.Push(b) != FrameDecoder::Step::kFrame) continue;
      Bytes data(buffer, buffer + decoder.Size());
      frames.push_back(data);
      for (const Bytes& answer : answer_(data, platform_.line.rate))
        platform_.line.Push(Frame(answer));
    }
  };
}

Bytes WithHeader(const Bytes& payload, std::uint8_t first_byte_bits) {
  Bytes out(2 + payload.size());
  out[0] = static_cast<std::uint8_t>(first_byte_bits | ((payload.size() >> 8) & 0x07));
  out[1] = static_cast<std::uint8_t>(payload.size() & 0xFF);
  std::copy(payload.begin(), payload.end(), out.begin() + 2);
  return out;
}

}  // namespace krt::test
