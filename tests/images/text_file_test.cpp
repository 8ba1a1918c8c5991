#include "platform/text_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace krt {
namespace {

using ::testing::ElementsAreArray;
using Pieces = std::vector<std::string>;

struct PieceCase {
  const char* name;
  std::string text;
  std::size_t max_chars;
  Pieces pieces;
};

// All pieces up to the end; checks on the way that the position grows with
// every piece and ends at the file's length.
Pieces ReadAll(TextFile& file, std::size_t max_chars) {
  Pieces pieces;
  std::string piece;
  std::uint64_t last = 0;
  TextFile::Read read;
  while ((read = file.ReadPiece(max_chars, piece)) == TextFile::Read::kPiece) {
    EXPECT_FALSE(piece.empty());
    EXPECT_LE(piece.size(), std::max<std::size_t>(max_chars, 1));
    EXPECT_GT(file.Position(), last);
    last = file.Position();
    pieces.push_back(piece);
  }
  EXPECT_EQ(read, TextFile::Read::kEnd);
  EXPECT_TRUE(piece.empty());
  EXPECT_EQ(file.Position(), file.Length());
  EXPECT_EQ(file.ReadPiece(max_chars, piece), TextFile::Read::kEnd);
  return pieces;
}

const PieceCase kPieceCases[] = {
    {"Lines", "ab\ncd\n", 255, {"ab\n", "cd\n"}},
    {"CrLfBecomesLf", "ab\r\ncd\r\n", 255, {"ab\n", "cd\n"}},
    {"LoneCrStays", "a\rb\n", 255, {"a\rb\n"}},
    {"CrAtEndOfFileStays", "ab\r", 255, {"ab\r"}},
    {"CrCrLf", "a\r\r\n", 255, {"a\r\n"}},
    {"CrLfCrLf", "\r\n\r\n", 255, {"\n", "\n"}},
    {"LastLineWithoutLf", "ab\ncd", 255, {"ab\n", "cd"}},
    {"Empty", "", 255, {}},
    {"EmptyLines", "\n\n", 255, {"\n", "\n"}},
    {"NulBytesAreCharacters", std::string("a\0b\n", 4), 255, {std::string("a\0b\n", 4)}},
    {"LongLineInPieces", "abcdefg\n", 3, {"abc", "def", "g\n"}},
    {"LineOfExactlyMax", "abc\n", 4, {"abc\n"}},
    {"LfAfterFullPiece", "abcd\n", 4, {"abcd", "\n"}},
    // A CR LF is one character of a piece, also as its last one.
    {"CrLfAsLastCharacter", "abc\r\n", 4, {"abc\n"}},
    {"CrLfAfterFullPiece", "abcd\r\nx", 4, {"abcd", "\n", "x"}},
    {"LoneCrAsLastCharacter", "abc\rd\n", 4, {"abc\r", "d\n"}},
    {"ZeroMaxCountsAsOne", "ab", 0, {"a", "b"}},
};

// Every case through memory and through a real file, with buffers so small
// that carriage returns and line feeds fall on every possible boundary.
class PieceTest : public ::testing::TestWithParam<PieceCase> {};

TEST_P(PieceTest, PiecesAsInTextMode) {
  const PieceCase& c = GetParam();
  test::TempDir dir;
  const std::string path = dir.Write("t.txt", c.text);
  for (const std::size_t buffer : {1, 2, 3, 5, 8192}) {
    for (const bool from_disk : {false, true}) {
      SCOPED_TRACE(testing::Message()
                   << "buffer " << buffer << (from_disk ? ", file" : ", memory"));
      TextFile file(buffer);
      if (from_disk) {
        ASSERT_TRUE(file.Open(path));
      } else {
        file.OpenMemory(c.text);
      }
      EXPECT_EQ(file.Length(), c.text.size());
      EXPECT_EQ(file.Position(), 0u);
      EXPECT_THAT(ReadAll(file, c.max_chars), ElementsAreArray(c.pieces));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, PieceTest, ::testing::ValuesIn(kPieceCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TextFileTest, PositionCountsCarriageReturns) {
  TextFile file;
  file.OpenMemory("ab\r\ncd\r\nef\n");
  std::string piece;
  ASSERT_EQ(file.ReadPiece(255, piece), TextFile::Read::kPiece);
  EXPECT_EQ(file.Position(), 4u);
  ASSERT_EQ(file.ReadPiece(255, piece), TextFile::Read::kPiece);
  EXPECT_EQ(file.Position(), 8u);
  ASSERT_EQ(file.ReadPiece(255, piece), TextFile::Read::kPiece);
  EXPECT_EQ(file.Position(), 11u);
  EXPECT_EQ(file.Length(), 11u);
}

// CR LF exactly across the boundary of the default buffer of a real file.
TEST(TextFileTest, CrLfAcrossTheBufferBoundaryOfAFile) {
  test::TempDir dir;
  std::string text(TextFile::kDefaultBufferSize - 1, 'x');
  text += "\r\nend\r\n";
  TextFile file;
  ASSERT_TRUE(file.Open(dir.Write("t.txt", text)));
  EXPECT_THAT(ReadAll(file, 1u << 20),
              ElementsAreArray({std::string(TextFile::kDefaultBufferSize - 1, 'x') + "\n",
                                std::string("end\n")}));
}

TEST(TextFileTest, RefusesWhatIsNoReadableRegularFile) {
  test::TempDir dir;
  TextFile file;
  EXPECT_FALSE(file.Open(""));
  EXPECT_FALSE(file.Open(dir.File("missing.txt")));
  EXPECT_FALSE(file.Open(dir.path()));
  // A FIFO without a writer: refused at once instead of blocking in open or read.
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  EXPECT_FALSE(file.Open(dir.File("fifo")));
  EXPECT_FALSE(file.Open("/dev/null"));
  EXPECT_FALSE(file.IsOpen());
  std::string piece = "x";
  EXPECT_EQ(file.ReadPiece(255, piece), TextFile::Read::kError);
  EXPECT_TRUE(piece.empty());

  const std::string locked = dir.Write("locked.txt", "S0\n");
  ASSERT_EQ(chmod(locked.c_str(), 0), 0);
  if (geteuid() != 0) {
    EXPECT_FALSE(file.Open(locked));  // root reads it all the same
  }
}

TEST(TextFileTest, OpeningAgainStartsAfresh) {
  test::TempDir dir;
  TextFile file;
  file.OpenMemory("first\n");
  std::string piece;
  ASSERT_EQ(file.ReadPiece(255, piece), TextFile::Read::kPiece);
  ASSERT_TRUE(file.Open(dir.Write("t.txt", "second\n")));
  EXPECT_EQ(file.Position(), 0u);
  EXPECT_THAT(ReadAll(file, 255), ElementsAreArray({"second\n"}));
  file.Close();
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.ReadPiece(255, piece), TextFile::Read::kError);
}

// /proc/self/mem is a regular file that opens, but reading at offset 0 (an
// unmapped address) fails with EIO: a real read error, not the end of a file.
TEST(TextFileTest, ReadErrorOfARealFileIsNoEnd) {
  TextFile file;
  ASSERT_TRUE(file.Open("/proc/self/mem"));
  std::string piece;
  EXPECT_EQ(file.ReadPiece(255, piece), TextFile::Read::kError);
  EXPECT_EQ(file.ReadPiece(255, piece), TextFile::Read::kError);
}

struct ErrorCase {
  const char* name;
  std::size_t error_at;
  std::size_t buffer;
  Pieces before;  // the pieces delivered before the error
};

class ReadErrorTest : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ReadErrorTest, PiecesBeforeTheErrorThenErrorForGood) {
  const ErrorCase& c = GetParam();
  TextFile file(c.buffer);
  file.OpenMemory("ab\r\ncd\nef\n", c.error_at);
  std::string piece;
  for (const std::string& expected : c.before) {
    ASSERT_EQ(file.ReadPiece(255, piece), TextFile::Read::kPiece);
    EXPECT_EQ(piece, expected);
  }
  EXPECT_EQ(file.ReadPiece(255, piece), TextFile::Read::kError);
  EXPECT_TRUE(piece.empty());
  EXPECT_EQ(file.ReadPiece(255, piece), TextFile::Read::kError);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadErrorTest,
    ::testing::Values(ErrorCase{"AtOnce", 0, 8192, {}},
                      // The piece under way when the read fails is not delivered.
                      ErrorCase{"InsideTheFirstLine", 2, 8192, {}},
                      // The CR is the last byte before the error: the look at the
                      // byte after it fails.
                      ErrorCase{"AfterACarriageReturn", 3, 2, {}},
                      ErrorCase{"AfterTwoLines", 7, 3, {"ab\n", "cd\n"}},
                      // Failing at the length itself: the last line comes, the end
                      // does not.
                      ErrorCase{"AtTheEnd", 10, 4, {"ab\n", "cd\n", "ef\n"}}),
    [](const auto& info) { return std::string(info.param.name); });

// Reading is buffered and linear: 16 MiB of long lines pass in well under the
// test's time-out even in a sanitizer build.
TEST(TextFileTest, LargeFileReadsQuickly) {
  test::TempDir dir;
  const std::string path = dir.File("big.txt");
  {
    std::string line(1000, 'a');
    line += "\r\n";
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < 16 * 1024; ++i) out << line;
  }
  TextFile file;
  ASSERT_TRUE(file.Open(path));
  std::string piece;
  std::size_t pieces = 0;
  const auto start = std::chrono::steady_clock::now();
  while (file.ReadPiece(255, piece) == TextFile::Read::kPiece) ++pieces;
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(pieces, 16u * 1024u * 4u);
  EXPECT_EQ(file.Position(), file.Length());
  EXPECT_EQ(file.Length(), 16u * 1024u * 1002u);
  EXPECT_LT(elapsed, std::chrono::seconds(20));
}

}  // namespace
}  // namespace krt
