#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>

#include <QObject>

class QTimer;

namespace benchcap::bus {
class GpibDriver;
class Session;
}  // namespace benchcap::bus

namespace benchcap::app {

// Where the running bus command is, for the status bar.
struct BusProgress {
    int64_t done = -1;      // bytes of the current long read so far; -1: none yet
    int64_t total = -1;     // the length its block announced; -1: not known
    int64_t elapsedMs = 0;  // since the command started
    bool stopping = false;  // Stop was asked and the command is ending
};

// Calls handed to the thread this object lives on (the window's), run there one by one in
// the order they came. Qt's event queue carries no ordering that ThreadSanitizer sees, Qt
// not being instrumented: the calls wait in a queue of our own under a mutex, and the event
// that wakes the thread only says that there are some.
class QueuedCalls : public QObject {
  public:
    QueuedCalls() = default;
    // From any thread; returns at once.
    void post(std::function<void()> call);

  protected:
    void customEvent(QEvent* event) override;

  private:
    std::mutex mutex_;
    std::deque<std::function<void()>> calls_;
};

// The thread that owns the bus for the window. Every bus command of the window runs its
// bus part here, one at a time, while the window thread goes on handling its events
// (menus, repaint on resize, the tray, Stop). What a bus part shows or asks (status texts,
// boxes, indicators) is handed to the window thread with onWindow() and waited for, so
// texts and boxes come in the order the command makes them.
class BusWorker {
  public:
    // Made on the window thread, which it hands the bus parts' window calls to.
    BusWorker();
    ~BusWorker();
    BusWorker(const BusWorker&) = delete;
    BusWorker& operator=(const BusWorker&) = delete;

    // Runs `job` on the bus thread and returns when it has ended; meanwhile the window
    // thread handles its events. An exception of the job is thrown again here. Called off
    // the window thread, or with no application, the job runs right here. False (and the job
    // not run) while another job runs: one bus command at a time.
    [[nodiscard]] bool run(const std::function<void()>& job);
    // Runs `call` on the window thread and waits for it; on the window thread, at once.
    void onWindow(const std::function<void()>& call);
    template <class F>
    auto onWindowValue(F&& f) -> std::invoke_result_t<F> {
        using T = std::invoke_result_t<F>;
        std::optional<T> value;
        onWindow([&] { value.emplace(f()); });
        return std::move(*value);
    }
    bool running() const { return running_.load(); }

    // Stop: the running job's waits end (the driver's with EABO, as on a termination
    // signal) and its steps see session.interrupted(). Cleared as the next job starts.
    void requestStop();
    bool stopRequested() const { return stop_.load(); }
    // The window's driver and session: their waits end on Stop as on a signal (`signal`
    // is the program's own check), and their long reads report their bytes here.
    void watch(bus::GpibDriver& driver, bus::Session& session, std::function<bool()> signal);

    // From the bus thread: bytes of a long read so far and what its block announced.
    void reportProgress(int64_t done, int64_t total);
    // On the window thread, ten times a second while a job runs and once as it ends (with
    // done = -1 and elapsed 0): where the job is.
    void setProgressView(std::function<void(const BusProgress&)> show);

  private:
    void tick();
    // The bus thread: runs the jobs handed over in `job_` until the worker goes.
    void serve();
    bool onBusThread() const { return std::this_thread::get_id() == thread_.get_id(); }

    // The bus thread is a plain thread with a job slot of our own (no Qt event loop), so
    // that every hand-over between it and the window is one ThreadSanitizer sees.
    std::mutex slot_;
    std::condition_variable jobArrived_;
    std::function<void()> job_;  // the job handed over, empty when none waits
    bool quit_ = false;
    QueuedCalls* windowSide_ = nullptr;  // lives on the window thread: window calls go to it
    QTimer* ticker_ = nullptr;
    std::atomic<bool> running_{false};
    std::atomic<bool> stop_{false};
    std::atomic<int64_t> done_{-1};
    std::atomic<int64_t> total_{-1};
    std::atomic<int64_t> inCall_{0};  // bytes of the read in progress, beyond done_
    int64_t startedMs_ = 0;
    std::function<void(const BusProgress&)> show_;
    std::thread thread_;  // last: starts when everything it uses is there
};

}  // namespace benchcap::app
