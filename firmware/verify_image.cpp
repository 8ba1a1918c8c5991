#include "firmware/verify_image.h"

#include <algorithm>
#include <iterator>
#include <map>

#include "firmware/catalogue.h"
#include "firmware/firmware_flashing.h"
#include "firmware/srec.h"
#include "loader/loader.h"
#include "platform/text_file.h"

namespace krt {
namespace {

// The image's bytes by address: non-overlapping runs keyed by their first
// address. Addresses are kept in 64 bits so that a run ending at the top of
// the address space needs no special case.
class FlashPicture {
 public:
  // Puts `size` bytes at `address`, replacing what was there.
  void Paint(std::uint64_t address, const std::uint8_t* data, std::size_t size) {
    if (size == 0) return;
    const std::uint64_t end = address + size;
    Cut(address);
    Cut(end);
    runs_.erase(runs_.lower_bound(address), runs_.lower_bound(end));
    runs_.emplace(address, std::vector<std::uint8_t>(data, data + size));
  }

  // Ascending runs with touching ones joined.
  std::vector<FlashRun> Runs() const {
    std::vector<FlashRun> out;
    std::uint64_t out_end = 0;
    for (const auto& [start, bytes] : runs_) {
      if (!out.empty() && out_end == start) {
        out.back().bytes.insert(out.back().bytes.end(), bytes.begin(), bytes.end());
      } else {
        out.push_back({static_cast<std::uint32_t>(start), bytes});
      }
      out_end = start + bytes.size();
    }
    return out;
  }

 private:
  // Splits the run that covers `at` (not at its start) in two at `at`.
  void Cut(std::uint64_t at) {
    auto it = runs_.upper_bound(at);
    if (it == runs_.begin()) return;
    --it;
    const std::uint64_t start = it->first;
    std::vector<std::uint8_t>& bytes = it->second;
    if (at <= start || at >= start + bytes.size()) return;
    const auto split = bytes.begin() + static_cast<std::ptrdiff_t>(at - start);
    std::vector<std::uint8_t> tail(split, bytes.end());
    bytes.erase(split, bytes.end());
    runs_.emplace(at, std::move(tail));
  }

  std::map<std::uint64_t, std::vector<std::uint8_t>> runs_;
};

}  // namespace

ResultCode ExpectedFirmwareContents(VersionNumber version, std::vector<FlashRun>& runs) {
  runs.clear();
  TextFile file;
  if (!file.Open(ImageFileName(kFirmwareBase, version))) return rc::kImageRefused;
  FlashPicture picture;
  std::uint8_t record[kSRecordMaxData];
  std::string piece;
  for (;;) {
    const TextFile::Read read = file.ReadPiece(kImagePieceSize, piece);
    if (read == TextFile::Read::kEnd) break;
    if (read == TextFile::Read::kError) return rc::kImageRefused;
    std::uint32_t address = 0;
    const int n = DecodeSRecord(piece, address, record);
    if (n < 0) return rc::kImageRefused;
    // A record running past the top of the address space wraps, as the
    // loader's 32-bit addresses do.
    const std::size_t size = static_cast<std::size_t>(n);
    const std::uint64_t room = (std::uint64_t{1} << 32) - address;
    const std::size_t first = static_cast<std::size_t>(std::min<std::uint64_t>(size, room));
    picture.Paint(address, record, first);
    picture.Paint(0, record + first, size - first);
  }
  picture.Paint(kSignatureAddress, kSignature, sizeof kSignature);
  runs = picture.Runs();
  return rc::kOk;
}

ResultCode VerifyFirmwareImage(VersionNumber version, std::uint32_t& first_difference,
                               const VerifyProgress& progress) {
  std::vector<FlashRun> runs;
  ResultCode r = ExpectedFirmwareContents(version, runs);
  if (r != rc::kOk) return r;
  std::uint64_t total = 0;
  for (const FlashRun& run : runs) total += run.bytes.size();

  std::uint64_t done = 0;
  std::uint8_t flash[kMaxFlashData];
  for (const FlashRun& run : runs) {
    for (std::size_t offset = 0; offset < run.bytes.size(); offset += kMaxFlashData) {
      const std::size_t count = std::min<std::size_t>(kMaxFlashData, run.bytes.size() - offset);
      const std::uint32_t address = run.address + static_cast<std::uint32_t>(offset);
      r = ReadFlash(address, static_cast<std::uint16_t>(count), flash);
      if (r != rc::kOk) return r;
      const auto expected = run.bytes.begin() + static_cast<std::ptrdiff_t>(offset);
      const auto [mine, theirs] = std::mismatch(flash, flash + count, expected);
      if (mine != flash + count) {
        first_difference = address + static_cast<std::uint32_t>(mine - flash);
        return rc::kReadBackDiffers;
      }
      done += count;
      if (progress) progress(done, total);
    }
  }
  return rc::kOk;
}

}  // namespace krt
