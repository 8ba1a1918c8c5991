// Bit rates and the termios speed constants that set them, for the tool's
// serial port and the simulator's view of the line alike.
#pragma once

#include <termios.h>

#include <cstdint>

namespace krt {

// The constant for `rate`; false for 0 (B0 would hang the line up) and for
// rates termios has no constant for.
bool TermiosSpeedForRate(std::uint32_t rate, speed_t& speed);

// The bit rate a constant stands for; 0 for B0 and unknown constants.
std::uint32_t RateOfTermiosSpeed(speed_t speed);

}  // namespace krt
