#include "sim/simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "link/frame_codec.h"
#include "link/termios_rates.h"
#include "link/transact.h"
#include "sim/state_file.h"

namespace krt::sim {
namespace {

constexpr std::size_t kMessageByteLimit = 64u << 20;
// Frames of any length the 11-bit header field can name, with the header.
constexpr std::size_t kFrameCapacity = 2 + 2047;
// The rates the loader can name in a speed change answer.
constexpr std::uint32_t kLoaderRates[] = {9600, 19200, 38400, 57600, 115200};
// How long a write may wait for room on the line before the rest is lost.
constexpr std::int64_t kWriteRoomNs = 1'000'000'000;
// A sleep ends some tens of microseconds after the time asked for, more on a
// busy machine; a precise wait sleeps to this long before its time and spins
// the rest.
constexpr std::int64_t kSpinNs = 200'000;

std::int64_t NowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// One turn of a busy wait, kind to the other hardware thread of the core.
void SpinPause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// Line time of `bytes` bytes at `rate`: 10 bits a byte (start, 8 data, stop).
std::int64_t LineNs(std::size_t bytes, std::uint32_t rate) {
  return static_cast<std::int64_t>(bytes) * 10'000'000'000 / static_cast<std::int64_t>(rate);
}

bool Fail(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
  return false;
}

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

char OtherFuse(char c) { return c == '0' ? '1' : '0'; }

// Replaces the check byte of an encoded frame with one that has bit 0
// flipped, escaping it as the line format wants.
void FlipCheck(Bytes& frame, const Bytes& data) {
  std::uint8_t check = 0;
  for (std::uint8_t b : data) check ^= b;
  frame.resize(frame.size() - (check == kDle ? 2 : 1));
  const std::uint8_t flipped = check ^ 0x01;
  frame.push_back(flipped);
  if (flipped == kDle) frame.push_back(kDle);
}

}  // namespace

// What the faults make of one message.
struct Simulator::Plan {
  bool drop = false;
  bool corrupt = false;
  bool silent = false;
  bool hangup = false;
  bool length = false;
  bool code = false;
  bool shorten = false;
  bool status = false;
  bool echo114 = false;
  std::uint32_t delay_ms = 0;
  std::optional<int> first_reading;
  std::optional<int> second_reading;
  std::optional<int> ues_bit;
  std::optional<int> readback_byte;
};

Simulator::Simulator(SimulatorOptions options)
    : options_(std::move(options)), model_(options_.model), listen_rate_(options_.rate) {
  for (const Fault& f : options_.faults) faults_.push_back(ArmedFault{f, 0});
}

Simulator::~Simulator() { Stop(nullptr); }

bool Simulator::Running() const { return line_.joinable(); }

std::string Simulator::DevicePath() const {
  std::lock_guard<std::mutex> lock(mu_);
  return device_path_;
}

bool Simulator::Start(std::string* error) {
  if (Running()) return Fail(error, "the simulator is running already");
  if (options_.rate == 0) return Fail(error, "no start rate");
  unsigned speed = 0;
  if (!TermiosSpeedForRate(options_.rate, speed)) {
    return Fail(error, "a start rate of " + std::to_string(options_.rate) + " bit/s");
  }
  if (!options_.state_path.empty()) {
    ProbeModel::State state;
    std::string why;
    switch (LoadState(options_.state_path, state, &why)) {
      case StateLoad::kLoaded: {
        std::lock_guard<std::mutex> lock(mu_);
        model_.Restore(std::move(state));
        break;
      }
      case StateLoad::kMissing:
        break;
      case StateLoad::kRefused:
        return Fail(error, "state file refused: " + why);
    }
  }
  listen_rate_ = options_.rate;
  hung_up_ = false;
  if (!OpenLine("", error)) return false;
  if (!PointLink(error) || !StartThread(error)) {
    RemoveLink();
    CloseLine();
    return false;
  }
  return true;
}

bool Simulator::Stop(std::string* error) {
  if (!Running()) return true;
  StopThread();
  RemoveLink();
  CloseLine();
  if (options_.state_path.empty()) return true;
  ProbeModel::State state;
  {
    std::lock_guard<std::mutex> lock(mu_);
    state = model_.Snapshot();
  }
  return SaveState(options_.state_path, state, error);
}

bool Simulator::Restart(std::string* error) {
  if (!Running()) return Fail(error, "the simulator is not running");
  const std::string old_path = DevicePath();
  StopThread();
  CloseLine();
  hung_up_ = false;
  if (!OpenLine(old_path, error)) return false;
  if (!PointLink(error) || !StartThread(error)) {
    CloseLine();
    return false;
  }
  return true;
}

bool Simulator::OpenLine(const std::string& avoid_path, std::string* error) {
  // A pseudo-terminal just closed may come back under the same number; the
  // ones that do are held until a new number has come.
  std::vector<int> held;
  auto release = [&held] {
    for (int fd : held) close(fd);
  };
  int master = -1;
  std::string path;
  for (int attempt = 0; attempt < 8 && master < 0; ++attempt) {
    const int fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      release();
      return Fail(error, SystemError("cannot open a pseudo-terminal"));
    }
    char name[128];
    if (grantpt(fd) != 0 || unlockpt(fd) != 0 || ptsname_r(fd, name, sizeof name) != 0) {
      const std::string why = SystemError("cannot unlock a pseudo-terminal");
      close(fd);
      release();
      return Fail(error, why);
    }
    if (avoid_path == name) {
      held.push_back(fd);
      continue;
    }
    master = fd;
    path = name;
  }
  release();
  if (master < 0) return Fail(error, "no new pseudo-terminal path");

  const int slave = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave < 0) {
    const std::string why = SystemError("cannot open " + path);
    close(master);
    return Fail(error, why);
  }
  // Raw from the start: no echo of what the simulator sends, no line editing,
  // no character mapping, before the tool has set its own line format.
  termios tio{};
  unsigned speed = B9600;
  TermiosSpeedForRate(options_.rate, speed);
  bool raw = tcgetattr(slave, &tio) == 0;
  if (raw) {
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    raw = cfsetispeed(&tio, speed) == 0 && cfsetospeed(&tio, speed) == 0 &&
          tcsetattr(slave, TCSANOW, &tio) == 0;
  }
  if (!raw) {
    const std::string why = SystemError("cannot set " + path + " raw");
    close(slave);
    close(master);
    return Fail(error, why);
  }
  master_fd_ = master;
  slave_fd_ = slave;
  std::lock_guard<std::mutex> lock(mu_);
  device_path_ = path;
  return true;
}

void Simulator::CloseLine() {
  if (master_fd_ >= 0) close(master_fd_);
  if (slave_fd_ >= 0) close(slave_fd_);
  master_fd_ = slave_fd_ = -1;
}

bool Simulator::PointLink(std::string* error) {
  const std::string& link = options_.link_path;
  if (link.empty()) return true;
  struct stat st {};
  if (lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
    return Fail(error, link + " exists and is not a symbolic link");
  }
  // A new link beside the old one, renamed over it: the path never dangles
  // into nothing while it is replaced.
  const std::string temp = link + ".new";
  unlink(temp.c_str());
  if (symlink(DevicePath().c_str(), temp.c_str()) != 0) {
    return Fail(error, SystemError("cannot make the link " + link));
  }
  if (rename(temp.c_str(), link.c_str()) != 0) {
    const std::string why = SystemError("cannot make the link " + link);
    unlink(temp.c_str());
    return Fail(error, why);
  }
  return true;
}

void Simulator::RemoveLink() {
  const std::string& link = options_.link_path;
  if (link.empty()) return;
  struct stat st {};
  if (lstat(link.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return;
  char target[256];
  const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
  if (n < 0) return;
  target[n] = '\0';
  if (DevicePath() == target) unlink(link.c_str());
}

bool Simulator::StartThread(std::string* error) {
  stop_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stop_fd_ < 0) return Fail(error, SystemError("cannot make an event descriptor"));
  stop_ = false;
  rx_clock_ns_ = tx_clock_ns_ = 0;
  line_ = std::thread([this] { Run(); });
  return true;
}

void Simulator::StopThread() {
  if (!line_.joinable()) return;
  stop_ = true;
  const std::uint64_t one = 1;
  if (write(stop_fd_, &one, sizeof one) < 0) {
    // The counter cannot overflow with one write; the flag is set anyway.
  }
  line_.join();
  close(stop_fd_);
  stop_fd_ = -1;
}

std::uint32_t Simulator::ToolRate() const {
  termios tio{};
  if (slave_fd_ < 0 || tcgetattr(slave_fd_, &tio) != 0) return 0;
  return RateOfTermiosSpeed(cfgetospeed(&tio));
}

void Simulator::HangUp() {
  // Marked before the line closes: whoever sees the device gone also sees
  // the hang-up.
  hung_up_ = true;
  CloseLine();
}

bool Simulator::WaitUntil(std::int64_t deadline_ns, bool precise) {
  const std::int64_t wake_ns = precise ? deadline_ns - kSpinNs : deadline_ns;
  for (;;) {
    if (stop_) return false;
    const std::int64_t now = NowNs();
    if (now >= deadline_ns) return true;
    const std::int64_t left = wake_ns - now;
    if (left <= 0) {
      SpinPause();  // the last stretch of a precise wait
      continue;
    }
    if (left > 2'000'000) {
      // Most of a long wait on the stop descriptor, so that stopping is quick;
      // the last part on the clock, for precision.
      pollfd p{stop_fd_, POLLIN, 0};
      poll(&p, 1, static_cast<int>(std::min<std::int64_t>((left - 1'000'000) / 1'000'000, 1000)));
      continue;
    }
    timespec t{};
    t.tv_sec = wake_ns / 1'000'000'000;
    t.tv_nsec = wake_ns % 1'000'000'000;
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
    }
  }
}

bool Simulator::WriteLine(const std::uint8_t* data, std::size_t size, std::uint32_t rate) {
  // Sent while the tool listens at another rate: noise, lost on the way, but
  // it has crossed the wire.
  if (ToolRate() != rate) {
    std::lock_guard<std::mutex> lock(mu_);
    stats_.bytes_sent += size;
    return true;
  }
  const std::int64_t give_up = NowNs() + kWriteRoomNs;
  while (size > 0 && master_fd_ >= 0) {
    const ssize_t n = write(master_fd_, data, size);
    if (n > 0) {
      data += n;
      size -= static_cast<std::size_t>(n);
      std::lock_guard<std::mutex> lock(mu_);
      stats_.bytes_sent += static_cast<std::uint64_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return true;  // the rest is lost
    if (NowNs() >= give_up) return true;        // nobody reads: the rest is lost
    pollfd p[2] = {{stop_fd_, POLLIN, 0}, {master_fd_, POLLOUT, 0}};
    poll(p, 2, 10);
    if (stop_) return false;
  }
  return !stop_;
}

void Simulator::CountLateness(std::int64_t late_ns, bool last_chunk) {
  std::lock_guard<std::mutex> lock(mu_);
  ++stats_.paced_chunks;
  stats_.chunk_late_ns_total += late_ns;
  stats_.chunk_late_ns_max = std::max(stats_.chunk_late_ns_max, late_ns);
  if (!last_chunk) return;
  ++stats_.paced_answers;
  stats_.answer_late_ns_total += late_ns;
  stats_.answer_late_ns_max = std::max(stats_.answer_late_ns_max, late_ns);
}

bool Simulator::Transmit(const Bytes& frame, std::int64_t due_ns, std::uint32_t rate) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++stats_.answers;
  }
  if (!options_.pace) {
    if (!WaitUntil(due_ns)) return false;
    return WriteLine(frame.data(), frame.size(), rate);
  }
  // The line is busy until the last answer has left; then byte i of this one
  // has crossed the wire at start + LineNs(i + 1). Each chunk is written once
  // its last byte would have arrived, on absolute times of the line clock, so
  // late wake-ups do not add up. The tool waits for the last chunk, so that
  // one is written on time to the microsecond; a chunk before it may come a
  // little late, the next one is still due at its own time.
  const std::int64_t start = std::max(due_ns, tx_clock_ns_);
  const std::size_t chunk = std::max<std::size_t>(1, rate / 10000);
  std::size_t sent = 0;
  while (sent < frame.size()) {
    const std::size_t end = std::min(frame.size(), sent + chunk);
    const bool last = end == frame.size();
    const std::int64_t at = start + LineNs(end, rate);
    if (!WaitUntil(at, last)) return false;
    CountLateness(NowNs() - at, last);
    if (!WriteLine(frame.data() + sent, end - sent, rate)) return false;
    sent = end;
  }
  tx_clock_ns_ = start + LineNs(frame.size(), rate);
  return true;
}

std::uint32_t Simulator::RateForSpeedChange(std::uint32_t asked) const {
  if (options_.answer_rate != 0) return options_.answer_rate;
  // The highest of the loader's rates that is neither above the one asked nor
  // above its limit; its lowest rate when none is.
  std::uint32_t best = kLoaderRates[0];
  for (std::uint32_t r : kLoaderRates) {
    if (r <= asked && r <= options_.max_rate) best = r;
  }
  return best;
}

Simulator::Plan Simulator::ArmFaults(int code, std::optional<int> row) {
  Plan plan;
  const MessageKey key{code, row};
  for (ArmedFault& armed : faults_) {
    const Fault& f = armed.fault;
    if (!FaultCounts(f, key)) continue;
    ++armed.seen;
    if (armed.seen < f.at || (f.times != 0 && armed.seen >= f.at + f.times)) continue;
    switch (f.kind) {
      case FaultKind::kDrop:
        plan.drop = true;
        break;
      case FaultKind::kCorrupt:
        plan.corrupt = true;
        break;
      case FaultKind::kDelay:
        plan.delay_ms += f.ms;
        break;
      case FaultKind::kSilent:
        plan.silent = true;
        break;
      case FaultKind::kHangup:
        plan.hangup = true;
        break;
      case FaultKind::kLength:
        plan.length = true;
        break;
      case FaultKind::kCode:
        plan.code = true;
        break;
      case FaultKind::kShort:
        plan.shorten = true;
        break;
      case FaultKind::kStatus:
        plan.status = true;
        break;
      case FaultKind::kEcho114:
        plan.echo114 = true;
        break;
      case FaultKind::kFirstReading:
        plan.first_reading = f.pos;
        break;
      case FaultKind::kSecondReading:
        plan.second_reading = f.pos;
        break;
      case FaultKind::kUes:
        plan.ues_bit = f.pos;
        break;
      case FaultKind::kReadback:
        plan.readback_byte = f.pos;
        break;
    }
  }
  return plan;
}

void Simulator::HandleFrame(const std::uint8_t* data, std::size_t size, std::int64_t arrival_ns) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++stats_.frames_received;
  }
  if (size < 2) return;
  const std::size_t length = (static_cast<std::size_t>(data[0] & 0x07) << 8) | data[1];
  if (length != size - 2) return;

  LineMessage message;
  message.header = data[0];
  message.rate = listen_rate_.load();
  message.payload.assign(data + 2, data + size);
  const Bytes& payload = message.payload;
  const bool request = (data[0] & 0x10) != 0;
  int code = -1;
  if (request) {
    message.kind = MessageKind::kRequest;
    if (!payload.empty()) code = payload[0];
  } else if (payload.size() == 1 && payload[0] == 0x01) {
    message.kind = MessageKind::kSpeedProbe;
    code = kSpeedProbeCode;
  } else if (payload.size() == 5 && payload[0] == 0x03) {
    message.kind = MessageKind::kSpeedChange;
    code = kSpeedChangeCode;
  } else {
    message.kind = MessageKind::kOtherLink;
  }

  Plan plan;
  std::optional<Bytes> answer;
  std::optional<std::uint32_t> next_rate;
  bool started_firmware = false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    switch (message.kind) {
      case MessageKind::kRequest:
        ++stats_.requests;
        break;
      case MessageKind::kSpeedProbe:
        ++stats_.speed_probes;
        break;
      case MessageKind::kSpeedChange:
        ++stats_.speed_changes;
        break;
      case MessageKind::kOtherLink:
        break;
    }
    messages_.push_back(message);
    message_bytes_ += payload.size();
    while (message_bytes_ > kMessageByteLimit && messages_.size() > 1) {
      message_bytes_ -= messages_.front().payload.size();
      messages_.pop_front();
    }
    if (!silent_ && message.kind != MessageKind::kOtherLink) {
      std::optional<int> row;
      if (code == 107 && payload.size() >= 2) row = payload[1];
      plan = ArmFaults(code, row);
      if (plan.silent) silent_ = true;
    }
    if (!silent_ && !plan.hangup && message.kind != MessageKind::kOtherLink) {
      if (request) {
        answer = model_.Handle(payload, plan.status);
        started_firmware = code == 113;
      } else if (message.kind == MessageKind::kSpeedProbe) {
        answer = Bytes{0x01};
      } else {
        std::uint32_t asked = 0;
        GetU32(payload.data(), 1, asked);
        next_rate = RateForSpeedChange(asked);
        answer = Bytes(5);
        PutU32(answer->data(), PutByte(answer->data(), 0, 0x03), *next_rate);
      }
      if (answer) SpoilAnswer(plan, code, *answer);
    }
  }
  if (options_.on_message) options_.on_message(message);
  if (plan.hangup) {
    HangUp();
    return;
  }

  if (answer && !plan.drop) {
    // The answer header: the request's sequence bits and the flag, or a
    // link-level header like the message's own, and the payload's length.
    const std::size_t told = answer->size() + (plan.length ? 1 : 0);
    Bytes framed(2 + answer->size());
    framed[0] = static_cast<std::uint8_t>((request ? (data[0] & 0xC0) | 0x10 : 0x00) |
                                          ((told >> 8) & 0x07));
    framed[1] = static_cast<std::uint8_t>(told & 0xFF);
    std::copy(answer->begin(), answer->end(), framed.begin() + 2);
    Bytes frame(MaxFrameSize(framed.size()));
    frame.resize(EncodeFrame(framed.data(), framed.size(), frame.data()));
    if (plan.corrupt) FlipCheck(frame, framed);
    const std::int64_t ready = options_.pace ? arrival_ns : NowNs();
    const std::int64_t due =
        ready + static_cast<std::int64_t>(options_.process_delay_ms + plan.delay_ms) * 1'000'000;
    if (!Transmit(frame, due, message.rate)) return;  // stopping
  }

  // Once the answer has left: the new rate, or the start rate after the reset
  // that StartFirmware stands for.
  if (next_rate) listen_rate_ = *next_rate;
  if (started_firmware) {
    listen_rate_ = options_.rate;
    if (!options_.state_path.empty()) {
      ProbeModel::State state;
      {
        std::lock_guard<std::mutex> lock(mu_);
        state = model_.Snapshot();
      }
      std::string why;
      if (!SaveState(options_.state_path, state, &why)) {
        std::lock_guard<std::mutex> lock(mu_);
        last_error_ = why;
      }
    }
  }
}

void Simulator::SpoilAnswer(const Plan& plan, int code, Bytes& answer) {
  auto flip_fuse = [&answer](std::size_t at) {
    answer[at] = static_cast<std::uint8_t>(OtherFuse(static_cast<char>(answer[at])));
  };
  if (plan.echo114 && code == 114) answer = Bytes{114};
  if (code == 107 && answer.size() == 1 + 2 * kLogicRowFuses) {
    if (plan.first_reading) flip_fuse(1 + static_cast<std::size_t>(*plan.first_reading));
    if (plan.second_reading) {
      flip_fuse(1 + kLogicRowFuses + static_cast<std::size_t>(*plan.second_reading));
    }
  }
  if (plan.ues_bit && code == 109 && answer.size() == 1 + kLogicUesBits) {
    flip_fuse(1 + static_cast<std::size_t>(*plan.ues_bit));
  }
  if (plan.readback_byte && code == 101) {
    const std::size_t at = 7 + static_cast<std::size_t>(*plan.readback_byte);
    if (at < answer.size()) answer[at] ^= 0xFF;
  }
  if (plan.code) {
    if (answer.empty()) {
      answer.push_back(static_cast<std::uint8_t>(code ^ 0x20));
    } else {
      answer[0] ^= 0x20;
    }
  }
  if (plan.shorten && !answer.empty()) answer.pop_back();
}

void Simulator::Run() {
  // Wake-ups as close to the asked time as the kernel allows: the pacing
  // depends on it.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  if (options_.pace) {
    // A paced line stands for a probe with a processor of its own: its
    // thread asks to run at once when due rather than after whatever else is
    // running, so that its answers keep to the line clock on a busy machine.
    // Without the privilege it runs as it is (Stats tells which).
    sched_param param{};
    param.sched_priority = 1;
    const bool realtime = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
    std::lock_guard<std::mutex> lock(mu_);
    stats_.realtime = realtime;
  }
  Bytes buffer(kFrameCapacity);
  FrameDecoder decoder(buffer.data(), buffer.size());
  std::uint8_t chunk[4096];
  while (!stop_) {
    pollfd p[2] = {{stop_fd_, POLLIN, 0}, {master_fd_, POLLIN, 0}};
    const nfds_t count = master_fd_ >= 0 ? 2 : 1;
    if (poll(p, count, -1) < 0 && errno != EINTR) break;
    if (stop_ || (p[0].revents & POLLIN) != 0) break;
    if (count < 2 || p[1].revents == 0) continue;
    const ssize_t got = read(master_fd_, chunk, sizeof chunk);
    if (got <= 0) {
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      // Nothing can be read (no device side open at all): wait a little
      // instead of spinning.
      pollfd s{stop_fd_, POLLIN, 0};
      poll(&s, 1, 10);
      continue;
    }
    const std::int64_t now = NowNs();
    {
      std::lock_guard<std::mutex> lock(mu_);
      stats_.bytes_received += static_cast<std::uint64_t>(got);
    }
    const std::uint32_t rate = listen_rate_.load();
    if (ToolRate() != rate) {
      decoder = FrameDecoder(buffer.data(), buffer.size());
      continue;
    }
    // The bytes cross the wire one after another from when they were seen
    // (or from when the line was free again).
    const std::int64_t first = std::max(now, rx_clock_ns_);
    rx_clock_ns_ = first + LineNs(static_cast<std::size_t>(got), rate);
    for (ssize_t i = 0; i < got && master_fd_ >= 0 && !stop_; ++i) {
      if (decoder.Push(chunk[i]) == FrameDecoder::Step::kFrame) {
        HandleFrame(buffer.data(), decoder.Size(),
                    first + LineNs(static_cast<std::size_t>(i) + 1, rate));
      }
    }
  }
}

std::vector<RequestRecord> Simulator::Requests() const {
  std::lock_guard<std::mutex> lock(mu_);
  return {model_.Requests().begin(), model_.Requests().end()};
}

std::vector<LineMessage> Simulator::Messages() const {
  std::lock_guard<std::mutex> lock(mu_);
  return {messages_.begin(), messages_.end()};
}

void Simulator::ClearLog() {
  std::lock_guard<std::mutex> lock(mu_);
  model_.ClearRequests();
  messages_.clear();
  message_bytes_ = 0;
}

LineStats Simulator::Stats() const {
  std::lock_guard<std::mutex> lock(mu_);
  return stats_;
}

void Simulator::ClearStats() {
  std::lock_guard<std::mutex> lock(mu_);
  const bool realtime = stats_.realtime;
  stats_ = LineStats{};
  stats_.realtime = realtime;
}

Bytes Simulator::Flash(std::uint32_t address, std::size_t count) const {
  std::lock_guard<std::mutex> lock(mu_);
  return model_.ReadFlash(address, count);
}

std::vector<std::string> Simulator::FuseRows() const {
  std::lock_guard<std::mutex> lock(mu_);
  return model_.FuseRows();
}

std::string Simulator::Ues() const {
  std::lock_guard<std::mutex> lock(mu_);
  return model_.Ues();
}

bool Simulator::LogicAccess() const {
  std::lock_guard<std::mutex> lock(mu_);
  return model_.LogicAccess();
}

std::uint32_t Simulator::FirmwareStarts() const {
  std::lock_guard<std::mutex> lock(mu_);
  return model_.FirmwareStarts();
}

ProbeModelOptions Simulator::ModelOptions() const {
  std::lock_guard<std::mutex> lock(mu_);
  return model_.options();
}

void Simulator::SetModelOptions(const ProbeModelOptions& options) {
  std::lock_guard<std::mutex> lock(mu_);
  model_.SetOptions(options);
}

void Simulator::SetFaults(std::vector<Fault> faults) {
  std::lock_guard<std::mutex> lock(mu_);
  faults_.clear();
  for (const Fault& f : faults) faults_.push_back(ArmedFault{f, 0});
  silent_ = false;
}

void Simulator::AddFault(const Fault& fault) {
  std::lock_guard<std::mutex> lock(mu_);
  faults_.push_back(ArmedFault{fault, 0});
}

std::vector<Fault> Simulator::Faults() const {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<Fault> out;
  for (const ArmedFault& a : faults_) out.push_back(a.fault);
  return out;
}

std::string Simulator::LastError() const {
  std::lock_guard<std::mutex> lock(mu_);
  return last_error_;
}

}  // namespace krt::sim
