#pragma once

#include <QObject>
#include <QString>

#include "bus/log/logging_driver.h"

namespace benchcap::app {

class MainForm;
class SaveFileDialog;
class SettingsStore;

// "Setup" > "Bus log..." over the program's logging driver: checking it asks for the log
// file (kept in the settings as "BusLogFile", beside the mark "BusLog") and starts the log,
// unchecking it ends it; the status line says where the log goes. A log named on the command line
// (--bus-log or BENCHCAP_BUS_LOG) runs for this start only and leaves the setting alone.
class BusLogSwitch : public QObject {
  public:
    // `settings` may be nullptr (nothing kept).
    BusLogSwitch(MainForm& form, bus::log::LoggingDriver& log, SaveFileDialog& dialog,
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

    MainForm& form_;
    bus::log::LoggingDriver& log_;
    SaveFileDialog& dialog_;
    SettingsStore* settings_;
    QString interface_;
    QString problem_;  // why the log could not be opened
};

}  // namespace benchcap::app
