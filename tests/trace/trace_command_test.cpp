#include "trace/trace_command.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/bench_rig.h"
#include "support/golden.h"
#include "support/test_paths.h"
#include "support/traffic_text.h"
#include "trace/trace_text.h"

namespace benchcap::trace {
namespace {

using test::BenchRig;
using Strings = std::vector<std::string>;

constexpr const char* kBench = R"(
instruments:
  - {address: 7, kind: spectrum-analyzer, idn: "Veltronik,KLT-3,1,1.70", traces_shown: [1, 3]}
  - {address: 9, kind: other-maker, idn: "Veltronik,KLD4,1,1.02"}
  - {address: 10, kind: other-maker, idn: "Veltronik,PBH2,1,1.0"}
  - {address: 16, kind: network-analyzer, idn: "Veltronik,NQD8,1,1.45",
     channels: {1: real, 2: complex}}
  - {address: 20, kind: vector-analyzer, idn: "Veltronik,KLVZ26,1,2.10", traces_shown: [4]}
  - {address: 21, kind: spectrum-analyzer, idn: "Veltronik,KLT-3,1,1.70", points: 11,
     span_hz: 1000, center_hz: 750, faults: {block_cut_after: 20}}
)";

// InitDevice, then the trace command; status-line texts collected.
struct CommandRun {
    CommandRun(int address, int trace, TraceState& state, char separator = '.')
        : sim(kBench, address) {
        sim.session.OpenDevice();
        sim.session.IdentifyDevice();
        result = RunTraceCommand(sim.session, sim.ui, trace, separator, state,
                                 [this](std::string_view t) { status.emplace_back(t); });
    }
    BenchRig sim;
    TraceCommandResult result;
    Strings status;
};

// "ADDRESS TRACE [comma]": the trace command on a state that holds trace 1 of the KLT at 7:
// its outcome and message, the status line, what was sent, the return to local control and
// the state afterwards (kept or new; the text always TraceText's of the data).
std::string Command(const std::string& input) {
    std::istringstream in(input);
    int address = 0, trace = 0;
    std::string comma;
    in >> address >> trace >> comma;
    TraceState state;
    CommandRun(7, 1, state);
    const std::string before = state.text;
    CommandRun run(address, trace, state, comma.empty() ? '.' : ',');
    EXPECT_EQ(state.text, TraceText(GenTraceField(state.data), comma.empty() ? '.' : ','));
    std::string out = "outcome " + std::to_string(static_cast<int>(run.result.outcome)) +
                      (run.result.status ? "" : ": " + run.result.status.error()) +
                      (run.result.isNetworkTrace ? " (network)" : "") + "\nstatus";
    for (const std::string& status : run.status)
        out += " | " + status;
    out += "\nsent";
    for (const std::string& w : run.sim.bench.writesTo(address))
        out += " | " + w;
    return out + "\nlocal " +
           std::to_string(run.sim.bench.count(sim::Traffic::GoToLocal, address)) + "\n" +
           (state.text == before ? "kept" : "new") + " trace of " +
           std::to_string(state.field.RowCount()) + " rows, " +
           std::to_string(state.field.ColumnCount()) +
           " columns: " + test::shownBytes(state.text.substr(0, state.text.find('\n') + 1)) + "\n";
}

TEST(RunTraceCommand, ReadsTabulatesAndWritesTheTextOrKeepsThePreviousTrace) {
    test::checkGolden("golden/trace-commands.txt", Command);
    TraceState state;
    CommandRun(10, 1, state);  // nothing read yet: nothing to keep
    EXPECT_FALSE(state.hasTrace);
}

TEST(RunTraceCommand, StreamedTextIsLeftToTheWriter) {
    TraceState state;
    state.text = "the previous trace";
    BenchRig sim(kBench, 7);
    sim.session.OpenDevice();
    sim.session.IdentifyDevice();
    const TraceCommandResult result =
        RunTraceCommand(sim.session, sim.ui, 1, '.', state, {}, TraceTextUse::Streamed);
    ASSERT_EQ(result.outcome, TraceOutcome::Done) << result.status.error();
    EXPECT_EQ(state.text, "");
    EXPECT_EQ(state.field.RowCount(), state.data.values.size());
    EXPECT_NE(TraceText(state.field, '.'), "");
}

TEST(WriteTraceFile, TextPlusCrLfOrTheStreamedTableAlike) {
    const auto dir = test::makeTempDir("tracefile");
    const auto path = dir / "T.TXT";
    ASSERT_TRUE(WriteTraceFile(path, "250\t-80.5\r\n"));
    EXPECT_EQ(test::readFile(path), "250\t-80.5\r\n\r\n");
    // Overwriting works, and the table is streamed to the same bytes as the text plus CR LF.
    TraceDataSet data;
    data.values.resize(3 * 64 * 1024 + 5);
    for (std::size_t i = 0; i < data.values.size(); ++i)
        data.values[i] = -80.0f + static_cast<float>(i % 100) * 0.25f;
    data.axis = AnalyzerAxis::Of(data.values.size(), 1e9, 1e8, 0, 0);
    const TraceField field = GenTraceField(data);
    ASSERT_TRUE(WriteTraceFile(path, field, ','));
    EXPECT_TRUE(test::readFile(path) == TraceText(field, ',') + "\r\n");
    ASSERT_TRUE(WriteTraceFile(path, TraceField{}, ','));
    EXPECT_EQ(test::readFile(path), "\r\n");
}

}  // namespace
}  // namespace benchcap::trace
