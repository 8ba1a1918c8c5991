// Where the running program lies, and the plain directory and path helpers the
// image catalogue needs.
#pragma once

#include <string>
#include <vector>

namespace krt {

// The directory of the running program file itself (on Linux the target of
// /proc/self/exe), never the working directory. No trailing slash, except for
// the root directory "/". "" when the program's path cannot be determined.
std::string ProgramDirectory();

// The names of the entries of `dir` ("." and ".." left out), in the order the
// file system delivers them; empty when the directory cannot be read.
std::vector<std::string> ListDirectory(const std::string& dir);

// `dir` and `name` joined by exactly one slash; `name` alone for an empty dir.
std::string JoinPath(const std::string& dir, const std::string& name);

// True when `path` names a regular file (symbolic links followed).
bool IsRegularFile(const std::string& path);

}  // namespace krt
