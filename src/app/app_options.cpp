#include "app/app_options.h"

namespace benchcap::app {

AppOptions parseAppOptions(const QStringList& arguments) {
    AppOptions o;
    QStringList rest;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        auto value = [&](const QString& name) -> QString {
            if (a.startsWith(name + QLatin1Char('=')))
                return a.mid(name.size() + 1);
            if (i + 1 < arguments.size())
                return arguments[++i];
            o.error = name + QStringLiteral(" needs a value");
            return {};
        };
        if (a == QLatin1String("--interface") || a.startsWith(QLatin1String("--interface=")))
            o.interfaceChoice = value(QStringLiteral("--interface"));
        else if (a == QLatin1String("--screenshot") || a.startsWith(QLatin1String("--screenshot=")))
            o.screenshotFile = value(QStringLiteral("--screenshot"));
        else if (a == QLatin1String("--scan"))
            o.scan = true;
        else
            rest << a;
    }
    o.commandLine = rest.join(QLatin1Char(' '));
    return o;
}

}  // namespace benchcap::app
