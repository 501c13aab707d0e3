// Plotter capture of a large plot from the simulated bench: the capture reads 200 bytes at
// a time, so the bench's output queue must hand out pieces of a long answer in linear time
// (a 60 MB plot is 300 000 reads).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "bus/clock.h"
#include "hardcopy/plotter_capture.h"
#include "sim/bench_config.h"
#include "sim/sim_bench.h"

using namespace benchcap;

namespace {

namespace fs = std::filesystem;

void BM_CapturePlot(benchmark::State& state) {
    const auto megabytes = static_cast<int>(state.range(0));
    const fs::path dir = fs::temp_directory_path() / "benchcap-bench-plot";
    fs::create_directories(dir);
    const fs::path plot = dir / "plot.hpgl";
    {
        std::ofstream out(plot, std::ios::binary);
        const std::string line = "PU123,456;PD789,12;PD345,678;PD901,234;PD567,890;\r\n";
        for (int64_t n = 0; n < (int64_t{megabytes} << 20); n += static_cast<int64_t>(line.size()))
            out << line;
    }
    const std::string yaml =
        "instruments:\n  - {address: 9, kind: plotter-only, idn: "
        "\"Veltronik,KLD4,1,1.02\", plot_delay_s: 0, plot_file: \"" +
        plot.string() + "\"}\n";
    const Result<sim::BenchConfig> loaded = sim::parseBenchText(yaml, "bench");
    int64_t bytes = 0;
    for (auto _ : state) {
        sim::SimBench bench(loaded.value(), std::make_shared<bus::VirtualClock>());
        const auto result = hardcopy::CapturePlot(bench, (dir / "MainForm.HGL").string(), nullptr);
        if (!result) {
            state.SkipWithError(result.error().c_str());
            break;
        }
        bytes = result->bytes;
    }
    fs::remove_all(dir);
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["plot_MiB"] = static_cast<double>(bytes) / 1048576.0;
}

BENCHMARK(BM_CapturePlot)->Arg(4)->Arg(60)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
