// A minimal loader on the fake line for the link's and loader commands' unit
// tests: it answers the speed probe and speed change at the rate it listens
// at, and hands requests to a test-supplied function.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "tests/support/fake_serial.h"

namespace krt::test {

class FakeLoader {
 public:
  // Given the request payload (after the header), the answer payload, or none.
  using RequestHandler = std::function<std::optional<Bytes>(const Bytes& payload)>;

  explicit FakeLoader(FakeSerialPlatform& platform, std::uint32_t listen_rate = 9600)
      : listen_rate(listen_rate), peer_(platform, [this](const Bytes& frame, std::uint32_t rate) {
          return Answer(frame, rate);
        }) {}

  std::uint32_t listen_rate;
  std::optional<std::uint32_t> answer_rate;  // names this rate instead of the one asked
  std::size_t speed_answer_size = 7;
  RequestHandler on_request = [](const Bytes&) { return std::optional<Bytes>(Bytes{}); };
  std::vector<Bytes> requests;             // request payloads, in order
  std::vector<std::uint8_t> header_bytes;  // byte 0 of each request header
  int probes = 0;
  int speed_changes = 0;

  const std::vector<Bytes>& frames() const { return peer_.frames; }

 private:
  std::vector<Bytes> Answer(const Bytes& frame, std::uint32_t rate) {
    if (rate != listen_rate || frame.size() < 2) return {};
    if ((frame[0] & 0x10) == 0) {  // link-level message
      if (frame.size() == 3 && frame[2] == 0x01) {
        ++probes;
        return {Bytes{0x00, 0x01, 0x01}};
      }
      if (frame.size() == 7 && frame[2] == 0x03) {
        ++speed_changes;
        std::uint32_t asked =
            (std::uint32_t{frame[3]} << 24) | (frame[4] << 16) | (frame[5] << 8) | frame[6];
        const std::uint32_t named = answer_rate.value_or(asked);
        Bytes answer{0x00,
                     0x05,
                     0x03,
                     static_cast<std::uint8_t>(named >> 24),
                     static_cast<std::uint8_t>(named >> 16),
                     static_cast<std::uint8_t>(named >> 8),
                     static_cast<std::uint8_t>(named)};
        answer.resize(speed_answer_size);
        listen_rate = named;
        return {answer};
      }
      return {};
    }
    Bytes payload(frame.begin() + 2, frame.end());
    requests.push_back(payload);
    header_bytes.push_back(frame[0]);
    if (auto answer = on_request(payload)) return {WithHeader(*answer)};
    return {};
  }

  ScriptedPeer peer_;
};

}  // namespace krt::test
