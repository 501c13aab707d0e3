#include <gtest/gtest.h>

#include <cmath>

#include "bus/number.h"

namespace benchcap::bus {
namespace {

TEST(ParseNumber, ReadsTheLeadingDecimalNumber) {
    EXPECT_DOUBLE_EQ(ParseNumber("  1.70\n"), 1.70);
    EXPECT_DOUBLE_EQ(ParseNumber("-80.5dBm"), -80.5);
    EXPECT_DOUBLE_EQ(ParseNumber("1.5E+09"), 1.5e9);
    EXPECT_DOUBLE_EQ(ParseNumber("2D-3"), 2e-3);
    EXPECT_DOUBLE_EQ(ParseNumber(".5"), 0.5);
    EXPECT_DOUBLE_EQ(ParseNumber("+7"), 7.0);
    // An exponent mark without digits ends the number before it.
    EXPECT_DOUBLE_EQ(ParseNumber("12E"), 12.0);
    EXPECT_DOUBLE_EQ(ParseNumber("12E+x"), 12.0);
}

TEST(ParseNumber, TextWithoutANumberGivesZero) {
    EXPECT_EQ(ParseNumber(""), 0.0);
    EXPECT_EQ(ParseNumber("ON"), 0.0);
    EXPECT_EQ(ParseNumber("-"), 0.0);
    EXPECT_EQ(ParseNumber("."), 0.0);
    EXPECT_EQ(ParseNumber("\n1"), 0.0);  // only blanks are skipped
}

TEST(ParseNumber, HugeExponentsDoNotFail) {
    EXPECT_TRUE(std::isinf(ParseNumber("1E999999")));
    EXPECT_EQ(ParseNumber("1E-999999"), 0.0);
}

TEST(RoundHalfEven, TiesGoToTheEvenNumber) {
    EXPECT_EQ(RoundHalfEven(1.5), 2.0);
    EXPECT_EQ(RoundHalfEven(2.5), 2.0);
    EXPECT_EQ(RoundHalfEven(3.5), 4.0);
    EXPECT_EQ(RoundHalfEven(-2.5), -2.0);
    EXPECT_EQ(RoundHalfEven(4.7), 5.0);
}

TEST(ParseInt16, ClampsAndReportsOverflow) {
    bool overflow = false;
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
