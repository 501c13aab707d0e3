// The driver against scripted adapters: hand-written transcripts and faults.
#include <gtest/gtest.h>

#include <chrono>

#include <filesystem>
#include <fstream>
#include "../cli/cli_runner.h"
#include "adapter_fixtures.h"
#include "bus/block_header.h"
#include "bus/session.h"
#include "scanner/scan_iec.h"
#include "support/scripted_user_interface.h"
#include "support/test_paths.h"

namespace benchcap::test {
namespace {

using namespace bus::ibsta_bits;
namespace err = bus::iberr_codes;

constexpr char kVersion[] = "Prologix GPIB-ETHERNET Controller version 01.06.06.00\r\n";

// Answers ++ver, then ++spoll for address 5 only.
void greet(int fd) {
    receiveUntil(fd, "++ver\n");
    sendText(fd, kVersion);
}

// An adapter that greets, finds address 5 listening, answers the first read with
// `answer` (its EOI mark included) and keeps the connection until the host leaves; what
// the host sent goes to `heard`.
FakeAdapter::Script answerOnce(const std::string& answer, std::string* heard = nullptr) {
    return [answer, heard](int fd, int) {
        greet(fd);
        std::string got = receiveUntil(fd, "++spoll 5\n");
        sendText(fd, "0\r\n");
        got += receiveUntil(fd, "++read eoi\n");
        sendText(fd, answer);
        got += receiveUntil(fd, "never", 500);
        if (heard)
            *heard = got;
    };
}

TEST(AdapterDriver, TranscriptOfAQuery) {
    std::string heard;
    // The answer, then the EOI mark the driver asked for (LF, ++eot_char 10).
    auto fake = std::make_unique<FakeAdapter>(answerOnce("ACME,X1,7,1.0\n\n", &heard));
    auto driver = fake->driver();
    ASSERT_TRUE(driver->connect()) << driver->lastProblem();
    EXPECT_EQ(driver->adapterVersion(), "Prologix GPIB-ETHERNET Controller version 01.06.06.00");
    const int ud = driver->ibdev(0, 5, 0, bus::timeout_codes::T1s, 1, 0);
    const std::string query = "*IDN?+\r";
    EXPECT_EQ(driver->ibwrt(ud, query.data(), static_cast<long>(query.size())), CMPL | CIC);
    EXPECT_EQ(driver->status().ibcntl, 7);
    char buffer[100];
    EXPECT_EQ(driver->ibrd(ud, buffer, 5), CMPL);  // more to come: no END yet
    EXPECT_EQ(std::string(buffer, 5), "ACME,");
    EXPECT_EQ(driver->ibrd(ud, buffer, 100), CMPL | END);
    EXPECT_EQ(driver->status().ibcntl, 9);
    EXPECT_EQ(std::string(buffer, 9), "X1,7,1.0\n");
    driver.reset();  // closes the connection: the script's last read ends
    fake.reset();    // and its thread is done with `heard`
    // Set-up as the manual asks, then the address, the escaped data, the read.
    for (const char* line : {"++savecfg 0\n", "++mode 1\n", "++auto 0\n", "++eoi 1\n", "++eos 3\n",
                             "++eot_enable 1\n", "++eot_char 10\n", "++read_tmo_ms 1000\n",
                             "++spoll 5\n", "++addr 5\n", "*IDN?\x1b+\x1b\r\n", "++read eoi\n"}) {
        EXPECT_NE(heard.find(line), std::string::npos) << line << " in " << heard;
    }
    EXPECT_LT(heard.find("++addr 5\n"), heard.find("*IDN?"));
}

TEST(AdapterDriver, ReadsEndAtTheirTimeOutAStopOrTheLongestMessage) {
    const std::string stream(64 * 1024, 'x');
    struct Case {
        const char* name;
        const std::string& piece;
        int gapMillis;
        int adapterReadMillis;  // 0: as the adapter allows (3 s)
        int tmo;
        int stopAfterMillis;  // 0: nobody asks to stop
        int64_t maxMessage;
        long count;
        int status;
        int64_t atLeastMillis, beforeMillis;
        const char* problem;
    } cases[] = {
        // A time-out longer than the adapter allows is made of repeated adapter reads.
        {"silent", "", 0, 100, bus::timeout_codes::T1s, 0, 0, 10, ERR | TIMO | CMPL, 900, 2500, ""},
        // One byte every half second never lets the adapter's own read time out.
        {"dripping", "x", 500, 0, bus::timeout_codes::T1s, 0, 0, 100, ERR | TIMO | CMPL, 900, 1600,
         ""},
        {"dripping, stopped", "x", 500, 0, bus::timeout_codes::TNONE, 300, 0, 100, ERR, 250, 600,
         ""},
        // A read hands over the caller's count and no more, however much is coming.
        {"streaming", stream, 0, 0, bus::timeout_codes::T3s, 0, 0, 16, CMPL, 0, 500, ""},
        {"streaming past the longest block", stream, 0, 0, bus::timeout_codes::T3s, 0, 1 << 20,
         1 << 16, ERR, 0, 3000, "sent more than 1048576 bytes without ending its message"},
    };
    for (const Case& c : cases) {
        std::atomic<int> reads{0};
        FakeAdapter fake([&](int fd, int) {
            neverEndingAnswer(fd, fake.stopping_, c.piece, c.gapMillis, 6000, &reads);
        });
        bus::adapter::PrologixOptions options = loopbackOptions();
        if (c.adapterReadMillis)
            options.adapterMaxReadMillis = c.adapterReadMillis;
        if (c.maxMessage)
            options.maxMessageBytes = c.maxMessage;
        auto driver = fake.driver(options);
        const auto start = std::chrono::steady_clock::now();
        driver->setInterruptCheck(
            [&] { return c.stopAfterMillis && millisSince(start) >= c.stopAfterMillis; });
        const int ud = driver->ibdev(0, 5, 0, c.tmo, 1, 0);
        driver->ibwrt(ud, "DATA?", 5);
        std::string buffer(static_cast<size_t>(c.count), '\0');
        // Past the longest message, reads that each come back full run into the refusal.
        int sta = 0;
        for (int i = 0; i < (c.maxMessage ? 100 : 1) && (i == 0 || sta == CMPL); ++i)
            sta = driver->ibrd(ud, buffer.data(), c.count);
        const int64_t took = millisSince(start);
        EXPECT_EQ(sta, c.status) << c.name;
        EXPECT_EQ(driver->status().iberr, c.status & ERR ? err::EABO : 0) << c.name;
        EXPECT_GE(took, c.atLeastMillis) << c.name;
        EXPECT_LT(took, c.beforeMillis) << c.name;
        EXPECT_NE(driver->lastProblem().find(c.problem), std::string::npos) << c.name;
        if (c.status == CMPL || c.piece.empty()) {
            EXPECT_EQ(driver->status().ibcntl, c.status == CMPL ? c.count : 0) << c.name;
        }
        if (c.adapterReadMillis) {
            EXPECT_GE(reads.load(), 4) << c.name;
        }
        driver.reset();
    }
}

TEST(AdapterDriver, FaultyAdaptersAreNamedAndNeverHang) {
    struct Case {
        const char* name;
        std::function<void(int)> script;
        const char* says;
    } cases[] = {
        {"silent", [](int fd) { receiveUntil(fd, "never", 1500); }, "did not answer"},
        {"echo",
         [](int fd) {
             const std::string got = receiveUntil(fd, "++ver\n");
             sendText(fd, got);
             receiveUntil(fd, "never", 500);
         },
         "echoes commands"},
        {"garbage",
         [](int fd) {
             receiveUntil(fd, "++ver\n");
             sendText(fd, std::string("\x80\xff\x13\x11zz\r\n"));
             receiveUntil(fd, "never", 500);
         },
         "garbage"},
    };
    for (const auto& c : cases) {
        FakeAdapter fake([&](int fd, int) { c.script(fd); });
        auto driver = fake.driver();
        const auto start = std::chrono::steady_clock::now();
        const std::string reason = driver->unavailableReason();
        EXPECT_NE(reason.find(c.says), std::string::npos) << c.name << ": " << reason;
        EXPECT_NE(reason.find("Prologix adapter at " + fake.where()), std::string::npos) << reason;
        EXPECT_LT(millisSince(start), 2000) << c.name;
        // A command on a driver that cannot reach its adapter fails, it does not wait.
        const int ud = driver->ibdev(0, 5, 0, bus::timeout_codes::T1s, 1, 0);
        EXPECT_EQ(driver->ibwrt(ud, "*IDN?", 5) & ERR, ERR) << c.name;
        EXPECT_EQ(driver->status().iberr, err::EDVR) << c.name;
    }
}

TEST(AdapterDriver, ConnectionDroppedMidBlockThenReconnects) {
    FakeAdapter fake([&](int fd, int connection) {
        greet(fd);
        if (connection == 0) {  // the address is known to listen after that
            receiveUntil(fd, "++spoll 5\n");
            sendText(fd, "0\r\n");
        }
        receiveUntil(fd, "++read eoi\n");
        if (connection == 0) {
            sendText(fd, "#42000" + std::string(700, 'x'));  // then the cable is pulled
            return;
        }
        sendText(fd, "OK\n\n");
        receiveUntil(fd, "++read eoi\n");
        sendText(fd, "abc");  // and the cable is pulled during a read to a file
    });
    auto driver = fake.driver();
    const int ud = driver->ibdev(0, 5, 0, bus::timeout_codes::T3s, 1, 0);
    driver->ibwrt(ud, "DATA?", 5);
    bus::CurrentInstrument instrument;
    instrument.IsReady = instrument.BusEnabled = true;
    instrument.DeviceHandle = static_cast<int16_t>(ud);
    bus::Session session(*driver, instrument);
    const auto start = std::chrono::steady_clock::now();
    const Result<int64_t> length = bus::ReadBlockHeader(session);
    ASSERT_TRUE(length) << length.error();
    EXPECT_EQ(*length, 2000);
    const Status read =
        bus::ReadBlockData(session, 2000, 4000, [](const char*, size_t) { return Status{}; });
    EXPECT_LT(millisSince(start), 2000);
    EXPECT_EQ(driver->status().iberr, err::EDVR);
    EXPECT_EQ(driver->status().ibcntl, 700);
    // The block's failure names the adapter and how far the answer came.
    EXPECT_NE(
        read.error().find("the block broke off after 700 of 2000 bytes (Prologix adapter at " +
                          fake.where() + ": connection lost after 706 bytes of the answer"),
        std::string::npos)
        << read.error();
    std::string buffer(4000, '\0');
    // The next command connects again and goes through.
    EXPECT_EQ(driver->ibwrt(ud, "DATA?", 5), CMPL | CIC);
    EXPECT_EQ(driver->ibrd(ud, buffer.data(), 4000), CMPL | END);
    EXPECT_EQ(buffer.substr(0, 3), "OK\n");
    driver->ibwrt(ud, "DATA?", 5);
    const auto file = makeTempDir("adapter-rdf") / "answer.bin";
    EXPECT_EQ(driver->ibrdf(ud, file.string()) & ERR, ERR);
    EXPECT_EQ(driver->status().ibcntl, 3);
    EXPECT_NE(driver->lastProblem().find("connection lost after 3 bytes"), std::string::npos)
        << driver->lastProblem();
}

// An adapter that greets and then stays silent: a board without the lines it has no
// command for, and no listener at any address.
TEST(AdapterDriver, BoardCallsAsABoardWithoutThoseLinesAndASilentAddress) {
    FakeAdapter fake([&](int fd, int) {
        greet(fd);
        receiveUntil(fd, "never", 3000);
    });
    auto driver = fake.driver();
    const int silent = driver->ibdev(0, 9, 0, bus::timeout_codes::T300ms, 1, 0);
    EXPECT_EQ(driver->ibwrt(silent, "*IDN?", 5), ERR);
    EXPECT_EQ(driver->status().iberr, err::ENOL);
    EXPECT_EQ(driver->ibfind("GPIB0"), 0);
    EXPECT_EQ(driver->ibfind("GPIB1"), -1);
    EXPECT_EQ(driver->status().iberr, err::ENEB);
    EXPECT_EQ(driver->ibsre(0, 1), ERR);  // no command for Remote Enable
    EXPECT_EQ(driver->status().iberr, err::ECAP);
    driver->SendIFC(0);
    EXPECT_EQ(driver->status().ibsta, CMPL | CIC);
}

// Every byte value comes back, read into memory or straight into a file, and a read into
// a file ends with END, as the generator's hardcopy expects.
TEST(AdapterDriver, EveryByteValueComesBackWithEnd) {
    std::string block = "#3512";
    for (int i = 0; i < 512; ++i)
        block += static_cast<char>(i & 0xFF);
    const auto file = makeTempDir("adapter-rdf") / "screen.bmp";
    for (const bool toFile : {false, true}) {
        FakeAdapter fake(answerOnce(block + "\n"));  // EOI mark
        auto driver = fake.driver();
        const int ud = driver->ibdev(0, 5, 0, bus::timeout_codes::T3s, 1, 0);
        driver->ibwrt(ud, "DATA?", 5);
        std::string got(1000, '\0');
        EXPECT_EQ(toFile ? driver->ibrdf(ud, file.string()) : driver->ibrd(ud, got.data(), 1000),
                  CMPL | END);
        got.resize(static_cast<size_t>(driver->status().ibcntl));
        EXPECT_EQ(toFile ? readFile(file) : got, block) << toFile;
    }
}

// The whole stack through the adapter emulator, over TCP loopback and a pseudo-terminal:
// the same tables (the scan identifies every address), files and texts as on the
// simulated bench directly.
using Path = Emulator::Path;

class ThroughEmulator : public ::testing::TestWithParam<Path> {};

std::vector<std::string> scanTable(bus::GpibDriver& driver) {
    bus::VirtualClock clock;  // the scan's pauses between addresses, not the bus time-outs
    bus::testing::ScriptedUserInterface ui;
    scanner::ScanController scan(driver, clock, ui);
    scan.setStartTimeOut(bus::timeout_codes::T300ms);
    scan.setStopTimeOut(bus::timeout_codes::T300ms);
    scan.ScanIECBus();
    std::vector<std::string> rows;
    using Scan = scanner::ScanController;
    for (int16_t a = Scan::kFirstAddress; a <= Scan::kLastAddress; ++a) {
        rows.push_back(std::to_string(a) + "|" + std::to_string(scan.deviceType(a)) + "|" +
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

// "++clr" drops the answer left unread: the read after it hears nothing.
TEST_P(ThroughEmulator, DeviceClearDropsTheUnreadAnswer) {
    Emulator emulator(GetParam());
    auto driver = emulator.driver();
    const int ud = driver->ibdev(0, 7, 0, bus::timeout_codes::T300ms, 1, 0);
    EXPECT_EQ(driver->ibwrt(ud, "*IDN?", 5), CMPL | CIC);
    EXPECT_EQ(driver->ibclr(ud), CMPL);
    char answer[100];
    EXPECT_EQ(driver->ibrd(ud, answer, 100), ERR | TIMO | CMPL);
}

TEST_P(ThroughEmulator, HardcopyPlotAndTraceFilesAreTheBenchs) {
    // Plotter emulation: the adapter in device mode at the plotter address.
    for (const auto& [args, file] : {std::pair<std::vector<std::string>, std::string>{
                                         {"hardcopy", "20", "--format", "WMF"}, "shot.wmf"},
                                     {{"hardcopy", "20", "--format", "BMP"}, "shot.bmp"},
                                     {{"trace", "7", "1"}, "trace.txt"},
                                     {{"hardcopy", "9", "--plotter"}, "plot.hgl"}}) {
        // A fresh bench for each run, as the direct run gets one: a screen can show
        // what happened before.
        Emulator emulator(GetParam());
        expectAsOnTheBench("prologix:" + emulator.where(), args, file);
    }
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
        std::string got = readFile(dir / ("plot" + std::to_string(i) + ".hgl"));
        std::erase_if(got, [](char c) { return c == '\r' || c == '\n'; });
        EXPECT_EQ(got + "\r\n", plot) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, ThroughEmulator, ::testing::Values(Path::Tcp, Path::Pty),
                         [](const auto& info) {
                             return std::string(info.param == Path::Tcp ? "Tcp" : "Pty");
                         });

}  // namespace
}  // namespace benchcap::test
