// Result codes and the small shared value types of the loader link and
// everything built on it.
#pragma once

#include <cstdint>

namespace krt {

// Signed result of every link and loader command operation: 0 is success, a
// negative value a failure; a few operations return a non-negative length.
using ResultCode = std::int32_t;

// Version in decimal hundreds (102 is version 1.02); 0 means none or unknown.
using VersionNumber = std::uint16_t;

namespace rc {
inline constexpr ResultCode kOk = 0;

// Serial port.
inline constexpr ResultCode kPortOpenFailed = -1001;  // open/configure failed, bit rate refused
inline constexpr ResultCode kReadTimeout = -1002;     // no byte before the deadline
inline constexpr ResultCode kDeviceGone = -1003;      // the device is no longer usable
inline constexpr ResultCode kWriteFailed = -1007;     // a write failed or was short

// Frame codec.
inline constexpr ResultCode kBadEscape = -1004;     // DLE followed by neither DLE nor ETX
inline constexpr ResultCode kBadCheck = -1005;      // check byte differs from the data's XOR
inline constexpr ResultCode kFrameTooLong = -1006;  // more data than the caller's buffer holds

// Link start-up and request transaction.
inline constexpr ResultCode kNoAnswer = -3001;        // no acceptable answer (probe or request)
inline constexpr ResultCode kRequestTooLong = -3002;  // request payload above 1498 bytes
inline constexpr ResultCode kLinkNotOpen = -3003;     // no link is open
inline constexpr ResultCode kAnswerTooLong = -3004;   // answer payload above the caller's capacity
inline constexpr ResultCode kLostAfterSpeedChange =
    -3005;  // no answer at the rate the loader named

// Loader commands.
inline constexpr ResultCode kImageRefused = -4003;  // image cannot be opened or a line is refused
inline constexpr ResultCode kLoaderEchoed = -4004;  // the loader echoed the first identification
inline constexpr ResultCode kMalformedAnswer = -4005;   // wrong answer length or echoed code
inline constexpr ResultCode kEraseFailed = -4006;       // erase status byte not 0
inline constexpr ResultCode kProgramFailed = -4007;     // program status byte not 0
inline constexpr ResultCode kReadBackDiffers = -4008;   // setup record read back differs
inline constexpr ResultCode kNoSerialNumber = -4009;    // identification gave fewer than six
                                                        // serial-number characters
inline constexpr ResultCode kShortRequestText = -4010;  // a fuse row or signature text shorter
                                                        // than the device takes; not sent
}  // namespace rc

}  // namespace krt
