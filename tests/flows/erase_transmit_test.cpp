// The Erase and Transmit commands.
#include "logic/erase_command.h"
#include "setup/setup_record.h"
#include "tests/flows/flow_fixture.h"

namespace krt::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

class EraseTest : public FlowTest {
 protected:
  void SetUp() override {
    FlowTest::SetUp();
    sim::SimulatorOptions o = DefaultSim();
    o.model.firmware_version = 102;
    o.model.logic_version = 101;
    StartSim(o);
    OpenAndConnect();
    ASSERT_FALSE(ui_.Enabled(CommandButton::kUpdate));
  }
};

TEST_F(EraseTest, AnsweredNoNothingHappens) {
  ui_.answer_yes = false;
  EraseCommand(ui_, state_);
  EXPECT_THAT(ui_.events, ElementsAre("ask Tovlane/question: Erase Flash and EPLD?"));
  EXPECT_THAT(sim_->Requests(), IsEmpty());
  EXPECT_EQ(state_.current_firmware, 102);
}

TEST_F(EraseTest, AnsweredYesEverythingIsErased) {
  ui_.controls.ip_address = "10.9.8.7";  // typed since the last exchange: shown back
  EraseCommand(ui_, state_);
  EXPECT_THAT(ui_.Statuses(),
              ElementsAre("Erasing Flash and EPLD ...", "Logic: Erasing ...",
                          "Erasing all flash sectors ...", "Erasing Flash and EPLD passed!"));
  EXPECT_THAT(ui_.Boxes(), IsEmpty());
  EXPECT_TRUE(ui_.Enabled(CommandButton::kUpdate));
  EXPECT_EQ(ui_.texts[TextControl::kCurrentFirmware], "unkown");
  EXPECT_EQ(ui_.texts[TextControl::kCurrentLogic], "unkown");
  EXPECT_EQ(ui_.controls.ip_address, "192.168.1.10");
  EXPECT_EQ(state_.current_firmware, 0);
  EXPECT_EQ(state_.current_logic, 0);
  EXPECT_THAT(sim_->Flash(0x01040000, 8), ElementsAreArray(sim::Bytes(8, 0xFF)));
  EXPECT_EQ(sim_->Ues(), std::string(120, '0'));
  EXPECT_EQ(CountRequests(103), 6);
  EXPECT_FALSE(sim_->LogicAccess());
}

TEST_F(EraseTest, AnUnknownDeviceTypeStillErasesTheFlash) {
  sim::ProbeModelOptions m = sim_->ModelOptions();
  m.device_type = 18;
  sim_->SetModelOptions(m);
  EraseCommand(ui_, state_);
  EXPECT_THAT(ui_.Boxes(), ElementsAre("Tovlane/none: Logic: Unknown ispLSI device type!"));
  EXPECT_EQ(ui_.status, "Erasing Flash and EPLD failed!");
  EXPECT_EQ(CountRequests(112), 0);
  EXPECT_EQ(CountRequests(103), 6);
  EXPECT_EQ(sim_->Requests()[2].payload, (sim::Bytes{105, 0}));  // access off after the check
  EXPECT_FALSE(ui_.Enabled(CommandButton::kUpdate));
  EXPECT_EQ(ui_.texts[TextControl::kCurrentLogic], "unkown");
}

TEST_F(EraseTest, AProbeThatIsGoneFailsEveryStep) {
  // Unplugged: every request fails at once. (A probe that falls silent gives
  // the same boxes after the deadlines; the fault matrix runs that case.)
  sim_->AddFault(Fault("hangup:at=1"));
  EraseCommand(ui_, state_);
  EXPECT_THAT(ui_.Boxes(), ElementsAre("Tovlane/none: Communication with KRT failed!",
                                       "Tovlane/none: Communication with KRT failed!"));
  EXPECT_EQ(ui_.status, "Erasing Flash and EPLD failed!");
  EXPECT_EQ(state_.current_firmware, 0);
}

TEST_F(EraseTest, AFailingFourthSectorShowsNoBox) {
  sim_->AddFault(Fault("status:at=4,code=103"));
  EraseCommand(ui_, state_);
  EXPECT_THAT(ui_.Boxes(), IsEmpty());
  EXPECT_EQ(ui_.status, "Erasing Flash and EPLD failed!");
  EXPECT_EQ(CountRequests(103), 4);
  EXPECT_EQ(ui_.texts[TextControl::kCurrentFirmware], "unkown");
}

TEST(SetupRecord, LayoutOfTheRecord) {
  const SetupRecord r = BuildSetupRecord("12345678", "192.168.1.10", "255.255.255.0", "192.168.1.1",
                                         "255.255.255.255", "");
  const sim::Bytes first25(r.begin(), r.begin() + 25);
  EXPECT_THAT(first25, ElementsAre(0x02, 0xA7, 0xF3, 0x12, 0x34, 0x56, 0xFF, 0xFF, 0xC0, 0xA8, 0x01,
                                   0x0A, 0xFF, 0xFF, 0xFF, 0x00, 0xC0, 0xA8, 0x01, 0x01, 0xFF, 0xFF,
                                   0xFF, 0xFF, 0x00));
  // Ten characters give the MAC of their first six; A and 0 pack into 0x10.
  const SetupRecord ten = BuildSetupRecord("A01234567C", "1.2.3.4", "x", "", "", "");
  EXPECT_THAT(sim::Bytes(ten.begin() + 3, ten.begin() + 6), ElementsAre(0x10, 0x12, 0x34));
  // A text that is no address, and 255.255.255.255, are both FF FF FF FF.
  EXPECT_THAT(sim::Bytes(ten.begin() + 12, ten.begin() + 20),
              ElementsAreArray(sim::Bytes(8, 0xFF)));
  // A record text is cut to 79 characters; its zero byte stands at 103.
  const SetupRecord text =
      BuildSetupRecord("12345678", "1.2.3.4", "", "", "", std::string(100, 'x'));
  EXPECT_EQ(text[102], 'x');
  EXPECT_EQ(text[103], 0);
}

class TransmitTest : public FlowTest {
 protected:
  void SetUp() override {
    FlowTest::SetUp();
    StartSim();
    OpenAndConnect();
  }
};

TEST_F(TransmitTest, WritesAndVerifiesTheRecord) {
  TransmitCommand(ui_, state_);
  EXPECT_THAT(ui_.Statuses(), ElementsAre("Writing setup data ....", "Writing setup data passed"));
  EXPECT_THAT(ui_.Boxes(), IsEmpty());
  const SetupRecord expected = BuildSetupRecord("12345678", "192.168.1.10", "255.255.255.0",
                                                "192.168.1.1", "255.255.255.255", "");
  EXPECT_EQ(sim_->Flash(0x01008000, 104), sim::Bytes(expected.begin(), expected.end()));
  // Identify, erase both sectors, program, read back.
  EXPECT_THAT(RequestCodes(), ElementsAre(114, 100, 103, 103, 104, 101));
  EXPECT_EQ(sim_->Requests()[3].payload, (sim::Bytes{103, 0x01, 0x0C, 0x00, 0x00}));
}

TEST_F(TransmitTest, AReadBackThatDiffersFails) {
  sim_->AddFault(Fault("readback:at=1,pos=17"));
  TransmitCommand(ui_, state_);
  EXPECT_THAT(ui_.Statuses(), ElementsAre("Writing setup data ....", "Writing setup data failed!"));
  EXPECT_THAT(ui_.Boxes(), ElementsAre("Error/exclamation: Transfer failed!"));
  EXPECT_EQ(WriteSetupRecord("1.2.3.4", "", "", "", ""), rc::kOk);  // clean again
  sim_->AddFault(Fault("readback:at=1"));
  EXPECT_EQ(WriteSetupRecord("1.2.3.4", "", "", "", ""), rc::kReadBackDiffers);
}

TEST_F(TransmitTest, AFailedFirstEraseProgramsNothing) {
  sim_->AddFault(Fault("status:at=1,code=103"));
  TransmitCommand(ui_, state_);
  EXPECT_THAT(ui_.Boxes(), ElementsAre("Error/exclamation: Transfer failed!"));
  EXPECT_THAT(RequestCodes(), ElementsAre(114, 100, 103));
}

TEST_F(TransmitTest, WithoutASerialNumberNothingIsErased) {
  // A 16-byte identification answer passes with no serial number.
  sim::ProbeModelOptions m = sim_->ModelOptions();
  m.serial_number = "123456789";
  sim_->SetModelOptions(m);
  EXPECT_EQ(WriteSetupRecord("1.2.3.4", "", "", "", ""), rc::kNoSerialNumber);
  EXPECT_THAT(RequestCodes(), ElementsAre(114, 100));
}

TEST_F(TransmitTest, AnInvalidAddressSendsNothing) {
  ui_.controls.ip_address = "255.255.255.255";
  TransmitCommand(ui_, state_);
  EXPECT_THAT(ui_.Boxes(), ElementsAre("Tovlane/exclamation: Invalid IP address!"));
  EXPECT_THAT(sim_->Requests(), IsEmpty());
  EXPECT_EQ(ui_.wait_calls, 0);
}

}  // namespace
}  // namespace krt::test
