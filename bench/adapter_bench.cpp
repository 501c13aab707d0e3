// A 4 MB IEEE 488.2 block through the "++" adapter driver and the adapter emulator over
// TCP loopback: read (++read eoi, EOI mark) and write (every CR, LF, ESC and '+' escaped).
// Counter: MB_per_s (10^6 bytes of block per second of wall time).
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <thread>

#include "bus/adapter/prologix_driver.h"
#include "sim/adapter_server.h"
#include "sim/bench_config.h"
#include "sim/sim_bench.h"

namespace {

using namespace benchcap;

constexpr size_t kBlockBytes = 4u << 20;
constexpr int kAddress = 20;

std::string block() {
    std::mt19937 random(488);
    std::string data = "#7" + std::to_string(kBlockBytes);
    data.resize(9 + kBlockBytes);
    for (size_t i = 9; i < data.size(); ++i)
        data[i] = static_cast<char>(random() & 0xFF);
    return data + "\n";
}

struct Loopback {
    sim::SimBench bench{sim::builtinBench(), std::make_shared<bus::VirtualClock>()};
    sim::AdapterServer server{bench};
    sim::Listener listener = sim::listenTcp("127.0.0.1", 0).value();
    std::thread thread{[this] { server.serveListener(listener.fd); }};
    bus::adapter::PrologixDriver driver{
        bus::adapter::parseAdapterAddress("127.0.0.1:" + std::to_string(listener.port)).value()};
    ~Loopback() {
        server.stop();
        thread.join();
    }
};

void BM_AdapterRead4MB(benchmark::State& state) {
    Loopback loop;
    const std::string data = block();
    const int ud = loop.driver.ibdev(0, kAddress, 0, bus::timeout_codes::T10s, 1, 0);
    std::string buffer(data.size() + 16, '\0');
    for (auto _ : state) {
        // The instrument has the block ready; the adapter is idle until the driver's read.
        loop.bench.instrument(0, kAddress)->respondRaw(data, true);
        loop.driver.ibrd(ud, buffer.data(), static_cast<long>(buffer.size()));
        if (loop.driver.status().ibcntl != static_cast<int32_t>(data.size())) {
            state.SkipWithError("short read");
            break;
        }
    }
    state.counters["MB_per_s"] = benchmark::Counter(static_cast<double>(data.size()) / 1e6,
                                                    benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_AdapterRead4MB)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_AdapterWrite4MB(benchmark::State& state) {
    Loopback loop;
    const std::string data = ":TRAC:DATA " + block();
    for (auto _ : state) {
        const int ud = loop.driver.ibdev(0, kAddress, 0, bus::timeout_codes::T10s, 1, 0);
        loop.driver.ibwrt(ud, data.data(), static_cast<long>(data.size()));
        // A new handle's first call is a serial poll: its answer means the emulator has
        // taken in the whole block before it.
        const int again = loop.driver.ibdev(0, kAddress, 0, bus::timeout_codes::T10s, 1, 0);
        loop.driver.ibwrt(again, "", 0);
        loop.driver.ibonl(ud, 0);
        loop.driver.ibonl(again, 0);
        loop.bench.clearTraffic();
    }
    state.counters["MB_per_s"] = benchmark::Counter(static_cast<double>(data.size()) / 1e6,
                                                    benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_AdapterWrite4MB)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
