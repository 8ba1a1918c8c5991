// The parser of IPv4 addresses in dotted-decimal form.
#pragma once

#include <cstdint>
#include <string>

namespace krt {

// a.b.c.d as a * 2^24 + b * 2^16 + c * 2^8 + d. Each octet is at most three
// decimal digits of value 0 to 255; leading zeros are allowed ("010" is 10)
// and an empty octet counts as 0 ("1..3.4"). Exactly four octets, nothing
// before, between or after them but the three dots. Anything else gives -1,
// and so does 255.255.255.255 (all bits set), which callers cannot tell from
// a refusal. A null pointer gives -1.
std::int32_t ParseDottedQuad(const char* text);
std::int32_t ParseDottedQuad(const std::string& text);

}  // namespace krt
