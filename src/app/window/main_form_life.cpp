// The window's life: start-up with the stored settings and the command line, unattended
// runs, shutdown, and the about box.
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QScreen>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/commands/hardcopy_command.h"
#include "app/commands/trace_window_command.h"
#include "app/startup/command_line.h"
#include "app/startup/settings_store.h"
#include "app/startup/window_settings.h"
#include "app/ui/qt_text.h"
#include "app/ui/system_report.h"
#include "app/ui/twips.h"
#include "app/window/about_form.h"
#include "app/window/main_form.h"
#include "base/stop_signals.h"
#include "bus/session.h"

namespace benchcap::app {
WindowPlacement MainForm::placement() const {
    return {pixelsToTwipsX(*this, x()), pixelsToTwipsX(*this, width()), pixelsToTwipsY(*this, y()),
            pixelsToTwipsY(*this, height())};
}

void MainForm::placeWindow(const WindowPlacement& stored) {
    // Each value is applied only when it differs, so a first start (every key missing, the
    // window's own place read back) leaves the placement to the desktop, as for any window.
    // A window left where no screen shows it is placed by the screen.
    auto placeByScreen = [this] {
        const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
        const QSize size = screen ? screen->geometry().size() : QSize(1024, 768);
        const double w = pixelsToTwipsX(*this, size.width());
        const double h = pixelsToTwipsY(*this, size.height());
        move(twipsToPixelsX(*this, 0.2 * w), twipsToPixelsY(*this, 0.2 * h));
        resize(width(), twipsToPixelsY(*this, 0.6 * h));
        resize(twipsToPixelsX(*this, 0.6 * w), height());
    };
    if (twipsToPixelsX(*this, stored.left) != x())
        move(twipsToPixelsX(*this, stored.left), y());
    if (x() < 0) {
        placeByScreen();  // closed while minimised
        return;
    }
    const int w = twipsToPixelsX(*this, stored.width);
    if (w != width())
        resize(w, height());
    const int t = twipsToPixelsY(*this, stored.top);
    if (t != y())
        move(x(), t);
    const int h = twipsToPixelsY(*this, stored.height);
    if (h != height())
        resize(width(), h);
    // Far off every screen (a stored 999999999, a screen since removed): enough of the
    // window to take hold of must be on one.
    const QList<QScreen*> screens = QGuiApplication::screens();
    const QRect frame(pos(), size());
    const bool reachable = screens.isEmpty() ||
                           std::any_of(screens.begin(), screens.end(), [&](const QScreen* screen) {
                               const QRect seen = screen->geometry().intersected(frame);
                               return seen.width() >= 32 && seen.height() >= 32;
                           });
    if (!reachable)
        placeByScreen();
}

std::optional<int> MainForm::startUp(const StartupContext& context) {
    setCursor(Qt::WaitCursor);
    if (context.instrument)
        context.instrument->TimeoutCode = 10;
    showsHardcopy_ = true;
    version_ = context.version;
    setWindowTitle(version_.windowTitle());
    settings_ = context.settings;

    MemorySettingsStore none;
    SettingsStore& store = settings_ ? *settings_ : static_cast<SettingsStore&>(none);
    WindowSettings current;
    current.options = options_;
    current.placement = placement();
    current.dataPath = context.defaultDataPath;
    stored_ = readWindowSettings(store, current);
    placeWindow(stored_.placement);
    selectAddress(stored_.options.address);
    setOptions(stored_.options);
    if (options_.onTop)
        applyOnTop();

    dataPathOverridden_ = context.dataPathOverride.has_value();
    // A stored path whose bytes are not UTF-8 is kept as it is for the next start, and this
    // run writes to the default folder instead of a folder of another name.
    const bool refusedPath = stored_.dataPathNotUtf8 && !context.dataPathOverride;
    dataPathRefused_ = refusedPath;
    dataPathOverridden_ = dataPathOverridden_ || refusedPath;
    // The data path in force lives in `files_` alone, where every output and dialog reads it.
    files_.DataPath =
        context.dataPathOverride.value_or(refusedPath ? context.defaultDataPath : stored_.dataPath);

    // A command line runs with the window hidden until /SHOW: what start-up finds is reported
    // as the command line's boxes are, since nobody may look at the window.
    const bool hasCommandLine = !trimBlanks(context.commandLine).isEmpty();
    commandLineRunning_ = hasCommandLine;
    commandLineErrors_ = 0;
    pictureArea_->setScale(1, 1);
    showStartStatus();
    // An installed program cannot write into its own folder: where the files go instead. That
    // folder of the user's is made for them; one the user chose is never made up (a missing
    // share is reported when a file is written).
    if (!context.defaultDataPathReason.isEmpty() && files_.DataPath == context.defaultDataPath) {
        std::error_code error;
        std::filesystem::create_directories(localPath(files_.DataPath), error);
        const QString text =
            error ? QStringLiteral(
                        "files cannot go to %1, which cannot be created (%2), and %3; "
                        "choose a folder under Setup > Path for auto-save files")
                        .arg(files_.DataPath, QString::fromStdString(error.message()),
                             context.defaultDataPathReason)
                  : QStringLiteral("files go to %1: %2")
                        .arg(files_.DataPath, context.defaultDataPathReason);
        showStatus(text);
        if (error && unattended())
            reportUnattended(QStringLiteral("Settings"), text, true);
    }
    if (refusedPath) {
        const QString text =
            QStringLiteral(
                "the data path %1 in the settings file is not UTF-8 and names no folder "
                "this program can reach; files go to %2 until a folder is chosen "
                "under Setup > Path for auto-save files")
                .arg(stored_.dataPath, files_.DataPath);
        showStatus(text);
        if (unattended())
            reportUnattended(QStringLiteral("Settings"), text, false);
    }
    // A stored listen-only the interface cannot do is said before any question is asked.
    if (options_.plotterListenOnly && !listenOnlyUnavailable_.isEmpty()) {
        item(QStringLiteral("PlotterListenOnly"))->setChecked(false);
        const QString text = QStringLiteral("listen-only is off: ") + listenOnlyUnavailable_;
        showStatus(text);
        if (unattended())
            reportUnattended(QStringLiteral("Plotter model"), text, false);
    }

    files_.UseManualName = false;
    if (hasCommandLine) {
        const std::vector<CommandAction> actions = parseCommandLine(context.commandLine);
        acceptPlot_ = false;
        refusedAddress_.clear();
        commandLineEnds_ = std::any_of(actions.begin(), actions.end(), [](const auto& a) {
            return a.kind == CommandAction::Kind::End;
        });
        for (const CommandAction& action : actions) {
            // A signal that came while the last action blocked ends the run here.
            if (const int signal = stopCheck_ ? stopCheck_() : 0; signal != 0)
                stopBySignal(signal);
            if (shutDown_)
                break;  // ended by a signal: nothing more runs
            if (!runCommandAction(action)) {
                // END: at once, nothing written, nothing shown.
                commandLineRunning_ = false;
                unsetCursor();
                return commandLineErrors_ == 0 ? 0 : 1;
            }
        }
        if (const int signal = stopCheck_ ? stopCheck_() : 0; signal != 0)
            stopBySignal(signal);
        commandLineRunning_ = false;
    }
    files_.UseManualName = false;
    if (shutDown_) {
        unsetCursor();
        // The end already ran (a termination signal); nothing is shown.
        return stopSignal_ != 0 ? stopExitStatus(stopSignal_) : 0;
    }

    show();
    // The tray record was prepared with the window; the icon appears only in the tray.
    startLogo_->move(pictureArea_->width() / 2 - startLogo_->width() / 2,
                     pictureArea_->height() / 2 - startLogo_->height() / 2);
    unsetCursor();
    return std::nullopt;
}

bool MainForm::runCommandAction(const CommandAction& action) {
    using K = CommandAction::Kind;
    switch (action.kind) {
        case K::Hide:
            hide();
            break;
        case K::Show:
            show();
            break;
        case K::Address:
            selectAddress(action.number);
            refusedAddress_.clear();
            break;
        case K::BadAddress:
            // What follows must not act on the instrument selected before.
            refusedAddress_ = action.text;
            commandLineError(
                QStringLiteral("/%1 is no bus address: give one from 1 to 30").arg(action.text));
            break;
        case K::Plot:
            acceptPlot_ = true;
            break;
        case K::Color:
        case K::BW: {
            WindowOptions colour = options_;
            colour.color = action.kind == K::Color;
            setOptions(colour);
            break;
        }
        case K::Name:
            files_.ManualName = action.text;
            files_.UseManualName = true;
            break;
        case K::Screen:
            if (commands_.hardcopy)
                runCommand(QStringLiteral("SCREEN"), commands_.hardcopy);
            else
                notAvailable(QStringLiteral("Hardcopy"));
            break;
        case K::Trace:
            if (commands_.trace)
                runCommand(QStringLiteral("TRACE%1").arg(action.number),
                           [this, n = action.number] { return commands_.trace(n); });
            else
                notAvailable(QStringLiteral("Trace %1").arg(action.number));
            break;
        case K::End:
            return false;
    }
    return true;
}

void MainForm::showStartStatus() {
    // The hardcopy command keeps its own texts; here the status line starts. Without a
    // usable driver it says why, so the user knows what to install.
    showStatus(driverProblem_.isEmpty() ? QStringLiteral("idle") : driverProblem_);
}

bool MainForm::unattended() const {
    // A program that is ending, or asked to, has nobody left to answer a box.
    if (shutDown_ || (stopCheck_ && stopCheck_() != 0))
        return true;
    return commandLineRunning_ && (isHidden() || !displayAvailable_);
}

void MainForm::reportUnattended(const QString& title, const QString& text, bool isError) {
    QString oneLine = text;
    // A message's closing line feed ends the line; only inner ones become " / ".
    while (oneLine.endsWith(QLatin1Char('\n')) || oneLine.endsWith(QLatin1Char('\r')))
        oneLine.chop(1);
    oneLine.replace(QStringLiteral("\r\n"), QStringLiteral(" / "));
    oneLine.replace(QLatin1Char('\n'), QStringLiteral(" / "));
    oneLine.replace(QLatin1Char('\r'), QStringLiteral(" / "));
    const QString shownTitle = title.isEmpty() ? version_.product : title;
    if (reportSink_)
        // A title that ends with its own colon ("ERROR:") gets no second one.
        reportSink_(
            QStringLiteral("benchcap: ") + shownTitle +
            (shownTitle.endsWith(QLatin1Char(':')) ? QStringLiteral(" ") : QStringLiteral(": ")) +
            oneLine);
    // The status line keeps it for whoever looks at the window later; no yield here, the
    // command that raised it goes on at once.
    panels_[0]->setText(trimBlanks(oneLine));
    if (isError && commandLineRunning_)
        ++commandLineErrors_;
}

void MainForm::commandLineError(const QString& text) {
    if (reportSink_)
        reportSink_(QStringLiteral("benchcap: ") + text);
    panels_[0]->setText(text);
    ++commandLineErrors_;
}

void MainForm::runCommand(const QString& name, const std::function<benchcap::Status()>& command) {
    if (!refusedAddress_.isEmpty()) {
        commandLineError(QStringLiteral("/%1 not carried out: /%2 selects no instrument")
                             .arg(name, refusedAddress_));
        return;
    }
    const int errorsBefore = commandLineErrors_;
    // The file a command wrote is the one it names last; a name given by NAME= may be the
    // same as before.
    auto lastFile = [this, trace = name.startsWith(QLatin1String("TRACE"))] {
        if (trace)
            return trace_ ? trace_->lastOutputFile() : QString();
        return hardcopy_ ? hardcopy_->lastOutputFile() : QString();
    };
    const QString before = lastFile();
    const benchcap::Status result = command();
    if (!result && unattended() && commandLineErrors_ == errorsBefore)
        commandLineError(
            QStringLiteral("/%1: %2").arg(name, QString::fromStdString(result.error())));
    // A job that expects its file in the stored folder is told where it went instead.
    const QString written = lastFile();
    if (result && dataPathRefused_ && unattended() && !written.isEmpty() &&
        (written != before || files_.UseManualName) &&
        QFileInfo(written).absolutePath() == QDir(files_.DataPath).absolutePath())
        reportUnattended(
            QStringLiteral("Settings"),
            QStringLiteral("%1 was written to %2 instead of the stored data path "
                           "%3, which is not UTF-8; choose a folder under Setup > "
                           "Path for auto-save files, or give --data-path")
                .arg(QDir::toNativeSeparators(written), files_.DataPath, stored_.dataPath),
            false);
}

void MainForm::notAvailable(const QString& command) {
    if (reportSink_)
        reportSink_(QStringLiteral("benchcap: ") + command +
                    QStringLiteral(" is not available yet"));
}

void MainForm::stopBySignal(int signal) {
    if (shutDown_)
        return;
    stopSignal_ = signal;
    if (!(commandLineRunning_ && commandLineEnds_)) {
        shutDown();
        return;
    }
    // The job of an END command line is abandoned as END would have ended it: at once,
    // nothing stored.
    shutDown_ = true;
    stopBusCommand();
    hide();
    if (endProgram_)
        endProgram_(stopExitStatus(signal));
}

void MainForm::shutDown() {
    if (shutDown_)
        return;
    shutDown_ = true;
    // A bus command still running ends now; the program ends after it.
    stopBusCommand();
    if (settings_) {
        SettingsStore& s = *settings_;
        WindowSettings stored = stored_;
        stored.options = options_;
        stored.placement = placement();
        // A stored address outside 1 to 30 checks nothing; the last valid one is kept.
        if (stored.options.address == 0)
            stored.options.address = lastValidAddress_;
        // --data-path applies to one run; the stored path stays unless the user chose another.
        if (!dataPathOverridden_)
            stored.dataPath = files_.DataPath;
        writeWindowSettings(s, stored);
        if (benchcap::Status st = s.flush(); !st && reportSink_)
            reportSink_(QStringLiteral("benchcap: settings not saved: ") +
                        QString::fromStdString(st.error()));
    }
    if (services_.tray)
        services_.tray->hide();
    // Other windows of the program go with it.
    trayNotice_->close();
    if (about_)
        about_->close();
    hide();
    if (endProgram_)
        endProgram_(stopSignal_ != 0 ? stopExitStatus(stopSignal_) : 0);
}

void MainForm::showAbout() {
    if (!about_) {
        auto open = openLink_ ? openLink_ : [](const QUrl& url) {
            QDesktopServices::openUrl(url);  // failures are ignored
        };
        about_ = new AboutForm(version_, systemReportText(systemReportRows()), services_.boxes,
                               open, this);
    }
    about_->show();
    about_->raise();
    about_->activateWindow();
}

}  // namespace benchcap::app
