// The krt700-sim executable: its first line, a link through it, its stops
// and its refusals.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "link/link.h"
#include "loader/loader.h"
#include "sim/state_file.h"
#include "tests/sim/raw_client.h"
#include "tests/support/child_process.h"

extern char** environ;

namespace krt::sim {
namespace {

using test::NowMs;

// The simulator executable as a child process.
class Child : public krt::test::ChildProcess {
 public:
  explicit Child(const std::vector<std::string>& args) : ChildProcess(KRT_SIM_EXE, args) {}
};

class SimExeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/krt-sim-exe-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
  }
  void TearDown() override {
    LinkClose();
    std::filesystem::remove_all(dir_);
  }
  std::string dir_;
};

TEST_F(SimExeTest, LinksIdentifiesAndStopsCleanlyOnSigterm) {
  const std::string link = dir_ + "/probe";
  const std::string state = dir_ + "/probe.state";
  const std::string stats = dir_ + "/line.stats";
  Child sim({"--rate", "115200", "--serial", "ABCDEFGH12", "--firmware-version", "3", "--link",
             link, "--state", state, "--log", "--stats", stats});
  const std::string path = sim.FirstLine(5000);
  ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
  EXPECT_EQ(std::filesystem::read_symlink(link), path);

  ASSERT_EQ(LinkOpen(link, 115200), rc::kOk);
  VersionNumber loader = 0, firmware = 0, logic = 0;
  std::string serial;
  ASSERT_EQ(IdentifyLoader(loader, firmware, logic, serial), rc::kOk);
  EXPECT_EQ(serial, "ABCDEFGH12");
  EXPECT_EQ(loader, 102);
  EXPECT_EQ(firmware, 3);
  // The state is written after each firmware start, before any stop.
  EXPECT_FALSE(std::filesystem::exists(state));
  ASSERT_EQ(StartFirmware(), rc::kOk);
  LinkClose();
  ProbeModel::State saved;
  std::string error;
  for (int i = 0; i < 200 && LoadState(state, saved, &error) != StateLoad::kLoaded; ++i) {
    usleep(10000);
  }
  EXPECT_EQ(saved.firmware_starts, 1u) << error;

  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(5000), 0);
  const std::string log = sim.Stderr();
  EXPECT_NE(log.find("krt700-sim: speed probe at 115200 bit/s"), std::string::npos) << log;
  EXPECT_NE(log.find("request 100 'd' seq 1"), std::string::npos) << log;
  // Stopped cleanly: the link is gone, the state saved.
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
  ASSERT_EQ(LoadState(state, saved, &error), StateLoad::kLoaded) << error;
  EXPECT_EQ(saved.flash.at(0x40004), 3);
  EXPECT_EQ(saved.firmware_starts, 1u);
  // The line's counters, written on stop: one probe and three requests (114,
  // 100, 113), each answered; the wake-up bytes and frames on the way in.
  std::ifstream in(stats);
  std::map<std::string, long long> counters;
  for (std::string line; std::getline(in, line);) {
    const std::size_t eq = line.find('=');
    ASSERT_NE(eq, std::string::npos) << line;
    counters[line.substr(0, eq)] = std::stoll(line.substr(eq + 1));
  }
  EXPECT_EQ(counters["speed_probes"], 1);
  EXPECT_EQ(counters["speed_changes"], 0);
  EXPECT_EQ(counters["requests"], 3);
  EXPECT_EQ(counters["answers"], 4);
  EXPECT_GT(counters["bytes_received"], 2 + 4 * 7);
  EXPECT_GT(counters["bytes_sent"], 4 * 7);
  EXPECT_EQ(counters.count("answer_late_ns_max"), 1u);
}

TEST_F(SimExeTest, StopsWhenStandardInputCloses) {
  Child sim({"--stdin-lifetime"});
  ASSERT_EQ(sim.FirstLine(5000).rfind("/dev/pts/", 0), 0u);
  sim.CloseStdin();
  EXPECT_EQ(sim.Wait(5000), 0);
}

TEST_F(SimExeTest, RefusesBadOptionsWithOneLine) {
  const std::vector<std::vector<std::string>> cases = {
      {"--bogus"},
      {"--rate", "1234"},
      {"--rate"},
      {"--logic-version", "1000"},
      {"--firmware-version", "-1"},
      {"--process-delay", "ten"},
      {"--fault", "status:code=101"},
      {"--fault", "nope"},
      {"--rate", "115200", "--max-rate", "57600"},
      {"stray"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args[0]);
    Child sim(args);
    EXPECT_EQ(sim.Wait(5000), 2);
    const std::string err = sim.Stderr();
    EXPECT_EQ(err.rfind("krt700-sim: ", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  }
}

TEST_F(SimExeTest, RefusesADamagedStateFile) {
  const std::string state = dir_ + "/probe.state";
  {
    ProbeModel model;
    Bytes bytes = EncodeState(model.Snapshot());
    bytes[1000] ^= 0x40;
    const int fd = open(state.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
  }
  Child sim({"--state", state});
  EXPECT_EQ(sim.Wait(5000), 1);
  const std::string err = sim.Stderr();
  EXPECT_NE(err.find("damaged"), std::string::npos) << err;
  // Left as it was, not replaced by a fresh state.
  ProbeModel::State s;
  EXPECT_EQ(LoadState(state, s, nullptr), StateLoad::kRefused);
}

}  // namespace
}  // namespace krt::sim
