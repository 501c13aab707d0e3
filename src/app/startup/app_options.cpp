#include "app/startup/app_options.h"

#include <string>
#include <vector>

#include "base/option_parser.h"
#include "interfaces/interface_table.h"

namespace benchcap::app {

namespace {

// The argument's own bytes, so that a file name that is not UTF-8 keeps naming its file.
std::string bytesOf(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

QString textOf(const std::string& bytes) {
    return QString::fromLocal8Bit(QByteArray::fromStdString(bytes));
}

// The words that are no option of the program, in their order, "--" among them: the
// command line, or the unknown option before it.
Result<QString> commandLineOf(const std::vector<std::string>& words) {
    QStringList rest;
    for (auto w = words.begin(); w != words.end(); ++w) {
        if (*w == "--") {
            for (++w; w != words.end(); ++w)  // the rest, whatever it looks like
                rest << textOf(*w);
            break;
        }
        if (w->rfind("--", 0) == 0 && rest.isEmpty())
            return fail("unknown option " + *w + " (see --help)");
        rest << textOf(*w);
    }
    return rest.join(QLatin1Char(' '));
}

}  // namespace

Result<AppOptions> parseAppOptions(const QStringList& arguments) {
    AppOptions o;
    std::optional<std::string> interface;
    std::optional<std::string> dataPath;
    std::optional<std::string> screenshot;
    std::optional<std::string> busLog;
    std::vector<std::string> words;
    OptionParser parser("benchcap");
    // --help prints usageText(), which also tells the keywords; the "/" keywords and, after
    // "--", anything are the command line.
    parser.ownHelp()
        .value("--interface", interface, "CHOICE", "")
        .value("--data-path", dataPath, "DIR", "")
        .value("--screenshot", screenshot, "FILE", "")
        .value("--bus-log", busLog, "FILE", "")
        .flag("--scan", o.scan, "")
        .flag("--bus-log-full", o.busLogFull, "")
        .flag("-h,--help", o.help, "")
        .flag("--version", o.version, "")
        .flag("--system-info", o.systemInfo, "")
        .others(words);
    std::vector<std::string> args;
    for (qsizetype i = 1; i < arguments.size(); ++i)
        args.push_back(bytesOf(arguments[i]));
    if (const Result<OptionParser::Asked> parsed = parser.parse(args); !parsed)
        return fail(parsed.error());
    Result<QString> commandLine = commandLineOf(words);
    if (!commandLine)
        return fail(commandLine.error());
    o.commandLine = *commandLine;
    o.interfaceChoice = textOf(interface.value_or(""));
    o.screenshotFile = textOf(screenshot.value_or(""));
    if (busLog && busLog->empty())
        return fail("--bus-log needs a file name");
    o.busLogFile = textOf(busLog.value_or(""));
    if (dataPath) {
        if (dataPath->empty())
            return fail("--data-path needs a folder");
        o.dataPath = textOf(*dataPath);
    }
    return o;
}

namespace {

// The options after --interface, the keywords and the notes of the usage text.
constexpr const char* kUsageAfterInterfaces =
    "  --data-path DIR      folder for automatically named files, for this run only\n"
    "  --bus-log FILE       write every driver call to FILE, for this run (also the\n"
    "                       environment variable BENCHCAP_BUS_LOG; see docs/bus-log.md)\n"
    "  --bus-log-full       keep blocks over 4 KiB whole in the bus log, so that\n"
    "                       --interface replay:FILE can answer them\n"
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
    "Example: benchcap /HIDE /12 /BW /NAME=scope1 /SCREEN /END\n";

}  // namespace

QString usageText() {
    // The interfaces' paragraph comes from their table, its lines under the option's text.
    return QString::fromStdString(
        "Usage: benchcap [OPTIONS] [/KEYWORD ...]\n"
        "\n"
        "Options:\n"
        "  --interface CHOICE   the GPIB interface: " +
        interfaces::interfaceWindowHelp(std::string(23, ' ')) + "\n" + kUsageAfterInterfaces);
}

}  // namespace benchcap::app
