// Firmware verification: what an image puts into the flash, and the reads
// that compare it with the simulated probe's flash.
#include "firmware/verify_image.h"

#include <cstdio>

#include "firmware/firmware_flashing.h"
#include "loader/loader.h"
#include "tests/flows/flow_fixture.h"

namespace krt::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// One S3 record line with its checksum.
std::string S3(std::uint32_t address, const std::vector<std::uint8_t>& data) {
  const unsigned count = static_cast<unsigned>(data.size()) + 5;
  unsigned sum = count + (address >> 24) + ((address >> 16) & 0xFF) + ((address >> 8) & 0xFF) +
                 (address & 0xFF);
  char text[16];
  std::snprintf(text, sizeof text, "S3%02X%08X", count, address);
  std::string line = text;
  for (std::uint8_t b : data) {
    std::snprintf(text, sizeof text, "%02X", b);
    line += text;
    sum += b;
  }
  std::snprintf(text, sizeof text, "%02X\n", ~sum & 0xFF);
  return line + text;
}

std::vector<std::uint8_t> Bytes(std::size_t n, std::uint8_t first) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(first + i);
  return v;
}

// ReadFlash requests the simulator received: address and count.
std::vector<std::pair<std::uint32_t, unsigned>> Reads(const sim::Simulator& s) {
  std::vector<std::pair<std::uint32_t, unsigned>> reads;
  for (const auto& r : s.Requests()) {
    if (r.code != kCmdReadFlash) continue;
    const auto& p = r.payload;
    reads.emplace_back((std::uint32_t{p[1]} << 24) | (p[2] << 16) | (p[3] << 8) | p[4],
                       (p[5] << 8) | p[6]);
  }
  return reads;
}

class VerifyImageTest : public FlowTest {
 protected:
  // An image directory of the test's own with K70COPFW.107 holding `text`.
  void UseImage(const std::string& text) {
    dir_ = CopyImages(Images({0, 0}));
    WriteFile(dir_ + "/K70COPFW.107", text);
    UseImages(dir_);
  }
  void Connect() { ASSERT_EQ(LinkOpenByIndex(0, 4), rc::kOk); }

  std::string dir_;
};

TEST_F(VerifyImageTest, ContentsJoinTouchingRecordsAndLetTheLaterRecordWin) {
  UseImage("S00600004844521B\n" + S3(0x01040000, Bytes(16, 0x10)) +
           S3(0x01040010, Bytes(16, 0x20)) + S3(0x01050000, Bytes(5, 0x40)) +
           S3(0x01040008, {0xEE, 0xEE, 0xEE}) + "S70500000000FA\n");
  std::vector<FlashRun> runs;
  ASSERT_EQ(ExpectedFirmwareContents(107, runs), rc::kOk);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].address, 0x01040000u);
  std::vector<std::uint8_t> first = Bytes(16, 0x10);
  const std::vector<std::uint8_t> second = Bytes(16, 0x20);
  first.insert(first.end(), second.begin(), second.end());
  for (int i = 0; i < 4; ++i) first[i] = kSignature[i];
  for (int i = 8; i < 11; ++i) first[i] = 0xEE;
  EXPECT_EQ(runs[0].bytes, first);
  // The five bytes alone: the flashing's padding is not what the image says.
  EXPECT_EQ(runs[1].address, 0x01050000u);
  EXPECT_EQ(runs[1].bytes, Bytes(5, 0x40));
}

TEST_F(VerifyImageTest, SignatureIsCheckedEvenWithoutARecordThere) {
  UseImage(S3(0x01041000, {1, 2, 3, 4}));
  std::vector<FlashRun> runs;
  ASSERT_EQ(ExpectedFirmwareContents(107, runs), rc::kOk);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].address, kSignatureAddress);
  EXPECT_EQ(runs[0].bytes, std::vector<std::uint8_t>(kSignature, kSignature + 4));
}

TEST_F(VerifyImageTest, RefusedImagesSendNothing) {
  StartSim();
  Connect();
  sim_->ClearLog();
  std::uint32_t at = 0;
  // No image of that version, and an image with a broken checksum.
  EXPECT_EQ(VerifyFirmwareImage(0, at), rc::kImageRefused);
  std::string bad = S3(0x01040000, Bytes(16, 0));
  bad[bad.size() - 2] ^= 1;
  UseImage(S3(0x01040010, Bytes(16, 0)) + bad);
  EXPECT_EQ(VerifyFirmwareImage(107, at), rc::kImageRefused);
  EXPECT_THAT(RequestCodes(), IsEmpty());
}

TEST_F(VerifyImageTest, AProgrammedImagePassesInReadsOfAtMost1491Bytes) {
  UseImages(Images({102, 0, "COPJED70", 4096}));
  StartSim();
  Connect();
  ASSERT_EQ(ProgramFirmwareImage(102, ui_), rc::kOk);
  sim_->ClearLog();
  std::vector<std::pair<std::uint64_t, std::uint64_t>> progress;
  std::uint32_t at = 0;
  EXPECT_EQ(VerifyFirmwareImage(102, at,
                                [&](std::uint64_t done, std::uint64_t total) {
                                  progress.emplace_back(done, total);
                                }),
            rc::kOk);
  EXPECT_THAT(Reads(*sim_),
              ElementsAre(std::pair{0x01040000u, 1491u}, std::pair{0x01040000u + 1491, 1491u},
                          std::pair{0x01040000u + 2982, 4096u - 2982}));
  // Reading only: no erase, no programming.
  EXPECT_THAT(RequestCodes(), ElementsAre(kCmdReadFlash, kCmdReadFlash, kCmdReadFlash));
  EXPECT_THAT(progress, ElementsAre(std::pair{1491ull, 4096ull}, std::pair{2982ull, 4096ull},
                                    std::pair{4096ull, 4096ull}));
}

TEST_F(VerifyImageTest, FirstDifferenceIsReportedAndEndsTheReads) {
  UseImages(Images({102, 0, "COPJED70", 4096}));
  StartSim();
  Connect();
  ASSERT_EQ(ProgramFirmwareImage(102, ui_), rc::kOk);
  // The second read comes back with its byte 10 changed.
  sim_->SetFaults({Fault("readback:at=2,pos=10")});
  sim_->ClearLog();
  std::uint32_t at = 0;
  EXPECT_EQ(VerifyFirmwareImage(102, at), rc::kReadBackDiffers);
  EXPECT_EQ(at, 0x01040000u + 1491 + 10);
  EXPECT_EQ(Reads(*sim_).size(), 2u);
}

TEST_F(VerifyImageTest, AnImageNeverProgrammedDiffersAfterTheSignature) {
  UseImages(Images({102, 0, "COPJED70", 4096}));
  // Signature and version byte as after programming, the rest erased.
  sim::SimulatorOptions o = DefaultSim();
  o.model.firmware_version = 102;
  StartSim(o);
  Connect();
  std::uint32_t at = 0;
  EXPECT_EQ(VerifyFirmwareImage(102, at), rc::kReadBackDiffers);
  EXPECT_EQ(at, 0x01040005u);
}

TEST_F(VerifyImageTest, ALostProbeGivesTheLinkCode) {
  UseImages(Images({102, 0, "COPJED70", 4096}));
  StartSim();
  Connect();
  sim_->SetFaults({Fault("silent:at=1")});
  std::uint32_t at = 0;
  EXPECT_EQ(VerifyFirmwareImage(102, at), rc::kNoAnswer);
}

}  // namespace
}  // namespace krt::test
