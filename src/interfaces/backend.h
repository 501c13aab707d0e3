#pragma once

#include <memory>
#include <string>

#include "base/result.h"
#include "bus/clock.h"
#include "bus/gpib_driver.h"
#include "bus/log/logging_driver.h"
#include "bus/log/replay_driver.h"
#include "interfaces/interface_table.h"

namespace benchcap::interfaces {

// The driver backend a program runs on, with the clock that goes with it: the real
// clock for the driver library, the bench's own clock for the simulated bench.
struct Backend {
    std::unique_ptr<bus::GpibDriver> driver;
    std::shared_ptr<bus::Clock> clock;
    std::string description;  // "library (libgpib.so.0)", "sim (built-in bench)", ...
    Status status;  // failed when the choice itself is unusable (bad bench file, bad name)
    bus::log::LoggingDriver* busLog = nullptr;  // the bus log around `driver` (addBusLog)
    bus::log::ReplayDriver* replay = nullptr;   // "replay:FILE": the log being replayed
};

// Makes the backend an interface text names (interfaceKinds() lists them); an empty text
// takes the environment variable BENCHCAP_INTERFACE, and "library" when that is unset.
// `forceVirtualTime` makes a simulated bench run on a virtual clock whatever its file says.
Backend makeBackend(const std::string& choice, bool forceVirtualTime = false);
Backend makeBackend(const InterfaceChoice& choice, bool forceVirtualTime = false);

// Puts the backend's driver, whichever it is, behind a bus log. With a `file` the log starts
// at once (fails when the file cannot be written); without, it stays closed until started.
Status addBusLog(Backend& backend, const std::string& file, bool fullData);
// The bus log a program writes: `option` (--bus-log), else BENCHCAP_BUS_LOG, else none.
std::string busLogChoice(const std::string& option);

}  // namespace benchcap::interfaces
