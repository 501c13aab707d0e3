#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <sstream>

#include <cstdint>
#include <filesystem>
#include "interfaces/interface_table.h"
#include "sim/bench_config.h"
#include "sim/instrument_kinds.h"
#include "sim/sim_bench.h"
#include "support/bench_rig.h"
#include "support/file_faults.h"
#include "support/golden.h"
#include "support/test_paths.h"
#include "support/traffic_text.h"

namespace benchcap::sim {
namespace {

using namespace bus::ibsta_bits;

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

// "BENCH | CALL; CALL; ...": driver calls on the two-board bench ("two-boards") or on a
// spectrum analyzer at 7 with extra keys ("trace KEYS"), and per call its result, status
// bits, error, count, the bytes read and the bench time it took. "@" is the handle of the
// last "dev BOARD ADDRESS [TMO]"; "clr UD" is ibclr; "traffic" lists what the bench has logged;
// "stop N" asks to stop at the Nth look; "pieces UD N" reads N bytes at a time up to END or an
// error; "rdf UD LIMIT" reads into a file under a file-size limit (0: none).
std::string Calls(const std::string& input);

TEST(SimBench, DriverCallsOnTheBench) {
    test::checkGolden("golden/sim-driver-calls.txt", Calls);
}

// Line feeds as \n, other bytes outside printable ASCII as \xNN.
std::string printable(const std::string& bytes) {
    std::string out;
    for (const unsigned char c : bytes) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", c);
        out += c == '\n'               ? "\\n"
               : c >= 0x20 && c < 0x7F ? std::string(1, static_cast<char>(c))
                                       : hex;
    }
    return out;
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
        if (what == "stop") {
            bench.setInterruptCheck(
                [looks = 0, after = arg()]() mutable { return ++looks >= after; });
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
        } else if (what == "loc" || what == "clr") {
            value = what == "loc" ? bench.ibloc(arg()) : bench.ibclr(arg());
        } else if (what == "rd") {
            const int ud = arg();
            got.resize(static_cast<size_t>(arg()));
            value = bench.ibrd(ud, got.data(), static_cast<long>(got.size()));
            got.resize(static_cast<size_t>(std::max(0, bench.status().ibcntl)));
        } else if (what == "pieces") {
            const int ud = arg(), size = arg();
            std::string all, piece;
            int reads = 0;
            do {
                piece.assign(static_cast<size_t>(size), '\0');
                value = bench.ibrd(ud, piece.data(), size);
                all += piece.substr(0, static_cast<size_t>(std::max(0, bench.status().ibcntl)));
            } while (++reads < 10000 && !(bench.status().ibsta & (END | ERR)));
            got = std::to_string(all.size()) + " bytes in " + std::to_string(reads) +
                  " reads: " + all.substr(0, 8) + "..." + all.substr(all.size() - 1);
        } else if (what == "rdf") {
            const int ud = arg(), limit = arg();
            const auto file = test::makeTempDir("simrdf") / "answer.bin";
            {
                std::optional<test::FileSizeLimit> fileLimit;
                if (limit)
                    fileLimit.emplace(static_cast<rlim_t>(limit));
                value = bench.ibrdf(ud, file.string());
            }
            got = "file of " + std::to_string(test::readFile(file).size()) + " bytes, logged " +
                  std::to_string(bench.count(Traffic::ReadToFile)) + " time(s)";
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
        if (what == "rd" || what == "pieces" || what == "rdf")
            out += got.size() > 40 ? " (" + std::to_string(got.size()) + " bytes)"
                                   : " \"" + printable(got) + "\"";
        if (const int64_t took = bench.clock().nowMicros() - t0)
            out += " +" + std::to_string(took) + " us";
        out += "\n";
    }
    return out;
}

}  // namespace
}  // namespace benchcap::sim
