#pragma once

#include <QObject>
#include <QString>

#include "app/commands/bus_commands.h"
#include "bus/log/logging_driver.h"

class QAction;
class QWidget;

namespace benchcap::app {

class SaveFileDialog;
class SettingsStore;
class WindowView;

// The window as the bus log's switch sees it; the main window implements it.
class BusLogMenu {
  public:
    virtual ~BusLogMenu() = default;
    // "Setup" > "Bus log..." and "Setup" > "Bus log with full data".
    virtual QAction& busLogItem() = 0;
    virtual QAction& busLogFullItem() = 0;
    // The status line and where output files go.
    virtual WindowView& view() = 0;
    // The log changes between bus commands only: the switch holds the bus while it asks
    // for the file and opens or closes the log (no command starts meanwhile).
    virtual BusCommands::Claim claimBus() = 0;
    // Owner of the save dialog and of the switch.
    virtual QWidget& dialogOwner() = 0;
};

// "Setup" > "Bus log..." over the program's logging driver: checking it asks for the log
// file (kept in the settings as "BusLogFile", beside the mark "BusLog") and starts the log,
// unchecking it ends it; the status line says where the log goes. A log named on the command line
// (--bus-log or BENCHCAP_BUS_LOG) runs for this start only and leaves the setting alone.
class BusLogSwitch : public QObject {
  public:
    // `settings` may be nullptr (nothing kept).
    BusLogSwitch(BusLogMenu& form, bus::log::LoggingDriver& log, SaveFileDialog& dialog,
                 SettingsStore* settings, QString interface);

    // Before the command line runs: the command line's log, else the kept one when the
    // stored check mark says so.
    void start(const QString& commandLineFile, bool fullData);
    // The status line says where the log goes (when one is open or failed to open).
    void showWhere();
    // The log's last word for the status line or standard error; empty without a log.
    QString summary() const;

  private:
    void toggled(bool on);
    bool open(const QString& file, bool fullData);
    QString keptFile() const;

    BusLogMenu& form_;
    bus::log::LoggingDriver& log_;
    SaveFileDialog& dialog_;
    SettingsStore* settings_;
    QString interface_;
    QString problem_;  // why the log could not be opened
};

}  // namespace benchcap::app
