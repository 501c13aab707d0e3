// A 4 MB IEEE 488.2 block through the "++" adapter driver and the adapter emulator over
// TCP loopback: read (++read eoi, EOI mark) and write (every CR, LF, ESC and '+' escaped).
// Counter: MB_per_s (10^6 bytes of block per second of wall time).
#include <benchmark/benchmark.h>

#include "bus/adapter/prologix_driver.h"
#include "loopback.h"

namespace {

using namespace benchcap;
using bench::block;
using bench::kBlockAddress;

struct Loopback : bench::LoopbackServer<sim::AdapterServer> {
    Loopback()
        : LoopbackServer(
              [](sim::AdapterServer& s, const sim::Listener& l) { s.serveListener(l.fd); }) {}
    bus::adapter::PrologixDriver driver{bus::adapter::parseAdapterAddress(address()).value()};
};

void BM_AdapterRead4MB(benchmark::State& state) {
    Loopback loop;
    const std::string data = block();
    const int ud = loop.driver.ibdev(0, kBlockAddress, 0, bus::timeout_codes::T10s, 1, 0);
    std::string buffer(data.size() + 16, '\0');
    for (auto _ : state) {
        // The instrument has the block ready; the adapter is idle until the driver's read.
        loop.bench.instrument(0, kBlockAddress)->respondRaw(data, true);
        loop.driver.ibrd(ud, buffer.data(), static_cast<long>(buffer.size()));
        if (loop.driver.status().ibcntl != static_cast<int32_t>(data.size())) {
            state.SkipWithError("short read");
            break;
        }
    }
    bench::countMegabytes(state, data.size());
}
BENCHMARK(BM_AdapterRead4MB)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_AdapterWrite4MB(benchmark::State& state) {
    Loopback loop;
    const std::string data = ":TRAC:DATA " + block();
    for (auto _ : state) {
        const int ud = loop.driver.ibdev(0, kBlockAddress, 0, bus::timeout_codes::T10s, 1, 0);
        loop.driver.ibwrt(ud, data.data(), static_cast<long>(data.size()));
        // A new handle's first call is a serial poll: its answer means the emulator has
        // taken in the whole block before it.
        const int again = loop.driver.ibdev(0, kBlockAddress, 0, bus::timeout_codes::T10s, 1, 0);
        loop.driver.ibwrt(again, "", 0);
        loop.driver.ibonl(ud, 0);
        loop.driver.ibonl(again, 0);
        loop.bench.clearTraffic();
    }
    bench::countMegabytes(state, data.size());
}
BENCHMARK(BM_AdapterWrite4MB)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
