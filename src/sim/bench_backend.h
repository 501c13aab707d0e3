#pragma once

#include <memory>
#include <string>

#include "base/result.h"
#include "bus/clock.h"
#include "bus/gpib_driver.h"
#include "sim/bench_config.h"

namespace benchcap::sim {

// The clock a bench runs on: real time when its file says `clock: real` (bulk data paced at
// the instruments' rates), else virtual time, which costs no waiting. `forceVirtualTime`
// overrules the file.
std::shared_ptr<bus::Clock> benchClock(const BenchConfig& config, bool forceVirtualTime = false);

// A simulated bench ready to be driven: the bench and the clock it runs on.
struct OpenedBench {
    std::unique_ptr<bus::GpibDriver> driver;
    std::shared_ptr<bus::Clock> clock;
    std::string source;  // the bench file, or "built-in bench"
};

// The bench of `benchFile`, the built-in bench when it is empty; fails when the file cannot
// be read or is no bench.
Result<OpenedBench> openBench(const std::string& benchFile, bool forceVirtualTime = false);

}  // namespace benchcap::sim
