// The window's hardcopy and trace through the VXI-11 gateway emulator are the direct bench's.
#include <gtest/gtest.h>

#include <QApplication>

#include "app/commands/hardcopy_command.h"
#include "app/commands/instrument_init.h"
#include "app/commands/trace_window_command.h"
#include "app/output/print_hardcopy.h"
#include "app/testing/scripted_services.h"
#include "app/window/main_form.h"
#include "lan_rig.h"
#include "office/office_bridge.h"
#include "scanner/scan_iec.h"
#include "support/test_paths.h"

namespace benchcap::app {
namespace {

// The window wired as the program wires it, on the driver it is given.
struct Window {
    explicit Window(bus::GpibDriver& driver)
        : scanner(driver, clock, scripted.boxes), instrument(driver) {
        files.DataPath = QString::fromStdString(benchcap::test::makeTempDir("lan-window"));
        form = std::make_unique<MainForm>(scripted.services(), files);
        hardcopy = std::make_unique<HardcopyCommand>(*form, instrument, office, printers);
        trace = std::make_unique<TraceWindowCommand>(*form, instrument, office, '.');
        WindowLinks links;
        links.scanner = &scanner;
        links.hardcopy = hardcopy.get();
        links.trace = trace.get();
        form->link(std::move(links));
        form->show();
        QApplication::processEvents();
    }
    // The metafile hardcopy of 20 and trace 1 of 7, as the window shows them.
    std::pair<std::string, std::string> results() {
        form->selectAddress(20);
        form->item(QStringLiteral("CopyFormatWMF"))->trigger();
        std::string picture;
        if (form->runHardcopy() && hardcopy->onDisplay())
            picture = hardcopy->onDisplay()->picture.bytes();
        form->selectAddress(7);
        return {picture, form->runTrace(1) ? trace->state().text : std::string()};
    }

    bus::VirtualClock clock;
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

TEST(LanWindow, HardcopyAndTraceThroughGatewayAreTheBenchs) {
    test::LanRig rig;
    auto gateway = rig.gatewayDriver();
    sim::SimBench direct(sim::builtinBench(), std::make_shared<bus::VirtualClock>());
    Window viaGateway(*gateway);
    Window onBench(direct);
    const auto [picture, trace] = viaGateway.results();
    const auto [benchPicture, benchTrace] = onBench.results();
    EXPECT_FALSE(picture.empty()) << viaGateway.scripted.boxes.texts().size();
    EXPECT_TRUE(picture == benchPicture);
    EXPECT_FALSE(trace.empty());
    EXPECT_EQ(trace, benchTrace);
}

}  // namespace
}  // namespace benchcap::app
