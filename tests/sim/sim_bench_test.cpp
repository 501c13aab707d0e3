#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <regex>
#include <sstream>

#include "sim/sim_bench.h"
#include "support/bench_rig.h"
#include "support/file_faults.h"
#include "support/golden.h"
#include "support/test_paths.h"
#include "support/traffic_text.h"

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

// "BENCH | CALL; CALL; ...": driver calls on the two-board bench ("two-boards") or on a
// spectrum analyzer at 7 with extra keys ("trace KEYS"), and per call its result, status
// bits, error, count, the bytes read and the bench time it took. "@" is the handle of the
// last "dev BOARD ADDRESS [TMO]"; "traffic" lists what the bench has logged.
std::string Calls(const std::string& input);

TEST(SimBench, DriverCallsOnTheBench) {
    test::checkGolden("golden/sim-driver-calls.txt", Calls);
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

// Pacing sleeps in slices; a stop request ends the read at the next one.
TEST(SimBench, PacedReadEndsAtAStopRequest) {
    SimBench bench = traceBench("rate_bytes_per_s: 10");
    int looks = 0;
    bench.setInterruptCheck([&] { return ++looks >= 3; });
    const int ud = askTrace(bench);
    const int64_t t0 = bench.clock().nowMicros();
    std::string buf(10, '\0');
    EXPECT_EQ(bench.ibrd(ud, buf.data(), 10) & (ERR | TIMO | CMPL), ERR);
    EXPECT_EQ(bench.status().iberr, err::EABO);
    EXPECT_EQ(bench.status().ibcntl, 10);
    EXPECT_EQ(bench.clock().nowMicros() - t0, 100'000);
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

std::string Calls(const std::string& input) {
    const size_t bar = input.find(" | ");
    const std::string name = input.substr(0, bar);
    SimBench bench = makeBench(name == "two-boards" ? std::string(kTwoBoards)
                                                    : "instruments:\n  - {address: 7, kind: "
                                                      "spectrum-analyzer, idn: \"Veltronik,KLT-3,1,"
                                                      "1.70\", " +
                                                          name.substr(6) + "}\n");
    std::istringstream calls(input.substr(bar + 3));
    std::string call, out;
    int last = -1;
    while (std::getline(calls, call, ';')) {
        std::istringstream in(call);
        std::string what, text;
        in >> what;
        const auto arg = [&in, &last] {
            std::string a;
            in >> a;
            return a == "@" ? last : std::stoi(a);
        };
        const int64_t t0 = bench.clock().nowMicros();
        int value = 0;
        std::string got;
        if (what == "traffic") {
            for (const auto& e : bench.traffic())
                out += test::trafficText(e) + "\n";
            continue;
        }
        if (what == "find") {
            in >> text;
            value = bench.ibfind(text);
        } else if (what == "dev") {
            const int board = arg(), address = arg();
            int tmo = 11;
            in >> tmo;
            value = last = bench.ibdev(board, address, 0x60, tmo, 1, 0);
        } else if (what == "wrt") {
            const int ud = arg();
            std::getline(in >> std::ws, text);
            value = bench.ibwrt(ud, text.data(), static_cast<long>(text.size()));
        } else if (what == "ifc") {
            bench.SendIFC(arg());
        } else if (what == "loc") {
            value = bench.ibloc(arg());
        } else if (what == "rd") {
            const int ud = arg();
            got.resize(static_cast<size_t>(arg()));
            value = bench.ibrd(ud, got.data(), static_cast<long>(got.size()));
            got.resize(static_cast<size_t>(std::max(0, bench.status().ibcntl)));
        } else if (what == "ask") {
            const int ud = arg(), option = arg();
            bench.ibask(ud, option, &value);
        } else {
            const int ud = arg(), v = arg();
            value = what == "tmo"      ? bench.ibtmo(ud, v)
                    : what == "onl"    ? bench.ibonl(ud, v)
                    : what == "pad"    ? bench.ibpad(ud, v)
                    : what == "rsc"    ? bench.ibrsc(ud, v)
                    : what == "sre"    ? bench.ibsre(ud, v)
                    : what == "wait"   ? bench.ibwait(ud, v)
                    : what == "config" ? bench.ibconfig(ud, v, arg())
                                       : -999;
        }
        const bus::DriverStatus st = bench.status();
        out += call.substr(call.find_first_not_of(' ')) + " -> " + std::to_string(value) + ":";
        static const std::pair<int, const char*> kBits[] = {{ERR, "ERR"}, {TIMO, "TIMO"},
                                                            {END, "END"}, {CMPL, "CMPL"},
                                                            {CIC, "CIC"}, {LACS, "LACS"}};
        for (const auto& [bit, bitName] : kBits)
            out += st.ibsta & bit ? std::string(" ") + bitName : "";
        if (st.ibsta & ERR)
            out += " " + bus::iberrName(st.iberr);
        out += " count " + std::to_string(st.ibcntl);
        if (what == "rd")
            out += got.size() > 40
                       ? " (" + std::to_string(got.size()) + " bytes)"
                       : " \"" + std::regex_replace(got, std::regex("\n"), "\\n") + "\"";
        if (const int64_t took = bench.clock().nowMicros() - t0)
            out += " +" + std::to_string(took) + " us";
        out += "\n";
    }
    return out;
}

}  // namespace
}  // namespace benchcap::sim
