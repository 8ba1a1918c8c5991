// The decoder of one Motorola S-record line of a firmware image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace krt {

// The most data bytes one record can carry (byte count 255, 2 address bytes).
inline constexpr std::size_t kSRecordMaxData = 252;

// Decodes one line as the image reader delivers it, the line feed included
// (a carriage return before it has already been dropped). Letter case does not
// matter; characters before the first 'S' are ignored. The line must be
// exactly as long as its byte count says, one character (the line feed) after
// the checksum included.
//
//   n > 0  an S1, S2 or S3 data record with n data bytes: `address` and the
//          first n bytes of `data` are set
//   0      nothing to program: a record of any other type (its checksum is not
//          examined), or a data record without data bytes and a good checksum
//   -1     the line is refused: empty, no 'S', wrong length, a data record too
//          short for its address and checksum, or a wrong checksum
//
// `data` must hold kSRecordMaxData bytes. `address` is set only for data
// records; after 0 or -1 neither output is meaningful.
int DecodeSRecord(std::string_view line, std::uint32_t& address, std::uint8_t* data);

}  // namespace krt
