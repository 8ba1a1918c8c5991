// The whole tool against the line's limit: `krt700 update` against a
// `krt700-sim` process, the tool's wall, user and system time, and the bytes
// that crossed the line both ways as the simulator counted them.
//
//   bench_update --tool KRT700 --sim KRT700_SIM --images DIR [--unpaced]
//                [--rate N] [--firmware-version N] [--logic-version N]
//                [--timeout SECONDS]
//
// The simulated probe starts at the rate (default 115200), so the link
// start-up needs one speed probe and no speed change, with firmware 1.02 and
// logic 1.00 (so that an image set of 1.03 / 1.01 programs both). It paces
// both directions at the line rate with no processing delay, unless
// --unpaced. The tool's standard output goes to a pipe this program drains,
// as when a script reads it. A tool still running after the time-out
// (default 1800 s) is killed and the run fails.
//
// Prints name=value lines:
//   wall_s user_s sys_s cpu_share    the tool's times (getrusage of the child)
//   bytes_received bytes_sent        what crossed the line, per the simulator
//   line_s                           (received + sent) x 10 / rate
//   pauses                           the start-up's 300 ms pauses of a clean run
//   bound_s ratio                    line_s + 0.3 x pauses; wall_s / bound_s
//   requests transactions_per_s      the requests the probe answered
//   clean_startup passed exit        one probe, no speed change; "update passed"
//   answer_late_us_mean/_max         how late the simulator wrote the last byte
//                                    of its paced answers (its own precision)
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench/child.h"

namespace krt::bench {
namespace {

constexpr double kStartUpPauseS = 0.300;

[[noreturn]] void Usage(const std::string& why) {
  std::fprintf(stderr,
               "bench_update: %s\n"
               "usage: bench_update --tool KRT700 --sim KRT700_SIM --images DIR [--unpaced]\n"
               "                    [--rate N] [--firmware-version N] [--logic-version N]\n"
               "                    [--timeout SECONDS]\n",
               why.c_str());
  std::exit(2);
}

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "bench_update: %s\n", why.c_str());
  std::exit(1);
}

// Reads one line from `fd` within `timeout_ms`; empty on time-out or end.
std::string ReadLine(int fd, int timeout_ms) {
  std::string line;
  const double end = NowSeconds() + timeout_ms / 1000.0;
  while (NowSeconds() < end) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    char c = 0;
    if (read(fd, &c, 1) != 1) break;
    if (c == '\n') return line;
    line.push_back(c);
  }
  return "";
}

std::map<std::string, long long> ReadStats(const std::string& path) {
  std::map<std::string, long long> stats;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    stats[line.substr(0, eq)] = std::atoll(line.c_str() + eq + 1);
  }
  return stats;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int OpenFile(const std::string& path, int flags) {
  const int fd = open(path.c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) Fail("cannot open " + path + ": " + std::strerror(errno));
  return fd;
}

int Run(int argc, char** argv) {
  std::string tool;
  std::string sim;
  std::string images;
  std::string rate = "115200";
  std::string firmware_version = "102";
  std::string logic_version = "100";
  bool paced = true;
  double timeout_s = 1800;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Usage(a + " needs a value");
      return argv[++i];
    };
    if (a == "--tool") {
      tool = value();
    } else if (a == "--sim") {
      sim = value();
    } else if (a == "--images") {
      images = value();
    } else if (a == "--rate") {
      rate = value();
    } else if (a == "--firmware-version") {
      firmware_version = value();
    } else if (a == "--logic-version") {
      logic_version = value();
    } else if (a == "--unpaced") {
      paced = false;
    } else if (a == "--timeout") {
      timeout_s = std::atof(value().c_str());
    } else {
      Usage("unknown argument " + a);
    }
  }
  if (tool.empty() || sim.empty() || images.empty()) Usage("--tool, --sim and --images are needed");
  const double bit_rate = std::atof(rate.c_str());
  if (bit_rate <= 0) Usage("bad --rate");

  char dir_template[] = "/tmp/krt700-bench.XXXXXX";
  const char* tmp = mkdtemp(dir_template);
  if (tmp == nullptr) Fail("cannot make a temporary directory");
  const std::string dir = tmp;
  const std::string stats_path = dir + "/sim.stats";
  // The tool's settings stay those of a fresh user.
  setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);

  // The simulator: its standard input is a pipe held open here, so that it
  // ends with this program whatever happens.
  int sim_in[2];
  int sim_out[2];
  if (pipe2(sim_in, O_CLOEXEC) != 0 || pipe2(sim_out, O_CLOEXEC) != 0) Fail("pipe");
  const int sim_err = OpenFile(dir + "/sim.err", O_WRONLY | O_CREAT | O_TRUNC);
  std::vector<std::string> sim_args = {
      "--rate",      rate,      "--firmware-version", firmware_version,  "--logic-version",
      logic_version, "--stats", stats_path,           "--stdin-lifetime"};
  if (paced) sim_args.push_back("--pace");
  const pid_t sim_pid = Spawn(sim, sim_args, {sim_in[0], sim_out[1], sim_err});
  if (sim_pid < 0) Fail("cannot start " + sim);
  close(sim_in[0]);
  close(sim_out[1]);
  close(sim_err);
  const std::string device = ReadLine(sim_out[0], 10000);
  if (device.empty()) Fail("the simulator did not start: " + ReadAll(dir + "/sim.err"));

  // The tool, its output on a pipe drained here.
  int tool_out[2];
  if (pipe2(tool_out, O_CLOEXEC) != 0) Fail("pipe");
  const int null_in = OpenFile("/dev/null", O_RDONLY);
  const int tool_err = OpenFile(dir + "/tool.err", O_WRONLY | O_CREAT | O_TRUNC);
  const double t0 = NowSeconds();
  const pid_t tool_pid =
      Spawn(tool, {"--port", device, "--speed", rate, "--images", images, "update"},
            {null_in, tool_out[1], tool_err});
  if (tool_pid < 0) Fail("cannot start " + tool);
  close(tool_out[1]);
  std::string output;
  char buffer[4096];
  bool timed_out = false;
  for (;;) {
    if (NowSeconds() - t0 > timeout_s) {
      // A tool that never ends would hold the script forever.
      kill(tool_pid, SIGKILL);
      timed_out = true;
      break;
    }
    pollfd p{tool_out[0], POLLIN, 0};
    if (poll(&p, 1, 1000) == 0) continue;
    const ssize_t n = read(tool_out[0], buffer, sizeof buffer);
    if (n > 0) {
      output.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    break;
  }
  const ChildEnd end = Wait(tool_pid);
  const double wall_s = NowSeconds() - t0;
  close(tool_out[0]);
  close(null_in);
  close(tool_err);

  // Stopping the simulator writes its counters.
  kill(sim_pid, SIGTERM);
  close(sim_in[1]);
  const ChildEnd sim_end = Wait(sim_pid);
  close(sim_out[0]);
  if (sim_end.status != 0) Fail("the simulator failed: " + ReadAll(dir + "/sim.err"));
  std::map<std::string, long long> stats = ReadStats(stats_path);
  if (stats.empty()) Fail("no counters in " + stats_path);

  const long long received = stats["bytes_received"];
  const long long sent = stats["bytes_sent"];
  const double line_s = static_cast<double>(received + sent) * 10.0 / bit_rate;
  const bool clean = stats["speed_probes"] == 1 && stats["speed_changes"] == 0;
  // A clean start-up has the one pause before the speed probe at the wanted
  // rate; a search would add one a rate tried and one after the speed change.
  const int pauses = 1;
  const double bound_s = line_s + kStartUpPauseS * pauses;
  const bool passed = end.status == 0 && output.find("update passed") != std::string::npos;
  const long long answers = stats["paced_answers"];

  std::printf("wall_s=%.3f\n", wall_s);
  std::printf("user_s=%.3f\n", end.user_s);
  std::printf("sys_s=%.3f\n", end.sys_s);
  std::printf("cpu_share=%.5f\n", (end.user_s + end.sys_s) / wall_s);
  std::printf("bytes_received=%lld\n", received);
  std::printf("bytes_sent=%lld\n", sent);
  std::printf("line_s=%.3f\n", line_s);
  std::printf("pauses=%d\n", pauses);
  std::printf("bound_s=%.3f\n", bound_s);
  std::printf("ratio=%.4f\n", wall_s / bound_s);
  std::printf("requests=%lld\n", stats["requests"]);
  std::printf("transactions_per_s=%.0f\n", static_cast<double>(stats["requests"]) / wall_s);
  std::printf("clean_startup=%d\n", clean ? 1 : 0);
  std::printf("passed=%d\n", passed ? 1 : 0);
  std::printf("exit=%d\n", end.status);
  std::printf(
      "answer_late_us_mean=%.1f\n",
      answers > 0 ? static_cast<double>(stats["answer_late_ns_total"]) / answers / 1000.0 : 0.0);
  std::printf("answer_late_us_max=%.1f\n",
              static_cast<double>(stats["answer_late_ns_max"]) / 1000.0);
  if (timed_out) std::fprintf(stderr, "bench_update: the tool ran past %.0f s\n", timeout_s);
  if (!passed) {
    std::fprintf(stderr, "bench_update: the update did not pass (exit %d)\n%s%s", end.status,
                 output.c_str(), ReadAll(dir + "/tool.err").c_str());
  }
  for (const char* f : {"/sim.stats", "/sim.err", "/tool.err"}) unlink((dir + f).c_str());
  rmdir((dir + "/config").c_str());
  rmdir(dir.c_str());
  return passed ? 0 : 1;
}

}  // namespace
}  // namespace krt::bench

int main(int argc, char** argv) { return krt::bench::Run(argc, argv); }
