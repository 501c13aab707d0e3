// The window while the bus is slow, in real time: how late the window's event loop runs a
// 10 ms timer while a bus command runs on the bus worker (p50, p99 and the worst, in ms),
// and how long Stop takes to end the command. The cases are the ones a user meets on a
// real bench: a hardcopy sent at 400 bytes/s (16 s, and stopped after 3 s), a scan over a "++"
// adapter that waits out a time-out at every empty address (stopped after 10 s), and a plot wait
// that ends when the instrument plots (8 s), and the trace recorder taking 1001 points ten
// times a second with the waterfall drawing (30 s; BENCHCAP_RECORD_SECONDS=600 for ten
// minutes), whose schedule error (start of each row minus its due time, from record.csv) is
// counted as well. Each runs once: the figures are the distribution of some thousand timer
// events.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/window/main_form.h"
#include "bus/adapter/prologix_driver.h"
#include "bus/adapter/transport.h"
#include "bus/clock.h"
#include "sim/adapter_server.h"
#include "sim/bench_config.h"
#include "sim/sim_bench.h"
#include "support/window_on_driver.h"

namespace {

using namespace benchcap;

// A vector analyzer whose 6546-byte metafile takes 16 s, and a plotter-only instrument
// that starts plotting 8 s after the board began to wait.
constexpr char kSlowBench[] = R"(clock: real
instruments:
  - {address: 20, kind: vector-analyzer, idn: "Veltronik,KLVZ26,100234/003,2.10",
     rate_bytes_per_s: 400}
  - {address: 9, kind: plotter-only, idn: "Veltronik,KLD4,100455/007,1.02", plot_delay_s: 8}
)";

// A spectrum analyzer sweeping 1001 points, on the real clock.
constexpr char kRecordedBench[] = R"(clock: real
instruments:
  - {address: 7, kind: spectrum-analyzer, idn: "Veltronik,KLT-3,1,1.70", center_hz: 1.0e9,
     span_hz: 1.0e7, points: 1001}
)";

// What the "++" adapter emulator serves: one instrument in talk-only mode, nothing else.
constexpr char kAdapterBench[] = R"(
instruments:
  - {address: 9, kind: plotter-only, idn: "Veltronik,KLD4,100455/007,1.02", talk_only: true}
)";

using Window = test::WindowOnDriver;

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto at = static_cast<size_t>(p * static_cast<double>(values.size() - 1));
    return values[at];
}

// Runs `command` with a 10 ms timer on the window thread, and Stop after `stopAfterMs`
// (none when 0); the timer's lateness and Stop's time go into the counters.
void measure(benchmark::State& state, Window& w, const std::function<void()>& command,
             int stopAfterMs) {
    for (auto _ : state) {
        std::vector<double> lateMs;
        QElapsedTimer clock;
        QElapsedTimer sinceStop;
        int64_t last = 0;
        int64_t stopMs = -1;
        QTimer ping;
        ping.setTimerType(Qt::PreciseTimer);
        ping.setInterval(10);
        QObject::connect(&ping, &QTimer::timeout, [&] {
            const int64_t now = clock.nsecsElapsed();
            lateMs.push_back(std::max(0.0, static_cast<double>(now - last) / 1e6 - 10.0));
            last = now;
        });
        QTimer stopper;
        stopper.setSingleShot(true);
        QObject::connect(&stopper, &QTimer::timeout, [&] {
            sinceStop.start();
            w.form->item(QStringLiteral("Stop"))->trigger();
        });
        clock.start();
        ping.start();
        if (stopAfterMs > 0)
            stopper.start(stopAfterMs);
        command();
        if (sinceStop.isValid())
            stopMs = sinceStop.elapsed();
        ping.stop();
        const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
        state.SetIterationTime(seconds);
        state.counters["late_p50_ms"] = percentile(lateMs, 0.5);
        state.counters["late_p99_ms"] = percentile(lateMs, 0.99);
        state.counters["late_max_ms"] = percentile(lateMs, 1.0);
        state.counters["timer_events"] = static_cast<double>(lateMs.size());
        if (stopMs >= 0)
            state.counters["stop_ms"] = static_cast<double>(stopMs);
    }
}

void slowTransfer(benchmark::State& state) {
    sim::SimBench bench(sim::parseBenchText(kSlowBench, "bench").value(),
                        std::make_shared<bus::RealClock>());
    Window w(bench, bench.clock(), "responsiveness");
    w.form->selectAddress(20);
    measure(
        state, w, [&w] { (void)w.form->runHardcopy(); }, 0);
}

void stoppedTransfer(benchmark::State& state) {
    sim::SimBench bench(sim::parseBenchText(kSlowBench, "bench").value(),
                        std::make_shared<bus::RealClock>());
    Window w(bench, bench.clock(), "responsiveness");
    w.form->selectAddress(20);
    measure(
        state, w, [&w] { (void)w.form->runHardcopy(); }, 3'000);
}

void plotWait(benchmark::State& state) {
    sim::SimBench bench(sim::parseBenchText(kSlowBench, "bench").value(),
                        std::make_shared<bus::RealClock>());
    Window w(bench, bench.clock(), "responsiveness");
    w.form->selectAddress(9);
    w.scripted.boxes.queueMessageResult(bus::MessageResult::Yes);
    measure(
        state, w, [&w] { (void)w.form->runHardcopy(); }, 0);
}

void adapterScan(benchmark::State& state) {
    sim::SimBench served(sim::parseBenchText(kAdapterBench, "bench").value(),
                         std::make_shared<bus::VirtualClock>());
    sim::AdapterServer server(served);
    const sim::Listener listener = sim::listenTcp("127.0.0.1", 0).value();
    std::thread serving([&] { server.serveListener(listener.fd); });
    {
        bus::adapter::PrologixDriver driver(
            bus::adapter::parseAdapterAddress("127.0.0.1:" + std::to_string(listener.port))
                .value());
        bus::RealClock clock;
        Window w(driver, clock, "responsiveness");
        measure(
            state, w, [&w] { w.form->item(QStringLiteral("StartScan"))->trigger(); }, 10'000);
    }
    server.stop();
    serving.join();
}

// How late each row of record.csv started after its due time (ms), for one row every
// `intervalS`: its slot is the last one due at or before its start.
std::vector<double> scheduleErrorsMs(const std::filesystem::path& recordCsv, double intervalS) {
    std::vector<double> errors;
    std::ifstream in(recordCsv);
    std::string line;
    std::getline(in, line);  // the column names
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        std::stringstream row(line);
        for (std::string cell; std::getline(row, cell, ',');)
            cells.push_back(cell);
        if (cells.size() < 6 || cells[5].rfind("ok", 0) != 0)
            continue;
        const double elapsed = std::strtod(cells[2].c_str(), nullptr);
        const double slot = std::floor(elapsed / intervalS + 1e-9);
        errors.push_back((elapsed - slot * intervalS) * 1000.0);
    }
    return errors;
}

void recorderWaterfall(benchmark::State& state) {
    sim::SimBench bench(sim::parseBenchText(kRecordedBench, "bench").value(),
                        std::make_shared<bus::RealClock>());
    Window w(bench, bench.clock(), "responsiveness");
    w.form->resize(1200, 900);
    w.form->selectAddress(7);
    const char* asked = std::getenv("BENCHCAP_RECORD_SECONDS");
    const int64_t seconds = asked ? std::max(1L, std::strtol(asked, nullptr, 10)) : 30;
    measure(
        state, w,
        [&] {
            (void)w.recorder->run({{1, 100'000}}, seconds * 10);
        },
        0);
    const std::vector<double> errors = scheduleErrorsMs(w.recorder->folder() / "record.csv", 0.1);
    state.counters["rows"] = static_cast<double>(errors.size());
    state.counters["schedule_p50_ms"] = percentile(errors, 0.5);
    state.counters["schedule_p99_ms"] = percentile(errors, 0.99);
    state.counters["schedule_max_ms"] = percentile(errors, 1.0);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    for (const auto& [name, run] :
         {std::pair{"window_events/transfer_400_bytes_per_s", &slowTransfer},
          std::pair{"window_events/transfer_stopped_after_3_s", &stoppedTransfer},
          std::pair{"window_events/adapter_scan_stopped_after_10_s", &adapterScan},
          std::pair{"window_events/plot_wait_8_s", &plotWait},
          std::pair{"window_events/recorder_10_hz_waterfall", &recorderWaterfall}}) {
        benchmark::RegisterBenchmark(name, run)->Iterations(1)->UseManualTime()->Unit(
            benchmark::kSecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
