// Faults the simulated loader can be told to make, for tests of the tool's
// error paths. A fault has a kind, the message it first applies to and how
// many matching messages in a row it covers:
//
//   kind[:key=value,...]     e.g.  drop:at=3   status:at=2,code=104   silent:at=10
//
//   at=N      the N-th matching message (1-based) is the first one hit (default 1)
//   times=N   how many matching messages in a row (default 1; 0 = from then on)
//   code=C    count only requests of code C (a number, 100 to 114), or the
//             link-level messages: code=probe (speed probe), code=speed
//             (speed change)
//   ms=N      delay: milliseconds before the answer
//   row=R     first-reading / second-reading: count only reads of row R
//   pos=P     the character, bit or byte that is changed (default 0)
//
// Without code= a fault counts the requests it can apply to: all requests for
// the kinds that act on any answer, the erase and program requests for
// status, code 114 for echo114, code 107 for the fuse row readings, 109 for
// ues and 101 for readback. Link-level messages are counted only with
// code=probe or code=speed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace krt::sim {

enum class FaultKind : std::uint8_t {
  kDrop,           // no answer
  kCorrupt,        // the answer frame's check byte has one bit flipped
  kDelay,          // the answer comes after `ms`
  kSilent,         // no answer to anything from then on, link-level messages included
  kHangup,         // the line hangs up: the tool sees its device gone
  kLength,         // the answer header's length is one more than the payload
  kCode,           // answer byte 0 is not the echoed code
  kShort,          // the answer payload lacks its last byte (a 6-byte speed change answer)
  kStatus,         // erase/program: nothing is changed and the status byte is not 0
  kEcho114,        // code 114 is answered with 114
  kFirstReading,   // a fuse row's first reading differs in character `pos`
  kSecondReading,  // a fuse row's second reading differs in character `pos`
  kUes,            // the signature read back differs in bit `pos`
  kReadback,       // the data of a flash read differs in byte `pos`
};

// Codes that stand for the link-level messages in `Fault::code`.
inline constexpr int kSpeedProbeCode = 256;
inline constexpr int kSpeedChangeCode = 257;

struct Fault {
  FaultKind kind = FaultKind::kDrop;
  int at = 1;
  int times = 1;
  std::optional<int> code;
  std::uint32_t ms = 0;
  std::optional<int> row;
  int pos = 0;
};

// What the simulator knows of a received message when it counts it.
struct MessageKey {
  int code;                // request code, or kSpeedProbeCode / kSpeedChangeCode
  std::optional<int> row;  // code 107: the row read
};

// Whether `fault` counts `message`.
bool FaultCounts(const Fault& fault, const MessageKey& message);

// The text form: parsing gives the fault or an error text, formatting gives
// the shortest text that parses back to the same fault.
std::optional<Fault> ParseFault(const std::string& text, std::string* error);
std::string FormatFault(const Fault& fault);
const char* FaultKindName(FaultKind kind);

}  // namespace krt::sim
