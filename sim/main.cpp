// krt700-sim: the simulated probe loader on a pseudo-terminal. It prints the
// device path as its first line and answers there until SIGINT or SIGTERM (or
// until its standard input closes, with --stdin-lifetime).
#include <getopt.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "link/termios_rates.h"
#include "sim/simulator.h"

namespace {

using krt::sim::LineMessage;
using krt::sim::MessageKind;
using krt::sim::SimulatorOptions;

constexpr int kBadOptions = 2;

const char kUsage[] =
    "usage: krt700-sim [options]\n"
    "Simulates the KRT700 probe loader on a pseudo-terminal. The first line of\n"
    "output is the device path to open; the simulator runs until SIGINT/SIGTERM.\n"
    "\n"
    "  --rate N              start rate in bit/s (9600, 19200, 38400, 57600, 115200;\n"
    "                        default 9600)\n"
    "  --serial TEXT         serial number (default 12345678; 8 or 10 characters)\n"
    "  --loader-word N       loader version word (default 102)\n"
    "  --firmware-version N  start with firmware N (1-255) programmed\n"
    "  --logic-version N     start with logic N (1-999) programmed\n"
    "  --firmware-word N     report this firmware word instead of the programmed one\n"
    "  --logic-word N        report this logic word instead of the programmed one\n"
    "  --device-type N       logic device type byte (default 19)\n"
    "  --pace                send at the line rate (10 bits a byte)\n"
    "  --process-delay MS    wait MS milliseconds before each answer\n"
    "  --answer-rate N       answer every speed change with rate N and move there\n"
    "  --max-rate N          the highest rate the loader moves to (default 115200)\n"
    "  --link PATH           keep a symbolic link PATH to the device\n"
    "  --state FILE          load the probe's state from FILE, save it there on stop\n"
    "                        and after each firmware start\n"
    "  --fault FAULT         inject a fault, e.g. drop:at=3, status:at=2,code=104,\n"
    "                        silent:at=10 (repeatable; see sim/README.md)\n"
    "  --stats FILE          on stop, write the line's counters to FILE (bytes both\n"
    "                        ways, frames, pacing lateness), one name=value a line\n"
    "  --log                 one line a message received, on standard error\n"
    "  --stdin-lifetime      also stop when standard input is closed\n"
    "  --help                this text\n";

// The counters of the line as name=value lines; false when the file cannot
// be written.
bool WriteStats(const std::string& path, const krt::sim::LineStats& s) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) return false;
  const struct {
    const char* name;
    long long value;
  } rows[] = {
      {"bytes_received", static_cast<long long>(s.bytes_received)},
      {"bytes_sent", static_cast<long long>(s.bytes_sent)},
      {"frames_received", static_cast<long long>(s.frames_received)},
      {"speed_probes", static_cast<long long>(s.speed_probes)},
      {"speed_changes", static_cast<long long>(s.speed_changes)},
      {"requests", static_cast<long long>(s.requests)},
      {"answers", static_cast<long long>(s.answers)},
      {"paced_chunks", static_cast<long long>(s.paced_chunks)},
      {"chunk_late_ns_total", static_cast<long long>(s.chunk_late_ns_total)},
      {"chunk_late_ns_max", static_cast<long long>(s.chunk_late_ns_max)},
      {"paced_answers", static_cast<long long>(s.paced_answers)},
      {"answer_late_ns_total", static_cast<long long>(s.answer_late_ns_total)},
      {"answer_late_ns_max", static_cast<long long>(s.answer_late_ns_max)},
      {"realtime", s.realtime ? 1 : 0},
  };
  for (const auto& row : rows) std::fprintf(f, "%s=%lld\n", row.name, row.value);
  const bool written = std::ferror(f) == 0;
  return std::fclose(f) == 0 && written;
}

[[noreturn]] void BadOption(const std::string& text) {
  std::fprintf(stderr, "krt700-sim: %s (see --help)\n", text.c_str());
  std::exit(kBadOptions);
}

unsigned long Number(const char* option, const char* text, unsigned long max) {
  errno = 0;
  char* end = nullptr;
  const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const unsigned long v = std::strtoul(text, &end, hex ? 16 : 10);
  if (text[0] == '\0' || text[0] == '-' || *end != '\0' || errno != 0 || v > max) {
    BadOption(std::string("bad value for --") + option + ": '" + text + "'");
  }
  return v;
}

std::uint32_t LoaderRate(const char* option, const char* text) {
  const unsigned long v = Number(option, text, 115200);
  for (std::uint32_t r : {9600u, 19200u, 38400u, 57600u, 115200u}) {
    if (v == r) return r;
  }
  BadOption(std::string("--") + option + " must be 9600, 19200, 38400, 57600 or 115200");
}

void LogMessage(const LineMessage& m) {
  std::string line;
  char part[96];
  switch (m.kind) {
    case MessageKind::kSpeedProbe:
      std::snprintf(part, sizeof part, "speed probe at %u bit/s", m.rate);
      line = part;
      break;
    case MessageKind::kSpeedChange: {
      const auto& p = m.payload;
      const unsigned asked =
          (unsigned{p[1]} << 24) | (unsigned{p[2]} << 16) | (unsigned{p[3]} << 8) | p[4];
      std::snprintf(part, sizeof part, "speed change to %u at %u bit/s", asked, m.rate);
      line = part;
      break;
    }
    case MessageKind::kOtherLink:
    case MessageKind::kRequest: {
      if (m.kind == MessageKind::kRequest && !m.payload.empty()) {
        const unsigned code = m.payload[0];
        std::snprintf(part, sizeof part, "request %u '%c' seq %d at %u bit/s, %zu bytes:", code,
                      code >= 0x20 && code < 0x7F ? static_cast<char>(code) : '?', m.sequence(),
                      m.rate, m.payload.size());
      } else {
        std::snprintf(part, sizeof part, "%s at %u bit/s, %zu bytes:",
                      m.kind == MessageKind::kRequest ? "empty request" : "link message", m.rate,
                      m.payload.size());
      }
      line = part;
      const std::size_t shown = std::min<std::size_t>(m.payload.size(), 16);
      for (std::size_t i = 0; i < shown; ++i) {
        std::snprintf(part, sizeof part, " %02X", m.payload[i]);
        line += part;
      }
      if (shown < m.payload.size()) line += " ...";
      break;
    }
  }
  std::fprintf(stderr, "krt700-sim: %s\n", line.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  enum Option {
    kRate = 1000,
    kSerial,
    kLoaderWord,
    kFirmwareVersion,
    kLogicVersion,
    kFirmwareWord,
    kLogicWord,
    kDeviceType,
    kPace,
    kProcessDelay,
    kAnswerRate,
    kMaxRate,
    kLink,
    kState,
    kFault,
    kStats,
    kLog,
    kStdinLifetime,
    kHelp,
  };
  static const option kOptions[] = {
      {"rate", required_argument, nullptr, kRate},
      {"serial", required_argument, nullptr, kSerial},
      {"loader-word", required_argument, nullptr, kLoaderWord},
      {"firmware-version", required_argument, nullptr, kFirmwareVersion},
      {"logic-version", required_argument, nullptr, kLogicVersion},
      {"firmware-word", required_argument, nullptr, kFirmwareWord},
      {"logic-word", required_argument, nullptr, kLogicWord},
      {"device-type", required_argument, nullptr, kDeviceType},
      {"pace", no_argument, nullptr, kPace},
      {"process-delay", required_argument, nullptr, kProcessDelay},
      {"answer-rate", required_argument, nullptr, kAnswerRate},
      {"max-rate", required_argument, nullptr, kMaxRate},
      {"link", required_argument, nullptr, kLink},
      {"state", required_argument, nullptr, kState},
      {"fault", required_argument, nullptr, kFault},
      {"stats", required_argument, nullptr, kStats},
      {"log", no_argument, nullptr, kLog},
      {"stdin-lifetime", no_argument, nullptr, kStdinLifetime},
      {"help", no_argument, nullptr, kHelp},
      {nullptr, 0, nullptr, 0},
  };

  SimulatorOptions options;
  std::string stats_path;
  bool log = false;
  bool stdin_lifetime = false;
  opterr = 0;
  for (;;) {
    const int c = getopt_long(argc, argv, "", kOptions, nullptr);
    if (c == -1) break;
    const char* name = optind > 0 && optind <= argc ? argv[optind - 1] : "";
    switch (c) {
      case kRate:
        options.rate = LoaderRate("rate", optarg);
        break;
      case kSerial:
        if (std::strlen(optarg) > 64) BadOption("--serial is longer than 64 characters");
        options.model.serial_number = optarg;
        break;
      case kLoaderWord:
        options.model.loader_word =
            static_cast<std::uint16_t>(Number("loader-word", optarg, 0xFFFF));
        break;
      case kFirmwareVersion:
        options.model.firmware_version =
            static_cast<std::uint8_t>(Number("firmware-version", optarg, 255));
        break;
      case kLogicVersion:
        options.model.logic_version =
            static_cast<std::uint16_t>(Number("logic-version", optarg, 999));
        break;
      case kFirmwareWord:
        options.model.firmware_word =
            static_cast<std::uint16_t>(Number("firmware-word", optarg, 0xFFFF));
        break;
      case kLogicWord:
        options.model.logic_word = static_cast<std::uint16_t>(Number("logic-word", optarg, 0xFFFF));
        break;
      case kDeviceType:
        options.model.device_type = static_cast<std::uint8_t>(Number("device-type", optarg, 255));
        break;
      case kPace:
        options.pace = true;
        break;
      case kProcessDelay:
        options.process_delay_ms =
            static_cast<std::uint32_t>(Number("process-delay", optarg, 600000));
        break;
      case kAnswerRate: {
        const auto rate = static_cast<std::uint32_t>(Number("answer-rate", optarg, 4000000));
        speed_t speed = 0;
        if (!krt::TermiosSpeedForRate(rate, speed)) {
          BadOption("--answer-rate " + std::string(optarg) + " is not a rate a serial line takes");
        }
        options.answer_rate = rate;
        break;
      }
      case kMaxRate:
        options.max_rate = LoaderRate("max-rate", optarg);
        break;
      case kLink:
        options.link_path = optarg;
        break;
      case kState:
        options.state_path = optarg;
        break;
      case kFault: {
        std::string why;
        const std::optional<krt::sim::Fault> f = krt::sim::ParseFault(optarg, &why);
        if (!f) BadOption("bad --fault '" + std::string(optarg) + "': " + why);
        options.faults.push_back(*f);
        break;
      }
      case kStats:
        stats_path = optarg;
        break;
      case kLog:
        log = true;
        break;
      case kStdinLifetime:
        stdin_lifetime = true;
        break;
      case kHelp:
        std::fputs(kUsage, stdout);
        return 0;
      case ':':
        BadOption(std::string("option ") + name + " needs a value");
      default:
        BadOption(std::string("unknown option ") + name);
    }
  }
  if (optind < argc) BadOption(std::string("unexpected argument '") + argv[optind] + "'");
  if (options.rate > options.max_rate) BadOption("--rate is above --max-rate");
  if (log) options.on_message = LogMessage;

  // The stop signals are taken through a descriptor; blocking them before the
  // line thread starts keeps them off that thread.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  const int signal_fd = signalfd(-1, &stop_signals, SFD_CLOEXEC);
  if (signal_fd < 0) {
    std::fprintf(stderr, "krt700-sim: cannot take signals: %s\n", std::strerror(errno));
    return 1;
  }

  krt::sim::Simulator simulator(options);
  std::string error;
  if (!simulator.Start(&error)) {
    std::fprintf(stderr, "krt700-sim: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s\n", simulator.DevicePath().c_str());
  std::fflush(stdout);

  for (;;) {
    pollfd p[2] = {{signal_fd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    if (poll(p, stdin_lifetime ? 2 : 1, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (p[0].revents != 0) break;
    if (stdin_lifetime && p[1].revents != 0) {
      char scratch[256];
      const ssize_t n = read(STDIN_FILENO, scratch, sizeof scratch);
      if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) break;
    }
  }
  close(signal_fd);
  const bool stopped = simulator.Stop(&error);
  if (!stopped) std::fprintf(stderr, "krt700-sim: %s\n", error.c_str());
  if (!stats_path.empty() && !WriteStats(stats_path, simulator.Stats())) {
    std::fprintf(stderr, "krt700-sim: cannot write %s: %s\n", stats_path.c_str(),
                 std::strerror(errno));
    return 1;
  }
  return stopped ? 0 : 1;
}
