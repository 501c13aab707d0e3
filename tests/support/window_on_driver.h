#pragma once

// The main window wired as the program wires it, on whichever driver it is given, with
// helpers that run the hardcopy and trace commands as the command line does. Header only:
// the tests that include it link the window program's library.

#include <QApplication>

#include <memory>
#include <string>

#include "app/commands/bus_worker.h"
#include "app/commands/hardcopy_command.h"
#include "app/commands/instrument_init.h"
#include "app/commands/recorder_window_command.h"
#include "app/commands/trace_window_command.h"
#include "app/commands/window_side.h"
#include "app/output/print_hardcopy.h"
#include "app/window/main_form.h"
#include "office/office_bridge.h"
#include "scanner/scan_iec.h"
#include "support/scripted_services.h"
#include "support/test_paths.h"

namespace benchcap::test {

struct WindowOnDriver {
    WindowOnDriver(bus::GpibDriver& driver, bus::Clock& clock, const std::string& tempName)
        : scanner(driver, clock, scannerBoxes), instrument(driver) {
        worker.watch(driver, instrument.session(), {});
        files.DataPath = QString::fromStdString(makeTempDir(tempName));
        form = std::make_unique<app::MainForm>(scripted.services(), files);
        hardcopy = std::make_unique<app::HardcopyCommand>(*form, instrument, office, printers);
        trace = std::make_unique<app::TraceWindowCommand>(*form, instrument, office, '.');
        recorder = std::make_unique<app::RecorderWindowCommand>(*form, instrument, clock, '.');
        app::WindowLinks links;
        links.scanner = &scanner;
        links.busWorker = &worker;
        links.hardcopy = hardcopy.get();
        links.trace = trace.get();
        links.recorder = recorder.get();
        form->link(std::move(links));
        form->resize(800, 600);
        form->show();
        QApplication::processEvents();
    }
    // The picture's bytes after a metafile hardcopy at `address`, empty when none.
    std::string hardcopyAt(int address) {
        form->selectAddress(address);
        form->item(QStringLiteral("CopyFormatWMF"))->trigger();
        if (!form->runHardcopy() || !hardcopy->onDisplay())
            return {};
        return hardcopy->onDisplay()->picture.bytes();
    }
    // Trace `n`'s text as read from `address`, empty when none.
    std::string traceAt(int address, int n) {
        form->selectAddress(address);
        return form->runTrace(n) ? trace->state().text : std::string();
    }

    app::testing::ScriptedServices scripted;
    app::OutputFiles files;
    app::BusWorker worker;
    app::WindowThreadBoxes scannerBoxes{worker, &scripted.boxes};
    scanner::ScanController scanner;
    app::InstrumentSession instrument;
    office::NullOfficeBridge office;
    app::PdfPrinterFactory printers{QStringLiteral("/dev/null")};
    std::unique_ptr<app::MainForm> form;
    std::unique_ptr<app::HardcopyCommand> hardcopy;
    std::unique_ptr<app::TraceWindowCommand> trace;
    std::unique_ptr<app::RecorderWindowCommand> recorder;
};

}  // namespace benchcap::test
