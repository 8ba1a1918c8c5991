#include "firmware/srec.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "platform/text_file.h"
#include "tests/support/temp_dir.h"

namespace krt {
namespace {

using ::testing::ElementsAreArray;
using Bytes = std::vector<std::uint8_t>;

struct SRecordCase {
  const char* name;
  std::string line;
  int result;
  std::uint32_t address = 0;  // checked for results above 0
  Bytes data = {};
};

class DecodeSRecordTest : public ::testing::TestWithParam<SRecordCase> {};

TEST_P(DecodeSRecordTest, DecodesAsTheRecordSays) {
  const SRecordCase& c = GetParam();
  // Exactly as large as the decoder may use, on the heap, so that a write
  // past it is caught by the address sanitizer.
  std::vector<std::uint8_t> buffer(kSRecordMaxData);
  std::uint32_t address = 0xDEADBEEF;
  const int n = DecodeSRecord(c.line, address, buffer.data());
  ASSERT_EQ(n, c.result);
  if (n > 0) {
    EXPECT_EQ(address, c.address);
    EXPECT_THAT(Bytes(buffer.begin(), buffer.begin() + n), ElementsAreArray(c.data));
  }
}

const SRecordCase kSRecordCases[] = {
    {"S1", "S107000001020304EE\n", 4, 0x0000, {0x01, 0x02, 0x03, 0x04}},
    {"S3", "S30A010400101122334455E1\n", 5, 0x01040010, {0x11, 0x22, 0x33, 0x44, 0x55}},
    {"S2", "S2070400101122337E\n", 3, 0x040010, {0x11, 0x22, 0x33}},
    {"LowerCase", "s107000001020304ee\n", 4, 0x0000, {0x01, 0x02, 0x03, 0x04}},
    {"BlanksBeforeTheRecord", "  S107000001020304EE\n", 4, 0x0000, {0x01, 0x02, 0x03, 0x04}},
    {"AnyTextBeforeTheRecord", "#:S107000001020304EE\n", 4, 0x0000, {0x01, 0x02, 0x03, 0x04}},
    // The last character is not examined.
    {"AnyCharacterForTheLineFeed", "S107000001020304EEx", 4, 0x0000, {0x01, 0x02, 0x03, 0x04}},

    // Refused by the length test.
    {"NoLineFeed", "S107000001020304EE", -1},
    {"BlankBeforeLineFeed", "S107000001020304EE \n", -1},
    {"CarriageReturnBeforeLineFeed", "S107000001020304EE\r\n", -1},
    {"TheFirstSStartsTheRecord", "xs S107000001020304EE\n", -1},
    {"CountLongerThanTheLine", "S1FF0000\n", -1},
    {"SkippedTypeWithWrongLength", "S9030000F\n", -1},
    {"OnlyS", "S", -1},
    {"OnlyType", "S1\n", -1},
    {"OneCountDigit", "S10\n", -1},

    // Refused otherwise.
    {"Empty", "", -1},
    {"LoneLineFeed", "\n", -1},
    {"NoS", "0123456789\n", -1},
    {"WrongChecksum", "S107000001020304EF\n", -1},
    {"S1TooShortForAddress", "S1020000\n", -1},
    {"S1CountZero", "S100\n", -1},
    {"S2TooShortForAddress", "S203000000\n", -1},
    {"S3TooShortForAddress", "S30400000000\n", -1},

    // Nothing to program.
    {"DataRecordWithoutData", "S1031234B6\n", 0},
    {"S9", "S9030000FC\n", 0},
    {"S9ChecksumNotExamined", "S9030000FD\n", 0},
    {"S0Header", "S00F00004B3730434F5046572E313032FE\n", 0},
    {"S5Count", "S5030004F8\n", 0},
    {"S7", "S70501040000F5\n", 0},
    {"UnknownType", "SX03000000\n", 0},

    // Characters that are no hexadecimal digits count as 0; the checksum
    // decides. Replacing a '0' leaves the record intact...
    {"LetterForAZeroDigit", "S1070000G1020304EE\n", 4, 0x0000, {0x01, 0x02, 0x03, 0x04}},
    {"ColonForAZeroDigit", "S1070000:1020304EE\n", 4, 0x0000, {0x01, 0x02, 0x03, 0x04}},
    // ...anything else corrupts it.
    {"LetterForAOneDigit", "S10700000G020304EE\n", -1},
    {"PunctuationForADigit", "S10700000!020304EE\n", -1},
    {"HighByteForADigit",
     "S10700000\xE9"
     "020304EE\n",
     -1},
    {"NulForADigit",
     std::string("S10700000\0"
                 "020304EE\n",
                 19),
     -1},
};

INSTANTIATE_TEST_SUITE_P(Cases, DecodeSRecordTest, ::testing::ValuesIn(kSRecordCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A record with the largest byte count, built with its checksum.
std::string LongestRecord(char type, unsigned address_bytes, Bytes& data) {
  std::string line = "S";
  line += type;
  unsigned sum = 0;
  auto put = [&](unsigned b) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", b & 0xFF);
    line += hex;
    sum += b;
  };
  put(255);
  for (unsigned i = 0; i < address_bytes; ++i) put(0x10 + i);
  data.clear();
  for (unsigned i = 0; i < 255 - address_bytes - 1; ++i) {
    data.push_back(static_cast<std::uint8_t>(i * 7 + 3));
    put(data.back());
  }
  put(0xFF - (sum & 0xFF));
  return line + "\n";
}

TEST(DecodeSRecordTest, LongestRecordsFillExactlyTheBuffer) {
  for (const auto& [type, address_bytes, address] :
       {std::tuple{'1', 2u, 0x1011u}, {'2', 3u, 0x101112u}, {'3', 4u, 0x10111213u}}) {
    Bytes data;
    const std::string line = LongestRecord(type, address_bytes, data);
    ASSERT_EQ(line.size(), 515u);
    std::vector<std::uint8_t> buffer(kSRecordMaxData);
    std::uint32_t got = 0;
    ASSERT_EQ(DecodeSRecord(line, got, buffer.data()), static_cast<int>(data.size())) << type;
    EXPECT_EQ(got, address);
    EXPECT_THAT(Bytes(buffer.begin(), buffer.begin() + data.size()), ElementsAreArray(data));
  }
}

// The image made by objcopy from a known binary (objcopy ends its lines in
// CR LF) and the same with LF line ends decode to exactly the binary's bytes,
// read as the firmware flashing reads them: pieces of at most 255 characters.
class FixtureImageTest : public ::testing::TestWithParam<const char*> {};

TEST_P(FixtureImageTest, DecodesToTheBytesOfItsBinary) {
  const std::string dir = KRT_FIXTURE_DIR;
  const std::string binary = test::ReadWholeFile(dir + "/variants/firmware.bin");
  ASSERT_EQ(binary.size(), 4096u);

  TextFile file;
  ASSERT_TRUE(file.Open(dir + "/" + GetParam()));
  std::map<std::uint32_t, std::uint8_t> flash;
  std::uint8_t record[256];
  std::string line;
  int skipped = 0;
  int records = 0;
  while (file.ReadPiece(255, line) == TextFile::Read::kPiece) {
    std::uint32_t address = 0;
    const int n = DecodeSRecord(line, address, record);
    ASSERT_GE(n, 0) << line;
    if (n == 0) {
      ++skipped;
      continue;
    }
    ++records;
    EXPECT_EQ(n, 16) << line;
    for (int i = 0; i < n; ++i) {
      EXPECT_TRUE(flash.emplace(address + i, record[i]).second) << "twice: " << address + i;
    }
  }
  EXPECT_EQ(file.Position(), file.Length());
  EXPECT_EQ(skipped, 2);  // the S0 header and the S7 termination
  EXPECT_EQ(records, 256);

  ASSERT_EQ(flash.size(), binary.size());
  std::uint32_t expected_address = 0x01040000;
  for (const auto& [address, byte] : flash) {
    ASSERT_EQ(address, expected_address);
    ASSERT_EQ(byte, static_cast<std::uint8_t>(binary[address - 0x01040000])) << address;
    ++expected_address;
  }
  EXPECT_EQ(flash.at(0x01040004), 102);  // the version byte the probe firmware carries
}

INSTANTIATE_TEST_SUITE_P(Images, FixtureImageTest,
                         ::testing::Values("K70COPFW.102", "variants/firmware_lf.srec"),
                         [](const auto& info) {
                           return std::string(info.index == 0 ? "AsObjcopyWritesIt" : "Lf");
                         });

}  // namespace
}  // namespace krt
