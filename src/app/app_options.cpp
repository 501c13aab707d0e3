#include "app/app_options.h"

namespace benchcap::app {

AppOptions parseAppOptions(const QStringList& arguments) {
    AppOptions o;
    QStringList rest;
    for (qsizetype i = 1; i < arguments.size() && o.error.isEmpty(); ++i) {
        const QString& a = arguments[i];
        auto is = [&](const char* name) {
            return a == QLatin1String(name) || a.startsWith(QLatin1String(name) + QLatin1Char('='));
        };
        auto value = [&](const char* name) -> QString {
            const QString n = QLatin1String(name);
            if (a.startsWith(n + QLatin1Char('=')))
                return a.mid(n.size() + 1);
            if (i + 1 < arguments.size())
                return arguments[++i];
            o.error = n + QStringLiteral(" needs a value");
            return {};
        };
        if (is("--interface"))
            o.interfaceChoice = value("--interface");
        else if (is("--data-path"))
            o.dataPath = value("--data-path");
        else if (is("--screenshot"))
            o.screenshotFile = value("--screenshot");
        else if (a == QLatin1String("--scan"))
            o.scan = true;
        else if (a == QLatin1String("--help") || a == QLatin1String("-h"))
            o.help = true;
        else if (a == QLatin1String("--version"))
            o.version = true;
        else if (a == QLatin1String("--system-info"))
            o.systemInfo = true;
        else if (a == QLatin1String("--")) {
            rest << arguments.mid(i + 1);  // the rest is the command line, whatever it looks like
            break;
        } else if (a.startsWith(QLatin1String("--")) && rest.isEmpty())
            o.error = QStringLiteral("unknown option ") + a + QStringLiteral(" (see --help)");
        else
            rest << a;
    }
    o.commandLine = rest.join(QLatin1Char(' '));
    if (o.dataPath && o.dataPath->isEmpty() && o.error.isEmpty())
        o.error = QStringLiteral("--data-path needs a folder");
    return o;
}

QString usageText() {
    return QStringLiteral(
        "Usage: benchcap [OPTIONS] [/KEYWORD ...]\n"
        "\n"
        "Options:\n"
        "  --interface CHOICE   the GPIB interface: library (the NI-488.2 driver library, the\n"
        "                       default), sim[:BENCHFILE] (a simulated bench), or a \"++\" USB/\n"
        "                       Ethernet adapter: prologix:HOST[:PORT] or prologix:/dev/ttyUSB0\n"
        "  --data-path DIR      folder for automatically named files, for this run only\n"
        "  --system-info        print the system report of the about box and exit\n"
        "  --version            print the version and exit\n"
        "  --help               print this text and exit\n"
        "\n"
        "Keywords, carried out left to right at start-up:\n"
        "  /HIDE /SHOW          hide or show the window while the keywords run\n"
        "  /1 ... /30           select the instrument at that bus address; any other number\n"
        "                       is reported, and the /SCREEN or /TRACE after it is not run\n"
        "  /COLOR /BW           hardcopies in colour or black and white\n"
        "  /NAME=name           file name (without extension) for the following actions\n"
        "  /PLOT                accept the plotter offer in advance: a /SCREEN of an instrument\n"
        "                       that only plots waits for its hardcopy key and stores the plot\n"
        "  /SCREEN              take a hardcopy\n"
        "  /TRACE1 ... /TRACE4  read a trace\n"
        "  /END                 end at once, without storing the settings; the exit status is\n"
        "                       1 when an error was reported or nothing was taken, else 0\n"
        "\n"
        "With the window hidden, message boxes go to standard error and get the answer that\n"
        "changes nothing. Without a display (no DISPLAY or WAYLAND_DISPLAY, or the X display\n"
        "cannot be opened) a command line with /HIDE runs on the offscreen platform; without\n"
        "/HIDE the program says so and exits with status 1. SIGINT, SIGTERM and SIGHUP stop\n"
        "a job: its file is not written, and the exit status is 128 + the signal (130, 143,\n"
        "129); an /END command line never stores the settings.\n"
        "\n"
        "Example: benchcap /HIDE /12 /BW /NAME=scope1 /SCREEN /END\n");
}

}  // namespace benchcap::app
