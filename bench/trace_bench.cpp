// From the raw "FORM REAL,32" block payload to the trace text: data set, table, text.
// Beside each case a baseline formats the same cells with snprintf("%.7G"/"%.15G").
// Counters: ns_per_row, bytes_per_second (of text), and, from one run of the whole path
// in a forked child, its peak resident memory (peak_rss_MB) and what the path added
// to the child's resident memory (path_rss_MB).
// The file cases write a TXT file from the raw block (data set, table, text streamed into
// the file) and count the heap the path holds at its peak over both threads
// (peak_heap_MiB), the data set's share of it (data_MiB) and the rest (beyond_data_MiB,
// which the streamed text keeps under 64 MiB); the whole-text case is the path that
// builds the text in memory first, for comparison. The block-read case starts one step
// earlier, at the bus: the block read in pieces into the float array.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "base/output_file.h"
#include "bus/gpib_driver.h"
#include "bus/session.h"
#include "memory.h"
#include "trace/trace_block.h"
#include "trace/trace_command.h"
#include "trace/trace_data.h"
#include "trace/trace_field.h"
#include "trace/trace_text.h"

// GCC pairs the replaced operator new with free() at inlined call sites and warns; the
// pairing is the replacement's own and correct.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {

// Heap accounting of this program: a replaced operator new has nowhere else to keep its
// count. Atomic, because the text is written on two threads.
std::atomic<bool> counting{false};
std::atomic<std::size_t> liveBytes{0};
std::atomic<std::size_t> peakBytes{0};

void noteAlloc(void* p) {
    if (!p || !counting.load(std::memory_order_relaxed)) {
        return;
    }
    const std::size_t live = liveBytes.fetch_add(malloc_usable_size(p)) + malloc_usable_size(p);
    std::size_t peak = peakBytes.load();
    while (live > peak && !peakBytes.compare_exchange_weak(peak, live)) {
    }
}

void noteFree(void* p) {
    if (!p || !counting.load(std::memory_order_relaxed)) {
        return;
    }
    liveBytes.fetch_sub(std::min(liveBytes.load(), malloc_usable_size(p)));
}

}  // namespace

void* operator new(std::size_t n) {
    void* p = std::malloc(n ? n : 1);
    if (!p) {
        throw std::bad_alloc();
    }
    noteAlloc(p);
    return p;
}
void* operator new[](std::size_t n) {
    return operator new(n);
}
void operator delete(void* p) noexcept {
    noteFree(p);
    std::free(p);
}
void operator delete[](void* p) noexcept {
    operator delete(p);
}
void operator delete(void* p, std::size_t) noexcept {
    operator delete(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    operator delete(p);
}

namespace {

using namespace benchcap::trace;

std::vector<uint8_t> Block(const std::vector<float>& values) {
    std::vector<uint8_t> bytes(values.size() * 4);
    for (std::size_t i = 0; i < values.size(); ++i) {
        uint32_t u;
        std::memcpy(&u, &values[i], 4);
        for (int b = 0; b < 4; ++b) {
            bytes[4 * i + b] = static_cast<uint8_t>(u >> (8 * b));
        }
    }
    return bytes;
}

// Noise around -80 dBm with a few peaks: full 24-bit mantissas, as analyzers send them.
std::vector<uint8_t> AnalyzerBlock(std::size_t points) {
    std::mt19937 rng(1);
    std::normal_distribution<float> noise(-80.0f, 3.0f);
    std::vector<float> v(points);
    for (std::size_t i = 0; i < points; ++i) {
        v[i] = noise(rng) + (i % 5000 == 0 ? 50.0f : 0.0f);
    }
    return Block(v);
}

// A complex (real, imaginary) channel and its stimulus frequencies 1 to 3 GHz.
struct NetworkBlocks {
    std::vector<uint8_t> data;
    std::vector<uint8_t> stimulus;
};
NetworkBlocks NetworkBlock(std::size_t points) {
    std::mt19937 rng(2);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::vector<float> data(2 * points);
    for (float& x : data) {
        x = unit(rng) * 0.3f;
    }
    std::vector<float> stim(points);
    for (std::size_t i = 0; i < points; ++i) {
        stim[i] = static_cast<float>(1e9 + 2e9 * static_cast<double>(i) /
                                               static_cast<double>(points - 1));
    }
    return {Block(data), Block(stim)};
}

TraceDataSet AnalyzerDataSet(const std::vector<uint8_t>& block) {
    TraceDataSet data;
    data.values = DecodeReal32(block);
    data.axis = AnalyzerAxis::Of(data.values.size(), 1e9, 1e8, 0.02, 0);
    return data;
}

TraceDataSet NetworkDataSet(const NetworkBlocks& blocks) {
    TraceDataSet data;
    data.IsNetworkTrace = true;
    data.values = DecodeReal32(blocks.data);
    data.axis32 = DecodeReal32(blocks.stimulus);
    data.IsPairs = data.values.size() != data.axis32.size();
    return data;
}

// The same table written cell by cell with snprintf, then the separator swapped in.
std::string SnprintfText(const TraceField& field, char separator) {
    std::string text;
    text.reserve(field.rows * (field.ColumnCount() * 23 + 2));
    char buf[64];
    for (std::size_t r = 0; r < field.rows; ++r) {
        for (std::size_t c = 0; c < field.ColumnCount(); ++c) {
            if (c > 0) {
                text.push_back('\t');
            }
            const TraceColumn& col = field.columns[c];
            if (!col.HasCell(r)) {
                continue;
            }
            int n = 0;
            switch (col.kind) {
                case CellKind::F32:
                    n = std::snprintf(buf, sizeof buf, "%.7G", static_cast<double>(col.F32(r)));
                    break;
                case CellKind::Axis:
                    n = std::snprintf(buf, sizeof buf, "%.15G", col.Axis(r));
                    break;
                case CellKind::Bit:
                    n = std::snprintf(buf, sizeof buf, "%d", col.Bit(r));
                    break;
            }
            for (int i = 0; i < n; ++i) {
                if (buf[i] == '.') {
                    buf[i] = separator;
                }
            }
            text.append(buf, static_cast<std::size_t>(n));
        }
        text.append("\r\n");
    }
    return text;
}

template <class Path>
void Run(benchmark::State& state, std::size_t rows, Path path) {
    const auto [peak, added] =
        benchcap::bench::peakMemory([&] { benchmark::DoNotOptimize(path().size()); });
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::string text = path();
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["ns_per_row"] = benchmark::Counter(
        static_cast<double>(rows),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
    state.SetItemsProcessed(static_cast<int64_t>(rows) * state.iterations());
    state.counters["peak_rss_MB"] = peak;
    state.counters["path_rss_MB"] = added;
    state.counters["text_MB"] = static_cast<double>(bytes) / 1e6;
}

void BM_AnalyzerPlain(benchmark::State& state) {
    const auto rows = static_cast<std::size_t>(state.range(0));
    const std::vector<uint8_t> block = AnalyzerBlock(rows);
    Run(state, rows, [&] {
        const TraceDataSet data = AnalyzerDataSet(block);
        return TraceText(GenTraceField(data), ',');
    });
}

void BM_AnalyzerPlainSnprintf(benchmark::State& state) {
    const auto rows = static_cast<std::size_t>(state.range(0));
    const std::vector<uint8_t> block = AnalyzerBlock(rows);
    Run(state, rows, [&] {
        const TraceDataSet data = AnalyzerDataSet(block);
        return SnprintfText(GenTraceField(data), ',');
    });
}

void BM_NetworkPairs(benchmark::State& state) {
    const auto rows = static_cast<std::size_t>(state.range(0));
    const NetworkBlocks blocks = NetworkBlock(rows);
    Run(state, rows, [&] {
        const TraceDataSet data = NetworkDataSet(blocks);
        return TraceText(GenTraceField(data), '.');
    });
}

void BM_NetworkPairsSnprintf(benchmark::State& state) {
    const auto rows = static_cast<std::size_t>(state.range(0));
    const NetworkBlocks blocks = NetworkBlock(rows);
    Run(state, rows, [&] {
        const TraceDataSet data = NetworkDataSet(blocks);
        return SnprintfText(GenTraceField(data), '.');
    });
}

// From the block to the TXT file, the text streamed (what benchcap-cli trace -o does) or
// built whole first.
template <class WriteFile>
void FileCase(benchmark::State& state, WriteFile writeFile) {
    const auto rows = static_cast<std::size_t>(state.range(0));
    const std::vector<uint8_t> block = AnalyzerBlock(rows);
    const auto file = std::filesystem::temp_directory_path() / "benchcap-bench-trace.txt";
    std::size_t peak = 0;
    std::size_t data = 0;
    for (auto _ : state) {
        liveBytes = 0;
        peakBytes = 0;
        counting = true;
        {
            const TraceDataSet set = AnalyzerDataSet(block);
            data = set.values.capacity() * sizeof(float);
            const benchcap::Status written = writeFile(file, GenTraceField(set));
            if (!written) {
                counting = false;
                state.SkipWithError(written.error().c_str());
                break;
            }
        }
        counting = false;
        peak = std::max(peak, peakBytes.load());
    }
    const double fileBytes =
        std::filesystem::exists(file) ? static_cast<double>(std::filesystem::file_size(file)) : 0;
    std::filesystem::remove(file);
    state.counters["ns_per_row"] = benchmark::Counter(
        static_cast<double>(rows),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetBytesProcessed(static_cast<int64_t>(fileBytes) * state.iterations());
    constexpr double kMiB = 1024.0 * 1024.0;
    state.counters["text_MiB"] = fileBytes / kMiB;
    state.counters["data_MiB"] = static_cast<double>(data) / kMiB;
    state.counters["peak_heap_MiB"] = static_cast<double>(peak) / kMiB;
    state.counters["beyond_data_MiB"] = static_cast<double>(peak - std::min(peak, data)) / kMiB;
}

void BM_AnalyzerFileStreamed(benchmark::State& state) {
    FileCase(state, [](const std::filesystem::path& file, const TraceField& field) {
        return WriteTraceFile(file, field, ',');
    });
}

void BM_AnalyzerFileWholeText(benchmark::State& state) {
    FileCase(state, [](const std::filesystem::path& file, const TraceField& field) {
        return benchcap::writeOutputFile(file, TraceFileContent(TraceText(field, ',')));
    });
}

// An instrument that answers "*IDN?" and then sends one "#9" block message from memory,
// as fast as asked: what the trace read costs on our side, without a bus.
class BlockInstrument final : public benchcap::bus::GpibDriver {
  public:
    explicit BlockInstrument(const std::vector<uint8_t>& payload) {
        char header[12];
        std::snprintf(header, sizeof header, "#9%09zu", payload.size());
        message_.reserve(11 + payload.size() + 1);
        message_.append(header, 11);
        message_.append(reinterpret_cast<const char*>(payload.data()), payload.size());
        message_.push_back('\n');
    }
    void rewind() { pos_ = 0; }

    int ibdev(int, int, int, int, int, int) override { return 1; }
    int ibfind(const std::string&) override { return 0; }
    int ibwrt(int, const void* data, long count) override {
        idn_ = std::string_view(static_cast<const char*>(data), static_cast<std::size_t>(count)) ==
               "*IDN?";
        return done(kCmpl, count);
    }
    int ibrd(int, void* buffer, long count) override {
        if (idn_) {
            idn_ = false;
            std::size_t idnPos = 0;
            return send(kIdn, idnPos, buffer, count);
        }
        return send(message_, pos_, buffer, count);
    }
    int ibrdf(int, const std::string&) override { return kErr; }
    int ibonl(int, int) override { return 0; }
    int ibpad(int, int) override { return 0; }
    int ibrsc(int, int) override { return 0; }
    int ibsre(int, int) override { return 0; }
    int ibtmo(int, int) override { return 0; }
    int ibwait(int, int) override { return 0; }
    int ibloc(int) override { return 0; }
    int ibconfig(int, int, int) override { return 0; }
    int ibask(int, int, int*) override { return 0; }
    void SendIFC(int) override {}
    benchcap::bus::DriverStatus status() const override { return status_; }

  private:
    static constexpr std::string_view kIdn = "Veltronik,KLT-3,1,1.70\n";
    // The next bytes of `text` from `pos`; END with its last byte.
    int send(std::string_view text, std::size_t& pos, void* buffer, long count) {
        const std::size_t n = std::min(static_cast<std::size_t>(count), text.size() - pos);
        std::memcpy(buffer, text.data() + pos, n);
        pos += n;
        return done(kCmpl | (pos == text.size() ? kEnd : 0), static_cast<long>(n));
    }
    static constexpr int kCmpl = benchcap::bus::ibsta_bits::CMPL;
    static constexpr int kEnd = benchcap::bus::ibsta_bits::END;
    static constexpr int kErr = benchcap::bus::ibsta_bits::ERR;
    int done(int sta, long count) {
        status_.ibsta = static_cast<int16_t>(sta);
        status_.ibcntl = static_cast<int32_t>(count);
        status_.ibcnt = static_cast<int16_t>(count);
        return sta;
    }
    std::string message_;
    std::size_t pos_ = 0;
    bool idn_ = false;
    benchcap::bus::DriverStatus status_;
};

// From the bus to the TXT file: the block read in pieces into the float array, the data
// set with its computed axis, the text streamed into the file. The heap is counted from
// before the read (the instrument's copy of the block is not ours and is left out).
void BM_AnalyzerFileFromBlockRead(benchmark::State& state) {
    const auto rows = static_cast<std::size_t>(state.range(0));
    BlockInstrument instrument(AnalyzerBlock(rows));
    benchcap::bus::CurrentInstrument current;
    benchcap::bus::Session session(instrument, current);
    session.SelectAndIdentify(0, 20);
    const auto file = std::filesystem::temp_directory_path() / "benchcap-bench-trace.txt";
    std::size_t peak = 0;
    std::size_t data = 0;
    for (auto _ : state) {
        instrument.rewind();
        liveBytes = 0;
        peakBytes = 0;
        counting = true;
        {
            benchcap::Result<std::vector<float>> block = ReadReal32Block(session);
            if (!block) {
                counting = false;
                state.SkipWithError(block.error().c_str());
                break;
            }
            TraceDataSet set;
            set.values = std::move(block).value();
            set.axis = AnalyzerAxis::Of(set.values.size(), 1e9, 1e8, 0.02, 0);
            data = set.values.capacity() * sizeof(float);
            const benchcap::Status written = WriteTraceFile(file, GenTraceField(set), ',');
            if (!written) {
                counting = false;
                state.SkipWithError(written.error().c_str());
                break;
            }
        }
        counting = false;
        peak = std::max(peak, peakBytes.load());
    }
    std::filesystem::remove(file);
    state.counters["ns_per_row"] = benchmark::Counter(
        static_cast<double>(rows),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    constexpr double kMiB = 1024.0 * 1024.0;
    state.counters["data_MiB"] = static_cast<double>(data) / kMiB;
    state.counters["peak_heap_MiB"] = static_cast<double>(peak) / kMiB;
    state.counters["beyond_data_MiB"] = static_cast<double>(peak - std::min(peak, data)) / kMiB;
}

// Long traces are written on two cores: ns_per_row is wall time (what the user waits);
// the CPU column is the whole process's, both threads together.
BENCHMARK(BM_AnalyzerPlain)
    ->Arg(32768)
    ->Arg(1000001)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK(BM_AnalyzerPlainSnprintf)->Arg(32768)->Arg(1000001)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NetworkPairs)
    ->Arg(32768)
    ->Arg(1000001)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK(BM_NetworkPairsSnprintf)->Arg(32768)->Arg(1000001)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnalyzerFileStreamed)
    ->Arg(1000001)
    ->Arg(50000000)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK(BM_AnalyzerFileFromBlockRead)
    ->Arg(1000001)
    ->Arg(50000000)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK(BM_AnalyzerFileWholeText)
    ->Arg(1000001)
    ->Arg(50000000)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

}  // namespace
