// Verification of the probe's firmware area against a firmware image, without
// writing anything: the image's data records are read back from the flash and
// compared byte for byte, the first four bytes of the firmware area against
// the signature AA 55 55 AA that closes every successful programming.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/result_code.h"

namespace krt {

// A run of bytes the flash must hold, at consecutive addresses.
struct FlashRun {
  std::uint32_t address = 0;
  std::vector<std::uint8_t> bytes;
};

// What the image K70COPFW.<version> puts into the flash, as the flashing
// leaves it: the data of every record at its address (a later record wins
// where two overlap; the padding the flashing adds is not part of it), and
// the signature over the first four bytes of the firmware area. Runs are in
// ascending address order, none overlaps another, and touching runs are
// joined. kImageRefused when the file cannot be opened or read, or a line of
// it is refused; `runs` is then empty.
ResultCode ExpectedFirmwareContents(VersionNumber version, std::vector<FlashRun>& runs);

// Progress of a verification: bytes compared so far and in all.
using VerifyProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

// Reads the expected contents back with ReadFlash, in reads of at most
// kMaxFlashData bytes in ascending address order, and compares them. 0 when
// every byte matches; kReadBackDiffers with `first_difference` set to the
// lowest differing address; kImageRefused as for ExpectedFirmwareContents
// (nothing is sent then); otherwise the code of the failing ReadFlash.
// Nothing is written to the probe.
ResultCode VerifyFirmwareImage(VersionNumber version, std::uint32_t& first_difference,
                               const VerifyProgress& progress = {});

}  // namespace krt
