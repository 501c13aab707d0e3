// The window's life: start-up with the stored settings and the command line, unattended
// runs, shutdown, and the about box.
#include <QApplication>
#include <QDesktopServices>
#include <QScreen>

#include <cstdio>

#include "app/about_form.h"
#include "app/command_line.h"
#include "app/main_form.h"
#include "app/settings_store.h"
#include "app/system_report.h"
#include "app/twips.h"
#include "bus/session.h"

namespace benchcap::app {
namespace {

const QString kApplication = QStringLiteral("BENCHCAP");
const QString kSection = QStringLiteral("Settings");

// The options stored under their menu item's name, with their defaults.
constexpr struct {
    const char* key;
    bool fallback;
} kOptions[] = {
    {"HardAutoSave", true},  {"HardAutoClip", true},  {"HardAutoExcel", false},
    {"TraceAutoSave", true}, {"TraceAutoClip", true}, {"TraceAutoExcel", false},
};

}  // namespace

bool MainForm::readOption(SettingsStore& store, const char* key, bool fallback) {
    const QString text =
        store.read(kApplication, kSection, QLatin1String(key), encodeBool(fallback));
    // A text that is neither a truth value nor a number was not written by us: the default.
    return decodeBool(text).value_or(fallback);
}

void MainForm::placeWindow(SettingsStore& store) {
    // Each value is applied only when it differs, so a first start (every key missing)
    // leaves the placement to the desktop, as for any new window.
    auto readTwips = [&](const char* key, double current) {
        return decodeNumber(
            store.read(kApplication, kSection, QLatin1String(key), encodeNumber(current)));
    };
    const double left = readTwips("Left", pixelsToTwipsX(*this, x()));
    if (twipsToPixelsX(*this, left) != x())
        move(twipsToPixelsX(*this, left), y());
    if (x() < 0) {
        // Closed while minimised: place the window by the screen instead.
        const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
        const QSize size = screen ? screen->geometry().size() : QSize(1024, 768);
        const double w = pixelsToTwipsX(*this, size.width());
        const double h = pixelsToTwipsY(*this, size.height());
        move(twipsToPixelsX(*this, 0.2 * w), twipsToPixelsY(*this, 0.2 * h));
        resize(width(), twipsToPixelsY(*this, 0.6 * h));
        resize(twipsToPixelsX(*this, 0.6 * w), height());
        return;
    }
    const int w = twipsToPixelsX(*this, readTwips("Width", pixelsToTwipsX(*this, width())));
    if (w != width())
        resize(w, height());
    const int t = twipsToPixelsY(*this, readTwips("Top", pixelsToTwipsY(*this, y())));
    if (t != y())
        move(x(), t);
    const int h = twipsToPixelsY(*this, readTwips("Height", pixelsToTwipsY(*this, height())));
    if (h != height())
        resize(width(), h);
}

std::optional<int> MainForm::startUp(const StartupContext& context) {
    setCursor(Qt::WaitCursor);
    if (context.instrument)
        context.instrument->TimeoutCode = 10;
    ShowsHardcopy = true;
    version_ = context.version;
    setWindowTitle(version_.windowTitle());
    settings_ = context.settings;

    MemorySettingsStore none;
    SettingsStore& store = settings_ ? *settings_ : static_cast<SettingsStore&>(none);
    placeWindow(store);

    const int address = decodeInteger(trimBlanks(
        store.read(kApplication, kSection, QStringLiteral("Address"), QStringLiteral("20"))));
    SelectAdr(address);

    const bool colour = readOption(store, "Color", true);
    menuItem(QStringLiteral("Color"))->setChecked(colour);
    menuItem(QStringLiteral("BW"))->setChecked(!colour);
    menuItem(QStringLiteral("SupressConfigRMX"))
        ->setChecked(readOption(store, "SupressConfigRMX", false));

    storedDataPath_ =
        store.read(kApplication, kSection, QStringLiteral("DataPath"), context.defaultDataPath);
    dataPathOverridden_ = context.dataPathOverride.has_value();
    files_.DataPath = context.dataPathOverride.value_or(storedDataPath_);

    GPIBPrinterAdr = decodeInteger(
        store.read(kApplication, kSection, QStringLiteral("GPIBPrinterAdr"), QStringLiteral("5")));

    for (const auto& option : kOptions)
        menuItem(QLatin1String(option.key))
            ->setChecked(readOption(store, option.key, option.fallback));

    bild_->setScale(1, 1);
    LoadLanguage();

    files_.UseManualName = false;
    if (!trimBlanks(context.commandLine).isEmpty()) {
        commandLineRunning_ = true;
        commandLineErrors_ = 0;
        for (const QString& argument : splitCommandLine(context.commandLine)) {
            for (const CommandAction& action : actionsFor(argument)) {
                if (shutDown_)
                    break;  // ended by a signal while a command yielded: nothing more runs
                if (!runCommandAction(action)) {
                    // END: at once, nothing written, nothing shown.
                    commandLineRunning_ = false;
                    unsetCursor();
                    return commandLineErrors_ == 0 ? 0 : 1;
                }
            }
        }
        commandLineRunning_ = false;
    }
    files_.UseManualName = false;
    if (shutDown_) {
        unsetCursor();
        return 0;  // the orderly end already ran (a termination signal); nothing is shown
    }

    show();
    // The tray record was prepared with the window; the icon appears only in the tray.
    startLogo_->move(bild_->width() / 2 - startLogo_->width() / 2,
                     bild_->height() / 2 - startLogo_->height() / 2);
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
            SelectAdr(action.number);
            break;
        case K::Color:
            Color_Click();
            break;
        case K::BW:
            BW_Click();
            break;
        case K::Name:
            files_.ManualName = action.text;
            files_.UseManualName = true;
            break;
        case K::Screen:
            if (commands_.hardcopy)
                commands_.hardcopy();
            else
                notAvailable(QStringLiteral("Hardcopy"));
            break;
        case K::Trace:
            if (commands_.trace)
                commands_.trace(action.number);
            else
                notAvailable(QStringLiteral("Trace %1").arg(action.number));
            break;
        case K::End:
            return false;
    }
    return true;
}

void MainForm::LoadLanguage() {
    // The hardcopy command keeps its own texts; here the status line starts. Without a
    // usable driver it says why, so the user knows what to install.
    UpSta(driverProblem_.isEmpty() ? QStringLiteral("idle") : driverProblem_);
}

bool MainForm::unattended() const {
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

void MainForm::notAvailable(const QString& command) {
    if (reportSink_)
        reportSink_(QStringLiteral("benchcap: ") + command +
                    QStringLiteral(" is not available yet"));
}

void MainForm::Shutdown() {
    if (shutDown_)
        return;
    shutDown_ = true;
    if (settings_) {
        SettingsStore& s = *settings_;
        auto put = [&](const char* key, const QString& value) {
            s.write(kApplication, kSection, QLatin1String(key), value);
        };
        // A stored address outside 1 to 30 checks nothing; the last valid one is kept.
        const int address = selectedAddress() != 0 ? selectedAddress() : lastValidAddress_;
        put("Left", encodeNumber(pixelsToTwipsX(*this, x())));
        put("Width", encodeNumber(pixelsToTwipsX(*this, width())));
        put("Top", encodeNumber(pixelsToTwipsY(*this, y())));
        put("Height", encodeNumber(pixelsToTwipsY(*this, height())));
        put("Address", encodeNumber(address));
        put("Color", encodeBool(menuItem(QStringLiteral("Color"))->isChecked()));
        put("SupressConfigRMX",
            encodeBool(menuItem(QStringLiteral("SupressConfigRMX"))->isChecked()));
        // --data-path applies to one run; the stored path stays unless the user chose another.
        put("DataPath", dataPathOverridden_ ? storedDataPath_ : files_.DataPath);
        put("GPIBPrinterAdr", encodeNumber(GPIBPrinterAdr));
        for (const auto& option : kOptions)
            put(option.key, encodeBool(menuItem(QLatin1String(option.key))->isChecked()));
        if (benchcap::Status st = s.flush(); !st && reportSink_)
            reportSink_(QStringLiteral("benchcap: settings not saved: ") +
                        QString::fromStdString(st.error()));
    }
    if (services_.tray)
        services_.tray->hide();
    // Other windows of the program go with it.
    trayInfo_->close();
    if (about_)
        about_->close();
    hide();
    if (endProgram_)
        endProgram_(0);
}

void MainForm::About_Click() {
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
