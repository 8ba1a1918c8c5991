#include "setup/setup_record.h"

#include <algorithm>

#include "link/transact.h"
#include "loader/loader.h"
#include "setup/dotted_quad.h"

namespace krt {
namespace {

constexpr std::uint32_t kSecondSetupSector = 0x010C0000;
constexpr std::size_t kMinSerialLength = 6;

}  // namespace

std::uint8_t PackSerialPair(char first, char second) {
  const unsigned c1 = static_cast<unsigned char>(first);
  const unsigned c2 = static_cast<unsigned char>(second);
  return static_cast<std::uint8_t>((16u * c1 + c2 - 48u) & 0xFFu);
}

SetupRecord BuildSetupRecord(const std::string& serial_number, const std::string& ip_address,
                             const std::string& subnet_mask, const std::string& gateway,
                             const std::string& fourth_address, const std::string& text) {
  SetupRecord record;
  record.fill(0xFF);
  std::uint8_t* r = record.data();
  std::size_t pos = PutByte(r, 0, 0x02);
  pos = PutByte(r, pos, 0xA7);
  pos = PutByte(r, pos, 0xF3);
  // WriteSetupRecord never builds a record from fewer than six characters;
  // should a caller, the missing ones count as '0'.
  auto at = [&serial_number](std::size_t i) {
    return i < serial_number.size() ? serial_number[i] : '0';
  };
  for (std::size_t i = 0; i < kMinSerialLength; i += 2) {
    pos = PutByte(r, pos, PackSerialPair(at(i), at(i + 1)));
  }
  pos += 2;  // filler, FF FF
  for (const std::string* address : {&ip_address, &subnet_mask, &gateway, &fourth_address}) {
    pos = PutU32(r, pos, static_cast<std::uint32_t>(ParseDottedQuad(*address)));
  }
  const std::size_t n = std::min(text.size(), kSetupTextLimit);
  std::copy_n(text.begin(), n, record.begin() + static_cast<std::ptrdiff_t>(pos));
  record[pos + n] = 0;
  return record;
}

ResultCode WriteSetupRecord(std::string ip_address, std::string subnet_mask, std::string gateway,
                            std::string fourth_address, std::string text) {
  VersionNumber loader = 0;
  VersionNumber firmware = 0;
  VersionNumber logic = 0;
  std::string serial;
  ResultCode r = IdentifyLoader(loader, firmware, logic, serial);
  if (r != rc::kOk) return r;
  // An identification of odd length passes without a serial number; no MAC
  // address can be made from it, so nothing is erased.
  if (serial.size() < kMinSerialLength) return rc::kNoSerialNumber;

  const SetupRecord record =
      BuildSetupRecord(serial, ip_address, subnet_mask, gateway, fourth_address, text);
  r = EraseSector(kSetupRecordAddress);
  if (r == rc::kOk) r = EraseSector(kSecondSetupSector);
  if (r != rc::kOk) return r;
  std::uint32_t value = 0;
  r = ProgramFlash(kSetupRecordAddress, kSetupRecordSize, record.data(), value);
  if (r != rc::kOk) return r;
  SetupRecord read_back{};
  r = ReadFlash(kSetupRecordAddress, kSetupRecordSize, read_back.data());
  if (r != rc::kOk) return r;
  return read_back == record ? rc::kOk : rc::kReadBackDiffers;
}

void TransmitCommand(DialogUi& ui, DialogState& state) {
  if (!ui.ExchangeFromControls(state)) return;
  ui.BeginWaitCursor();
  ui.SetStatus("Writing setup data ....");
  const ResultCode r =
      WriteSetupRecord(state.ip_address, state.subnet_mask, state.gateway, "255.255.255.255", "");
  ui.EndWaitCursor();
  if (r == rc::kOk) {
    ui.SetStatus("Writing setup data passed");
    return;
  }
  ui.SetStatus("Writing setup data failed!");
  ui.ShowMessage("Transfer failed!", "Error", MessageIcon::kExclamation);
}

}  // namespace krt
