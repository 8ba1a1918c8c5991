// The Update command: firmware flashing, the logic update sequence and the
// identification after them.
#include "firmware/firmware_flashing.h"
#include "firmware/update_command.h"
#include "logic/logic_steps.h"
#include "tests/flows/flow_fixture.h"

namespace krt::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;

class UpdateTest : public FlowTest {
 protected:
  // A probe with firmware 1.01 and logic 1.00; the images are 1.02 and 1.01.
  void SetUp() override {
    FlowTest::SetUp();
    StartSim(ProbeBehindImages());
  }
};

TEST_F(UpdateTest, BothPartsAreProgrammedAndTheProbeIdentifiedAgain) {
  OpenAndConnect();
  UpdateCommand(ui_, state_);
  EXPECT_THAT(ui_.Boxes(), IsEmpty());
  EXPECT_EQ(ui_.status, "Updating firmware and logic passed!");
  EXPECT_EQ(state_.current_firmware, 102);
  EXPECT_EQ(state_.current_logic, 101);
  EXPECT_EQ(ui_.texts[TextControl::kCurrentFirmware], "1.02");
  EXPECT_EQ(ui_.texts[TextControl::kCurrentLogic], "1.01");
  EXPECT_FALSE(ui_.Enabled(CommandButton::kUpdate));

  // The probe holds exactly the image, the signature and the fuse map.
  const std::string& images = Images();
  const sim::Bytes expected = ExpectedFirmware(images);
  EXPECT_EQ(sim_->Flash(0x01040000, expected.size()), expected);
  EXPECT_EQ(sim_->FuseRows(), ExpectedRows(images));
  EXPECT_EQ(sim_->Ues(), EncodeUes("B6001E7101"));
  EXPECT_FALSE(sim_->LogicAccess());

  // Order of the work: firmware statuses, then logic statuses, then identify.
  const auto statuses = ui_.Statuses();
  auto at = [&statuses](const std::string& s) {
    return std::find(statuses.begin(), statuses.end(), s) - statuses.begin();
  };
  EXPECT_LT(at("Firmware: Erasing Flash ..."), at("Firmware: Programming Flash ... passed!"));
  EXPECT_LT(at("Firmware: Programming Flash ... passed!"), at("Logic: Reading JEDEC File ..."));
  EXPECT_LT(at("Logic: Erasing ..."), at("Logic: Programming ..."));
  EXPECT_LT(at("Logic: Programming ... ( 99% )"), at("Logic: Verifying ..."));
  EXPECT_EQ(statuses.back(), "Updating firmware and logic passed!");
  EXPECT_EQ(RequestCodes().back(), 100);

  // Nothing differs any more: a second Update sends no flash or logic request.
  sim_->ClearLog();
  ui_.events.clear();
  UpdateCommand(ui_, state_);
  EXPECT_EQ(ui_.status, "Updating firmware and logic passed!");
  EXPECT_THAT(RequestCodes(), ElementsAre(114, 100));
}

TEST_F(UpdateTest, FirmwareOnly) {
  UseImages(Images({102, 100}));
  OpenAndConnect();
  UpdateCommand(ui_, state_);
  EXPECT_EQ(ui_.status, "Updating firmware and logic passed!");
  for (int code : {105, 106, 107, 108, 109, 110, 112}) {
    EXPECT_THAT(RequestCodes(), Not(Contains(code)));
  }
  // The signature write is the firmware's last request.
  const auto requests = sim_->Requests();
  const auto last_program =
      std::find_if(requests.rbegin(), requests.rend(), [](const auto& r) { return r.code == 104; });
  ASSERT_NE(last_program, requests.rend());
  EXPECT_EQ(last_program->payload,
            (sim::Bytes{104, 0x01, 0x04, 0x00, 0x00, 0x00, 0x04, 0xAA, 0x55, 0x55, 0xAA}));
  // Every record is one request of a multiple of four bytes.
  const int records = static_cast<int>(
      std::count_if(requests.begin(), requests.end(), [](const auto& r) { return r.code == 104; }));
  EXPECT_EQ(records, 4096 / 16 + 1);
}

TEST_F(UpdateTest, LogicOnly) {
  UseImages(Images({101, 101}));
  OpenAndConnect();
  UpdateCommand(ui_, state_);
  EXPECT_EQ(ui_.status, "Updating firmware and logic passed!");
  EXPECT_EQ(CountRequests(103) + CountRequests(104), 0);
  EXPECT_EQ(CountRequests(108), 134);
  EXPECT_EQ(CountRequests(107), 134);
  const auto logic = ui_.Only("progress logic-program ");
  ASSERT_EQ(logic.size(), 134u);
  EXPECT_EQ(logic.front(), "0");
  EXPECT_EQ(logic[67], "50");
  EXPECT_EQ(logic.back(), "99");
}

TEST_F(UpdateTest, AFirmwareFailureLeavesTheLogicAlone) {
  OpenAndConnect();
  sim_->AddFault(Fault("status:at=5,code=104"));
  UpdateCommand(ui_, state_);
  EXPECT_THAT(ui_.Boxes(), ElementsAre("Tovlane/none: Firmware update failed!"));
  EXPECT_EQ(ui_.status, "Updating firmware and logic failed!");
  EXPECT_THAT(ui_.Statuses(), Contains("Firmware: Programming Flash ... failed!"));
  for (int code : {105, 106, 107, 108, 109, 110, 112, 100}) {
    EXPECT_THAT(RequestCodes(), Not(Contains(code)));
  }
  EXPECT_EQ(state_.current_firmware, 0);
  EXPECT_EQ(state_.current_logic, 0);
  EXPECT_EQ(ui_.texts[TextControl::kCurrentFirmware], "unknown");
  EXPECT_EQ(ui_.texts[TextControl::kCurrentLogic], "unknown");
  EXPECT_NE(sim_->Flash(0x01040000, 4), sim::Bytes(kSignature, kSignature + 4));

  // A later Update brings the probe back.
  sim_->SetFaults({});
  ui_.events.clear();
  UpdateCommand(ui_, state_);
  EXPECT_EQ(ui_.status, "Updating firmware and logic passed!");
  EXPECT_EQ(sim_->Flash(0x01040000, 4096), ExpectedFirmware(Images()));
}

TEST_F(UpdateTest, ARefusedFuseFileStillSwitchesLogicAccessOff) {
  const std::string images = CopyImages(Images());
  WriteFile(images + "/COPJED70.101", "no fuse list here\n");
  UseImages(images);
  OpenAndConnect();
  UpdateCommand(ui_, state_);
  EXPECT_THAT(ui_.Boxes(), ElementsAre("Tovlane/none: Logic: Illegal JEDEC file format!"));
  EXPECT_EQ(ui_.status, "Updating firmware and logic failed!");
  // Access was never switched on, and yet it is switched off.
  const auto requests = sim_->Requests();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.back().payload, (sim::Bytes{105, 0}));
  EXPECT_EQ(CountRequests(105), 1);
}

TEST_F(UpdateTest, AMissingFuseFileCannotBeOpened) {
  UseImages(Images({102, 0}));  // no logic image: newest logic version 0
  OpenAndConnect();
  UpdateCommand(ui_, state_);
  EXPECT_THAT(ui_.Boxes(), ElementsAre("Tovlane/none: Logic: Cannot open JEDEC file!"));
  EXPECT_EQ(ui_.status, "Updating firmware and logic failed!");
}

TEST_F(UpdateTest, ATruncatedImageIsRefusedWithoutSignature) {
  const std::string images = CopyImages(Images());
  std::string image = ReadFile(images + "/K70COPFW.102");
  image.resize(image.size() / 2);  // cut inside a line: that line has no line feed
  WriteFile(images + "/K70COPFW.102", image);
  UseImages(images);
  OpenAndConnect();
  UpdateCommand(ui_, state_);
  EXPECT_THAT(ui_.Boxes(), ElementsAre("Tovlane/none: Firmware update failed!"));
  EXPECT_THAT(ui_.Statuses(), Contains("Firmware: Programming Flash ... failed!"));
  EXPECT_EQ(sim_->Flash(0x01040000, 4), (sim::Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(CountRequests(105), 0);
}

TEST_F(UpdateTest, ATenCharacterSerialEndingInCUsesTheOtherFuseFile) {
  sim::ProbeModelOptions m = sim_->ModelOptions();
  m.serial_number = "123456789C";
  sim_->SetModelOptions(m);
  // COPJED70 and COPJED71 of version 1.01 with different fuses.
  const std::string images = CopyImages(Images());
  const std::string& other = Images({0, 101, "COPJED71"});
  std::string jed71 = ReadFile(other + "/COPJED71.101");
  const std::size_t fuses = jed71.find("*L00000\n") + 8;
  jed71[fuses] = jed71[fuses] == '0' ? '1' : '0';
  WriteFile(images + "/COPJED71.101", jed71);
  UseImages(images);

  OpenAndConnect();
  UpdateCommand(ui_, state_);
  EXPECT_EQ(ui_.status, "Updating firmware and logic passed!");
  EXPECT_EQ(sim_->FuseRows()[0][0], jed71[fuses]);
  EXPECT_EQ(sim_->Ues(), EncodeUes("B6001E7101"));
}

TEST_F(UpdateTest, TheLastShownPercentageLastsAcrossRuns) {
  OpenAndConnect();
  SetLastShownPercentage(0);
  EXPECT_EQ(ProgramFirmwareImage(102, ui_), rc::kOk);
  auto percents = ui_.Only("progress firmware ");
  ASSERT_FALSE(percents.empty());
  EXPECT_NE(percents.front(), "0");  // 0 was the last one shown: not shown again
  EXPECT_EQ(percents.back(), "100");
  EXPECT_THAT(ui_.Statuses(), Contains("Firmware: Programming Flash ... ( 100% )"));

  ui_.events.clear();
  EXPECT_EQ(ProgramFirmwareImage(102, ui_), rc::kOk);
  percents = ui_.Only("progress firmware ");
  EXPECT_EQ(percents.front(), "0");  // after a finished run (100), 0% shows first
  EXPECT_THAT(ui_.Statuses(), Contains("Firmware: Programming Flash ... ( 0% )"));
}

TEST_F(UpdateTest, ProgressTextsArePercentagesOfTheFileRead) {
  OpenAndConnect();
  SetLastShownPercentage(0);
  ASSERT_EQ(ProgramFirmwareImage(102, ui_), rc::kOk);
  const auto statuses = ui_.Statuses();
  // At most one text per whole percentage, rising, 100 just before "passed!".
  std::vector<int> shown;
  for (const std::string& s : statuses) {
    if (s.rfind("Firmware: Programming Flash ... ( ", 0) == 0)
      shown.push_back(std::stoi(s.substr(34)));
  }
  EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end()));
  EXPECT_EQ(std::adjacent_find(shown.begin(), shown.end()), shown.end());
  ASSERT_GE(statuses.size(), 2u);
  EXPECT_EQ(statuses[statuses.size() - 2], "Firmware: Programming Flash ... ( 100% )");
  EXPECT_EQ(statuses.back(), "Firmware: Programming Flash ... passed!");
}

TEST_F(UpdateTest, AProbeThatStopsAnsweringHalfwayFailsAndALaterUpdateRecovers) {
  OpenAndConnect();
  sim_->AddFault(Fault("silent:at=40"));
  UpdateCommand(ui_, state_);
  EXPECT_THAT(ui_.Boxes(), ElementsAre("Tovlane/none: Firmware update failed!"));
  EXPECT_EQ(ui_.status, "Updating firmware and logic failed!");

  sim_->SetFaults({});
  ui_.events.clear();
  UpdateCommand(ui_, state_);
  EXPECT_EQ(ui_.status, "Updating firmware and logic passed!");
  EXPECT_EQ(sim_->FuseRows(), ExpectedRows(Images()));
}

TEST_F(UpdateTest, IdentificationFailingAfterProgrammingFailsWithoutABox) {
  UseImages(Images({102, 100}));
  OpenAndConnect();
  // The image is 4096 bytes: 256 records, the signature, then the
  // identification (114 is the 3 + 257 + 1 = 261st request).
  sim_->AddFault(Fault("drop:at=1,code=114,times=3"));
  UpdateCommand(ui_, state_);
  EXPECT_THAT(ui_.Boxes(), IsEmpty());
  EXPECT_EQ(ui_.status, "Updating firmware and logic failed!");
  EXPECT_EQ(ui_.texts[TextControl::kCurrentFirmware], "unknown");
}

TEST(UpdateChoices, UesTextAndLogicFileChoice) {
  EXPECT_EQ(UesTextFor(105), "B6001E7105");
  EXPECT_EQ(UesTextFor(7), "B6001E7007");
  EXPECT_EQ(LogicBaseFor("123456789C"), "COPJED71");
  for (const char* s : {"123456789c", "12345678C0", "12345678", "123456789CC", ""}) {
    EXPECT_EQ(LogicBaseFor(s), "COPJED70") << s;
  }
}

}  // namespace
}  // namespace krt::test
