#include "link/transact.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "link/link.h"
#include "tests/support/fake_loader.h"

namespace krt {
namespace {

using test::Bytes;
using test::FakeLoader;
using test::FakeSerialPlatform;
using ::testing::ElementsAre;

TEST(AnswerDeadline, FollowsTheLineTimeOfRequestAndFullAnswer) {
  EXPECT_EQ(AnswerDeadlineMs(1, 9600, 10), 1775u);
  EXPECT_EQ(AnswerDeadlineMs(1, 115200, 10), 340u);
  EXPECT_EQ(AnswerDeadlineMs(1, 115200, 1000), 1330u);
  EXPECT_EQ(AnswerDeadlineMs(1498, 9600, 0), 3325u);
  EXPECT_EQ(AnswerDeadlineMs(1498, 115200, 0), 460u);
}

TEST(Transact, WithoutALinkNothingIsSent) {
  FakeSerialPlatform platform;
  std::uint8_t request = 113;
  EXPECT_EQ(Transact(1, &request, 1500, AnswerBuffer(), 200), rc::kLinkNotOpen);
  EXPECT_TRUE(platform.line.writes.empty());
}

class TransactTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(LinkOpen("/dev/fake", 9600), rc::kOk);
    platform_.line.writes.clear();
  }
  void TearDown() override { LinkClose(); }

  ResultCode Send(const Bytes& request, int capacity = 1500) {
    return Transact(static_cast<int>(request.size()), request.data(), capacity, answer_, 10);
  }
  // Sequence numbers of the requests the loader saw.
  std::vector<int> Sequences() const {
    std::vector<int> out;
    for (std::uint8_t b : loader_.header_bytes) out.push_back(b >> 6);
    return out;
  }

  FakeSerialPlatform platform_;
  FakeLoader loader_{platform_, 9600};
  std::uint8_t answer_[1500];
};

TEST_F(TransactTest, HeaderCarriesSequenceFlagAndLength) {
  for (int i = 0; i < 5; ++i) ASSERT_EQ(Send({0x72}), 0);
  EXPECT_THAT(Sequences(), ElementsAre(0, 1, 2, 3, 0));
  for (std::uint8_t b : loader_.header_bytes) EXPECT_EQ(b & 0x3F, 0x10);

  Bytes big(1498, 0x41);
  ASSERT_EQ(Send(big), 0);
  EXPECT_EQ(loader_.header_bytes.back(), (1 << 6) | 0x10 | 0x05);  // 1498 = 0x5DA
  EXPECT_EQ(loader_.requests.back(), big);
}

TEST_F(TransactTest, AnOverlongRequestTouchesNeitherLineNorSequence) {
  Bytes too_big(1499, 0);
  EXPECT_EQ(Send(too_big), rc::kRequestTooLong);
  EXPECT_EQ(Transact(-1, too_big.data(), 1500, answer_, 10), rc::kRequestTooLong);
  EXPECT_TRUE(platform_.line.writes.empty());
  ASSERT_EQ(Send({0x72}), 0);
  EXPECT_THAT(Sequences(), ElementsAre(0));
}

TEST_F(TransactTest, ReturnsThePayload) {
  loader_.on_request = [](const Bytes& q) { return std::optional<Bytes>(Bytes{q[0], 7, 8, 9}); };
  ASSERT_EQ(Send({0x64}), 4);
  EXPECT_THAT(Bytes(answer_, answer_ + 4), ElementsAre(0x64, 7, 8, 9));
  // An empty payload is a success of length 0.
  loader_.on_request = [](const Bytes&) { return std::optional<Bytes>(Bytes{}); };
  EXPECT_EQ(Send({0x64}), 0);
}

TEST_F(TransactTest, AnswerHeaderBitsOtherThanTheLengthAreNotLookedAt) {
  loader_.on_request = [](const Bytes&) { return std::optional<Bytes>(); };
  platform_.line.on_write = [this, inner = platform_.line.on_write](const Bytes& b) {
    inner(b);
    platform_.line.Push(test::Frame(test::WithHeader({0x01, 0x02}, 0xE8)));
  };
  EXPECT_EQ(Send({0x64}), 2);
}

TEST_F(TransactTest, ALostAnswerIsAskedForAgainWithTheSameSequence) {
  int calls = 0;
  loader_.on_request = [&calls](const Bytes&) {
    return ++calls == 1 ? std::optional<Bytes>() : std::optional<Bytes>(Bytes{0x71});
  };
  const int purges_before = platform_.line.purges;
  ASSERT_EQ(Send({0x71}), 1);
  EXPECT_THAT(Sequences(), ElementsAre(0, 0));
  EXPECT_EQ(platform_.line.purges - purges_before, 2);  // input emptied before each attempt
}

TEST_F(TransactTest, ALengthMismatchCostsAnAttempt) {
  // The header says one byte less than the frame holds, every time.
  loader_.on_request = [](const Bytes&) { return std::optional<Bytes>(); };
  platform_.line.on_write = [this, inner = platform_.line.on_write](const Bytes& b) {
    inner(b);
    if (b.size() > 2) platform_.line.Push(test::Frame({0x10, 0x01, 0xAA, 0xBB}));
  };
  EXPECT_EQ(Send({0x64}), rc::kNoAnswer);
  EXPECT_THAT(Sequences(), ElementsAre(0, 0, 0));
}

TEST_F(TransactTest, TooShortFramesAndBadFramesAreRetried) {
  int calls = 0;
  loader_.on_request = [](const Bytes&) { return std::optional<Bytes>(); };
  platform_.line.on_write = [this, &calls, inner = platform_.line.on_write](const Bytes& b) {
    inner(b);
    switch (++calls) {
      case 1:
        platform_.line.Push(test::Frame({0x10}));
        break;  // no room for a header
      case 2:
        platform_.line.Push({0x10, 0x02, 0x10, 0x00, 0x01});
        break;  // bad escape
      default:
        platform_.line.Push(test::Frame(test::WithHeader({0x33})));
        break;
    }
  };
  ASSERT_EQ(Send({0x64}), 1);
  EXPECT_EQ(answer_[0], 0x33);
}

TEST_F(TransactTest, AnAnswerBeyondTheCapacityEndsAtOnce) {
  loader_.on_request = [](const Bytes&) { return std::optional<Bytes>(Bytes(20, 1)); };
  EXPECT_EQ(Send({0x64}, 19), rc::kAnswerTooLong);
  EXPECT_EQ(loader_.requests.size(), 1u);
}

TEST_F(TransactTest, AWriteFailureCostsAnAttempt) {
  platform_.line.fail_writes = true;
  EXPECT_EQ(Send({0x64}), rc::kNoAnswer);
  EXPECT_EQ(TheLink().open, 1);  // closing is the caller's decision
}

TEST(BufferAccessors, AreBigEndianAndReturnTheNextPosition) {
  std::uint8_t b[7] = {};
  std::size_t pos = PutByte(b, 0, 0x65);
  pos = PutU32(b, pos, 0x01008000);
  pos = PutU16(b, pos, 104);
  ASSERT_EQ(pos, 7u);
  EXPECT_THAT(b, ElementsAre(0x65, 0x01, 0x00, 0x80, 0x00, 0x00, 0x68));
  std::uint8_t code = 0;
  std::uint32_t address = 0;
  std::uint16_t count = 0;
  pos = GetByte(b, 0, code);
  pos = GetU32(b, pos, address);
  EXPECT_EQ(GetU16(b, pos, count), 7u);
  EXPECT_EQ(code, 0x65);
  EXPECT_EQ(address, 0x01008000u);
  EXPECT_EQ(count, 104u);
}

}  // namespace
}  // namespace krt
