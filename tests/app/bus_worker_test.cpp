// The window on a slow bus, in real time: while a bus command runs the window's events go
// on, Stop ends the command promptly and cleanly, and closing the window ends it and the
// program.
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>

#include <fstream>
#include <iterator>
#include <thread>

#include "app/window/scan_panel.h"
#include "main_form_fixture.h"
#include "support/golden.h"

namespace benchcap::app::test {
namespace {

// Real time, and data slow enough that every command would take many seconds: a long
// trace (7), a plot that starts only after 100 s (9), a hardcopy at 20 kB/s (16). Nothing
// answers elsewhere, so a scan waits out a time-out at every empty address.
constexpr char kSlowBench[] = R"(clock: real
instruments:
  - {address: 7, kind: spectrum-analyzer, idn: "Veltronik,KLT-3,100871/012,1.70",
     points: 500000, rate_bytes_per_s: 200000}
  - {address: 9, kind: plotter-only, idn: "Veltronik,KLD4,100455/007,1.02", plot_delay_s: 100}
  - {address: 16, kind: network-analyzer, idn: "Veltronik,NQD8,100321/002,1.45",
     rate_bytes_per_s: 20000}
)";

// How the window was while a command ran and how fast the command ended.
struct Observed {
    int ticks = 0;          // timer events handled while the command ran
    bool progress = false;  // the progress panel showed bytes of a total
    bool stopShown = false;
    int64_t endMs = -1;  // from Stop (or close) to the command's return
};

class SlowBusTest : public BusWindowTest {
  protected:
    void build(const char* bench = kSlowBench) {
        setUpWindow(bench, "slowbus", std::make_shared<bus::RealClock>());
        wireCommands(office);
        showWindow();
        recordStatuses();
    }
    // Runs `command` while a timer ticks every 20 ms; `interrupt` runs at the 15th tick, or
    // later when bytes are expected and the progress panel does not count them yet.
    Observed run(const std::function<void()>& command, const std::function<void()>& interrupt,
                 bool expectBytes = false) {
        Observed seen;
        QElapsedTimer sinceStop;
        QTimer ticker;
        ticker.setInterval(20);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            ++seen.ticks;
            const auto* progress = form->item<QLabel>(QStringLiteral("Progress"));
            seen.progress =
                seen.progress || (progress->isVisible() && progress->text().contains(" bytes ("));
            seen.stopShown = seen.stopShown || form->item<QWidget>("StopButton")->isVisible();
            // After 300 ms, once a transfer is under way (at 3 s at the latest).
            const bool due =
                seen.ticks >= 15 && (seen.progress || !expectBytes || seen.ticks >= 150);
            if (!sinceStop.isValid() && due) {
                sinceStop.start();
                interrupt();
            }
        });
        ticker.start();
        command();
        ticker.stop();
        seen.endMs = sinceStop.isValid() ? sinceStop.elapsed() : -1;
        return seen;
    }
    void stop() { form->item(QStringLiteral("Stop"))->trigger(); }

    RecordingOffice office;
};

TEST_F(SlowBusTest, StopEndsEveryBusCommandCleanlyAndTheInstrumentAnswersAgain) {
    // "> COMMAND ADDRESS": what the window shows after Stop, twice in a row (the second run
    // finds the instrument as the first did), and whether a transfer showed its progress.
    benchcap::test::checkGolden("golden/window-stop.txt", [this](const std::string& input) {
        std::istringstream in(input);
        std::string command;
        int address = 0;
        in >> command >> address;
        build();
        if (command == "plot")
            scripted.boxes.queueMessageResult(bus::MessageResult::Yes);
        // An earlier file under the name this hardcopy would replace stays as it was.
        files.UseManualName = command == "hardcopy";
        files.ManualName = QStringLiteral("shot");
        std::ofstream(dir / "shot.WMF") << "earlier";
        const auto start = [&] {
            form->selectAddress(address);
            if (command == "scan")
                item("StartScan")->trigger();
            else if (command == "trace")
                (void)form->runTrace(1);
            else
                (void)form->runHardcopy();
        };
        const bool transfer = command == "hardcopy" || command == "trace";
        const Observed first = run(
            start, [this] { stop(); }, transfer);
        const std::string once = windowSummary();
        EXPECT_GT(first.ticks, 10) << input;  // the window went on while the bus was slow
        EXPECT_TRUE(first.stopShown) << input;
        EXPECT_GE(first.endMs, 0) << input;
        EXPECT_LT(first.endMs, 2000) << input;  // 0.5 s is the aim, measured in bench/
        EXPECT_FALSE(form->item<QWidget>("StopButton")->isVisible()) << input;

        scripted.boxes.clearBoxes();
        recordStatuses();
        if (command == "plot")
            scripted.boxes.queueMessageResult(bus::MessageResult::Yes);
        (void)run(
            start, [this] { stop(); }, transfer);
        EXPECT_EQ(windowSummary(), once) << input;
        return once + "progress shown: " + (first.progress ? "yes" : "no") + "\n";
    });
}

TEST_F(SlowBusTest, ClosingTheWindowStopsTheCommandAndEndsTheProgram) {
    build();
    int ended = -1;
    links.endProgram = [&ended](int code) { ended = code; };
    relink();
    const Observed seen = run([this] { form->selectAddress(16), (void)form->runHardcopy(); },
                              [this] { form->close(); });
    EXPECT_EQ(ended, 0);
    EXPECT_GE(seen.endMs, 0);
    EXPECT_LT(seen.endMs, 2000);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(dataFiles(), std::vector<std::string>());  // nothing half written
}

// While a bus command runs, what the window does reads nothing the command writes: the bus
// thread fills values of its own and hands them over when it ends.
TEST_F(SlowBusTest, WhatTheWindowDoesMeanwhileReadsNothingTheBusWrites) {
    // "Save trace data" during the next read saves the trace read before, whole, even when
    // the dialog closes as the new trace is taken over.
    build(R"(clock: real
instruments:
  - {address: 1, kind: spectrum-analyzer, idn: "Veltronik,KLT-3,100871/012,1.70"}
  - {address: 2, kind: spectrum-analyzer, idn: "Veltronik,KLT-3,100871/012,1.70",
     points: 20000, rate_bytes_per_s: 100000}
)");
    form->selectAddress(1);
    ASSERT_TRUE(form->runTrace(1));
    const std::string before = traces->state().text;
    const auto saved = dir / "saved.txt";
    scripted.saveDialog.queueAnswer(QString::fromStdString(saved.string()));
    scripted.saveDialog.whileShown = [this] {
        EXPECT_TRUE(runSteps(
            {[this] { return statusPanel(1)->text() == QStringLiteral("reading finished"); }}));
    };
    QTimer::singleShot(0, [this] { item("SaveTrace")->trigger(); });
    form->selectAddress(2);
    ASSERT_TRUE(form->runTrace(1));
    std::ifstream file(saved, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), before + "\r\n");
    EXPECT_NE(traces->state().text, before);

    // Hovering over an indicator while the scan writes the panel's texts leaves them to the
    // scan; an address chosen in the menu meanwhile gets its menus when the scan has ended.
    auto* panel = form->findChild<ScanIECPanel*>(QStringLiteral("ScanIEC"));
    ASSERT_NE(panel, nullptr);
    const QPoint overOne = panel->LED(1)->geometry().center();
    item("GetTheData")->setEnabled(false);
    QTimer::singleShot(0, [this] { item("StartScan")->trigger(); });
    ASSERT_TRUE(runSteps({
        [&] {
            if (panel->ledColour(1) != QColor(0, 255, 0))
                return false;
            panel->hoverAt(overOne);
            EXPECT_NE(panel->AddressLine()->text(), QStringLiteral("click to select instrument"));
            item("Adr_1")->trigger();
            EXPECT_FALSE(item("GetTheData")->isEnabled());
            stop();
            return true;
        },
        [this] { return !busWorker.running(); },
    }));
    EXPECT_TRUE(item("GetTheData")->isEnabled());
    panel->hoverAt(overOne);
    EXPECT_EQ(panel->AddressLine()->text(), QStringLiteral("click to select instrument"));

    // A claim runs its job only on a free worker: never beside another job, never in place.
    EXPECT_FALSE(BusCommands::refused().run([](WindowView&) { ADD_FAILURE(); }));
    std::atomic<bool> release{false};
    bool ran = true;
    QTimer::singleShot(0, [&] {
        ran = form->view().claimBus().run([](WindowView&) { ADD_FAILURE(); });
        release = true;
    });
    ASSERT_TRUE(busWorker.run([&release] {
        while (!release)
            std::this_thread::yield();
    }));
    EXPECT_FALSE(ran);
}

// Calls handed to the window thread run there in the order they came, from whichever thread.
TEST(QueuedCallsTest, RunInTheOrderTheyCame) {
    QueuedCalls calls;
    std::vector<int> ran;
    std::thread([&] {
        for (int i = 0; i < 3; ++i)
            calls.post([&ran, i] { ran.push_back(i); });
    }).join();
    EXPECT_TRUE(runSteps({[&ran] { return ran.size() == 3; }}));
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 2}));
}

}  // namespace
}  // namespace benchcap::app::test
