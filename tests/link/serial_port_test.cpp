// The POSIX serial port on a real pseudo-terminal.
#include "link/serial_port.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "link/monotonic_clock.h"
#include "tests/support/pty.h"

namespace krt {
namespace {

using test::Pty;

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.ok());
    ASSERT_EQ(OpenPort(port_, pty_.path()), rc::kOk);
  }
  void TearDown() override { ClosePort(port_); }

  // Whatever the port wrote, as seen on the master side.
  std::string Drain() {
    std::string out;
    char buf[256];
    pollfd p{pty_.master(), POLLIN, 0};
    while (poll(&p, 1, 50) > 0) {
      const ssize_t n = read(pty_.master(), buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
    }
    return out;
  }

  Pty pty_;
  SerialPort port_;
};

TEST_F(SerialPortTest, OpensRawAt9600Exclusively) {
  EXPECT_EQ(port_.bit_rate, 9600u);
  termios tio{};
  const int other = open(pty_.path().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
  // Exclusive: a second open of the device by the tool fails, and a plain
  // open (as root, which TIOCEXCL does not stop) is what shows the settings.
  SerialPort second;
  EXPECT_EQ(OpenPort(second, pty_.path()), rc::kPortOpenFailed);
  EXPECT_FALSE(second.device);
  if (other >= 0) {
    ASSERT_EQ(tcgetattr(other, &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    close(other);
  }
}

TEST_F(SerialPortTest, BytesGoOutUnchanged) {
  const std::uint8_t data[] = {0x10, 0x02, 0x00, 0x0D, 0x0A, 0x11, 0x13, 0xFF, 0x10, 0x03};
  ASSERT_EQ(WriteBytes(port_, data, sizeof data), rc::kOk);
  EXPECT_EQ(Drain(), std::string(reinterpret_cast<const char*>(data), sizeof data));
}

TEST_F(SerialPortTest, AWaitingByteComesAtOnceEvenWithDeadlineZero) {
  const char bytes[] = {'\x00', '\r', '\x11'};
  pty_.Send(bytes, sizeof bytes);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::uint8_t b = 0xEE;
  ASSERT_EQ(ReadByte(port_, b, 0), rc::kOk);
  EXPECT_EQ(b, 0x00);  // NUL bytes are kept
  ASSERT_EQ(ReadByte(port_, b, 0), rc::kOk);
  EXPECT_EQ(b, '\r');  // no CR/LF translation
  ASSERT_EQ(ReadByte(port_, b, 0), rc::kOk);
  EXPECT_EQ(b, 0x11);  // XON is data
  EXPECT_EQ(ReadByte(port_, b, 0), rc::kReadTimeout);
}

TEST_F(SerialPortTest, PurgeDropsWhatArrivedBefore) {
  pty_.Send("abc", 3);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::uint8_t b = 0;
  ASSERT_EQ(ReadByte(port_, b, 100), rc::kOk);  // 'a'; "bc" wait in the port's buffer
  PurgeInput(port_);
  pty_.Send("z", 1);
  ASSERT_EQ(ReadByte(port_, b, 500), rc::kOk);
  EXPECT_EQ(b, 'z');
}

TEST_F(SerialPortTest, SetBitRateChangesOnlyTheRate) {
  ASSERT_EQ(SetBitRate(port_, 115200), rc::kOk);
  EXPECT_EQ(port_.bit_rate, 115200u);
  // 0 and rates termios cannot express are refused; the recorded rate stays.
  EXPECT_EQ(SetBitRate(port_, 0), rc::kPortOpenFailed);
  EXPECT_EQ(SetBitRate(port_, 12345), rc::kPortOpenFailed);
  EXPECT_EQ(port_.bit_rate, 115200u);
}

// Read system calls this thread has made, from its I/O accounting; the one
// read that fetches the figure counts after it, so each call adds one.
std::int64_t ReadCalls() {
  const int fd = open("/proc/thread-self/io", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  char text[512] = {};
  const ssize_t n = read(fd, text, sizeof text - 1);
  close(fd);
  const char* at = n > 0 ? std::strstr(text, "syscr: ") : nullptr;
  return at != nullptr ? std::atoll(at + 7) : -1;
}

// An answer comes in pieces, as a line delivers it; each piece costs one read
// call. After a purge, or a read that left nothing behind, the port waits in
// poll for the next piece instead of first trying a read that would find
// nothing.
TEST_F(SerialPortTest, EachPieceThatArrivesCostsOneRead) {
  if (ReadCalls() < 0) GTEST_SKIP() << "no /proc/thread-self/io";
  // A ProgramFlash answer frame, in four pieces.
  const std::string frame("\x10\x02\x90\x06h\x00\x01\x04\x00\x10\x10\x10\x03\x7b", 14);
  const std::size_t cuts[] = {0, 3, 6, 9, 14};
  PurgeInput(port_);
  std::thread sender([&] {
    for (std::size_t i = 0; i + 1 < std::size(cuts); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      pty_.Send(frame.data() + cuts[i], cuts[i + 1] - cuts[i]);
    }
  });
  const std::int64_t before = ReadCalls();
  const std::int64_t own = ReadCalls() - before;  // what ReadCalls itself costs
  std::string got;
  for (std::size_t i = 0; i < frame.size(); ++i) {
    std::uint8_t b = 0;
    if (ReadByte(port_, b, 2000) != rc::kOk) break;
    got.push_back(static_cast<char>(b));
  }
  const std::int64_t reads = ReadCalls() - before - 2 * own;
  sender.join();
  EXPECT_EQ(got, frame);
  EXPECT_EQ(reads, 4);
}

// The cases that wait out real time, grouped.
TEST_F(SerialPortTest, DeadlinesAreBoundsAndAGoneDeviceEndsAtOnce) {
  std::uint8_t b = 0;
  std::uint64_t start = MonotonicMs();
  EXPECT_EQ(ReadByte(port_, b, 200), rc::kReadTimeout);
  std::uint64_t took = MonotonicMs() - start;
  EXPECT_GT(took, 200u);
  EXPECT_LT(took, 420u);

  // A slow sender: a byte arriving within the deadline is read.
  std::thread sender([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pty_.Send("x", 1);
  });
  EXPECT_EQ(ReadByte(port_, b, 1000), rc::kOk);
  EXPECT_EQ(b, 'x');
  sender.join();

  start = MonotonicMs();
  Delay(300);
  EXPECT_GE(MonotonicMs() - start, 300u);

  // The other side closes: the device has gone, reported at once.
  pty_.CloseMaster();
  start = MonotonicMs();
  EXPECT_EQ(ReadByte(port_, b, 5000), rc::kDeviceGone);
  EXPECT_LT(MonotonicMs() - start, 100u);
}

TEST(SerialPort, MissingDevicesAndNonTerminalsAreRefused) {
  for (const char* path : {"/dev/ttyS-1", "/nonexistent/tty", "", "/dev/null", "/tmp"}) {
    SerialPort port;
    EXPECT_EQ(OpenPort(port, path), rc::kPortOpenFailed) << path;
    EXPECT_FALSE(port.device) << path;
  }
}

}  // namespace
}  // namespace krt
