// Opening, Connect, Current, OK and Cancel.
#include "tests/flows/flow_fixture.h"

namespace krt::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST_F(FlowTest, OpeningShowsTheNewestImagesAndEnablesOnlyConnect) {
  OpenDialog(ui_, state_);
  EXPECT_EQ(ui_.events.front(), "to controls");
  EXPECT_EQ(ui_.status, "");
  EXPECT_EQ(state_.newest_firmware, 102);
  EXPECT_EQ(state_.newest_logic, 101);
  EXPECT_EQ(ui_.texts[TextControl::kNewestFirmware], "1.02");
  EXPECT_EQ(ui_.texts[TextControl::kNewestLogic], "1.01");
  EXPECT_TRUE(ui_.Enabled(CommandButton::kConnect));
  for (CommandButton b : {CommandButton::kCurrent, CommandButton::kTransmit, CommandButton::kUpdate,
                          CommandButton::kErase}) {
    EXPECT_FALSE(ui_.Enabled(b));
  }
  EXPECT_EQ(ui_.wait_calls, 0);

  // Without images the newest versions read "unknown".
  UseImages(Images({0, 0}));
  OpenDialog(ui_, state_);
  EXPECT_EQ(ui_.texts[TextControl::kNewestFirmware], "unknown");
  EXPECT_EQ(ui_.texts[TextControl::kNewestLogic], "unknown");
}

TEST_F(FlowTest, ConnectIdentifiesTheProbe) {
  sim::SimulatorOptions o = DefaultSim();
  o.model.serial_number = "AB12CD34";
  o.model.firmware_version = 101;
  o.model.logic_version = 101;
  StartSim(o);
  OpenDialog(ui_, state_);
  ui_.events.clear();
  ConnectCommand(ui_, state_);
  EXPECT_THAT(ui_.Statuses(),
              ElementsAre("Connecting to KRT Loader ...", "Connecting to KRT Loader passed!"));
  EXPECT_THAT(ui_.Boxes(), IsEmpty());
  EXPECT_EQ(state_.serial_number, "AB12CD34");
  EXPECT_EQ(state_.mac_address, "02A7F3AB12CD");
  EXPECT_EQ(ui_.controls.mac_address, "02A7F3AB12CD");  // shown by the exchange
  EXPECT_EQ(ui_.texts[TextControl::kLoaderVersion], "1.02");
  EXPECT_EQ(ui_.texts[TextControl::kCurrentFirmware], "1.01");
  EXPECT_EQ(ui_.texts[TextControl::kCurrentLogic], "1.01");
  EXPECT_FALSE(ui_.Enabled(CommandButton::kConnect));
  EXPECT_TRUE(ui_.Enabled(CommandButton::kCurrent));
  EXPECT_TRUE(ui_.Enabled(CommandButton::kErase));
  EXPECT_TRUE(ui_.Enabled(CommandButton::kTransmit));
  EXPECT_TRUE(ui_.Enabled(CommandButton::kUpdate));  // 1.01 here, 1.02 beside the program
  EXPECT_EQ(TheLink().open, 1);
}

TEST_F(FlowTest, UpdateButtonIsOffWhenTheProbeHasTheNewestImages) {
  sim::SimulatorOptions o = DefaultSim();
  o.model.firmware_version = 102;
  o.model.logic_version = 101;
  StartSim(o);
  OpenAndConnect();
  EXPECT_FALSE(ui_.Enabled(CommandButton::kUpdate));
}

TEST_F(FlowTest, ConnectSucceedsOnTheFourthAttempt) {
  sim::SimulatorOptions o = DefaultSim();
  // The first three identifications are answered without the echoed code.
  o.faults.push_back(Fault("code:at=1,code=100,times=3"));
  StartSim(o);
  OpenDialog(ui_, state_);
  ConnectCommand(ui_, state_);
  EXPECT_EQ(ui_.status, "Connecting to KRT Loader passed!");
  EXPECT_THAT(ui_.Boxes(), IsEmpty());
  EXPECT_EQ(CountRequests(100), 4);
  int probes = 0;
  for (const auto& m : sim_->Messages()) probes += m.kind == sim::MessageKind::kSpeedProbe;
  EXPECT_EQ(probes, 4);  // the link was closed and opened again for each attempt
}

TEST_F(FlowTest, ALoaderVersionOfZeroIsNoKrt700) {
  sim::SimulatorOptions o = DefaultSim();
  o.model.loader_word = 0;
  StartSim(o);
  OpenDialog(ui_, state_);
  ConnectCommand(ui_, state_);
  EXPECT_THAT(ui_.Boxes(), ElementsAre("Tovlane/none: There is no KRT700 connected!"));
  EXPECT_EQ(ui_.status, "Connecting to KRT loader failed!");
  EXPECT_EQ(TheLink().open, 0);
  EXPECT_TRUE(ui_.Enabled(CommandButton::kConnect));
  EXPECT_FALSE(ui_.Enabled(CommandButton::kCurrent));
}

TEST_F(FlowTest, AStoredPortIndexOutsideTheListConnectsToNothing) {
  // Index 25 selects nothing in the list, so Connect reads -1 and asks for
  // COM0, which no device is behind.
  state_.port_index = 25;
  OpenDialog(ui_, state_);
  EXPECT_EQ(ui_.controls.port_index, -1);
  ConnectCommand(ui_, state_);
  EXPECT_THAT(ui_.Boxes(), ElementsAre("Tovlane/none: Cannot connect to KRT loader!"));
  EXPECT_THAT(ui_.Statuses(),
              ElementsAre("", "Connecting to KRT Loader ...", "Connecting to KRT loader failed!"));
}

struct RefusedInput {
  const char* name;
  std::string ip, subnet, gateway;
  const char* box;
};

class RefusedInputTest : public FlowTest, public ::testing::WithParamInterface<RefusedInput> {};

TEST_P(RefusedInputTest, ConnectSendsNothingAndShowsNoWaitCursor) {
  StartSim();
  OpenDialog(ui_, state_);
  ui_.events.clear();
  ui_.controls.ip_address = GetParam().ip;
  ui_.controls.subnet_mask = GetParam().subnet;
  ui_.controls.gateway = GetParam().gateway;
  ConnectCommand(ui_, state_);
  EXPECT_THAT(ui_.Boxes(), ElementsAre(GetParam().box));
  EXPECT_THAT(ui_.Statuses(), IsEmpty());
  EXPECT_EQ(ui_.wait_calls, 0);
  EXPECT_THAT(sim_->Messages(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedInputTest,
    ::testing::Values(RefusedInput{"ThreeOctets", "1.2.3", "255.255.255.0", "1.1.1.1",
                                   "Tovlane/exclamation: Invalid IP address!"},
                      RefusedInput{"AllOnes", "255.255.255.255", "255.255.255.0", "1.1.1.1",
                                   "Tovlane/exclamation: Invalid IP address!"},
                      RefusedInput{"LongIp", "1111.111.111.1111", "255.255.255.0", "1.1.1.1",
                                   "Tovlane/exclamation: Please enter no more than 15 characters."},
                      // The subnet mask and gateway are not checked for form, only length.
                      RefusedInput{
                          "LongGateway", "10.0.0.1", "x", "192.168.100.100x",
                          "Tovlane/exclamation: Please enter no more than 15 characters."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlowTest, CurrentReadsTheVersionsAgain) {
  StartSim();
  OpenAndConnect();
  sim::ProbeModelOptions m = sim_->ModelOptions();
  m.firmware_word = 0x1165;
  m.serial_number = "99887766";
  sim_->SetModelOptions(m);
  CurrentCommand(ui_, state_);
  EXPECT_THAT(ui_.Statuses(), ElementsAre("Reading current versions, please wait.",
                                          "Reading current versions passed!"));
  EXPECT_EQ(ui_.texts[TextControl::kCurrentFirmware], "1.01");
  EXPECT_EQ(state_.mac_address, "02A7F3998877");
  EXPECT_TRUE(ui_.Enabled(CommandButton::kUpdate));
}

TEST_F(FlowTest, CurrentWithTheProbeSwitchedOff) {
  StartSim();
  OpenAndConnect();
  sim_->AddFault(Fault("silent:at=1"));
  CurrentCommand(ui_, state_);
  EXPECT_THAT(ui_.Boxes(), ElementsAre("Tovlane/none: Communication with KRT failed!"));
  EXPECT_EQ(ui_.status, "Reading current versions failed!");
  EXPECT_EQ(TheLink().open, 1);      // the link stays open
  EXPECT_EQ(CountMessages(114), 3);  // three attempts
}

TEST_F(FlowTest, LeavingStartsTheFirmwareAndClosesTheLink) {
  StartSim();
  OpenAndConnect();
  EXPECT_TRUE(OkCommand(ui_, state_));
  EXPECT_THAT(ui_.Statuses(), ElementsAre("Starting firmware please wait...."));
  EXPECT_THAT(RequestCodes(), ElementsAre(113));
  EXPECT_EQ(TheLink().open, 0);
  EXPECT_EQ(sim_->FirmwareStarts(), 1u);
}

TEST_F(FlowTest, OkWithAnInvalidAddressStaysOpenAfterLeaving) {
  StartSim();
  OpenAndConnect();
  ui_.controls.ip_address = "1.2.3";
  EXPECT_FALSE(OkCommand(ui_, state_));
  EXPECT_THAT(ui_.Boxes(), ElementsAre("Tovlane/exclamation: Invalid IP address!"));
  EXPECT_EQ(TheLink().open, 0);
  EXPECT_EQ(sim_->FirmwareStarts(), 1u);
  // The commands now fail: the link is closed.
  ui_.events.clear();
  CurrentCommand(ui_, state_);
  EXPECT_THAT(ui_.Boxes(), ElementsAre("Tovlane/none: Communication with KRT failed!"));
}

TEST_F(FlowTest, CancelBeforeConnectSendsNothing) {
  StartSim();
  OpenDialog(ui_, state_);
  ui_.events.clear();
  CancelCommand(ui_);
  EXPECT_THAT(ui_.events,
              ElementsAre("wait on", "status: Starting firmware please wait....", "wait off"));
  EXPECT_THAT(sim_->Messages(), IsEmpty());
}

}  // namespace
}  // namespace krt::test
