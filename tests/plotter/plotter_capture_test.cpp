#include <gtest/gtest.h>

#include <fstream>

#include "../adapter/adapter_fixtures.h"
#include "bus/log/logging_driver.h"
#include "hardcopy/hpgl/hpgl.h"
#include "hardcopy/hpgl/plotter.h"
#include "hardcopy/plotter_capture.h"
#include "support/bench_rig.h"
#include "support/golden.h"
#include "support/test_paths.h"

namespace benchcap::test {
namespace {

// A plotter-only instrument on the simulated bench plotting `plot`, with more keys
// (`plot_queries`, `plot_asks`), captured by the board as the emulated plotter.
struct AskingPlot {
    std::string hgl;
    hardcopy::PlotCapture capture;
    std::vector<std::string> statuses;
};
AskingPlot capture(const std::string& plot, const std::string& keys,
                   const hardcopy::PlotterSettings& settings = {}, bool viaAdapter = false) {
    const std::filesystem::path dir = makeTempDir("asking");
    std::ofstream(dir / "plot.hpgl", std::ios::binary) << plot;
    auto bench = makeBench(R"(boards: [0]
instruments:
  - {address: 9, kind: plotter-only, idn: "Veltronik,KLD4,100455/007,1.02", )" +
                           keys + "plot_file: \"" + (dir / "plot.hpgl").string() + "\"}\n");
    // Through the "++" adapter emulator in front of the bench, on loopback.
    std::unique_ptr<bus::GpibDriver> adapter;
    sim::AdapterServer server(*bench);
    std::thread serving;
    int listenFd = -1;
    if (viaAdapter) {
        auto listener = sim::listenTcp("127.0.0.1", 0);
        EXPECT_TRUE(listener) << listener.error();
        listenFd = listener->fd;
        serving = std::thread([&] { server.serveListener(listenFd); });
        // Behind the bus log's wrapper, as the window always runs its driver.
        adapter = std::make_unique<bus::log::LoggingDriver>(
            std::make_unique<bus::adapter::PrologixDriver>(
                bus::adapter::parseAdapterAddress("127.0.0.1:" + std::to_string(listener->port))
                    .value(),
                loopbackOptions()),
            std::make_shared<bus::RealClock>());
    }
    std::vector<std::string> statuses;
    const auto result = hardcopy::CapturePlot(
        adapter ? *adapter : static_cast<bus::GpibDriver&>(*bench), (dir / "MainForm.HGL").string(),
        [&](const std::string& s) { statuses.push_back(s); }, {}, settings);
    EXPECT_TRUE(result) << result.error();
    if (serving.joinable()) {
        adapter.reset();
        server.stop();
        serving.join();
        ::close(listenFd);
    }
    return {readFile(dir / "MainForm.HGL"), result ? *result : hardcopy::PlotCapture{}, statuses};
}

QImage rendered(const std::string& hgl) {
    auto image = hpgl::renderHpgl(hgl, QSize(400, 300));
    EXPECT_TRUE(image) << image.error();
    return image ? *image : QImage();
}

const std::string kPlot =
    "IN;SP1;IP250,596,10250,7796;SC0,100,0,100;\r\nPU0,0;PD100,0,100,100,0,100,0,0;\r\n"
    "PU10,50;LBASKED\x03;\r\nSP0;\r\n";

// An instrument that asks before plotting gets its answers and plots whole: the picture
// is the one of the same plot without questions. Without answers it gives up after the
// first question, as it would at a plotter that never answers.
TEST(AskingPlotter, IsCapturedWholeWhenAnsweredAndShortWhenNot) {
    const AskingPlot plain = capture(kPlot, "");
    const AskingPlot asked = capture(kPlot, "plot_queries: [OI, OP, OS], ");
    EXPECT_EQ(asked.hgl, "OI;\r\nOP;\r\nOS;\r\n" + plain.hgl);
    EXPECT_EQ(rendered(asked.hgl), rendered(plain.hgl));
    // The status line follows the instructions as they arrive.
    EXPECT_NE(std::find(asked.statuses.begin(), asked.statuses.end(),
                        "receiving OS, 3 instructions (last OS), 14 bytes"),
              asked.statuses.end());

    const AskingPlot unanswered =
        capture(kPlot, "plot_queries: [OI, OP, OS], ", {hpgl::PlotterModel::HP7470A, false});
    EXPECT_EQ(unanswered.hgl, "OI;\r\n\r\n");

    // A wrong answer (a 7475A where the instrument asks for a 7470A's OH: none) or one
    // after the instrument's own time-out aborts the plot as well.
    EXPECT_EQ(capture(kPlot, "plot_queries: [OH], ").hgl, "OH;\r\n\r\n");
    EXPECT_EQ(capture(kPlot, "plot_queries: [OH], ", {hpgl::PlotterModel::HP7475A, true}).hgl,
              "OH;\r\n" + plain.hgl);
}

// The real capture that starts with OP; replayed as an instrument that waits for the
// answer: captured whole, drawn as when it does not wait.
TEST(AskingPlotter, RealPlotStartingWithOPIsCapturedWhole) {
    const std::string sample = readFile(testDataDir() / "hpgl" / "vk2bea_HP8595E-FM.hpgl");
    ASSERT_EQ(sample.substr(0, 3), "OP;");
    const AskingPlot asked = capture(sample, "plot_asks: true, ");
    const AskingPlot plain = capture(sample, "");
    EXPECT_EQ(asked.capture.bytes, plain.capture.bytes);
    EXPECT_EQ(rendered(asked.hgl), rendered(plain.hgl));
    EXPECT_EQ(capture(sample, "plot_asks: true, ", {hpgl::PlotterModel::HP7470A, false}).hgl,
              "OP;\r\n\r\n");
}

// Through the "++" adapter in device mode: the answer is handed to the adapter, which
// sends it when the instrument addresses it to talk; the capture is the one made directly.
// In listen-only mode the adapter hears an instrument in talk-only mode, which addresses no
// plotter; a board has no such mode.
TEST(AskingPlotter, AnsweredThroughTheAdapterWhichAlsoListensOnly) {
    const std::string keys = "plot_queries: [OI, OP, OS], ";
    EXPECT_EQ(capture(kPlot, keys, {}, true).hgl, capture(kPlot, keys).hgl);

    hardcopy::PlotterSettings listening;
    listening.listenOnly = true;
    EXPECT_EQ(capture(kPlot, "talk_only: true, ", listening, true).hgl, capture(kPlot, "").hgl);
    const auto direct =
        hardcopy::CapturePlot(*makeBench("instruments: []\n"),
                              (makeTempDir("lon") / "x.hgl").string(), {}, {}, listening);
    EXPECT_NE(direct.error().find("listen-only capture needs a \"++\" adapter"), std::string::npos);
}

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
