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

TEST(IdentifyAnswer, ModelFieldAgainstTheTable) {
    const std::pair<std::string, const char*> cases[] = {
        // Table order and case decide; the maker field is not looked at.
        {reply("Veltronik,KLVZ26,1,2.10\n"), "KLVZ"},
        {reply("Veltronik,KLV,1,2.10\n"), "KLVZ"},
        {reply("Veltronik,NQL8,1,2.10\n"), "NQx"},
        {reply("Veltronik,PBE2,1,2.10\n"), "C.N.S."},
        {reply("Veltronik,klvz26,1,2.10\n"), "unknown"},
        {reply("anyone,KLT-3,1,1.70\n"), "KLT"},
        // Nothing answered; guards kept it off the bus; NUL right after the comma.
        {reply(""), "TMO"},
        {"", "TMO"},
        {reply("Veltronik,"), "TMO"},
        // No comma: the whole answer is the model field.
        {reply("KLT\n"), "KLT"},
        {reply("Hello\n"), "unknown"},
        {reply("Veltronik,\n"), "unknown"},  // the line feed matches no row
        {reply("Veltronik,   KLW4,1,2\n"), "KLW"},
        {std::string(5000, '\xff') + ",KLB,1,2\n", "KLB"},  // longer than the buffer, binary
    };
    for (const auto& [answer, model] : cases)
        EXPECT_EQ(IdentifyAnswer(answer).modelName, model) << answer.substr(0, 30);
    EXPECT_TRUE(IdentifyAnswer(reply("VTK,GWPZ1,1,1\n")).model->fullSupport);
    EXPECT_FALSE(IdentifyAnswer(reply("VTK,PBE2,1,1\n")).model->fullSupport);
}

TEST(ParseFirmware, ReadsTheThirdFieldAndNeverFails) {
    const std::pair<std::string, double> cases[] = {
        {reply("KLT-3,100871/012,1.70\n"), 1.7},
        {reply("KLT-3,1,2.31SP2\n"), 2.31},
        {"KLT,1,1.7a\n", 1.7},   // odd last character kept, then ignored
        {"KLT,1,1.2.3\n", 1.2},  // a second point ends the number
        {"KLT,1,1,5\n", 1.0},    // a comma ends the number
        {"KLT,1,v1.5\n", 0.0},   // no digit first
        {"KLT,1,2.5", 2.5},      // no line feed
        {reply("KLT,1,2.5"), 2.5},
        {reply("KLT,1,\n"), 0.0},  // empty field
        {"KLT", 0.0},
        {"", 0.0},
    };
    for (const auto& [answer, version] : cases)
        EXPECT_DOUBLE_EQ(ParseFirmware(answer), version) << answer.substr(0, 30);
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

}  // namespace
}  // namespace benchcap::bus
