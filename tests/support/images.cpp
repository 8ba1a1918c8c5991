#include "tests/support/images.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <tuple>
#include <vector>

namespace krt::test {
namespace fs = std::filesystem;

namespace {

// Every directory made here, removed at exit.
struct Scratch {
  std::vector<std::string> dirs;
  ~Scratch() {
    std::error_code ec;
    for (const std::string& d : dirs) fs::remove_all(d, ec);
  }
  std::string Make() {
    std::string pattern = (fs::temp_directory_path() / "krt-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    dirs.push_back(pattern);
    return pattern;
  }
};

Scratch& TheScratch() {
  static Scratch scratch;
  return scratch;
}

}  // namespace

const std::string& Images(const ImageSet& set) {
  static std::mutex mu;
  static std::map<std::tuple<int, int, std::string, int>, std::string> made;
  std::lock_guard<std::mutex> lock(mu);
  auto key =
      std::make_tuple(set.firmware_version, set.logic_version, set.logic_base, set.firmware_size);
  if (auto it = made.find(key); it != made.end()) return it->second;
  const std::string dir = TheScratch().Make();
  const std::string command = std::string("'") + KRT_MAKE_FIXTURES + "' '" + dir +
                              "' --firmware-version " + std::to_string(set.firmware_version) +
                              " --logic-version " + std::to_string(set.logic_version) +
                              " --logic-base " + set.logic_base + " --firmware-size " +
                              std::to_string(set.firmware_size);
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "fixture script failed: %s\n", command.c_str());
    std::abort();
  }
  return made.emplace(key, dir).first->second;
}

std::string CopyImages(const std::string& from) {
  const std::string dir = TheScratch().Make();
  for (const auto& entry : fs::directory_iterator(from)) {
    if (entry.is_regular_file())
      fs::copy_file(entry.path(), fs::path(dir) / entry.path().filename());
  }
  return dir;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

}  // namespace krt::test
