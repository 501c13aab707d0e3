#pragma once

#include <QChar>
#include <QDateTime>
#include <QDir>
#include <QString>

#include <functional>

#include "base/result.h"

namespace benchcap::app {

// Wall-clock date and time for file-name stamps; injectable so tests fix the moment.
using WallClock = std::function<QDateTime()>;
WallClock systemWallClock();

// `name` when no file of that name exists, else the first free one of name-2.EXT,
// name-3.EXT, ... Automatic names carry the time to the second; two outputs within one
// second must not replace each other.
QString uniqueFileName(const QString& name);

// Where output files go and under which names. One object per program, owned by the
// application and handed to whoever writes files.
class OutputFiles {
  public:
    explicit OutputFiles(WallClock clock = systemWallClock(), QChar separator = QDir::separator());

    // Folder for automatically named files, used unchanged (no separator added or removed).
    QString DataPath;
    // Name without extension from the command line's NAME=, and whether it applies.
    QString ManualName;
    bool UseManualName = false;

    // Full name of a new output file. `Extension` without the dot ("BMP", "WMF", "TXT");
    // `index` is the trace number of "TXT" files; `manualName` chooses `ManualName`.
    // Only builds the name: creates nothing, checks nothing.
    QString outputFileName(const QString& extension, int index, bool manualName) const;

    // Creates the folder a new output file goes into when it is missing (a data path never
    // used before, such as Documents/Benchcap). Fails with the folder named when it cannot.
    static Status makeFolderFor(const QString& fileName);

    // Where the save dialogs open: the folder of the last file saved through them in this
    // run, else the data path.
    QString saveFolder() const { return lastSaveFolder_.isEmpty() ? DataPath : lastSaveFolder_; }
    void rememberSaveFolder(const QString& savedFile);

    // The stamp of a moment: yy.MM.dd-HH.mm.ss, e.g. 03.12.05-14.03.09.
    static QString stamp(const QDateTime& when);

    QChar separator() const { return separator_; }
    // The moment the stamps of automatic names are taken from.
    QDateTime now() const { return clock_(); }

  private:
    WallClock clock_;
    QChar separator_;
    QString lastSaveFolder_;
};

}  // namespace benchcap::app
