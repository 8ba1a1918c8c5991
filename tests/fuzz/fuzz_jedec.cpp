// The fuse file reader on arbitrary files, some of them failing part way as a
// bad disk would.
#include <cstdint>
#include <string>

#include "logic/jedec.h"
#include "platform/text_file.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(bytes), size);
  const bool failing = size % 4 == 3;
  krt::TextFile file(size % 3 == 0 ? krt::TextFile::kDefaultBufferSize : 2 + size % 7);
  file.OpenMemory(text, failing ? size / 2 : krt::TextFile::kNoReadError);

  krt::FuseMap map(size % 200, "stale");
  int found = 0;
  const krt::FuseFileResult result = krt::ReadFuseFile(file, map, [&] { ++found; });

  FUZZ_CHECK(map.size() == krt::kFuseRows);
  FUZZ_CHECK(found <= 1);
  switch (result.status) {
    case krt::FuseFileStatus::kOk:
      FUZZ_CHECK(found == 1 && result.row == -1);
      for (const std::string& row : map) {
        FUZZ_CHECK(row.size() == krt::kFusesPerRow);
        FUZZ_CHECK(row.find_first_not_of("01") == std::string::npos);
      }
      break;
    case krt::FuseFileStatus::kBadRow: {
      FUZZ_CHECK(found == 1);
      FUZZ_CHECK(result.row >= 0 && result.row < static_cast<int>(krt::kFuseRows));
      const std::size_t bad = static_cast<std::size_t>(result.row);
      for (std::size_t r = 0; r < krt::kFuseRows; ++r) {
        if (r < bad) FUZZ_CHECK(map[r].size() == krt::kFusesPerRow);
        if (r > bad) FUZZ_CHECK(map[r].empty());
      }
      FUZZ_CHECK(map[bad].size() != krt::kFusesPerRow);
      FUZZ_CHECK(map[bad].size() <= krt::kChunksPerRow * krt::kFuseChunkChars);
      break;
    }
    case krt::FuseFileStatus::kNoFuseList:
      FUZZ_CHECK(found == 0 && result.row == -1);
      for (const std::string& row : map) FUZZ_CHECK(row.empty());
      break;
    case krt::FuseFileStatus::kReadError:
      FUZZ_CHECK(failing);
      FUZZ_CHECK(result.row >= -1 && result.row < static_cast<int>(krt::kFuseRows));
      break;
    case krt::FuseFileStatus::kCannotOpen:
      FUZZ_CHECK(false);  // the file is open
      break;
  }
  return 0;
}
