#include "app/startup/version_info.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace benchcap::app {

VersionInfo VersionInfo::current() {
    VersionInfo v;
    v.major = BENCHCAP_VERSION_MAJOR;
    v.minor = BENCHCAP_VERSION_MINOR;
    v.revision = BENCHCAP_VERSION_PATCH;
    v.fileDate = QFileInfo(QCoreApplication::applicationFilePath()).lastModified().date();
    return v;
}

QString VersionInfo::versionText() const {
    QString text = QString::number(major) + QLatin1Char('.') + QString::number(minor);
    if (revision != 0)
        text += QStringLiteral(" beta ") + QString::number(revision);
    return text;
}

QString usDate(const QDate& date) {
    if (!date.isValid())
        return QString();
    return QStringLiteral("%1/%2/%3").arg(date.month()).arg(date.day()).arg(date.year());
}

QString VersionInfo::dateText() const {
    return usDate(fileDate);
}

QString VersionInfo::windowTitle() const {
    return QStringLiteral("Veltronik ") + product + QStringLiteral(", V ") + versionText() +
           QStringLiteral(" from ") + dateText();
}

}  // namespace benchcap::app
