// The fault matrix: every command flow against the simulated probe with one
// fault at a time. Each case checks that the run ends within its bound with
// the flow's own final status and boxes, that a passed status always means the
// probe holds what was asked, and that after a persistent fault a clean
// Update brings flash and logic back to the images exactly. Each case writes
// one row of the matrix into $KRT_FAULT_MATRIX_DIR, which scripts/test.sh
// prints as a table.
#include <chrono>
#include <cstdio>
#include <fstream>

#include "firmware/firmware_flashing.h"
#include "firmware/update_command.h"
#include "loader/loader.h"
#include "logic/erase_command.h"
#include "logic/logic_steps.h"
#include "setup/setup_record.h"
#include "tests/flows/flow_fixture.h"

namespace krt::test {
namespace {

enum class Flow { kConnect, kUpdate, kErase, kTransmit };

struct MatrixCase {
  const char* name;  // for the test's name and the row
  Flow flow;
  const char* fault;               // in the simulator's text form
  bool transient;                  // the retries absorb it: the flow passes
  std::vector<std::string> boxes;  // expected when it does not pass
  int bound_ms;                    // the run ends before this
  // The loader's time to carry out each request. A late answer is then
  // followed, a few milliseconds later, by the answer to the request sent
  // again: the case the link must not fall one answer behind in.
  std::uint32_t process_ms = 0;
};

const char* FlowName(Flow f) {
  switch (f) {
    case Flow::kConnect:
      return "Connect";
    case Flow::kUpdate:
      return "Update";
    case Flow::kErase:
      return "Erase";
    case Flow::kTransmit:
      return "Transmit";
  }
  return "?";
}

const char* PassedStatus(Flow f) {
  switch (f) {
    case Flow::kConnect:
      return "Connecting to KRT Loader passed!";
    case Flow::kUpdate:
      return "Updating firmware and logic passed!";
    case Flow::kErase:
      return "Erasing Flash and EPLD passed!";
    case Flow::kTransmit:
      return "Writing setup data passed";
  }
  return "?";
}

const char* FailedStatus(Flow f) {
  switch (f) {
    case Flow::kConnect:
      return "Connecting to KRT loader failed!";
    case Flow::kUpdate:
      return "Updating firmware and logic failed!";
    case Flow::kErase:
      return "Erasing Flash and EPLD failed!";
    case Flow::kTransmit:
      return "Writing setup data failed!";
  }
  return "?";
}

const std::string kComm = "Tovlane/none: Communication with KRT failed!";
const std::string kFirmwareFailed = "Tovlane/none: Firmware update failed!";
const std::string kCannotConnect = "Tovlane/none: Cannot connect to KRT loader!";
const std::string kTransferFailed = "Error/exclamation: Transfer failed!";

// Deadlines at 115200 bit/s, per attempt: 340 ms for identification's first
// request and ReadFlash, 1330 ms for ProgramFlash and the second
// identification request, 430 ms for most logic commands, 10.3 s for a sector
// erase. The bounds leave room for a loaded machine.
const MatrixCase kCases[] = {
    {"ConnectDrop", Flow::kConnect, "drop:at=1,code=114", true, {}, 3000},
    {"ConnectCorrupt", Flow::kConnect, "corrupt:at=1,code=100", true, {}, 3000},
    {"ConnectLate", Flow::kConnect, "delay:at=1,code=114,ms=500", true, {}, 3000, 2},
    {"ConnectLength", Flow::kConnect, "length:at=1,code=100", true, {}, 3000},
    {"ConnectSilent", Flow::kConnect, "silent:at=1", false, {kCannotConnect}, 45000},
    {"ConnectHangup", Flow::kConnect, "hangup:at=1", false, {kCannotConnect}, 3000},
    {"ConnectWrongCode",
     Flow::kConnect,
     "code:at=1,code=100,times=0",
     false,
     {kCannotConnect},
     8000},

    {"FirmwareDrop", Flow::kUpdate, "drop:at=100,code=104", true, {}, 8000},
    {"FirmwareCorrupt", Flow::kUpdate, "corrupt:at=100,code=104", true, {}, 5000},
    {"FirmwareLate", Flow::kUpdate, "delay:at=100,code=104,ms=1500", true, {}, 8000, 2},
    {"FirmwareLength", Flow::kUpdate, "length:at=100,code=104", true, {}, 5000},
    {"FirmwareSilent", Flow::kUpdate, "silent:at=100", false, {kFirmwareFailed}, 10000},
    {"FirmwareHangup", Flow::kUpdate, "hangup:at=100", false, {kFirmwareFailed}, 5000},
    {"FirmwareStatus", Flow::kUpdate, "status:at=100,code=104", false, {kFirmwareFailed}, 5000},

    {"LogicDrop", Flow::kUpdate, "drop:at=50,code=108", true, {}, 8000},
    {"LogicCorrupt", Flow::kUpdate, "corrupt:at=50,code=107", true, {}, 5000},
    {"LogicLate", Flow::kUpdate, "delay:at=50,code=107,ms=700", true, {}, 8000, 2},
    {"LogicLength", Flow::kUpdate, "length:at=50,code=107", true, {}, 5000},
    {"LogicSilent", Flow::kUpdate, "silent:at=50,code=108", false, {kComm, kComm}, 10000},
    {"LogicHangup", Flow::kUpdate, "hangup:at=50,code=108", false, {kComm, kComm}, 5000},
    {"LogicBadReading",
     Flow::kUpdate,
     "second-reading:at=50",
     false,
     {"Tovlane/none: Logic: Fuse map erased verification failed!"},
     5000},

    {"EraseDrop", Flow::kErase, "drop:at=1,code=105", true, {}, 5000},
    {"EraseCorrupt", Flow::kErase, "corrupt:at=1,code=106", true, {}, 5000},
    {"EraseLate", Flow::kErase, "delay:at=1,code=112,ms=1000", true, {}, 8000, 2},
    {"EraseLength", Flow::kErase, "length:at=2,code=103", true, {}, 5000},
    {"EraseSilent", Flow::kErase, "silent:at=1", false, {kComm, kComm}, 50000},
    {"EraseHangup", Flow::kErase, "hangup:at=5", false, {}, 5000},
    {"EraseStatus", Flow::kErase, "status:at=3,code=103", false, {}, 5000},

    {"TransmitDrop", Flow::kTransmit, "drop:at=1,code=104", true, {}, 8000},
    {"TransmitCorrupt", Flow::kTransmit, "corrupt:at=1,code=101", true, {}, 5000},
    {"TransmitLate", Flow::kTransmit, "delay:at=1,code=101,ms=600", true, {}, 5000, 2},
    {"TransmitLength", Flow::kTransmit, "length:at=1,code=103", true, {}, 5000},
    {"TransmitSilent", Flow::kTransmit, "silent:at=1", false, {kTransferFailed}, 5000},
    {"TransmitHangup", Flow::kTransmit, "hangup:at=3", false, {kTransferFailed}, 5000},
    {"TransmitStatus", Flow::kTransmit, "status:at=1,code=104", false, {kTransferFailed}, 5000},
};

void PrintTo(const MatrixCase& c, std::ostream* os) { *os << c.name << " (" << c.fault << ")"; }

class FaultMatrix : public FlowTest, public ::testing::WithParamInterface<MatrixCase> {
 protected:
  // The probe starts one version behind the images.
  void SetUp() override {
    FlowTest::SetUp();
    sim::SimulatorOptions o = ProbeBehindImages();
    o.process_delay_ms = GetParam().process_ms;
    StartSim(o);
  }

  // True when the probe holds the images exactly: the firmware with its
  // signature, every fuse row and the signature text of the logic.
  bool ProbeHoldsTheImages() const {
    const sim::Bytes expected = ExpectedFirmware(Images());
    return sim_->Flash(0x01040000, expected.size()) == expected &&
           sim_->FuseRows() == ExpectedRows(Images()) && sim_->Ues() == EncodeUes("B6001E7101");
  }

  bool ProbeIsErased() const {
    for (std::uint32_t sector : kFlashSectors) {
      if (sim_->Flash(sector, 64) != sim::Bytes(64, 0xFF)) return false;
    }
    return sim_->Ues() == std::string(120, '0');
  }

  bool ProbeHoldsTheRecord() const {
    const SetupRecord r = BuildSetupRecord(sim_->ModelOptions().serial_number, "192.168.1.10",
                                           "255.255.255.0", "192.168.1.1", "255.255.255.255", "");
    return sim_->Flash(0x01008000, r.size()) == sim::Bytes(r.begin(), r.end());
  }

  bool ProbeHoldsWhatWasAsked(Flow flow) const {
    switch (flow) {
      case Flow::kConnect:
        return true;
      case Flow::kUpdate:
        return ProbeHoldsTheImages();
      case Flow::kErase:
        return ProbeIsErased();
      case Flow::kTransmit:
        return ProbeHoldsTheRecord();
    }
    return false;
  }

  void Run(Flow flow) {
    switch (flow) {
      case Flow::kConnect:
        ConnectCommand(ui_, state_);
        break;
      case Flow::kUpdate:
        UpdateCommand(ui_, state_);
        break;
      case Flow::kErase:
        EraseCommand(ui_, state_);
        break;
      case Flow::kTransmit:
        TransmitCommand(ui_, state_);
        break;
    }
  }

  // After the fault: a clean line again (a new terminal after a hang-up), a
  // connection, and an Update that must bring the images back exactly.
  bool Recover() {
    sim_->SetFaults({});
    if (sim_->HungUp()) {
      std::string error;
      if (!sim_->Restart(&error)) return false;
      SetPortDevice(1, sim_->DevicePath());
    }
    LinkClose();
    ui_.events.clear();
    ConnectCommand(ui_, state_);
    if (ui_.status != PassedStatus(Flow::kConnect)) return false;
    UpdateCommand(ui_, state_);
    return ui_.status == PassedStatus(Flow::kUpdate) && ProbeHoldsTheImages();
  }

  void WriteRow(const MatrixCase& c, const std::string& status, long ms, bool ok_state,
                const char* recovered) {
    const char* dir = std::getenv("KRT_FAULT_MATRIX_DIR");
    char row[512];
    std::snprintf(row, sizeof row, "| %-9s | %-32s | %-6s | %-36s | %5ld ms | %-6s | %-9s |\n",
                  FlowName(c.flow), c.fault, c.transient ? "once" : "stays", status.c_str(), ms,
                  ok_state ? "yes" : "NO", recovered);
    std::fputs(row, stdout);
    if (dir == nullptr) return;
    int index = 0;
    while (std::string(kCases[index].name) != c.name) ++index;
    char name[64];
    std::snprintf(name, sizeof name, "/%02d.row", index);
    std::ofstream(std::string(dir) + name) << row;
  }
};

TEST_P(FaultMatrix, EndsInTimeWithItsStatusAndRecovers) {
  const MatrixCase& c = GetParam();
  std::string error;
  auto fault = sim::ParseFault(c.fault, &error);
  ASSERT_TRUE(fault.has_value()) << error;

  OpenDialog(ui_, state_);
  if (c.flow != Flow::kConnect) {
    ConnectCommand(ui_, state_);
    ASSERT_EQ(ui_.status, PassedStatus(Flow::kConnect));
  }
  ui_.events.clear();
  sim_->SetFaults({*fault});

  const auto start = std::chrono::steady_clock::now();
  Run(c.flow);
  const long ms = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now() - start)
                                        .count());
  const std::string status = ui_.status;
  const bool passed = status == PassedStatus(c.flow);
  // A passed status is only ever shown when the probe holds what was asked.
  const bool holds = !passed || ProbeHoldsWhatWasAsked(c.flow);

  EXPECT_LT(ms, c.bound_ms);
  EXPECT_TRUE(holds);
  if (c.transient) {
    EXPECT_TRUE(passed) << ::testing::PrintToString(ui_.Boxes());
    EXPECT_THAT(ui_.Boxes(), ::testing::IsEmpty());
  } else {
    EXPECT_EQ(ui_.status, FailedStatus(c.flow));
    EXPECT_EQ(ui_.Boxes(), c.boxes);
  }
  const bool recovered = Recover();
  EXPECT_TRUE(recovered) << ui_.status;
  WriteRow(c, status, ms, holds, recovered ? "recovered" : "NO");
}

INSTANTIATE_TEST_SUITE_P(Cases, FaultMatrix, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace krt::test
