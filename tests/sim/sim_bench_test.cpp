#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "sim/sim_bench.h"
#include "support/bench_rig.h"
#include "support/file_faults.h"
#include "support/test_paths.h"

namespace benchcap::sim {
namespace {

using namespace bus::ibsta_bits;
namespace err = bus::iberr_codes;

SimBench makeBench(const std::string& yaml) {
    return SimBench(test::benchConfig(yaml), std::make_shared<bus::VirtualClock>());
}

constexpr const char* kTwoBoards = R"(
boards: [0, 2]
instruments:
  - {address: 5, kind: other-maker, idn: "Acme,X1,1,1.0", faults: {silent_after: 2}}
  - {address: 6, kind: silent}
  - {address: 5, board: 2, kind: spectrum-analyzer, idn: "Veltronik,KLT-3,1,1.70"}
)";

int open(SimBench& bench, int board, int address, int tmo = 11) {
    return bench.ibdev(board, address, 0x60, tmo, 1, 0);
}

std::string read(SimBench& bench, int ud, long count) {
    std::string buf(static_cast<size_t>(count), '\0');
    bench.ibrd(ud, buf.data(), count);
    buf.resize(static_cast<size_t>(bench.status().ibcntl));
    return buf;
}

TEST(SimBench, BoardsAndInstrumentsFollowTheBench) {
    SimBench bench = makeBench(kTwoBoards);
    EXPECT_EQ(bench.ibfind("GPIB0"), 0);
    EXPECT_EQ(bench.ibfind("GPIB1"), -1);
    EXPECT_EQ(bench.status().iberr, err::ENEB);
    EXPECT_EQ(bench.ibfind("GPIB2"), 2);
    EXPECT_EQ(bench.ibfind("GPIB10"), -1);

    const int ud = open(bench, 2, 5);
    bench.ibwrt(ud, "*IDN?", 5);
    EXPECT_EQ(read(bench, ud, 1000), "Veltronik,KLT-3,1,1.70\n");
    EXPECT_TRUE(bench.status().ibsta & END);
    EXPECT_EQ(open(bench, 1, 5), -1);  // board 1 does not exist
}

TEST(SimBench, SilentListenerTimesOutAfterTheHandlesTimeout) {
    SimBench bench = makeBench(kTwoBoards);
    const int ud = open(bench, 0, 6, bus::timeout_codes::T3s);
    EXPECT_FALSE(bench.ibwrt(ud, "*IDN?", 5) & ERR);
    const int64_t t0 = bench.clock().nowMicros();
    char buf[10];
    const int sta = bench.ibrd(ud, buf, 10);
    EXPECT_EQ(sta & (ERR | TIMO), ERR | TIMO);
    EXPECT_EQ(bench.status().iberr, err::EABO);
    EXPECT_EQ(bench.status().ibcntl, 0);
    EXPECT_EQ(bench.clock().nowMicros() - t0, 3'000'000);

    bench.ibtmo(ud, bus::timeout_codes::T300ms);
    bench.ibrd(ud, buf, 10);
    EXPECT_EQ(bench.clock().nowMicros() - t0, 3'300'000);
}

TEST(SimBench, ReadsFillTheBufferAndLeaveTheRest) {
    SimBench bench = makeBench(kTwoBoards);
    const int ud = open(bench, 2, 5);
    bench.ibwrt(ud, "*IDN?", 5);
    EXPECT_EQ(read(bench, ud, 9), "Veltronik");
    EXPECT_FALSE(bench.status().ibsta & END);
    EXPECT_EQ(read(bench, ud, 100), ",KLT-3,1,1.70\n");
    // A new message discards what was never read (IEEE 488.2 query interrupted).
    bench.ibwrt(ud, "*IDN?", 5);
    EXPECT_EQ(read(bench, ud, 3), "Vel");
    bench.ibwrt(ud, "*OPT?", 5);
    EXPECT_EQ(read(bench, ud, 100), "\n");
}

TEST(SimBench, SilentAfterFaultStopsAnswering) {
    SimBench bench = makeBench(kTwoBoards);
    const int ud = open(bench, 0, 5);
    for (int i = 0; i < 2; ++i) {
        bench.ibwrt(ud, "*IDN?", 5);
        EXPECT_EQ(read(bench, ud, 100), "Acme,X1,1,1.0\n");
    }
    bench.ibwrt(ud, "*IDN?", 5);
    EXPECT_EQ(read(bench, ud, 100), "");
    EXPECT_TRUE(bench.status().ibsta & TIMO);
}

TEST(SimBench, BoardOptionsAreKeptAndOfflineKeepsThem) {
    SimBench bench = makeBench(kTwoBoards);
    int value = -1;
    bench.ibask(0, bus::ibc::TMO, &value);
    EXPECT_EQ(value, bus::timeout_codes::T10s);
    bench.ibconfig(0, 17, 2);
    bench.ibask(0, 17, &value);
    EXPECT_EQ(value, 2);
    bench.ibpad(0, 5);
    bench.ibrsc(0, 0);
    bench.ibonl(0, 0);
    bench.ibask(0, bus::ibc::PAD, &value);
    EXPECT_EQ(value, 5);
    // Without system control the board cannot address instruments.
    EXPECT_EQ(bench.ibfind("GPIB0"), 0);
    const int ud = open(bench, 0, 5);
    EXPECT_TRUE(bench.ibwrt(ud, "*IDN?", 5) & ERR);
    EXPECT_EQ(bench.status().iberr, err::ECIC);
    bench.ibrsc(0, 1);
    EXPECT_FALSE(bench.ibwrt(ud, "*IDN?", 5) & ERR);
}

TEST(SimBench, WaitingForAListenerNobodyAddressesEndsAtTheTimeout) {
    SimBench bench = makeBench(kTwoBoards);
    bench.ibpad(0, 5);
    bench.ibrsc(0, 0);
    bench.ibtmo(0, bus::timeout_codes::T100s);
    const int64_t t0 = bench.clock().nowMicros();
    EXPECT_EQ(bench.ibwait(0, TIMO | LACS), TIMO);
    EXPECT_EQ(bench.clock().nowMicros() - t0, 100'000'000);
    // A wait that nothing could end is refused instead of hanging.
    bench.ibtmo(0, bus::timeout_codes::TNONE);
    EXPECT_TRUE(bench.ibwait(0, LACS) & ERR);
}

TEST(SimBench, BadDescriptorsArgumentsAndNoListenerAreErrors) {
    SimBench bench = makeBench(kTwoBoards);
    char buf[4];
    EXPECT_TRUE(bench.ibwrt(1234, "x", 1) & ERR);
    EXPECT_TRUE(bench.ibrd(-1, buf, 4) & ERR);
    EXPECT_EQ(bench.status().iberr, err::EDVR);
    EXPECT_EQ(bench.ibdev(0, 31, 0, 11, 1, 0), -1);
    const int ud = open(bench, 0, 5);
    bench.ibonl(ud, 0);
    EXPECT_TRUE(bench.ibwrt(ud, "*IDN?", 5) & ERR);
    EXPECT_TRUE(bench.ibtmo(open(bench, 0, 5), 99) & ERR);
    // Nobody listens at 9: at once, without waiting for a time-out.
    const int64_t t0 = bench.clock().nowMicros();
    EXPECT_TRUE(bench.ibwrt(open(bench, 0, 9), "*IDN?", 5) & ERR);
    EXPECT_EQ(bench.status().iberr, err::ENOL);
    EXPECT_EQ(bench.clock().nowMicros(), t0);
}

TEST(SimBench, TrafficLogRecordsTheConversation) {
    SimBench bench = makeBench(kTwoBoards);
    const int ud = open(bench, 0, 5);
    bench.ibsre(0, 1);
    bench.SendIFC(0);
    bench.ibwrt(ud, "*IDN?", 5);
    read(bench, ud, 100);
    bench.ibloc(ud);
    std::vector<Traffic> kinds;
    for (const auto& e : bench.traffic())
        kinds.push_back(e.kind);
    EXPECT_EQ(kinds, (std::vector<Traffic>{Traffic::Open, Traffic::Ren, Traffic::Ifc,
                                           Traffic::Write, Traffic::Read, Traffic::GoToLocal}));
    EXPECT_EQ(bench.traffic()[4].data, "Acme,X1,1,1.0\n");
    EXPECT_EQ(bench.writesTo(5), std::vector<std::string>{"*IDN?"});
}

// A spectrum analyzer whose trace block (501 floats: "#42004", 2004 bytes, line feed) comes
// with the given extra keys.
SimBench traceBench(const std::string& keys) {
    return makeBench(
        "instruments:\n  - {address: 7, kind: spectrum-analyzer, "
        "idn: \"Veltronik,KLT-3,1,1.70\", " +
        keys + "}\n");
}

int askTrace(SimBench& bench) {
    const int ud = open(bench, 0, 7, bus::timeout_codes::T3s);
    bench.ibwrt(ud, "FORM REAL,32", 12);
    bench.ibwrt(ud, "TRAC? TRACE1", 12);
    return ud;
}

TEST(SimBench, BusErrorFaultEndsTheReadThatReachesItAndDropsTheRest) {
    SimBench bench = traceBench("faults: {bus_error_after: 1000}");
    const int ud = askTrace(bench);
    EXPECT_EQ(read(bench, ud, 6), "#42004");
    EXPECT_EQ(read(bench, ud, 600).size(), 600u);  // before the fault: a good read
    EXPECT_FALSE(bench.status().ibsta & ERR);
    const int sta = bench.ibrd(ud, std::string(4096, '\0').data(), 4096);
    EXPECT_EQ(sta & (ERR | TIMO), ERR);
    EXPECT_EQ(bench.status().iberr, err::EBUS);
    EXPECT_EQ(bench.status().ibcntl, 400);
    EXPECT_EQ(read(bench, ud, 10), "");  // the instrument gave up its answer
    EXPECT_TRUE(bench.status().ibsta & TIMO);
}

TEST(SimBench, RateMakesBulkDataTakeTheirTimeButNotShortAnswers) {
    SimBench bench = traceBench("rate_bytes_per_s: 1000");
    const int ud = open(bench, 0, 7);
    int64_t t0 = bench.clock().nowMicros();
    bench.ibwrt(ud, "*IDN?", 5);
    read(bench, ud, 100);
    EXPECT_EQ(bench.clock().nowMicros(), t0);
    const int trace = askTrace(bench);
    t0 = bench.clock().nowMicros();
    EXPECT_EQ(read(bench, trace, 1006).size(), 1006u);
    EXPECT_EQ(bench.clock().nowMicros() - t0, 1'006'000);
    EXPECT_EQ(read(bench, trace, 5000).size(), 1005u);  // the rest and the line feed, with END
    EXPECT_EQ(bench.clock().nowMicros() - t0, 2'011'000);
}

TEST(SimBench, PacedReadEndsAtItsTimeOutOrAtAStopRequest) {
    struct Case {
        const char* rate;
        int stopAfterLooks;  // 0: nobody asks to stop
        int status;
        long got;
        int64_t micros;
    } cases[] = {
        // A dripping instrument: the time-out (3 s) bounds the whole read.
        {"1", 0, ERR | TIMO | CMPL, 3, 3'000'000},
        // Pacing sleeps in slices; a stop request ends the read at the next one.
        {"10", 3, ERR, 10, 100'000},
    };
    for (const Case& c : cases) {
        SimBench bench = traceBench(std::string("rate_bytes_per_s: ") + c.rate);
        int looks = 0;
        bench.setInterruptCheck([&] { return c.stopAfterLooks && ++looks >= c.stopAfterLooks; });
        const int ud = askTrace(bench);
        const int64_t t0 = bench.clock().nowMicros();
        std::string buf(10, '\0');
        EXPECT_EQ(bench.ibrd(ud, buf.data(), 10) & (ERR | TIMO | CMPL), c.status) << c.rate;
        EXPECT_EQ(bench.status().iberr, err::EABO) << c.rate;
        EXPECT_EQ(bench.status().ibcntl, c.got) << c.rate;
        EXPECT_EQ(bench.clock().nowMicros() - t0, c.micros) << c.rate;
    }
}

TEST(SimBench, LargeAnswerReadInSmallPiecesArrivesWhole) {
    // Reads move a mark through the answer; the pieces put together are the answer.
    SimBench bench = traceBench("points: 200000");
    const int ud = askTrace(bench);
    std::string all;
    for (int i = 0; i < 5000 && !(bench.status().ibsta & (END | ERR)); ++i)
        all += read(bench, ud, 200);
    ASSERT_EQ(all.size(), 8u + 800000u + 1u);
    EXPECT_EQ(all.substr(0, 8), "#6800000");
    EXPECT_EQ(all.back(), '\n');
}

TEST(SimBench, ReadToFileWritesTheWholeAnswerOrStopsAtAFailedWrite) {
    constexpr long kAnswer = 8 + 800000 + 1;
    struct Case {
        rlim_t fileLimit;  // 0: none
        int status;
        int iberr;
    } cases[] = {
        {0, END, 0},
        // A full disk: reading stops at the first write that fails, nothing is drained.
        {100'000, ERR, err::EFSO},
    };
    for (const Case& c : cases) {
        SimBench bench = traceBench("points: 200000");
        const int ud = askTrace(bench);
        const auto file = test::makeTempDir("simrdf") / "trace.bin";
        int sta = 0;
        {
            std::optional<test::FileSizeLimit> limit;
            if (c.fileLimit)
                limit.emplace(c.fileLimit);
            sta = bench.ibrdf(ud, file.string());
        }
        EXPECT_EQ(sta & (ERR | END), c.status) << c.fileLimit;
        EXPECT_EQ(bench.status().iberr, c.iberr) << c.fileLimit;
        EXPECT_EQ(bench.count(Traffic::ReadToFile, 7), 1);
        if (c.fileLimit) {
            EXPECT_LT(bench.status().ibcntl, kAnswer);
        } else {
            EXPECT_EQ(bench.status().ibcntl, kAnswer);
            EXPECT_EQ(test::readFile(file).size(), static_cast<size_t>(kAnswer));
        }
    }
}

}  // namespace
}  // namespace benchcap::sim
