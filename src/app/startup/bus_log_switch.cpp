#include "app/startup/bus_log_switch.h"

#include <QAction>
#include <QWidget>

#include "app/commands/window_view.h"
#include "app/output/output_files.h"
#include "app/startup/settings_store.h"
#include "app/ui/ui_services.h"

namespace benchcap::app {

namespace {
const QString kApplication = QStringLiteral("BENCHCAP");
const QString kSection = QStringLiteral("Settings");
const QString kKey = QStringLiteral("BusLogFile");
const QString kMark = QStringLiteral("BusLog");
const QString kFull = QStringLiteral("BusLogFull");
}  // namespace

BusLogSwitch::BusLogSwitch(BusLogMenu& form, bus::log::LoggingDriver& log, SaveFileDialog& dialog,
                           SettingsStore* settings, QString interface)
    : QObject(&form.dialogOwner()),
      form_(form),
      log_(log),
      dialog_(dialog),
      settings_(settings),
      interface_(std::move(interface)) {
    // Only the user's click: start-up checking the stored mark starts nothing by itself.
    connect(&form.busLogItem(), &QAction::triggered, this, [this](bool on) { toggled(on); });
    QAction* full = &form.busLogFullItem();
    if (settings_)
        full->setChecked(
            decodeBool(settings_->read(kApplication, kSection, kFull, {})).value_or(false));
    // Kept as the user sets it; a log already open keeps the setting it was opened with.
    connect(full, &QAction::triggered, this, [this](bool on) {
        if (settings_)
            settings_->write(kApplication, kSection, kFull, encodeBool(on));
    });
}

QString BusLogSwitch::keptFile() const {
    return settings_ ? settings_->read(kApplication, kSection, kKey, {}) : QString();
}

bool BusLogSwitch::open(const QString& file, bool fullData) {
    const Status started =
        log_.start(file.toLocal8Bit().toStdString(), fullData, interface_.toStdString());
    problem_ = started ? QString() : QString::fromLocal8Bit(started.error().c_str());
    showWhere();
    return started.ok();
}

void BusLogSwitch::start(const QString& commandLineFile, bool fullData) {
    // --bus-log-full asks for whole blocks in every log of this run, the menu's too.
    QAction* full = &form_.busLogFullItem();
    if (fullData)
        full->setChecked(true);
    if (!commandLineFile.isEmpty()) {
        open(commandLineFile, fullData);
        return;
    }
    const bool marked =
        settings_ && decodeBool(settings_->read(kApplication, kSection, kMark, {})).value_or(false);
    if (marked && !keptFile().isEmpty() && open(keptFile(), full->isChecked()))
        form_.busLogItem().setChecked(true);
}

void BusLogSwitch::showWhere() {
    if (!problem_.isEmpty())
        form_.view().showStatus(problem_);
    else if (log_.active())
        form_.view().showStatus(QStringLiteral("bus log: writing to %1")
                                    .arg(QString::fromLocal8Bit(log_.path().c_str())));
}

void BusLogSwitch::toggled(bool on) {
    // The log sits between the bus worker and the driver: it changes between commands only,
    // and none starts while the dialog below is open.
    const BusCommands::Claim claim = form_.claimBus();
    if (!claim) {
        form_.busLogItem().setChecked(!on);
        form_.view().showStatus(QStringLiteral(
            "the bus log is switched between bus commands: stop or wait for the running one"));
        return;
    }
    if (!on) {
        log_.stop();
        form_.view().showStatus(summary());
        if (settings_)
            settings_->write(kApplication, kSection, kMark, encodeBool(false));
        return;
    }
    const QString file =
        askSaveName(dialog_, &form_.dialogOwner(), QStringLiteral("bus log|*.log|all files|*.*"),
                    form_.view().services().files.DataPath);
    if (file.isEmpty() || !open(file, form_.busLogFullItem().isChecked())) {
        form_.busLogItem().setChecked(false);
        return;
    }
    if (settings_) {
        settings_->write(kApplication, kSection, kMark, encodeBool(true));
        settings_->write(kApplication, kSection, kKey, file);
    }
}

QString BusLogSwitch::summary() const {
    return QString::fromLocal8Bit(log_.summaryLine().c_str());
}

}  // namespace benchcap::app
