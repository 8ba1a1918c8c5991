// --trace: a timestamped hex dump of what crosses the line, written from the
// link's tap (the link itself prints nothing).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "link/link_tap.h"

namespace krt::cli {

// The lines for one tap event at `time_text` (such as "12:03:04.123456"):
//   12:03:04.123456 frame sent      9 bytes  10 00 72 ...
//                                            (16 bytes a line)
std::string TraceText(const std::string& time_text, TapEvent event, const std::uint8_t* data,
                      std::size_t size, ResultCode code);

// A tap that writes TraceText with the local wall-clock time to `stream`,
// flushed after each event.
LinkTap TraceTap(std::FILE* stream);

}  // namespace krt::cli
