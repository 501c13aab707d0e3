// A two-port Touchstone file of a 1601-point sweep (four complex channels, the largest
// sweep of common network analyzers), built as text and written to a file through
// OutputFile, in both versions. Counters: file_KB, and from one run in a forked child its
// peak resident memory (peak_rss_MB) and what the run added to it (run_rss_MB).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "memory.h"
#include "trace/touchstone.h"

namespace {

using namespace benchcap::trace;

constexpr std::size_t kPoints = 1601;

// Four channels of one sweep, 10 MHz to 26.5 GHz, with noisy values: full mantissas.
struct FourChannels {
    FourChannels() {
        std::mt19937 rng(3);
        std::normal_distribution<float> noise(0.0f, 0.3f);
        for (std::size_t c = 0; c < 4; ++c) {
            sets[c].IsNetworkTrace = true;
            sets[c].IsPairs = true;
            for (std::size_t i = 0; i < kPoints; ++i) {
                sets[c].axis32.push_back(static_cast<float>(
                    10e6 + (26.5e9 - 10e6) * static_cast<double>(i) / (kPoints - 1)));
                sets[c].values.push_back(noise(rng));
                sets[c].values.push_back(noise(rng));
            }
            channels[c] = {&sets[c], static_cast<int>(c + 1), {}};
        }
    }
    TraceDataSet sets[4];
    TouchstoneChannel channels[4];
};

void Count(benchmark::State& state, std::size_t bytes, std::pair<double, double> memory) {
    state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
    state.counters["file_KB"] = static_cast<double>(bytes) / 1e3;
    state.counters["peak_rss_MB"] = memory.first;
    state.counters["run_rss_MB"] = memory.second;
}

void BM_TwoPortText(benchmark::State& state) {
    const FourChannels four;
    const TouchstoneOptions options{static_cast<TouchstoneVersion>(state.range(0)), "Acme,NA"};
    const auto memory = benchcap::bench::peakMemory(
        [&] { benchmark::DoNotOptimize(TouchstoneText(four.channels, options).ok()); });
    std::size_t bytes = 0;
    for (auto _ : state) {
        const benchcap::Result<std::string> text = TouchstoneText(four.channels, options);
        if (!text) {
            state.SkipWithError(text.error().c_str());
            return;
        }
        bytes = text->size();
        benchmark::DoNotOptimize(text->data());
    }
    Count(state, bytes, memory);
}

void BM_TwoPortFile(benchmark::State& state) {
    const FourChannels four;
    const TouchstoneOptions options{static_cast<TouchstoneVersion>(state.range(0)), "Acme,NA"};
    const auto file = std::filesystem::temp_directory_path() / "benchcap-bench-touchstone.s2p";
    const auto memory = benchcap::bench::peakMemory(
        [&] { benchmark::DoNotOptimize(WriteTouchstone(file, four.channels, options).ok()); });
    for (auto _ : state) {
        if (const benchcap::Status written = WriteTouchstone(file, four.channels, options);
            !written) {
            state.SkipWithError(written.error().c_str());
            return;
        }
    }
    const std::size_t bytes = std::filesystem::file_size(file);
    std::filesystem::remove(file);
    Count(state, bytes, memory);
}

}  // namespace

// Argument: 0 version 1.1, 1 version 2.0.
BENCHMARK(BM_TwoPortText)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TwoPortFile)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
