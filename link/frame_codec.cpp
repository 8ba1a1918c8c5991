#include "link/frame_codec.h"

#include <array>
#include <vector>

#include "link/link_tap.h"

namespace krt {

std::size_t EncodeFrame(const std::uint8_t* data, std::size_t size, std::uint8_t* out) {
  std::size_t n = 0;
  out[n++] = kDle;
  out[n++] = kStx;
  std::uint8_t check = 0;
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint8_t b = data[i];
    out[n++] = b;
    if (b == kDle) out[n++] = kDle;
    check ^= b;
  }
  out[n++] = kDle;
  out[n++] = kEtx;
  out[n++] = check;
  if (check == kDle) out[n++] = kDle;
  return n;
}

FrameDecoder::Step FrameDecoder::Store(std::uint8_t byte) {
  if (size_ >= capacity_) {
    state_ = State::kHunt;
    return Step::kTooLong;
  }
  buffer_[size_++] = byte;
  check_ ^= byte;
  state_ = State::kData;
  return Step::kMore;
}

FrameDecoder::Step FrameDecoder::Finish(std::uint8_t check) {
  state_ = State::kHunt;
  return check == check_ ? Step::kFrame : Step::kBadCheck;
}

FrameDecoder::Step FrameDecoder::Push(std::uint8_t byte) {
  switch (state_) {
    case State::kHunt:
      if (byte == kDle) state_ = State::kHuntDle;
      return Step::kMore;
    case State::kHuntDle:
      if (byte == kStx) {
        state_ = State::kData;
        size_ = 0;
        check_ = 0;
      } else {
        state_ = State::kHunt;  // this byte is passed over too, DLE or not
      }
      return Step::kMore;
    case State::kData:
      if (byte == kDle) {
        state_ = State::kDataDle;
        return Step::kMore;
      }
      return Store(byte);
    case State::kDataDle:
      if (byte == kEtx) {
        state_ = State::kCheck;
        return Step::kMore;
      }
      if (byte == kDle) return Store(byte);
      state_ = State::kHunt;
      return Step::kBadEscape;
    case State::kCheck:
      if (byte == kDle) {
        state_ = State::kCheckDle;
        return Step::kMore;
      }
      return Finish(byte);
    case State::kCheckDle:
      if (byte == kDle) return Finish(kDle);
      state_ = State::kHunt;
      return Step::kBadEscape;
  }
  return Step::kMore;
}

ResultCode SendFrame(const std::uint8_t* data, std::size_t size, SerialPort& port) {
  detail::Tap(TapEvent::kFrameSent, data, size);
  constexpr std::size_t kStackData = 1500;
  if (size <= kStackData) {
    std::array<std::uint8_t, MaxFrameSize(kStackData)> frame;
    return WriteBytes(port, frame.data(), EncodeFrame(data, size, frame.data()));
  }
  std::vector<std::uint8_t> frame(MaxFrameSize(size));
  return WriteBytes(port, frame.data(), EncodeFrame(data, size, frame.data()));
}

ResultCode ReceiveFrame(SerialPort& port, int capacity, std::uint8_t* buffer,
                        std::uint32_t deadline_ms) {
  FrameDecoder decoder(buffer, capacity > 0 ? static_cast<std::size_t>(capacity) : 0);
  for (;;) {
    std::uint8_t byte = 0;
    // A time-out ends the call in every phase. So does a device that has gone:
    // while hunting it would fail every read at once and the hunt would never
    // end.
    const ResultCode r = ReadByte(port, byte, deadline_ms);
    if (r != rc::kOk) {
      detail::Tap(TapEvent::kReceiveFailed, nullptr, 0, r);
      return r;
    }
    ResultCode result = rc::kOk;
    switch (decoder.Push(byte)) {
      case FrameDecoder::Step::kMore:
        continue;
      case FrameDecoder::Step::kFrame:
        detail::Tap(TapEvent::kFrameReceived, buffer, decoder.Size());
        return static_cast<ResultCode>(decoder.Size());
      case FrameDecoder::Step::kBadEscape:
        result = rc::kBadEscape;
        break;
      case FrameDecoder::Step::kBadCheck:
        result = rc::kBadCheck;
        break;
      case FrameDecoder::Step::kTooLong:
        result = rc::kFrameTooLong;
        break;
    }
    detail::Tap(TapEvent::kReceiveFailed, nullptr, 0, result);
    return result;
  }
}

}  // namespace krt
