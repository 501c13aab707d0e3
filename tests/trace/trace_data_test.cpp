#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "trace/trace_data.h"

namespace benchcap::trace {
namespace {

TEST(DecodeReal32, TakesLeastSignificantByteFirstAndDropsATrailingPart) {
    const std::vector<uint8_t> bytes = {0x00, 0x00, 0xA1, 0xC2,  // -80.5
                                        0x00, 0x00, 0x7A, 0x43,  // 250
                                        0x00, 0x00, 0x80};       // part of a float
    EXPECT_EQ(DecodeReal32(bytes), (std::vector<float>{-80.5f, 250.0f}));
    EXPECT_TRUE(DecodeReal32(std::vector<uint8_t>{1, 2, 3}).empty());
}

// The x values as they were once stored, one array per trace: the computed axis must give
// every one of them to the bit, or the trace text would change.
std::vector<double> StoredAxis(std::size_t count, double centre, double span, double sweepTime,
                               int32_t pointsPerSymbol) {
    std::vector<double> axis(count);
    const double n = count > 1 ? static_cast<double>(count - 1) : 1.0;
    if (span != 0) {
        const double start = centre - span / 2;
        for (std::size_t i = 0; i < count; ++i) {
            axis[i] = (static_cast<double>(i) / n) * span + start;
        }
    } else if (sweepTime != 0) {
        for (std::size_t i = 0; i < count; ++i) {
            axis[i] = (static_cast<double>(i) / n) * sweepTime;
        }
    } else {
        const double p = pointsPerSymbol > 0 ? static_cast<double>(pointsPerSymbol) : 1.0;
        for (std::size_t i = 0; i < count; ++i) {
            axis[i] = static_cast<double>(i) / p;
        }
    }
    return axis;
}

TEST(AnalyzerAxis, ComputedValuesAreTheStoredOnesBitForBit) {
    // Centre, span, sweep time and points per symbol: frequency axes whatever the sweep time
    // (a span far below the centre's precision, a negative start, a span reported
    // negative), time axes (a negative sweep time: -0 at the start), symbol axes.
    std::istringstream rows(
        "1e9 1e8 0.02 0  1e9 1e7 0 0  2.4e9 83.5e6 0 0  433.92e6 0.1 0 0  1e-3 3e-7 0 0  "
        "0 1e9 0 0  5e9 -2e6 0 0  0.3333333333333333 0.14285714285714285 0 3  1e300 1e300 0 0  "
        "1e9 inf 0 0  1e9 nan 0 0  0 0 0.02 0  1e9 0 0.3333333333333333 7  0 0 123.456 0  "
        "0 0 -0.5 0  0 0 1e-9 0  0 0 nan 0  0 0 0 4  0 0 0 3  0 0 0 7  0 0 0 1  0 0 0 0  "
        "0 0 0 -5  0 0 0 2147483647");
    struct Settings {
        double centre, span, sweepTime;
        int32_t pointsPerSymbol;
    };
    std::vector<Settings> settings;
    for (std::string c, s, t, p; rows >> c >> s >> t >> p;)
        settings.push_back({std::strtod(c.c_str(), nullptr), std::strtod(s.c_str(), nullptr),
                            std::strtod(t.c_str(), nullptr), std::stoi(p)});
    ASSERT_EQ(settings.size(), 24u);
    const std::size_t counts[] = {0, 1, 2, 3, 7, 401, 501, 1001, 8192, 32769, 1000001};
    for (const Settings& s : settings) {
        for (const std::size_t count : counts) {
            SCOPED_TRACE(testing::Message() << count << " values, centre " << s.centre << ", span "
                                            << s.span << ", sweep " << s.sweepTime
                                            << ", points per symbol " << s.pointsPerSymbol);
            const AnalyzerAxis axis =
                AnalyzerAxis::Of(count, s.centre, s.span, s.sweepTime, s.pointsPerSymbol);
            const std::vector<double> stored =
                StoredAxis(count, s.centre, s.span, s.sweepTime, s.pointsPerSymbol);
            ASSERT_EQ(axis.count, stored.size());
            std::size_t differing = 0;
            std::size_t first = 0;
            for (std::size_t i = 0; i < count; ++i) {
                if (std::bit_cast<uint64_t>(axis.at(i)) != std::bit_cast<uint64_t>(stored[i])) {
                    first = differing++ == 0 ? i : first;
                }
            }
            EXPECT_EQ(differing, 0u) << "first at index " << first;
        }
    }
}

}  // namespace
}  // namespace benchcap::trace
