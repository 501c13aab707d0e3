#pragma once

#include "base/stop_signals.h"

namespace benchcap::cli {

// Ctrl+C (SIGINT), SIGTERM and SIGHUP during a long transfer: the handlers only note the
// signal; the driver's waits and the bus session ask interruptRequested(), so the transfer
// stops, its temporary file is removed and an earlier file stays intact.
inline void installInterruptHandlers() {
    installStopSignalHandlers();
}

// The signal that asked the program to stop, or 0.
inline int interruptSignal() {
    return stopSignal();
}
inline bool interruptRequested() {
    return stopRequested();
}

}  // namespace benchcap::cli
