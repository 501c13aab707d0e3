#include "app/ui_services.h"

#include <QStringList>

namespace benchcap::app {

QString folderBrowserText(const QString& title, const QString& currentFolder) {
    return title + QStringLiteral("\r\nCurrent Path: ") + currentFolder;
}

QString qtNameFilter(const QString& pairFilter) {
    const QStringList parts = pairFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString pattern = parts[i + 1];
        pattern.replace(QLatin1Char(';'), QLatin1Char(' '));
        filters << parts[i] + QStringLiteral(" (") + pattern + QLatin1Char(')');
    }
    return filters.join(QStringLiteral(";;"));
}

}  // namespace benchcap::app
