#include <gtest/gtest.h>

#include "hardcopy/hpgl/plotter.h"
#include "support/golden.h"

namespace benchcap::test {
namespace {

using hpgl::PlotterModel;
constexpr PlotterModel k70 = PlotterModel::HP7470A;
constexpr PlotterModel k75 = PlotterModel::HP7475A;

// Each output instruction of golden/plotter-answers.txt after the state that changes it.
TEST(PlotterAnswers, OutputInstructionsAsTheManualsGiveThem) {
    checkGolden("golden/plotter-answers.txt", [](const std::string& input) {
        const std::string model = input.substr(0, input.find(' '));
        hpgl::PlotterEmulator plotter(model == "7475A" ? k75 : k70);
        std::string answer = plotter.feed(input.substr(model.size() + 1));
        if (!answer.ends_with("\r\n"))
            return "no CR LF: " + answer + "\n";
        answer.resize(answer.size() - 2);
        return answer + "\n";
    });
}

// Bytes arrive in pieces: an instruction cut by the end of a piece is carried out when
// its rest arrives, and answers come only for the output instructions in each piece.
TEST(PlotterAnswers, InstructionsCutBetweenPiecesWaitForTheirRest) {
    hpgl::PlotterEmulator plotter(k75);
    EXPECT_EQ(plotter.feed("IN;IP100,2"), "");
    EXPECT_EQ(plotter.feed("00,300,400;LBA;B"), "");
    EXPECT_EQ(plotter.feed("C\x03O"), "");
    EXPECT_EQ(plotter.feed("P"), "100,200,300,400\r\n");
    EXPECT_EQ(plotter.feed(";OE;\r\n"), "0\r\n");  // the label's ';' was no junk
    EXPECT_EQ(plotter.lastInstruction(), "OE");
    EXPECT_EQ(plotter.instructions(), 5u);
    EXPECT_EQ(hpgl::plotterModelNamed("hp 7475a"), k75);
    EXPECT_EQ(hpgl::plotterModelNamed("7440A"), std::nullopt);
}

}  // namespace
}  // namespace benchcap::test
