// The update images beside the program: firmware images "K70COPFW.<ddd>" and
// logic fuse files "COPJED70.<ddd>" / "COPJED71.<ddd>", whose three-digit
// extension is the image's version (102 is version 1.02), and the text forms
// of a version.
//
// Letter case: image files often arrive from other systems with their names in
// lower case ("k70copfw.102"), and the tool has always found them on a file
// system that ignores case. So a file's base name matches regardless of ASCII
// letter case, here as there. FindNewestVersion counts only regular files whose
// name is the base name, a dot and three decimal digits; ImageFileName returns
// the name of the file that really exists for that version (the exact spelling
// when it exists, otherwise the first matching spelling in byte order), so a
// version that FindNewestVersion found can always be opened. When no such file
// exists it returns the canonical name, base name as given, which the opening
// then refuses.
#pragma once

#include <string>

#include "link/result_code.h"

namespace krt {

inline constexpr const char kFirmwareBase[] = "K70COPFW";
inline constexpr const char kLogicBase70[] = "COPJED70";
inline constexpr const char kLogicBase71[] = "COPJED71";

// Versions above this have no file name and no text form.
inline constexpr VersionNumber kMaxImageVersion = 255;

// The directory searched for images: the one set with SetImageDirectory, else
// the program's own directory ("" when that cannot be determined).
std::string ImageDirectory();

// Makes the catalogue search `dir` instead of the program's directory; ""
// restores the directory beside the program.
void SetImageDirectory(const std::string& dir);

// The highest version among the image files of `base` in the image directory
// (or `dir`); 0 when there is none or the directory cannot be read. Values up
// to 999 are returned as found, also those above 255.
VersionNumber FindNewestVersion(const std::string& base);
VersionNumber FindNewestVersion(const std::string& base, const std::string& dir);

// The full path of the image file of `version` in the image directory (or
// `dir`); "" for version 0, a version above 255 or an unknown directory.
std::string ImageFileName(const std::string& base, VersionNumber version);
std::string ImageFileName(const std::string& base, VersionNumber version, const std::string& dir);

// "1.02" for 102, "0.07" for 7; "unknown" for 0 and versions above 255.
std::string FormatVersion(VersionNumber version);

// "102" for 102, "007" for 7; "000" for 0 and versions above 255.
std::string FormatVersionDigits(VersionNumber version);

}  // namespace krt
