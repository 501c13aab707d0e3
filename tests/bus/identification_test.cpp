#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "bus/identification.h"
#include "bus/testing/scripted_user_interface.h"

namespace benchcap::bus {
namespace {

// An identification reply as the session returns it: the answer, then NULs to 1000.
std::string reply(const std::string& answer) {
    std::string r = answer;
    r.resize(std::max(answer.size(), kReplyLength), '\0');
    return r;
}

TEST(IdentifyAnswer, EveryRowOfTheModelTableIsFound) {
    for (const ModelRow& row : modelTable()) {
        const Identification id =
            IdentifyAnswer(reply(std::string("VTK,") + row.prefix + "99,1,1.5\n"));
        EXPECT_EQ(id.modelName, row.modelName) << row.prefix;
        ASSERT_NE(id.model, nullptr);
        EXPECT_EQ(id.model->fullSupport, row.fullSupport);
    }
}

TEST(IdentifyAnswer, TableOrderAndCaseDecide) {
    EXPECT_EQ(IdentifyAnswer(reply("Veltronik,KLVZ26,1,2.10\n")).modelName, "KLVZ");
    EXPECT_EQ(IdentifyAnswer(reply("Veltronik,KLV,1,2.10\n")).modelName, "KLVZ");
    EXPECT_EQ(IdentifyAnswer(reply("Veltronik,NQL8,1,2.10\n")).modelName, "NQx");
    EXPECT_EQ(IdentifyAnswer(reply("Veltronik,PBE2,1,2.10\n")).modelName, "C.N.S.");
    EXPECT_EQ(IdentifyAnswer(reply("Veltronik,klvz26,1,2.10\n")).modelName, "unknown");
    // The maker field is not looked at.
    EXPECT_EQ(IdentifyAnswer(reply("anyone,KLT-3,1,1.70\n")).modelName, "KLT");
}

TEST(IdentifyAnswer, OddAnswers) {
    EXPECT_EQ(IdentifyAnswer(reply("")).modelName, "TMO");
    EXPECT_EQ(IdentifyAnswer("").modelName, "TMO");                   // guards kept it off the bus
    EXPECT_EQ(IdentifyAnswer(reply("Veltronik,")).modelName, "TMO");  // NUL right after the comma
    // No comma: the whole answer is the model field.
    EXPECT_EQ(IdentifyAnswer(reply("KLT\n")).modelName, "KLT");
    EXPECT_EQ(IdentifyAnswer(reply("Hello\n")).modelName, "unknown");
    // Ends with its first comma and a line feed: the line feed matches no row.
    EXPECT_EQ(IdentifyAnswer(reply("Veltronik,\n")).modelName, "unknown");
    // Blanks around the model field are dropped.
    EXPECT_EQ(IdentifyAnswer(reply("Veltronik,   KLW4,1,2\n")).modelName, "KLW");
    // Longer than the reply buffer, binary bytes: no failure.
    const Identification big = IdentifyAnswer(std::string(5000, '\xff') + ",KLB,1,2\n");
    EXPECT_EQ(big.modelName, "KLB");
}

TEST(ParseFirmware, ReadsTheThirdField) {
    EXPECT_DOUBLE_EQ(ParseFirmware(reply("KLT-3,100871/012,1.70\n")), 1.7);
    EXPECT_DOUBLE_EQ(ParseFirmware(reply("KLT-3,1,2.31SP2\n")), 2.31);
    EXPECT_DOUBLE_EQ(ParseFirmware(reply("KLRx,1,3.10\n")), 3.1);
    EXPECT_DOUBLE_EQ(ParseFirmware("KLT,1,1.7a\n"), 1.7);   // odd last character kept, then ignored
    EXPECT_DOUBLE_EQ(ParseFirmware("KLT,1,1.2.3\n"), 1.2);  // a second point ends the number
    EXPECT_DOUBLE_EQ(ParseFirmware("KLT,1,1,5\n"), 1.0);    // a comma ends the number
    EXPECT_DOUBLE_EQ(ParseFirmware("KLT,1,v1.5\n"), 0.0);   // no digit first
}

TEST(ParseFirmware, NeverFailsOnMissingOrEmptyFields) {
    EXPECT_DOUBLE_EQ(ParseFirmware("KLT,1,2.5"), 2.5);         // no line feed
    EXPECT_DOUBLE_EQ(ParseFirmware(reply("KLT,1,2.5")), 2.5);  // no line feed, NUL filling
    EXPECT_DOUBLE_EQ(ParseFirmware(reply("KLT,1,\n")), 0.0);   // empty field
    EXPECT_DOUBLE_EQ(ParseFirmware("KLT"), 0.0);
    EXPECT_DOUBLE_EQ(ParseFirmware(""), 0.0);
    EXPECT_TRUE(ParseFirmware("KLT,1," + std::string(400, '9')) > 1e300);
}

struct FirmwareCase {
    const char* model;
    double version;
    bool passes;
    const char* driveAfter;  // drive letter afterwards, starting from "X"
};

TEST(CheckFirmware, MinimumsAndDrives) {
    const FirmwareCase cases[] = {
        {"KLVZ", 2.10, true, "C"}, {"KLVZ", 1.9, true, "C"},  {"KLVZ", 1.89, false, "C"},
        {"KLT", 0.0, true, "D"},   {"KLRx", 3.1, true, "D"},  {"KLRx", 2.0, true, "C"},
        {"KLRx", 1.65, true, "C"}, {"KLRx", 4.7, true, "X"},  {"KLRx", 1.6, false, "C"},
        {"KLRx", 1.4, false, "D"}, {"KLW", 0.5, true, "D"},   {"RVFE", 1, true, "D"},
        {"GWPZ", 5.10, true, "X"}, {"GWPZ", 5.0, false, "X"}, {"NQx", 0.1, true, "C"},
        {"PBH", 0, true, "C"},
    };
    for (const auto& c : cases) {
        CurrentInstrument ci;
        ci.ModelName = c.model;
        ci.FirmwareVersion = c.version;
        std::string drive = "X";
        bus::testing::ScriptedUserInterface ui;
        EXPECT_EQ(CheckFirmware(ci, drive, ui), c.passes) << c.model << " " << c.version;
        EXPECT_EQ(drive, c.driveAfter) << c.model << " " << c.version;
        EXPECT_EQ(ui.boxes().size(), c.passes ? 0u : 1u);
    }
}

TEST(CheckFirmware, MessageNamesBothVersionsWithTwoDecimals) {
    CurrentInstrument ci;
    ci.ModelName = "KLRx";
    ci.FirmwareVersion = 1.6;
    std::string drive;
    bus::testing::ScriptedUserInterface ui;
    EXPECT_FALSE(CheckFirmware(ci, drive, ui));
    ASSERT_EQ(ui.boxes().size(), 1u);
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

}  // namespace
}  // namespace benchcap::bus
