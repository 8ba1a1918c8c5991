// A bare pseudo-terminal pair for tests of the serial port: the test holds
// the master side and hands the device path to the code under test.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <string>

namespace krt::test {

class Pty {
 public:
  Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
      path_ = ptsname(master_);
    }
  }
  ~Pty() { CloseMaster(); }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  const std::string& path() const { return path_; }
  int master() const { return master_; }
  bool ok() const { return master_ >= 0 && !path_.empty(); }

  void Send(const void* data, size_t size) const {
    if (write(master_, data, size) != static_cast<ssize_t>(size)) abort();
  }
  void CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  std::string path_;
};

}  // namespace krt::test
