// A 4 MB IEEE 488.2 block through the LAN driver and the VXI-11 gateway emulator over TCP
// loopback: read (device_read until END) and write (device_write pieces of max_recv_size).
// Counter: MB_per_s (10^6 bytes of block per second of wall time).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <random>
#include <string>
#include <thread>

#include "bus/lan/lan_driver.h"
#include "sim/adapter_server.h"
#include "sim/bench_config.h"
#include "sim/sim_bench.h"
#include "sim/vxi11_server.h"

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
    sim::Vxi11Server server{bench};
    sim::Listener listener = sim::listenTcp("127.0.0.1", 0).value();
    std::thread thread{[this] { server.serve(listener.fd, -1, listener.port); }};
    std::unique_ptr<bus::lan::LanDriver> driver = bus::lan::makeGatewayDriver(
        bus::lan::parseGatewayAddress("127.0.0.1:" + std::to_string(listener.port)).value());
    ~Loopback() {
        server.stop();
        thread.join();
        ::close(listener.fd);
    }
};

void BM_Vxi11Read4MB(benchmark::State& state) {
    Loopback loop;
    const std::string data = block();
    const int ud = loop.driver->ibdev(0, kAddress, 0, bus::timeout_codes::T10s, 1, 0);
    loop.driver->ibwrt(ud, "", 0);  // the link, before the clock runs
    std::string buffer(data.size() + 16, '\0');
    for (auto _ : state) {
        // The instrument has the block ready; the gateway is idle until the driver's read.
        loop.bench.instrument(0, kAddress)->respondRaw(data, true);
        loop.driver->ibrd(ud, buffer.data(), static_cast<long>(buffer.size()));
        if (loop.driver->status().ibcntl != static_cast<int32_t>(data.size())) {
            state.SkipWithError("short read");
            break;
        }
    }
    state.counters["MB_per_s"] = benchmark::Counter(static_cast<double>(data.size()) / 1e6,
                                                    benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_Vxi11Read4MB)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Vxi11Write4MB(benchmark::State& state) {
    Loopback loop;
    const std::string data = ":TRAC:DATA " + block();
    const int ud = loop.driver->ibdev(0, kAddress, 0, bus::timeout_codes::T10s, 1, 0);
    for (auto _ : state) {
        // Every piece is answered: the call returns when the gateway has taken the block.
        loop.driver->ibwrt(ud, data.data(), static_cast<long>(data.size()));
        if (loop.driver->status().ibcntl != static_cast<int32_t>(data.size())) {
            state.SkipWithError("short write");
            break;
        }
        state.PauseTiming();
        loop.bench.clearTraffic();
        state.ResumeTiming();
    }
    state.counters["MB_per_s"] = benchmark::Counter(static_cast<double>(data.size()) / 1e6,
                                                    benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_Vxi11Write4MB)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
