#include "trace/trace_command.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/bench_rig.h"
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

TEST(HighestTraceNumber, ThreeForTheSmallAnalyzers) {
    for (const char* m : {"KLT", "KLW", "RVFE", "KLB"}) {
        EXPECT_EQ(HighestTraceNumber(m), 3) << m;
    }
    for (const char* m : {"KLVZ", "KLRx", "RVM", "NQx", "PBH", "TMO"}) {
        EXPECT_EQ(HighestTraceNumber(m), 4) << m;
    }
}

TEST(RunTraceCommand, ReadsTabulatesAndWritesTheText) {
    TraceState state;
    CommandRun run(7, 1, state, ',');
    ASSERT_EQ(run.result.outcome, TraceOutcome::Done) << run.result.message;
    EXPECT_EQ(run.status, (Strings{"reading trace...", "reading finished", "idle"}));
    EXPECT_EQ(run.sim.bench.count(sim::Traffic::GoToLocal, 7), 1);
    EXPECT_TRUE(state.hasTrace);
    EXPECT_EQ(state.field.RowCount(), 501u);
    EXPECT_EQ(state.text, TraceText(GenTraceField(state.data), ','));
    EXPECT_EQ(state.text.substr(0, 10), "950000000\t");
    EXPECT_NE(state.text.find(','), std::string::npos);
}

TEST(RunTraceCommand, TraceNumberAboveTheModelsIsRefusedBeforeAnyRead) {
    TraceState state;
    CommandRun klt(7, 4, state);
    EXPECT_EQ(klt.result.outcome, TraceOutcome::NumberNotSupported);
    EXPECT_EQ(klt.result.message, "Trace 4 is not supported by the instrument!");
    EXPECT_EQ(klt.sim.bench.writesTo(7), Strings{"*IDN?"});
    EXPECT_TRUE(klt.status.empty());

    CommandRun zero(7, 0, state);
    EXPECT_EQ(zero.result.message, "Trace 0 is not supported by the instrument!");

    CommandRun klvz(20, 4, state);
    EXPECT_EQ(klvz.result.outcome, TraceOutcome::Done) << klvz.result.message;
}

TEST(RunTraceCommand, ModelsWithoutTraceDataOrTraceCommands) {
    TraceState state;
    CommandRun kld(9, 1, state);
    EXPECT_EQ(kld.result.outcome, TraceOutcome::NotSupported);
    EXPECT_EQ(kld.result.message, "Trace data is not supported for KLD");
    EXPECT_EQ(kld.status, Strings{"trace data not supported."});

    CommandRun pbh(10, 1, state);
    EXPECT_EQ(pbh.result.outcome, TraceOutcome::NotActivated);
    EXPECT_EQ(pbh.result.message, "Trace 1 is not activated!");
    EXPECT_EQ(pbh.sim.bench.writesTo(10), Strings{"*IDN?"});
    EXPECT_FALSE(state.hasTrace);
}

TEST(RunTraceCommand, NetworkTraceOf201ComplexPointsHasThreeCellsPerLine) {
    TraceState state;
    CommandRun run(16, 2, state);
    ASSERT_EQ(run.result.outcome, TraceOutcome::Done) << run.result.message;
    EXPECT_TRUE(run.result.isNetworkTrace);
    EXPECT_EQ(state.field.RowCount(), 201u);
    EXPECT_EQ(state.field.ColumnCount(), 3u);
    EXPECT_EQ(state.text.substr(0, 6), "1E+07\t");  // 32-bit stimulus in exponent form
}

TEST(RunTraceCommand, FailedOrInactiveReadsKeepThePreviousTrace) {
    TraceState state;
    CommandRun first(7, 1, state);
    ASSERT_EQ(first.result.outcome, TraceOutcome::Done);
    const std::string text = state.text;
    const std::vector<float> values = state.data.values;

    CommandRun hidden(7, 2, state);
    EXPECT_EQ(hidden.result.outcome, TraceOutcome::NotActivated);
    EXPECT_EQ(hidden.result.message, "Trace 2 is not activated!");
    EXPECT_EQ(hidden.status.back(), "idle");

    CommandRun broken(21, 1, state);
    EXPECT_EQ(broken.result.outcome, TraceOutcome::Failed);
    EXPECT_NE(broken.result.message.find("broke off after 20 of 44 bytes"), std::string::npos)
        << broken.result.message;
    EXPECT_EQ(broken.sim.bench.count(sim::Traffic::GoToLocal, 21), 1);

    EXPECT_EQ(state.text, text);
    EXPECT_EQ(state.data.values, values);
    EXPECT_EQ(state.field.RowCount(), 501u);
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

TraceDataSet LongAnalyzerTrace() {
    TraceDataSet data;
    data.values.resize(3 * 64 * 1024 + 5);
    for (std::size_t i = 0; i < data.values.size(); ++i) {
        data.values[i] = -80.0f + static_cast<float>(i % 100) * 0.25f;
    }
    data.axis = AnalyzerAxis::Of(data.values.size(), 1e9, 1e8, 0, 0);
    return data;
}

TEST(WriteTraceFile, TextPlusCrLfUnderTheFinalNameOnly) {
    const auto dir = benchcap::test::makeTempDir("tracefile");
    const auto path = dir / "TRACE1.TXT";
    ASSERT_TRUE(WriteTraceFile(path, "250\t-80.5\r\n"));
    EXPECT_EQ(benchcap::test::readFile(path), "250\t-80.5\r\n\r\n");
    // Overwriting works, the table is streamed to the same bytes as the text plus CR LF,
    // and no temporary file is left behind.
    const TraceDataSet data = LongAnalyzerTrace();
    const TraceField field = GenTraceField(data);
    ASSERT_TRUE(WriteTraceFile(path, field, ','));
    EXPECT_TRUE(benchcap::test::readFile(path) == TraceFileContent(TraceText(field, ',')));
    ASSERT_TRUE(WriteTraceFile(path, TraceField{}, ','));
    EXPECT_EQ(benchcap::test::readFile(path), "\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(WriteTraceFile, ErrorsNameTheFileAndTheReasonAndKeepTheOldFile) {
    const auto dir = benchcap::test::makeTempDir("tracefile");
    const std::string missing = (dir / "no such folder" / "T.TXT").string();
    const Status error = WriteTraceFile(missing, "1\r\n");
    EXPECT_NE(error.error().find(missing), std::string::npos) << error.error();
    EXPECT_NE(error.error().find("No such file or directory"), std::string::npos);

    const auto folder = dir / "taken";
    std::filesystem::create_directory(folder);
    EXPECT_FALSE(WriteTraceFile(folder, "1\r\n"));
    EXPECT_TRUE(std::filesystem::is_directory(folder));

    // The disk fills up in the middle of a long trace.
    const auto path = dir / "T.TXT";
    ASSERT_TRUE(WriteTraceFile(path, "old\r\n"));
    FileCalls calls = FileCalls::system();
    std::size_t room = 1 << 20;
    calls.write = [&room](int fd, const void* data, std::size_t size) -> ssize_t {
        if (size > room) {
            errno = ENOSPC;
            return -1;
        }
        room -= size;
        return ::write(fd, data, size);
    };
    const TraceDataSet data = LongAnalyzerTrace();
    const Status full = WriteTraceFile(path, GenTraceField(data), '.', calls);
    EXPECT_NE(full.error().find(path.string()), std::string::npos) << full.error();
    EXPECT_NE(full.error().find("No space left on device"), std::string::npos) << full.error();
    EXPECT_EQ(benchcap::test::readFile(path), "old\r\n\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir),
                            std::filesystem::directory_iterator()),
              2);  // the folder "taken" and T.TXT
}

// A link planted at a predictable temporary name ("T.TXT.part" was one) must not lead the
// writer into the file it points to.
TEST(WriteTraceFile, ALinkAtATemporaryNameIsNotFollowed) {
    const auto dir = benchcap::test::makeTempDir("tracefile");
    const auto victim = dir / "victim";
    std::ofstream(victim) << "precious";
    const auto path = dir / "T.TXT";
    std::filesystem::create_symlink(victim, dir / "T.TXT.part");
    ASSERT_TRUE(WriteTraceFile(path, "1\r\n"));
    EXPECT_EQ(benchcap::test::readFile(victim), "precious");
    EXPECT_FALSE(std::filesystem::is_symlink(path));
    EXPECT_EQ(benchcap::test::readFile(path), "1\r\n\r\n");
}

}  // namespace
}  // namespace benchcap::trace
