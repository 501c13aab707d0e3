#include "base/stop_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace benchcap {
namespace {

// The program's only mutable globals: a signal handler can reach nothing else, and may
// only write a volatile sig_atomic_t and call async-signal-safe functions such as write().
volatile std::sig_atomic_t gStopSignal = 0;
volatile std::sig_atomic_t gPipeWrite = -1;
int gPipeRead = -1;

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void onStopSignal(int number) {
    const int saved = errno;
    if (gStopSignal == 0)
        gStopSignal = number;
    const unsigned char byte = static_cast<unsigned char>(number);
    if (gPipeWrite >= 0) [[maybe_unused]]
        ssize_t n = ::write(gPipeWrite, &byte, 1);
    errno = saved;
}

}  // namespace

void installStopSignalHandlers() {
    if (gPipeRead < 0) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
            gPipeRead = fds[0];
            gPipeWrite = fds[1];
        }
    }
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // Restarted system calls keep unrelated I/O simple; every long wait polls in slices.
    action.sa_flags = SA_RESTART;
    for (int s : kSignals)
        ::sigaction(s, &action, nullptr);
    // A closed pipe on standard error, or a file-size limit, must not kill a program in the
    // middle of its data: the write fails with EPIPE or EFBIG instead, and the writer says
    // which file (or leaves an unprintable message unprinted). Stays so after uninstalling.
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
}

void uninstallStopSignalHandlers() {
    for (int s : kSignals)
        ::signal(s, SIG_DFL);
    if (gPipeRead >= 0) {
        const int writeEnd = gPipeWrite;
        gPipeWrite = -1;
        ::close(writeEnd);
        ::close(gPipeRead);
        gPipeRead = -1;
    }
}

int stopSignal() {
    return gStopSignal;
}

int stopSignalFd() {
    return gPipeRead;
}

void clearStopRequest() {
    gStopSignal = 0;
    if (gPipeRead >= 0) {
        unsigned char byte;
        while (::read(gPipeRead, &byte, 1) == 1) {
        }
    }
}

}  // namespace benchcap
