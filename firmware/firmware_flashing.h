// Firmware flashing: one firmware image into the probe's flash through the
// loader. The three firmware sectors are erased, every data record of the
// image is programmed at its own address, and last the signature AA 55 55 AA
// is written at the start of the firmware area, so that a probe whose
// programming broke off never holds a signed, half-written image.
#pragma once

#include <cstdint>
#include <string>

#include "app/dialog_ui.h"
#include "link/result_code.h"

namespace krt {

inline constexpr std::uint32_t kFirmwareSectors[3] = {0x01040000, 0x01080000, 0x010C0000};
inline constexpr std::uint32_t kSignatureAddress = 0x01040000;
inline constexpr std::uint8_t kSignature[4] = {0xAA, 0x55, 0x55, 0xAA};
// Image files are read in pieces of at most this many characters.
inline constexpr std::size_t kImagePieceSize = 255;

// Programs the image K70COPFW.<version> from the image directory, writing its
// progress and outcome into the status line. 0 on success; kImageRefused when
// the file cannot be opened, a line is refused, or reading the file fails;
// otherwise the code of the first failing erase or program request.
ResultCode ProgramFirmwareImage(VersionNumber version, DialogUi& ui);

// Writes `format` (one %u) with the percentage position x 100 / total to the
// status line, only when it differs from the last percentage shown in this
// process. Computed in 64 bits, so a large file never wraps the percentage.
void ShowProgress(const char* format, DialogUi& ui, std::uint64_t total, std::uint64_t position);

// The last percentage shown, kept for the whole process (0 at start).
std::uint16_t LastShownPercentage();
void SetLastShownPercentage(std::uint16_t percent);

}  // namespace krt
