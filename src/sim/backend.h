#pragma once

#include <memory>
#include <string>

#include "bus/clock.h"
#include "bus/gpib_driver.h"

namespace benchcap::sim {

// The driver backend a program runs on, with the clock that goes with it: the real
// clock for the driver library, the bench's own clock for the simulated bench.
struct Backend {
    std::unique_ptr<bus::GpibDriver> driver;
    std::shared_ptr<bus::Clock> clock;
    std::string description;  // "library (libgpib.so.0)", "sim (built-in bench)", ...
    std::string error;        // set when the choice itself is unusable (bad bench file, bad name)
};

// Chooses the backend from "library", "sim", "sim:BENCHFILE" or "prologix:HOST[:PORT]" /
// "prologix:/dev/ttyUSB0" (a "++" GPIB adapter). An empty choice takes the
// environment variable BENCHCAP_INTERFACE, and "library" when that is unset.
// `forceVirtualTime` makes a simulated bench run on a virtual clock whatever its file says.
Backend makeBackend(const std::string& choice, bool forceVirtualTime = false);

}  // namespace benchcap::sim
