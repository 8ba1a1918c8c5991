#include "link/transact.h"

#include <array>
#include <cstring>

#include "link/frame_codec.h"
#include "link/link.h"

namespace krt {
namespace {
constexpr int kAttempts = 3;

// A loader that was only slow, not deaf, answers every copy of a request it
// was sent: the copy that timed out and the one sent again. The answer taken
// may be the late one, and the other then arrives after the next request has
// gone out. The input is emptied before each send, but an answer that is
// still on its way cannot be emptied, and since answer headers carry no
// sequence number the tool looks at (loaders need not echo it), it would be
// taken for the next request's answer and every answer after it would be one
// behind. So after an answer that followed a time-out, the frames still due
// are awaited under the same deadline and dropped; silence ends the wait.
void DropLateAnswers(SerialPort& port, int count, std::uint32_t deadline, std::uint8_t* scratch) {
  for (int i = 0; i < count; ++i) {
    const ResultCode r = ReceiveFrame(port, static_cast<int>(kLinkBufferSize), scratch, deadline);
    if (r == rc::kReadTimeout || r == rc::kDeviceGone) return;
  }
}

}  // namespace

std::uint8_t* RequestBuffer() { return TheLink().request.data(); }
std::uint8_t* AnswerBuffer() { return TheLink().answer.data(); }

std::uint32_t AnswerDeadlineMs(int request_size, std::uint32_t bit_rate, std::uint32_t extra_ms) {
  // The request with its header and a full 1500-byte answer, 10 bits a byte.
  const std::uint32_t bytes = static_cast<std::uint32_t>(request_size) + 1502u;
  return (bytes * 10000u) / bit_rate + extra_ms + 200u;
}

ResultCode Transact(int size, const std::uint8_t* request, int capacity, std::uint8_t* answer,
                    std::uint32_t extra_ms) {
  LinkState& link = TheLink();
  if (link.open == 0) return rc::kLinkNotOpen;
  if (static_cast<unsigned>(size) > static_cast<unsigned>(kMaxPayload)) return rc::kRequestTooLong;

  std::array<std::uint8_t, kLinkBufferSize> message;
  message[0] = static_cast<std::uint8_t>(((link.sequence & 0x03u) << 6) | link.header_flag |
                                         ((static_cast<unsigned>(size) >> 8) & 0x07u));
  message[1] = static_cast<std::uint8_t>(size & 0xFF);
  ++link.sequence;  // once per transaction: every attempt carries the same number
  if (size > 0) std::memmove(message.data() + 2, request, static_cast<std::size_t>(size));

  std::array<std::uint8_t, kLinkBufferSize> frame;
  int timed_out = 0;  // attempts whose answer may still be on its way
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    PurgeInput(link.port);  // a late answer to an earlier attempt is not this one's
    if (SendFrame(message.data(), static_cast<std::size_t>(size) + 2, link.port) != rc::kOk) {
      continue;
    }
    const std::uint32_t deadline = AnswerDeadlineMs(size, link.port.bit_rate, extra_ms);
    const ResultCode received =
        ReceiveFrame(link.port, static_cast<int>(frame.size()), frame.data(), deadline);
    if (received == rc::kReadTimeout) ++timed_out;
    if (received <= 0) continue;
    if (received < 2) continue;  // no room for the header
    const int length = ((frame[0] & 0x07) << 8) | frame[1];
    if (received - 2 != length) continue;
    if (length > capacity) return rc::kAnswerTooLong;
    if (length > 0) std::memmove(answer, frame.data() + 2, static_cast<std::size_t>(length));
    if (timed_out > 0) DropLateAnswers(link.port, timed_out, deadline, frame.data());
    return length;
  }
  return rc::kNoAnswer;
}

std::size_t PutByte(std::uint8_t* buffer, std::size_t pos, std::uint8_t value) {
  buffer[pos] = value;
  return pos + 1;
}

std::size_t PutU16(std::uint8_t* buffer, std::size_t pos, std::uint16_t value) {
  buffer[pos] = static_cast<std::uint8_t>(value >> 8);
  buffer[pos + 1] = static_cast<std::uint8_t>(value);
  return pos + 2;
}

std::size_t PutU32(std::uint8_t* buffer, std::size_t pos, std::uint32_t value) {
  pos = PutU16(buffer, pos, static_cast<std::uint16_t>(value >> 16));
  return PutU16(buffer, pos, static_cast<std::uint16_t>(value));
}

std::size_t GetByte(const std::uint8_t* buffer, std::size_t pos, std::uint8_t& value) {
  value = buffer[pos];
  return pos + 1;
}

std::size_t GetU16(const std::uint8_t* buffer, std::size_t pos, std::uint16_t& value) {
  value = static_cast<std::uint16_t>((buffer[pos] << 8) | buffer[pos + 1]);
  return pos + 2;
}

std::size_t GetU32(const std::uint8_t* buffer, std::size_t pos, std::uint32_t& value) {
  std::uint16_t high = 0;
  std::uint16_t low = 0;
  pos = GetU16(buffer, pos, high);
  pos = GetU16(buffer, pos, low);
  value = (static_cast<std::uint32_t>(high) << 16) | low;
  return pos;
}

}  // namespace krt
