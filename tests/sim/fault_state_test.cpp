// The simulator's fault texts and its state file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "sim/fault.h"
#include "sim/simulator.h"
#include "sim/state_file.h"
#include "tests/support/temp_dir.h"

namespace krt::sim {
namespace {

TEST(FaultText, ParsesAndFormatsBack) {
  struct Case {
    const char* text;
    FaultKind kind;
    int at;
    int times;
    std::optional<int> code;
  };
  const Case cases[] = {
      {"drop:at=3", FaultKind::kDrop, 3, 1, std::nullopt},
      {"status:at=2,code=104", FaultKind::kStatus, 2, 1, 104},
      {"silent:at=10", FaultKind::kSilent, 10, 1, std::nullopt},
      {"drop:times=0,code=probe", FaultKind::kDrop, 1, 0, kSpeedProbeCode},
      {"short:code=speed", FaultKind::kShort, 1, 1, kSpeedChangeCode},
      {"corrupt:at=2,times=3", FaultKind::kCorrupt, 2, 3, std::nullopt},
      {"echo114", FaultKind::kEcho114, 1, 1, std::nullopt},
      {"hangup:code=101", FaultKind::kHangup, 1, 1, 101},
  };
  for (const Case& c : cases) {
    std::string error;
    const std::optional<Fault> f = ParseFault(c.text, &error);
    ASSERT_TRUE(f) << c.text << ": " << error;
    EXPECT_EQ(f->kind, c.kind) << c.text;
    EXPECT_EQ(f->at, c.at) << c.text;
    EXPECT_EQ(f->times, c.times) << c.text;
    EXPECT_EQ(f->code, c.code) << c.text;
    EXPECT_EQ(FormatFault(*f), c.text);
  }
  const std::optional<Fault> f = ParseFault("second-reading:row=5,pos=239", nullptr);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->row, 5);
  EXPECT_EQ(f->pos, 239);
  EXPECT_EQ(ParseFault("delay:ms=0x1F4", nullptr)->ms, 500u);
  EXPECT_EQ(ParseFault("drop:at=010", nullptr)->at, 10);  // decimal, not octal
}

TEST(FaultText, RefusesWhatDoesNotApply) {
  const char* bad[] = {
      "",                        // no kind
      "stall",                   // unknown kind
      "drop:",                   // an empty value list
      "drop:at=0",               // at is 1-based
      "drop:at=-1",              // no sign
      "drop:at=3x",              // trailing text
      "drop:ms=5",               // only delay takes ms
      "drop:code=256",           // not a code
      "drop:code=frob",          // not a code name
      "drop:atx",                // no '='
      "status:code=101",         // status is for erase and program
      "code:code=probe",         // link-level answers have no command code
      "echo114:code=100",        // only 114 is echoed
      "first-reading:pos=240",   // a row has 240 fuses
      "second-reading:row=134",  // 134 rows
      "ues:pos=120",             // 120 bits
      "ues:row=1",               // rows are for the fuse row readings
  };
  for (const char* text : bad) {
    std::string error;
    EXPECT_FALSE(ParseFault(text, &error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

TEST(FaultText, WhatAFaultCounts) {
  const Fault status = *ParseFault("status", nullptr);
  EXPECT_TRUE(FaultCounts(status, {103, {}}));
  EXPECT_TRUE(FaultCounts(status, {104, {}}));
  EXPECT_FALSE(FaultCounts(status, {101, {}}));
  const Fault program = *ParseFault("status:code=104", nullptr);
  EXPECT_FALSE(FaultCounts(program, {103, {}}));

  const Fault drop = *ParseFault("drop", nullptr);
  EXPECT_TRUE(FaultCounts(drop, {114, {}}));
  EXPECT_FALSE(FaultCounts(drop, {kSpeedProbeCode, {}}));  // link level only when named
  EXPECT_TRUE(FaultCounts(*ParseFault("drop:code=probe", nullptr), {kSpeedProbeCode, {}}));

  const Fault row5 = *ParseFault("second-reading:row=5", nullptr);
  EXPECT_TRUE(FaultCounts(row5, {107, 5}));
  EXPECT_FALSE(FaultCounts(row5, {107, 6}));
  EXPECT_FALSE(FaultCounts(row5, {109, {}}));
}

class StateFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    path_ = dir_.File("probe.state");
  }

  static ProbeModel::State Programmed() {
    ProbeModel m;
    m.Handle({104, 0x01, 0x04, 0x00, 0x00, 0x00, 0x02, 0xAB, 0xCD});
    m.Handle({105, 1});
    m.Handle({112});
    m.Handle({113});
    ProbeModel::State s = m.Snapshot();
    s.rows[7][9] = '1';
    return s;
  }

  void WriteFile(const Bytes& bytes) {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }

  krt::test::TempDir dir_;
  std::string path_;
};

TEST_F(StateFileTest, RoundTripLeavesNoTemporaryFile) {
  std::string error;
  ProbeModel::State s;
  EXPECT_EQ(LoadState(path_, s, &error), StateLoad::kMissing);
  ASSERT_TRUE(SaveState(path_, Programmed(), &error)) << error;
  ASSERT_TRUE(SaveState(path_, Programmed(), &error)) << error;  // replaces the first
  ASSERT_EQ(LoadState(path_, s, &error), StateLoad::kLoaded) << error;
  EXPECT_EQ(s.flash[0x40000], 0xAB);
  EXPECT_EQ(s.rows[7][9], '1');
  EXPECT_EQ(s.firmware_starts, 1u);
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
    EXPECT_EQ(entry.path().filename(), "probe.state");
    ++files;
  }
  EXPECT_EQ(files, 1);
}

TEST_F(StateFileTest, RefusesForeignAndDamagedFilesWhole) {
  const Bytes good = EncodeState(Programmed());
  std::vector<std::pair<const char*, Bytes>> cases;
  cases.emplace_back("empty", Bytes{});
  cases.emplace_back("text", Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
  Bytes b = good;
  b.resize(good.size() - 1);
  cases.emplace_back("cut short", b);
  b = good;
  b.push_back(0);
  cases.emplace_back("too long", b);
  b = good;
  b[40000] ^= 0x01;
  cases.emplace_back("one flash bit", b);
  b = good;
  b[19] = 2;
  cases.emplace_back("another format", b);
  // A correct check over characters that are no fuse states.
  ProbeModel::State odd = Programmed();
  odd.ues[0] = 'x';
  cases.emplace_back("bad characters", EncodeState(odd));

  for (const auto& [name, bytes] : cases) {
    WriteFile(bytes);
    ProbeModel::State s;
    s.firmware_starts = 77;
    std::string error;
    EXPECT_EQ(LoadState(path_, s, &error), StateLoad::kRefused) << name;
    EXPECT_NE(error.find(path_), std::string::npos) << name << ": " << error;
    EXPECT_EQ(s.firmware_starts, 77u) << name;  // nothing taken
  }
}

TEST_F(StateFileTest, SimulatorRefusesAStateFileAndKeepsOne) {
  // Refused at start: nothing opened, no link made.
  WriteFile(Bytes{'n', 'o', 'p', 'e'});
  SimulatorOptions o;
  o.state_path = path_;
  o.link_path = dir_.File("probe");
  {
    Simulator sim(o);
    std::string error;
    EXPECT_FALSE(sim.Start(&error));
    EXPECT_NE(error.find("not a simulator state file"), std::string::npos) << error;
    EXPECT_FALSE(sim.Running());
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(o.link_path)));
  }
  // A missing file starts from the options and is written on stop.
  std::filesystem::remove(path_);
  o.model.firmware_version = 9;
  {
    Simulator sim(o);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    EXPECT_EQ(std::filesystem::read_symlink(o.link_path), sim.DevicePath());
    ASSERT_TRUE(sim.Stop(&error)) << error;
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(o.link_path)));
  }
  // The saved state wins over the start options.
  o.model.firmware_version = 0;
  Simulator sim(o);
  ASSERT_TRUE(sim.Start());
  EXPECT_EQ(sim.Flash(0x01040000, 5), (Bytes{0xAA, 0x55, 0x55, 0xAA, 9}));
}

}  // namespace
}  // namespace krt::sim
