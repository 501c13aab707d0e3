#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "bus/session.h"
#include "hardcopy/hardcopy_workflow.h"
#include "hardcopy/plotter_capture.h"
#include "support/bench_rig.h"
#include "support/golden.h"
#include "support/test_paths.h"
#include "support/traffic_text.h"

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

// "PLOT [| BOARDS [| KEYS]]": a capture of PLOT ("N*PIECE[+TAIL]": N pieces, a tail) from
// the plotter-only instrument on a bench of BOARDS with more KEYS, over an earlier file:
// the result, the file afterwards, the first and last status and the board's traffic and
// state (address, system controller, EOS on read) afterwards.
std::string Captured(const std::string& input) {
    std::vector<std::string> parts;
    std::istringstream in(input);
    for (std::string part; std::getline(in, part, '|');)
        parts.push_back(part.substr(
            part.find_first_not_of(' ') == std::string::npos ? 0 : part.find_first_not_of(' ')));
    std::string plot = parts[0];
    if (const size_t star = plot.find('*'); star != std::string::npos && star < 6) {
        const size_t plus = plot.find('+', star);
        const std::string piece = plot.substr(star + 1, plus - star - 1);
        std::string repeated;
        for (int i = 0; i < std::stoi(plot); ++i)
            repeated += piece;
        plot = repeated + (plus == std::string::npos ? "" : plot.substr(plus + 1));
    }
    Capture c(plot, parts.size() > 1 ? parts[1] : "[0]", parts.size() > 2 ? parts[2] + ", " : "");
    std::ofstream(c.hgl()) << "earlier";
    const auto result = c.run();
    std::string out = result ? "lines " + std::to_string(result->lines) + ", bytes " +
                                   std::to_string(result->bytes) + "\n"
                             : "failed: " + result.error() + "\n";
    const std::string file = readFile(c.hgl());
    out += "file \"" + shownBytes(file.substr(0, 600)) + (file.size() > 600 ? "..." : "") + "\"\n";
    out += "status " + c.statuses.front() + " .. " + c.statuses.back() + "\n";
    for (const auto& e : c.bench->traffic())
        out += e.address == -1 ? "board " + trafficText(e) + "\n" : "";
    int pad = -1, sc = -1, eos = -1;
    c.bench->ibask(0, bus::ibc::PAD, &pad);
    c.bench->ibask(0, bus::ibc::SC, &sc);
    c.bench->ibask(0, bus::ibc::EOSrd, &eos);
    return out + "address " + std::to_string(pad) + ", controller " + std::to_string(sc) +
           ", EOS on read " + std::to_string(eos) + ", " + std::to_string(filesIn(c.dir).size()) +
           " files\n";
}

TEST(CapturePlot, LinesFilesAndTheBoardAfterwards) {
    checkGolden("golden/plot-captures.txt", Captured);
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

TEST(CapturePlot, StopRequestEndsTheCaptureBetweenReads) {
    Capture c(std::string(5000, 'A') + "\r\n");
    int asked = 0;
    const auto result = hardcopy::CapturePlot(*c.bench, c.hgl().string(), nullptr,
                                              [&asked] { return ++asked > 3; });
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), bus::kInterruptedMessage);
    EXPECT_FALSE(std::filesystem::exists(c.hgl()));
    EXPECT_EQ(c.bench->count(Traffic::Read), 2);
}

}  // namespace
}  // namespace benchcap::test
