// The logic device steps as the dialog runs them: each writes its status
// texts, switches the wait cursor on and off around its loader commands, and
// on failure shows its reason in a message box and returns false; the caller
// then only stops. Result codes are never shown.
#pragma once

#include <string>

#include "app/dialog_ui.h"
#include "logic/fuse_map.h"

namespace krt {

// Reads the JEDEC file's fuse list into `map` (replacing its contents).
bool ReadJedecFuseMap(DialogUi& ui, const std::string& file_name, FuseMap& map);

bool LogicAccessOn(DialogUi& ui);
bool LogicAccessOff(DialogUi& ui);
// The device must report type 19.
bool CheckLogicDeviceType(DialogUi& ui);
bool EraseLogicDevice(DialogUi& ui);
// Programs the 134 rows, then the signature made from `ues_text`.
bool ProgramFuseMap(DialogUi& ui, const FuseMap& map, const std::string& ues_text);
// Reads every row back (both readings must equal the map) and the signature.
bool VerifyFuseMap(DialogUi& ui, const FuseMap& map, const std::string& ues_text);

// The signature's 120 bit characters: eight for each of the first 15
// characters of `ues_text` (0 bytes past its end), most significant first.
std::string EncodeUes(const std::string& ues_text);

// The logic update sequence: read the file, access on, type check, erase,
// program, verify; each step only after the ones before passed. Logic access
// is switched off at the end in every case; that step's failure shows its box
// but does not change the outcome.
bool UpdateLogic(DialogUi& ui, const std::string& file_name, const std::string& ues_text);

inline constexpr std::uint8_t kLogicDeviceType = 19;

}  // namespace krt
