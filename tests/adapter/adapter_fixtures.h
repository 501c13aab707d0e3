#pragma once

// Adapters for the tests: the emulator in front of the simulated bench (TCP loopback or a
// pseudo-terminal), and a scripted fake adapter for faults and hand-written transcripts.
// Every server runs on its own thread and stops when the object goes.

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "bus/adapter/prologix_driver.h"
#include "sim/adapter_server.h"
#include "sim/bench_config.h"
#include "sim/sim_bench.h"

namespace benchcap::test {

// Timing for loopback and a pseudo-terminal: the adapter's silence is trusted sooner.
inline bus::adapter::PrologixOptions loopbackOptions() {
    bus::adapter::PrologixOptions o;
    o.slackMillis = 40;
    o.versionMillis = 800;
    o.connectMillis = 1000;
    return o;
}

class Emulator {
  public:
    enum class Path { Tcp, Pty };
    // The built-in bench on virtual time unless a bench and clock are given.
    explicit Emulator(Path path, sim::BenchConfig config = sim::builtinBench(),
                      std::shared_ptr<bus::Clock> clock = std::make_shared<bus::VirtualClock>())
        : bench_(std::move(config), std::move(clock)), server_(bench_) {
        if (path == Path::Tcp) {
            auto listener = sim::listenTcp("127.0.0.1", 0);
            if (!listener)
                throw std::runtime_error(listener.error());
            listenFd_ = listener->fd;
            interface_ = "127.0.0.1:" + std::to_string(listener->port);
            thread_ = std::thread([this] { server_.serveListener(listenFd_); });
        } else {
            auto pty = sim::openPseudoTerminal();
            if (!pty)
                throw std::runtime_error(pty.error());
            pty_ = pty.value();
            interface_ = pty_.slavePath;
            thread_ = std::thread([this] { server_.serveConnection(pty_.masterFd); });
        }
    }
    ~Emulator() { stop(); }
    void stop() {
        server_.stop();
        if (thread_.joinable())
            thread_.join();
        if (listenFd_ >= 0)
            ::close(listenFd_);
        if (pty_.masterFd >= 0)
            ::close(pty_.masterFd);
        if (pty_.keepSlaveFd >= 0)
            ::close(pty_.keepSlaveFd);
        listenFd_ = pty_.masterFd = pty_.keepSlaveFd = -1;
    }
    // What follows "prologix:" in --interface.
    const std::string& where() const { return interface_; }
    std::unique_ptr<bus::adapter::PrologixDriver> driver() const {
        auto address = bus::adapter::parseAdapterAddress(interface_);
        return std::make_unique<bus::adapter::PrologixDriver>(address.value(), loopbackOptions());
    }
    sim::SimBench& bench() { return bench_; }
    void switchOffFor(int millis) { server_.switchOffFor(millis); }

  private:
    sim::SimBench bench_;
    sim::AdapterServer server_;
    int listenFd_ = -1;
    sim::PseudoTerminal pty_;
    std::string interface_;
    std::thread thread_;
};

// A fake adapter on loopback: each accepted connection is handed to `script` with its
// socket; the script returns when it is done (or the connection should drop).
class FakeAdapter {
  public:
    using Script = std::function<void(int fd, int connection)>;
    explicit FakeAdapter(Script script) : script_(std::move(script)) {
        auto listener = sim::listenTcp("127.0.0.1", 0);
        if (!listener)
            throw std::runtime_error(listener.error());
        fd_ = listener->fd;
        port_ = listener->port;
        thread_ = std::thread([this] {
            for (int n = 0; n < 8 && !stopping_; ++n) {
                pollfd p{fd_, POLLIN, 0};
                while (!stopping_ && ::poll(&p, 1, 50) <= 0) {
                }
                if (stopping_)
                    return;
                const int c = ::accept(fd_, nullptr, nullptr);
                if (c < 0)
                    return;
                script_(c, n);
                ::close(c);
            }
        });
    }
    ~FakeAdapter() {
        stopping_ = true;
        thread_.join();
        ::close(fd_);
    }
    std::string where() const { return "127.0.0.1:" + std::to_string(port_); }
    std::unique_ptr<bus::adapter::PrologixDriver> driver(
        bus::adapter::PrologixOptions options = loopbackOptions()) const {
        return std::make_unique<bus::adapter::PrologixDriver>(
            bus::adapter::parseAdapterAddress(where()).value(), options);
    }
    std::atomic<bool> stopping_{false};

  private:
    Script script_;
    int fd_ = -1;
    int port_ = 0;
    std::thread thread_;
};

// Reads what the host sends until `until` appears (or `millis` pass); returns it all.
inline std::string receiveUntil(int fd, const std::string& until, int millis = 2000) {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(millis);
    while (got.find(until) == std::string::npos && std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0)
            continue;
        char b[4096];
        const ssize_t n = ::read(fd, b, sizeof b);
        if (n <= 0)
            break;
        got.append(b, static_cast<size_t>(n));
    }
    return got;
}

inline void sendText(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

// An adapter whose instrument never ends its answer: it greets, finds every address
// listening, and from the first "++read" on sends `piece` every `gapMillis` (one byte a
// second drips, 64 KiB without a gap streams) until the host leaves, `stopping` is set, or
// `lifetimeMillis` pass (so a driver that would wait for ever fails its test instead).
// `reads` counts the "++read" commands.
inline void neverEndingAnswer(int fd, const std::atomic<bool>& stopping, const std::string& piece,
                              int gapMillis, int lifetimeMillis = 6000,
                              std::atomic<int>* reads = nullptr) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(lifetimeMillis);
    std::string heard;
    bool reading = false;
    auto next = Clock::now();
    while (!stopping && Clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, reading && gapMillis == 0 && !piece.empty() ? 0 : 5) > 0) {
            char b[4096];
            const ssize_t n = ::read(fd, b, sizeof b);
            if (n <= 0)
                return;
            heard.append(b, static_cast<size_t>(n));
            for (size_t at; (at = heard.find('\n')) != std::string::npos; heard.erase(0, at + 1)) {
                const std::string line = heard.substr(0, at);
                if (line == "++ver") {
                    sendText(fd, "Prologix GPIB-ETHERNET Controller version 01.06.06.00\r\n");
                } else if (line.rfind("++spoll", 0) == 0) {
                    sendText(fd, "0\r\n");
                } else if (line == "++read eoi") {
                    reading = true;
                    if (reads)
                        ++*reads;
                }
            }
        }
        if (reading && !piece.empty() && Clock::now() >= next) {
            pollfd out{fd, POLLOUT, 0};
            if (::poll(&out, 1, 5) > 0 &&
                ::send(fd, piece.data(), piece.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0 &&
                errno != EAGAIN)
                return;
            next = Clock::now() + std::chrono::milliseconds(gapMillis);
        }
    }
}

}  // namespace benchcap::test
