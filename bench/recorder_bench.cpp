// The trace recorder on the simulated bench's virtual clock: trace 1 of a 1001-point
// analyzer every 0.1 s, for an hour or for 24 hours of bench time (864,000 rows), so a day
// runs in minutes. The CSV rows go to a sink that counts and keeps nothing (a day is about
// 10 GB of text); the disk case writes real files for six minutes of bench time.
// Counters: cpu_us_per_row (process CPU per row), and for comparison acquisition_us_per_row
// (the same reads without the recorder: bench, bus, identification, acquisition), so the
// recorder's own share is the difference; rss_hour1_MB and rss_end_MB (resident memory
// after the first hour and at the end) and rss_growth_MB, their difference.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bus/clock.h"
#include "bus/session.h"
#include "memory.h"
#include "recorder/recorder.h"
#include "sim/bench_config.h"
#include "sim/sim_bench.h"
#include "support/scripted_user_interface.h"
#include "trace/trace_command.h"

namespace {

using namespace benchcap;

constexpr char kBench[] = R"(
instruments:
  - {address: 7, kind: spectrum-analyzer, idn: "Veltronik,KLT-3,1,1.70", points: 1001}
)";
constexpr int64_t kInterval = 100'000;  // 10 rows a second
constexpr int64_t kHour = 3'600'000'000LL;

std::unique_ptr<sim::SimBench> makeBench() {
    Result<sim::BenchConfig> config = sim::parseBenchText(kBench, "recorder bench");
    if (!config)
        std::abort();
    return std::make_unique<sim::SimBench>(*config, std::make_shared<bus::VirtualClock>());
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double residentMB() {
    return static_cast<double>(benchcap::bench::residentKiB()) * 1024 / 1e6;
}

// Files that take every byte and keep none: open gives /dev/null.
const FileCalls& discardingCalls() {
    static const FileCalls calls{
        [](const char*, int, mode_t) { return ::open("/dev/null", O_WRONLY | O_CLOEXEC); },
        [](int, const void*, std::size_t size) { return static_cast<ssize_t>(size); },
        [](int) { return 0; },
        [](int fd) { return ::close(fd); },
        [](const char*, const char*) { return 0; },
    };
    return calls;
}

// range(0): minutes of bench time; range(1): 1 to write real files.
void BM_RecordTrace(benchmark::State& state) {
    const int64_t duration = state.range(0) * 60'000'000LL;
    const bool toDisk = state.range(1) != 0;
    double perRow = 0, hour1 = 0, end = 0;
    for (auto _ : state) {
        const std::filesystem::path folder =
            std::filesystem::temp_directory_path() /
            ("benchcap-recorder-bench-" + std::to_string(getpid()));
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        auto bench = makeBench();
        bus::CurrentInstrument instrument;
        bus::Session session(*bench, instrument);
        recorder::RecorderSettings settings;
        settings.rows = {{1, kInterval}};
        settings.durationMicros = duration;
        settings.folder = folder;
        settings.interfaceName = "sim";
        recorder::RecorderServices services{session,
                                            bench->clock(),
                                            0,
                                            7,
                                            0,
                                            [] { return false; },
                                            nullptr,
                                            nullptr,
                                            toDisk ? FileCalls::system() : discardingCalls()};
        hour1 = 0;
        services.progress = [&hour1](const recorder::RecorderProgress& p) {
            if (hour1 == 0 && p.elapsedMicros >= kHour)
                hour1 = residentMB();
        };
        const double cpu = cpuSeconds();
        const recorder::RecordingEnd done = recorder::Record(services, settings);
        perRow = (cpuSeconds() - cpu) / static_cast<double>(std::max<int64_t>(1, done.rows));
        end = residentMB();
        if (!done.status)
            state.SkipWithError(done.status.error().c_str());
        state.counters["rows"] = static_cast<double>(done.rows);
        std::filesystem::remove_all(folder);
    }
    state.counters["cpu_us_per_row"] = perRow * 1e6;
    if (hour1 > 0) {
        state.counters["rss_hour1_MB"] = hour1;
        state.counters["rss_end_MB"] = end;
        state.counters["rss_growth_MB"] = end - hour1;
    }
}
BENCHMARK(BM_RecordTrace)
    ->ArgNames({"minutes", "disk"})
    ->Args({60, 0})
    ->Args({24 * 60, 0})
    ->Args({6, 1})
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

// Trace 1 every 0.1 s on the real clock, the bench answering at once, to real files: how
// late each item begins against its due time k*T (schedule_p50_ms, schedule_p99_ms,
// schedule_max_ms) over BENCHCAP_RECORD_SECONDS of real time (60 by default; 600 for the
// full ten minutes).
void BM_ScheduleErrorOnTheRealClock(benchmark::State& state) {
    const char* seconds = std::getenv("BENCHCAP_RECORD_SECONDS");
    const int64_t duration = (seconds ? std::max(1LL, std::atoll(seconds)) : 60) * 1'000'000LL;
    std::vector<int64_t> errors;
    for (auto _ : state) {
        const std::filesystem::path folder =
            std::filesystem::temp_directory_path() /
            ("benchcap-recorder-schedule-" + std::to_string(getpid()));
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        Result<sim::BenchConfig> config = sim::parseBenchText(kBench, "recorder bench");
        if (!config)
            std::abort();
        auto clock = std::make_shared<bus::RealClock>();
        sim::SimBench bench(*config, clock);
        bus::CurrentInstrument instrument;
        bus::Session session(bench, instrument);
        recorder::RecorderSettings settings;
        settings.rows = {{1, kInterval}};
        settings.durationMicros = duration;
        settings.folder = folder;
        recorder::RecorderServices services{session, *clock};
        services.address = 7;
        errors.clear();
        errors.reserve(static_cast<std::size_t>(duration / kInterval) + 1);
        services.itemBegun = [&errors](int64_t due, int64_t began) {
            errors.push_back(began - due);
        };
        // The bench keeps its traffic; a long run needs only the latest.
        services.progress = [&bench](const recorder::RecorderProgress&) { bench.clearTraffic(); };
        const recorder::RecordingEnd done = recorder::Record(services, settings);
        if (!done.status)
            state.SkipWithError(done.status.error().c_str());
        std::filesystem::remove_all(folder);
    }
    std::sort(errors.begin(), errors.end());
    const auto at = [&errors](double share) {
        return errors.empty() ? 0.0
                              : static_cast<double>(errors[static_cast<std::size_t>(
                                    share * static_cast<double>(errors.size() - 1))]) /
                                    1000.0;
    };
    state.counters["items"] = static_cast<double>(errors.size());
    state.counters["schedule_p50_ms"] = at(0.50);
    state.counters["schedule_p99_ms"] = at(0.99);
    state.counters["schedule_max_ms"] = at(1.0);
}
BENCHMARK(BM_ScheduleErrorOnTheRealClock)->Unit(benchmark::kSecond)->Iterations(1);

// The same reads without the recorder, for the recorder's share of cpu_us_per_row.
void BM_AcquisitionOnly(benchmark::State& state) {
    auto bench = makeBench();
    bus::CurrentInstrument instrument;
    bus::Session session(*bench, instrument);
    bus::testing::ScriptedUserInterface ui;
    trace::TraceState trace;
    int64_t rows = 0;
    const double cpu = cpuSeconds();
    for (auto _ : state) {
        session.SelectAndIdentify(0, 7);
        const trace::TraceCommandResult result =
            trace::RunTraceCommand(session, ui, 1, '.', trace, {}, trace::TraceTextUse::Streamed);
        benchmark::DoNotOptimize(result.outcome);
        bench->clearTraffic();
        ++rows;
    }
    state.counters["acquisition_us_per_row"] =
        (cpuSeconds() - cpu) / static_cast<double>(std::max<int64_t>(1, rows)) * 1e6;
}
BENCHMARK(BM_AcquisitionOnly);

}  // namespace

BENCHMARK_MAIN();
