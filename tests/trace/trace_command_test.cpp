#include "trace/trace_command.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "support/bench_rig.h"
#include "support/file_faults.h"
#include "support/test_paths.h"
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

TEST(RunTraceCommand, ReadsTabulatesAndWritesTheText) {
    TraceState state;
    CommandRun run(7, 1, state, ',');
    ASSERT_EQ(run.result.outcome, TraceOutcome::Done) << run.result.message;
    EXPECT_EQ(run.status, (Strings{"reading trace...", "reading finished", "idle"}));
    EXPECT_EQ(run.sim.bench.count(sim::Traffic::GoToLocal, 7), 1);
    EXPECT_TRUE(state.hasTrace);
    // The text is TraceText's of the trace read (its numbers: trace_text_test,
    // acquisition_test), with the separator given.
    EXPECT_EQ(state.text, TraceText(GenTraceField(state.data), ','));

    CommandRun klvz(20, 4, state);  // trace 4 is there on the larger analyzers
    EXPECT_EQ(klvz.result.outcome, TraceOutcome::Done) << klvz.result.message;
    // A network trace of complex points has three cells per line.
    CommandRun network(16, 2, state);
    ASSERT_EQ(network.result.outcome, TraceOutcome::Done) << network.result.message;
    EXPECT_TRUE(network.result.isNetworkTrace);
    EXPECT_EQ(state.field.ColumnCount(), 3u);
    EXPECT_EQ(state.text, TraceText(GenTraceField(state.data), '.'));
}

// Refusals before any read, and failed or inactive reads: the previous trace stays.
TEST(RunTraceCommand, RefusedOrFailedCommandsKeepThePreviousTrace) {
    const Strings read = {"reading trace...", "reading finished", "idle"}, none;
    const struct {
        int address, trace;
        TraceOutcome outcome;
        const char* message;
        Strings status;
        bool onlyIdentified;  // nothing but "*IDN?" was sent
    } cases[] = {
        {7, 4, TraceOutcome::NumberNotSupported, "Trace 4 is not supported by the instrument!",
         none, true},
        {7, 0, TraceOutcome::NumberNotSupported, "Trace 0 is not supported by the instrument!",
         none, true},
        {9, 1, TraceOutcome::NotSupported, "Trace data is not supported for KLD",
         Strings{"trace data not supported."}, true},
        {10, 1, TraceOutcome::NotActivated, "Trace 1 is not activated!", read, true},
        {7, 2, TraceOutcome::NotActivated, "Trace 2 is not activated!", read, false},
        {21, 1, TraceOutcome::Failed, "broke off after 20 of 44 bytes", read, false},
    };
    TraceState state;
    CommandRun(10, 1, state);
    EXPECT_FALSE(state.hasTrace);
    CommandRun first(7, 1, state);
    ASSERT_EQ(first.result.outcome, TraceOutcome::Done);
    const std::string text = state.text;
    const std::vector<float> values = state.data.values;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        CommandRun run(c.address, c.trace, state);
        EXPECT_EQ(run.result.outcome, c.outcome);
        EXPECT_NE(run.result.message.find(c.message), std::string::npos) << run.result.message;
        EXPECT_EQ(run.status, c.status);
        if (c.onlyIdentified) {
            EXPECT_EQ(run.sim.bench.writesTo(c.address), Strings{"*IDN?"});
        } else {
            EXPECT_EQ(run.sim.bench.count(sim::Traffic::GoToLocal, c.address), 1);
        }
        EXPECT_EQ(state.text, text);
        EXPECT_EQ(state.data.values, values);
        EXPECT_EQ(state.field.RowCount(), 501u);
    }
}

TEST(RunTraceCommand, StreamedTextIsLeftToTheWriter) {
    TraceState state;
    state.text = "the previous trace";
    BenchRig sim(kBench, 7);
    sim.session.OpenDevice();
    sim.session.IdentifyDevice();
    const TraceCommandResult result =
        RunTraceCommand(sim.session, sim.ui, 1, '.', state, {}, TraceTextUse::Streamed);
    ASSERT_EQ(result.outcome, TraceOutcome::Done) << result.message;
    EXPECT_EQ(state.text, "");
    EXPECT_EQ(state.field.RowCount(), state.data.values.size());
    EXPECT_NE(TraceText(state.field, '.'), "");
}

TEST(WriteTraceFile, TextPlusCrLfUnderTheFinalNameOnlyOrAnErrorThatKeepsTheOldFile) {
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

    // The disk fills up in the middle of a long trace.
    FileCalls calls = FileCalls::system();
    calls.write = [room = std::size_t{1} << 20](int fd, const void* bytes,
                                                std::size_t size) mutable -> ssize_t {
        if (size > room) {
            errno = ENOSPC;
            return -1;
        }
        room -= size;
        return ::write(fd, bytes, size);
    };
    const Status full = WriteTraceFile(path, field, '.', calls);
    EXPECT_NE(full.error().find(path.string()), std::string::npos) << full.error();
    EXPECT_NE(full.error().find("No space left on device"), std::string::npos) << full.error();
    EXPECT_EQ(test::readFile(path), "\r\n");
    EXPECT_EQ(test::folderEntries(dir), 1);
}

}  // namespace
}  // namespace benchcap::trace
