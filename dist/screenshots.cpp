// Developer tool: screenshots of the window at a first start, the about box and its system
// report, from the screen (run under xvfb-run): benchcap_screenshots FOLDER. With
// "recorder" after the folder: the trace recorder at work on a bench slowed to a real bus's
// speed, with the "Start" menu open.
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include <fstream>

#include "app/commands/bus_worker.h"
#include "app/commands/instrument_init.h"
#include "app/commands/recorder_window_command.h"
#include "app/commands/window_side.h"
#include "app/startup/settings_store.h"
#include "app/startup/unattended_boxes.h"
#include "app/ui/qt_ui_services.h"
#include "app/window/about_form.h"
#include "app/window/main_form.h"
#include "interfaces/backend.h"
#include "scanner/scan_iec.h"

using namespace benchcap::app;

static void shoot(QWidget* w, const QString& file) {
    QApplication::processEvents();
    const QRect r = w->frameGeometry();
    QGuiApplication::primaryScreen()->grabWindow(0, r.x(), r.y(), r.width(), r.height()).save(file);
}

// A spectrum analyzer sending its 1001 points at 20 kB/s (a fifth of a second a trace).
static const char kSlowAnalyzer[] = R"(clock: real
instruments:
  - {address: 7, kind: spectrum-analyzer, idn: "Veltronik,KLT-3,1,1.70", center_hz: 1.0e9,
     span_hz: 1.0e7, points: 1001, rate_bytes_per_s: 20000}
)";

static int recorderScene(QApplication& app, const QString& out) {
    QTemporaryDir tmp;
    const std::string benchFile = tmp.filePath(QStringLiteral("bench.yaml")).toStdString();
    std::ofstream(benchFile) << kSlowAnalyzer;
    auto backend = benchcap::interfaces::makeBackend("sim:" + benchFile);
    if (!backend.status)
        return 1;
    QtUserInterface boxes;
    QtTrayIcon tray;
    OutputFiles files;
    files.DataPath = tmp.path();
    BusWorker worker;
    WindowThreadBoxes scannerBoxes(worker, &boxes);
    benchcap::scanner::ScanController scanner(*backend.driver, *backend.clock, scannerBoxes);
    MainForm form({&boxes, nullptr, nullptr, nullptr, nullptr, &tray}, files);
    boxes.setOwner(&form);
    InstrumentSession instrument(*backend.driver);
    RecorderWindowCommand recorder(form, instrument, *backend.clock, '.');
    recorder.setInterfaceName(backend.description);
    WindowLinks links;
    links.scanner = &scanner;
    links.busWorker = &worker;
    links.recorder = &recorder;
    form.link(std::move(links));
    worker.watch(*backend.driver, instrument.session(), {});
    form.resize(900, 680);
    form.move(40, 40);
    form.show();
    form.selectAddress(7);
    // Twenty seconds of recording, then the "Start" menu opened over it.
    QTimer::singleShot(20'000, [&] {
        QMenu* start = form.item<QMenu>(QStringLiteral("GoGet"));
        form.menuBar()->setActiveAction(start->menuAction());
        QTimer::singleShot(700, [&, start] {
            shoot(&form, out + "/recorder-window.png");
            start->close();
            form.item(QStringLiteral("Stop"))->trigger();
        });
    });
    QTimer::singleShot(0, [&] {
        (void)recorder.run({{1, 500'000}});
        QApplication::quit();
    });
    return app.exec();
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Benchcap"));
    if (argc == 3 && QString::fromLocal8Bit(argv[2]) == QLatin1String("recorder"))
        return recorderScene(app, QString::fromLocal8Bit(argv[1]));
    if (argc != 2)
        return 2;
    const QString out = QString::fromLocal8Bit(argv[1]);
    QtUserInterface boxes;
    QtTrayIcon tray;
    OutputFiles files;
    // Made before the window, which still unhooks the scanner as it goes.
    auto backend = benchcap::interfaces::makeBackend("sim");
    benchcap::scanner::ScanController scanner(*backend.driver, *backend.clock, boxes);
    MainForm form({&boxes, nullptr, nullptr, nullptr, nullptr, &tray}, files);
    boxes.setOwner(&form);
    WindowLinks links;
    links.scanner = &scanner;
    form.link(std::move(links));
    QTemporaryDir tmp;
    IniSettingsStore store(tmp.path());
    StartupContext ctx;
    ctx.settings = &store;
    ctx.version = VersionInfo::current();
    ctx.defaultDataPath = "/home/lab/Documents/Benchcap";
    form.startUp(ctx);
    form.move(40, 40);
    QTimer::singleShot(800, [&] {
        shoot(&form, out + "/main-window.png");
        form.item("About")->trigger();
        AboutForm* about = form.aboutForm();
        about->move(form.x() + 120, form.y() + 120);
        QTimer::singleShot(500, [&, about] {
            shoot(about, out + "/about-box.png");
            QTimer::singleShot(500, [&] {
                QWidget* box = QApplication::activeModalWidget();
                if (box) {
                    shoot(box, out + "/system-report.png");
                    box->close();
                }
                QApplication::quit();
            });
            about->showSystemInformation();
        });
    });
    return app.exec();
}
