// A fake serial platform for byte-level tests of the link: it records every
// write, purge, rate change and pause, delivers scripted bytes, and lets time
// pass on a virtual clock, so time-outs cost nothing.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "link/serial_port.h"

namespace krt::test {

using Bytes = std::vector<std::uint8_t>;

struct FakeLine {
  // Bytes waiting to be read.
  std::deque<std::uint8_t> incoming;
  // Called with each block written; may append to `incoming` (a scripted peer).
  std::function<void(const Bytes&)> on_write;
  // Everything written, one entry a WriteBytes call.
  std::vector<Bytes> writes;
  std::vector<std::uint32_t> rates;       // every rate set, in order
  std::set<std::uint32_t> refused_rates;  // rates SetBitRate refuses
  int purges = 0;
  std::vector<std::uint32_t> delays;
  std::uint64_t now_ms = 0;  // the virtual clock
  bool gone = false;         // the device has gone: reads fail at once
  bool fail_writes = false;
  std::uint32_t rate = 9600;
  // Bytes handed out by one ReadSome, at most (1 reads byte by byte).
  std::size_t read_chunk = 64;

  void Push(const Bytes& bytes) { incoming.insert(incoming.end(), bytes.begin(), bytes.end()); }
};

class FakeSerialPlatform : public SerialPlatform {
 public:
  FakeSerialPlatform();
  ~FakeSerialPlatform() override;

  std::unique_ptr<SerialDevice> Open(const std::string& path) override;
  void Delay(std::uint32_t ms) override;

  FakeLine line;
  std::vector<std::string> opened;  // paths asked for
  bool refuse_open = false;
};

// Frames `data` as the loader would send it.
Bytes Frame(const Bytes& data);

// A scripted peer on a fake line: every frame written is decoded and handed
// to `answer` with the line's current rate; the frames it returns are queued
// as the peer's answer. Raw bytes outside frames (wake-up bytes) are ignored.
class ScriptedPeer {
 public:
  using Handler = std::function<std::vector<Bytes>(const Bytes& frame_data, std::uint32_t rate)>;
  ScriptedPeer(FakeSerialPlatform& platform, Handler answer);

  std::vector<Bytes> frames;  // every frame received, in order

 private:
  FakeSerialPlatform& platform_;
  Handler answer_;
};

// The request header of an answer of `payload.size()` bytes, then the payload.
Bytes WithHeader(const Bytes& payload, std::uint8_t first_byte_bits = 0x10);

}  // namespace krt::test
