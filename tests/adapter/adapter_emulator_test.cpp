// The whole stack through the adapter emulator, over TCP loopback and a pseudo-terminal:
// the same tables (the scan identifies every address), files and texts as on the
// simulated bench directly.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "../cli/cli_runner.h"
#include "adapter_fixtures.h"
#include "bus/session.h"
#include "bus/testing/scripted_user_interface.h"
#include "scanner/scan_iec.h"
#include "support/test_paths.h"

namespace benchcap::test {
namespace {

using Path = Emulator::Path;

class ThroughEmulator : public ::testing::TestWithParam<Path> {};

std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> scanTable(bus::GpibDriver& driver) {
    bus::VirtualClock clock;  // the scan's pauses between addresses, not the bus time-outs
    bus::testing::ScriptedUserInterface ui;
    scanner::ScanIECControl scan(driver, clock, ui);
    scan.setStartTimeOut(bus::timeout_codes::T300ms);
    scan.setStopTimeOut(bus::timeout_codes::T300ms);
    scan.ScanIECBus();
    std::vector<std::string> rows;
    using Scan = scanner::ScanIECControl;
    for (int16_t a = Scan::kFirstAddress; a <= Scan::kLastAddress; ++a) {
        rows.push_back(std::to_string(a) + "|" + std::to_string(scan.DeviceTyp(a)) + "|" +
                       scanner::LedColourName(scan.led(a).colour) + "|" + scan.led(a).tooltip +
                       "|" + scan.DeviceInfo(a) + "|" + scan.IDAnswer(a) + "|" +
                       scan.OptionList(a));
    }
    return rows;
}

TEST_P(ThroughEmulator, ScanTableIsTheBenchs) {
    Emulator emulator(GetParam());
    auto adapter = emulator.driver();
    sim::SimBench direct(sim::builtinBench(), std::make_shared<bus::VirtualClock>());
    EXPECT_EQ(scanTable(*adapter), scanTable(direct));
}

TEST_P(ThroughEmulator, HardcopyPlotAndTraceFilesAreTheBenchs) {
    const auto dir = makeTempDir("adapter-files");
    struct Run {
        std::vector<std::string> args;
        std::string file;
    } runs[] = {
        {{"hardcopy", "20", "--format", "WMF", "-o"}, "shot.wmf"},
        {{"hardcopy", "20", "--format", "BMP", "-o"}, "shot.bmp"},
        {{"trace", "7", "1", "-o"}, "trace.txt"},
        // Plotter emulation: the adapter in device mode at the plotter address.
        {{"hardcopy", "9", "--plotter", "-o"}, "plot.hgl"},
    };
    for (const auto& run : runs) {
        // A fresh bench for each run, as the direct run gets one: a screen can show
        // what happened before.
        Emulator emulator(GetParam());
        std::vector<std::string> viaAdapter = {"--interface", "prologix:" + emulator.where()};
        std::vector<std::string> viaBench = {"--interface", "sim"};
        for (auto* args : {&viaAdapter, &viaBench})
            args->insert(args->end(), run.args.begin(), run.args.end());
        viaAdapter.push_back((dir / ("a-" + run.file)).string());
        viaBench.push_back((dir / ("s-" + run.file)).string());
        const CliResult a = runCliInProcess(viaAdapter);
        const CliResult s = runCliInProcess(viaBench);
        ASSERT_EQ(a.code, 0) << a.err;
        ASSERT_EQ(s.code, 0) << s.err;
        const std::string fromAdapter = slurp(dir / ("a-" + run.file));
        EXPECT_FALSE(fromAdapter.empty()) << run.file;
        EXPECT_TRUE(fromAdapter == slurp(dir / ("s-" + run.file))) << run.file << " differs";
    }
}

TEST_P(ThroughEmulator, BinaryWritesArriveIntact) {
    Emulator emulator(GetParam());
    std::string data = "DATA #3256";
    for (int i = 0; i < 256; ++i)
        data += static_cast<char>(i);
    {
        auto adapter = emulator.driver();
        const int ud = adapter->ibdev(0, 20, 0, bus::timeout_codes::T1s, 1, 0);
        EXPECT_EQ(adapter->ibwrt(ud, data.data(), static_cast<long>(data.size())),
                  bus::ibsta_bits::CMPL | bus::ibsta_bits::CIC);
        // A query behind it: the emulator has handled the write when the answer comes.
        bus::CurrentInstrument ci;
        bus::Session session(*adapter, ci);
        session.SelectAndIdentify(0, 20);
        EXPECT_TRUE(ci.IsReady);
    }
    emulator.stop();
    const auto writes = emulator.bench().writesTo(20);
    EXPECT_NE(std::find(writes.begin(), writes.end(), data), writes.end());
}

// In real time: an instrument that asks the plotter in the middle of its plot, with no CR
// after the question, and gives up after half a second without an answer gets its answers
// in time; one in talk-only mode is captured twice in a row. Both plots arrive whole.
TEST(ThroughEmulatorInRealTime, PlotterAnswersComeAtOnceAndTalkOnlyPlotsAgain) {
    const auto dir = makeTempDir("adapter-answers");
    const std::string plot = "IN;SP1;PA100,100;OI;PD500,500;OS;PU;OA;PA0,0;SP0;\r\n";
    std::ofstream(dir / "asks.hgl") << plot;
    const std::string bench = R"(clock: real
instruments:
  - {address: 9, kind: plotter-only, idn: "Veltronik,KLD4,1,1.02", plot_asks: true,
     plot_answer_timeout_s: 0.5, plot_file: ")" +
                              (dir / "asks.hgl").string() + R"("}
  - {address: 11, kind: plotter-only, idn: "Veltronik,KLD4,1,1.02", talk_only: true,
     plot_file: ")" + (dir / "asks.hgl").string() +
                              R"("}
)";
    Emulator emulator(Path::Tcp, sim::parseBenchText(bench, "test").value(),
                      std::make_shared<bus::RealClock>());
    const std::vector<std::vector<std::string>> runs = {
        {"hardcopy", "9", "--plotter", "-o"},
        {"hardcopy", "11", "--plotter", "--listen-only", "-o"},
        {"hardcopy", "11", "--plotter", "--listen-only", "-o"}};
    for (size_t i = 0; i < runs.size(); ++i) {
        std::vector<std::string> args = {"--interface", "prologix:" + emulator.where()};
        args.insert(args.end(), runs[i].begin(), runs[i].end());
        args.push_back((dir / ("plot" + std::to_string(i) + ".hgl")).string());
        const CliResult r = runCliInProcess(args);
        ASSERT_EQ(r.code, 0) << r.err;
        // The capture keeps each piece as a line of its own.
        std::string got = slurp(dir / ("plot" + std::to_string(i) + ".hgl"));
        std::erase_if(got, [](char c) { return c == '\r' || c == '\n'; });
        EXPECT_EQ(got + "\r\n", plot) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, ThroughEmulator, ::testing::Values(Path::Tcp, Path::Pty),
                         [](const auto& info) {
                             return std::string(info.param == Path::Tcp ? "Tcp" : "Pty");
                         });

TEST(AdapterSimCommand, RefusesBadArguments) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"adapter-sim"},
             {"adapter-sim", "--listen", "nowhere"},
             {"adapter-sim", "--listen", "127.0.0.1:1", "--pty"},
             {"adapter-sim", "--listen", "127.0.0.1:5000", "--bench", "/no/such/bench.yaml"}}) {
        const CliResult r = runCliInProcess(args);
        EXPECT_EQ(r.code, 2) << args.back() << ": " << r.err;
    }
}

}  // namespace
}  // namespace benchcap::test
