// The window on a slow bus, in real time: while a bus command runs the window's events go
// on, Stop ends the command promptly and cleanly, and closing the window ends it and the
// program.
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>

#include <fstream>

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
    void build() {
        setUpWindow(kSlowBench, "slowbus", std::make_shared<bus::RealClock>());
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

}  // namespace
}  // namespace benchcap::app::test
