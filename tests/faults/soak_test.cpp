// Back-to-back update and erase cycles against the simulator executable, as a
// long session of the dialog would run them: connect, update firmware and
// logic, erase, leave; again and again. None may fail, and the tool's open
// descriptors and resident memory must stay flat. $KRT_SOAK_CYCLES sets the
// number of cycles (scripts/soak.sh runs 100; the suite a short form).
#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "firmware/update_command.h"
#include "logic/erase_command.h"
#include "tests/flows/flow_fixture.h"
#include "tests/support/child_process.h"

namespace krt::test {
namespace {

int OpenDescriptors() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d) != nullptr) ++n;
    closedir(d);
  }
  return n - 3;  // ".", ".." and the directory's own descriptor
}

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

TEST_F(FlowTest, SoakOfUpdateAndEraseCycles) {
  const char* env = std::getenv("KRT_SOAK_CYCLES");
  const int cycles = env != nullptr ? std::max(2, std::atoi(env)) : 5;
  // A firmware image of 64 KiB: 4096 records a cycle.
  UseImages(Images({103, 101, "COPJED70", 64 * 1024}));
  ChildProcess sim(KRT_SIM_EXE,
                   {"--rate", "115200", "--firmware-version", "102", "--logic-version", "100"});
  const std::string device = sim.FirstLine(5000);
  ASSERT_EQ(device.rfind("/dev/", 0), 0u) << device;
  SetPortDevice(1, device);

  int fds_after_first = 0;
  long rss_after_first = 0;
  for (int cycle = 1; cycle <= cycles; ++cycle) {
    OpenDialog(ui_, state_);
    ConnectCommand(ui_, state_);
    ASSERT_EQ(ui_.status, "Connecting to KRT Loader passed!") << "cycle " << cycle;
    UpdateCommand(ui_, state_);
    ASSERT_EQ(ui_.status, "Updating firmware and logic passed!") << "cycle " << cycle;
    ASSERT_EQ(state_.current_firmware, 103);
    ASSERT_EQ(state_.current_logic, 101);
    ui_.answer_yes = true;
    EraseCommand(ui_, state_);
    ASSERT_EQ(ui_.status, "Erasing Flash and EPLD passed!") << "cycle " << cycle;
    LeaveDialog(ui_);
    ui_.events.clear();
    if (cycle == 1) {
      fds_after_first = OpenDescriptors();
      rss_after_first = ResidentKiB();
    }
  }
  const int fds = OpenDescriptors();
  const long rss = ResidentKiB();
  std::printf("soak: %d cycles, descriptors %d -> %d, resident %ld -> %ld KiB\n", cycles,
              fds_after_first, fds, rss_after_first, rss);
  EXPECT_EQ(fds, fds_after_first);
  // Flat: what the first cycle left is all there is (a little allocator
  // slack allowed).
  EXPECT_LT(rss - rss_after_first, 1024);
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(5000), 0);
}

}  // namespace
}  // namespace krt::test
