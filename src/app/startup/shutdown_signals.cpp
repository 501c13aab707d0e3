#include "app/startup/shutdown_signals.h"

#include <QSocketNotifier>

#include <unistd.h>

#include "base/stop_signals.h"

namespace benchcap::app {

ShutdownSignals::ShutdownSignals(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
    installStopSignalHandlers();
    const int readEnd = stopSignalFd();
    if (readEnd < 0)
        return;  // without the pipe the signal is still recorded for the waits that poll it
    notifier_ = new QSocketNotifier(readEnd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &ShutdownSignals::readSignal);
}

ShutdownSignals::~ShutdownSignals() {
    if (!notifier_)
        return;
    delete notifier_;
    uninstallStopSignalHandlers();
}

void ShutdownSignals::readSignal() {
    unsigned char byte = 0;
    while (::read(static_cast<int>(notifier_->socket()), &byte, 1) == 1)
        if (onSignal_)
            onSignal_(byte);
}

}  // namespace benchcap::app
