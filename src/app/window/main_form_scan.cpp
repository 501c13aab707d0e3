// Bus scan and instrument selection on the main window.
#include <QApplication>
#include <QMenu>

#include <utility>

#include "app/commands/bus_worker.h"
#include "app/ui/qt_text.h"
#include "app/ui/selection_codes.h"
#include "app/window/main_form.h"
#include "app/window/scan_panel.h"
#include "bus/user_interface.h"

namespace benchcap::app {

void MainForm::setScanner(scanner::ScanController* core) {
    const bool sameScanner = scanner_ == core;
    if (scanner_)
        scanner_->setHooks({});  // the old panel goes
    scanner_ = core;
    if (!core) {
        setScanPanel(nullptr);
        return;
    }
    // A panel made anew keeps nothing of an earlier scanner's.
    auto* panel = scanPanel_ && sameScanner ? static_cast<ScanIECPanel*>(scanPanel_.data())
                                            : new ScanIECPanel(*core, client_);
    // The scan runs on the bus worker: the panel follows it on the window's thread, while
    // the scan waits, so the panel reads a table that stands still.
    const scanner::ScanHooks shown = panel->hooks([this] {
        if (yield_)
            yield_();
    });
    scanner::ScanHooks hooks;
    hooks.ledChanged = [this, shown](int16_t a) { onWindowThread([&] { shown.ledChanged(a); }); };
    hooks.textChanged = [this, shown](scanner::TextLine line) {
        onWindowThread([&] { shown.textChanged(line); });
    };
    hooks.yield = [this, shown] { onWindowThread(shown.yield); };
    hooks.stopRequested = [this] { return worker_ && worker_->stopRequested(); };
    core->setHooks(std::move(hooks));
    if (panel == scanPanel_)
        return;
    connect(panel, &ScanIECPanel::SelectIEC, this, &MainForm::selectScannedAddress);
    setScanPanel(panel);
}

void MainForm::startScan() {
    if (!scanner_)
        return;
    // A hardcopy, trace or scan on the bus goes on undisturbed; this scan is refused.
    BusCommands::Claim claim = busCommands_.claim();
    if (!claim) {
        QApplication::beep();
        return;
    }
    setCursor(Qt::WaitCursor);
    showError(QStringLiteral("scanning bus..."));
    showStatus(QStringLiteral("scanning..."));

    // The panel is centred in the client area and stays visible after the scan.
    QWidget* panel = scanPanel_;
    panel->move(client_->width() / 2 - panel->width() / 2,
                client_->height() / 2 - panel->height() / 2);
    panel->show();
    panel->raise();

    scanner_->setStartTimeOut(bus::timeout_codes::T1s);
    scanner_->setStopTimeOut(bus::timeout_codes::T3s);
    bool scanned = false;
    // While the scan writes the table and the panel's texts, the window only shows them.
    const auto scanRunning = [this, panel](bool running) {
        scanRunning_ = running;
        static_cast<ScanIECPanel*>(panel)->setScanRunning(running);
    };
    scanRunning(true);
    const bool ran = claim.run([&](WindowView&) { scanned = scanner_->ScanIECBus(); });
    scanRunning(false);
    const bool stopped = worker_ && worker_->stopRequested();
    if (!ran) {
        unsetCursor();
        showError(QString());
        (void)refuseBusyBus();
        return;
    }
    if (!scanned)
        return;

    bool found = false;
    for (int a = 1; a <= 30; ++a) {
        addressItem(a)->setVisible(true);
        found = found || selectionRule(scanner_->deviceType(static_cast<int16_t>(a))).countsAsFound;
    }
    if (!found) {
        addressItem(1)->setText(QStringLiteral("no instruments found"));
        addressItem(1)->setEnabled(false);
        for (int a = 2; a <= 30; ++a)
            addressItem(a)->setVisible(false);
    } else {
        for (int a = 1; a <= 30; ++a) {
            const auto address = static_cast<int16_t>(a);
            const std::string& info = scanner_->DeviceInfo(address);
            addressItem(a)->setEnabled(true);
            addressItem(a)->setText(
                QStringLiteral("%1: ").arg(a, 2, 10, QLatin1Char('0')) +
                trimBlanks(QString::fromLatin1(info.data(), static_cast<qsizetype>(info.size()))));
            addressItem(a)->setVisible(scanner_->deviceType(address) != 0);
        }
    }

    unsetCursor();
    showError(QString());
    if (scanner_->BoardID() < 0 && !driverProblem_.isEmpty()) {
        showStatus(driverProblem_);
    } else if (scanner_->BoardID() < 0 && !scanner_->boardFailure().empty()) {
        showStatus(QString::fromLatin1(scanner_->boardFailure()));
    } else {
        // A stopped scan lists what it found before the stop.
        showStatus(stopped ? QStringLiteral("scan stopped") : QStringLiteral("bus scanned"));
    }
    // An address chosen in the menu while the scan ran gets its menus now; an indicator
    // clicked then is chosen now, by what the scan found.
    if (const int chosen = std::exchange(chosenDuringScan_, 0))
        selectAddress(chosen);
    if (const int16_t clicked = std::exchange(clickedDuringScan_, 0))
        selectScannedAddress(clicked);
}

void MainForm::selectScannedAddress(int16_t address) {
    // The table is the scan's until it ends.
    if (scanRunning_) {
        clickedDuringScan_ = address;
        return;
    }
    const int32_t code = scanner_ ? scanner_->deviceType(address) : 0;
    if (selectionRule(code).refused) {
        if (services_.boxes)
            services_.boxes->messageBox(bus::MessageIcon::Critical, "ERROR", kRefusedText,
                                        bus::MessageButtons::Ok);
        return;  // the selection and the panel stay
    }
    selectAddress(address);
    if (scanPanel_)
        scanPanel_->hide();
}

void MainForm::startScanFromMenu() {
    emit item<QMenu>(QStringLiteral("SetUp"))->aboutToShow();
    item(QStringLiteral("StartScan"))->trigger();
}

void MainForm::selectAddress(int address) {
    for (int i = 1; i <= 30; ++i)
        addressItem(i)->setChecked(i == address);
    if (address < 1 || address > 30 || !scanner_)
        return;
    // The table is the scan's until it ends.
    if (scanRunning_) {
        chosenDuringScan_ = address;
        return;
    }
    QAction* getTheData = item(QStringLiteral("GetTheData"));
    switch (selectionRule(scanner_->deviceType(static_cast<int16_t>(address))).menus) {
        case TraceMenus::Keep:
            break;
        case TraceMenus::TraceOnTrace4On:
            getTheData->setEnabled(true);
            traceItem(4)->setEnabled(true);
            break;
        case TraceMenus::TraceOnTrace4Off:
            getTheData->setEnabled(true);
            traceItem(4)->setEnabled(false);
            break;
        case TraceMenus::TraceOff:
            getTheData->setEnabled(false);
            break;
    }
}

}  // namespace benchcap::app
