#include "link/frame_codec.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/fake_serial.h"

namespace krt {
namespace {

using test::Bytes;
using test::FakeSerialPlatform;
using ::testing::ElementsAreArray;

struct EncodeCase {
  Bytes data;
  Bytes frame;
};

class EncodeTest : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeTest, FrameIsByteExactAndDecodesBack) {
  const EncodeCase& c = GetParam();
  EXPECT_THAT(test::Frame(c.data), ElementsAreArray(c.frame));

  std::uint8_t out[64];
  FrameDecoder decoder(out, sizeof out);
  FrameDecoder::Step step = FrameDecoder::Step::kMore;
  for (std::uint8_t b : c.frame) step = decoder.Push(b);
  ASSERT_EQ(step, FrameDecoder::Step::kFrame);
  EXPECT_THAT(Bytes(out, out + decoder.Size()), ElementsAreArray(c.data));
}

INSTANTIATE_TEST_SUITE_P(
    Examples, EncodeTest,
    ::testing::Values(
        EncodeCase{{0x00, 0x01, 0x01}, {0x10, 0x02, 0x00, 0x01, 0x01, 0x10, 0x03, 0x00}},
        EncodeCase{{0x00, 0x05, 0x03, 0x00, 0x01, 0xC2, 0x00},
                   {0x10, 0x02, 0x00, 0x05, 0x03, 0x00, 0x01, 0xC2, 0x00, 0x10, 0x03, 0xC5}},
        // A data DLE is doubled, and so is a check byte of 0x10.
        EncodeCase{{0x10}, {0x10, 0x02, 0x10, 0x10, 0x10, 0x03, 0x10, 0x10}},
        EncodeCase{{}, {0x10, 0x02, 0x10, 0x03, 0x00}},
        // STX and ETX inside the data are not escaped.
        EncodeCase{{0x02, 0x03}, {0x10, 0x02, 0x02, 0x03, 0x10, 0x03, 0x01}}));

TEST(FrameCodec, LongestFrameIsTwiceTheDataPlusSix) {
  // 1500 DLE bytes with an even count: check byte 0, every data byte doubled.
  Bytes data(1500, 0x10);
  Bytes frame = test::Frame(data);
  EXPECT_EQ(frame.size(), 2 * 1500 + 5u);
  data.push_back(0x10);  // odd count: the check byte is 0x10 and doubled too
  EXPECT_EQ(test::Frame(data).size(), MaxFrameSize(data.size()));
}

// ReceiveFrame against scripted bytes on a fake line.
class ReceiveTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(OpenPort(port_, "fake"), rc::kOk); }
  void TearDown() override { ClosePort(port_); }

  ResultCode Receive(int capacity = 1500) {
    buffer_.assign(1600, 0xEE);
    return ReceiveFrame(port_, capacity, buffer_.data(), 200);
  }
  Bytes Data(ResultCode n) const { return Bytes(buffer_.begin(), buffer_.begin() + n); }

  FakeSerialPlatform platform_;
  SerialPort port_;
  Bytes buffer_;
};

TEST_F(ReceiveTest, NoiseBeforeTheStartIsSkipped) {
  // Noise, a lone DLE, DLE DLE STX (an escaped data DLE and an STX), then the
  // real frame.
  platform_.line.Push({0x55, 0x02, 0x10, 0x41, 0x10, 0x10, 0x02, 0x03});
  platform_.line.Push(test::Frame({0x00, 0x01, 0x01}));
  const ResultCode n = Receive();
  ASSERT_EQ(n, 3);
  EXPECT_THAT(Data(n), ElementsAreArray(Bytes{0x00, 0x01, 0x01}));
}

TEST_F(ReceiveTest, ManyDataDlesComeBackUnchanged) {
  Bytes data(700, 0x10);
  data.push_back(0x42);
  platform_.line.read_chunk = 7;  // frames arrive in pieces
  platform_.line.Push(test::Frame(data));
  const ResultCode n = Receive();
  ASSERT_EQ(n, 701);
  EXPECT_EQ(Data(n), data);
}

struct BadFrameCase {
  const char* name;
  Bytes line;
  int capacity;
  ResultCode expected;
};

class BadFrameTest : public ReceiveTest, public ::testing::WithParamInterface<BadFrameCase> {};

TEST_P(BadFrameTest, IsRefusedWithItsCode) {
  platform_.line.Push(GetParam().line);
  EXPECT_EQ(Receive(GetParam().capacity), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadFrameTest,
    ::testing::Values(
        // DLE STX inside the data is a bad escape, not a restart.
        BadFrameCase{"StxInsideData",
                     {0x10, 0x02, 0x01, 0x10, 0x02, 0x10, 0x03, 0x01},
                     1500,
                     rc::kBadEscape},
        // A check byte 0x10 must be doubled.
        BadFrameCase{"UndoubledDleCheck",
                     {0x10, 0x02, 0x10, 0x10, 0x10, 0x03, 0x10, 0x00},
                     1500,
                     rc::kBadEscape},
        BadFrameCase{"LastDataByteFlipped",
                     {0x10, 0x02, 0x00, 0x01, 0x00, 0x10, 0x03, 0x00},
                     1500,
                     rc::kBadCheck},
        BadFrameCase{"FourBytesForCapacityThree",
                     {0x10, 0x02, 0x01, 0x02, 0x03, 0x04, 0x10, 0x03, 0x04},
                     3,
                     rc::kFrameTooLong},
        // Three bytes for capacity three is fine: see the next test.
        BadFrameCase{"Silence", {}, 1500, rc::kReadTimeout},
        BadFrameCase{"SilenceAfterStartDle", {0x10}, 1500, rc::kReadTimeout},
        BadFrameCase{"SilenceInsideData", {0x10, 0x02, 0x01}, 1500, rc::kReadTimeout},
        BadFrameCase{"SilenceBeforeCheck", {0x10, 0x02, 0x01, 0x10, 0x03}, 1500, rc::kReadTimeout}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReceiveTest, CapacityIsTheLimitExactly) {
  platform_.line.Push(test::Frame({1, 2, 3}));
  EXPECT_EQ(Receive(3), 3);
}

TEST_F(ReceiveTest, TheNextCallSkipsTheRestOfABadFrame) {
  platform_.line.Push({0x10, 0x02, 0x01, 0x10, 0x07, 0x22, 0x10, 0x03, 0x55});
  platform_.line.Push(test::Frame({0x09}));
  EXPECT_EQ(Receive(), rc::kBadEscape);
  const ResultCode n = Receive();
  ASSERT_EQ(n, 1);
  EXPECT_EQ(buffer_[0], 0x09);
}

TEST_F(ReceiveTest, AGoneDeviceEndsTheHuntAtOnce) {
  platform_.line.gone = true;
  EXPECT_EQ(Receive(), rc::kDeviceGone);
  EXPECT_EQ(platform_.line.now_ms, 0u);  // no deadline was waited out
}

TEST(SendFrame, WritesTheWholeFrameInOneCall) {
  FakeSerialPlatform platform;
  SerialPort port;
  ASSERT_EQ(OpenPort(port, "fake"), rc::kOk);
  Bytes data(1500, 0x10);
  data[3] = 0x77;
  ASSERT_EQ(SendFrame(data.data(), data.size(), port), rc::kOk);
  ASSERT_EQ(platform.line.writes.size(), 1u);
  EXPECT_EQ(platform.line.writes[0], test::Frame(data));
  platform.line.fail_writes = true;
  EXPECT_EQ(SendFrame(data.data(), 4, port), rc::kWriteFailed);
}

}  // namespace
}  // namespace krt
