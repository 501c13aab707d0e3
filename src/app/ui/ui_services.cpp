#include "app/ui/ui_services.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

#include "app/ui/qt_text.h"

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

QString askSaveName(SaveFileDialog& dialog, QWidget* owner, const QString& filter,
                    const QString& folder, const QString& suggested) {
    dialog.setFilter(filter);
    dialog.setFolder(folder);
    dialog.setSuggestedName(suggested);
    QString name = trimBlanks(dialog.showSave(owner));
    if (name.isEmpty())
        return name;
    const qsizetype slash =
        std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
    if (name.indexOf(QLatin1Char('.'), slash + 1) >= 0)
        return name;  // the user's own extension stands
    const QStringList parts = filter.split(QLatin1Char('|'));
    const qsizetype pattern = 2 * qsizetype{dialog.selectedFilter()} + 1;
    if (pattern < parts.size()) {
        const QString wanted = parts[pattern];
        // Only a single "*.EXT" names one extension; "*.*" and lists add nothing.
        if (wanted.startsWith(QLatin1String("*.")) && wanted.size() > 2 &&
            !wanted.mid(2).contains(QRegularExpression(QStringLiteral("[*?;. ]"))))
            name += QLatin1Char('.') + wanted.mid(2).toLower();
    }
    return name;
}

}  // namespace benchcap::app
