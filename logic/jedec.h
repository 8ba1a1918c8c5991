// The reader of the fuse list of a JEDEC fuse file.
//
// Nothing of the file but the fuse block is interpreted. The file is read in
// text mode, in chunks of at most 80 characters up to and including a line
// feed. Chunks are passed over until one is exactly "*L00000" and a line feed,
// the line that opens the fuse list. Then each of the 134 rows takes the next
// four chunks; from each the leading run of '0' and '1' characters is appended
// to the row, and the row must then hold exactly 240 fuses. So the file may
// hold one line of 240 fuses a row (three chunks of 80, then a chunk with the
// line feed or a closing '*'), or four lines of 60. Whatever follows the last
// row (checksums, the end of transmission) is not read.
#pragma once

#include <functional>
#include <string>

#include "logic/fuse_map.h"
#include "platform/text_file.h"

namespace krt {

enum class FuseFileStatus {
  kOk,          // the map holds 134 rows of 240 fuses
  kCannotOpen,  // the file cannot be opened
  kNoFuseList,  // the file ends before a chunk "*L00000" and a line feed
  kBadRow,      // `row` did not hold exactly 240 fuses after its four chunks
  kReadError,   // reading the file failed (not its end)
};

struct FuseFileResult {
  FuseFileStatus status;
  int row;  // the refused row (kBadRow, or the row being read at kReadError); -1 otherwise
};

// Reads the fuse list of the file `path` into `map`. The map is first emptied
// and given 134 empty rows, also when the file cannot be opened; after a bad
// row it holds the rows before it complete and that row as read. The file is
// closed before the call returns. `on_fuse_list_found` is called once, when
// the line opening the fuse list has been read.
FuseFileResult ReadFuseFile(const std::string& path, FuseMap& map,
                            const std::function<void()>& on_fuse_list_found = {});

// The same from a file already opened (kCannotOpen when it is not open). The
// file is left open, positioned after the last chunk read.
FuseFileResult ReadFuseFile(TextFile& file, FuseMap& map,
                            const std::function<void()>& on_fuse_list_found = {});

}  // namespace krt
