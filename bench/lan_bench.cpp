// A 4 MB IEEE 488.2 block through the LAN driver and the VXI-11 gateway emulator over TCP
// loopback: read (device_read until END) and write (device_write pieces of max_recv_size).
// Counter: MB_per_s (10^6 bytes of block per second of wall time).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include "bus/lan/lan_driver.h"
#include "loopback.h"
#include "sim/vxi11_server.h"

namespace {

using namespace benchcap;
using bench::block;
using bench::kBlockAddress;

struct Loopback : bench::LoopbackServer<sim::Vxi11Server> {
    Loopback()
        : LoopbackServer([](sim::Vxi11Server& s, const sim::Listener& l) {
              s.serve(l.fd, -1, l.port);
              ::close(l.fd);
          }) {}
    std::unique_ptr<bus::lan::LanDriver> driver =
        bus::lan::makeGatewayDriver(bus::lan::parseGatewayAddress(address()).value());
};

void BM_Vxi11Read4MB(benchmark::State& state) {
    Loopback loop;
    const std::string data = block();
    const int ud = loop.driver->ibdev(0, kBlockAddress, 0, bus::timeout_codes::T10s, 1, 0);
    loop.driver->ibwrt(ud, "", 0);  // the link, before the clock runs
    std::string buffer(data.size() + 16, '\0');
    for (auto _ : state) {
        // The instrument has the block ready; the gateway is idle until the driver's read.
        loop.bench.instrument(0, kBlockAddress)->respondRaw(data, true);
        loop.driver->ibrd(ud, buffer.data(), static_cast<long>(buffer.size()));
        if (loop.driver->status().ibcntl != static_cast<int32_t>(data.size())) {
            state.SkipWithError("short read");
            break;
        }
    }
    bench::countMegabytes(state, data.size());
}
BENCHMARK(BM_Vxi11Read4MB)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Vxi11Write4MB(benchmark::State& state) {
    Loopback loop;
    const std::string data = ":TRAC:DATA " + block();
    const int ud = loop.driver->ibdev(0, kBlockAddress, 0, bus::timeout_codes::T10s, 1, 0);
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
    bench::countMegabytes(state, data.size());
}
BENCHMARK(BM_Vxi11Write4MB)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
