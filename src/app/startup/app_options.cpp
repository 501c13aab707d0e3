#include "app/startup/app_options.h"

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

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
    CLI::App app("", "benchcap");
    app.set_help_flag();  // --help prints usageText(), which also tells the keywords
    app.allow_extras();   // the "/" keywords and, after "--", anything
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    // A value given twice is refused after parsing: which of two interfaces was meant?
    const CLI::Option* values[] = {
        app.add_option("--interface", interface), app.add_option("--data-path", dataPath),
        app.add_option("--screenshot", screenshot), app.add_option("--bus-log", busLog)};
    app.add_flag("--scan", o.scan)->disable_flag_override();
    app.add_flag("--bus-log-full", o.busLogFull)->disable_flag_override();
    app.add_flag("-h,--help", o.help)->disable_flag_override();
    app.add_flag("--version", o.version)->disable_flag_override();
    app.add_flag("--system-info", o.systemInfo)->disable_flag_override();
    std::vector<std::string> args;  // CLI11 takes them last first
    for (qsizetype i = arguments.size() - 1; i >= 1; --i) {
        // "--interface=" gives an empty value, where CLI11 would take the next word.
        const std::string a = bytesOf(arguments[i]);
        if (a.size() > 3 && a.back() == '=' && a.rfind("--", 0) == 0 &&
            app.get_option_no_throw(a.substr(0, a.size() - 1))) {
            args.emplace_back();
            args.push_back(a.substr(0, a.size() - 1));
        } else {
            args.push_back(a);
        }
    }
    try {
        app.parse(args);
    } catch (const CLI::ArgumentMismatch& e) {
        // CLI11 names the option first: "--interface: 1 required TEXT missing", or else a
        // flag given a value: "scan was given a disallowed flag override".
        const std::string what = e.what();
        if (what.find(" required ") == std::string::npos)
            return fail("--" + what.substr(0, what.find(' ')) + " takes no value");
        return fail(what.substr(0, what.find(':')) + " needs a value");
    } catch (const CLI::ParseError& e) {
        return fail(e.what());
    }
    for (const CLI::Option* option : values) {
        if (option->count() > 1)
            return fail(option->get_name() + " is given more than once; give it once");
    }
    Result<QString> commandLine = commandLineOf(app.remaining());
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

QString usageText() {
    return QStringLiteral(
        "Usage: benchcap [OPTIONS] [/KEYWORD ...]\n"
        "\n"
        "Options:\n"
        "  --interface CHOICE   the GPIB interface: library (the NI-488.2 driver library, the\n"
        "                       default), sim[:BENCHFILE] (a simulated bench), or a \"++\" USB/\n"
        "                       Ethernet adapter: prologix:HOST[:PORT] or prologix:/dev/ttyUSB0,\n"
        "                       over the LAN: vxi11:HOST[:PORT][/gpibN] (a VXI-11 gateway) or\n"
        "                       lan:FILE (LAN instruments, see docs/lan.md), or\n"
        "                       replay:BUSLOG (answers from a bus log)\n"
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
        "Example: benchcap /HIDE /12 /BW /NAME=scope1 /SCREEN /END\n");
}

}  // namespace benchcap::app
