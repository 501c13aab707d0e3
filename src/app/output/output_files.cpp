#include "app/output/output_files.h"

#include <QFileInfo>
#include <QLocale>

#include "app/ui/qt_text.h"

namespace benchcap::app {

WallClock systemWallClock() {
    return [] { return QDateTime::currentDateTime(); };
}

QString uniqueFileName(const QString& name) {
    if (!QFileInfo::exists(name))
        return name;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const qsizetype slash =
        std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
    const qsizetype cut = dot > slash ? dot : name.size();
    for (int n = 2;; ++n) {
        const QString candidate =
            name.left(cut) + QLatin1Char('-') + QString::number(n) + name.mid(cut);
        if (!QFileInfo::exists(candidate))
            return candidate;
    }
}

OutputFiles::OutputFiles(WallClock clock, QChar separator)
    : clock_(std::move(clock)), separator_(separator) {}

Status OutputFiles::makeFolderFor(const QString& fileName) {
    const QString folder = QFileInfo(QDir::fromNativeSeparators(fileName)).absolutePath();
    if (QFileInfo(folder).isDir() || QDir().mkpath(folder))
        return {};
    return fail("Cannot create the folder " + QDir::toNativeSeparators(folder).toStdString() +
                " for " + fileName.toStdString() +
                "; choose another one with \"Path for auto-save files\".");
}

void OutputFiles::rememberSaveFolder(const QString& savedFile) {
    lastSaveFolder_ = QFileInfo(QDir::fromNativeSeparators(savedFile)).absolutePath();
}

QString OutputFiles::stamp(const QDateTime& when) {
    // The C locale keeps the digits ASCII whatever the desktop's language.
    return QLocale::c().toString(when, QStringLiteral("yy.MM.dd-HH.mm.ss"));
}

QString OutputFiles::outputFileName(const QString& extension, int index, bool manualName) const {
    const QString ext = QLatin1Char('.') + extension;
    if (manualName) {
        const QString name = trimBlanks(ManualName);
        if (name.contains(separator_))
            return name + ext;  // already a full path
        return DataPath + separator_ + name + ext;
    }
    // Only the exact capital "TXT" names a trace file.
    const QString prefix = extension == QLatin1String("TXT")
                               ? QStringLiteral("TRACE") + QString::number(index)
                               : QStringLiteral("HARDCOPY");
    return DataPath + separator_ + prefix + QLatin1Char('-') + stamp(clock_()) + ext;
}

}  // namespace benchcap::app
