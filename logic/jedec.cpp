#include "logic/jedec.h"

#include <string_view>

namespace krt {
namespace {

constexpr std::string_view kFuseListLine = "*L00000\n";

// The leading run of fuse characters of a chunk.
std::string_view LeadingFuses(std::string_view chunk) {
  std::size_t n = 0;
  while (n < chunk.size() && (chunk[n] == '0' || chunk[n] == '1')) ++n;
  return chunk.substr(0, n);
}

}  // namespace

FuseFileResult ReadFuseFile(const std::string& path, FuseMap& map,
                            const std::function<void()>& on_fuse_list_found) {
  TextFile file;
  if (!file.Open(path)) {
    map.assign(kFuseRows, std::string());
    return {FuseFileStatus::kCannotOpen, -1};
  }
  return ReadFuseFile(file, map, on_fuse_list_found);
}

FuseFileResult ReadFuseFile(TextFile& file, FuseMap& map,
                            const std::function<void()>& on_fuse_list_found) {
  map.assign(kFuseRows, std::string());
  if (!file.IsOpen()) return {FuseFileStatus::kCannotOpen, -1};

  std::string chunk;
  for (;;) {
    const TextFile::Read read = file.ReadPiece(kFuseChunkChars, chunk);
    if (read == TextFile::Read::kEnd) return {FuseFileStatus::kNoFuseList, -1};
    if (read == TextFile::Read::kError) return {FuseFileStatus::kReadError, -1};
    if (chunk == kFuseListLine) break;
  }
  if (on_fuse_list_found) on_fuse_list_found();

  for (std::size_t r = 0; r < kFuseRows; ++r) {
    std::string& row = map[r];
    row.reserve(kFusesPerRow);
    for (std::size_t c = 0; c < kChunksPerRow; ++c) {
      // A chunk read at the end of the file is empty and adds nothing.
      if (file.ReadPiece(kFuseChunkChars, chunk) == TextFile::Read::kError) {
        return {FuseFileStatus::kReadError, static_cast<int>(r)};
      }
      row.append(LeadingFuses(chunk));
    }
    if (row.size() != kFusesPerRow) return {FuseFileStatus::kBadRow, static_cast<int>(r)};
  }
  return {FuseFileStatus::kOk, -1};
}

}  // namespace krt
