#include "setup/dotted_quad.h"

namespace krt {

std::int32_t ParseDottedQuad(const char* text) {
  if (text == nullptr) return -1;
  std::uint32_t value = 0;
  int count = 0;
  const char* p = text;
  for (;;) {
    unsigned octet = 0;
    int digits = 0;
    while (*p >= '0' && *p <= '9') {
      if (digits == 3) return -1;
      octet = octet * 10 + static_cast<unsigned>(*p - '0');
      ++digits;
      ++p;
    }
    if (octet > 255) return -1;
    value = value * 256 + octet;
    ++count;
    if (*p == '.') {
      if (count == 4) return -1;
      ++p;
      continue;
    }
    if (*p == '\0' && count == 4) return static_cast<std::int32_t>(value);
    return -1;
  }
}

std::int32_t ParseDottedQuad(const std::string& text) { return ParseDottedQuad(text.c_str()); }

}  // namespace krt
