// Link start-up against a scripted loader on a fake line, on a virtual clock.
// The same paths run over a real pseudo-terminal against the simulator in the
// simulator's tests.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "link/link.h"
#include "link/transact.h"
#include "tests/support/fake_loader.h"

namespace krt {
namespace {

using test::Bytes;
using test::FakeLoader;
using test::FakeSerialPlatform;
using ::testing::ElementsAre;

class NegotiateTest : public ::testing::Test {
 protected:
  void TearDown() override { LinkClose(); }
  FakeSerialPlatform platform_;
};

const Bytes kProbe{0x00, 0x01, 0x01};

TEST_F(NegotiateTest, LoaderAlreadyAtTheWantedRate) {
  FakeLoader loader(platform_, 115200);
  ASSERT_EQ(LinkOpen("/dev/fake", 115200), rc::kOk);
  EXPECT_THAT(loader.frames(), ElementsAre(kProbe));  // one probe, no speed change
  EXPECT_EQ(TheLink().open, 1);
  EXPECT_EQ(TheLink().port.bit_rate, 115200u);
  EXPECT_THAT(platform_.line.delays, ElementsAre(300u));
  // Wake-up bytes go out raw before the probe.
  ASSERT_GE(platform_.line.writes.size(), 2u);
  EXPECT_EQ(platform_.line.writes[0], (Bytes{0xDB, 0xDE}));
}

TEST_F(NegotiateTest, From9600To115200) {
  FakeLoader loader(platform_, 9600);
  ASSERT_EQ(LinkOpen("/dev/fake", 115200), rc::kOk);
  // Probe at 115200 (lost), probe at 9600, speed change, probe at 115200.
  EXPECT_THAT(loader.frames(),
              ElementsAre(kProbe, kProbe, Bytes{0x00, 0x05, 0x03, 0x00, 0x01, 0xC2, 0x00}, kProbe));
  EXPECT_EQ(TheLink().port.bit_rate, 115200u);
  EXPECT_THAT(platform_.line.delays, ElementsAre(300u, 300u, 300u));
}

TEST_F(NegotiateTest, TheToolFollowsTheRateTheLoaderNames) {
  FakeLoader loader(platform_, 9600);
  loader.answer_rate = 38400;
  ASSERT_EQ(LinkOpen("/dev/fake", 57600), rc::kOk);
  EXPECT_EQ(TheLink().port.bit_rate, 38400u);
  // The answer deadline is that of 38400 bit/s: after a lost answer the
  // virtual clock has moved by three deadlines of one more millisecond each.
  loader.on_request = [](const Bytes&) { return std::optional<Bytes>(); };
  const std::uint64_t before = platform_.line.now_ms;
  std::uint8_t request = 113;
  EXPECT_EQ(Transact(1, &request, 1500, AnswerBuffer(), 200), rc::kNoAnswer);
  EXPECT_EQ(platform_.line.now_ms - before, 3u * (AnswerDeadlineMs(1, 38400, 200) + 1));
}

TEST_F(NegotiateTest, APortThatRefuses115200SearchesUpTo57600) {
  platform_.line.refused_rates = {115200};
  FakeLoader loader(platform_, 57600);
  ASSERT_EQ(LinkOpen("/dev/fake", 115200), rc::kOk);
  EXPECT_THAT(loader.frames(), ElementsAre(kProbe));  // the wish was lowered to 57600
  EXPECT_EQ(TheLink().port.bit_rate, 57600u);
}

TEST_F(NegotiateTest, NoLoaderGivesNoAnswerAndReleasesThePort) {
  platform_.line.refused_rates = {115200};
  ASSERT_EQ(LinkOpen("/dev/fake", 57600), rc::kNoAnswer);
  EXPECT_EQ(TheLink().open, 0);
  EXPECT_FALSE(TheLink().port.device);
  // One try at the wanted rate, then 9600 to 57600.
  EXPECT_THAT(platform_.line.rates, ElementsAre(57600u, 9600u, 19200u, 38400u, 57600u));
}

struct SpeedAnswerCase {
  std::size_t size;
  std::optional<std::uint32_t> named;
  ResultCode expected;
};

class SpeedAnswerTest : public NegotiateTest,
                        public ::testing::WithParamInterface<SpeedAnswerCase> {};

TEST_P(SpeedAnswerTest, BadSpeedChangeAnswersFailAndReleaseThePort) {
  platform_.line.refused_rates = {12345};  // a rate this port cannot take
  FakeLoader loader(platform_, 9600);
  loader.speed_answer_size = GetParam().size;
  loader.answer_rate = GetParam().named;
  EXPECT_EQ(LinkOpen("/dev/fake", 115200), GetParam().expected);
  EXPECT_EQ(TheLink().open, 0);
  EXPECT_FALSE(TheLink().port.device);
}

INSTANTIATE_TEST_SUITE_P(Cases, SpeedAnswerTest,
                         ::testing::Values(SpeedAnswerCase{6, std::nullopt, rc::kPortOpenFailed},
                                           SpeedAnswerCase{8, std::nullopt, rc::kPortOpenFailed},
                                           // A named rate of 0 never reaches the deadline.
                                           SpeedAnswerCase{7, 0u, rc::kLostAfterSpeedChange},
                                           SpeedAnswerCase{7, 12345u, rc::kLostAfterSpeedChange}));

TEST_F(NegotiateTest, IndicesNameTheirPortsAndRates) {
  FakeLoader loader(platform_, 9600);
  ASSERT_EQ(LinkOpenByIndex(2, 7), rc::kOk);  // speed index 7 opens at 9600
  EXPECT_EQ(TheLink().port.bit_rate, 9600u);
  LinkClose();
  platform_.refuse_open = true;
  EXPECT_EQ(LinkOpenByIndex(-1, 0), rc::kPortOpenFailed);
  EXPECT_THAT(platform_.opened, ElementsAre("/dev/ttyS2", "/dev/ttyS-1"));

  SetPortDevice(1, "/dev/ttyUSB0");
  EXPECT_EQ(DeviceForPort(PortName(0)), "/dev/ttyUSB0");
  EXPECT_EQ(DeviceForPort("COM19"), "/dev/ttyS18");
  EXPECT_EQ(DeviceForPort("/dev/pts/7"), "/dev/pts/7");
  EXPECT_EQ(DeviceForPort("COMX"), "COMX");
  ClearPortDevices();
  EXPECT_EQ(DeviceForPort("COM1"), "/dev/ttyS0");
}

TEST_F(NegotiateTest, LinkCloseIsHarmlessTwiceAndBeforeAnyOpen) {
  LinkClose();
  LinkClose();
  FakeLoader loader(platform_, 9600);
  ASSERT_EQ(LinkOpen("/dev/fake", 9600), rc::kOk);
  LinkClose();
  LinkClose();
  EXPECT_EQ(TheLink().open, 0);
}

}  // namespace
}  // namespace krt
