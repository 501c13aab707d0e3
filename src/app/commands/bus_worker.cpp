#include "app/commands/bus_worker.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

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

BusWorker::BusWorker()
    : thread_(new QThread), busSide_(new QObject), windowSide_(new QObject), ticker_(new QTimer) {
    thread_->setObjectName(QStringLiteral("bus"));
    busSide_->moveToThread(thread_);
    thread_->start();
    ticker_->setInterval(kTickMs);
    QObject::connect(ticker_, &QTimer::timeout, windowSide_, [this] { tick(); });
}

BusWorker::~BusWorker() {
    // run() returns only after its job: no job is left when the window goes.
    thread_->quit();
    thread_->wait();
    delete busSide_;
    delete thread_;
    delete ticker_;
    delete windowSide_;
}

bool BusWorker::run(const std::function<void()>& job) {
    const bool onWindowThread = QCoreApplication::instance() &&
                                QThread::currentThread() == windowSide_->thread() &&
                                QThread::currentThread() != thread_;
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
    QObject* wake = windowSide_;
    // What the window wrote before the job starts is the job's to read: the release here and
    // the acquire as the job starts say so in a way ThreadSanitizer sees (Qt's event queue is
    // not instrumented). The job's end is handed back by `ended`.
    handedOver_.fetch_add(1, std::memory_order_release);
    QMetaObject::invokeMethod(
        busSide_,
        [this, &job, ended, failure, wake, waiting = std::weak_ptr<QEventLoop>(loop)] {
            (void)handedOver_.load(std::memory_order_acquire);
            try {
                job();
            } catch (...) {
                *failure = std::current_exception();
            }
            ended->store(true);
            // Ends the window thread's wait below.
            QMetaObject::invokeMethod(
                wake,
                [waiting] {
                    if (const auto loop = waiting.lock())
                        loop->quit();
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
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
    if (QThread::currentThread() != thread_) {
        call();
        return;
    }
    // A blocking queued call, with the hand-over both ways under a mutex of our own, so
    // that ThreadSanitizer sees it (Qt's own semaphore is not instrumented); an exception
    // of the call comes back to the bus part that asked.
    struct Pending {
        std::mutex mutex;
        std::condition_variable answered;
        bool done = false;
        std::exception_ptr failure;
    } pending;
    std::unique_lock lock(pending.mutex);
    QMetaObject::invokeMethod(
        windowSide_,
        [&pending, &call] {
            const std::lock_guard held(pending.mutex);
            try {
                call();
            } catch (...) {
                pending.failure = std::current_exception();
            }
            pending.done = true;
            pending.answered.notify_one();
        },
        Qt::QueuedConnection);
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
