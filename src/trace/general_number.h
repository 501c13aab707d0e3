#pragma once

#include <string>

namespace benchcap::trace {

// Longest texts WriteGeneral produces.
inline constexpr int kMaxGeneralFloatText = 13;   // "-1.234567E-45"
inline constexpr int kMaxGeneralDoubleText = 22;  // "-1.23456789012345E-308"
// Room WriteGeneral needs at `out`: it stores whole machine words and may write bytes
// past the end of the text it returns (they are not part of it).
inline constexpr int kGeneralTextRoom = 32;

// Writes `value` in general number form, byte for byte what C's "%.7G" gives, but with
// `separator` as the decimal separator and independent of any C locale: 7 significant
// digits, no trailing zeros, exponent form ("1.5E+09", "2E-05") when the decimal exponent
// is below -4 or at least 7. Infinities and NaNs come out as "%G" writes them: "INF",
// "-INF", "NAN", "-NAN". Needs kGeneralTextRoom bytes at `out`; returns the text's end.
char* WriteGeneral(char* out, float value, char separator);

// The same with 15 significant digits ("%.15G").
char* WriteGeneral(char* out, double value, char separator);

std::string FormatGeneral(float value, char separator = '.');
std::string FormatGeneral(double value, char separator = '.');

}  // namespace benchcap::trace
