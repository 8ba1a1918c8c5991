// The frame codec. Every message between the tool and the probe loader is one
// frame on the line:
//
//   DLE STX, the data with every DLE doubled, DLE ETX, the XOR of the data
//   (0x00 for no data; doubled when it is DLE itself)
//
// There is no length field: the data ends at DLE ETX. A frame for n data bytes
// is at most 2n + 6 bytes long.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/result_code.h"
#include "link/serial_port.h"

namespace krt {

inline constexpr std::uint8_t kDle = 0x10;
inline constexpr std::uint8_t kStx = 0x02;
inline constexpr std::uint8_t kEtx = 0x03;

constexpr std::size_t MaxFrameSize(std::size_t data_size) { return 2 * data_size + 6; }

// Writes the frame for `size` data bytes into `out`, which must hold
// MaxFrameSize(size) bytes; returns the frame's length.
std::size_t EncodeFrame(const std::uint8_t* data, std::size_t size, std::uint8_t* out);

// The receiving half as a pure push machine: bytes in, a frame or an error out.
// It hunts for DLE STX, passing over everything before it (a DLE followed by
// anything but STX is passed over together with that byte), then unescapes the
// data into the caller's buffer and checks the check byte. After a frame or an
// error the next byte starts a new hunt.
class FrameDecoder {
 public:
  enum class Step {
    kMore,       // give me the next byte
    kFrame,      // a whole, checked frame of size() bytes is in the buffer
    kBadEscape,  // DLE followed by neither DLE nor ETX inside the frame
    kBadCheck,   // the check byte differs from the XOR of the data
    kTooLong,    // one data byte more than the capacity
  };

  FrameDecoder(std::uint8_t* buffer, std::size_t capacity) : buffer_(buffer), capacity_(capacity) {}

  Step Push(std::uint8_t byte);

  // True while no DLE STX has been seen yet.
  bool Hunting() const { return state_ == State::kHunt || state_ == State::kHuntDle; }
  std::size_t Size() const { return size_; }

 private:
  enum class State { kHunt, kHuntDle, kData, kDataDle, kCheck, kCheckDle };
  Step Store(std::uint8_t byte);
  Step Finish(std::uint8_t check);

  std::uint8_t* buffer_;
  std::size_t capacity_;
  State state_ = State::kHunt;
  std::size_t size_ = 0;
  std::uint8_t check_ = 0;
};

// Builds the frame for `size` data bytes and writes it with one WriteBytes
// call: 0 or kWriteFailed. A block of any size is framed without overrunning
// anything (frames of up to 3006 bytes are built on the stack).
ResultCode SendFrame(const std::uint8_t* data, std::size_t size, SerialPort& port);

// Reads one frame, byte by byte, each byte under `deadline_ms`. Returns the
// number of data bytes stored into `buffer` (0 or more), or kReadTimeout,
// kDeviceGone, kBadEscape, kBadCheck, kFrameTooLong. On a failure the buffer's
// contents are undefined. The rest of a bad frame stays on the line; the next
// call's hunt skips it.
ResultCode ReceiveFrame(SerialPort& port, int capacity, std::uint8_t* buffer,
                        std::uint32_t deadline_ms);

}  // namespace krt
