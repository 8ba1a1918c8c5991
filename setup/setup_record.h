// The probe's network setup: a 104-byte record in flash at 0x01008000 that
// holds its MAC address, IP address, subnet mask, default gateway, a fourth
// address and a text.
//
//   0   3  MAC vendor part 02 A7 F3
//   3   3  MAC device part: serial-number characters 1-2, 3-4, 5-6 packed
//   6   2  FF FF
//   8   4  IP address        (a.b.c.d stored as a, b, c, d;
//  12   4  subnet mask        a refused text as FF FF FF FF)
//  16   4  default gateway
//  20   4  fourth address
//  24 n+1  the record text, at most 79 characters, and a zero byte
//  rest    0xFF, like erased flash
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "app/dialog_ui.h"
#include "link/result_code.h"

namespace krt {

inline constexpr std::uint32_t kSetupRecordAddress = 0x01008000;
inline constexpr std::size_t kSetupRecordSize = 104;
inline constexpr std::size_t kSetupTextLimit = 79;

using SetupRecord = std::array<std::uint8_t, kSetupRecordSize>;

// One MAC address byte from two serial-number characters: (16 c1 + c2 - 48)
// modulo 256, which reads two decimal digits as two hexadecimal ones.
std::uint8_t PackSerialPair(char first, char second);

// The record for a serial number of at least six characters.
SetupRecord BuildSetupRecord(const std::string& serial_number, const std::string& ip_address,
                             const std::string& subnet_mask, const std::string& gateway,
                             const std::string& fourth_address, const std::string& text);

// Identifies the probe for its serial number, erases the record's sector and
// 0x010C0000, programs the record and reads it back. 0; the first failing
// command's code; kNoSerialNumber (nothing erased) when the identification
// gave fewer than six serial-number characters; kReadBackDiffers.
ResultCode WriteSetupRecord(std::string ip_address, std::string subnet_mask, std::string gateway,
                            std::string fourth_address, std::string text);

// The Transmit command: writes the dialog's three addresses into the record.
void TransmitCommand(DialogUi& ui, DialogState& state);

}  // namespace krt
