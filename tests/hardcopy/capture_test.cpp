#include <gtest/gtest.h>

#include <fstream>

#include "bus/session.h"
#include "hardcopy/hardcopy_workflow.h"
#include "hardcopy/plotter_capture.h"
#include "support/bench_rig.h"
#include "support/test_paths.h"

namespace benchcap::test {
namespace {

using sim::Traffic;

// A bench with a plotter-only instrument that plots `plotFile`, and an analyzer.
std::unique_ptr<sim::SimBench> plotterBench(const std::filesystem::path& plotFile,
                                            const std::string& boards = "[0]",
                                            const std::string& more = "") {
    return makeBench("boards: " + boards + R"(
instruments:
  - {address: 7, kind: spectrum-analyzer, idn: "Veltronik,KLT-3,100871/012,1.70"}
  - {address: 9, kind: plotter-only, idn: "Veltronik,KLD4,100455/007,1.02", plot_delay_s: 4,
     )" + more + "plot_file: \"" +
                     plotFile.string() + "\"}\n");
}

struct Capture {
    explicit Capture(const std::string& plot, const std::string& boards = "[0]",
                     const std::string& more = "") {
        dir = makeTempDir("capture");
        std::ofstream(dir / "plot.hpgl", std::ios::binary) << plot;
        bench = plotterBench(dir / "plot.hpgl", boards, more);
    }
    Result<hardcopy::PlotCapture> run() {
        return hardcopy::CapturePlot(*bench, hgl().string(),
                                     [this](const std::string& s) { statuses.push_back(s); });
    }
    std::filesystem::path hgl() const { return dir / "MainForm.HGL"; }

    std::filesystem::path dir;
    std::unique_ptr<sim::SimBench> bench;
    std::vector<std::string> statuses;
};

TEST(CapturePlot, ThreeLinesAndTheFinalEmptyLine) {
    Capture c("IN;SP1;\r\nPU0,0;PD100,100;\r\nSP0;\r\n");
    const auto result = c.run();
    ASSERT_TRUE(result) << result.error();
    EXPECT_EQ(readFile(c.hgl()), "IN;SP1;\r\nPU0,0;PD100,100;\r\nSP0;\r\n\r\n");
    EXPECT_EQ(result->lines, 4);
    EXPECT_EQ(c.statuses.front(), "searching board...");
    EXPECT_EQ(c.statuses.back(), "hardcopy taken.");
    EXPECT_NE(std::find(c.statuses.begin(), c.statuses.end(),
                        "PLEASE PRESS HARDCOPY KEY TO START HARDCOPY!"),
              c.statuses.end());
}

TEST(CapturePlot, LongPieceIsSplitIntoReadsOf200) {
    std::string piece;
    for (int i = 0; i < 450; ++i)
        piece.push_back(static_cast<char>('A' + i % 26));
    Capture c(piece + "\r\n");
    ASSERT_TRUE(c.run());
    EXPECT_EQ(readFile(c.hgl()), piece.substr(0, 200) + "\r\n" + piece.substr(200, 200) + "\r\n" +
                                     piece.substr(400) + "\r\n\r\n");
}

TEST(CapturePlot, BoardListensAsPlotterThenIsItsOwnAgainSoTheNextHardcopyWorks) {
    Capture c("IN;\r\n");
    ASSERT_TRUE(c.run());
    // Plotter address 5, no system controller, EOS on read with carriage return; 15 then 12
    // as time-outs.
    std::vector<std::pair<std::string, int>> configs;
    std::vector<int> timeouts;
    for (const auto& e : c.bench->traffic()) {
        if (e.address == -1 && e.kind == Traffic::Config)
            configs.emplace_back(e.data, e.value);
        if (e.address == -1 && e.kind == Traffic::SetTimeout)
            timeouts.push_back(e.value);
    }
    ASSERT_GE(configs.size(), 4u);
    EXPECT_EQ(
        std::vector(configs.begin(), configs.begin() + 4),
        (std::vector<std::pair<std::string, int>>{{"1", 5}, {"10", 0}, {"12", 1}, {"15", 13}}));
    ASSERT_GE(timeouts.size(), 2u);
    EXPECT_EQ(std::vector(timeouts.begin(), timeouts.begin() + 2), (std::vector<int>{15, 12}));
    EXPECT_EQ(c.bench->count(Traffic::Online), 1);

    int pad = -1, sc = -1, eos = -1;
    c.bench->ibask(0, bus::ibc::PAD, &pad);
    c.bench->ibask(0, bus::ibc::SC, &sc);
    c.bench->ibask(0, bus::ibc::EOSrd, &eos);
    EXPECT_EQ(std::vector<int>({pad, sc, eos}), std::vector<int>({0, 1, 0}));
    bus::CurrentInstrument instrument;
    bus::Session session(*c.bench, instrument);
    bus::SelectInstrument(instrument, 0, 7);
    session.OpenDevice();
    session.IdentifyDevice();
    EXPECT_EQ(instrument.ModelName, "KLT");
    EXPECT_TRUE(instrument.IsReady);
}

TEST(CapturePlot, NoBoardMakesNoBoardCallsAndNoFile) {
    Capture c("IN;\r\n", "[1]");
    const auto result = c.run();
    EXPECT_FALSE(result);
    EXPECT_NE(result.error().find("No GPIB board named GPIB0"), std::string::npos);
    EXPECT_EQ(c.statuses.back(), "board not found!");
    EXPECT_TRUE(c.bench->traffic().empty());
    EXPECT_FALSE(std::filesystem::exists(c.hgl()));
}

TEST(CapturePlot, NoKeyPressedWithin100SecondsIsNoPlot) {
    Capture c("IN;\r\n");
    auto bench = makeBench("instruments: []\n");
    const auto result = hardcopy::CapturePlot(*bench, c.hgl().string(), [](const std::string&) {});
    EXPECT_FALSE(result);
    EXPECT_NE(result.error().find("no plot arrived"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(c.hgl()));
    EXPECT_EQ(bench->clock().nowMicros(), 103'000'000);  // the 100 s wait and one 3 s read
    int sc = 0;
    bench->ibask(0, bus::ibc::SC, &sc);
    EXPECT_EQ(sc, 1);
}

TEST(CapturePlot, ReadFailingWithABusErrorIsNoPlotAndKeepsAnEarlierFile) {
    std::string plot;
    for (int i = 0; i < 100; ++i)
        plot += "PU" + std::to_string(i) + ",0;PD" + std::to_string(i) + ",800;\r\n";
    Capture c(plot, "[0]", "faults: {bus_error_after: 700}, ");
    std::ofstream(c.hgl()) << "earlier";
    const auto result = c.run();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), "the plot broke off after 700 bytes (driver error EBUS)");
    EXPECT_EQ(readFile(c.hgl()), "earlier");
    EXPECT_EQ(filesIn(c.dir).size(), 2u);  // the plot file and the earlier capture
    int sc = 0;
    c.bench->ibask(0, bus::ibc::SC, &sc);
    EXPECT_EQ(sc, 1);  // the board is given back all the same
}

TEST(CapturePlot, StopRequestEndsTheCaptureBetweenReads) {
    Capture c(std::string(5000, 'A') + "\r\n");
    int asked = 0;
    const auto result = hardcopy::CapturePlot(*c.bench, c.hgl().string(), nullptr,
                                              [&asked] { return ++asked > 2; });
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), bus::kInterruptedMessage);
    EXPECT_FALSE(std::filesystem::exists(c.hgl()));
    EXPECT_EQ(c.bench->count(Traffic::Read), 2);
}

TEST(Plotter, NoCapturesNothingAndKeepsAnEarlierFile) {
    Capture c("IN;\r\n");
    std::ofstream(c.hgl()) << "earlier";
    bus::testing::ScriptedUserInterface ui;
    ui.queueMessageResult(bus::MessageResult::No);
    const auto result =
        hardcopy::Plotter(*c.bench, ui, nullptr, hardcopy::PlotterOfferText(), c.hgl().string());
    EXPECT_FALSE(result.accepted);
    ASSERT_EQ(ui.boxes().size(), 1u);
    EXPECT_EQ(ui.boxes()[0].title, "PLEASE SELECT");
    EXPECT_EQ(ui.boxes()[0].text, hardcopy::PlotterOfferText());
    EXPECT_TRUE(c.bench->traffic().empty());
    EXPECT_EQ(readFile(c.hgl()), "earlier");
}

TEST(CleanPlotLine, RemovesLineEndsOnlyAtTheEdges) {
    EXPECT_EQ(hardcopy::CleanPlotLine("\n\rPU1,2;\r\n"), "PU1,2;");
    EXPECT_EQ(hardcopy::CleanPlotLine("LB A\r\nB\r"), "LB A\r\nB");
    EXPECT_EQ(hardcopy::CleanPlotLine("\r\n"), "");
}

}  // namespace
}  // namespace benchcap::test
