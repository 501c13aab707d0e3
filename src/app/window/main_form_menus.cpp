// The menu tree of the main window and its tray menu.
#include <QActionGroup>
#include <QMenu>
#include <QMenuBar>

#include "app/window/main_form.h"

namespace benchcap::app {
namespace {

QAction* addItem(QMenu* menu, const QString& caption, const QString& name,
                 const QKeySequence& shortcut = {}, bool checkable = false) {
    QAction* a = menu->addAction(caption);
    a->setObjectName(name);
    if (!shortcut.isEmpty())
        a->setShortcut(shortcut);
    a->setCheckable(checkable);
    return a;
}

QAction* addToggle(QMenu* menu, const QString& caption, const QString& name) {
    return addItem(menu, caption, name, {}, true);
}

// Separators carry their caption "-" and their control name.
void addSeparator(QMenu* menu, const QString& name) {
    QAction* s = menu->addSeparator();
    s->setObjectName(name);
    s->setText(QStringLiteral("-"));
}

QMenu* addSubmenu(QMenu* parent, const QString& caption, const QString& name) {
    QMenu* m = parent->addMenu(caption);
    m->setObjectName(name);
    m->menuAction()->setObjectName(name);
    return m;
}

QString arrayName(const char* name, int index) {
    return QString::fromLatin1(name) + QLatin1Char('_') + QString::number(index);
}

}  // namespace

void MainForm::buildMenus() {
    QMenuBar* bar = menuBar();

    // "Setup"
    QMenu* setUp = bar->addMenu(QStringLiteral("Setup"));
    setUp->setObjectName(QStringLiteral("SetUp"));
    setUp->menuAction()->setObjectName(QStringLiteral("SetUp"));
    connect(addItem(setUp, QStringLiteral("Search instruments"), QStringLiteral("StartScan"),
                    QKeySequence(Qt::CTRL | Qt::Key_B)),
            &QAction::triggered, this, &MainForm::startScan);
    QMenu* addressMenu = addSubmenu(setUp, QStringLiteral("Address"), QStringLiteral("SubAdr"));
    for (int i = 1; i <= 30; ++i) {
        QAction* a = addItem(addressMenu, QStringLiteral("%1").arg(i, 2, 10, QLatin1Char('0')),
                             arrayName("Adr", i), {}, true);
        connect(a, &QAction::triggered, this, [this, i] { selectAddress(i); });
    }
    addSeparator(setUp, QStringLiteral("Trenner3"));
    QAction* onTop = addToggle(setUp, QStringLiteral("Always on top"), QStringLiteral("OnTop"));
    bindOption(onTop, &WindowOptions::onTop);
    connect(onTop, &QAction::triggered, this, &MainForm::applyOnTop);
    bindOption(addToggle(setUp, QStringLiteral("Minimize to tray"), QStringLiteral("MinToTray")),
               &WindowOptions::minimizeToTray);
    // Started and stopped by the program around the window (app/startup/bus_log_switch.h).
    bindOption(addToggle(setUp, QStringLiteral("Bus log..."), QStringLiteral("BusLog")),
               &WindowOptions::busLog);
    // Whole blocks in the log, so that a hardcopy recorded from here can be replayed.
    bindOption(
        addToggle(setUp, QStringLiteral("Bus log with full data"), QStringLiteral("BusLogFull")),
        &WindowOptions::busLogFull);
    addSeparator(setUp, QStringLiteral("Trenner5"));

    QMenu* hardcopyEvents =
        addSubmenu(setUp, QStringLiteral("On hardcopy event"), QStringLiteral("HardAct"));
    bindOption(addToggle(hardcopyEvents, QStringLiteral("save"), QStringLiteral("HardAutoSave")),
               &WindowOptions::hardcopyAutoSave);
    QAction* hardClip = addToggle(hardcopyEvents, QStringLiteral("copy image to clipboard"),
                                  QStringLiteral("HardAutoClip"));
    bindOption(hardClip, &WindowOptions::hardcopyAutoClip);
    QAction* hardDocument = addToggle(hardcopyEvents, QStringLiteral("paste image in word"),
                                      QStringLiteral("HardAutoExcel"));
    bindOption(hardDocument, &WindowOptions::hardcopyAutoDocument);
    // The document takes the picture from the clipboard.
    connect(hardDocument, &QAction::triggered, this, [hardClip](bool on) {
        if (on)
            hardClip->setChecked(true);
    });

    QMenu* traceEvents =
        addSubmenu(setUp, QStringLiteral("On trace copy event"), QStringLiteral("TraceAct"));
    bindOption(addToggle(traceEvents, QStringLiteral("save"), QStringLiteral("TraceAutoSave")),
               &WindowOptions::traceAutoSave);
    bindOption(addToggle(traceEvents, QStringLiteral("copy data to clipboard"),
                         QStringLiteral("TraceAutoClip")),
               &WindowOptions::traceAutoClip);
    bindOption(addToggle(traceEvents, QStringLiteral("paste data in excel"),
                         QStringLiteral("TraceAutoExcel")),
               &WindowOptions::traceAutoSheet);

    connect(addItem(setUp, QStringLiteral("Path for auto-save files"),
                    QStringLiteral("chooseDataPath")),
            &QAction::triggered, this, &MainForm::chooseDataPath);
    addSeparator(setUp, QStringLiteral("Trenner4"));

    QMenu* format =
        addSubmenu(setUp, QStringLiteral("Hardcopy format"), QStringLiteral("HCopyFormat"));
    // Each radio pair checks one of its two items; the first item carries the option.
    auto* formats = new QActionGroup(this);
    QAction* wmf = formats->addAction(
        addToggle(format, QStringLiteral("WMF"), QStringLiteral("CopyFormatWMF")));
    QAction* bmp = formats->addAction(
        addToggle(format, QStringLiteral("BMP"), QStringLiteral("CopyFormatBMP")));
    wmf->setChecked(options_.hardcopyFormat == WindowOptions::HardcopyFormat::Wmf);
    connect(wmf, &QAction::toggled, this, [this](bool on) {
        options_.hardcopyFormat =
            on ? WindowOptions::HardcopyFormat::Wmf : WindowOptions::HardcopyFormat::Bmp;
    });
    showOptions_.push_back([wmf, bmp](const WindowOptions& o) {
        (o.hardcopyFormat == WindowOptions::HardcopyFormat::Wmf ? wmf : bmp)->setChecked(true);
    });

    QMenu* colorMenu =
        addSubmenu(setUp, QStringLiteral("Hardcopy color"), QStringLiteral("IsColor"));
    auto* colours = new QActionGroup(this);
    QAction* colour =
        colours->addAction(addToggle(colorMenu, QStringLiteral("color"), QStringLiteral("Color")));
    QAction* blackWhite =
        colours->addAction(addToggle(colorMenu, QStringLiteral("b/w"), QStringLiteral("BW")));
    bindOption(colour, &WindowOptions::color, blackWhite);

    QMenu* plotter =
        addSubmenu(setUp, QStringLiteral("Plotter model"), QStringLiteral("PlotterModel"));
    auto* plotters = new QActionGroup(this);
    QAction* hp7470 = plotters->addAction(
        addToggle(plotter, QStringLiteral("HP 7470A"), QStringLiteral("Plotter7470A")));
    QAction* hp7475 = plotters->addAction(
        addToggle(plotter, QStringLiteral("HP 7475A"), QStringLiteral("Plotter7475A")));
    bindOption(hp7475, &WindowOptions::plotter7475, hp7470);
    addSeparator(plotter, QStringLiteral("PlotterTrenner"));
    plotter->setToolTipsVisible(true);  // why "Listen-only" is not offered
    bindOption(
        addToggle(plotter, QStringLiteral("Listen-only (talk-only instrument, \"++\" adapter)"),
                  QStringLiteral("PlotterListenOnly")),
        &WindowOptions::plotterListenOnly);

    // Not shown; its check mark carries the setting of the same name.
    QAction* suppress = addToggle(setUp, QStringLiteral("Supress Config (old RMX only)"),
                                  QStringLiteral("SupressConfigRMX"));
    suppress->setVisible(false);
    bindOption(suppress, &WindowOptions::suppressConfig);
    addSeparator(setUp, QStringLiteral("Trenner1"));
    connect(addItem(setUp, QStringLiteral("Exit"), QStringLiteral("ExitProg")), &QAction::triggered,
            this, &MainForm::exitProgram);

    // "Start"
    QMenu* startMenu = bar->addMenu(QStringLiteral("Start"));
    startMenu->setObjectName(QStringLiteral("GoGet"));
    startMenu->menuAction()->setObjectName(QStringLiteral("GoGet"));
    connect(addItem(startMenu, QStringLiteral("Hardcopy"), QStringLiteral("MakeHardcopy"),
                    QKeySequence(Qt::CTRL | Qt::Key_C)),
            &QAction::triggered, this, &MainForm::takeHardcopy);
    QMenu* traceMenu =
        addSubmenu(startMenu, QStringLiteral("Read trace data"), QStringLiteral("GetTheData"));
    for (int i = 1; i <= 4; ++i) {
        QAction* a =
            addItem(traceMenu, QStringLiteral("trace %1").arg(i), arrayName("TraceData", i),
                    QKeySequence(Qt::CTRL | static_cast<Qt::Key>(Qt::Key_F1 + i - 1)));
        connect(a, &QAction::triggered, this, [this, i] { readTrace(i); });
    }
    addSeparator(startMenu, QStringLiteral("Trenner55"));
    QAction* recorder =
        addItem(startMenu, QStringLiteral("Trace recorder"), QStringLiteral("TraceRecorder"));
    connect(recorder, &QAction::triggered, this, &MainForm::openTraceRecorder);

    // "Output": available once something is on display.
    QMenu* outputMenu = bar->addMenu(QStringLiteral("Output"));
    outputMenu->setObjectName(QStringLiteral("IO"));
    outputMenu->menuAction()->setObjectName(QStringLiteral("IO"));
    QAction* print = addItem(outputMenu, QStringLiteral("Print hardcopy"),
                             QStringLiteral("Drucken"), QKeySequence(Qt::CTRL | Qt::Key_P));
    print->setEnabled(false);
    connect(print, &QAction::triggered, this, &MainForm::printHardcopy);
    QAction* saveHard = addItem(outputMenu, QStringLiteral("Save hardcopy"),
                                QStringLiteral("SaveHard"), QKeySequence(Qt::CTRL | Qt::Key_S));
    saveHard->setEnabled(false);
    connect(saveHard, &QAction::triggered, this, &MainForm::saveHardcopy);
    QAction* saveTrace = addItem(outputMenu, QStringLiteral("Save trace data"),
                                 QStringLiteral("SaveTrace"), QKeySequence(Qt::CTRL | Qt::Key_T));
    saveTrace->setEnabled(false);
    connect(saveTrace, &QAction::triggered, this, &MainForm::saveTrace);

    // "Help"
    QMenu* help = bar->addMenu(QStringLiteral("Help"));
    help->setObjectName(QStringLiteral("Help"));
    help->menuAction()->setObjectName(QStringLiteral("Help"));
    connect(addItem(help, QStringLiteral("About"), QStringLiteral("About")), &QAction::triggered,
            this, &MainForm::showAbout);

    // Opening "Setup", "Start" or "Output" clears the picture area of logo and scanner.
    for (QMenu* m : {setUp, startMenu, outputMenu})
        connect(m, &QMenu::aboutToShow, this, &MainForm::menuOpened);
}

void MainForm::buildTrayMenu() {
    trayMenu_ = new QMenu(this);
    trayMenu_->setObjectName(QStringLiteral("TrayMenu"));
    connect(addItem(trayMenu_, QStringLiteral("Hardcopy"), QStringLiteral("ScreenShot")),
            &QAction::triggered, this, &MainForm::takeHardcopyFromTray);
    for (int i = 1; i <= 4; ++i) {
        QAction* a =
            addItem(trayMenu_, QStringLiteral("Trace %1").arg(i), arrayName("TrayTrace", i));
        connect(a, &QAction::triggered, this, [this, i] { readTraceFromTray(i); });
    }
    // "Stop" ends the running bus command: Esc in the window, the status bar's button, and
    // here, where a command started from the tray is stopped.
    stop_ = addItem(trayMenu_, QStringLiteral("Stop"), QStringLiteral("Stop"));
    stop_->setShortcut(QKeySequence(Qt::Key_Escape));
    stop_->setShortcutContext(Qt::WindowShortcut);
    stop_->setEnabled(false);
    addAction(stop_);
    connect(stop_, &QAction::triggered, this, &MainForm::stopBusCommand);
    addSeparator(trayMenu_, QStringLiteral("Trenner6"));
    connect(addItem(trayMenu_, QStringLiteral("Maximize again"), QStringLiteral("MaxIt")),
            &QAction::triggered, this, &MainForm::showFromTray);
}

}  // namespace benchcap::app
