#pragma once

#include <QString>
#include <QStringList>

namespace benchcap::app {

// What the program's own options ask for; everything else is the command line of
// keywords the window carries out at start-up.
struct AppOptions {
    QString interfaceChoice;  // "library", "sim", "sim:BENCHFILE"; empty: environment
    QString screenshotFile;   // --screenshot FILE: save the window's picture and end
    bool scan = false;        // --scan: "Search instruments" once the window is up
    QString commandLine;      // the rest, joined by blanks
    QString error;            // set when an option is malformed
};

AppOptions parseAppOptions(const QStringList& arguments);

}  // namespace benchcap::app
