#include "trace/acquisition.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/bench_rig.h"
#include "trace/trace_block.h"

namespace benchcap::trace {
namespace {

using test::BenchRig;
using Strings = std::vector<std::string>;

// How a read ended; none for a failure.
std::optional<AcquisitionStatus> statusOf(const AcquisitionResult& r) {
    return r ? std::optional(r->status) : std::nullopt;
}

constexpr const char* kAnalyzers = R"(
instruments:
  - {address: 7, kind: spectrum-analyzer, idn: "Veltronik,KLT-3,1,1.70", traces_shown: [1, 2],
     center_hz: 1.0e9, span_hz: 1.0e7, points: 501}
  - {address: 8, kind: spectrum-analyzer, idn: "Veltronik,KLR20,1,3.1", span_hz: 0,
     sweep_time_s: 0.02, knows_inst_nsel: false}
  - {address: 9, kind: other-maker, idn: "Acme,X,1,1.0"}
)";

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

TEST(ReadAnalyzerTrace, SendsTheTraceCommandsAndBuildsTheFrequencyAxis) {
    BenchRig s(kAnalyzers, 7);
    TraceDataSet data = Previous();
    const AcquisitionResult r = ReadAnalyzerTrace(s.session, s.ui, 2, data);
    ASSERT_EQ(statusOf(r), AcquisitionStatus::Read) << r.error();
    EXPECT_EQ(s.bench.writesTo(7),
              (Strings{"*IDN?", "DISP:TRAC2:STAT?", "FREQ:CENT?", "FREQ:SPAN?", "SWE:TIME?",
                       "FORM REAL,32", "TRAC? TRACE2", "INST:NSEL?"}));
    EXPECT_EQ(s.timeouts(7), (std::vector<int>{14, 11}));
    ASSERT_EQ(data.values.size(), 501u);  // a block of 2004 bytes
    ASSERT_EQ(data.axis.count, 501u);
    EXPECT_EQ(data.axis.at(0), 1e9 - 5e6);
    EXPECT_EQ(data.axis.at(500), 1e9 + 5e6);
    EXPECT_FALSE(data.IsPairs || data.IsSymbolTable || data.IsNetworkTrace);
    for (float v : data.values) {
        ASSERT_TRUE(v > -110 && v < 0) << v;  // dBm: noise floor and carriers
    }
    EXPECT_TRUE(s.ui.boxes().empty());
}

TEST(ReadAnalyzerTrace, OnlyALeadingOneCountsAsShownAndAHiddenTraceChangesNothing) {
    for (const char* answer : {"0", "ON", "21", " 1"}) {
        BenchRig s(kAnalyzers, 7);
        s.bench.instrument(0, 7)->on("DISP:TRAC1:STAT?", [&s, answer](const sim::Command&) {
            s.bench.instrument(0, 7)->respond(answer);
        });
        TraceDataSet data = Previous();
        EXPECT_EQ(statusOf(ReadAnalyzerTrace(s.session, s.ui, 1, data)),
                  AcquisitionStatus::NotActive)
            << answer;
        EXPECT_EQ(s.bench.writesTo(7), (Strings{"*IDN?", "DISP:TRAC1:STAT?"}));
        ExpectPrevious(data);
    }
}

TEST(ReadAnalyzerTrace, ZeroSpanGivesTimeAxisAndSilentModeQueryIsPlain) {
    BenchRig s(kAnalyzers, 8);
    TraceDataSet data = Previous();
    ASSERT_EQ(statusOf(ReadAnalyzerTrace(s.session, s.ui, 1, data)), AcquisitionStatus::Read);
    ASSERT_EQ(data.axis.count, 501u);
    EXPECT_EQ(data.axis.at(500), 0.02);
    // The instrument does not know "INST:NSEL?": the one-character read timed out.
    EXPECT_EQ(s.bench.count(sim::Traffic::Timeout, 8), 1);
    EXPECT_FALSE(data.IsPairs || data.IsSymbolTable);
}

TEST(ReadAnalyzerTrace, UnidentifiedInstrumentIsNotAsked) {
    BenchRig s(kAnalyzers, 9);
    TraceDataSet data = Previous();
    EXPECT_EQ(statusOf(ReadAnalyzerTrace(s.session, s.ui, 1, data)), AcquisitionStatus::NotReady);
    EXPECT_EQ(s.bench.writesTo(9), Strings{"*IDN?"});
    ExpectPrevious(data);
}

std::string VectorBench(const std::string& mode) {
    return R"(
instruments:
  - {address: 20, kind: vector-analyzer, idn: "Veltronik,KLVZ26,1,2.10", span_hz: 0,
     sweep_time_s: 0, vector_mode: )" +
           mode + "}\n";
}

// Plain and paired layouts; one that fits nothing is shown as plain after a message.
TEST(ReadAnalyzerTrace, VectorLayouts) {
    const struct {
        const char* layout;
        const char* pointsPerSymbol;  // the instrument's answer instead of its own
        std::size_t values;
        bool pairs;
        const char* notice;
        double x5;  // symbol axis: x = index / points per symbol
    } cases[] = {
        {"plain", nullptr, 400, false, "", 1.25},
        {"pairs", nullptr, 800, true, "", 1.25},
        {"plain", "3", 400, false, "unknown numerical format!", 5.0 / 3},
    };
    for (const auto& c : cases) {
        BenchRig s(VectorBench("{symbols: 100, points_per_symbol: 4, layout: " +
                               std::string(c.layout) + "}"),
                   20);
        if (c.pointsPerSymbol) {
            s.bench.instrument(0, 20)->on("SENS:DDEM:PRAT?", [&s, &c](const sim::Command&) {
                s.bench.instrument(0, 20)->respond(c.pointsPerSymbol);
            });
        }
        TraceDataSet data;
        data.IsSymbolTable = true;  // left from an earlier read
        const AcquisitionResult r = ReadAnalyzerTrace(s.session, s.ui, 1, data);
        ASSERT_EQ(statusOf(r), AcquisitionStatus::Read) << c.layout << " " << c.notice;
        EXPECT_EQ(r->notice, c.notice);
        ASSERT_EQ(s.ui.boxes().size(), *c.notice ? 1u : 0u);
        if (*c.notice) {
            EXPECT_EQ(s.ui.boxes()[0].title, "");
            EXPECT_EQ(s.ui.boxes()[0].text, c.notice);
        }
        EXPECT_EQ(data.values.size(), c.values);
        EXPECT_EQ(data.axis.count, c.values);
        EXPECT_DOUBLE_EQ(data.axis.at(5), c.x5);
        EXPECT_EQ(data.IsPairs, c.pairs);
        EXPECT_FALSE(data.IsSymbolTable);
        const Strings w = s.bench.writesTo(20);
        EXPECT_EQ(Strings(w.end() - 3, w.end()),
                  (Strings{"INST:NSEL?", "SENS:DDEM:TIME?", "SENS:DDEM:PRAT?"}));
    }
}

TEST(ReadAnalyzerTrace, SymbolTableIsReadAgainAsBytesAndUnpacked) {
    BenchRig s(VectorBench("{symbols: 100, points_per_symbol: 4, format: QAM, states: 16, "
                           "layout: symbols}"),
               20);
    TraceDataSet data;
    ASSERT_EQ(statusOf(ReadAnalyzerTrace(s.session, s.ui, 1, data)), AcquisitionStatus::Read);
    const Strings w = s.bench.writesTo(20);
    EXPECT_EQ(Strings(w.begin() + 8, w.end()),
              (Strings{"SENS:DDEM:TIME?", "SENS:DDEM:PRAT?", "SENS:DDEM:FORM?",
                       "SENS:DDEM:QAM:NST?", "FORM UINT,8", "TRAC? TRACE1"}));
    EXPECT_EQ(s.timeouts(20), (std::vector<int>{14, 11, 14}));  // left at 30 s
    EXPECT_TRUE(data.IsSymbolTable);
    EXPECT_EQ(data.BitsPerSymbol, 4);
    ASSERT_EQ(data.bits.size(), 400u);
    EXPECT_EQ(data.axis.count, 400u);

    // The bits are the symbols the instrument sends as numbers, most significant first.
    s.session.WriteDevice("FORM REAL,32");
    s.session.WriteDevice("TRAC? TRACE1");
    const Result<std::vector<float>> block = ReadReal32Block(s.session);
    ASSERT_TRUE(block) << block.error();
    const std::vector<float>& symbols = *block;
    ASSERT_EQ(symbols.size(), 100u);
    for (std::size_t i = 0; i < symbols.size(); ++i) {
        const int v = static_cast<int>(symbols[i]);
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

TEST(UnpackSymbols, MostSignificantUsedBitFirst) {
    EXPECT_EQ(UnpackSymbols({6}, 3), (std::vector<uint8_t>{1, 1, 0}));     // 8PSK
    EXPECT_EQ(UnpackSymbols({0xFE, 1}, 1), (std::vector<uint8_t>{0, 1}));  // upper bits ignored
}

TEST(CutAnswer, BlanksAndFillingGoAndALeadingNulEndsTheAnswer) {
    EXPECT_EQ(CutAnswer(std::string(" QAM \n\0\0", 8)), "QAM");
    EXPECT_EQ(CutAnswer(std::string("\0PSK", 4)), "");
}

TEST(ReadAnalyzerTrace, UnknownModulationRefusesTheSymbolTable) {
    BenchRig s(
        VectorBench("{symbols: 50, points_per_symbol: 2, format: PSK, states: 4, layout: symbols}"),
        20);
    TraceDataSet data = Previous();
    const AcquisitionResult r = ReadAnalyzerTrace(s.session, s.ui, 1, data);
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.error().find("\"PSK\" with \"4\" states is not known"), std::string::npos)
        << r.error();
    EXPECT_EQ(s.bench.writesTo(20).back(), "SENS:DDEM:PSK:NST?");  // no second block asked for
    ExpectPrevious(data);
}

TEST(ReadAnalyzerTrace, BrokenBlocksAreFailedReadsThatKeepThePreviousTrace) {
    const struct {
        const char* faults;
        const char* error;
    } cases[] = {
        {"{block_header: \"X4\"}", "does not start with a block header"},
        {"{block_header: \"#4ab\"}", "is not a decimal number"},
        {"{block_header: \"#0\"}", "indefinite-length block"},
        {"{block_header: \"#3999\"}", "not a whole number of 32-bit values"},
        {"{block_header: \"#42008\"}", "broke off after 2005 of 2008 bytes."},
        // Nine digits bound the length below 1 GB; what is read grows only with what comes.
        {"{block_header: \"#9400000000\"}", "broke off after 2005 of 400000000 bytes."},
        {"{block_header: \"#A9999999999\"}", "does not start with a block header"},
        // Fewer bytes than sent: the header lied, so no part of the data can be trusted.
        {"{block_header: \"#212\"}", "announced 12 bytes, but more data followed"},
        {"{block_cut_after: 1000}", "broke off after 1000 of 2004 bytes (time-out)"},
        {"{bus_error_after: 1000}", "broke off after 1000 of 2004 bytes (driver error EBUS)"},
        {"{silent_after: 6}", "no block header arrived (time-out)"},
    };
    for (const auto& c : cases) {
        BenchRig s(std::string(R"(
instruments:
  - {address: 7, kind: spectrum-analyzer, idn: "Veltronik,KLT-3,1,1.70", faults: )") +
                       c.faults + "}\n",
                   7);
        TraceDataSet data = Previous();
        const AcquisitionResult r = ReadAnalyzerTrace(s.session, s.ui, 1, data);
        ASSERT_FALSE(r.ok()) << c.faults;
        EXPECT_NE(r.error().find(c.error), std::string::npos) << c.faults << ": " << r.error();
        ExpectPrevious(data);
    }
}

constexpr const char* kNetwork = R"(
instruments:
  - {address: 16, kind: network-analyzer, idn: "Veltronik,NQD8,1,1.45", points: 201,
     start_hz: 1.0e9, stop_hz: 3.0e9, channels: {1: real, 2: complex}}
)";

TEST(ReadNetworkTrace, RealChannelHasOneValuePerStimulusPointComplexOnePair) {
    for (const int channel : {1, 2}) {
        BenchRig s(kNetwork, 16);
        TraceDataSet data = Previous();
        ASSERT_EQ(statusOf(ReadNetworkTrace(s.session, channel, data)), AcquisitionStatus::Read);
        const std::string ch = "CH" + std::to_string(channel) + "DATA";
        EXPECT_EQ(s.bench.writesTo(16), (Strings{"*IDN?", "FORM REAL,32", "FORM:DEXP:SOUR DDAT",
                                                 "TRAC? " + ch, "TRAC:STIM? " + ch}));
        EXPECT_EQ(s.timeouts(16), std::vector<int>{14});
        EXPECT_EQ(data.values.size(), 201u * channel);
        ASSERT_EQ(data.axis32.size(), 201u);
        EXPECT_EQ(data.axis32.front(), 1e9f);
        EXPECT_EQ(data.axis32.back(), 3e9f);
        EXPECT_TRUE(data.IsNetworkTrace);
        EXPECT_EQ(data.IsPairs, channel == 2);
        EXPECT_EQ(data.BitsPerSymbol, 7);  // not touched
    }
}

// Data that fits neither layout, a stop request between the two blocks, a missing channel.
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
        {3, [](BenchRig&) {}, "time-out"},
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
