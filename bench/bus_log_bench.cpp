// What the bus log costs a transfer on the simulated bench (virtual clock): a 1M-point
// trace (a 4 MB REAL,32 block read in 64 KiB pieces) and the 2.3 MB bitmap hardcopy,
// each without a log, with the default log (long blocks shortened) and with full data.
// Counters: bus_ms_per_transfer is the simulated bus time of one transfer (the log's extra
// CPU time against it is the overhead a user sees); log_MiB the log's size per transfer,
// peak_rss_MiB the process's peak (flat: the log streams).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bus/log/logging_driver.h"
#include "bus/session.h"
#include "hardcopy/block_transfer.h"
#include "sim/sim_bench.h"

using namespace benchcap;

namespace {

constexpr const char* kBench = R"(boards: [0]
clock: virtual
instruments:
  - address: 20
    kind: vector-analyzer
    idn: "Veltronik,KLVZ26,100234/003,2.10"
)";

enum Mode { kNoLog = 0, kLog = 1, kFullLog = 2 };

struct Rig {
    sim::SimInstrument* instrument = nullptr;
    std::shared_ptr<bus::VirtualClock> clock = std::make_shared<bus::VirtualClock>();
    std::unique_ptr<bus::GpibDriver> driver;
    bus::log::LoggingDriver* log = nullptr;
    std::filesystem::path logFile =
        std::filesystem::temp_directory_path() / "benchcap-bench-bus.log";

    explicit Rig(int mode) {
        auto bench =
            std::make_unique<sim::SimBench>(sim::parseBenchText(kBench, "bench").value(), clock);
        instrument = bench->instrument(0, 20);
        driver = std::move(bench);
        if (mode != kNoLog) {
            auto logged = std::make_unique<bus::log::LoggingDriver>(std::move(driver), clock);
            log = logged.get();
            (void)log->start(logFile.string(), mode == kFullLog, "sim");
            driver = std::move(logged);
        }
    }
    ~Rig() {
        if (log)
            log->stop();
        std::filesystem::remove(logFile);
    }
    // The simulated bus time per transfer (the bench's paced virtual clock): what the log's
    // CPU time adds to on a bench, in milliseconds.
    double busMs(const benchmark::State& state) const {
        return clock->nowMicros() / 1000.0 / static_cast<double>(state.iterations());
    }
    double logMiB() const { return log ? std::filesystem::file_size(logFile) / 1048576.0 : 0; }
};

double peakRssMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

void BM_Trace1MPoints(benchmark::State& state) {
    Rig rig(static_cast<int>(state.range(0)));
    std::string block(4'000'000, '\0');
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>(i * 7919 % 251);
    rig.instrument->on("TRAC?", [&](const sim::Command&) { rig.instrument->respondBlock(block); });
    bus::GpibDriver& d = *rig.driver;
    const int ud = d.ibdev(0, 20, 0, 13, 1, 0);
    std::vector<char> buffer(64 * 1024);
    int64_t total = 0;
    for (auto _ : state) {
        d.ibwrt(ud, "TRAC? TRACE1", 12);
        for (;;) {
            const int sta = d.ibrd(ud, buffer.data(), static_cast<long>(buffer.size()));
            total += d.status().ibcntl;
            if (sta & (bus::ibsta_bits::END | bus::ibsta_bits::ERR))
                break;
        }
    }
    state.SetBytesProcessed(total);
    state.counters["log_MiB_per_transfer"] = rig.logMiB() / static_cast<double>(state.iterations());
    state.counters["peak_rss_MiB"] = peakRssMiB();
    state.counters["bus_ms_per_transfer"] = rig.busMs(state);
}

void BM_Bitmap2_3MB(benchmark::State& state) {
    Rig rig(static_cast<int>(state.range(0)));
    bus::CurrentInstrument instrument;
    bus::Session session(*rig.driver, instrument);
    bus::SelectInstrument(instrument, 0, 20);
    hardcopy::StartHardcopy(session, "C:\\HARDCOPY.BMP", true, "BMP");
    const auto file = std::filesystem::temp_directory_path() / "benchcap-bench-bus-log.bmp";
    int64_t bytes = 0;
    for (auto _ : state) {
        const auto result = hardcopy::TransferFile(session, "C:\\HARDCOPY.BMP", file.string());
        if (!result) {
            state.SkipWithError(result.error().c_str());
            break;
        }
        bytes += *result;
    }
    std::filesystem::remove(file);
    state.SetBytesProcessed(bytes);
    state.counters["log_MiB_per_transfer"] = rig.logMiB() / static_cast<double>(state.iterations());
    state.counters["peak_rss_MiB"] = peakRssMiB();
    state.counters["bus_ms_per_transfer"] = rig.busMs(state);
}

}  // namespace

BENCHMARK(BM_Trace1MPoints)->ArgName("log")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Bitmap2_3MB)->ArgName("log")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
