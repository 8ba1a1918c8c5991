// The simulator's state file: the probe's flash, fuse rows, signature and
// firmware start count, so that a simulated probe keeps what was programmed
// from one run of the simulator to the next.
//
// Layout (numbers big-endian):
//   16 bytes  "KRT700-SIM-STATE"
//    4        format version (1)
//    4, 4     flash base and size
//    2, 2, 2  fuse rows, fuses a row, signature bits
//    2        0
//    4        firmware starts
//    then the flash bytes, the fuse rows' characters row after row, the
//    signature characters, and a CRC-32 of everything before it.
//
// Writing goes to a temporary file beside the target, which is then renamed
// over it, so a reader sees the old file or the new one, never a part. A file
// that is not a state file, has another geometry, is cut short or fails its
// check is refused as a whole.
#pragma once

#include <string>

#include "sim/probe_model.h"

namespace krt::sim {

enum class StateLoad {
  kLoaded,
  kMissing,  // no file at the path: the caller starts from its own state
  kRefused,  // unreadable, foreign or damaged: `error` says which
};

StateLoad LoadState(const std::string& path, ProbeModel::State& state, std::string* error);
bool SaveState(const std::string& path, const ProbeModel::State& state, std::string* error);

// The file's bytes for a state, and the state of a file's bytes (as above).
Bytes EncodeState(const ProbeModel::State& state);
bool DecodeState(const Bytes& bytes, ProbeModel::State& state, std::string* error);

}  // namespace krt::sim
