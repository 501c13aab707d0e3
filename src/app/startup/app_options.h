#pragma once

#include <QString>
#include <QStringList>

#include <optional>

#include "base/result.h"

namespace benchcap::app {

// The program's own options, taken off the front of the arguments; the rest, joined by
// blanks, is the "/" command line the window carries out at start-up.
struct AppOptions {
    QString interfaceChoice;          // "library", "sim", "sim:BENCHFILE"; empty: environment
    std::optional<QString> dataPath;  // --data-path DIR: this run's data path, not stored
    bool help = false;                // --help
    bool version = false;             // --version
    bool systemInfo = false;          // --system-info
    QString screenshotFile;           // --screenshot FILE: save the window's picture and end
    bool scan = false;                // --scan: "Search instruments" once the window is up
    QString busLogFile;               // --bus-log FILE: every driver call logged there
    bool busLogFull = false;          // --bus-log-full: long blocks kept whole in the log
    QString commandLine;              // the rest, joined by blanks
};

// The program's options are taken off wherever they stand; an unknown "--" word before the
// command line is an error, after it part of the command line; "--" ends the options.
// A malformed option is the failure, in words for "benchcap: ..." (exit status 2).
Result<AppOptions> parseAppOptions(const QStringList& arguments);

QString usageText();

}  // namespace benchcap::app
