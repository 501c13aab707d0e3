#include <gtest/gtest.h>

#include <cmath>

#include "bus/number.h"

namespace benchcap::bus {
namespace {

TEST(ParseNumber, ReadsTheLeadingDecimalNumber) {
    const std::pair<const char*, double> cases[] = {
        {"  1.70\n", 1.70},
        {"-80.5dBm", -80.5},
        {"1.5E+09", 1.5e9},
        {"2D-3", 2e-3},
        {".5", 0.5},
        {"+7", 7.0},
        // An exponent mark without digits ends the number before it.
        {"12E", 12.0},
        {"12E+x", 12.0},
        // No number: zero. Only blanks are skipped.
        {"", 0.0},
        {"ON", 0.0},
        {"-", 0.0},
        {".", 0.0},
        {"\n1", 0.0},
        {"1E-999999", 0.0},
    };
    for (const auto& [text, value] : cases)
        EXPECT_DOUBLE_EQ(ParseNumber(text), value) << text;
    EXPECT_TRUE(std::isinf(ParseNumber("1E999999")));
}

TEST(ParseNumber, RoundingAndSixteenBits) {
    for (const auto& [x, rounded] : std::vector<std::pair<double, double>>{
             {1.5, 2.0}, {2.5, 2.0}, {3.5, 4.0}, {-2.5, -2.0}, {4.7, 5.0}})
        EXPECT_EQ(RoundHalfEven(x), rounded) << x;
    bool overflow = true;
    EXPECT_EQ(ParseInt16("2", &overflow), 2);
    EXPECT_FALSE(overflow);
    EXPECT_EQ(ParseInt16("40000", &overflow), 32767);
    EXPECT_TRUE(overflow);
    EXPECT_EQ(ParseInt16("-40000", &overflow), -32768);
    EXPECT_TRUE(overflow);
    EXPECT_EQ(ParseInt16("", &overflow), 0);
    EXPECT_FALSE(overflow);
}

}  // namespace
}  // namespace benchcap::bus
