#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "bus/identification.h"
#include "bus/number.h"
#include "support/golden.h"
#include "support/scripted_user_interface.h"

namespace benchcap::bus {
namespace {

// An identification reply as the session returns it: the answer, then NULs to 1000.
std::string reply(const std::string& answer) {
    std::string r = answer;
    r.resize(std::max(answer.size(), kReplyLength), '\0');
    return r;
}

// "model ANSWER" / "firmware ANSWER": the model and the firmware version read from an
// identification answer as the session returns it (NULs to 1000); "-raw" without them.
// "number TEXT": the leading decimal number of an instrument's answer.
std::string answer(const std::string& input) {
    const size_t space = input.find(' ');
    const std::string kind = input.substr(0, space);
    const std::string text =
        kind.ends_with("-raw") ? input.substr(space + 1) : reply(input.substr(space + 1));
    char number[32];
    if (kind.starts_with("model")) {
        const Identification id = IdentifyAnswer(text);
        return id.modelName +
               (!id.model               ? ""
                : id.model->fullSupport ? " full"
                                        : " partial") +
               "\n";
    }
    std::snprintf(
        number, sizeof number, "%.15g\n",
        kind.starts_with("firmware") ? ParseFirmware(text) : ParseNumber(input.substr(space + 1)));
    return number;
}

TEST(IdentifyAnswer, ModelsFirmwareAndNumbers) {
    test::checkGolden("golden/bus-answers.txt", answer);
    // Longer than the buffer and binary.
    EXPECT_EQ(IdentifyAnswer(std::string(5000, '\xff') + ",KLB,1,2\n").modelName, "KLB");
    EXPECT_GT(ParseFirmware("KLT,1," + std::string(400, '9')), 1e300);
}

TEST(CheckFirmware, MinimumsDrivesAndMessage) {
    struct Case {
        const char* model;
        double version;
        bool passes;
        const char* driveAfter;  // drive letter afterwards, starting from "X"
    } cases[] = {
        {"KLVZ", 2.10, true, "C"}, {"KLVZ", 1.9, true, "C"},  {"KLVZ", 1.89, false, "C"},
        {"KLT", 0.0, true, "D"},   {"KLRx", 3.1, true, "D"},  {"KLRx", 2.0, true, "C"},
        {"KLRx", 1.65, true, "C"}, {"KLRx", 4.7, true, "X"},  {"KLRx", 1.6, false, "C"},
        {"KLRx", 1.4, false, "D"}, {"KLW", 0.5, true, "D"},   {"RVFE", 1, true, "D"},
        {"GWPZ", 5.10, true, "X"}, {"GWPZ", 5.0, false, "X"}, {"NQx", 0.1, true, "C"},
        {"PBH", 0, true, "C"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.model) + " " + std::to_string(c.version));
        CurrentInstrument ci;
        ci.ModelName = c.model;
        ci.FirmwareVersion = c.version;
        std::string drive = "X";
        testing::ScriptedUserInterface ui;
        EXPECT_EQ(CheckFirmware(ci, drive, ui), c.passes);
        EXPECT_EQ(drive, c.driveAfter);
        ASSERT_EQ(ui.boxes().size(), c.passes ? 0u : 1u);
        if (std::string(c.model) == "KLRx" && c.version == 1.6) {
            EXPECT_EQ(ui.boxes()[0].icon, MessageIcon::Critical);
            EXPECT_EQ(ui.boxes()[0].title, "HARDCOPY NOT AVAILABLE!");
            EXPECT_EQ(ui.boxes()[0].text,
                      "You need firmware version 1.65 to read out hardcopies over IEEE-bus.\n"
                      "You have firmware version 1.60");
            EXPECT_FALSE(CheckFirmware(ci, drive, ui, ','));
            EXPECT_EQ(ui.boxes()[1].text,
                      "You need firmware version 1,65 to read out hardcopies over IEEE-bus.\n"
                      "You have firmware version 1,60");
        }
    }
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
