// An answer that comes after its deadline, from a loader that takes a few
// milliseconds for each request: the request was sent again, the loader
// answers both copies, and the second answer must not be taken for the next
// request's.
#include "link/transact.h"
#include "loader/loader.h"
#include "tests/flows/flow_fixture.h"

namespace krt::test {
namespace {

TEST_F(FlowTest, ALateAnswerDoesNotPutTheLinkOneAnswerBehind) {
  sim::SimulatorOptions o = DefaultSim();
  o.process_delay_ms = 5;
  // The first identification request is answered 500 ms late (its deadline
  // is 340 ms at 115200 bit/s).
  o.faults.push_back(Fault("delay:at=1,code=114,ms=500"));
  StartSim(o);
  OpenDialog(ui_, state_);
  ConnectCommand(ui_, state_);
  EXPECT_EQ(ui_.status, "Connecting to KRT Loader passed!")
      << ::testing::PrintToString(ui_.Boxes());
  EXPECT_EQ(state_.serial_number, "12345678");

  // Every later answer belongs to its own request.
  std::uint8_t type = 0;
  ASSERT_EQ(ReadLogicDeviceId(type), rc::kOk);
  EXPECT_EQ(type, 19);
  std::uint8_t flash[8];
  EXPECT_EQ(ReadFlash(0x01040000, sizeof flash, flash), rc::kOk);
}

}  // namespace
}  // namespace krt::test
