#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace benchcap::app {

// Turns SIGTERM, SIGINT and SIGHUP into a call on the event loop, so that an ended session,
// `kill` or Ctrl+C run the orderly shutdown (settings written) instead of dropping them.
// One watcher per program.
class ShutdownSignals : public QObject {
    Q_OBJECT
  public:
    // `onSignal` runs on the user-interface thread with the signal number.
    explicit ShutdownSignals(std::function<void(int)> onSignal, QObject* parent = nullptr);
    ~ShutdownSignals() override;
    bool installed() const { return notifier_ != nullptr; }

  private:
    void readSignal();

    std::function<void(int)> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace benchcap::app
