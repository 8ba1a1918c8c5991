// The serial port: one serial device opened by name, set to the loader's line
// format, read one byte at a time under a millisecond deadline and written a
// block at a time. It knows nothing of frames or requests.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "link/result_code.h"

namespace krt {

// One open serial device of the platform, already set to the line format
// (raw, 8N1, no flow control, DTR and RTS inactive, 9600 bit/s).
class SerialDevice {
 public:
  virtual ~SerialDevice() = default;

  // Changes the bit rate and nothing else. 0, or kPortOpenFailed when the rate
  // cannot be set (0 and rates the platform has no setting for included).
  virtual ResultCode SetBitRate(std::uint32_t rate) = 0;

  // Discards every byte received but not read yet. Output is not touched.
  virtual void PurgeInput() = 0;

  // Reads what has arrived, at most `capacity` (> 0) bytes. Bytes already
  // waiting are returned at once, whatever the deadline (also 0); otherwise it
  // waits until a byte arrives or strictly more than `deadline_ms` have passed
  // on the monotonic clock. Returns the number of bytes read (> 0),
  // kReadTimeout, or kDeviceGone when the device has gone away (hung up,
  // unplugged): then it returns at once, without waiting for the deadline.
  virtual int ReadSome(std::uint8_t* buffer, std::size_t capacity, std::uint32_t deadline_ms) = 0;

  // Writes the whole block; it must be done within 10 ms a byte plus 100 ms.
  // 0, or kWriteFailed for an error, a short write or a write past that time.
  virtual ResultCode Write(const std::uint8_t* data, std::size_t count) = 0;
};

// What the link needs of the platform: opening a device and a blocking wait.
class SerialPlatform {
 public:
  virtual ~SerialPlatform() = default;

  // Opens the device at `path` exclusively and sets the line format; nullptr
  // when it cannot be opened or configured (nothing is left open then).
  virtual std::unique_ptr<SerialDevice> Open(const std::string& path) = 0;

  // Blocking wait of at least `ms` milliseconds.
  virtual void Delay(std::uint32_t ms) = 0;
};

// The POSIX termios platform, the default.
SerialPlatform& PosixSerialPlatform();

// Replaces the platform (tests install fakes); nullptr restores POSIX.
void SetSerialPlatform(SerialPlatform* platform);
SerialPlatform& CurrentSerialPlatform();

// The serial port of the link: the open device and the bit rate last set.
// Bytes that one platform read delivered beyond the one asked for wait in
// `pending`, so that a frame costs a few system calls instead of one a byte;
// PurgeInput drops them together with the driver's queue.
struct SerialPort {
  std::unique_ptr<SerialDevice> device;
  std::uint32_t bit_rate = 0;
  std::array<std::uint8_t, 4096> pending{};
  std::size_t pending_begin = 0;
  std::size_t pending_end = 0;
};

// Opens the named device and sets the line format at 9600 bit/s.
// 0 or kPortOpenFailed (nothing is left open then).
ResultCode OpenPort(SerialPort& port, const std::string& name);

// Changes the bit rate of the open device. 0 or kPortOpenFailed; a refused
// rate leaves the recorded rate unchanged, so the deadline arithmetic never
// sees a rate of 0.
ResultCode SetBitRate(SerialPort& port, std::uint32_t rate);

// Discards every byte received but not yet read.
void PurgeInput(SerialPort& port);

// 0 with one byte, kReadTimeout when none came within `deadline_ms`, or
// kDeviceGone at once when the device has gone away.
ResultCode ReadByte(SerialPort& port, std::uint8_t& byte, std::uint32_t deadline_ms);

// Writes the block in one go. 0 or kWriteFailed.
ResultCode WriteBytes(SerialPort& port, const std::uint8_t* data, std::size_t count);

// Releases the device. Harmless on a closed port.
void ClosePort(SerialPort& port);

// Blocking wait of at least `ms` milliseconds (link start-up pauses 300 ms,
// the identification 1000 ms after an echo).
void Delay(std::uint32_t ms);

}  // namespace krt
