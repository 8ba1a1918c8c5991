#include "loader/loader.h"

#include <cstring>

#include "link/serial_port.h"
#include "link/transact.h"

namespace krt {
namespace {

constexpr int kAnswerCapacity = 1500;

// Sends the `size` bytes already in the request buffer.
ResultCode Send(std::size_t size, std::uint32_t extra_ms) {
  return Transact(static_cast<int>(size), RequestBuffer(), kAnswerCapacity, AnswerBuffer(),
                  extra_ms);
}

// A request of the code byte alone.
ResultCode SendCode(LoaderCommand code, std::uint32_t extra_ms) {
  PutByte(RequestBuffer(), 0, code);
  return Send(1, extra_ms);
}

// Answers that carry nothing the tool looks at: any length is success.
ResultCode Unchecked(ResultCode r) { return r < 0 ? r : rc::kOk; }

}  // namespace

VersionNumber DecodeFirmwareWord(std::uint16_t word) {
  std::uint16_t v = word;
  if (v >= 0xC000) v = static_cast<std::uint16_t>(v + 0x4000);
  v = static_cast<std::uint16_t>(v - 0x1100);
  return v > 255 ? 0 : v;
}

VersionNumber DecodeLogicWord(std::uint16_t word) {
  const std::uint16_t v = static_cast<std::uint16_t>(word - 7000);
  return v > 999 ? 0 : v;
}

ResultCode IdentifyLoader(VersionNumber& loader_version, VersionNumber& firmware_version,
                          VersionNumber& logic_version, std::string& serial_number) {
  ResultCode r = SendCode(kCmdIdentifyFirst, 10);
  if (r < 0) return r;
  // Only an answer that really holds a first byte can be an echo; an empty
  // answer counts as not beginning with 114 (no stale buffer byte is read).
  if (r > 0 && AnswerBuffer()[0] == kCmdIdentifyFirst) {
    Delay(1000);
    return rc::kLoaderEchoed;
  }

  r = SendCode(kCmdIdentify, 1000);
  if (r < 0) return r;
  if (r != 15 && r != 17) {
    loader_version = firmware_version = logic_version = 0;
    return rc::kOk;
  }
  const std::uint8_t* a = AnswerBuffer();
  if (a[0] != kCmdIdentify) return rc::kMalformedAnswer;
  std::uint16_t loader_word = 0;
  std::uint16_t firmware_word = 0;
  std::uint16_t logic_word = 0;
  std::size_t pos = GetU16(a, 1, loader_word);
  pos = GetU16(a, pos, firmware_word);
  pos = GetU16(a, pos, logic_word);
  serial_number.assign(reinterpret_cast<const char*>(a + pos), static_cast<std::size_t>(r) - pos);
  loader_version = loader_word;
  firmware_version = DecodeFirmwareWord(firmware_word);
  logic_version = DecodeLogicWord(logic_word);
  return rc::kOk;
}

ResultCode StartFirmware() { return Unchecked(SendCode(kCmdStartFirmware, 200)); }

ResultCode ReadFlash(std::uint32_t address, std::uint16_t count, std::uint8_t* destination) {
  std::uint8_t* q = RequestBuffer();
  std::size_t n = PutByte(q, 0, kCmdReadFlash);
  n = PutU32(q, n, address);
  n = PutU16(q, n, count);
  const ResultCode r = Send(n, 10);
  if (r < 0) return r;
  const std::uint8_t* a = AnswerBuffer();
  if (r != count + 7 || a[0] != kCmdReadFlash) return rc::kMalformedAnswer;
  if (count > 0) std::memcpy(destination, a + 7, count);
  return rc::kOk;
}

ResultCode EraseSector(std::uint32_t address) {
  std::uint8_t* q = RequestBuffer();
  std::size_t n = PutByte(q, 0, kCmdEraseSector);
  n = PutU32(q, n, address);
  const ResultCode r = Send(n, 10000);
  if (r < 0) return r;
  const std::uint8_t* a = AnswerBuffer();
  if (r != 2 || a[0] != kCmdEraseSector) return rc::kMalformedAnswer;
  return a[1] == 0 ? rc::kOk : rc::kEraseFailed;
}

ResultCode ProgramFlash(std::uint32_t address, std::uint16_t length, const std::uint8_t* data,
                        std::uint32_t& value) {
  // A request above the transaction's limit would not fit the request buffer.
  // Transact refuses such a size before it reads anything, so it is asked
  // without the data being copied in: the caller gets exactly its code.
  if (length > kMaxFlashData) return Send(7u + length, 1000);
  std::uint8_t* q = RequestBuffer();
  std::size_t n = PutByte(q, 0, kCmdProgramFlash);
  n = PutU32(q, n, address);
  n = PutU16(q, n, length);
  if (length > 0) std::memcpy(q + n, data, length);
  const ResultCode r = Send(n + length, 1000);
  if (r < 0) return r;
  const std::uint8_t* a = AnswerBuffer();
  if (r != 6 || a[0] != kCmdProgramFlash) return rc::kMalformedAnswer;
  const std::uint8_t status = a[1];
  GetU32(a, 2, value);
  return status == 0 ? rc::kOk : rc::kProgramFailed;
}

ResultCode EraseAllSectors() {
  for (std::uint32_t sector : kFlashSectors) {
    const ResultCode r = EraseSector(sector);
    if (r != rc::kOk) return r;
  }
  return rc::kOk;
}

ResultCode SetLogicAccess(bool on) {
  std::uint8_t* q = RequestBuffer();
  std::size_t n = PutByte(q, 0, kCmdSetLogicAccess);
  n = PutByte(q, n, on ? 1 : 0);
  return Unchecked(Send(n, 100));
}

ResultCode ReadLogicDeviceId(std::uint8_t& device_type) {
  const ResultCode r = SendCode(kCmdReadLogicId, 100);
  if (r < 0) return r;
  // The type is answer byte 1; an answer too short to hold it is malformed
  // rather than a stale byte of an earlier answer.
  if (r < 2) return rc::kMalformedAnswer;
  device_type = AnswerBuffer()[1];
  return rc::kOk;
}

ResultCode EraseLogic() { return Unchecked(SendCode(kCmdEraseLogic, 600)); }

ResultCode ProgramFuseRow(std::uint8_t row, const std::string& fuses) {
  // A row text shorter than a row is never sent: refused before the line.
  if (fuses.size() < kRowTextSize) return rc::kShortRequestText;
  std::uint8_t* q = RequestBuffer();
  std::size_t n = PutByte(q, 0, kCmdProgramFuseRow);
  n = PutByte(q, n, row);
  std::memcpy(q + n, fuses.data(), kRowTextSize);
  return Unchecked(Send(n + kRowTextSize, 300));
}

ResultCode ReadFuseRow(std::uint8_t row, std::string& first_reading, std::string& second_reading) {
  std::uint8_t* q = RequestBuffer();
  std::size_t n = PutByte(q, 0, kCmdReadFuseRow);
  n = PutByte(q, n, row);
  const ResultCode r = Send(n, 100);
  if (r < 0) return r;
  if (r != 1 + 2 * static_cast<int>(kRowTextSize)) return rc::kMalformedAnswer;
  const char* a = reinterpret_cast<const char*>(AnswerBuffer());
  first_reading.assign(a + 1, kRowTextSize);
  second_reading.assign(a + 1 + kRowTextSize, kRowTextSize);
  return rc::kOk;
}

ResultCode ProgramUes(const std::string& ues_bits) {
  if (ues_bits.size() < kUesBitCount) return rc::kShortRequestText;
  std::uint8_t* q = RequestBuffer();
  const std::size_t n = PutByte(q, 0, kCmdProgramUes);
  std::memcpy(q + n, ues_bits.data(), kUesBitCount);
  return Unchecked(Send(n + kUesBitCount, 300));
}

ResultCode ReadUes(std::string& ues_bits) {
  const ResultCode r = SendCode(kCmdReadUes, 100);
  if (r < 0) return r;
  if (r != 1 + static_cast<int>(kUesBitCount)) return rc::kMalformedAnswer;
  ues_bits.assign(reinterpret_cast<const char*>(AnswerBuffer()) + 1, kUesBitCount);
  return rc::kOk;
}

}  // namespace krt
