#include "app/commands/bus_worker.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <utility>

#include "bus/gpib_driver.h"
#include "bus/session.h"

namespace benchcap::app {

namespace {

// How often the window hears where a running job is.
constexpr int kTickMs = 100;

int64_t monotonicMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

void QueuedCalls::post(std::function<void()> call) {
    {
        const std::lock_guard queued(mutex_);
        calls_.push_back(std::move(call));
    }
    QCoreApplication::postEvent(this, new QEvent(QEvent::User));
}

void QueuedCalls::customEvent(QEvent*) {
    // One at a time: a call that waits in a nested event loop (a box) lets the later ones
    // run meanwhile, as queued calls do.
    for (;;) {
        std::function<void()> call;
        {
            const std::lock_guard lock(mutex_);
            if (calls_.empty())
                return;
            call = std::move(calls_.front());
            calls_.pop_front();
        }
        call();
    }
}

BusWorker::BusWorker()
    : windowSide_(new QueuedCalls), ticker_(new QTimer), thread_([this] { serve(); }) {
    ticker_->setInterval(kTickMs);
    QObject::connect(ticker_, &QTimer::timeout, windowSide_, [this] { tick(); });
}

BusWorker::~BusWorker() {
    // run() returns only after its job: no job is left when the window goes.
    {
        const std::lock_guard lock(slot_);
        quit_ = true;
    }
    jobArrived_.notify_one();
    thread_.join();
    delete ticker_;
    delete windowSide_;
}

void BusWorker::serve() {
    std::unique_lock lock(slot_);
    for (;;) {
        jobArrived_.wait(lock, [this] { return quit_ || job_; });
        if (quit_)
            return;
        const std::function<void()> job = std::exchange(job_, nullptr);
        lock.unlock();
        job();
        lock.lock();
    }
}

bool BusWorker::run(const std::function<void()>& job) {
    const bool onWindowThread = QCoreApplication::instance() &&
                                QThread::currentThread() == windowSide_->thread() && !onBusThread();
    if (running_.exchange(true))
        return false;
    stop_ = false;
    done_ = -1;
    total_ = -1;
    inCall_ = 0;
    startedMs_ = monotonicMs();
    if (!onWindowThread) {
        struct Done {
            std::atomic<bool>& flag;
            ~Done() { flag = false; }
        } done{running_};
        job();
        return true;
    }

    auto ended = std::make_shared<std::atomic<bool>>(false);
    auto failure = std::make_shared<std::exception_ptr>();
    auto loop = std::make_shared<QEventLoop>();
    {
        const std::lock_guard lock(slot_);
        job_ = [this, &job, ended, failure, waiting = std::weak_ptr<QEventLoop>(loop)] {
            try {
                job();
            } catch (...) {
                *failure = std::current_exception();
            }
            ended->store(true);
            // Ends the window thread's wait below.
            windowSide_->post([waiting] {
                if (const auto loop = waiting.lock())
                    loop->quit();
            });
        };
    }
    jobArrived_.notify_one();
    ticker_->start();
    // The window's events go on in a loop nested inside the command that waits here. Once
    // the application is quitting no loop runs any more: the job, told to stop by then,
    // ends within a few slices of the driver's waits.
    while (!ended->load()) {
        if (loop->exec() < 0 && !ended->load()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(5);
        }
    }
    ticker_->stop();
    running_ = false;
    if (show_)
        show_(BusProgress{});
    if (*failure)
        std::rethrow_exception(*failure);
    return true;
}

void BusWorker::onWindow(const std::function<void()>& call) {
    if (!onBusThread()) {
        call();
        return;
    }
    // Waits for the call on the window thread; its exception comes back to the bus part.
    struct Pending {
        std::mutex mutex;
        std::condition_variable answered;
        bool done = false;
        std::exception_ptr failure;
    } pending;
    windowSide_->post([&pending, &call] {
        std::exception_ptr failure;
        try {
            call();
        } catch (...) {
            failure = std::current_exception();
        }
        const std::lock_guard held(pending.mutex);
        pending.failure = failure;
        pending.done = true;
        pending.answered.notify_one();
    });
    std::unique_lock lock(pending.mutex);
    pending.answered.wait(lock, [&pending] { return pending.done; });
    if (pending.failure)
        std::rethrow_exception(pending.failure);
}

void BusWorker::requestStop() {
    if (running_)
        stop_ = true;
}

void BusWorker::watch(bus::GpibDriver& driver, bus::Session& session,
                      std::function<bool()> signal) {
    auto check = [this, signal] { return stop_.load() || (signal && signal()); };
    driver.setInterruptCheck(check);
    session.setInterruptCheck(check);
    driver.setProgressSink([this](int64_t done, int64_t total) { reportProgress(done, total); });
}

void BusWorker::reportProgress(int64_t done, int64_t total) {
    // A backend's report from inside one read adds to what the block had before it.
    if (total == bus::GpibDriver::kCallBytes) {
        inCall_ = done;
        return;
    }
    done_ = done;
    total_ = total;
    inCall_ = 0;
}

void BusWorker::setProgressView(std::function<void(const BusProgress&)> show) {
    show_ = std::move(show);
}

void BusWorker::tick() {
    if (!show_ || !running_)
        return;
    BusProgress now;
    now.done = done_ < 0 && inCall_ > 0 ? inCall_.load() : done_ + inCall_;
    now.total = total_;
    // The message end read after a block is no part of it: never "4,005 of 4,004 bytes".
    if (now.total > 0)
        now.done = std::min(now.done, now.total);
    now.elapsedMs = monotonicMs() - startedMs_;
    now.stopping = stop_;
    show_(now);
}

}  // namespace benchcap::app
