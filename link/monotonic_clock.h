// The link's tick counter: milliseconds on the monotonic clock, which never
// jumps with the wall clock. 64 bits wide, so it does not wrap.
#pragma once

#include <cstdint>
#include <ctime>

namespace krt {

inline std::uint64_t MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

}  // namespace krt
