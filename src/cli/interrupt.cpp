#include "cli/interrupt.h"

#include <csignal>

namespace benchcap::cli {

namespace {

// The one mutable global of the program: a signal handler can reach nothing else, and
// only a volatile sig_atomic_t may be written from it.
volatile std::sig_atomic_t gInterruptSignal = 0;

extern "C" void noteInterrupt(int signal) {
    gInterruptSignal = signal;
}

}  // namespace

void installInterruptHandlers() {
    struct sigaction action {};
    action.sa_handler = noteInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int interruptSignal() {
    return gInterruptSignal;
}

}  // namespace benchcap::cli
