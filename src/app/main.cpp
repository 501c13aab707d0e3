// benchcap [--interface CHOICE] [--data-path DIR] [/KEYWORD ...]
#include <QApplication>
#include <QCoreApplication>
#include <QDate>
#include <QPixmap>
#include <QScreen>
#include <QSessionManager>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/commands/bus_worker.h"
#include "app/commands/hardcopy_command.h"
#include "app/commands/instrument_init.h"
#include "app/commands/recorder_window_command.h"
#include "app/commands/trace_window_command.h"
#include "app/commands/window_side.h"
#include "app/output/office_window.h"
#include "app/output/output_files.h"
#include "app/output/print_hardcopy.h"
#include "app/startup/app_options.h"
#include "app/startup/bus_log_switch.h"
#include "app/startup/command_line.h"
#include "app/startup/settings_store.h"
#include "app/startup/shutdown_signals.h"
#include "app/startup/unattended_boxes.h"
#include "app/startup/version_info.h"
#include "app/startup/window_settings.h"
#include "app/ui/qt_text.h"
#include "app/ui/qt_ui_services.h"
#include "app/ui/system_report.h"
#include "app/window/main_form.h"
#include "base/stop_signals.h"
#include "bus/session.h"
#include "interfaces/backend.h"
#include "office/uno_office.h"
#include "recipes/recipe_book.h"
#include "scanner/scan_iec.h"

namespace {

using namespace benchcap::app;

void print(FILE* to, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fflush(to);
}

// The date this program was built, M/D/YYYY.
QString buildDate() {
    const QDate date =
        QDate::fromString(QString::fromLatin1(__DATE__).simplified(), QStringLiteral("MMM d yyyy"));
    return usDate(date);
}

// Whether an X server answers at `name`, asked through libxcb as Qt's own platform would
// (loaded here only for the question, so the program does not depend on it). Without the
// library the answer is yes and Qt's attempt decides.
bool xDisplayOpens(const QByteArray& name) {
    void* library = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return true;
    auto symbol = [library]<typename F>(const char* functionName, F*& function) {
        void* address = ::dlsym(library, functionName);
        function = nullptr;
        if (address)
            std::memcpy(&function, &address, sizeof function);
    };
    void* (*connect)(const char*, int*) = nullptr;
    int (*hasError)(void*) = nullptr;
    void (*disconnect)(void*) = nullptr;
    symbol("xcb_connect", connect);
    symbol("xcb_connection_has_error", hasError);
    symbol("xcb_disconnect", disconnect);
    bool opens = true;
    if (connect && hasError && disconnect) {
        // A busy X server refuses a connection now and then and takes the next one: asked
        // again for up to two seconds before the display is taken as gone.
        for (int attempt = 0; attempt < 20; ++attempt) {
            void* connection = connect(name.constData(), nullptr);
            opens = connection && hasError(connection) == 0;
            if (connection)
                disconnect(connection);
            if (opens)
                break;
            QThread::msleep(100);
        }
    }
    ::dlclose(library);
    return opens;
}

// Why no window could be shown (empty when a display can be reached, or when the user
// chose the platform with QT_QPA_PLATFORM). Qt itself would abort the program instead.
QString missingDisplay() {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return {};
    const QByteArray x = qgetenv("DISPLAY");
    if (x.isEmpty())
        return QStringLiteral("no display (neither DISPLAY nor WAYLAND_DISPLAY is set)");
    if (!xDisplayOpens(x))
        return QStringLiteral("the X display \"%1\" cannot be opened")
            .arg(QString::fromLocal8Bit(x));
    return {};
}

bool hidesWindow(const QString& commandLine) {
    const std::vector<CommandAction> actions = parseCommandLine(commandLine);
    return std::any_of(actions.begin(), actions.end(),
                       [](const CommandAction& a) { return a.kind == CommandAction::Kind::Hide; });
}

// --help, --version, --system-info: answered without a window.
int answerInformation(const AppOptions& options) {
    if (options.help) {
        print(stdout, usageText());
    } else if (options.version) {
        print(stdout, QStringLiteral("Benchcap %1 (built %2)\n")
                          .arg(VersionInfo::current().versionText(), buildDate()));
    } else {
        QString report = systemReportText(systemReportRows());
        report.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        print(stdout, report);
    }
    return 0;
}

// Without a display an unattended (hidden) run goes on on the offscreen platform; a window
// nobody can see is refused with the reason (exit code 1).
std::optional<int> checkDisplay(const AppOptions& options, const QString& missing) {
    if (missing.isEmpty())
        return std::nullopt;
    if (!hidesWindow(options.commandLine)) {
        print(stderr, QStringLiteral("benchcap: cannot show the window: %1; start it in a "
                                     "desktop session, or add /HIDE to run the command "
                                     "line unattended\n")
                          .arg(missing));
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return std::nullopt;
}

// What the window is linked to: the scanner, the bus commands and how the command line and
// signals reach them.
WindowLinks windowLinks(MainForm& form, benchcap::scanner::ScanController& scanner,
                        BusWorker& worker, HardcopyCommand& hardcopy,
                        TraceWindowCommand& traceCommand, RecorderWindowCommand& recorder,
                        const benchcap::interfaces::Backend& backend) {
    WindowLinks links;
    links.scanner = &scanner;
    links.busWorker = &worker;
    links.hardcopy = &hardcopy;
    links.trace = &traceCommand;
    links.recorder = &recorder;
    // SCREEN and TRACEn of the command line run the commands as the menu does.
    links.commands = {[&form] { return form.runHardcopy(); },
                      [&form](int trace) { return form.runTrace(trace); }};
    // Without a usable driver the status line says why, so the user knows what to install.
    links.driverProblem = QString::fromStdString(backend.driver->unavailableReason());
    if (!backend.driver->hasListenOnly())
        links.listenOnlyUnavailable = QStringLiteral(
            "this interface cannot listen without being addressed; a \"++\" adapter "
            "(--interface prologix:...) can");
    // A termination signal ends the program with 128 + the signal (settings stored as by
    // "Exit", except after an END command line); blocking reads end on it as well.
    links.stopCheck = benchcap::stopSignal;
    return links;
}

StartupContext startupContext(IniSettingsStore& settings, const AppOptions& options,
                              InstrumentSession& instrument) {
    StartupContext context;
    context.settings = &settings;
    context.version = VersionInfo::current();
    context.commandLine = options.commandLine;
    const DefaultDataPath fallback =
        defaultDataPath(QCoreApplication::applicationDirPath(),
                        QStandardPaths::writableLocation(QStandardPaths::PicturesLocation),
                        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    context.defaultDataPath = fallback.folder;
    context.defaultDataPathReason = fallback.reason;
    context.dataPathOverride = options.dataPath;
    context.instrument = &instrument.record();
    return context;
}

// The screenshot recipes: the shipped rows and the user's recipes.yaml beside the settings.
// A user file that cannot be read leaves the shipped rows, and why comes back to be said.
std::pair<benchcap::recipes::RecipeBook, QString> loadRecipes() {
    const std::filesystem::path folder = localPath(IniSettingsStore::defaultFolder()) / "benchcap";
    benchcap::Result<benchcap::recipes::RecipeBook> book =
        benchcap::recipes::RecipeBook::load(folder);
    if (book)
        return {std::move(*book), QString()};
    benchcap::Result<benchcap::recipes::RecipeBook> shipped =
        benchcap::recipes::RecipeBook::shipped();
    return {
        shipped ? std::move(*shipped) : benchcap::recipes::RecipeBook(),
        QStringLiteral("the recipes in %1 were not read, only the shipped ones: %2")
            .arg(QString::fromStdString((folder / benchcap::recipes::kUserRecipesFile).string()),
                 QString::fromStdString(book.error()))};
}

// The replay's verdict and where the log went, as the program ends; the exit code.
int lastWords(int code, benchcap::interfaces::Backend& backend, BusLogSwitch& busLog) {
    backend.busLog->stop();
    if (const QString log = busLog.summary(); !log.isEmpty())
        print(stderr, QStringLiteral("benchcap: %1\n").arg(log));
    if (backend.replay) {
        if (const std::string verdict = backend.replay->verdict(); !verdict.empty()) {
            print(stderr, QStringLiteral("benchcap: replay: %1\n")
                              .arg(QString::fromLocal8Bit(verdict.c_str())));
            return code == 0 ? 1 : code;
        }
    }
    return code;
}

// --scan and --screenshot: the scan as the user starts it, the picture of the window after.
void scheduleScanAndScreenshot(MainForm& form, const AppOptions& options) {
    auto screenshot = [&form, &options] {
        // From the screen, as the user sees it, where there is one; else the widget's picture.
        QScreen* screen = form.screen();
        const QRect frame = form.frameGeometry();
        const QPixmap picture =
            screen && QGuiApplication::platformName() == QLatin1String("xcb")
                ? screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
                : form.grab();
        const bool ok = picture.save(options.screenshotFile);
        QCoreApplication::exit(ok ? 0 : 1);
    };
    if (options.scan) {
        // As the user does it: open "Setup", choose "Search instruments".
        QTimer::singleShot(0, &form, [&form, &options, screenshot] {
            form.startScanFromMenu();
            if (!options.screenshotFile.isEmpty())
                QTimer::singleShot(300, &form, screenshot);
        });
    } else if (!options.screenshotFile.isEmpty()) {
        QTimer::singleShot(500, &form, screenshot);
    }
}

QStringList argumentList(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

// The driver backend (the NI-488.2 library, or a simulated bench), behind the bus log, which
// "Setup" > "Bus log..." opens and closes; none (the reason printed) when it cannot be had.
std::optional<benchcap::interfaces::Backend> openBackend(const AppOptions& options) {
    benchcap::interfaces::Backend backend =
        benchcap::interfaces::makeBackend(options.interfaceChoice.toStdString());
    if (!backend.status) {
        print(stderr,
              QStringLiteral("benchcap: %1\n").arg(QString::fromStdString(backend.status.error())));
        return std::nullopt;
    }
    (void)benchcap::interfaces::addBusLog(backend, {}, false);
    return backend;
}

// The log starts before the command line runs, as the options or the settings ask.
void startBusLog(BusLogSwitch& busLog, const AppOptions& options) {
    busLog.start(QString::fromLocal8Bit(benchcap::interfaces::busLogChoice(
                                            options.busLogFile.toLocal8Bit().toStdString())
                                            .c_str()),
                 options.busLogFull);
}

}  // namespace

int main(int argc, char** argv) {
    const benchcap::Result<AppOptions> parsed = parseAppOptions(argumentList(argc, argv));
    if (!parsed) {
        print(stderr, QStringLiteral("benchcap: %1\n").arg(QString::fromStdString(parsed.error())));
        return 2;
    }
    const AppOptions& options = *parsed;
    if (options.help || options.version || options.systemInfo) {
        QCoreApplication core(argc, argv);
        return answerInformation(options);
    }

    const QString missing = missingDisplay();
    if (const std::optional<int> refused = checkDisplay(options, missing))
        return *refused;
    // Should the display go away between the check and Qt's own connection, Qt ends the
    // program with a fatal message: say it in one line and end with status 1, not abort.
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext&, const QString& message) {
            if (type != QtFatalMsg) {
                std::fputs((message + QLatin1Char('\n')).toLocal8Bit().constData(), stderr);
                return;
            }
            print(stderr, QStringLiteral("benchcap: cannot show the window: %1\n").arg(message));
            std::_Exit(1);
        });
    QApplication app(argc, argv);
    qInstallMessageHandler(previous);
    QApplication::setApplicationName(QStringLiteral("Benchcap"));
    QApplication::setQuitOnLastWindowClosed(false);  // the end is the shutdown's to decide

    // Services and program-wide records live as long as the program.
    MainForm* window = nullptr;
    QtUserInterface shownBoxes;
    UnattendedBoxes boxes(
        shownBoxes, [&] { return window && window->unattended(); },
        [&](const std::string& title, const std::string& text, bool isError) {
            if (window)
                window->reportUnattended(fromMessage(title), fromMessage(text), isError);
        });
    QtFolderBrowser folders;
    QtSaveFileDialog saveDialog;
    QtPrintDialog printDialog;
    QtClipboard clipboard;
    QtTrayIcon tray;
    OutputFiles files;

    std::optional<benchcap::interfaces::Backend> opened = openBackend(options);
    if (!opened)
        return 2;
    benchcap::interfaces::Backend& backend = *opened;

    // The bus commands run on the bus worker, which owns the driver while they run; the
    // scanner asks its board choice from there. Both outlive the window.
    BusWorker worker;
    WindowThreadBoxes scannerBoxes(worker, &boxes);
    benchcap::scanner::ScanController scanner(*backend.driver, *backend.clock, scannerBoxes);
    MainForm form({&boxes, &folders, &saveDialog, &printDialog, &clipboard, &tray}, files);
    window = &form;
    shownBoxes.setOwner(&form);

    boxes.setPlotterOfferAccepted([&form] { return form.plotterOfferAccepted(); });
    // The selected instrument and the window's bus commands live as long as the program.
    InstrumentSession instrument(*backend.driver);
    benchcap::office::LibreOfficeBridge office(boxes);  // the running LibreOffice, if any
    QtPrinterFactory printers;
    HardcopyCommand hardcopy(form, instrument, office, printers);
    // Instruments of other makers: their pictures by recipe, and known as such in a scan.
    const std::pair<benchcap::recipes::RecipeBook, QString> loaded = loadRecipes();
    const benchcap::recipes::RecipeBook& recipes = loaded.first;
    const QString& recipeProblem = loaded.second;
    hardcopy.setRecipes(&recipes, backend.clock.get());
    scanner.setRecipeLookup([&recipes](std::string_view idn) {
        const benchcap::recipes::Recipe* row = recipes.match(idn);
        return row ? row->name : std::string();
    });
    if (!recipeProblem.isEmpty())
        print(stderr, QStringLiteral("benchcap: %1\n").arg(recipeProblem));
    TraceWindowCommand traceCommand(form, instrument, office);
    traceCommand.setRecipes(&recipes);
    RecorderWindowCommand recorder(form, instrument, *backend.clock);
    recorder.setInterfaceName(backend.description);
    recorder.setRecipes(&recipes);
    form.link(windowLinks(form, scanner, worker, hardcopy, traceCommand, recorder, backend));
    ShutdownSignals signalWatch([&](int signal) { form.stopBySignal(signal); });
    // Waits end on Stop and on a termination signal alike; long reads show their progress.
    worker.watch(*backend.driver, instrument.session(), benchcap::stopRequested);
    // The end of the desktop session stores the settings like "Exit".
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &form,
                     [&](QSessionManager&) { form.shutDown(); });

    IniSettingsStore settings(IniSettingsStore::defaultFolder());
    const StartupContext context = startupContext(settings, options, instrument);
    BusLogSwitch busLog(form, *backend.busLog, saveDialog, &settings,
                        QString::fromStdString(backend.description));
    startBusLog(busLog, options);
    // END (at once, nothing stored) or a termination signal during the command line.
    if (const std::optional<int> end = form.startUp(context))
        return lastWords(*end, backend, busLog);
    // A window nobody can see would wait unseen until it is ended: say so.
    if (!missing.isEmpty())
        print(stderr, QStringLiteral("benchcap: without a display the window runs offscreen until "
                                     "it is ended; add /END to end after the command line\n"));
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &form, [&] { form.shutDown(); });
    if (!recipeProblem.isEmpty())
        form.view().showStatus(recipeProblem);
    busLog.showWhere();

    scheduleScanAndScreenshot(form, options);
    return lastWords(QApplication::exec(), backend, busLog);
}
