// DecodeSRecord on arbitrary lines, and on arbitrary images read as the
// firmware flashing reads them (text mode, pieces of at most 255 characters).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/srec.h"
#include "platform/text_file.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

void DecodeOne(std::string_view line) {
  // Exactly as large as the decoder may use, so a write past it is caught.
  std::vector<std::uint8_t> data(krt::kSRecordMaxData);
  std::uint32_t address = 0;
  const int n = krt::DecodeSRecord(line, address, data.data());
  FUZZ_CHECK(n >= -1 && n <= static_cast<int>(krt::kSRecordMaxData));
  if (n <= 0) return;
  // A data record: its type gives the address size, and the line is exactly
  // as long as the byte count n + address + checksum says.
  std::size_t p = 0;
  while (Upper(line[p]) != 'S') ++p;
  const char type = line[p + 1];
  FUZZ_CHECK(type == '1' || type == '2' || type == '3');
  const std::size_t address_bytes = static_cast<std::size_t>(type - '0') + 1;
  FUZZ_CHECK(line.size() == p + 5 + 2 * (static_cast<std::size_t>(n) + address_bytes + 1));
  if (address_bytes < 4) FUZZ_CHECK(address < (std::uint32_t{1} << (8 * address_bytes)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(bytes), size);
  DecodeOne(text);

  // Small buffers put carriage returns on buffer boundaries.
  krt::TextFile file(size % 5 == 0 ? krt::TextFile::kDefaultBufferSize : 2 + size % 5);
  file.OpenMemory(std::string(text));
  std::string line;
  std::uint64_t position = 0;
  krt::TextFile::Read read;
  while ((read = file.ReadPiece(255, line)) == krt::TextFile::Read::kPiece) {
    FUZZ_CHECK(!line.empty() && line.size() <= 255);
    FUZZ_CHECK(file.Position() > position && file.Position() <= file.Length());
    position = file.Position();
    DecodeOne(line);
  }
  FUZZ_CHECK(read == krt::TextFile::Read::kEnd);
  FUZZ_CHECK(file.Position() == size);
  return 0;
}
