// The loader command set. Each command is one request transaction: it writes
// its code byte and parameters into the shared request buffer, calls Transact
// with answer capacity 1500 and its own extra time, passes a negative result up
// unchanged and checks the answer as the loader defines it.
#pragma once

#include <cstdint>
#include <string>

#include "link/result_code.h"

namespace krt {

// Codes of the loader's requests ('d' to 'r').
enum LoaderCommand : std::uint8_t {
  kCmdIdentify = 100,        // 'd'
  kCmdReadFlash = 101,       // 'e'
  kCmdEraseSector = 103,     // 'g'
  kCmdProgramFlash = 104,    // 'h'
  kCmdSetLogicAccess = 105,  // 'i'
  kCmdReadLogicId = 106,     // 'j'
  kCmdReadFuseRow = 107,     // 'k'
  kCmdProgramFuseRow = 108,  // 'l'
  kCmdReadUes = 109,         // 'm'
  kCmdProgramUes = 110,      // 'n'
  kCmdEraseLogic = 112,      // 'p'
  kCmdStartFirmware = 113,   // 'q'
  kCmdIdentifyFirst = 114,   // 'r'
};

// Flash sectors the tool erases, in the order EraseAllSectors erases them.
inline constexpr std::uint32_t kSetupSector = 0x01008000;
inline constexpr std::uint32_t kFlashSectors[6] = {0x01008000, 0x0100C000, 0x01010000,
                                                   0x01040000, 0x01080000, 0x010C0000};
// The most data bytes one ProgramFlash request carries (1498 - 7).
inline constexpr std::uint16_t kMaxFlashData = 1491;

// What the logic device commands carry: a fuse row of 240 characters, the
// signature as 120 bit characters.
inline constexpr std::size_t kRowTextSize = 240;
inline constexpr std::size_t kUesBitCount = 120;

// Asks the loader who it is (code 114, then code 100). On 0 the versions and
// the serial-number text (8 or 10 characters) are set; an answer to code 100 of
// any other length than 15 or 17 bytes sets the three versions to 0, keeps the
// serial number and still returns 0. kLoaderEchoed after a 1000 ms pause when
// the loader echoed code 114; kMalformedAnswer when the answer to code 100 does
// not begin with 100. On a failure nothing is touched.
ResultCode IdentifyLoader(VersionNumber& loader_version, VersionNumber& firmware_version,
                          VersionNumber& logic_version, std::string& serial_number);

// Decoding of the identification's version words.
VersionNumber DecodeFirmwareWord(std::uint16_t word);
VersionNumber DecodeLogicWord(std::uint16_t word);

// Makes the loader start the probe firmware (code 113); the answer is not
// examined.
ResultCode StartFirmware();

// Flash. `ReadFlash` fills `destination` with `count` bytes (untouched on a
// failure); `ProgramFlash` stores the answer's 32-bit value into `value`
// whatever the status.
ResultCode ReadFlash(std::uint32_t address, std::uint16_t count, std::uint8_t* destination);
ResultCode EraseSector(std::uint32_t address);
ResultCode ProgramFlash(std::uint32_t address, std::uint16_t length, const std::uint8_t* data,
                        std::uint32_t& value);
ResultCode EraseAllSectors();

// Logic device. Fuse states and signature bits travel as the characters '0'
// and '1'.
ResultCode SetLogicAccess(bool on);
ResultCode ReadLogicDeviceId(std::uint8_t& device_type);
ResultCode EraseLogic();
ResultCode ProgramFuseRow(std::uint8_t row, const std::string& fuses);
ResultCode ReadFuseRow(std::uint8_t row, std::string& first_reading, std::string& second_reading);
ResultCode ProgramUes(const std::string& ues_bits);
ResultCode ReadUes(std::string& ues_bits);

}  // namespace krt
