#pragma once

#include <QDate>
#include <QString>

namespace benchcap::app {

// The program's version data and the date of its own file, for the title, the about box
// and --version.
struct VersionInfo {
    QString product = QStringLiteral("Benchcap");
    int major = 0;
    int minor = 0;
    int revision = 0;
    QDate fileDate;

    // This build's version with the modification date of the running program's file.
    static VersionInfo current();

    // "2.3", or "2.3 beta 4" for revision 4.
    QString versionText() const;
    // M/D/YYYY without leading zeros, e.g. 3/7/2003.
    QString dateText() const;
    // "Veltronik Benchcap, V 2.3 from 3/7/2003".
    QString windowTitle() const;
};

QString usDate(const QDate& date);

}  // namespace benchcap::app
