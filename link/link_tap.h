// A tap through which the link's front end may watch the line. The link
// itself never prints; a front end (the command-line tool's --trace) sets a
// tap and decides what to show.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "link/result_code.h"

namespace krt {

enum class TapEvent {
  kRawWritten,     // bytes handed to the device in one write (frames and wake-up bytes)
  kRawRead,        // bytes one read of the device delivered
  kInputPurged,    // bytes dropped by PurgeInput (count only)
  kFrameSent,      // the data of a frame before escaping
  kFrameReceived,  // the data of an accepted frame
  kReceiveFailed,  // ReceiveFrame ended with `code`
};

using LinkTap = std::function<void(TapEvent event, const std::uint8_t* data, std::size_t size,
                                   ResultCode code)>;

// Sets the tap (an empty function removes it). Not thread-safe: set it before
// the link is used.
void SetLinkTap(LinkTap tap);

namespace detail {
extern LinkTap g_link_tap;
inline void Tap(TapEvent event, const std::uint8_t* data, std::size_t size, ResultCode code = 0) {
  if (g_link_tap) g_link_tap(event, data, size, code);
}
}  // namespace detail

}  // namespace krt
