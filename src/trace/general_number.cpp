#include "trace/general_number.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

// The trace text writes up to millions of numbers, so "%.7G" / "%.15G" are done by hand:
// a fast path that is exact or carries a proven error bound, and std::to_chars (exact,
// locale-free) for the rare rest. Both end in the same "%G" layout code.

namespace benchcap::trace {
namespace {

// GCC and clang both have 128-bit integers; __extension__ keeps -Wpedantic quiet.
__extension__ typedef unsigned __int128 u128;

// Nearest doubles to 10^k for k = kPow10Min..kPow10Max (the compiler rounds the literals
// correctly): enough for every float once its decimal exponent is known.
constexpr int kPow10Min = -33;
constexpr double kPow10[] = {
    1e-33, 1e-32, 1e-31, 1e-30, 1e-29, 1e-28, 1e-27, 1e-26, 1e-25, 1e-24, 1e-23, 1e-22, 1e-21,
    1e-20, 1e-19, 1e-18, 1e-17, 1e-16, 1e-15, 1e-14, 1e-13, 1e-12, 1e-11, 1e-10, 1e-9,  1e-8,
    1e-7,  1e-6,  1e-5,  1e-4,  1e-3,  1e-2,  1e-1,  1e0,   1e1,   1e2,   1e3,   1e4,   1e5,
    1e6,   1e7,   1e8,   1e9,   1e10,  1e11,  1e12,  1e13,  1e14,  1e15,  1e16,  1e17,  1e18,
    1e19,  1e20,  1e21,  1e22,  1e23,  1e24,  1e25,  1e26,  1e27,  1e28,  1e29,  1e30,  1e31,
    1e32,  1e33,  1e34,  1e35,  1e36,  1e37,  1e38,  1e39,  1e40,  1e41,  1e42,  1e43,  1e44,
    1e45,  1e46,  1e47,  1e48,  1e49,  1e50,  1e51};
static_assert(std::size(kPow10) == 51 - kPow10Min + 1);

// 5^k for k = 0..27, the largest power of five below 2^64.
constexpr uint64_t kPow5[] = {1ull,
                              5ull,
                              25ull,
                              125ull,
                              625ull,
                              3125ull,
                              15625ull,
                              78125ull,
                              390625ull,
                              1953125ull,
                              9765625ull,
                              48828125ull,
                              244140625ull,
                              1220703125ull,
                              6103515625ull,
                              30517578125ull,
                              152587890625ull,
                              762939453125ull,
                              3814697265625ull,
                              19073486328125ull,
                              95367431640625ull,
                              476837158203125ull,
                              2384185791015625ull,
                              11920928955078125ull,
                              59604644775390625ull,
                              298023223876953125ull,
                              1490116119384765625ull,
                              7450580596923828125ull};
constexpr int kPow5Max = 27;

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// floor(e * log10(2)) for |e| < 1700, without floating point.
inline int FloorLog10Pow2(int e) {
    return (e * 78913) >> 18;
}

// Digits are laid out as bytes of machine words (first digit in the lowest byte) and
// stored whole, so the layout below needs no byte loops and no reloads.
static_assert(std::endian::native == std::endian::little, "digit words assume little endian");

inline void Store8(char* p, uint64_t v) {
    std::memcpy(p, &v, 8);
}
inline void Store16(char* p, u128 v) {
    Store8(p, static_cast<uint64_t>(v));
    Store8(p + 8, static_cast<uint64_t>(v >> 64));
}

// The 8 decimal digits of v < 10^8 as byte values 0..9, first digit in the lowest byte
// (divisions by 100 and 10 done in all lanes at once by multiply and shift).
inline uint64_t DigitBytes8(uint32_t v) {
    const uint64_t x = (v / 10000) | (static_cast<uint64_t>(v % 10000) << 32);
    const uint64_t hundreds = ((x * 10486) >> 20) & 0x0000007F0000007Full;
    const uint64_t pairs = hundreds | ((x - hundreds * 100) << 16);
    const uint64_t tens = ((pairs * 103) >> 10) & 0x000F000F000F000Full;
    return tens | ((pairs - tens * 10) << 8);
}

// Number of digit bytes up to the last non-zero one (d != 0).
inline int SignificantBytes(uint64_t d) {
    return (63 - std::countl_zero(d)) / 8 + 1;
}

constexpr uint64_t kAscii8 = 0x3030303030303030ull;

inline char* WriteExponent(char* out, int exponent) {
    *out++ = 'E';
    *out++ = exponent < 0 ? '-' : '+';
    uint32_t e = static_cast<uint32_t>(exponent < 0 ? -exponent : exponent);
    if (e >= 100) {
        *out++ = static_cast<char>('0' + e / 100);
        e %= 100;
    }
    std::memcpy(out, kDigitPairs + 2 * e, 2);
    return out + 2;
}

// `ascii` holds the `precision` digits as ASCII bytes, the first `n` significant; writes
// the "%G" layout with whole-word stores.
template <class Word>
char* LayOut(char* out, Word ascii, int n, int exponent, char separator, int precision) {
    const auto store = [](char* p, Word w) {
        if constexpr (sizeof(Word) == 8) {
            Store8(p, w);
        } else {
            Store16(p, w);
        }
    };
    const Word sep = static_cast<unsigned char>(separator);
    if (exponent < -4 || exponent >= precision) {
        // d.dddE+xx: first digit, separator, the rest (precision - 1 of them fit).
        store(out, (ascii & 0xFF) | (sep << 8) | ((ascii >> 8) << 16));
        out += n > 1 ? n + 1 : 1;
        return WriteExponent(out, exponent);
    }
    if (exponent >= 0) {
        const int whole = exponent + 1;
        if (n <= whole) {
            store(out, ascii);
            return out + whole;
        }
        // n > whole, so whole < precision and the shifts stay inside the word.
        const Word low = ascii & ((Word{1} << (8 * whole)) - 1);
        store(out, low | (sep << (8 * whole)) | ((ascii >> (8 * whole)) << (8 * (whole + 1))));
        return out + n + 1;
    }
    // 0.000ddd: "0", separator, -exponent - 1 zeros, then the digits.
    Store8(out,
           (kAscii8 & ~uint64_t{0xFF00}) | (uint64_t{static_cast<unsigned char>(separator)} << 8));
    out += 1 - exponent;
    store(out, ascii);
    return out + n;
}

// The "%G" layout of digits * 10^(exponent - P + 1), where `digits` has exactly P digits.
// May write up to kGeneralTextRoom bytes from `out`, more than the text it returns.
template <int P>
char* WriteDecimal(char* out, bool negative, uint64_t digits, int exponent, char separator) {
    // The sign of measured values is random: no branch.
    *out = '-';
    out += negative ? 1 : 0;
    if constexpr (P == 7) {
        const uint64_t d = DigitBytes8(static_cast<uint32_t>(digits)) >> 8;
        return LayOut<uint64_t>(out, d | kAscii8, SignificantBytes(d), exponent, separator, P);
    } else {
        static_assert(P == 15);
        const uint64_t high = DigitBytes8(static_cast<uint32_t>(digits / 100000000)) >> 8;
        // x axes are mostly round numbers: their last eight digits are often all zero.
        const auto lowValue = static_cast<uint32_t>(digits % 100000000);
        const uint64_t low = lowValue != 0 ? DigitBytes8(lowValue) : 0;
        const int n = low != 0 ? 7 + SignificantBytes(low) : SignificantBytes(high);
        const u128 d = high | (static_cast<u128>(low) << 56);
        const u128 ascii = d | ((static_cast<u128>(kAscii8) << 64) | kAscii8);
        return LayOut<u128>(out, ascii, n, exponent, separator, P);
    }
}

char* WriteSpecial(char* out, bool negative, bool nan) {
    if (negative) {
        *out++ = '-';
    }
    std::memcpy(out, nan ? "NAN" : "INF", 3);
    return out + 3;
}

char* WriteZero(char* out, bool negative) {
    if (negative) {
        *out++ = '-';
    }
    *out++ = '0';
    return out;
}

// Exact slow path: std::to_chars rounds correctly (ties to even, as printf does) to P
// significant digits in scientific form; its digits and exponent are laid out anew.
template <int P, class T>
char* WriteGeneralExact(char* out, T value, char separator) {
    char buf[64];
    const auto result =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, P - 1);
    const char* p = buf;
    const bool negative = *p == '-';
    if (negative) {
        ++p;
    }
    uint64_t digits = 0;
    for (; p != result.ptr && *p != 'e'; ++p) {
        if (*p >= '0' && *p <= '9') {
            digits = digits * 10 + static_cast<uint64_t>(*p - '0');
        }
    }
    int exponent = 0;
    bool negativeExponent = false;
    if (p != result.ptr) {
        ++p;  // 'e'
        negativeExponent = *p == '-';
        ++p;  // sign
        for (; p != result.ptr; ++p) {
            exponent = exponent * 10 + (*p - '0');
        }
    }
    return WriteDecimal<P>(out, negative, digits, negativeExponent ? -exponent : exponent,
                           separator);
}

}  // namespace

char* WriteGeneral(char* out, float value, char separator) {
    const uint32_t bits = std::bit_cast<uint32_t>(value);
    const bool negative = (bits >> 31) != 0;
    const uint32_t magnitude = bits & 0x7fffffffu;
    if (magnitude >= 0x7f800000u) {
        return WriteSpecial(out, negative, magnitude > 0x7f800000u);
    }
    if (magnitude == 0) {
        return WriteZero(out, negative);
    }
    // |value| as a double is exact and always normal, so its exponent field gives
    // floor(log2 |value|) even for subnormal floats.
    const double a = static_cast<double>(std::bit_cast<float>(magnitude));
    const int binaryExponent = static_cast<int>((std::bit_cast<uint64_t>(a) >> 52) & 0x7ff) - 1023;
    // The decimal exponent is this or one more.
    int exponent = FloorLog10Pow2(binaryExponent);
    // q = a * 10^(6 - exponent) in [10^6, 10^8). The power of ten and the product are each
    // rounded once, so q is off by less than 2^-52 relative: below 2^-28 absolute for
    // q < 2^24. Rounding q to an integer is therefore certain unless q lies within that
    // distance of a half-integer; those few go the exact way.
    // Both candidate scalings are computed side by side, so only one multiplication lies
    // on the dependency chain.
    const double q0 = a * kPow10[6 - exponent - kPow10Min];
    const double q1 = a * kPow10[5 - exponent - kPow10Min];
    // Either the exponent is one more, or q0 rounds up to 10^7 anyway: both give the same
    // digits and exponent once the carry below is applied. Without a branch: which way
    // it goes is random for measured values.
    const bool larger = q0 >= 9999999.75;
    exponent += larger ? 1 : 0;
    const double q = larger ? q1 : q0;
    const double fraction = q - static_cast<uint32_t>(q);
    if (std::fabs(fraction - 0.5) < 0x1p-24) {
        return WriteGeneralExact<7>(out, value, separator);
    }
    // Away from a tie, q + 0.5 truncated is q rounded: the addition errs by at most
    // 2^-30 (q < 2^24), which could move it across an integer only within the tie zone
    // handled above. Computed from q directly, the digits do not wait for the tie test.
    uint32_t digits = static_cast<uint32_t>(q + 0.5);
    if (digits >= 10000000) {
        digits = 1000000;
        ++exponent;
    }
    return WriteDecimal<7>(out, negative, digits, exponent, separator);
}

char* WriteGeneral(char* out, double value, char separator) {
    const uint64_t bits = std::bit_cast<uint64_t>(value);
    const bool negative = (bits >> 63) != 0;
    const int biased = static_cast<int>((bits >> 52) & 0x7ff);
    const uint64_t fractionBits = bits & ((uint64_t{1} << 52) - 1);
    if (biased == 0x7ff) {
        return WriteSpecial(out, negative, fractionBits != 0);
    }
    if ((bits << 1) == 0) {
        return WriteZero(out, negative);
    }
    if (biased == 0) {
        return WriteGeneralExact<15>(out, value, separator);
    }
    // value = m * 2^e exactly. For decimal exponents -13..14 the scaled value
    // q = m * 5^k * 2^(e + k) with k = 14 - exponent is computed exactly in 128 bits:
    // its integer part and the remainder decide the rounding without any error.
    const uint64_t m = fractionBits | (uint64_t{1} << 52);
    const int e = biased - 1075;
    int exponent = FloorLog10Pow2(biased - 1023);
    int k = 14 - exponent;
    uint64_t whole = 0;
    bool up = false;
    for (;;) {
        if (k < 0 || k > kPow5Max) {
            return WriteGeneralExact<15>(out, value, separator);
        }
        const u128 n = static_cast<u128>(m) * kPow5[k];
        const int shift = e + k;
        if (shift >= 0) {
            // q < 10^16 here, so the shift cannot overflow.
            whole = static_cast<uint64_t>(n << shift);
            up = false;
        } else {
            const int s = -shift;  // at most 96 in this exponent range
            // q with one more binary place (< 2^55): its last bit is the first one dropped.
            const uint64_t twice = static_cast<uint64_t>(n >> (s - 1));
            whole = twice >> 1;
            // Half to even: the first dropped bit, and any further dropped one (what the
            // shift back fails to restore) or an odd last digit.
            const bool beyondHalf = (static_cast<u128>(twice) << (s - 1)) != n;
            up = (twice & 1) != 0 && (beyondHalf || (whole & 1) != 0);
        }
        if (whole < 1000000000000000ull) {
            break;
        }
        ++exponent;
        --k;
    }
    uint64_t digits = whole + (up ? 1 : 0);
    if (digits >= 1000000000000000ull) {
        digits = 100000000000000ull;
        ++exponent;
    }
    return WriteDecimal<15>(out, negative, digits, exponent, separator);
}

std::string FormatGeneral(float value, char separator) {
    char buf[kGeneralTextRoom];
    return std::string(buf, WriteGeneral(buf, value, separator));
}

std::string FormatGeneral(double value, char separator) {
    char buf[kGeneralTextRoom];
    return std::string(buf, WriteGeneral(buf, value, separator));
}

}  // namespace benchcap::trace
