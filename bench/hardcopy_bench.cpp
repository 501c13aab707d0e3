// Transfer of a screen hardcopy block from the simulated bench: CPU time and memory.
// Memory is counted two ways: the peak of heap bytes the transfer itself holds (the
// simulated instrument's own copies of the file are left out by pausing the count inside
// driver calls), and the process's peak resident size.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <new>

#include "bus/session.h"
#include "hardcopy/block_transfer.h"
#include "sim/sim_bench.h"

// GCC pairs the replaced operator new with free() at inlined call sites and warns; the
// pairing is the replacement's own and correct.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {

// Heap accounting of this benchmark program (one thread).
bool counting = false;
int paused = 0;
size_t liveBytes = 0;
size_t peakBytes = 0;

void noteAlloc(void* p) {
    if (!p || !counting || paused)
        return;
    liveBytes += malloc_usable_size(p);
    peakBytes = std::max(peakBytes, liveBytes);
}
void noteFree(void* p) {
    if (!p || !counting || paused)
        return;
    const size_t n = malloc_usable_size(p);
    liveBytes = n > liveBytes ? 0 : liveBytes - n;
}

}  // namespace

void* operator new(size_t n) {
    void* p = std::malloc(n ? n : 1);
    if (!p)
        throw std::bad_alloc();
    noteAlloc(p);
    return p;
}
void* operator new[](size_t n) {
    return operator new(n);
}
void operator delete(void* p) noexcept {
    noteFree(p);
    std::free(p);
}
void operator delete[](void* p) noexcept {
    operator delete(p);
}
void operator delete(void* p, size_t) noexcept {
    operator delete(p);
}
void operator delete[](void* p, size_t) noexcept {
    operator delete(p);
}

namespace {

using namespace benchcap;

// The bench behind a driver that stops the count while the simulated instrument works.
class PausingDriver final : public bus::GpibDriver {
  public:
    explicit PausingDriver(sim::SimBench& bench) : b_(bench) {}
    struct Pause {
        Pause() { ++paused; }
        ~Pause() { --paused; }
    };
    int ibdev(int a, int b, int c, int d, int e, int f) override {
        Pause p;
        return b_.ibdev(a, b, c, d, e, f);
    }
    int ibfind(const std::string& n) override {
        Pause p;
        return b_.ibfind(n);
    }
    int ibwrt(int u, const void* d, long c) override {
        Pause p;
        return b_.ibwrt(u, d, c);
    }
    int ibrd(int u, void* d, long c) override {
        Pause p;
        return b_.ibrd(u, d, c);
    }
    int ibrdf(int u, const std::string& f) override {
        Pause p;
        return b_.ibrdf(u, f);
    }
    int ibonl(int u, int v) override {
        Pause p;
        return b_.ibonl(u, v);
    }
    int ibpad(int u, int v) override {
        Pause p;
        return b_.ibpad(u, v);
    }
    int ibrsc(int u, int v) override {
        Pause p;
        return b_.ibrsc(u, v);
    }
    int ibsre(int u, int v) override {
        Pause p;
        return b_.ibsre(u, v);
    }
    int ibtmo(int u, int v) override {
        Pause p;
        return b_.ibtmo(u, v);
    }
    int ibwait(int u, int v) override {
        Pause p;
        return b_.ibwait(u, v);
    }
    int ibloc(int u) override {
        Pause p;
        return b_.ibloc(u);
    }
    int ibconfig(int u, int o, int v) override {
        Pause p;
        return b_.ibconfig(u, o, v);
    }
    int ibask(int u, int o, int* v) override {
        Pause p;
        return b_.ibask(u, o, v);
    }
    void SendIFC(int b) override {
        Pause p;
        b_.SendIFC(b);
    }
    bus::DriverStatus status() const override { return b_.status(); }

  private:
    sim::SimBench& b_;
};

constexpr char kBench[] = R"(
instruments:
  - address: 20
    kind: vector-analyzer
    idn: "Veltronik,KLVZ26,100234/003,2.10"
)";

double peakRssMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

void transfer(benchmark::State& state, bool bitmap) {
    const Result<sim::BenchConfig> loaded = sim::parseBenchText(kBench, "bench");
    sim::SimBench bench(loaded.value(), std::make_shared<bus::VirtualClock>());
    PausingDriver driver(bench);
    bus::CurrentInstrument instrument;
    bus::Session session(driver, instrument);
    bus::SelectInstrument(instrument, 0, 20);
    if (bitmap) {
        hardcopy::StartHardcopy(session, "C:\\HARDCOPY.BMP", true, "BMP");
    } else {
        // A metafile of 200 kB, the size of a busy instrument screen.
        sim::SimInstrument* inst = bench.instrument(0, 20);
        const std::string wmf(200 * 1024, '\x5a');
        inst->on("MMEM:DATA?", [inst, wmf](const sim::Command&) { inst->respondBlock(wmf); });
        session.OpenDevice();
        session.IdentifyDevice();
    }
    const auto file = std::filesystem::temp_directory_path() / "benchcap-bench-transfer.bin";
    int64_t bytes = 0;
    size_t peak = 0;
    for (auto _ : state) {
        liveBytes = 0;
        peakBytes = 0;
        counting = true;
        const auto result = hardcopy::TransferFile(session, "C:\\HARDCOPY.BMP", file.string());
        counting = false;
        if (!result) {
            state.SkipWithError(result.error().c_str());
            break;
        }
        bytes = *result;
        peak = std::max(peak, peakBytes);
        bench.clearTraffic();
    }
    std::filesystem::remove(file);
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["file_MiB"] = bytes / 1048576.0;
    state.counters["transfer_peak_heap_MiB"] = peak / 1048576.0;
    state.counters["limit_MiB"] = bytes / 1048576.0 + 2.0;
    state.counters["process_peak_rss_MiB"] = peakRssMiB();
}

void BM_TransferBitmap2_3MB(benchmark::State& state) {
    transfer(state, true);
}
void BM_TransferMetafile200kB(benchmark::State& state) {
    transfer(state, false);
}

BENCHMARK(BM_TransferMetafile200kB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TransferBitmap2_3MB)->Unit(benchmark::kMillisecond);

}  // namespace
