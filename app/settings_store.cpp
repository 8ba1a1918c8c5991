#include "app/settings_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "link/link.h"

namespace krt {
namespace {

// One line of the file as it was read; keys are kept with their spelling so
// that a rewrite changes only the values it owns.
struct Line {
  std::string text;
  std::string section;  // the section the line belongs to ("" before the first)
  std::string key;      // "" for section heads, comments and blank lines
  std::string value;
  bool head = false;  // a section head "[name]"
};

std::string Trim(const std::string& s) {
  const std::size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  const std::size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

std::vector<Line> ReadLines(const std::string& path) {
  std::vector<Line> lines;
  std::ifstream in(path, std::ios::binary);
  if (!in) return lines;
  std::string text;
  std::string section;
  while (std::getline(in, text)) {
    if (!text.empty() && text.back() == '\r') text.pop_back();
    Line line{text, section, "", ""};
    const std::string t = Trim(text);
    if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
      section = t.substr(1, t.size() - 2);
      line.section = section;
      line.head = true;
    } else if (!t.empty() && t[0] != ';' && t[0] != '#') {
      const std::size_t eq = t.find('=');
      if (eq != std::string::npos && eq > 0) {
        line.key = Trim(t.substr(0, eq));
        line.value = Trim(t.substr(eq + 1));
      }
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

bool ParseInt(const std::string& text, int& out) {
  int value = 0;
  const char* begin = text.data();
  const char* end = begin + text.size();
  const auto [ptr, ec] = std::from_chars(begin, end, value);
  if (ec != std::errc() || ptr != end || text.empty()) return false;
  out = value;
  return true;
}

// "COM<n>" with n a positive number.
bool ParseComName(const std::string& name, int& number) {
  if (name.size() < 4 || name.compare(0, 3, "COM") != 0) return false;
  return ParseInt(name.substr(3), number) && number > 0;
}

}  // namespace

std::string SettingsFilePath() {
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
    base = std::string(home) + "/.config";
  } else {
    return "";
  }
  return base + "/" + kMakerKey + "/Tovlane.ini";
}

Settings LoadSettings(const std::string& path) {
  Settings s;
  for (const Line& line : ReadLines(path)) {
    if (line.key.empty()) continue;
    if (line.section == kSettingsSection) {
      if (line.key == "Baudrate")
        ParseInt(line.value, s.baudrate);
      else if (line.key == "ComPort")
        ParseInt(line.value, s.com_port);
      else if (line.key == "KrtIP")
        s.krt_ip = line.value;
      else if (line.key == "Subnet")
        s.subnet = line.value;
      else if (line.key == "Gateway")
        s.gateway = line.value;
    } else if (line.section == kPortsSection) {
      int number = 0;
      if (ParseComName(line.key, number) && !line.value.empty()) s.ports[number] = line.value;
    }
  }
  return s;
}

bool SaveSettings(const std::string& path, const Settings& settings) {
  if (path.empty()) return false;
  const std::map<std::string, std::string> values = {
      {"Baudrate", std::to_string(settings.baudrate)},
      {"ComPort", std::to_string(settings.com_port)},
      {"KrtIP", settings.krt_ip},
      {"Subnet", settings.subnet},
      {"Gateway", settings.gateway},
  };
  static const char* const kOrder[] = {"Baudrate", "ComPort", "KrtIP", "Subnet", "Gateway"};

  // The old file, with the five values replaced where they stand and the
  // missing ones added at the end of their section.
  std::vector<Line> lines = ReadLines(path);
  std::ostringstream out;
  std::map<std::string, bool> written;
  bool have_section = false;
  auto write_missing = [&] {
    for (const char* key : kOrder) {
      if (!written[key]) out << key << '=' << values.at(key) << '\n';
      written[key] = true;
    }
  };
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const Line& line = lines[i];
    const bool ours = line.section == kSettingsSection;
    if (ours && line.head) have_section = true;
    if (ours && values.count(line.key) != 0) {
      if (!written[line.key]) out << line.key << '=' << values.at(line.key) << '\n';
      written[line.key] = true;  // a key written twice in the old file is written once
    } else {
      out << line.text << '\n';
    }
    const bool section_ends = i + 1 == lines.size() || lines[i + 1].section != line.section;
    if (ours && section_ends) write_missing();
  }
  if (!have_section) {
    if (!lines.empty() && !Trim(lines.back().text).empty()) out << '\n';
    out << '[' << kSettingsSection << "]\n";
    write_missing();
  }

  // Into a temporary file beside it, then renamed over it.
  const std::size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    const std::string dir = path.substr(0, slash);
    // The maker's folder may not exist yet (one level below the config home).
    const std::size_t up = dir.rfind('/');
    if (up != std::string::npos && up > 0) mkdir(dir.substr(0, up).c_str(), 0700);
    mkdir(dir.c_str(), 0700);
  }
  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) return false;
  const std::string data = out.str();
  bool ok = true;
  for (std::size_t done = 0; ok && done < data.size();) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  ok = ok && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (ok) fchmodat(AT_FDCWD, temp.c_str(), 0600, 0);
  if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  return true;
}

void ApplyPortMap(const Settings& settings) {
  for (const auto& [number, device] : settings.ports) SetPortDevice(number, device);
}

}  // namespace krt
