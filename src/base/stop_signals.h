#pragma once

namespace benchcap {

// SIGINT, SIGTERM and SIGHUP as a request to stop, for both programs. The handler only
// records the first signal and writes a byte to a self-pipe: long waits (a driver's read,
// the simulated bench's pacing, drawing) ask stopRequested() in short slices, and an event
// loop watches stopSignalFd(). SIGPIPE and SIGXFSZ are ignored from then on, so that a
// closed pipe or a file-size limit is a failed write, never the end of the program.
// Installing again is harmless.
void installStopSignalHandlers();
// Default actions back and the pipe closed; the recorded signal stays.
void uninstallStopSignalHandlers();

// The signal that asked the program to stop, or 0.
int stopSignal();
inline bool stopRequested() {
    return stopSignal() != 0;
}
// Read end of the self-pipe (non-blocking; one byte per signal, the signal number), or -1
// while no handlers are installed.
int stopSignalFd();
// Forgets a recorded signal (tests; a program that carries on after a stop).
void clearStopRequest();

// The exit status of a program stopped by a signal, as a shell reports it (130, 143).
inline int stopExitStatus(int signal) {
    return 128 + signal;
}

}  // namespace benchcap
