#include "sim/bench_backend.h"

#include "sim/sim_bench.h"

namespace benchcap::sim {

std::shared_ptr<bus::Clock> benchClock(const BenchConfig& config, bool forceVirtualTime) {
    if (config.realTime && !forceVirtualTime)
        return std::make_shared<bus::RealClock>();
    return std::make_shared<bus::VirtualClock>();
}

Result<OpenedBench> openBench(const std::string& benchFile, bool forceVirtualTime) {
    BenchConfig config;
    if (!benchFile.empty()) {
        Result<BenchConfig> loaded = loadBenchFile(benchFile);
        if (!loaded)
            return fail(loaded.error());
        config = std::move(loaded.value());
    } else {
        config = builtinBench();
    }
    OpenedBench bench;
    bench.clock = benchClock(config, forceVirtualTime);
    bench.source = config.source;
    bench.driver = std::make_unique<SimBench>(config, bench.clock);
    return bench;
}

}  // namespace benchcap::sim
