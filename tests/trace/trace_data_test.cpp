#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "trace/trace_data.h"

namespace benchcap::trace {
namespace {

std::vector<uint8_t> LittleEndian(const std::vector<float>& values) {
    std::vector<uint8_t> bytes;
    for (float v : values) {
        uint32_t u;
        std::memcpy(&u, &v, 4);
        for (int i = 0; i < 4; ++i) {
            bytes.push_back(static_cast<uint8_t>(u >> (8 * i)));
        }
    }
    return bytes;
}

TEST(DecodeReal32, TakesLeastSignificantByteFirst) {
    const std::vector<uint8_t> bytes = {0x00, 0x00, 0xA1, 0xC2,   // -80.5
                                        0x00, 0x00, 0x7A, 0x43};  // 250
    EXPECT_EQ(DecodeReal32(bytes), (std::vector<float>{-80.5f, 250.0f}));
}

TEST(DecodeReal32, BlockOf2004BytesGives501Values) {
    std::vector<float> values(501);
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = -100.0f + 0.25f * static_cast<float>(i);
    }
    EXPECT_EQ(DecodeReal32(LittleEndian(values)), values);
}

TEST(DecodeReal32, TrailingPartOfAFloatIsDropped) {
    std::vector<uint8_t> bytes = LittleEndian({1.0f, 2.0f});
    bytes.push_back(0x3F);
    EXPECT_EQ(DecodeReal32(bytes), (std::vector<float>{1.0f, 2.0f}));
    EXPECT_TRUE(DecodeReal32(std::vector<uint8_t>{1, 2, 3}).empty());
}

TEST(BuildAnalyzerAxis, FrequencyAxisRunsOverTheSpan) {
    const std::vector<double> axis = BuildAnalyzerAxis(501, 1e9, 1e7, 0.02, 0);
    ASSERT_EQ(axis.size(), 501u);
    EXPECT_EQ(axis.front(), 1e9 - 5e6);
    EXPECT_EQ(axis.back(), 1e9 + 5e6);
    EXPECT_DOUBLE_EQ(axis[250], 1e9);
}

TEST(BuildAnalyzerAxis, ZeroSpanGivesTimeAxisOverTheSweep) {
    const std::vector<double> axis = BuildAnalyzerAxis(501, 1e9, 0, 0.02, 0);
    EXPECT_EQ(axis.front(), 0.0);
    EXPECT_EQ(axis.back(), 0.02);
    EXPECT_DOUBLE_EQ(axis[1], 0.02 / 500);
}

TEST(BuildAnalyzerAxis, SymbolAxisCountsSymbols) {
    const std::vector<double> axis = BuildAnalyzerAxis(400, 0, 0, 0, 4);
    EXPECT_EQ(axis[0], 0.0);
    EXPECT_EQ(axis[5], 1.25);
    EXPECT_EQ(axis[399], 99.75);
}

TEST(BuildAnalyzerAxis, DegenerateAxesStayFinite) {
    // One value: no division by zero, the point sits at the start.
    EXPECT_EQ(BuildAnalyzerAxis(1, 1e9, 1e6, 0, 0), std::vector<double>{1e9 - 5e5});
    EXPECT_EQ(BuildAnalyzerAxis(1, 0, 0, 0.5, 0), std::vector<double>{0.0});
    // No span, no sweep time and no points per symbol: the index.
    EXPECT_EQ(BuildAnalyzerAxis(3, 0, 0, 0, 0), (std::vector<double>{0, 1, 2}));
    EXPECT_TRUE(BuildAnalyzerAxis(0, 1e9, 1e6, 0, 0).empty());
}

}  // namespace
}  // namespace benchcap::trace
