#include "trace/general_number.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <type_traits>

namespace benchcap::trace {
namespace {

// Compares our text with C's "%.7G" (float) or "%.15G" (double) in the C locale; counts
// mismatches and reports the first few, so a broken path shows its values.
struct Comparer {
    template <class T>
    void operator()(T v) {
        char c[64];
        std::snprintf(c, sizeof c, "%.*G", std::is_same_v<T, float> ? 7 : 15,
                      static_cast<double>(v));
        const std::string ours = FormatGeneral(v);
        if (ours != c && ++failures <= 10)
            ADD_FAILURE() << std::hexfloat << static_cast<double>(v) << ": printf " << c
                          << ", ours " << ours;
        ++checked;
    }
    long failures = 0;
    long checked = 0;
};

TEST(GeneralNumber, TraceTextExamplesAndTheDecimalComma) {
    EXPECT_EQ(FormatGeneral(250.0), "250");
    EXPECT_EQ(FormatGeneral(1.5e9f), "1.5E+09");  // a network-analyzer frequency is 32-bit
    EXPECT_EQ(FormatGeneral(1.5e9), "1500000000");
    EXPECT_EQ(FormatGeneral(-std::numeric_limits<float>::infinity()), "-INF");
    EXPECT_EQ(FormatGeneral(std::numeric_limits<double>::quiet_NaN()), "NAN");
    EXPECT_EQ(FormatGeneral(-80.5f, ','), "-80,5");
    EXPECT_EQ(FormatGeneral(1.5e9f, ','), "1,5E+09");
    EXPECT_EQ(FormatGeneral(0.0001, ','), "0,0001");
}

TEST(GeneralNumber, SpecialValuesRoundingAndExponentEdgesMatchPrintf) {
    Comparer cmp;
    // Written as text, read with strtof / strtod: each value and its negative, as float
    // and as double.
    std::istringstream values(
        "0 inf nan -80.5 2e-5 4e-5 9.9999995 999999.95 9999999.5 0.0001 9.99999e-5 9.999999e-5 "
        "1e-5 1e7 9999999.0 1048576.5 1048577.5 8388607.5 0.5 1.0 3.4028235e38 1.1754944e-38 "
        "1e-45 1.17549421e-38 1.5e20 1e300 1.25e-300 999999999999999.5 99999999999999.95 "
        "100000000000000.5 100000000000001.5 1e15 1e14 9.999999999999995e-5 5e-324 "
        "2.2250738585072014e-308 1.7976931348623157e308 0.1 0.3333333333333333");
    for (std::string text; values >> text;) {
        for (const std::string& signed_ : {text, "-" + text}) {
            cmp(std::strtof(signed_.c_str(), nullptr));
            cmp(std::strtod(signed_.c_str(), nullptr));
        }
    }
    // Each side of every power of ten a float or double can be near.
    for (int x = -46; x <= 39; ++x) {
        float v = std::pow(10.0f, static_cast<float>(x));
        for (int i = 0; i < 4; ++i)
            v = std::nextafter(v, 0.0f);
        for (int i = 0; i < 8; ++i, v = std::nextafter(v, std::numeric_limits<float>::max()))
            cmp(v);
    }
    for (int x = -324; x <= 308; ++x) {
        double v = std::strtod(("1e" + std::to_string(x)).c_str(), nullptr);
        for (int i = 0; i < 4; ++i)
            v = std::nextafter(v, 0.0);
        for (int i = 0; i < 8; ++i, v = std::nextafter(v, std::numeric_limits<double>::max()))
            cmp(v);
    }
    // Values that lie on or next to a rounding tie at the 7th / 15th digit.
    for (uint32_t m = 1000000; m < 10000000; m += 99991) {
        for (int x = -12; x <= 12; ++x) {
            const double tie = (m + 0.5) * std::pow(10.0, x);
            const float v = static_cast<float>(tie);
            for (float f : {std::nextafter(v, 0.0f), v, std::nextafter(v, 1e38f)})
                cmp(f);
            for (double d : {tie, std::nextafter(tie, 0.0), std::nextafter(tie, 1e300)})
                cmp(d);
        }
    }
    EXPECT_EQ(cmp.failures, 0);
}

TEST(GeneralNumber, MillionsOfRandomBitPatternsMatchPrintf) {
    std::mt19937_64 rng(20240611);
    Comparer cmp;
    for (int i = 0; i < 2000000; ++i)
        cmp(std::bit_cast<float>(static_cast<uint32_t>(rng())));
    for (int i = 0; i < 1000000; ++i)
        cmp(std::bit_cast<double>(rng()));
    EXPECT_EQ(cmp.failures, 0) << "of " << cmp.checked;
}

}  // namespace
}  // namespace benchcap::trace
