#include "firmware/firmware_flashing.h"

#include <cstdio>

#include "firmware/catalogue.h"
#include "firmware/srec.h"
#include "loader/loader.h"
#include "platform/text_file.h"

namespace krt {
namespace {

constexpr char kProgressFormat[] = "Firmware: Programming Flash ... ( %u%% )";
constexpr char kProgramFailed[] = "Firmware: Programming Flash ... failed!";

std::uint16_t g_last_percentage = 0;

}  // namespace

std::uint16_t LastShownPercentage() { return g_last_percentage; }
void SetLastShownPercentage(std::uint16_t percent) { g_last_percentage = percent; }

void ShowProgress(const char* format, DialogUi& ui, std::uint64_t total, std::uint64_t position) {
  const std::uint64_t percent64 = total == 0 ? 100 : position * 100 / total;
  const auto percent = static_cast<std::uint16_t>(percent64);
  if (percent == g_last_percentage) return;
  char text[96];
  std::snprintf(text, sizeof text, format, static_cast<unsigned>(percent));
  ui.SetStatus(text);
  ui.Progress(ProgressTask::kFirmware, percent);
  g_last_percentage = percent;
}

ResultCode ProgramFirmwareImage(VersionNumber version, DialogUi& ui) {
  TextFile file;
  if (!file.Open(ImageFileName(kFirmwareBase, version))) return rc::kImageRefused;
  const std::uint64_t total = file.Length();

  ui.SetStatus("Firmware: Erasing Flash ...");
  for (std::uint32_t sector : kFirmwareSectors) {
    const ResultCode r = EraseSector(sector);
    if (r != rc::kOk) {
      ui.SetStatus("Firmware: Erasing Flash ... failed!");
      return r;
    }
  }

  ui.SetStatus("Firmware: Programming Flash ...");
  // Room for the largest record's data plus its padding to a multiple of 4.
  std::uint8_t record[256];
  std::string piece;
  for (;;) {
    const TextFile::Read read = file.ReadPiece(kImagePieceSize, piece);
    if (read == TextFile::Read::kEnd) break;
    ResultCode result = rc::kOk;
    if (read == TextFile::Read::kError) {
      // A file that cannot be read to its end is refused like a bad line:
      // the signature must never follow an image read only in part.
      result = rc::kImageRefused;
    } else {
      std::uint32_t address = 0;
      int n = DecodeSRecord(piece, address, record);
      if (n > 0) {
        while (n % 4 != 0) record[n++] = 0xFF;
        std::uint32_t value = 0;
        result = ProgramFlash(address, static_cast<std::uint16_t>(n), record, value);
        if (result != rc::kOk) ui.SetStatus(kProgramFailed);
      } else if (n < 0) {
        result = rc::kImageRefused;
      }
    }
    ShowProgress(kProgressFormat, ui, total, file.Position());
    if (result != rc::kOk) {
      ui.SetStatus(kProgramFailed);
      return result;
    }
  }

  std::uint32_t value = 0;
  const ResultCode r = ProgramFlash(kSignatureAddress, sizeof kSignature, kSignature, value);
  if (r != rc::kOk) {
    ui.SetStatus(kProgramFailed);
    return r;
  }
  ui.SetStatus("Firmware: Programming Flash ... passed!");
  return rc::kOk;
}

}  // namespace krt
