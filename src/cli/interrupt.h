#pragma once

namespace benchcap::cli {

// Ctrl+C (SIGINT) and SIGTERM during a long transfer: the handlers only note the signal;
// the bus session asks interruptRequested() between driver calls, so the transfer stops
// at the next piece, its temporary file is removed and an earlier file stays intact.
void installInterruptHandlers();

// The signal that asked the program to stop, or 0.
int interruptSignal();
inline bool interruptRequested() {
    return interruptSignal() != 0;
}

}  // namespace benchcap::cli
