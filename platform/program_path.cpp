#include "platform/program_path.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace krt {
namespace {

// The target of a symbolic link, growing the buffer until it fits; "" on
// failure.
std::string ReadLink(const char* link) {
  std::string target(256, '\0');
  for (;;) {
    const ssize_t n = readlink(link, target.data(), target.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < target.size()) {
      target.resize(static_cast<std::size_t>(n));
      return target;
    }
    if (target.size() >= (std::size_t{1} << 20)) return {};
    target.resize(target.size() * 2);
  }
}

}  // namespace

std::string ProgramDirectory() {
  const std::string exe = ReadLink("/proc/self/exe");
  if (exe.empty() || exe[0] != '/') return {};
  const std::size_t slash = exe.rfind('/');
  if (slash == 0) return "/";
  return exe.substr(0, slash);
}

std::vector<std::string> ListDirectory(const std::string& dir) {
  std::vector<std::string> names;
  if (dir.empty()) return names;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (const dirent* entry = readdir(d)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    names.emplace_back(entry->d_name);
  }
  closedir(d);
  return names;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + '/' + name;
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace krt
