// benchcap [--interface library|sim[:BENCHFILE]] [--scan] [--screenshot FILE] [/KEYWORD ...]
#include <QApplication>
#include <QCoreApplication>
#include <QMenu>
#include <QTimer>

#include <cstdio>

#include "app/app_options.h"
#include "app/hardcopy_command.h"
#include "app/instrument_init.h"
#include "app/main_form.h"
#include "app/office_bridge.h"
#include "app/output_files.h"
#include "app/print_hardcopy.h"
#include "app/qt_ui_services.h"
#include "app/trace_window_command.h"
#include "office/uno_office.h"
#include "scanner/scan_iec.h"
#include "sim/backend.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Benchcap"));
    QApplication::setApplicationDisplayName(QStringLiteral("Benchcap"));

    using namespace benchcap::app;
    const AppOptions options = parseAppOptions(QCoreApplication::arguments());
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "benchcap: %s\n", qPrintable(options.error));
        return 2;
    }

    // Services and program-wide records live as long as the program.
    QtUserInterface boxes;
    QtFolderBrowser folders;
    QtSaveFileDialog saveDialog;
    QtPrintDialog printDialog;
    QtClipboard clipboard;
    QtTrayIcon tray;
    OutputFiles files;
    files.DataPath = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());

    MainForm form({&boxes, &folders, &saveDialog, &printDialog, &clipboard, &tray}, files);
    boxes.setOwner(&form);
    // The driver backend: the NI-488.2 library, or a simulated bench.
    benchcap::sim::Backend backend =
        benchcap::sim::makeBackend(options.interfaceChoice.toStdString());
    if (!backend.error.empty()) {
        std::fprintf(stderr, "benchcap: %s\n", backend.error.c_str());
        boxes.messageBox(benchcap::bus::MessageIcon::Critical, "", backend.error,
                         benchcap::bus::MessageButtons::Ok);
        return 2;
    }

    benchcap::scanner::ScanIECControl scanner(*backend.driver, *backend.clock, boxes);
    form.setScanner(&scanner);
    // The selected instrument and the hardcopy command live as long as the program.
    InstrumentSession instrument(*backend.driver);
    benchcap::office::LibreOfficeBridge office(boxes);  // the running LibreOffice, if any
    QtPrinterFactory printers;
    HardcopyCommand hardcopy(form, instrument, office, printers);
    form.setHardcopyCommand(&hardcopy);
    TraceWindowCommand traceCommand(form, instrument, office);
    form.setTraceCommand(&traceCommand);

    form.SelectAdr(20);
    // Without a usable driver the status line says why, so the user knows what to install.
    const QString reason = QString::fromStdString(backend.driver->unavailableReason());
    form.setDriverProblem(reason);
    form.UpSta(reason.isEmpty() ? QStringLiteral("idle") : reason);
    form.show();

    auto screenshot = [&] {
        const bool ok = form.grab().save(options.screenshotFile);
        QCoreApplication::exit(ok ? 0 : 1);
    };
    if (options.scan) {
        // As the user does it: open "Setup", choose "Search instruments".
        QTimer::singleShot(0, &form, [&] {
            emit form.menu(QStringLiteral("SetUp"))->aboutToShow();
            form.menuItem(QStringLiteral("StartScan"))->trigger();
            if (!options.screenshotFile.isEmpty())
                QTimer::singleShot(300, &form, screenshot);
        });
    } else if (!options.screenshotFile.isEmpty()) {
        QTimer::singleShot(500, &form, screenshot);
    }
    return QApplication::exec();
}
