// ParseDottedQuad on arbitrary texts, checked against the C library's
// inet_pton: a text of four dot-separated runs of at most three digits, each
// of value 0 to 255 (an empty run counting as 0), is the address inet_pton
// gives for its canonical form; every other text is refused.
#include <arpa/inet.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "setup/dotted_quad.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

// The canonical form ("1.2.3.4") of a dotted-decimal text; "" when the text is
// not one.
std::string Canonical(const std::string& text) {
  std::vector<std::string> runs(1);
  for (char c : text) {
    if (c == '.') {
      runs.emplace_back();
    } else if (c >= '0' && c <= '9' && runs.back().size() < 3) {
      runs.back() += c;
    } else {
      return {};
    }
  }
  if (runs.size() != 4) return {};
  std::string canonical;
  for (const std::string& run : runs) {
    const int value = run.empty() ? 0 : std::stoi(run);
    if (value > 255) return {};
    if (!canonical.empty()) canonical += '.';
    canonical += std::to_string(value);
  }
  return canonical;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(bytes), size);
  const std::string text = input.substr(0, std::strlen(input.c_str()));  // a C string ends at NUL
  const std::int32_t value = krt::ParseDottedQuad(input);
  FUZZ_CHECK(value == krt::ParseDottedQuad(input.c_str()));

  const std::string canonical = Canonical(text);
  if (canonical.empty()) {
    FUZZ_CHECK(value == -1);
    // Whatever inet_pton accepts is dotted decimal.
    in_addr addr{};
    FUZZ_CHECK(inet_pton(AF_INET, text.c_str(), &addr) != 1);
    return 0;
  }
  in_addr addr{};
  FUZZ_CHECK(inet_pton(AF_INET, canonical.c_str(), &addr) == 1);
  FUZZ_CHECK(value == static_cast<std::int32_t>(ntohl(addr.s_addr)));
  return 0;
}
