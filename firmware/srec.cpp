#include "firmware/srec.h"

namespace krt {
namespace {

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Digit values for the characters '0' to 'F'; the seven between '9' and 'A'
// count as 0.
constexpr std::uint8_t kDigitValue[] = {0, 1, 2, 3, 4, 5,  6,  7,  8,  9,  0, 0,
                                        0, 0, 0, 0, 0, 10, 11, 12, 13, 14, 15};

// A character outside '0' to 'F' (after upper-casing) also counts as 0: the
// field is not refused for it by itself, the record's checksum decides.
std::uint8_t DigitValue(char c) {
  const unsigned index = static_cast<unsigned char>(AsciiUpper(c)) - unsigned{'0'};
  return index < sizeof kDigitValue ? kDigitValue[index] : 0;
}

std::uint8_t ByteAt(std::string_view line, std::size_t pos) {
  return static_cast<std::uint8_t>(DigitValue(line[pos]) * 16 + DigitValue(line[pos + 1]));
}

}  // namespace

int DecodeSRecord(std::string_view line, std::uint32_t& address, std::uint8_t* data) {
  if (line.empty()) return -1;
  std::size_t p = 0;
  while (p < line.size() && AsciiUpper(line[p]) != 'S') ++p;
  if (p == line.size()) return -1;

  // The record type and the byte count; a line too short to hold them cannot
  // pass the length test either.
  if (line.size() < p + 5) return -1;
  const char type = AsciiUpper(line[p + 1]);
  const unsigned count = ByteAt(line, p + 2);
  if (line.size() != p + 5 + 2 * std::size_t{count}) return -1;

  unsigned address_bytes;
  switch (type) {
    case '1':
      address_bytes = 2;
      break;
    case '2':
      address_bytes = 3;
      break;
    case '3':
      address_bytes = 4;
      break;
    default:
      return 0;
  }
  if (count < address_bytes + 1) return -1;

  std::size_t pos = p + 4;
  std::uint8_t sum = static_cast<std::uint8_t>(count);
  std::uint32_t value = 0;
  for (unsigned i = 0; i < address_bytes; ++i, pos += 2) {
    const std::uint8_t b = ByteAt(line, pos);
    value = (value << 8) | b;
    sum = static_cast<std::uint8_t>(sum + b);
  }
  address = value;
  const unsigned n = count - address_bytes - 1;
  for (unsigned i = 0; i < n; ++i, pos += 2) {
    const std::uint8_t b = ByteAt(line, pos);
    data[i] = b;
    sum = static_cast<std::uint8_t>(sum + b);
  }
  if (static_cast<std::uint8_t>(sum + ByteAt(line, pos)) != 0xFF) return -1;
  return static_cast<int>(n);
}

}  // namespace krt
