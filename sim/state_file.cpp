#include "sim/state_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "link/transact.h"

namespace krt::sim {
namespace {

constexpr char kMagic[] = "KRT700-SIM-STATE";
constexpr std::size_t kMagicSize = 16;
constexpr std::uint32_t kFormatVersion = 1;
constexpr std::size_t kHeaderSize = kMagicSize + 4 + 4 + 4 + 2 + 2 + 2 + 2 + 4;
constexpr std::size_t kBodySize = kFlashSize + kLogicRows * kLogicRowFuses + kLogicUesBits;
constexpr std::size_t kFileSize = kHeaderSize + kBodySize + 4;

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

bool Fail(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
  return false;
}

std::string SystemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

Bytes EncodeState(const ProbeModel::State& state) {
  Bytes out(kFileSize, 0);
  std::uint8_t* p = out.data();
  std::memcpy(p, kMagic, kMagicSize);
  std::size_t pos = kMagicSize;
  pos = PutU32(p, pos, kFormatVersion);
  pos = PutU32(p, pos, kFlashBase);
  pos = PutU32(p, pos, kFlashSize);
  pos = PutU16(p, pos, kLogicRows);
  pos = PutU16(p, pos, kLogicRowFuses);
  pos = PutU16(p, pos, kLogicUesBits);
  pos = PutU16(p, pos, 0);
  pos = PutU32(p, pos, state.firmware_starts);
  std::memcpy(p + pos, state.flash.data(), kFlashSize);
  pos += kFlashSize;
  for (const std::string& row : state.rows) {
    std::memcpy(p + pos, row.data(), kLogicRowFuses);
    pos += kLogicRowFuses;
  }
  std::memcpy(p + pos, state.ues.data(), kLogicUesBits);
  pos += kLogicUesBits;
  PutU32(p, pos, Crc32(p, pos));
  return out;
}

bool DecodeState(const Bytes& bytes, ProbeModel::State& state, std::string* error) {
  if (bytes.size() < kMagicSize || std::memcmp(bytes.data(), kMagic, kMagicSize) != 0) {
    return Fail(error, "not a simulator state file");
  }
  const std::uint8_t* p = bytes.data();
  std::uint32_t version = 0;
  std::size_t pos = GetU32(p, kMagicSize, version);
  if (version != kFormatVersion) {
    return Fail(error, "state file format " + std::to_string(version) + ", expected " +
                           std::to_string(kFormatVersion));
  }
  if (bytes.size() != kFileSize) {
    return Fail(error, "state file of " + std::to_string(bytes.size()) + " bytes, expected " +
                           std::to_string(kFileSize) + " (cut short or damaged)");
  }
  std::uint32_t base = 0, size = 0, starts = 0, check = 0;
  std::uint16_t rows = 0, fuses = 0, bits = 0, zero = 0;
  pos = GetU32(p, pos, base);
  pos = GetU32(p, pos, size);
  pos = GetU16(p, pos, rows);
  pos = GetU16(p, pos, fuses);
  pos = GetU16(p, pos, bits);
  pos = GetU16(p, pos, zero);
  pos = GetU32(p, pos, starts);
  if (base != kFlashBase || size != kFlashSize || rows != kLogicRows || fuses != kLogicRowFuses ||
      bits != kLogicUesBits || zero != 0) {
    return Fail(error, "state file of another probe geometry");
  }
  GetU32(p, kFileSize - 4, check);
  if (check != Crc32(p, kFileSize - 4)) return Fail(error, "state file damaged (check mismatch)");

  ProbeModel::State s;
  s.firmware_starts = starts;
  s.flash.assign(p + pos, p + pos + kFlashSize);
  pos += kFlashSize;
  s.rows.reserve(kLogicRows);
  for (std::size_t r = 0; r < kLogicRows; ++r) {
    s.rows.emplace_back(reinterpret_cast<const char*>(p + pos), kLogicRowFuses);
    pos += kLogicRowFuses;
  }
  s.ues.assign(reinterpret_cast<const char*>(p + pos), kLogicUesBits);
  auto fuse_text = [](const std::string& t) {
    return t.find_first_not_of("01") == std::string::npos;
  };
  for (const std::string& row : s.rows) {
    if (!fuse_text(row)) return Fail(error, "state file damaged (fuse row characters)");
  }
  if (!fuse_text(s.ues)) return Fail(error, "state file damaged (signature characters)");
  state = std::move(s);
  return true;
}

StateLoad LoadState(const std::string& path, ProbeModel::State& state, std::string* error) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return StateLoad::kMissing;
    Fail(error, SystemError("cannot open state file", path));
    return StateLoad::kRefused;
  }
  Bytes bytes;
  std::uint8_t chunk[65536];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      Fail(error, SystemError("cannot read state file", path));
      close(fd);
      return StateLoad::kRefused;
    }
    if (n == 0) break;
    bytes.insert(bytes.end(), chunk, chunk + n);
    if (bytes.size() > kFileSize) break;  // too long already; no need to read on
  }
  close(fd);
  std::string why;
  if (!DecodeState(bytes, state, &why)) {
    Fail(error, path + ": " + why);
    return StateLoad::kRefused;
  }
  return StateLoad::kLoaded;
}

bool SaveState(const std::string& path, const ProbeModel::State& state, std::string* error) {
  const Bytes bytes = EncodeState(state);
  std::string temp = path + ".XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return Fail(error, SystemError("cannot create a temporary file for", path));
  bool written = WriteAll(fd, bytes.data(), bytes.size()) && fsync(fd) == 0;
  std::string why = written ? std::string() : SystemError("cannot write state file", path);
  if (close(fd) != 0 && written) {
    written = false;
    why = SystemError("cannot write state file", path);
  }
  if (!written) {
    unlink(temp.c_str());
    return Fail(error, why);
  }
  if (rename(temp.c_str(), path.c_str()) != 0) {
    const std::string rename_error = SystemError("cannot replace state file", path);
    unlink(temp.c_str());
    return Fail(error, rename_error);
  }
  return true;
}

}  // namespace krt::sim
