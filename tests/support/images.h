// Update images for tests, made by the project's own fixture script (objcopy
// for the firmware, a generated JEDEC file for the logic), once per set of
// versions and process.
#pragma once

#include <string>

namespace krt::test {

struct ImageSet {
  int firmware_version = 102;  // 0: no firmware image
  int logic_version = 101;     // 0: no fuse file
  std::string logic_base = "COPJED70";
  int firmware_size = 4096;
};

// A directory holding K70COPFW.<ddd> and <logic base>.<ddd> as the set says,
// plus variants/ (firmware.bin, fuses.txt, ...). The directory lives until the
// process ends; callers must not change it (copy it with CopyImages first).
const std::string& Images(const ImageSet& set = {});

// A fresh directory of the caller's own with the files of `from` (no
// variants); removed when the process ends.
std::string CopyImages(const std::string& from);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

}  // namespace krt::test
