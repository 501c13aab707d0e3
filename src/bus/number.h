#pragma once

#include <cstdint>
#include <string_view>

namespace benchcap::bus {

// Reads a number the way instrument answers, settings and the command line are read:
// leading blanks skipped, then the longest decimal number at the start (optional
// sign, digits, fraction, exponent with "E" or "D"); no number gives 0.
double ParseNumber(std::string_view text);

// Rounds to the nearest integer, ties to the even one (2.5 -> 2, 3.5 -> 4).
double RoundHalfEven(double value);

// ParseNumber, then RoundHalfEven, clamped into the 16-bit / 32-bit signed range;
// `overflow` (when given) tells whether the value had to be clamped.
int16_t ParseInt16(std::string_view text, bool* overflow = nullptr);
int32_t ParseInt32(std::string_view text, bool* overflow = nullptr);

}  // namespace benchcap::bus
