#include "firmware/catalogue.h"

#include <algorithm>
#include <mutex>
#include <optional>

#include "platform/program_path.h"

namespace krt {
namespace {

std::mutex g_directory_mutex;
std::string g_image_directory;  // "" means beside the program

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The version a directory entry stands for when its name is `base` (in any
// letter case), a dot and three characters; nullopt for any other name. The
// extension's value is 0 unless the three characters are decimal digits.
std::optional<VersionNumber> EntryVersion(const std::string& name, const std::string& base) {
  if (name.size() != base.size() + 4 || name[base.size()] != '.') return std::nullopt;
  for (std::size_t i = 0; i < base.size(); ++i) {
    if (AsciiUpper(name[i]) != AsciiUpper(base[i])) return std::nullopt;
  }
  const char* ext = name.data() + base.size() + 1;
  if (!IsDigit(ext[0]) || !IsDigit(ext[1]) || !IsDigit(ext[2])) return VersionNumber{0};
  return static_cast<VersionNumber>((ext[0] - '0') * 100 + (ext[1] - '0') * 10 + (ext[2] - '0'));
}

bool HasText(VersionNumber version) { return version != 0 && version <= kMaxImageVersion; }

std::string Digits(VersionNumber version) {
  return {static_cast<char>('0' + version / 100), static_cast<char>('0' + version % 100 / 10),
          static_cast<char>('0' + version % 10)};
}

}  // namespace

std::string ImageDirectory() {
  {
    std::lock_guard<std::mutex> lock(g_directory_mutex);
    if (!g_image_directory.empty()) return g_image_directory;
  }
  return ProgramDirectory();
}

void SetImageDirectory(const std::string& dir) {
  std::lock_guard<std::mutex> lock(g_directory_mutex);
  g_image_directory = dir;
}

VersionNumber FindNewestVersion(const std::string& base) {
  return FindNewestVersion(base, ImageDirectory());
}

VersionNumber FindNewestVersion(const std::string& base, const std::string& dir) {
  VersionNumber newest = 0;
  if (dir.empty()) return newest;
  for (const std::string& name : ListDirectory(dir)) {
    const std::optional<VersionNumber> version = EntryVersion(name, base);
    // Only a file that can be opened as an image counts; a directory or a FIFO
    // of that name would yield a version whose update cannot be read.
    if (version && *version > newest && IsRegularFile(JoinPath(dir, name))) newest = *version;
  }
  return newest;
}

std::string ImageFileName(const std::string& base, VersionNumber version) {
  return ImageFileName(base, version, ImageDirectory());
}

std::string ImageFileName(const std::string& base, VersionNumber version, const std::string& dir) {
  if (!HasText(version) || dir.empty()) return {};
  const std::string canonical = base + '.' + Digits(version);
  if (IsRegularFile(JoinPath(dir, canonical))) return JoinPath(dir, canonical);
  std::vector<std::string> spellings;
  for (const std::string& name : ListDirectory(dir)) {
    if (EntryVersion(name, base) == version && IsRegularFile(JoinPath(dir, name))) {
      spellings.push_back(name);
    }
  }
  if (spellings.empty()) return JoinPath(dir, canonical);
  return JoinPath(dir, *std::min_element(spellings.begin(), spellings.end()));
}

std::string FormatVersion(VersionNumber version) {
  if (!HasText(version)) return "unknown";
  const std::string d = Digits(version);
  return std::string{d[0], '.', d[1], d[2]};
}

std::string FormatVersionDigits(VersionNumber version) {
  return HasText(version) ? Digits(version) : "000";
}

}  // namespace krt
