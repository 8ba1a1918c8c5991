#include "logic/logic_steps.h"

#include <cstdio>

#include "loader/loader.h"
#include "logic/jedec.h"

namespace krt {
namespace {

constexpr char kCommunicationFailed[] = "Communication with KRT failed!";

void Fail(DialogUi& ui, const char* text) { ui.ShowMessage(text, kAppTitle, MessageIcon::kNone); }

// One loader command under the wait cursor; the box comes after the cursor
// is off.
bool Step(DialogUi& ui, ResultCode (*command)()) {
  ui.BeginWaitCursor();
  const ResultCode r = command();
  ui.EndWaitCursor();
  if (r != rc::kOk) Fail(ui, kCommunicationFailed);
  return r == rc::kOk;
}

// "( n% )" after row `row` of the map.
void ShowRowProgress(DialogUi& ui, const char* format, ProgressTask task, int row) {
  const unsigned percent = static_cast<unsigned>(row) * 100u / static_cast<unsigned>(kFuseRows);
  char text[64];
  std::snprintf(text, sizeof text, format, percent);
  ui.SetStatus(text);
  ui.Progress(task, percent);
}

// Row `row` of the map; a map short of rows (never one that was read) gives an
// empty row, which the device commands refuse instead of reading past it.
const std::string& Row(const FuseMap& map, int row) {
  static const std::string kMissing;
  return static_cast<std::size_t>(row) < map.size() ? map[static_cast<std::size_t>(row)] : kMissing;
}

}  // namespace

std::string EncodeUes(const std::string& ues_text) {
  std::string bits;
  bits.reserve(kUesBitCount);
  for (std::size_t i = 0; i < kUesBitCount / 8; ++i) {
    const auto byte = i < ues_text.size() ? static_cast<unsigned char>(ues_text[i]) : 0u;
    for (int bit = 7; bit >= 0; --bit) bits.push_back((byte >> bit) & 1u ? '1' : '0');
  }
  return bits;
}

bool ReadJedecFuseMap(DialogUi& ui, const std::string& file_name, FuseMap& map) {
  ui.SetStatus("Logic: Reading JEDEC File ...");
  bool waiting = false;
  const FuseFileResult result = ReadFuseFile(file_name, map, [&] {
    ui.BeginWaitCursor();
    waiting = true;
  });
  const char* message = nullptr;
  switch (result.status) {
    case FuseFileStatus::kOk:
      break;
    case FuseFileStatus::kCannotOpen:
      message = "Logic: Cannot open JEDEC file!";
      break;
    case FuseFileStatus::kNoFuseList:
      message = "Logic: Illegal JEDEC file format!";
      break;
    case FuseFileStatus::kBadRow:
      message = "Illegal JEDEC file format!";
      break;
    case FuseFileStatus::kReadError:
      // Not a format fault: the file could not be read to its end.
      message = "Logic: Cannot read JEDEC file!";
      break;
  }
  // A bad row is reported while the wait cursor is still on; it goes off once
  // the box has been dismissed.
  if (message != nullptr) Fail(ui, message);
  if (waiting) ui.EndWaitCursor();
  return result.status == FuseFileStatus::kOk;
}

bool LogicAccessOn(DialogUi& ui) {
  return Step(ui, [] { return SetLogicAccess(true); });
}

bool LogicAccessOff(DialogUi& ui) {
  return Step(ui, [] { return SetLogicAccess(false); });
}

bool CheckLogicDeviceType(DialogUi& ui) {
  ui.BeginWaitCursor();
  std::uint8_t type = 0;
  const ResultCode r = ReadLogicDeviceId(type);
  ui.EndWaitCursor();
  if (r != rc::kOk) {
    Fail(ui, kCommunicationFailed);
    return false;
  }
  if (type != kLogicDeviceType) {
    Fail(ui, "Logic: Unknown ispLSI device type!");
    return false;
  }
  return true;
}

bool EraseLogicDevice(DialogUi& ui) {
  ui.SetStatus("Logic: Erasing ...");
  return Step(ui, [] { return EraseLogic(); });
}

bool ProgramFuseMap(DialogUi& ui, const FuseMap& map, const std::string& ues_text) {
  ui.SetStatus("Logic: Programming ...");
  ui.BeginWaitCursor();
  for (int row = 0; row < static_cast<int>(kFuseRows); ++row) {
    const ResultCode r = ProgramFuseRow(static_cast<std::uint8_t>(row), Row(map, row));
    ShowRowProgress(ui, "Logic: Programming ... ( %u%% )", ProgressTask::kLogicProgram, row);
    if (r != rc::kOk) {
      ui.EndWaitCursor();
      Fail(ui, kCommunicationFailed);
      return false;
    }
  }
  const ResultCode r = ProgramUes(EncodeUes(ues_text));
  ui.EndWaitCursor();
  if (r != rc::kOk) {
    Fail(ui, kCommunicationFailed);
    return false;
  }
  return true;
}

bool VerifyFuseMap(DialogUi& ui, const FuseMap& map, const std::string& ues_text) {
  ui.SetStatus("Logic: Verifying ...");
  ui.BeginWaitCursor();
  auto fail = [&ui](const char* text) {
    ui.EndWaitCursor();
    Fail(ui, text);
    return false;
  };
  std::string first;
  std::string second;
  for (int row = 0; row < static_cast<int>(kFuseRows); ++row) {
    const ResultCode r = ReadFuseRow(static_cast<std::uint8_t>(row), first, second);
    ShowRowProgress(ui, "Logic: Verifying ... ( %u%% )", ProgressTask::kLogicVerify, row);
    if (r != rc::kOk) return fail(kCommunicationFailed);
    if (first != Row(map, row)) return fail("Logic: Fuse map programmed verification failed!");
    if (second != Row(map, row)) return fail("Logic: Fuse map erased verification failed!");
  }
  std::string ues;
  if (ReadUes(ues) != rc::kOk) return fail(kCommunicationFailed);
  if (ues != EncodeUes(ues_text)) return fail("Logic: UES verify failed!");
  ui.EndWaitCursor();
  return true;
}

bool UpdateLogic(DialogUi& ui, const std::string& file_name, const std::string& ues_text) {
  FuseMap map;
  const bool passed = ReadJedecFuseMap(ui, file_name, map) && LogicAccessOn(ui) &&
                      CheckLogicDeviceType(ui) && EraseLogicDevice(ui) &&
                      ProgramFuseMap(ui, map, ues_text) && VerifyFuseMap(ui, map, ues_text);
  LogicAccessOff(ui);
  return passed;
}

}  // namespace krt
