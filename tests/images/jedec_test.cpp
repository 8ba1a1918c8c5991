#include "logic/jedec.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <random>
#include <string>

#include "tests/support/temp_dir.h"

namespace krt {
namespace {

// The fuses of row r in the files built here.
const std::string& FuseRow(std::size_t r) {
  static const FuseMap rows = [] {
    FuseMap map(kFuseRows);
    for (std::size_t row = 0; row < kFuseRows; ++row) {
      for (std::size_t i = 0; i < kFusesPerRow; ++i) {
        map[row] += ((row * 7 + i * 3 + i / 7) % 3 == 0) ? '1' : '0';
      }
    }
    return map;
  }();
  return rows[r];
}

const std::string kHeader = "\x02KRT700 EPLD\n*QP84\n*QF32160\n*F0\n";
const std::string kTrailer =
    "C1234*\n\x03"
    "0000\n";

enum class Layout { kOneLine, kFourLines, kThreeLines };

// A fuse block: the fuse list line, then the rows, the last closed by '*'.
// `edit` may change a row's fuse text before it is laid out.
std::string Block(Layout layout, const std::string& eol = "\n", std::size_t rows = kFuseRows,
                  const std::function<void(std::size_t, std::string&)>& edit = {}) {
  std::string text = "*L00000" + eol;
  for (std::size_t r = 0; r < rows; ++r) {
    std::string fuses = FuseRow(r);
    if (edit) edit(r, fuses);
    const std::string close = r + 1 == kFuseRows ? "*" : "";
    if (layout == Layout::kOneLine) {
      text += fuses + close + eol;
    } else {
      const std::size_t width = layout == Layout::kFourLines ? 60 : 80;
      for (std::size_t at = 0; at < fuses.size(); at += width) {
        text += fuses.substr(at, width) + (at + width >= fuses.size() ? close : "") + eol;
      }
    }
  }
  return text;
}

std::string File(const std::string& block) { return kHeader + block + kTrailer; }

// Replaces line `line` (counted from 0 after the fuse list line) of a block.
std::string EditLine(std::string block, std::size_t line, const std::string& text) {
  std::size_t begin = block.find('\n') + 1;
  for (std::size_t i = 0; i < line; ++i) begin = block.find('\n', begin) + 1;
  const std::size_t end = block.find('\n', begin);
  return block.replace(begin, end - begin, text);
}

struct FuseFileCase {
  const char* name;
  std::function<std::string()> text;  // built when the case runs
  FuseFileStatus status;
  int row = -1;
  // The length of the refused row as read; -1: not checked.
  int bad_row_length = -1;
};

class ReadFuseFileTest : public ::testing::TestWithParam<FuseFileCase> {};

TEST_P(ReadFuseFileTest, ReadsTheFuseBlock) {
  const FuseFileCase& c = GetParam();
  TextFile file;
  file.OpenMemory(c.text());
  FuseMap map(3, "stale");
  int found = 0;
  const FuseFileResult result = ReadFuseFile(file, map, [&] { ++found; });
  EXPECT_EQ(result.status, c.status);
  EXPECT_EQ(result.row, c.row);
  EXPECT_EQ(found, c.status == FuseFileStatus::kNoFuseList ? 0 : 1);
  ASSERT_EQ(map.size(), kFuseRows);
  const std::size_t complete = c.status == FuseFileStatus::kOk ? kFuseRows : c.row < 0 ? 0 : c.row;
  for (std::size_t r = 0; r < kFuseRows; ++r) {
    if (r < complete) {
      EXPECT_EQ(map[r], FuseRow(r)) << "row " << r;
    } else if (static_cast<int>(r) == c.row) {
      if (c.bad_row_length >= 0) {
        EXPECT_EQ(map[r].size(), std::size_t(c.bad_row_length));
      }
    } else {
      EXPECT_EQ(map[r], "") << "row " << r;
    }
  }
}

std::string OneLine() { return Block(Layout::kOneLine); }
std::string FourLines() { return Block(Layout::kFourLines); }

const FuseFileCase kFuseFileCases[] = {
    {"OneLineARow", [] { return File(OneLine()); }, FuseFileStatus::kOk},
    {"OneLineARowCrLf", [] { return File(Block(Layout::kOneLine, "\r\n")); }, FuseFileStatus::kOk},
    {"FourLinesOf60", [] { return File(FourLines()); }, FuseFileStatus::kOk},
    {"FourLinesOf60CrLf", [] { return File(Block(Layout::kFourLines, "\r\n")); },
     FuseFileStatus::kOk},
    {"NothingBeforeTheFuseList", [] { return OneLine(); }, FuseFileStatus::kOk},
    {"LastRowWithoutStarOrLineFeed",
     [] { return kHeader + OneLine().substr(0, OneLine().size() - 2); }, FuseFileStatus::kOk},
    {"LastRowWithStarWithoutLineFeed",
     [] { return kHeader + OneLine().substr(0, OneLine().size() - 1); }, FuseFileStatus::kOk},
    {"BlankAndStarAfterARow",
     [] {
       return File(Block(Layout::kOneLine, "\n", kFuseRows,
                         [](std::size_t r, std::string& f) { f += r == 9 ? " *" : ""; }));
     },
     FuseFileStatus::kOk},
    {"HeaderLinesOfAnyLength", [] { return std::string(1000, 'N') + "\n" + File(OneLine()); },
     FuseFileStatus::kOk},
    // The last 80-character chunk of a long line is the fuse list line.
    {"FuseListLineAsLastChunkOfALongLine",
     [] { return kHeader + std::string(160, 'x') + OneLine(); }, FuseFileStatus::kOk},
    {"FuseListLineNotOnAChunk", [] { return kHeader + std::string(79, 'x') + OneLine(); },
     FuseFileStatus::kNoFuseList},

    {"ThreeLinesOf80", [] { return File(Block(Layout::kThreeLines)); }, FuseFileStatus::kBadRow, 0,
     160},
    // 239 fuses and the line feed fill three chunks; the fourth takes 80 fuses
    // of the next line.
    {"RowOf239", [] { return File(EditLine(OneLine(), 5, FuseRow(5).substr(1))); },
     FuseFileStatus::kBadRow, 5, 319},
    // The fourth chunk begins with the 241st fuse.
    {"RowOf241", [] { return File(EditLine(OneLine(), 5, FuseRow(5) + "0")); },
     FuseFileStatus::kBadRow, 5, 241},
    {"ForeignCharacterEndsAChunksFuses",
     [] { return File(EditLine(FourLines(), 4 * 3 + 1, "0101x" + FuseRow(3).substr(65, 55))); },
     FuseFileStatus::kBadRow, 3, 184},
    {"ChunkStartingWithABlankAddsNothing",
     [] { return File(EditLine(FourLines(), 4 * 3 + 2, " " + FuseRow(3).substr(120, 60))); },
     FuseFileStatus::kBadRow, 3, 180},
    {"EndsAfterFiftyRows", [] { return kHeader + Block(Layout::kOneLine, "\n", 50); },
     FuseFileStatus::kBadRow, 50, 0},
    {"EndsInsideARow",
     [] { return kHeader + Block(Layout::kOneLine, "\n", 51).substr(0, 8 + 50 * 241 + 100); },
     FuseFileStatus::kBadRow, 50, 100},
    {"OnlyTheFuseListLine", [] { return "*L00000\n"; }, FuseFileStatus::kBadRow, 0, 0},
    {"GarbageAfterTheFuseListLine", [] { return "*L00000\nQF32160*\nG0*\n"; },
     FuseFileStatus::kBadRow, 0, 0},

    {"Empty", [] { return ""; }, FuseFileStatus::kNoFuseList},
    {"HeaderOnly", [] { return kHeader + kTrailer; }, FuseFileStatus::kNoFuseList},
    {"TrailingBlank", [] { return kHeader + "*L00000 \n" + OneLine().substr(8); },
     FuseFileStatus::kNoFuseList},
    {"NoStar", [] { return kHeader + "L00000\n" + OneLine().substr(8); },
     FuseFileStatus::kNoFuseList},
    {"LowerCaseL", [] { return kHeader + "*l00000\n" + OneLine().substr(8); },
     FuseFileStatus::kNoFuseList},
    {"FourZeros", [] { return kHeader + "*L0000\n" + OneLine().substr(8); },
     FuseFileStatus::kNoFuseList},
    {"FusesOnTheSameLine", [] { return kHeader + "*L00000 " + OneLine().substr(8); },
     FuseFileStatus::kNoFuseList},
    {"LoneCarriageReturn", [] { return kHeader + "*L00000\r\r\n" + OneLine().substr(8); },
     FuseFileStatus::kNoFuseList},
};

INSTANTIATE_TEST_SUITE_P(Cases, ReadFuseFileTest, ::testing::ValuesIn(kFuseFileCases),
                         [](const auto& info) { return info.param.name; });

// The files made like the real tools make them: header, fuse checksum and end
// of transmission around the fuse list.
class FixtureFuseFileTest : public ::testing::TestWithParam<const char*> {};

TEST_P(FixtureFuseFileTest, ReadsTheFuseMapOfTheFile) {
  const std::string dir = KRT_FIXTURE_DIR;
  FuseMap expected;
  {
    std::ifstream in(dir + "/variants/fuses.txt");
    for (std::string line; std::getline(in, line);) expected.push_back(line);
  }
  ASSERT_EQ(expected.size(), kFuseRows);
  FuseMap map;
  const FuseFileResult result = ReadFuseFile(dir + "/" + GetParam(), map);
  EXPECT_EQ(result.status, FuseFileStatus::kOk);
  EXPECT_EQ(map, expected);
}

const char* const kFixtureFuseFiles[] = {"COPJED70.101", "variants/jedec_crlf.jed",
                                         "variants/jedec_4x60.jed"};
const char* const kFixtureFuseNames[] = {"OneLineARow", "CrLf", "FourLinesOf60"};

INSTANTIATE_TEST_SUITE_P(Files, FixtureFuseFileTest, ::testing::ValuesIn(kFixtureFuseFiles),
                         [](const auto& info) { return kFixtureFuseNames[info.index]; });

TEST(ReadFuseFilePathTest, WhatCannotBeOpened) {
  test::TempDir dir;
  for (const std::string& path : {dir.File("COPJED70.101"), dir.path(), std::string()}) {
    FuseMap map(200, "0");
    bool found = false;
    const FuseFileResult result = ReadFuseFile(path, map, [&] { found = true; });
    EXPECT_EQ(result.status, FuseFileStatus::kCannotOpen) << path;
    EXPECT_EQ(result.row, -1);
    EXPECT_EQ(map, FuseMap(kFuseRows));
    EXPECT_FALSE(found);
  }
  TextFile closed;
  FuseMap map;
  EXPECT_EQ(ReadFuseFile(closed, map).status, FuseFileStatus::kCannotOpen);
  EXPECT_EQ(map.size(), kFuseRows);
}

TEST(ReadFuseFilePathTest, ReadErrorsAreNoEndOfFile) {
  const std::string text = File(OneLine());
  struct {
    std::size_t error_at;
    int row;
  } const cases[] = {{0, -1}, {10, -1}, {kHeader.size() + 8 + 7 * 241 + 30, 7}};
  for (const auto& c : cases) {
    TextFile file;
    file.OpenMemory(text, c.error_at);
    FuseMap map;
    const FuseFileResult result = ReadFuseFile(file, map);
    EXPECT_EQ(result.status, FuseFileStatus::kReadError) << c.error_at;
    EXPECT_EQ(result.row, c.row) << c.error_at;
  }
  FuseMap map;
  EXPECT_EQ(ReadFuseFile("/proc/self/mem", map).status, FuseFileStatus::kReadError);
}

TEST(ReadFuseFilePathTest, BinaryGarbage) {
  std::mt19937 random(7);
  std::string garbage(1 << 16, '\0');
  for (char& ch : garbage) ch = static_cast<char>(random());
  TextFile file;
  file.OpenMemory(garbage);
  FuseMap map;
  EXPECT_EQ(ReadFuseFile(file, map).status, FuseFileStatus::kNoFuseList);
}

// 32 MiB without a fuse list (a sparse file of zeros, one endless line) is
// searched to its end and refused, in far less than the test's time-out.
TEST(ReadFuseFilePathTest, HugeFileWithoutFuseList) {
  test::TempDir dir;
  const std::string path = dir.File("COPJED70.101");
  {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 32 << 20), 0);
    close(fd);
  }
  FuseMap map;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ReadFuseFile(path, map).status, FuseFileStatus::kNoFuseList);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

}  // namespace
}  // namespace krt
