#include "trace/acquisition.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/bench_rig.h"
#include "support/golden.h"
#include "trace/trace_block.h"

namespace benchcap::trace {
namespace {

using test::BenchRig;

// How a read ended; none for a failure.
std::optional<AcquisitionStatus> statusOf(const AcquisitionResult& r) {
    return r ? std::optional(r->status) : std::nullopt;
}

// A data set that must survive every failed read.
TraceDataSet Previous() {
    TraceDataSet d;
    d.values = {-1.0f, -2.0f};
    d.axis = AnalyzerAxis::Of(2, 1.5, 1, 0, 0);  // 1, 2
    d.BitsPerSymbol = 7;
    return d;
}

void ExpectPrevious(const TraceDataSet& d) {
    EXPECT_EQ(d.values, (std::vector<float>{-1.0f, -2.0f}));
    EXPECT_TRUE(d.axis.count == 2 && d.axis.at(0) == 1.0 && d.axis.at(1) == 2.0);
    EXPECT_EQ(d.BitsPerSymbol, 7);
    EXPECT_FALSE(d.IsPairs || d.IsSymbolTable || d.IsNetworkTrace);
}

std::string Num(double v) {
    char b[32];
    std::snprintf(b, sizeof b, "%.10g", v);
    return b;
}

// "analyzer N {instrument}" or "network N {instrument}": reads trace or channel N of the one
// instrument of a bench into a data set holding the previous trace (with every layout flag
// set, so that a new trace must clear them), and tells what was sent and what is in it now.
std::string Acquired(const std::string& input) {
    const size_t space = input.find(' ');
    const int n = std::stoi(input.substr(space + 1));
    std::string instrument = input.substr(input.find(' ', space + 1) + 1);
    const size_t answering = instrument.find(" answering ");
    const std::string query =
        answering == std::string::npos ? "" : instrument.substr(answering + 11);
    instrument = instrument.substr(0, answering);
    const int address = std::stoi(instrument.substr(instrument.find("address: ") + 9));
    BenchRig s("instruments:\n  - " + instrument + "\n", address);
    if (!query.empty()) {  // "QUERY with ANSWER": the instrument's answer instead of its own
        sim::SimInstrument* inst = s.bench.instrument(0, address);
        const std::string answer = query.substr(query.find(" with ") + 6);
        inst->on(query.substr(0, query.find(" with ")),
                 [inst, answer](const sim::Command&) { inst->respond(answer); });
    }
    TraceDataSet d = Previous();
    d.IsPairs = d.IsSymbolTable = d.IsNetworkTrace = true;
    const AcquisitionResult r =
        input.starts_with("network")
            ? ReadNetworkTrace(s.session, static_cast<int16_t>(n), d)
            : ReadAnalyzerTrace(s.session, s.ui, static_cast<int16_t>(n), d);
    std::string out = "sent";
    for (const std::string& w : s.bench.writesTo(address))
        out += " | " + w;
    out += "\ntime-outs";
    for (const int t : s.timeouts(address))
        out += " " + std::to_string(t);
    out +=
        ", " + std::to_string(s.bench.count(sim::Traffic::Timeout, address)) + " reads timed out";
    static const char* kStatus[] = {"read", "not ready", "not active"};
    static const char* kKinds[] = {"other",     "interrupted", "time-out", "not reachable",
                                   "bus error", "bad data",    "file",     "refused",
                                   "declined",  "usage"};
    out += "\n" + (r ? std::string(kStatus[static_cast<int>(r->status)]) +
                           (r->notice.empty() ? "" : ", notice " + r->notice)
                     : "failed, " + std::string(kKinds[static_cast<int>(r.errorKind())]) + ": " +
                           r.error());
    for (const auto& box : s.ui.boxes())
        out += "\nbox \"" + box.title + "\" \"" + box.text + "\"";
    out += "\nvalues " + std::to_string(d.values.size()) + ", bits " +
           std::to_string(d.bits.size()) + " of " + std::to_string(d.BitsPerSymbol) + ", axis " +
           std::to_string(d.axis.count);
    if (d.axis.count > 5)
        out += ": " + Num(d.axis.at(0)) + " " + Num(d.axis.at(5)) + " .. " +
               Num(d.axis.at(d.axis.count - 1));
    if (!d.axis32.empty())
        out += ", stimulus " + std::to_string(d.axis32.size()) + ": " + Num(d.axis32.front()) +
               " .. " + Num(d.axis32.back());
    out += std::string(d.IsPairs ? ", pairs" : "") + (d.IsSymbolTable ? ", symbols" : "") +
           (d.IsNetworkTrace ? ", network" : "") + "\n";
    return out;
}

TEST(ReadTrace, CommandsLayoutsAndFailuresOfTheBench) {
    test::checkGolden("golden/trace-acquisition.txt", Acquired);
}

// The bits are the symbols the instrument sends as numbers, most significant first.
TEST(ReadAnalyzerTrace, SymbolTableIsReadAgainAsBytesAndUnpacked) {
    BenchRig s(R"(
instruments:
  - {address: 20, kind: vector-analyzer, idn: "Veltronik,KLVZ26,1,2.10", span_hz: 0,
     sweep_time_s: 0, vector_mode: {symbols: 100, points_per_symbol: 4, format: QAM,
     states: 16, layout: symbols}})",
               20);
    TraceDataSet data;
    ASSERT_EQ(statusOf(ReadAnalyzerTrace(s.session, s.ui, 1, data)), AcquisitionStatus::Read);
    s.session.WriteDevice("FORM REAL,32");
    s.session.WriteDevice("TRAC? TRACE1");
    const Result<std::vector<float>> symbols = ReadReal32Block(s.session);
    ASSERT_TRUE(symbols) << symbols.error();
    ASSERT_EQ(symbols->size() * 4, data.bits.size());
    for (std::size_t i = 0; i < symbols->size(); ++i) {
        const int v = static_cast<int>((*symbols)[i]);
        for (int j = 0; j < 4; ++j) {
            ASSERT_EQ(data.bits[4 * i + j], (v >> (3 - j)) & 1) << "symbol " << i;
        }
    }
}

// The float array of a block ends exactly as long as the trace: a long trace grown by
// doubling would keep up to twice its size, and every growth step holds the old array
// beside the new one.
TEST(ReadReal32Block, ArrayIsExactlyAsLongAsTheBlock) {
    for (const int points : {501, 1000001, 2000001, 9000001}) {
        SCOPED_TRACE(testing::Message() << points << " points");
        BenchRig s(R"(
instruments:
  - {address: 7, kind: spectrum-analyzer, idn: "Veltronik,KLT-3,1,1.70", points: )" +
                       std::to_string(points) + "}\n",
                   7);
        s.identify(7);
        s.session.WriteDevice("FORM REAL,32");
        s.session.WriteDevice("TRAC? TRACE1");
        const Result<std::vector<float>> block = ReadReal32Block(s.session);
        ASSERT_TRUE(block) << block.error();
        EXPECT_EQ(block->size(), static_cast<std::size_t>(points));
        EXPECT_EQ(block->capacity(), block->size());
        EXPECT_TRUE(block->back() > -110 && block->back() < 0) << block->back();
    }
}

// A drifting source keeps finite levels however long the bench runs: the 6 hours of a
// recording, and far beyond.
TEST(ReadReal32Block, DriftingLevelsStayFiniteAndBounded) {
    BenchRig s(
        "instruments:\n  - {address: 7, kind: spectrum-analyzer, idn: \"Veltronik,KLT-3,1,"
        "1.70\", drift_db_per_s: 1000}\n",
        7);
    s.identify(7);
    for (const int64_t seconds : {int64_t{6 * 3600}, int64_t{1} << 40}) {
        s.bench.clock().sleepMicros(seconds * 1'000'000 - s.bench.clock().nowMicros());
        s.session.WriteDevice("FORM REAL,32;TRAC? TRACE1");
        const Result<std::vector<float>> b = ReadReal32Block(s.session);
        EXPECT_TRUE(b &&
                    std::ranges::all_of(*b, [](float v) { return std::isfinite(v) && v < 40; }))
            << b.error() << " after " << seconds << " s";
    }
}

constexpr const char* kNetwork = R"(
instruments:
  - {address: 16, kind: network-analyzer, idn: "Veltronik,NQD8,1,1.45", points: 201,
     start_hz: 1.0e9, stop_hz: 3.0e9, channels: {1: real, 2: complex}}
)";

// Data that fits neither layout, a stop request between the two blocks.
TEST(ReadNetworkTrace, FailedReadsKeepThePreviousTrace) {
    const struct {
        int channel;
        std::function<void(BenchRig&)> setup;
        std::string error;
    } cases[] = {
        {2,
         [](BenchRig& s) {
             s.bench.instrument(0, 16)->on("TRAC:STIM?", [&s](const sim::Command&) {
                 // 402 values are three per point of 134
                 s.bench.instrument(0, 16)->respondBlock(std::string(4 * 134, '\0'));
             });
         },
         "402 values for 134 stimulus points"},
        {1,
         [](BenchRig& s) {
             auto stop = std::make_shared<bool>(false);
             s.session.setInterruptCheck([stop] { return *stop; });
             s.bench.instrument(0, 16)->on("TRAC:STIM?",
                                           [stop](const sim::Command&) { *stop = true; });
         },
         bus::kInterruptedMessage},
    };
    for (const auto& c : cases) {
        BenchRig s(kNetwork, 16);
        c.setup(s);
        TraceDataSet data = Previous();
        const AcquisitionResult r = ReadNetworkTrace(s.session, c.channel, data);
        ASSERT_FALSE(r.ok());
        EXPECT_NE(r.error().find(c.error), std::string::npos) << r.error();
        ExpectPrevious(data);
    }
}

}  // namespace
}  // namespace benchcap::trace
