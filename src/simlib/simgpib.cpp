// libbenchcap_simgpib.so: the simulated bench behind linux-gpib's C API.
//
// Environment: BENCHCAP_SIM_BENCH names a bench file (the built-in bench when unset);
// BENCHCAP_SIM_REALTIME, when set, lets the bench file's `clock: real` take effect (virtual
// time otherwise, so time-outs cost no waiting); BENCHCAP_SIM_NO_BOARD, when set, makes the
// library a linux-gpib without a board (no configuration file, no /dev/gpib0): every call
// fails with EDVR, ibdev and ibfind return -1. It is read at every call, so one process can
// see both.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "bus/gpib_driver.h"
#include "sim/bench_backend.h"

#define BENCHCAP_SIMGPIB_EXPORT extern "C" __attribute__((visibility("default")))

// linux-gpib's process-wide status of the last call from any thread. They are part of the
// C API this library stands in for; only publish() below writes them.
extern "C" {
__attribute__((visibility("default"))) volatile int ibsta = 0;
__attribute__((visibility("default"))) volatile int iberr = 0;
__attribute__((visibility("default"))) volatile int ibcnt = 0;
__attribute__((visibility("default"))) volatile long ibcntl = 0;
}

namespace {

namespace bus = benchcap::bus;

constexpr int kERR = bus::ibsta_bits::ERR;

// Status of a call as the C API reports it: full-width values, ibsta unsigned.
struct CallStatus {
    int sta = 0;
    int err = 0;
    long cnt = 0;
};

// An asynchronous read (ibrda): the bench's ibrd on a thread of its own, stopped through
// the bench's stop check. Its status goes to the caller's thread when ibwait sees it done.
struct AsyncRead {
    std::thread worker;
    std::atomic<bool> done{false};
    std::atomic<bool> stop{false};
    CallStatus status;  // written by the worker before `done`
    int result = 0;

    ~AsyncRead() {
        stop = true;
        if (worker.joinable())
            worker.join();
    }
};

// The one place where this library keeps process-wide state, because a C API has no
// object to hang it on: the simulated bench, made on first use, the lock that lets
// several threads share it, and the asynchronous reads under way (by descriptor, under
// their own lock: looking at one must not wait for the bench).
struct Shim {
    std::mutex mutex;
    benchcap::sim::OpenedBench backend;
    std::mutex asyncMutex;
    std::map<int, std::unique_ptr<AsyncRead>> reads;  // destroyed first: workers end

    Shim() {
        const char* bench = std::getenv("BENCHCAP_SIM_BENCH");
        benchcap::Result<benchcap::sim::OpenedBench> opened = benchcap::sim::openBench(
            bench ? bench : "", std::getenv("BENCHCAP_SIM_REALTIME") == nullptr);
        if (opened) {
            backend = std::move(opened.value());
        } else {
            // A C library has no other channel; linux-gpib reports its own problems the same way.
            std::fprintf(stderr, "libbenchcap_simgpib: %s\n", opened.error().c_str());
        }
    }
};

Shim& shim() {
    static Shim instance;
    return instance;
}

// Per-thread status behind ThreadIbsta and friends (linux-gpib keeps it per thread too).
CallStatus& threadStatus() {
    thread_local CallStatus status;
    return status;
}

void publish(const CallStatus& status) {
    threadStatus() = status;
    ibsta = status.sta;
    iberr = status.err;
    ibcnt = static_cast<int>(status.cnt);
    ibcntl = status.cnt;
}

CallStatus fromDriver(const bus::DriverStatus& status) {
    return CallStatus{static_cast<uint16_t>(status.ibsta), status.iberr, status.ibcntl};
}

bool withoutBoard() {
    const char* value = std::getenv("BENCHCAP_SIM_NO_BOARD");
    return value && *value;
}

// Runs one call on the bench under the lock and publishes its status. Without a bench the
// library is a bus without boards: `failResult` with ERR and `failError`.
template <typename Call>
int forward(Call&& call, int failResult, int failError) {
    if (withoutBoard()) {
        // What linux-gpib answers when it cannot open its board: EDVR for every call.
        std::lock_guard<std::mutex> lock(shim().mutex);
        publish(CallStatus{kERR, bus::iberr_codes::EDVR, 0});
        return failResult;
    }
    Shim& s = shim();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.backend.driver) {
        publish(CallStatus{kERR, failError, 0});
        return failResult;
    }
    const int result = call(*s.backend.driver);
    publish(fromDriver(s.backend.driver->status()));
    return result;
}

// A call refused before it reaches the bench (bad pointer).
int refuse(int result) {
    std::lock_guard<std::mutex> lock(shim().mutex);
    publish(CallStatus{kERR, bus::iberr_codes::EARG, 0});
    return result;
}

constexpr int kEDVR = bus::iberr_codes::EDVR;

}  // namespace

BENCHCAP_SIMGPIB_EXPORT int ibdev(int board_index, int pad, int sad, int timo, int send_eoi,
                                  int eosmode) {
    return forward(
        [&](bus::GpibDriver& d) { return d.ibdev(board_index, pad, sad, timo, send_eoi, eosmode); },
        -1, kEDVR);
}

BENCHCAP_SIMGPIB_EXPORT int ibfind(const char* dev) {
    if (!dev)
        return refuse(-1);
    return forward([&](bus::GpibDriver& d) { return d.ibfind(dev); }, -1, bus::iberr_codes::ENEB);
}

BENCHCAP_SIMGPIB_EXPORT int ibwrt(int ud, const void* buf, long count) {
    if (count < 0 || (count > 0 && !buf))
        return refuse(kERR);
    return forward([&](bus::GpibDriver& d) { return d.ibwrt(ud, buf, count); }, kERR, kEDVR);
}

BENCHCAP_SIMGPIB_EXPORT int ibrd(int ud, void* buf, long count) {
    if (count < 0 || (count > 0 && !buf))
        return refuse(kERR);
    return forward([&](bus::GpibDriver& d) { return d.ibrd(ud, buf, count); }, kERR, kEDVR);
}

BENCHCAP_SIMGPIB_EXPORT int ibrda(int ud, void* buf, long count) {
    if (count < 0 || (count > 0 && !buf))
        return refuse(kERR);
    if (withoutBoard() || !shim().backend.driver)
        return forward([](bus::GpibDriver&) { return 0; }, kERR, kEDVR);
    Shim& s = shim();
    std::lock_guard<std::mutex> lock(s.asyncMutex);
    if (s.reads.count(ud)) {
        publish(CallStatus{kERR, bus::iberr_codes::EOIP, 0});
        return kERR;
    }
    auto read = std::make_unique<AsyncRead>();
    AsyncRead* r = read.get();
    r->worker = std::thread([r, ud, buf, count] {
        Shim& sh = shim();
        std::lock_guard<std::mutex> benchLock(sh.mutex);
        bus::GpibDriver& d = *sh.backend.driver;
        d.setInterruptCheck([r] { return r->stop.load(); });
        r->result = d.ibrd(ud, buf, count);
        d.setInterruptCheck({});
        r->status = fromDriver(d.status());
        r->done = true;
    });
    s.reads[ud] = std::move(read);
    publish(CallStatus{0, 0, 0});  // under way: no CMPL yet
    return 0;
}

BENCHCAP_SIMGPIB_EXPORT int ibstop(int ud) {
    Shim& s = shim();
    std::unique_ptr<AsyncRead> read;
    {
        std::lock_guard<std::mutex> lock(s.asyncMutex);
        auto it = s.reads.find(ud);
        if (it == s.reads.end()) {
            publish(CallStatus{bus::ibsta_bits::CMPL, 0, 0});
            return bus::ibsta_bits::CMPL;
        }
        read = std::move(it->second);
        s.reads.erase(it);
    }
    read->stop = true;
    read->worker.join();
    // As NI-488.2 reports a stopped asynchronous read: ERR with EABO.
    publish(CallStatus{kERR, bus::iberr_codes::EABO, read->status.cnt});
    return kERR;
}

BENCHCAP_SIMGPIB_EXPORT int ibrdf(int ud, const char* file_path) {
    if (!file_path)
        return refuse(kERR);
    return forward([&](bus::GpibDriver& d) { return d.ibrdf(ud, file_path); }, kERR, kEDVR);
}

BENCHCAP_SIMGPIB_EXPORT int ibonl(int ud, int onl) {
    return forward([&](bus::GpibDriver& d) { return d.ibonl(ud, onl); }, kERR, kEDVR);
}

BENCHCAP_SIMGPIB_EXPORT int ibpad(int ud, int v) {
    return forward([&](bus::GpibDriver& d) { return d.ibpad(ud, v); }, kERR, kEDVR);
}

BENCHCAP_SIMGPIB_EXPORT int ibrsc(int ud, int v) {
    return forward([&](bus::GpibDriver& d) { return d.ibrsc(ud, v); }, kERR, kEDVR);
}

BENCHCAP_SIMGPIB_EXPORT int ibsre(int ud, int v) {
    return forward([&](bus::GpibDriver& d) { return d.ibsre(ud, v); }, kERR, kEDVR);
}

BENCHCAP_SIMGPIB_EXPORT int ibtmo(int ud, int v) {
    return forward([&](bus::GpibDriver& d) { return d.ibtmo(ud, v); }, kERR, kEDVR);
}

BENCHCAP_SIMGPIB_EXPORT int ibwait(int ud, int mask) {
    {
        // A descriptor with an asynchronous read: its status, CMPL once it is done (and
        // then the read's own status and count); a mask with CMPL waits for that.
        Shim& s = shim();
        std::unique_lock<std::mutex> lock(s.asyncMutex);
        for (auto it = s.reads.find(ud); it != s.reads.end(); it = s.reads.find(ud)) {
            AsyncRead& read = *it->second;
            if (!read.done && (mask & bus::ibsta_bits::CMPL)) {
                lock.unlock();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                lock.lock();
                continue;
            }
            if (!read.done) {
                publish(CallStatus{0, 0, 0});
                return 0;
            }
            read.worker.join();
            const CallStatus status = read.status;
            s.reads.erase(it);
            publish(status);
            return status.sta;
        }
    }
    return forward([&](bus::GpibDriver& d) { return d.ibwait(ud, mask); }, kERR, kEDVR);
}

BENCHCAP_SIMGPIB_EXPORT int ibclr(int ud) {
    return forward([&](bus::GpibDriver& d) { return d.ibclr(ud); }, kERR, kEDVR);
}

BENCHCAP_SIMGPIB_EXPORT int ibloc(int ud) {
    return forward([&](bus::GpibDriver& d) { return d.ibloc(ud); }, kERR, kEDVR);
}

BENCHCAP_SIMGPIB_EXPORT int ibconfig(int ud, int option, int value) {
    return forward([&](bus::GpibDriver& d) { return d.ibconfig(ud, option, value); }, kERR, kEDVR);
}

BENCHCAP_SIMGPIB_EXPORT int ibask(int ud, int option, int* value) {
    if (!value)
        return refuse(kERR);
    return forward([&](bus::GpibDriver& d) { return d.ibask(ud, option, value); }, kERR, kEDVR);
}

BENCHCAP_SIMGPIB_EXPORT void SendIFC(int board) {
    forward(
        [&](bus::GpibDriver& d) {
            d.SendIFC(board);
            return 0;
        },
        0, kEDVR);
}

BENCHCAP_SIMGPIB_EXPORT int ThreadIbsta(void) {
    return threadStatus().sta;
}
BENCHCAP_SIMGPIB_EXPORT int ThreadIberr(void) {
    return threadStatus().err;
}
BENCHCAP_SIMGPIB_EXPORT int ThreadIbcnt(void) {
    return static_cast<int>(threadStatus().cnt);
}
BENCHCAP_SIMGPIB_EXPORT long ThreadIbcntl(void) {
    return threadStatus().cnt;
}
