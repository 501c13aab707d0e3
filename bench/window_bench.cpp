// The window's hardcopy command on the simulated bench (virtual clock, so the bus costs
// nothing): the whole command, and the part after the last block byte has arrived —
// loading the picture, drawing it into the picture area and the "On hardcopy event"
// options — which is what a user waits for once the instrument is done.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QStatusBar>
#include <chrono>
#include <filesystem>
#include <memory>

#include "app/commands/hardcopy_command.h"
#include "app/commands/instrument_init.h"
#include "app/output/office_window.h"
#include "app/output/print_hardcopy.h"
#include "app/window/main_form.h"
#include "bus/clock.h"
#include "scanner/scan_iec.h"
#include "sim/bench_config.h"
#include "sim/sim_bench.h"
#include "support/scripted_services.h"

namespace {

using namespace benchcap;
using Clock = std::chrono::steady_clock;

constexpr char kBench[] = R"(
instruments:
  - {address: 7, kind: spectrum-analyzer, idn: "Veltronik,KLT-3,100871/012,1.70"}
  - {address: 9, kind: plotter-only, idn: "Veltronik,KLD4,100455/007,1.02"}
  - {address: 16, kind: network-analyzer, idn: "Veltronik,NQD8,100321/002,1.45"}
)";

struct Window {
    app::testing::ScriptedServices scripted;
    app::OutputFiles files;
    std::unique_ptr<app::MainForm> form;
    std::unique_ptr<sim::SimBench> bench;
    std::unique_ptr<scanner::ScanController> core;
    std::unique_ptr<app::InstrumentSession> instrument;
    office::NullOfficeBridge office;
    app::PdfPrinterFactory printers{QStringLiteral("/dev/null")};
    std::unique_ptr<app::HardcopyCommand> command;
    Clock::time_point transferred;
    Clock::time_point shown;

    explicit Window(const std::filesystem::path& dataPath) {
        files.DataPath = QString::fromStdString(dataPath.string());
        form = std::make_unique<app::MainForm>(scripted.services(), files);
        bench = std::make_unique<sim::SimBench>(sim::parseBenchText(kBench, "bench").value(),
                                                std::make_shared<bus::VirtualClock>());
        core = std::make_unique<scanner::ScanController>(*bench, bench->clock(), scripted.boxes);
        instrument = std::make_unique<app::InstrumentSession>(*bench);
        command = std::make_unique<app::HardcopyCommand>(*form, *instrument, office, printers);
        app::WindowLinks links;
        links.scanner = core.get();
        links.hardcopy = command.get();
        // The status texts mark the moments: the last block byte, the picture on screen.
        links.yield = [this] {
            const QString now = form->item<QLabel>(QStringLiteral("Status_1"))->text();
            if (now == QLatin1String("data transfered."))
                transferred = Clock::now();
            else if (now == QLatin1String("ready."))
                shown = Clock::now();
        };
        form->link(std::move(links));
        form->resize(1024, 768);
        form->show();
        QApplication::processEvents();
    }
};

void hardcopy(benchmark::State& state, int address, bool wmf, bool afterTransferOnly) {
    const auto dir = std::filesystem::temp_directory_path() / "benchcap-window-bench";
    std::filesystem::create_directories(dir);
    Window w(dir);
    w.form->selectAddress(address);
    w.form->item(QLatin1String(wmf ? "CopyFormatWMF" : "CopyFormatBMP"))->trigger();
    for (auto _ : state) {
        const auto start = Clock::now();
        w.transferred = start;
        if (!w.command->run())
            state.SkipWithError("the hardcopy failed");
        QApplication::processEvents();  // the repaint the user sees
        const auto end = Clock::now();
        const auto from = afterTransferOnly ? w.transferred : start;
        state.SetIterationTime(std::chrono::duration<double>(end - from).count());
    }
    std::filesystem::remove_all(dir);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    struct Case {
        const char* name;
        int address;
        bool wmf;
    } cases[] = {{"analyzer-wmf", 7, true}, {"analyzer-bmp", 7, false}, {"network-bmp", 16, false}};
    for (const Case& c : cases) {
        benchmark::RegisterBenchmark(
            (std::string("whole_command/") + c.name).c_str(),
            [c](benchmark::State& s) { hardcopy(s, c.address, c.wmf, false); })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(
            (std::string("last_byte_to_screen/") + c.name).c_str(),
            [c](benchmark::State& s) { hardcopy(s, c.address, c.wmf, true); })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
