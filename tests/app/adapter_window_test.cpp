// The window's bus commands on a "++" GPIB adapter that is not there. That files through
// the adapter are the bench's own is ThroughEmulator's (tests/adapter), for the command line
// and the window alike: both run the same commands on the driver they are given.
#include <gtest/gtest.h>

#include <QApplication>

#include <memory>
#include <string>

#include "app/commands/hardcopy_command.h"
#include "app/commands/instrument_init.h"
#include "app/commands/trace_window_command.h"
#include "app/output/print_hardcopy.h"
#include "app/testing/scripted_services.h"
#include "app/window/main_form.h"
#include "bus/adapter/prologix_driver.h"
#include "office/office_bridge.h"
#include "scanner/scan_iec.h"
#include "support/test_paths.h"

namespace benchcap::app {
namespace {

// A window wired as the program wires it, on whichever driver it is given.
struct WindowOn {
    explicit WindowOn(bus::GpibDriver& driver, bus::Clock& clock)
        : scanner(driver, clock, scripted.boxes), instrument(driver) {
        files.DataPath = QString::fromStdString(benchcap::test::makeTempDir("adapter-window"));
        form = std::make_unique<MainForm>(scripted.services(), files);
        hardcopy = std::make_unique<HardcopyCommand>(*form, instrument, office, printers);
        trace = std::make_unique<TraceWindowCommand>(*form, instrument, office, '.');
        WindowLinks links;
        links.scanner = &scanner;
        links.hardcopy = hardcopy.get();
        links.trace = trace.get();
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
    std::string traceAt(int address, int n) {
        form->selectAddress(address);
        return form->runTrace(n) ? trace->state().text : std::string();
    }

    testing::ScriptedServices scripted;
    OutputFiles files;
    scanner::ScanIECControl scanner;
    InstrumentSession instrument;
    office::NullOfficeBridge office;
    PdfPrinterFactory printers{QStringLiteral("/dev/null")};
    std::unique_ptr<MainForm> form;
    std::unique_ptr<HardcopyCommand> hardcopy;
    std::unique_ptr<TraceWindowCommand> trace;
};

TEST(WindowWithoutAdapter, CommandsNameTheAdapterAndTheReason) {
    const Result<bus::adapter::AdapterAddress> address =
        bus::adapter::parseAdapterAddress("127.0.0.1:1");
    ASSERT_TRUE(address.ok()) << address.error();
    bus::adapter::PrologixDriver driver(address.value());
    bus::RealClock clock;
    WindowOn window(driver, clock);
    for (int command = 0; command < 2; ++command) {
        window.scripted.boxes.clearBoxes();
        EXPECT_TRUE(command == 0 ? window.hardcopyAt(7).empty() : window.traceAt(7, 1).empty());
        const auto texts = window.scripted.boxes.texts();
        ASSERT_EQ(texts.size(), 1u) << command;
        EXPECT_NE(texts[0].find("Prologix adapter at 127.0.0.1:1"), std::string::npos) << texts[0];
        EXPECT_NE(texts[0].find("refused"), std::string::npos) << texts[0];
        EXPECT_EQ(texts[0].find("No device was found"), std::string::npos) << texts[0];
    }
}

}  // namespace
}  // namespace benchcap::app
