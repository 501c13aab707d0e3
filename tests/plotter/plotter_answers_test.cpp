#include <gtest/gtest.h>

#include "hardcopy/hpgl/plotter.h"

namespace benchcap::test {
namespace {

using hpgl::PlotterModel;
constexpr PlotterModel k70 = PlotterModel::HP7470A;
constexpr PlotterModel k75 = PlotterModel::HP7475A;

// Each output instruction after the state that changes it, against the plotters' manuals
// (A4 paper). The answer is the one held after all of `plot`.
TEST(PlotterAnswers, OutputInstructionsAsTheManualsGiveThem) {
    struct Row {
        PlotterModel model;
        const char* plot;
        const char* answer;
    };
    const Row rows[] = {
        {k70, "OI;", "7470A"},
        {k75, "OI;", "7475A"},
        {k70, "OF;", "40,40"},
        {k70, "OO;", "0,1,0,0,1,0,0,0"},
        {k70, "OP;", "250,279,10250,7479"},
        {k75, "OP;", "603,521,10603,7721"},
        {k70, "IP100,200,5100,4200;OP;", "100,200,5100,4200"},
        {k75, "IP100,200,5100,4200;IN;OP;", "603,521,10603,7721"},
        {k70, "OW;", "0,0,10900,7650"},
        {k70, "IW100,200,3000,4000;OW;", "100,200,3000,4000"},
        {k75, "OH;", "0,0,11040,7721"},
        {k70, "OD;", "0,0,0"},
        {k70, "PA1000,2000;OA;", "1000,2000,0"},
        {k70, "PU1000,2000;PD;OA;", "1000,2000,1"},
        {k70, "SC0,100,0,100;PA50,50;OA;", "5250,3879,0"},
        {k70, "SC0,100,0,100;PA50,50;OC;", "50,50,0"},
        {k70, "SC0,100,0,100;PA12.5,0;OC;", "12.5,0,0"},
        {k70, "PA300,400;OC;", "300,400,0"},
        // Status byte: power-up 24 (initialized, ready); bits set and cleared in order.
        {k70, "OS;", "24"},
        {k70, "OS;OS;", "16"},
        {k70, "PD;OS;", "25"},
        {k70, "IP0,0,100,100;OS;", "26"},
        {k70, "IP0,0,100,100;OP;OS;", "24"},
        {k70, "OS;IN;OS;", "24"},
        {k70, "ZZ;OS;", "56"},
        {k70, "ZZ;OE;OS;", "24"},
        // Errors: the last one the reader saw, cleared by reading it and by IN.
        {k70, "OE;", "0"},
        {k70, "ZZ;OE;", "1"},
        {k70, "ZZ;OE;OE;", "0"},
        {k70, "ZZ;IN;OE;", "0"},
        {k70, "OH;OE;", "1"},  // the 7470A has no OH
        {k75, "OH;OE;", "0"},
        {k70, "PA100;OE;", "2"},
        {k70, "IP1;OE;", "2"},
        {k70, "IW1,2;OE;", "2"},
        {k70, "PA2000000000,0;OE;", "3"},
        {k70, "ZZ;PA100;OE;", "2"},
    };
    for (const Row& row : rows) {
        hpgl::PlotterEmulator plotter(row.model);
        EXPECT_EQ(plotter.feed(row.plot), std::string(row.answer) + "\r\n")
            << hpgl::plotterModelName(row.model) << " " << row.plot;
    }
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
