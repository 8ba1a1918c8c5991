#include "sim/probe_model.h"

#include <algorithm>
#include <cstdio>

#include "link/transact.h"

namespace krt::sim {
namespace {

constexpr std::size_t kLogByteLimit = 64u << 20;

// Codes of the loader's requests.
enum Code : std::uint8_t {
  kIdentify = 100,
  kReadFlash = 101,
  kEraseSector = 103,
  kProgramFlash = 104,
  kSetLogicAccess = 105,
  kReadLogicId = 106,
  kReadFuseRow = 107,
  kProgramFuseRow = 108,
  kReadUes = 109,
  kProgramUes = 110,
  kEraseLogic = 112,
  kStartFirmware = 113,
  kIdentifyFirst = 114,
};

// The longest answer payload a transaction carries.
constexpr std::size_t kMaxAnswer = 1498;

bool OnlyFuseCharacters(const std::uint8_t* data, std::size_t count) {
  return std::all_of(data, data + count, [](std::uint8_t c) { return c == '0' || c == '1'; });
}

std::uint64_t FlashEnd() { return std::uint64_t{kFlashBase} + kFlashSize; }

bool InsideFlash(std::uint64_t address, std::uint64_t count) {
  return address >= kFlashBase && address + count <= FlashEnd();
}

}  // namespace

const FlashSector* SectorAt(std::uint32_t address) {
  for (const FlashSector& s : kSectors) {
    if (s.start == address) return &s;
  }
  return nullptr;
}

std::string EncodeUesText(const std::string& text) {
  std::string bits;
  bits.reserve(kLogicUesBits);
  for (std::size_t i = 0; i < kLogicUesBits / 8; ++i) {
    const auto byte = i < text.size() ? static_cast<std::uint8_t>(text[i]) : std::uint8_t{0};
    for (int b = 7; b >= 0; --b) bits.push_back(((byte >> b) & 1) != 0 ? '1' : '0');
  }
  return bits;
}

std::optional<std::string> DecodeUesText(const std::string& bits) {
  if (bits.size() != kLogicUesBits) return std::nullopt;
  std::string text;
  for (std::size_t i = 0; i < kLogicUesBits; i += 8) {
    unsigned byte = 0;
    for (std::size_t b = 0; b < 8; ++b) {
      const char c = bits[i + b];
      if (c != '0' && c != '1') return std::nullopt;
      byte = (byte << 1) | (c == '1' ? 1u : 0u);
    }
    text.push_back(static_cast<char>(byte));
  }
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

std::uint16_t LogicWordForUes(const std::string& bits) {
  const std::optional<std::string> text = DecodeUesText(bits);
  if (!text || text->size() < 3) return 0;
  unsigned value = 0;
  for (std::size_t i = text->size() - 3; i < text->size(); ++i) {
    const char c = (*text)[i];
    if (c < '0' || c > '9') return 0;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return static_cast<std::uint16_t>(7000 + value);
}

std::string PatternRow(std::size_t row) {
  std::string fuses(kLogicRowFuses, '0');
  for (std::size_t i = 0; i < kLogicRowFuses; ++i) {
    if ((row * 7 + i * 3) % 5 < 2) fuses[i] = '1';
  }
  return fuses;
}

ProbeModel::ProbeModel(ProbeModelOptions options)
    : options_(std::move(options)),
      flash_(kFlashSize, 0xFF),
      rows_(kLogicRows, std::string(kLogicRowFuses, '0')),
      ues_(kLogicUesBits, '0') {
  if (options_.firmware_version != 0) {
    std::copy(kFirmwareSignature.begin(), kFirmwareSignature.end(),
              flash_.begin() + (kFirmwareSignatureAddress - kFlashBase));
    flash_[kFirmwareVersionAddress - kFlashBase] = options_.firmware_version;
  }
  if (options_.logic_version != 0) {
    char text[16];
    std::snprintf(text, sizeof text, "B6001E7%03u", static_cast<unsigned>(options_.logic_version));
    ues_ = EncodeUesText(text);
    for (std::size_t r = 0; r < kLogicRows; ++r) rows_[r] = PatternRow(r);
  }
}

void ProbeModel::SetOptions(const ProbeModelOptions& options) {
  const std::uint8_t firmware_version = options_.firmware_version;
  const std::uint16_t logic_version = options_.logic_version;
  options_ = options;
  options_.firmware_version = firmware_version;
  options_.logic_version = logic_version;
}

std::uint16_t ProbeModel::FirmwareWord() const {
  if (options_.firmware_word) return *options_.firmware_word;
  const auto sig = flash_.begin() + (kFirmwareSignatureAddress - kFlashBase);
  if (!std::equal(kFirmwareSignature.begin(), kFirmwareSignature.end(), sig)) return 0;
  return static_cast<std::uint16_t>(0x1100 + flash_[kFirmwareVersionAddress - kFlashBase]);
}

std::uint16_t ProbeModel::LogicWord() const {
  if (options_.logic_word) return *options_.logic_word;
  return LogicWordForUes(ues_);
}

Bytes ProbeModel::ReadFlash(std::uint32_t address, std::size_t count) const {
  Bytes out(count, 0xFF);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint64_t a = std::uint64_t{address} + i;
    if (InsideFlash(a, 1)) out[i] = flash_[a - kFlashBase];
  }
  return out;
}

void ProbeModel::ClearRequests() {
  log_.clear();
  log_bytes_ = 0;
}

void ProbeModel::Log(const Bytes& request) {
  log_.push_back(RequestRecord{request[0], request});
  log_bytes_ += request.size();
  while (log_bytes_ > kLogByteLimit && log_.size() > 1) {
    log_bytes_ -= log_.front().payload.size();
    log_.pop_front();
  }
}

std::optional<Bytes> ProbeModel::Handle(const Bytes& request, bool refuse_flash_change) {
  if (request.empty()) return std::nullopt;
  Log(request);
  const std::uint8_t code = request[0];
  switch (code) {
    case kIdentifyFirst:
      // Anything but an echo of 114 lets the tool go on to code 100.
      return Bytes{0x00};
    case kIdentify:
      return Identify();
    case kReadFlash:
      return ReadFlashCommand(request);
    case kEraseSector:
      return EraseSector(request, refuse_flash_change);
    case kProgramFlash:
      return ProgramFlash(request, refuse_flash_change);
    case kSetLogicAccess:
    case kReadLogicId:
    case kReadFuseRow:
    case kProgramFuseRow:
    case kReadUes:
    case kProgramUes:
    case kEraseLogic:
      return LogicCommand(request);
    case kStartFirmware:
      ++firmware_starts_;
      Reset();
      return Bytes{kStartFirmware};
    default:
      // A code the loader does not know: its code and 0xFF.
      return Bytes{code, 0xFF};
  }
}

Bytes ProbeModel::Identify() const {
  Bytes a(7);
  std::size_t pos = PutByte(a.data(), 0, kIdentify);
  pos = PutU16(a.data(), pos, options_.loader_word);
  pos = PutU16(a.data(), pos, FirmwareWord());
  PutU16(a.data(), pos, LogicWord());
  const std::size_t room = kMaxAnswer - a.size();
  const std::string& serial = options_.serial_number;
  a.insert(a.end(), serial.begin(), serial.begin() + std::min(serial.size(), room));
  return a;
}

// 101: address (4), count (2). Answer: 101, the six parameter bytes, the data.
Bytes ProbeModel::ReadFlashCommand(const Bytes& request) const {
  if (request.size() != 7) return Bytes{kReadFlash};
  std::uint32_t address = 0;
  std::uint16_t count = 0;
  GetU16(request.data(), GetU32(request.data(), 1, address), count);
  Bytes a(request.begin(), request.end());
  // An answer of more than a transaction carries is not sent: the parameters
  // come back without data.
  if (a.size() + count > kMaxAnswer) return a;
  const Bytes data = ReadFlash(address, count);
  a.insert(a.end(), data.begin(), data.end());
  return a;
}

// 103: address (4). Answer: 103, status.
Bytes ProbeModel::EraseSector(const Bytes& request, bool refuse) {
  if (request.size() != 5) return Bytes{kEraseSector, kFlashBadRequest};
  std::uint32_t address = 0;
  GetU32(request.data(), 1, address);
  const FlashSector* sector = SectorAt(address);
  if (sector == nullptr) return Bytes{kEraseSector, kFlashNotSectorStart};
  if (!sector->writable) return Bytes{kEraseSector, kFlashProtected};
  if (refuse) return Bytes{kEraseSector, kFlashRefused};
  const auto begin = flash_.begin() + (sector->start - kFlashBase);
  std::fill(begin, begin + sector->size, 0xFF);
  return Bytes{kEraseSector, kFlashOk};
}

// 104: address (4), length (2), data. Flash semantics: programming can only
// clear bits, so each byte becomes old AND data, and the status tells whether
// the flash now holds the data. Answer: 104, status, the address where
// programming stopped (just past the programmed bytes on success, the first
// byte that did not take on a mismatch, the address itself when nothing was
// programmed).
Bytes ProbeModel::ProgramFlash(const Bytes& request, bool refuse) {
  Bytes a(6);
  std::uint32_t address = 0;
  std::uint16_t length = 0;
  std::uint8_t status = kFlashOk;
  std::uint64_t stop = 0;
  if (request.size() < 7) {
    status = kFlashBadRequest;
  } else {
    GetU16(request.data(), GetU32(request.data(), 1, address), length);
    stop = address;
    if (request.size() != 7u + length) {
      status = kFlashBadRequest;
    } else if (!InsideFlash(address, length)) {
      status = kFlashOutside;
    } else if (length > 0 && (address < kSectors[0].start + kSectors[0].size)) {
      status = kFlashProtected;
    } else if (refuse) {
      status = kFlashRefused;
    } else {
      std::optional<std::uint64_t> first_bad;
      for (std::size_t i = 0; i < length; ++i) {
        std::uint8_t& cell = flash_[address - kFlashBase + i];
        const std::uint8_t want = request[7 + i];
        cell &= want;
        if (cell != want && !first_bad) first_bad = address + i;
      }
      if (first_bad) {
        status = kFlashDidNotTake;
        stop = *first_bad;
      } else {
        stop = std::uint64_t{address} + length;
      }
    }
  }
  std::size_t pos = PutByte(a.data(), 0, kProgramFlash);
  pos = PutByte(a.data(), pos, status);
  PutU32(a.data(), pos, static_cast<std::uint32_t>(stop));
  return a;
}

namespace {

// An answer of the code and `copies` copies of `text`, one byte a character.
Bytes CodeAndText(std::uint8_t code, const std::string& text, std::size_t copies) {
  Bytes answer(1 + copies * text.size());
  answer[0] = code;
  for (std::size_t i = 0; i < copies; ++i) {
    std::copy(text.begin(), text.end(),
              answer.begin() + 1 + static_cast<std::ptrdiff_t>(i * text.size()));
  }
  return answer;
}

}  // namespace

Bytes ProbeModel::LogicCommand(const Bytes& request) {
  const std::uint8_t code = request[0];
  const std::size_t size = request.size();
  switch (code) {
    case kSetLogicAccess:
      if (size != 2) return Bytes{code, kLogicBadRequest};
      logic_access_ = request[1] != 0;
      return Bytes{code, kLogicOk};
    case kReadLogicId:
      return Bytes{code, options_.device_type};
    case kEraseLogic:
      if (!logic_access_) return Bytes{code, kLogicNoAccess};
      for (std::string& row : rows_) row.assign(kLogicRowFuses, '0');
      ues_.assign(kLogicUesBits, '0');
      return Bytes{code, kLogicOk};
    case kProgramFuseRow: {
      if (!logic_access_) return Bytes{code, kLogicNoAccess};
      if (size != 2 + kLogicRowFuses || request[1] >= kLogicRows ||
          !OnlyFuseCharacters(request.data() + 2, kLogicRowFuses)) {
        return Bytes{code, kLogicBadRequest};
      }
      rows_[request[1]].assign(request.begin() + 2, request.end());
      return Bytes{code, kLogicOk};
    }
    case kReadFuseRow: {
      // Both readings of a row that reads back as programmed.
      if (size != 2 || request[1] >= kLogicRows) return Bytes{code};
      return CodeAndText(code, rows_[request[1]], 2);
    }
    case kProgramUes:
      if (!logic_access_) return Bytes{code, kLogicNoAccess};
      if (size != 1 + kLogicUesBits || !OnlyFuseCharacters(request.data() + 1, kLogicUesBits)) {
        return Bytes{code, kLogicBadRequest};
      }
      ues_.assign(request.begin() + 1, request.end());
      return Bytes{code, kLogicOk};
    case kReadUes:
      return CodeAndText(code, ues_, 1);
    default:
      return Bytes{code, 0xFF};
  }
}

ProbeModel::State ProbeModel::Snapshot() const {
  return State{flash_, rows_, ues_, firmware_starts_};
}

bool ProbeModel::Restore(State state) {
  if (state.flash.size() != kFlashSize || state.rows.size() != kLogicRows ||
      state.ues.size() != kLogicUesBits) {
    return false;
  }
  for (const std::string& row : state.rows) {
    if (row.size() != kLogicRowFuses) return false;
  }
  flash_ = std::move(state.flash);
  rows_ = std::move(state.rows);
  ues_ = std::move(state.ues);
  firmware_starts_ = state.firmware_starts;
  return true;
}

}  // namespace krt::sim
