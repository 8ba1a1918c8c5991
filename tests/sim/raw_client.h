// A bare client of the simulator's device side, for byte-level tests of the
// line without the tool's link: it sets a rate, writes frames or raw bytes and
// reads answer frames with the link's frame decoder.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "link/frame_codec.h"
#include "link/termios_rates.h"
#include "sim/simulator.h"

namespace krt::sim::test {

inline std::int64_t NowMs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<std::int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

inline std::int64_t NowUs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<std::int64_t>(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

class RawClient {
 public:
  RawClient(const std::string& path, std::uint32_t rate) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio{};
    if (fd_ >= 0 && tcgetattr(fd_, &tio) == 0) {
      cfmakeraw(&tio);
      tio.c_cflag |= CLOCAL | CREAD;
      tcsetattr(fd_, TCSANOW, &tio);
    }
    SetRate(rate);
    if (fd_ >= 0) tcflush(fd_, TCIOFLUSH);
  }
  ~RawClient() {
    if (fd_ >= 0) close(fd_);
  }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool ok() const { return fd_ >= 0; }

  void SetRate(std::uint32_t rate) {
    termios tio{};
    speed_t speed = 0;
    if (fd_ < 0 || !TermiosSpeedForRate(rate, speed) || tcgetattr(fd_, &tio) != 0) return;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    tcsetattr(fd_, TCSANOW, &tio);
  }

  void SendRaw(const Bytes& bytes) const {
    if (write(fd_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      ADD_FAILURE() << "short write";
    }
  }

  void SendFrame(const Bytes& data) const {
    Bytes frame(MaxFrameSize(data.size()));
    frame.resize(EncodeFrame(data.data(), data.size(), frame.data()));
    SendRaw(frame);
  }

  // A request with its header: sequence bits, the flag, the length.
  void SendRequest(const Bytes& payload, int sequence) const {
    Bytes data{static_cast<std::uint8_t>((sequence << 6) | 0x10 | (payload.size() >> 8)),
               static_cast<std::uint8_t>(payload.size() & 0xFF)};
    data.insert(data.end(), payload.begin(), payload.end());
    SendFrame(data);
  }

  struct Received {
    FrameDecoder::Step step = FrameDecoder::Step::kMore;  // kMore: nothing within the time
    Bytes data;                                           // a frame's data, header included
    std::int64_t last_byte_us = 0;                        // when its last byte was read
  };

  // The next frame or decoding error, or kMore when nothing complete came
  // within `timeout_ms`.
  Received Receive(int timeout_ms) {
    Received r;
    Bytes buffer(4096);
    FrameDecoder decoder(buffer.data(), buffer.size());
    const std::int64_t end = NowMs() + timeout_ms;
    for (;;) {
      while (pending_.empty()) {
        const std::int64_t left = end - NowMs();
        if (left <= 0) return r;
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        std::uint8_t chunk[4096];
        const ssize_t n = read(fd_, chunk, sizeof chunk);
        if (n <= 0) {
          if (p.revents & (POLLHUP | POLLERR)) return r;
          continue;
        }
        r.last_byte_us = NowUs();
        pending_.insert(pending_.end(), chunk, chunk + n);
      }
      const std::uint8_t b = pending_.front();
      pending_.erase(pending_.begin());
      const FrameDecoder::Step step = decoder.Push(b);
      if (step == FrameDecoder::Step::kMore) continue;
      r.step = step;
      if (step == FrameDecoder::Step::kFrame)
        r.data.assign(buffer.begin(), buffer.begin() + decoder.Size());
      return r;
    }
  }

 private:
  int fd_ = -1;
  Bytes pending_;
};

}  // namespace krt::sim::test
