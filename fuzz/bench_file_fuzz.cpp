// Arbitrary bytes as a bench file: loading fails with a message or gives a bench that the
// simulated bus can be built from, never a crash or an exception.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "sim/bench_config.h"
#include "sim/sim_bench.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const benchcap::Result<benchcap::sim::BenchConfig> loaded =
        benchcap::sim::parseBenchText(text, "fuzz");
    if (!loaded) {
        if (loaded.error().empty())
            __builtin_trap();  // a refusal always says why
        return 0;
    }
    benchcap::sim::SimBench bench(loaded.value(), std::make_shared<benchcap::bus::VirtualClock>());
    for (int board = 0; board < 10; ++board)
        bench.boardPresent(board);
    return 0;
}
