#include <gtest/gtest.h>

#include <cmath>

#include "bus/number.h"

namespace benchcap::bus {
namespace {

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
