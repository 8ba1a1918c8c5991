// The fuse map of the probe's ispLSI logic device: 134 rows of 240 fuse
// states, each the character '0' or '1', kept as text in file order. Row r is
// the row number sent to the device for that row.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace krt {

using FuseMap = std::vector<std::string>;

inline constexpr std::size_t kFuseRows = 134;
inline constexpr std::size_t kFusesPerRow = 240;
// The fuse file is read in chunks of at most this many characters, and every
// row takes exactly this many chunks.
inline constexpr std::size_t kFuseChunkChars = 80;
inline constexpr std::size_t kChunksPerRow = 4;

}  // namespace krt
