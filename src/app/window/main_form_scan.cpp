// Bus scan and instrument selection on the main window.
#include <QApplication>
#include <QMenu>

#include "app/window/main_form.h"
#include "app/window/scan_panel.h"
#include "app/window/selection_codes.h"
#include "bus/user_interface.h"

namespace benchcap::app {

void MainForm::setScanner(scanner::ScanIECControl* core) {
    if (scanner_)
        scanner_->setHooks({});  // the old panel goes
    scanner_ = core;
    if (!core) {
        setScanPanel(nullptr);
        return;
    }
    auto* panel = new ScanIECPanel(*core, client_);
    core->setHooks(panel->hooks([this] {
        if (yield_)
            yield_();
    }));
    connect(panel, &ScanIECPanel::SelectIEC, this, &MainForm::selectScannedAddress);
    setScanPanel(panel);
}

void MainForm::startScan() {
    if (!scanner_)
        return;
    // A hardcopy or trace on the bus goes on undisturbed; the scan is refused.
    if (busCommands_.busy()) {
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
    // A scan already running (this click came in through one of its yields) goes on to
    // its end and fills the menu itself; this request is refused.
    if (!scanner_->ScanIECBus())
        return;

    bool found = false;
    for (int a = 1; a <= 30; ++a) {
        addressItem(a)->setVisible(true);
        found = found || selectionRule(scanner_->DeviceTyp(static_cast<int16_t>(a))).countsAsFound;
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
            addressItem(a)->setVisible(scanner_->DeviceTyp(address) != 0);
        }
    }

    unsetCursor();
    showError(QString());
    if (scanner_->BoardID() < 0 && !driverProblem_.isEmpty()) {
        showStatus(driverProblem_);
    } else if (scanner_->BoardID() < 0 && !scanner_->boardFailure().empty()) {
        showStatus(QString::fromLatin1(scanner_->boardFailure()));
    } else {
        showStatus(QStringLiteral("bus scanned"));
    }
}

void MainForm::selectScannedAddress(int16_t address) {
    const int32_t code = scanner_ ? scanner_->DeviceTyp(address) : 0;
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

void MainForm::selectAddress(int address) {
    for (int i = 1; i <= 30; ++i)
        addressItem(i)->setChecked(i == address);
    if (address < 1 || address > 30 || !scanner_)
        return;
    QAction* getTheData = item(QStringLiteral("GetTheData"));
    switch (selectionRule(scanner_->DeviceTyp(static_cast<int16_t>(address))).menus) {
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
