#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/commands/bus_worker.h"
#include "app/commands/hardcopy_command.h"
#include "app/commands/instrument_init.h"
#include "app/commands/recorder_window_command.h"
#include "app/commands/trace_window_command.h"
#include "app/commands/window_side.h"
#include "app/output/office_window.h"
#include "app/output/print_hardcopy.h"
#include "app/window/main_form.h"
#include "scanner/scan_iec.h"
#include "sim/sim_bench.h"
#include "support/bench_rig.h"
#include "support/scripted_services.h"
#include "support/test_paths.h"

// Readable failures for status texts.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace benchcap::app::test {

// A command runs in the window's events until it ends: the user's steps come from a timer
// inside them. Each step runs every 10 ms until it returns true; whether all were done
// before a deadline that only a hang reaches.
inline bool runSteps(const std::vector<std::function<bool()>>& steps) {
    std::size_t next = 0;
    QTimer script;
    QObject::connect(&script, &QTimer::timeout, [&] {
        if (next < steps.size() && steps[next]())
            ++next;
    });
    script.start(10);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (next < steps.size() && std::chrono::steady_clock::now() < deadline)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    return next == steps.size();
}

// The office programs as tests see them: counts pastes and the rows pasted.
class RecordingOffice final : public OfficeBridge {
  public:
    Status PasteInWord(std::string_view) override {
        ++pictures;
        return {};
    }
    Status PasteInExcel(const trace::TraceField& field) override {
        ++tables;
        rows = field.RowCount();
        return running ? Status() : fail(ErrorKind::NotReachable, "");
    }
    int pictures = 0;
    int tables = 0;
    std::size_t rows = 0;
    bool running = true;
};

// A main window on scripted services, with a yield hook that only counts.
class MainFormTest : public ::testing::Test {
  protected:
    void SetUp() override {
        files.DataPath = QStringLiteral("/data");
        form = std::make_unique<MainForm>(scripted.services(), files);
        links = {};
        links.yield = [this] { ++yields; };
        form->link(links);
    }
    // Gives the window `links` after a test changed them.
    void relink() { form->link(links); }

    QAction* item(const char* name) const { return form->item(QString::fromLatin1(name)); }
    // The picture area and the hidden holder of its bitmap.
    PictureBox& area() const { return form->view().pictureParts().area; }
    PictureHolder& bitmap() const { return form->view().pictureParts().bitmap; }
    // Status panel n: 1 status text, 2 model name, 3 "Excel", 4 "Word".
    QLabel* statusPanel(int n) const {
        return form->item<QLabel>(QStringLiteral("Status_%1").arg(n));
    }

    testing::ScriptedServices scripted;
    // The moment of every automatic name; only the window thread may ask for it (the bus
    // thread asks the window side), which TearDown checks.
    std::atomic<int> clockAskedOffWindow{0};
    OutputFiles files{[this] {
        clockAskedOffWindow += QThread::currentThread() != QCoreApplication::instance()->thread();
        return QDateTime(QDate(2003, 12, 5), QTime(14, 3, 9));
    }};
    // The bus thread, as the program has one: outlives the window.
    BusWorker busWorker;
    WindowThreadBoxes scannerBoxes{busWorker, &scripted.boxes};
    std::unique_ptr<MainForm> form;
    WindowLinks links;
    int yields = 0;
};

// A shown window on a simulated bench, as the program wires it for bus commands: scanner,
// bus worker, instrument session, data path in a fresh folder, and every change of the status text
// recorded at the yields. Table-driven tests call SetUp again per case: all starts afresh.
class BusWindowTest : public MainFormTest {
  protected:
    // `clock`: the bench's time (default: virtual, so that waits cost no real time).
    void setUpWindow(const char* benchText, const char* folderHint,
                     std::shared_ptr<bus::Clock> clock = nullptr) {
        scripted.boxes = {};
        scripted.saveDialog = {};
        scripted.printDialog = {};
        scripted.clipboard = {};
        files.UseManualName = false;
        files.ManualName.clear();
        statuses.clear();
        duringYield = nullptr;
        MainFormTest::SetUp();
        dir = benchcap::test::makeTempDir(folderHint);
        files.DataPath = QString::fromStdString(dir.string());
        bench = clock ? std::make_unique<sim::SimBench>(benchcap::test::benchConfig(benchText),
                                                        std::move(clock))
                      : benchcap::test::makeBench(benchText);
        core = std::make_unique<scanner::ScanController>(*bench, bench->clock(), scannerBoxes);
        links.scanner = core.get();
        instrument = std::make_unique<InstrumentSession>(*bench);
        // The bus commands run on the bus thread, as in the program.
        links.busWorker = &busWorker;
        busWorker.watch(*bench, instrument->session(), {});
        links.yield = [this] {
            ++yields;
            const QString now = statusPanel(1)->text();
            if (now != lastStatus)
                statuses.push_back(now);
            lastStatus = now;
            if (duringYield)
                duringYield();
        };
        relink();
    }
    // The hardcopy, trace and recorder commands on `office`, wired as the program wires them;
    // printed pages go to page.pdf in the data folder.
    void wireCommands(OfficeBridge& office, char separator = '.') {
        traces.reset();
        recorders.reset();
        printers = std::make_unique<PdfPrinterFactory>(pdfPath());
        hardcopies = std::make_unique<HardcopyCommand>(*form, *instrument, office, *printers);
        traces = std::make_unique<TraceWindowCommand>(*form, *instrument, office, separator);
        links.hardcopy = hardcopies.get();
        links.trace = traces.get();
        recorders =
            std::make_unique<RecorderWindowCommand>(*form, *instrument, bench->clock(), separator);
        links.recorder = recorders.get();
        relink();
    }
    // The window goes before the scanner, bench and commands it was linked to.
    void TearDown() override {
        form.reset();
        EXPECT_EQ(clockAskedOffWindow, 0) << "the bus thread read the window's files";
    }
    QString pdfPath() const { return QString::fromStdString((dir / "page.pdf").string()); }
    void showWindow() {
        form->resize(800, 600);
        form->show();
        QApplication::processEvents();
    }
    // Starts recording status texts afresh, from the text shown now.
    void recordStatuses() {
        statuses.clear();
        lastStatus = statusPanel(1)->text();
    }
    // Names of the files in the data folder, sorted, without `except`.
    std::vector<std::string> dataFiles(const std::string& except = {}) const {
        return benchcap::test::filesIn(dir, except);
    }

    // What the window shows after a command, in a few stable lines: the status texts since
    // recordStatuses(), the error label, the office indicators, the output items enabled,
    // the picture area, the boxes and the files in the data folder with their sizes
    // (page.pdf left out). The data folder reads "DIR".
    std::string windowSummary() const {
        const std::string folder = dir.string();
        const auto plain = [&](std::string text) {  // on one line
            for (size_t at; !folder.empty() && (at = text.find(folder)) != std::string::npos;)
                text.replace(at, folder.size(), "DIR");
            for (size_t at; (at = text.find('\n')) != std::string::npos;)
                text.replace(at, 1, "\\n");
            return text;
        };
        const auto* label = form->item<QLabel>(QStringLiteral("Fehler"));
        std::ostringstream out;
        out << "statuses: "
            << QStringList(statuses.begin(), statuses.end()).join(" | ").toStdString()
            << "\nlabel: " << plain(label->isVisible() ? label->text().toStdString() : "-")
            << "\noffice: Excel " << (statusPanel(3)->isEnabled() ? "on" : "off") << ", Word "
            << (statusPanel(4)->isEnabled() ? "on" : "off") << "\nenabled:";
        for (const char* name : {"Drucken", "SaveHard", "SaveTrace"})
            if (item(name)->isEnabled())
                out << ' ' << name;
        out << "\npicture: " << (area().tag().isEmpty() ? "-" : area().tag().toStdString())
            << (area().picture().isNull() ? "" : " (own picture)") << ", "
            << (form->showsHardcopy() ? "hardcopy" : "trace") << ", tip \""
            << area().toolTip().toStdString() << '"';
        if (form->cursor().shape() == Qt::WaitCursor)
            out << "\nbusy pointer";
        for (const auto& box : scripted.boxes.boxes())
            out << "\nbox: [" << box.title << "] " << plain(box.text);
        for (const std::string& name : dataFiles("page.pdf")) {
            const auto path = dir / name;
            out << "\nfile: " << name << ' '
                << (std::filesystem::is_regular_file(path)
                        ? std::to_string(std::filesystem::file_size(path))
                        : "(not a file)");
        }
        return out.str() + "\n";
    }

    std::filesystem::path dir;
    std::unique_ptr<sim::SimBench> bench;
    std::unique_ptr<scanner::ScanController> core;
    std::unique_ptr<InstrumentSession> instrument;
    std::unique_ptr<PdfPrinterFactory> printers;
    std::unique_ptr<HardcopyCommand> hardcopies;
    std::unique_ptr<TraceWindowCommand> traces;
    std::unique_ptr<RecorderWindowCommand> recorders;
    std::vector<QString> statuses;  // each change of the status text
    QString lastStatus;
    std::function<void()> duringYield;
};

}  // namespace benchcap::app::test
