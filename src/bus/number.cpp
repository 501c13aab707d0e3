#include "bus/number.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <system_error>

namespace benchcap::bus {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

template <typename Int>
Int clampRounded(double value, bool* overflow) {
    const double r = RoundHalfEven(value);
    bool over = false;
    Int result = 0;
    if (std::isnan(r)) {
        over = true;
    } else if (r < static_cast<double>(std::numeric_limits<Int>::min())) {
        over = true;
        result = std::numeric_limits<Int>::min();
    } else if (r > static_cast<double>(std::numeric_limits<Int>::max())) {
        over = true;
        result = std::numeric_limits<Int>::max();
    } else {
        result = static_cast<Int>(r);
    }
    if (overflow)
        *overflow = over;
    return result;
}

}  // namespace

double ParseNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    const size_t start = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    size_t digits = 0;
    while (i < text.size() && isDigit(text[i]))
        ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && isDigit(text[i]))
            ++i, ++digits;
    }
    if (digits == 0)
        return 0.0;
    size_t end = i;
    // An exponent counts only when at least one digit follows it.
    if (i < text.size() && (text[i] == 'E' || text[i] == 'e' || text[i] == 'D' || text[i] == 'd')) {
        size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-'))
            ++j;
        if (j < text.size() && isDigit(text[j])) {
            while (j < text.size() && isDigit(text[j]))
                ++j;
            end = j;
        }
    }
    std::string number(text.substr(start, end - start));
    for (char& c : number) {
        if (c == 'D' || c == 'd')
            c = 'E';
    }
    // from_chars ignores the process locale (Qt sets it from the user's settings).
    double value = 0.0;
    const char* first = number.c_str();
    if (*first == '+')
        ++first;
    const auto [ptr, ec] = std::from_chars(first, number.c_str() + number.size(), value);
    if (ec == std::errc::result_out_of_range) {
        // Beyond the double range: infinity of the right sign, or zero for underflow.
        const bool negative = number[0] == '-';
        const bool tiny = number.find("E-") != std::string::npos;
        return tiny ? 0.0 : (negative ? -HUGE_VAL : HUGE_VAL);
    }
    (void)ptr;
    return value;
}

double RoundHalfEven(double value) {
    if (!std::isfinite(value))
        return value;
    return std::nearbyint(value);  // default rounding mode: to nearest, ties to even
}

int16_t ParseInt16(std::string_view text, bool* overflow) {
    return clampRounded<int16_t>(ParseNumber(text), overflow);
}

int32_t ParseInt32(std::string_view text, bool* overflow) {
    return clampRounded<int32_t>(ParseNumber(text), overflow);
}

}  // namespace benchcap::bus
