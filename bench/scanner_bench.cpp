// What one pass of the bus scan costs on top of the bus itself: the simulated bench on
// its virtual clock makes the 50 ms pauses and time-outs free, so the CPU time left is
// the scan's own work (and the simulated driver's), reported per address.
#include <benchmark/benchmark.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "scanner/scan_iec.h"
#include "sim/sim_bench.h"
#include "support/scripted_user_interface.h"

namespace {

using namespace benchcap;

std::string fullBusYaml() {
    static const char* const models[] = {"KLVZ26", "KLR20",  "KLT-3", "GWPZ10", "NQD8",
                                         "RVFE18", "PBH200", "KLW-7", "RVM-5",  "HWPZ3"};
    std::string yaml = "instruments:\n";
    for (int a = 1; a <= 30; ++a) {
        yaml += "  - {address: " + std::to_string(a) +
                ", kind: spectrum-analyzer, options: \"B4,K7\", idn: \"Veltronik," +
                models[a % 10] + ",100234/0" + std::to_string(a) + ",1.60\"}\n";
    }
    return yaml;
}

void scanPass(benchmark::State& state, const std::string& yaml) {
    const Result<sim::BenchConfig> loaded = sim::parseBenchText(yaml, "bench");
    if (!loaded)
        throw std::runtime_error(loaded.error());
    sim::SimBench bench(loaded.value(), std::make_shared<bus::VirtualClock>());
    bus::testing::ScriptedUserInterface ui;
    scanner::ScanController scan(bench, bench.clock(), ui);
    scan.setStartTimeOut(bus::timeout_codes::T1s);
    scan.setStopTimeOut(bus::timeout_codes::T1s);
    for (auto _ : state) {
        scan.ScanIECBus();
        bench.clearTraffic();  // the bench's log would otherwise grow without bound
        benchmark::DoNotOptimize(scan.deviceType(1));
    }
    // CPU seconds per address (the counter's rate is taken over CPU time).
    state.counters["cpu_per_address"] = benchmark::Counter(
        30, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_ScanEmptyBus(benchmark::State& state) {
    scanPass(state, "instruments: []\n");
}
void BM_ScanFullBus(benchmark::State& state) {
    scanPass(state, fullBusYaml());
}

BENCHMARK(BM_ScanEmptyBus)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ScanFullBus)->Unit(benchmark::kMicrosecond);

}  // namespace
