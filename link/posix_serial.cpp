// The POSIX termios serial platform.
//
// Exclusive open: TIOCEXCL refuses further opens of the device, but not for a
// privileged process, so an advisory flock is taken as well; two instances of
// the tool (or the tool and the simulator's own control descriptor, which
// never locks) thus never share a line by accident.
//
// Reads poll against the monotonic clock; nothing spins. A read that left the
// queue empty (it delivered less than asked), like a purge, makes the next
// read wait in poll at once instead of trying a read that would only say
// "nothing yet": on a line whose answers come in pieces, that is one system
// call less a piece. A device that has
// gone away (a USB adapter pulled out, a pseudo-terminal whose other side was
// closed) shows POLLHUP or POLLERR and reads 0 bytes or fails with EIO; that
// is reported as kDeviceGone at once instead of waiting for the deadline.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "link/monotonic_clock.h"
#include "link/serial_port.h"
#include "link/termios_rates.h"

namespace krt {
namespace {

std::int64_t ElapsedMs(std::uint64_t start_ms) {
  return static_cast<std::int64_t>(MonotonicMs() - start_ms);
}

class PosixSerialDevice final : public SerialDevice {
 public:
  explicit PosixSerialDevice(int fd) : fd_(fd) {}
  ~PosixSerialDevice() override {
    // The exclusive mode belongs to the terminal, not to this descriptor: it
    // would outlive the close while another descriptor holds the device open
    // (the simulator's own), and refuse every later open by an unprivileged
    // user. It is handed back with the lock.
    ioctl(fd_, TIOCNXCL);
    flock(fd_, LOCK_UN);
    close(fd_);
  }

  ResultCode SetBitRate(std::uint32_t rate) override {
    speed_t speed;
    if (!TermiosSpeedForRate(rate, speed)) return rc::kPortOpenFailed;
    termios tio{};
    if (tcgetattr(fd_, &tio) != 0) return rc::kPortOpenFailed;
    if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) {
      return rc::kPortOpenFailed;
    }
    if (tcsetattr(fd_, TCSANOW, &tio) != 0) return rc::kPortOpenFailed;
    // tcsetattr succeeds when any part of the request was taken; read back
    // whether the driver really runs at the rate.
    termios now{};
    if (tcgetattr(fd_, &now) != 0 || cfgetospeed(&now) != speed) return rc::kPortOpenFailed;
    return rc::kOk;
  }

  void PurgeInput() override {
    tcflush(fd_, TCIFLUSH);
    drained_ = true;
  }

  int ReadSome(std::uint8_t* buffer, std::size_t capacity, std::uint32_t deadline_ms) override {
    int got = 0;
    if (!drained_) {
      got = TryRead(buffer, capacity);
      if (got != 0) return got;
    }
    const std::uint64_t start = MonotonicMs();
    for (;;) {
      const std::int64_t elapsed = ElapsedMs(start);
      if (elapsed > static_cast<std::int64_t>(deadline_ms)) return rc::kReadTimeout;
      // Wake one millisecond past the deadline, so that "strictly more" holds.
      const std::int64_t left = static_cast<std::int64_t>(deadline_ms) - elapsed + 1;
      pollfd p{fd_, POLLIN, 0};
      const int n = poll(&p, 1, static_cast<int>(left > 1000000 ? 1000000 : left));
      if (n < 0) {
        if (errno == EINTR) continue;
        return rc::kDeviceGone;
      }
      if (n == 0) continue;
      if (p.revents & POLLNVAL) return rc::kDeviceGone;
      got = TryRead(buffer, capacity);
      if (got != 0) return got;
      if (p.revents & (POLLHUP | POLLERR)) return rc::kDeviceGone;
    }
  }

  ResultCode Write(const std::uint8_t* data, std::size_t count) override {
    const std::uint64_t start = MonotonicMs();
    const std::uint64_t allowed = 10u * count + 100u;
    std::size_t done = 0;
    while (done < count) {
      const ssize_t n = write(fd_, data + done, count - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) return rc::kWriteFailed;
      const std::uint64_t elapsed = MonotonicMs() - start;
      if (elapsed >= allowed) return rc::kWriteFailed;
      pollfd p{fd_, POLLOUT, 0};
      const int r = poll(&p, 1, static_cast<int>(allowed - elapsed));
      if (r < 0 && errno != EINTR) return rc::kWriteFailed;
      if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) return rc::kWriteFailed;
    }
    return rc::kOk;
  }

 private:
  // > 0 bytes read, 0 nothing waiting, kDeviceGone.
  int TryRead(std::uint8_t* buffer, std::size_t capacity) {
    for (;;) {
      const ssize_t n = read(fd_, buffer, capacity);
      if (n > 0) {
        drained_ = static_cast<std::size_t>(n) < capacity;
        return static_cast<int>(n);
      }
      drained_ = true;
      if (n == 0) return rc::kDeviceGone;  // hang-up: end of file on a terminal
      if (errno == EINTR) continue;
      if (errno == EAGAIN) return 0;
      return rc::kDeviceGone;  // EIO and the like: the device has gone
    }
  }

  int fd_;
  // The last read left nothing behind (or the queue was just emptied).
  bool drained_ = true;
};

class PosixPlatform final : public SerialPlatform {
 public:
  std::unique_ptr<SerialDevice> Open(const std::string& path) override {
    if (path.empty()) return nullptr;
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    auto fail = [fd]() -> std::unique_ptr<SerialDevice> {
      close(fd);
      return nullptr;
    };
    if (!isatty(fd)) return fail();
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return fail();
    if (ioctl(fd, TIOCEXCL) != 0) return fail();

    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return fail();
    cfmakeraw(&tio);  // binary, no echo, no signals, no CR/LF mapping, NUL bytes kept
    tio.c_iflag &=
        ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | PARMRK | IGNPAR | ISTRIP | IGNBRK);
    tio.c_cflag &= ~static_cast<tcflag_t>(PARENB | CSTOPB | CSIZE | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    // VMIN 1 with O_NONBLOCK: an empty queue reads as EAGAIN, so that a read
    // of 0 bytes means end of file, the hang-up of the line.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, B9600) != 0 || cfsetospeed(&tio, B9600) != 0) return fail();
    if (tcsetattr(fd, TCSANOW, &tio) != 0) return fail();

    // DTR and RTS held inactive. A pseudo-terminal has no modem lines and
    // answers ENOTTY (or EINVAL); that is not a failure.
    int lines = TIOCM_DTR | TIOCM_RTS;
    if (ioctl(fd, TIOCMBIC, &lines) != 0 && errno != ENOTTY && errno != EINVAL) return fail();

    tcflush(fd, TCIOFLUSH);
    return std::make_unique<PosixSerialDevice>(fd);
  }

  void Delay(std::uint32_t ms) override {
    timespec target{};
    clock_gettime(CLOCK_MONOTONIC, &target);
    target.tv_sec += ms / 1000;
    target.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (target.tv_nsec >= 1000000000L) {
      target.tv_sec += 1;
      target.tv_nsec -= 1000000000L;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &target, nullptr) == EINTR) {
    }
  }
};

}  // namespace

SerialPlatform& PosixSerialPlatform() {
  static PosixPlatform platform;
  return platform;
}

}  // namespace krt
