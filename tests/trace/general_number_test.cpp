#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include "trace/general_number.h"

namespace benchcap::trace {
namespace {

// What C gives for the same value (the C locale writes '.').
std::string Printf(float v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.7G", static_cast<double>(v));
    return buf;
}
std::string Printf(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15G", v);
    return buf;
}

// Counts mismatches and reports the first few, so a broken path shows its values.
template <class T>
class Comparer {
  public:
    void operator()(T v) {
        const std::string expected = Printf(v);
        const std::string actual = FormatGeneral(v);
        if (expected != actual && ++failures_ <= 10) {
            ADD_FAILURE() << std::hexfloat << static_cast<double>(v) << ": printf " << expected
                          << ", ours " << actual;
        }
        ++checked_;
    }
    long failures() const { return failures_; }
    long checked() const { return checked_; }

  private:
    long failures_ = 0;
    long checked_ = 0;
};

TEST(GeneralNumber, TraceTextExamples) {
    EXPECT_EQ(FormatGeneral(250.0), "250");
    EXPECT_EQ(FormatGeneral(-80.5f), "-80.5");
    EXPECT_EQ(FormatGeneral(2e-5), "2E-05");
    EXPECT_EQ(FormatGeneral(1.5e9f), "1.5E+09");  // a network-analyzer frequency is 32-bit
    EXPECT_EQ(FormatGeneral(1.5e9), "1500000000");
    EXPECT_EQ(FormatGeneral(1.5e20), "1.5E+20");
    EXPECT_EQ(FormatGeneral(4e-5f), "4E-05");
    EXPECT_EQ(FormatGeneral(-80.5f, ','), "-80,5");
    EXPECT_EQ(FormatGeneral(1.5e9f, ','), "1,5E+09");
    EXPECT_EQ(FormatGeneral(0.0001, ','), "0,0001");
    EXPECT_EQ(FormatGeneral(1e300), "1E+300");
    EXPECT_EQ(FormatGeneral(-1.25e-300), "-1.25E-300");
}

TEST(GeneralNumber, SpecialValuesAsPrintfWritesThem) {
    EXPECT_EQ(FormatGeneral(0.0f), "0");
    EXPECT_EQ(FormatGeneral(-0.0f), "-0");
    EXPECT_EQ(FormatGeneral(-0.0), "-0");
    EXPECT_EQ(FormatGeneral(std::numeric_limits<float>::infinity()), "INF");
    EXPECT_EQ(FormatGeneral(-std::numeric_limits<double>::infinity()), "-INF");
    EXPECT_EQ(FormatGeneral(std::numeric_limits<float>::quiet_NaN()), "NAN");
    EXPECT_EQ(FormatGeneral(-std::numeric_limits<double>::quiet_NaN()),
              Printf(-std::numeric_limits<double>::quiet_NaN()));
}

TEST(GeneralNumber, RoundingAndExponentEdgesMatchPrintf) {
    Comparer<float> f;
    for (float v : {9.9999995f, 999999.95f, 9999999.5f, 0.0001f, 9.99999e-5f, 9.999999e-5f, 1e-5f,
                    1e7f, 9999999.0f, 1048576.5f, 1048577.5f, 8388607.5f, 0.5f, 1.0f, 3.4028235e38f,
                    1.1754944e-38f, 1e-45f, 1.17549421e-38f}) {
        f(v);
        f(-v);
    }
    Comparer<double> d;
    for (double v : {999999999999999.5, 99999999999999.95, 100000000000000.5, 100000000000001.5,
                     1e15, 1e14, 0.0001, 9.999999999999995e-5, 1e-5, 5e-324,
                     2.2250738585072014e-308, 1.7976931348623157e308, 0.1, 1.0 / 3}) {
        d(v);
        d(-v);
    }
    // Each side of every power of ten a float or double can be near.
    for (int x = -46; x <= 39; ++x) {
        float v = std::pow(10.0f, static_cast<float>(x));
        for (int i = 0; i < 4; ++i) {
            v = std::nextafter(v, 0.0f);
        }
        for (int i = 0; i < 8; ++i, v = std::nextafter(v, std::numeric_limits<float>::max())) {
            f(v);
        }
    }
    for (int x = -324; x <= 308; ++x) {
        double v = std::strtod(("1e" + std::to_string(x)).c_str(), nullptr);
        for (int i = 0; i < 4; ++i) {
            v = std::nextafter(v, 0.0);
        }
        for (int i = 0; i < 8; ++i, v = std::nextafter(v, std::numeric_limits<double>::max())) {
            d(v);
        }
    }
    // Values that lie on or next to a rounding tie at the 7th / 15th digit.
    for (uint32_t m = 1000000; m < 10000000; m += 99991) {
        for (int x = -12; x <= 12; ++x) {
            const double tie = (m + 0.5) * std::pow(10.0, x);
            float v = static_cast<float>(tie);
            f(std::nextafter(v, 0.0f));
            f(v);
            f(std::nextafter(v, 1e38f));
            d(tie);
            d(std::nextafter(tie, 0.0));
            d(std::nextafter(tie, 1e300));
        }
    }
    EXPECT_EQ(f.failures(), 0);
    EXPECT_EQ(d.failures(), 0);
}

TEST(GeneralNumber, MillionsOfRandomFloatsMatchPrintf) {
    std::mt19937_64 rng(20240611);
    Comparer<float> all;
    for (int i = 0; i < 2000000; ++i) {
        all(std::bit_cast<float>(static_cast<uint32_t>(rng())));
    }
    // Trace-like magnitudes: levels in dBm, linear values, frequencies.
    std::uniform_real_distribution<double> level(-200.0, 50.0);
    std::uniform_real_distribution<double> decades(-12.0, 12.0);
    for (int i = 0; i < 1000000; ++i) {
        all(static_cast<float>(level(rng)));
        all(static_cast<float>(std::pow(10.0, decades(rng))));
    }
    EXPECT_EQ(all.failures(), 0) << "of " << all.checked();
}

TEST(GeneralNumber, MillionsOfRandomDoublesMatchPrintf) {
    std::mt19937_64 rng(7);
    Comparer<double> all;
    for (int i = 0; i < 1000000; ++i) {
        all(std::bit_cast<double>(rng()));
    }
    // The fast range: frequencies, times, symbol positions.
    std::uniform_real_distribution<double> decades(-14.0, 15.0);
    std::uniform_real_distribution<double> frequency(9e3, 3e10);
    for (int i = 0; i < 1000000; ++i) {
        all(std::pow(10.0, decades(rng)));
        all(-frequency(rng));
    }
    // An axis built as the acquisition builds it: many neighbouring round values.
    const double start = 1e9 - 5e6;
    for (int i = 0; i <= 100000; ++i) {
        all((static_cast<double>(i) / 100000) * 1e7 + start);
    }
    EXPECT_EQ(all.failures(), 0) << "of " << all.checked();
}

}  // namespace
}  // namespace benchcap::trace
