#include "app/shutdown_signals.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace benchcap::app {
namespace {

// The write end of the self-pipe. A signal handler can reach nothing but a global, and
// may only call async-signal-safe functions such as write(); this descriptor is the one
// piece of program-wide state for that reason.
int gSignalPipeWrite = -1;

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

extern "C" void onShutdownSignal(int number) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    if (gSignalPipeWrite >= 0) [[maybe_unused]]
        ssize_t n = ::write(gSignalPipeWrite, &byte, 1);
    errno = saved;
}

}  // namespace

ShutdownSignals::ShutdownSignals(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
    int fds[2];
    if (gSignalPipeWrite >= 0 || ::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;  // without the pipe the signals keep their default action
    gSignalPipeWrite = fds[1];
    notifier_ = new QSocketNotifier(fds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &ShutdownSignals::readSignal);
    struct sigaction action {};
    action.sa_handler = onShutdownSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : kSignals)
        ::sigaction(s, &action, nullptr);
}

ShutdownSignals::~ShutdownSignals() {
    if (!notifier_)
        return;
    for (int s : kSignals)
        ::signal(s, SIG_DFL);
    const int readEnd = static_cast<int>(notifier_->socket());
    delete notifier_;
    ::close(readEnd);
    ::close(gSignalPipeWrite);
    gSignalPipeWrite = -1;
}

void ShutdownSignals::readSignal() {
    unsigned char byte = 0;
    while (::read(static_cast<int>(notifier_->socket()), &byte, 1) == 1)
        if (onSignal_)
            onSignal_(byte);
}

}  // namespace benchcap::app
