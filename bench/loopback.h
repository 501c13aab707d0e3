#pragma once

// A 4 MB IEEE 488.2 block and an emulator serving the built-in bench on a TCP loopback port,
// shared by the benchmarks of the network drivers.
#include <benchmark/benchmark.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "sim/adapter_server.h"
#include "sim/bench_config.h"
#include "sim/sim_bench.h"

namespace benchcap::bench {

constexpr size_t kBlockBytes = 4u << 20;
// The instrument of the built-in bench that answers with the block.
constexpr int kBlockAddress = 20;

// "#7…" and kBlockBytes of fixed pseudo-random bytes, then LF.
inline std::string block() {
    std::mt19937 random(488);
    std::string data = "#7" + std::to_string(kBlockBytes);
    data.resize(9 + kBlockBytes);
    for (size_t i = 9; i < data.size(); ++i)
        data[i] = static_cast<char>(random() & 0xFF);
    return data + "\n";
}

// `Server` on the built-in bench (virtual clock), serving in its own thread from construction
// until destruction. `serve` runs in that thread and returns once the server is stopped.
template <class Server>
struct LoopbackServer {
    using Serve = std::function<void(Server&, const sim::Listener&)>;
    explicit LoopbackServer(Serve serve)
        : thread([this, serve = std::move(serve)] { serve(server, listener); }) {}
    ~LoopbackServer() {
        server.stop();
        thread.join();
    }
    std::string address() const { return "127.0.0.1:" + std::to_string(listener.port); }

    sim::SimBench bench{sim::builtinBench(), std::make_shared<bus::VirtualClock>()};
    Server server{bench};
    sim::Listener listener = sim::listenTcp("127.0.0.1", 0).value();
    std::thread thread;
};

// The MB_per_s counter: 10^6 bytes of `bytes` per second of wall time, every iteration.
inline void countMegabytes(benchmark::State& state, size_t bytes) {
    state.counters["MB_per_s"] = benchmark::Counter(static_cast<double>(bytes) / 1e6,
                                                    benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace benchcap::bench
