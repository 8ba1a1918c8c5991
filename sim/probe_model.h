// The probe loader as a pure model: one request payload in (the bytes after
// the two-byte request header, the command code first), the answer payload
// out, or no answer. No I/O, no clock, no threads; the simulator's line thread
// owns one and feeds it the requests it receives.
//
// What it holds:
//   - the probe flash, 1 MiB at 0x01000000, erased to 0xFF, in the sectors of
//     kSectors (the first one is the loader's own and refuses erasing and
//     programming);
//   - the logic device: 134 fuse rows of 240 characters '0'/'1', the 120
//     signature (UES) characters, and the loader's access flag;
//   - the identification: loader word, serial number, device type, and the
//     firmware and logic words, which follow what was programmed;
//   - the count of firmware starts and a log of every request.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace krt::sim {

using Bytes = std::vector<std::uint8_t>;

// Flash geometry.
inline constexpr std::uint32_t kFlashBase = 0x01000000;
inline constexpr std::uint32_t kFlashSize = 0x00100000;  // 1 MiB

struct FlashSector {
  std::uint32_t start;
  std::uint32_t size;
  bool writable;  // false: the loader's own sector
};

inline constexpr std::array<FlashSector, 7> kSectors = {{
    {0x01000000, 0x8000, false},  // the loader itself
    {0x01008000, 0x4000, true},   // the setup record
    {0x0100C000, 0x4000, true},
    {0x01010000, 0x30000, true},
    {0x01040000, 0x40000, true},  // firmware
    {0x01080000, 0x40000, true},  // firmware
    {0x010C0000, 0x40000, true},  // firmware
}};

// The firmware area: the image is programmed from 0x01040000 on and the tool
// closes a successful programming with the signature AA 55 55 AA there. The
// byte after the signature, 0x01040004, is byte 4 of the firmware image: the
// image carries its own version number there, and the loader reports it as
// the low byte of the firmware word (0x1100 + version).
inline constexpr std::uint32_t kFirmwareSignatureAddress = 0x01040000;
inline constexpr std::uint32_t kFirmwareVersionAddress = 0x01040004;
inline constexpr std::array<std::uint8_t, 4> kFirmwareSignature = {0xAA, 0x55, 0x55, 0xAA};

// Logic device geometry.
inline constexpr std::size_t kLogicRows = 134;
inline constexpr std::size_t kLogicRowFuses = 240;
inline constexpr std::size_t kLogicUesBits = 120;

// Status bytes of the erase and program answers (0 is success).
enum FlashStatus : std::uint8_t {
  kFlashOk = 0,
  kFlashNotSectorStart = 1,  // erase of an address that is not a sector start
  kFlashProtected = 2,       // the loader's own sector
  kFlashOutside = 3,         // the range leaves the flash
  kFlashDidNotTake = 4,      // programmed, but the flash does not read back the data
  kFlashBadRequest = 5,      // the request's length does not match its fields
  kFlashRefused = 6,         // the loader refused the operation (a fault of the simulator)
};

// Status byte of the logic device answers (105, 108, 110, 112).
enum LogicStatus : std::uint8_t {
  kLogicOk = 0,
  kLogicNoAccess = 1,    // access to the device is off
  kLogicBadRequest = 2,  // wrong length, row out of range, or a character other than '0'/'1'
};

struct ProbeModelOptions {
  // Reported by the identification (code 100): 8 characters give a 15-byte
  // answer, 10 characters a 17-byte one (other lengths give other lengths).
  std::string serial_number = "12345678";
  std::uint16_t loader_word = 102;
  std::uint8_t device_type = 19;  // answer byte 1 of code 106

  // Start state. A firmware version (1 to 255) puts the signature and that
  // version byte into the flash, as if an image had been programmed; a logic
  // version (1 to 999) puts the signature text "B6001E7" + three digits into
  // the UES and PatternRow() into the fuse rows.
  std::uint8_t firmware_version = 0;
  std::uint16_t logic_version = 0;

  // When set, reported instead of the words derived from flash and UES.
  std::optional<std::uint16_t> firmware_word;
  std::optional<std::uint16_t> logic_word;
};

struct RequestRecord {
  std::uint8_t code = 0;
  Bytes payload;  // the whole request, the code byte first
};

class ProbeModel {
 public:
  explicit ProbeModel(ProbeModelOptions options = {});

  // Carries out one request and returns the answer payload, or nothing (an
  // empty request has no code). With `refuse_flash_change` an erase or program
  // request changes nothing and is answered with kFlashRefused.
  std::optional<Bytes> Handle(const Bytes& request, bool refuse_flash_change = false);

  // Replaces the reported values (serial number, loader word, device type,
  // word overrides); the start-state fields are ignored, flash and logic stay.
  void SetOptions(const ProbeModelOptions& options);
  const ProbeModelOptions& options() const { return options_; }

  // The words the identification reports now.
  std::uint16_t FirmwareWord() const;
  std::uint16_t LogicWord() const;

  // Flash contents; addresses outside the flash read 0xFF.
  Bytes ReadFlash(std::uint32_t address, std::size_t count) const;
  const std::vector<std::string>& FuseRows() const { return rows_; }
  const std::string& Ues() const { return ues_; }
  bool LogicAccess() const { return logic_access_; }
  std::uint32_t FirmwareStarts() const { return firmware_starts_; }

  // The request log, oldest first. It keeps the newest requests up to 64 MiB
  // of payload, so a long run cannot grow without bound.
  const std::deque<RequestRecord>& Requests() const { return log_; }
  void ClearRequests();

  // As after a reset of the probe into its loader: access to the logic device
  // is off. Flash and logic contents stay.
  void Reset() { logic_access_ = false; }

  // The whole persistent state, for the simulator's state file.
  struct State {
    Bytes flash;                    // kFlashSize bytes
    std::vector<std::string> rows;  // kLogicRows rows of kLogicRowFuses characters
    std::string ues;                // kLogicUesBits characters
    std::uint32_t firmware_starts = 0;
  };
  State Snapshot() const;
  // False (nothing changed) when the state does not have the geometry above.
  bool Restore(State state);

 private:
  Bytes Identify() const;
  Bytes ReadFlashCommand(const Bytes& request) const;
  Bytes EraseSector(const Bytes& request, bool refuse);
  Bytes ProgramFlash(const Bytes& request, bool refuse);
  Bytes LogicCommand(const Bytes& request);
  void Log(const Bytes& request);

  ProbeModelOptions options_;
  Bytes flash_;
  std::vector<std::string> rows_;
  std::string ues_;
  bool logic_access_ = false;
  std::uint32_t firmware_starts_ = 0;
  std::deque<RequestRecord> log_;
  std::size_t log_bytes_ = 0;
};

// The sector that starts at `address`, or nullptr.
const FlashSector* SectorAt(std::uint32_t address);

// The 120 signature characters of a text: eight for each of its first 15
// characters (0 bytes past its end), most significant bit first.
std::string EncodeUesText(const std::string& text);

// The text of 120 signature characters: 15 bytes, most significant bit first,
// trailing zero bytes dropped. Nothing when a character is not '0' or '1'.
std::optional<std::string> DecodeUesText(const std::string& bits);

// The logic word for a signature: 7000 + the three decimal digits that end its
// text ("B6001E7105" gives 7105), or 0.
std::uint16_t LogicWordForUes(const std::string& bits);

// The fuse row a logic start state holds (a fixed mix of '0' and '1').
std::string PatternRow(std::size_t row);

}  // namespace krt::sim
