// The loader commands against a scripted loader on a fake line: requests
// byte for byte, answer checks, decoding.
#include "loader/loader.h"

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
using ::testing::ElementsAreArray;

class LoaderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(LinkOpen("/dev/fake", 9600), rc::kOk); }
  void TearDown() override { LinkClose(); }

  // Answers every request with `answer` (nothing for nullopt).
  void AnswerWith(std::optional<Bytes> answer) {
    loader_.on_request = [answer](const Bytes&) { return answer; };
  }
  // Answers by request code.
  void AnswerBy(std::map<std::uint8_t, Bytes> answers) {
    loader_.on_request = [answers](const Bytes& q) -> std::optional<Bytes> {
      if (auto it = answers.find(q[0]); it != answers.end()) return it->second;
      return std::nullopt;
    };
  }

  FakeSerialPlatform platform_;
  FakeLoader loader_{platform_, 9600};
};

Bytes Identification(std::uint16_t loader, std::uint16_t firmware, std::uint16_t logic,
                     const std::string& serial) {
  Bytes a(7 + serial.size());
  std::size_t pos = PutByte(a.data(), 0, 100);
  pos = PutU16(a.data(), pos, loader);
  pos = PutU16(a.data(), pos, firmware);
  pos = PutU16(a.data(), pos, logic);
  std::copy(serial.begin(), serial.end(), a.begin() + static_cast<std::ptrdiff_t>(pos));
  return a;
}

struct WordCase {
  std::uint16_t word;
  VersionNumber version;
};

TEST(VersionWords, FirmwareWordsDecodeToTheirLowByteOnlyInTheirRanges) {
  const WordCase cases[] = {{0x1169, 105}, {0xD169, 105}, {0x1100, 0}, {0x11FF, 255},
                            {0xD1FF, 255}, {0x1269, 0},   {0x10FF, 0}, {0xC169, 0},
                            {0x5169, 0},   {0x0000, 0},   {0xFFFF, 0}, {0xD100, 0}};
  for (const WordCase& c : cases) EXPECT_EQ(DecodeFirmwareWord(c.word), c.version) << c.word;
}

TEST(VersionWords, LogicWordsFrom7000To7999) {
  const WordCase cases[] = {{7021, 21}, {6999, 0}, {7000, 0}, {7999, 999}, {8000, 0}, {0, 0}};
  for (const WordCase& c : cases) EXPECT_EQ(DecodeLogicWord(c.word), c.version) << c.word;
}

TEST_F(LoaderTest, IdentifyDecodesTheAnswer) {
  AnswerBy({{114, {0x00}}, {100, Identification(0x0066, 0x1169, 0x1B6D, "12345678")}});
  VersionNumber loader = 1, firmware = 1, logic = 1;
  std::string serial = "old";
  ASSERT_EQ(IdentifyLoader(loader, firmware, logic, serial), rc::kOk);
  EXPECT_EQ(loader, 102);
  EXPECT_EQ(firmware, 105);
  EXPECT_EQ(logic, 21);
  EXPECT_EQ(serial, "12345678");
  EXPECT_THAT(loader_.requests, ElementsAre(Bytes{114}, Bytes{100}));

  AnswerBy({{114, {0x00}}, {100, Identification(0x0066, 0x1169, 0x1B6D, "123456789C")}});
  ASSERT_EQ(IdentifyLoader(loader, firmware, logic, serial), rc::kOk);
  EXPECT_EQ(serial, "123456789C");
}

TEST_F(LoaderTest, IdentifyWithAnOddLengthZeroesTheVersionsButKeepsTheSerial) {
  Bytes sixteen = Identification(0x0066, 0x1169, 0x1B6D, "123456789");
  AnswerBy({{114, {}}, {100, sixteen}});  // an empty answer to 114 is no echo
  VersionNumber loader = 1, firmware = 1, logic = 1;
  std::string serial = "AB12CD34";
  ASSERT_EQ(IdentifyLoader(loader, firmware, logic, serial), rc::kOk);
  EXPECT_EQ(loader + firmware + logic, 0);
  EXPECT_EQ(serial, "AB12CD34");
}

TEST_F(LoaderTest, IdentifyFailuresTouchNothing) {
  VersionNumber loader = 7, firmware = 8, logic = 9;
  std::string serial = "keep";

  Bytes not_d = Identification(0x0066, 0x1169, 0x1B6D, "12345678");
  not_d[0] = 'e';
  AnswerBy({{114, {0x00}}, {100, not_d}});
  EXPECT_EQ(IdentifyLoader(loader, firmware, logic, serial), rc::kMalformedAnswer);

  // The echo: a pause of a second, and code 100 is never sent.
  loader_.requests.clear();
  AnswerBy({{114, {114, 0x00}}});
  EXPECT_EQ(IdentifyLoader(loader, firmware, logic, serial), rc::kLoaderEchoed);
  EXPECT_THAT(loader_.requests, ElementsAre(Bytes{114}));
  EXPECT_EQ(platform_.line.delays.back(), 1000u);

  AnswerWith(std::nullopt);
  EXPECT_EQ(IdentifyLoader(loader, firmware, logic, serial), rc::kNoAnswer);
  EXPECT_EQ(loader, 7);
  EXPECT_EQ(firmware, 8);
  EXPECT_EQ(logic, 9);
  EXPECT_EQ(serial, "keep");
}

TEST(LoaderClosed, StartFirmwareWithoutALinkSendsNothing) {
  FakeSerialPlatform platform;
  EXPECT_EQ(StartFirmware(), rc::kLinkNotOpen);
  EXPECT_TRUE(platform.line.writes.empty());
}

TEST_F(LoaderTest, ReadFlashRequestAndAnswerChecks) {
  Bytes good(111, 0x5A);
  good[0] = 0x65;
  AnswerWith(good);
  std::uint8_t out[104] = {};
  ASSERT_EQ(ReadFlash(0x01008000, 104, out), rc::kOk);
  EXPECT_THAT(loader_.requests.back(), ElementsAre(0x65, 0x01, 0x00, 0x80, 0x00, 0x00, 0x68));
  EXPECT_EQ(out[0], 0x5A);
  EXPECT_EQ(out[103], 0x5A);

  Bytes bad_code = good;
  bad_code[0] = 0x66;
  for (const Bytes& bad : {Bytes(good.begin(), good.end() - 1), Bytes(112, 0x65), bad_code}) {
    std::uint8_t untouched[104] = {};
    AnswerWith(bad);
    EXPECT_EQ(ReadFlash(0x01008000, 104, untouched), rc::kMalformedAnswer);
    EXPECT_EQ(untouched[0], 0);
  }
  AnswerWith(Bytes{0x65, 1, 2, 3, 4, 5, 6});
  EXPECT_EQ(ReadFlash(0x01008000, 0, nullptr), rc::kOk);
}

TEST_F(LoaderTest, EraseSectorStatus) {
  struct {
    Bytes answer;
    ResultCode expected;
  } cases[] = {{{0x67, 0x00}, rc::kOk},
               {{0x67, 0x01}, rc::kEraseFailed},
               {{0x67}, rc::kMalformedAnswer},
               {{0x67, 0x00, 0x00}, rc::kMalformedAnswer},
               {{0x68, 0x00}, rc::kMalformedAnswer}};
  for (const auto& c : cases) {
    AnswerWith(c.answer);
    EXPECT_EQ(EraseSector(0x01040000), c.expected);
    EXPECT_THAT(loader_.requests.back(), ElementsAre(0x67, 0x01, 0x04, 0x00, 0x00));
  }
}

TEST_F(LoaderTest, ProgramFlashRequestStatusAndValue) {
  Bytes data(104);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
  std::uint32_t value = 0;
  AnswerWith(Bytes{0x68, 0x00, 0x12, 0x34, 0x56, 0x78});
  ASSERT_EQ(ProgramFlash(0x01008000, 104, data.data(), value), rc::kOk);
  EXPECT_EQ(value, 0x12345678u);
  const Bytes& q = loader_.requests.back();
  ASSERT_EQ(q.size(), 111u);
  EXPECT_THAT(Bytes(q.begin(), q.begin() + 7),
              ElementsAre(0x68, 0x01, 0x00, 0x80, 0x00, 0x00, 0x68));
  EXPECT_EQ(Bytes(q.begin() + 7, q.end()), data);

  AnswerWith(Bytes{0x68, 0x02, 0x00, 0x00, 0x00, 0x01});
  EXPECT_EQ(ProgramFlash(0x01008000, 104, data.data(), value), rc::kProgramFailed);
  EXPECT_EQ(value, 1u);  // stored whatever the status
  AnswerWith(Bytes{0x68, 0x00, 0x00, 0x00, 0x00});
  EXPECT_EQ(ProgramFlash(0x01008000, 4, data.data(), value), rc::kMalformedAnswer);
}

TEST_F(LoaderTest, ProgramFlashAboveTheRequestLimitIsRefusedUnsent) {
  Bytes data(2000, 0xAB);
  std::uint32_t value = 0;
  AnswerWith(Bytes{0x68, 0x00, 0, 0, 0, 0});
  const std::size_t before = loader_.requests.size();
  EXPECT_EQ(ProgramFlash(0x01040000, 1492, data.data(), value), rc::kRequestTooLong);
  EXPECT_EQ(ProgramFlash(0x01040000, 2000, data.data(), value), rc::kRequestTooLong);
  EXPECT_EQ(loader_.requests.size(), before);
  EXPECT_EQ(ProgramFlash(0x01040000, 1491, data.data(), value), rc::kOk);
}

TEST_F(LoaderTest, EraseAllSectorsStopsAtTheFirstFailure) {
  loader_.on_request = [](const Bytes& q) -> std::optional<Bytes> {
    const bool third = q[1] == 0x01 && q[2] == 0x01 && q[3] == 0x00;  // 0x01010000
    return Bytes{0x67, static_cast<std::uint8_t>(third ? 1 : 0)};
  };
  EXPECT_EQ(EraseAllSectors(), rc::kEraseFailed);
  ASSERT_EQ(loader_.requests.size(), 3u);
  EXPECT_THAT(loader_.requests[0], ElementsAre(0x67, 0x01, 0x00, 0x80, 0x00));
  EXPECT_THAT(loader_.requests[1], ElementsAre(0x67, 0x01, 0x00, 0xC0, 0x00));

  loader_.requests.clear();
  AnswerWith(Bytes{0x67, 0x00});
  EXPECT_EQ(EraseAllSectors(), rc::kOk);
  std::vector<std::uint32_t> addresses;
  for (const Bytes& q : loader_.requests) {
    addresses.push_back((std::uint32_t{q[1]} << 24) | (q[2] << 16) | (q[3] << 8) | q[4]);
  }
  EXPECT_THAT(addresses, ElementsAreArray(kFlashSectors));
}

TEST_F(LoaderTest, LogicCommandsSendTheirBytesAndTakeAnyAnswerWhereUnchecked) {
  AnswerWith(Bytes{});
  EXPECT_EQ(SetLogicAccess(true), rc::kOk);
  EXPECT_EQ(SetLogicAccess(false), rc::kOk);
  EXPECT_EQ(EraseLogic(), rc::kOk);
  EXPECT_EQ(ProgramFuseRow(5, std::string(240, '1')), rc::kOk);
  EXPECT_EQ(ProgramUes(std::string(120, '0')), rc::kOk);
  ASSERT_EQ(loader_.requests.size(), 5u);
  EXPECT_THAT(loader_.requests[0], ElementsAre(0x69, 0x01));
  EXPECT_THAT(loader_.requests[1], ElementsAre(0x69, 0x00));
  EXPECT_THAT(loader_.requests[2], ElementsAre(0x70));
  Bytes row{0x6C, 0x05};
  row.insert(row.end(), 240, 0x31);
  EXPECT_EQ(loader_.requests[3], row);
  Bytes ues{0x6E};
  ues.insert(ues.end(), 120, 0x30);
  EXPECT_EQ(loader_.requests[4], ues);
}

TEST_F(LoaderTest, ShortRowAndSignatureTextsAreNeverSent) {
  AnswerWith(Bytes{});
  EXPECT_EQ(ProgramFuseRow(0, std::string(239, '1')), rc::kShortRequestText);
  EXPECT_EQ(ProgramUes(std::string(119, '0')), rc::kShortRequestText);
  EXPECT_TRUE(loader_.requests.empty());
}

TEST_F(LoaderTest, ReadLogicDeviceIdTakesByteOne) {
  std::uint8_t type = 0;
  AnswerWith(Bytes{0x6A, 0x13});
  ASSERT_EQ(ReadLogicDeviceId(type), rc::kOk);
  EXPECT_EQ(type, 19);
  EXPECT_THAT(loader_.requests.back(), ElementsAre(0x6A));
  type = 7;
  AnswerWith(Bytes{0x6A});  // too short to hold a type: never a stale byte
  EXPECT_EQ(ReadLogicDeviceId(type), rc::kMalformedAnswer);
  EXPECT_EQ(type, 7);
}

TEST_F(LoaderTest, ReadFuseRowNeedsExactly481Bytes) {
  Bytes answer{0x00};
  answer.insert(answer.end(), 240, '1');
  answer.insert(answer.end(), 240, '0');
  AnswerWith(answer);
  std::string first = "x", second = "y";
  ASSERT_EQ(ReadFuseRow(133, first, second), rc::kOk);
  EXPECT_THAT(loader_.requests.back(), ElementsAre(0x6B, 0x85));
  EXPECT_EQ(first, std::string(240, '1'));
  EXPECT_EQ(second, std::string(240, '0'));
  for (std::size_t size : {480u, 482u}) {
    Bytes bad = answer;
    bad.resize(size, '1');
    AnswerWith(bad);
    first = "x";
    EXPECT_EQ(ReadFuseRow(1, first, second), rc::kMalformedAnswer);
    EXPECT_EQ(first, "x");
  }
}

TEST_F(LoaderTest, ReadUesNeedsExactly121Bytes) {
  Bytes answer{0x6D};
  for (int i = 0; i < 120; ++i) answer.push_back(i % 3 ? '0' : '1');
  AnswerWith(answer);
  std::string ues;
  ASSERT_EQ(ReadUes(ues), rc::kOk);
  EXPECT_EQ(ues, std::string(answer.begin() + 1, answer.end()));
  answer.pop_back();
  AnswerWith(answer);
  EXPECT_EQ(ReadUes(ues), rc::kMalformedAnswer);
}

}  // namespace
}  // namespace krt
