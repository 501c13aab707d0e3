#include "app/window/main_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QProxyStyle>
#include <QStatusBar>
#include <QStyleOptionMenuItem>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <cstdio>

#include "app/commands/bus_worker.h"
#include "app/commands/recorder_window_command.h"
#include "app/ui/logo.h"
#include "app/ui/qt_text.h"
#include "app/ui/twips.h"
#include "app/window/about_form.h"
#include "app/window/recorder_setup.h"
#include "scanner/scan_iec.h"

namespace benchcap::app {
namespace {

// The window's own initial size before any stored placement applies.
constexpr double kInitialWidthTwips = 10800;
constexpr double kInitialHeightTwips = 8100;
// The tip field of the notification-area record holds 63 characters.
constexpr int kMaxTipLength = 63;

// Menu separators carry the caption "-" as their name says; the style must not draw it
// as a section title at the separator's left edge.
class SeparatorStyle : public QProxyStyle {
  public:
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        if (element == CE_MenuItem) {
            if (const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
                item && item->menuItemType == QStyleOptionMenuItem::Separator) {
                QStyleOptionMenuItem plain(*item);
                plain.text.clear();
                QProxyStyle::drawControl(element, &plain, painter, widget);
                return;
            }
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override {
        if (type == CT_MenuItem) {
            if (const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
                item && item->menuItemType == QStyleOptionMenuItem::Separator) {
                QStyleOptionMenuItem plain(*item);
                plain.text.clear();
                return QProxyStyle::sizeFromContents(type, &plain, size, widget);
            }
        }
        return QProxyStyle::sizeFromContents(type, option, size, widget);
    }
};

// QStatusBar leaves a 2-pixel strip under its panels; the status line ends with them.
class StatusLine : public QStatusBar {
  public:
    using QStatusBar::QStatusBar;
    // The bar rebuilds its layout when its items change; the strip goes again each time.
    void trimBottom() {
        QLayout* outer = layout();
        for (int i = 0; outer && i < outer->count(); ++i) {
            auto* column = qobject_cast<QVBoxLayout*>(outer->itemAt(i)->layout());
            if (!column && i == 0)
                column = qobject_cast<QVBoxLayout*>(outer);
            if (!column || column->count() == 0)
                continue;
            // Only a strip still there: invalidating the layout asks for the next layout
            // request, which would land here again and repaint the bar for ever.
            QSpacerItem* strip = column->itemAt(column->count() - 1)->spacerItem();
            if (strip && !strip->sizeHint().isNull()) {
                strip->changeSize(0, 0);
                column->invalidate();
            }
            return;
        }
    }

  protected:
    bool event(QEvent* e) override {
        const bool done = QStatusBar::event(e);
        if (e->type() == QEvent::LayoutRequest || e->type() == QEvent::ChildAdded)
            trimBottom();
        return done;
    }
};

// The status text panel: one line high whatever it is told, so the bar never grows and the
// picture area never shrinks; a text wider than the panel ends in "...".
class StatusText : public QLabel {
  public:
    using QLabel::QLabel;
    QSize sizeHint() const override { return {QLabel::sizeHint().width(), oneLine()}; }
    QSize minimumSizeHint() const override { return {0, oneLine()}; }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        drawFrame(&painter);
        const QRect area = contentsRect().adjusted(margin() + 2, 0, -margin() - 2, 0);
        painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter,
                         fontMetrics().elidedText(text(), Qt::ElideRight, area.width()));
    }

  private:
    int oneLine() const { return fontMetrics().height() + 2 * (frameWidth() + margin()) + 2; }
};

bool noDisplay() {
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

void processEvents() {
    QCoreApplication::processEvents();
}

void exitEventLoop(int code) {
    QCoreApplication::exit(code);
}

void reportOnStandardError(const QString& line) {
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
}

}  // namespace

QStyle* makeMenuStyle(QObject* owner) {
    auto* style = new SeparatorStyle;
    style->setParent(owner);
    return style;
}

MainForm::MainForm(const UiServices& services, OutputFiles& files, QWidget* parent)
    : QMainWindow(parent),
      services_(services),
      files_(files),
      yield_(processEvents),
      endProgram_(exitEventLoop),
      reportSink_(reportOnStandardError),
      version_(VersionInfo::current()),
      displayAvailable_(!noDisplay()) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(version_.windowTitle());
    busCommands_.setWorker(nullptr, this);
    setWindowIcon(drawWindowIcon());

    // The client area is laid out by hand, by the rules of applyResizeRules.
    client_ = new QWidget(this);
    client_->setObjectName(QStringLiteral("client"));
    setCentralWidget(client_);
    client_->installEventFilter(this);

    pictureArea_ = new PictureBox(client_);
    pictureArea_->setObjectName(QStringLiteral("Bild"));
    pictureArea_->setScale(1, 1);
    bitmapHolder_ = new PictureHolder(client_);
    bitmapHolder_->setObjectName(QStringLiteral("BMPMem"));

    startLogo_ = new QLabel(pictureArea_);
    startLogo_->setObjectName(QStringLiteral("StartLogo"));
    startLogo_->setPixmap(QPixmap::fromImage(drawStartLogo()));
    startLogo_->adjustSize();

    errorLabel_ = new QLabel(pictureArea_);
    errorLabel_->setObjectName(QStringLiteral("Fehler"));
    errorLabel_->setAlignment(Qt::AlignCenter);
    errorLabel_->setWordWrap(true);
    // White text needs a dark ground to be read over the light grey area.
    errorLabel_->setStyleSheet(QStringLiteral(
        "QLabel { color: white; background-color: rgb(150, 30, 30); font-weight: bold; "
        "padding: 6px; }"));
    errorLabel_->hide();

    trayNotice_ = new QLabel(QStringLiteral("reading data, please wait ..."), this);
    trayNotice_->setObjectName(QStringLiteral("TrayInfo"));
    trayNotice_->setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint);
    trayNotice_->setWindowTitle(QStringLiteral("Benchcap"));
    trayNotice_->setMargin(16);
    trayNotice_->hide();

    buildMenus();
    buildTrayMenu();
    buildStatusBar();
    // Made after the menus, so it is deleted after them (children go in creation order).
    separatorStyle_ = makeMenuStyle(this);
    for (QMenu* m : findChildren<QMenu*>())
        m->setStyle(separatorStyle_);
    bindAddressItems();

    // The tray record is prepared once; the icon appears only when minimised to the tray.
    if (TrayIcon* tray = services_.tray) {
        tray->setIcon(windowIcon());
        tray->setToolTip(QStringLiteral("Benchcap").left(kMaxTipLength));
        tray->setContextMenu(trayMenu_);
        tray->setActivationHandler([this](TrayActivation a, QPoint at) { trayActivated(a, at); });
    }

    resize(twipsToPixelsX(*this, kInitialWidthTwips), twipsToPixelsY(*this, kInitialHeightTwips));
}

MainForm::~MainForm() {
    if (worker_)
        worker_->setProgressView({});
    if (scanner_)
        scanner_->setHooks({});  // the panel goes with the window
    if (services_.tray) {
        services_.tray->setActivationHandler({});
        services_.tray->setContextMenu(nullptr);
    }
}

void MainForm::buildStatusBar() {
    auto* line = new StatusLine(this);
    setStatusBar(line);
    QStatusBar* bar = line;
    bar->setObjectName(QStringLiteral("Status"));
    bar->setSizeGripEnabled(true);
    const QString texts[4] = {QString(), QString(), QStringLiteral("Excel"),
                              QStringLiteral("Word")};
    for (int i = 0; i < 4; ++i) {
        auto* panel = i == 0 ? new StatusText(texts[i], bar) : new QLabel(texts[i], bar);
        panel->setObjectName(QStringLiteral("Status_%1").arg(i + 1));
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panels_[i] = panel;
    }
    panels_[0]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    panels_[1]->setMinimumWidth(twipsToPixelsX(*this, 1500));
    bar->addWidget(panels_[0], 1);
    for (int i = 1; i < 4; ++i)
        bar->addPermanentWidget(panels_[i]);
    // No paste has been tried yet.
    panels_[2]->setEnabled(false);
    panels_[3]->setEnabled(false);

    // While a bus command runs: how far it is, and the button that stops it.
    progress_ = new QLabel(bar);
    progress_->setObjectName(QStringLiteral("Progress"));
    progress_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    stopButton_ = new QToolButton(bar);
    stopButton_->setObjectName(QStringLiteral("StopButton"));
    stopButton_->setDefaultAction(stop_);
    stopButton_->setToolButtonStyle(Qt::ToolButtonTextOnly);
    stopButton_->setAutoRaise(false);
    // No taller than the panels: the bar keeps its height when the button shows.
    stopButton_->setFixedHeight(panels_[1]->sizeHint().height());
    bar->addWidget(progress_);
    bar->addWidget(stopButton_);
    progress_->hide();
    stopButton_->hide();
    line->trimBottom();
}

void MainForm::stopBusCommand() {
    if (worker_)
        worker_->requestStop();
}

void MainForm::onWindowThread(const std::function<void()>& call) {
    if (worker_)
        worker_->onWindow(call);
    else
        call();
}

void MainForm::showBusProgress(const BusProgress& progress) {
    const bool running = progress.elapsedMs > 0 || progress.done >= 0;
    stop_->setEnabled(running && !progress.stopping);
    stopButton_->setVisible(running);
    QString text;
    const QLocale locale;
    if (progress.stopping) {
        text = QStringLiteral("stopping...");
    } else if (progress.done >= 0) {
        const double seconds = std::max<int64_t>(progress.elapsedMs, 1) / 1000.0;
        const QString rate =
            locale.toString(static_cast<double>(progress.done) / seconds / 1000.0, 'f', 1);
        text = progress.total > 0
                   ? QStringLiteral("%1 of %2 bytes (%3 %), %4 kB/s")
                         .arg(locale.toString(static_cast<qlonglong>(progress.done)),
                              locale.toString(static_cast<qlonglong>(progress.total)),
                              QString::number(progress.done * 100 / progress.total), rate)
                   : QStringLiteral("%1 bytes, %2 kB/s")
                         .arg(locale.toString(static_cast<qlonglong>(progress.done)), rate);
    } else if (progress.elapsedMs >= 1000) {
        // A scan or a plot wait: how long it has waited.
        text = QStringLiteral("%1 s").arg(progress.elapsedMs / 1000);
    }
    // A recording counts its rows in the status line; the bytes of its reads and their rate
    // over hours would say nothing.
    if (recorder_ && recorder_->recording() && !progress.stopping)
        text.clear();
    progress_->setText(text);
    progress_->setVisible(running && !text.isEmpty());
}

QAction* MainForm::addressItem(int index) const {
    return index >= 1 && index <= 30 ? item(QStringLiteral("Adr_%1").arg(index)) : nullptr;
}

QAction* MainForm::traceItem(int index) const {
    return index >= 1 && index <= 4 ? item(QStringLiteral("TraceData_%1").arg(index)) : nullptr;
}

void MainForm::link(WindowLinks links) {
    if (links.busWorker != worker_) {
        if (worker_)
            worker_->setProgressView({});
        worker_ = links.busWorker;
        busCommands_.setWorker(worker_, this);
        if (worker_)
            worker_->setProgressView([this](const BusProgress& p) { showBusProgress(p); });
        if (scanner_)
            setScanner(scanner_);  // its hooks come to this thread through the new worker
    }
    if (links.scanner != scanner_)
        setScanner(links.scanner);
    driverProblem_ = std::move(links.driverProblem);
    listenOnlyUnavailable_ = std::move(links.listenOnlyUnavailable);
    QAction* listenOnly = item(QStringLiteral("PlotterListenOnly"));
    listenOnly->setEnabled(listenOnlyUnavailable_.isEmpty());
    listenOnly->setToolTip(listenOnlyUnavailable_);
    hardcopy_ = links.hardcopy;
    trace_ = links.trace;
    recorder_ = links.recorder;
    if (recorder_)
        recorder_->setRunningView([this](bool recording) {
            if (auto* setup = qobject_cast<RecordForm*>(recordForm_.data()))
                setup->setRecording(recording);
        });
    commands_ = std::move(links.commands);
    stopCheck_ = std::move(links.stopCheck);
    openLink_ = std::move(links.openLink);
    yield_ = links.yield ? std::move(links.yield) : processEvents;
    endProgram_ = links.endProgram ? std::move(links.endProgram) : exitEventLoop;
    reportSink_ = links.reportSink ? std::move(links.reportSink) : reportOnStandardError;
    displayAvailable_ = links.displayAvailable.value_or(!noDisplay());
}

void MainForm::yieldEvents() {
    if (yield_)
        yield_();
}

void MainForm::showStatus(const QString& text) {
    // One line: line ends and other control characters (a received piece of a plot) show
    // as blanks.
    QString line = text;
    for (QChar& c : line)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char(' ');
    panels_[0]->setText(trimBlanks(line));
    if (yield_)
        yield_();
}

void MainForm::showError(const QString& text) {
    errorText_ = text;
    refreshError();
}

void MainForm::refreshError() {
    const QString text = trimBlanks(errorText_);
    if (text.isEmpty()) {
        errorLabel_->hide();
        return;
    }
    if (unattended())
        reportUnattended(QStringLiteral("ERROR"), text, true);
    errorLabel_->setText(text);
    errorLabel_->show();
    placeNotice();
}

void MainForm::placeNotice() {
    const int w = pictureArea_->width();
    const int h =
        std::max(errorLabel_->fontMetrics().height() * 2 + 12, errorLabel_->heightForWidth(w));
    int top = pictureArea_->height() / 2 - h / 2;
    // The scanner panel lies centred over the picture too; the notice goes just above it
    // (below it when there is no room), so neither hides the other.
    if (scanPanel_ && scanPanel_->isVisible()) {
        const QRect panel(pictureArea_->mapFrom(client_, scanPanel_->pos()), scanPanel_->size());
        if (panel.top() < top + h && top < panel.bottom()) {
            top = panel.top() - h - 4;
            if (top < 0)
                top = panel.bottom() + 5;
        }
    }
    errorLabel_->setGeometry(0, top, w, h);
    errorLabel_->raise();
}

void MainForm::setOptions(const WindowOptions& options) {
    // Every control is bound: its toggled signal brings its field into `options_`.
    for (const auto& show : showOptions_)
        show(options);
}

void MainForm::bindOption(QAction* item, bool WindowOptions::*field, QAction* other) {
    item->setChecked(options_.*field);
    connect(item, &QAction::toggled, this, [this, field](bool on) { options_.*field = on; });
    showOptions_.push_back([item, field, other](const WindowOptions& o) {
        if (other && !(o.*field))
            other->setChecked(true);
        else
            item->setChecked(o.*field);
    });
}

void MainForm::bindAddressItems() {
    for (int i = 1; i <= 30; ++i)
        connect(addressItem(i), &QAction::toggled, this, [this, i](bool on) {
            if (on) {
                options_.address = i;
                // Kept for shutdown when a stored address selects nothing.
                lastValidAddress_ = i;
            } else if (options_.address == i) {
                options_.address = 0;
            }
        });
    // Selecting also sets the trace menus: only a change of address does that.
    showOptions_.push_back([this](const WindowOptions& o) {
        if (o.address != options_.address)
            selectAddress(o.address);
    });
}

QAction& MainForm::busLogItem() {
    return *item(QStringLiteral("BusLog"));
}

QAction& MainForm::busLogFullItem() {
    return *item(QStringLiteral("BusLogFull"));
}

BusCommands::Claim MainForm::claimBus() {
    return busCommands_.claim();
}

void MainForm::setBusy(bool busy, Events then) {
    if (busy)
        setCursor(Qt::WaitCursor);
    else
        unsetCursor();
    if (then == Events::LetIn)
        yieldEvents();
}

void MainForm::claimPictureArea(Content what, Cover cover, std::function<void()> redraw) {
    showsHardcopy_ = what == Content::Hardcopy;
    traceRedraw_ = showsHardcopy_ ? nullptr : std::move(redraw);
    showError(QString());
    if (cover == Cover::Keep)
        return;
    pictureArea_->show();
    // Started by shortcut, tray or command line no menu has opened: the logo and the
    // scanner panel would cover the picture.
    startLogo_->hide();
    if (scanPanel_)
        scanPanel_->hide();
}

WindowView::Selection MainForm::selection() const {
    return {selectedAddress(), scanner_ ? scanner_->BoardID() : int16_t{0}};
}

void MainForm::showInstrument(int address, const QString& model) {
    QAction* item = addressItem(address);
    const QString bare = QStringLiteral("%1").arg(address, 2, 10, QLatin1Char('0'));
    // A caption that already names a model (after a scan or an earlier command) stays.
    if (item && item->text() == bare) {
        item->setText(bare + QStringLiteral(": ") + model);
        yieldEvents();
    }
    setModelName(model);
    yieldEvents();
}

void MainForm::setOfficeIndicator(OfficeProgram program, bool on) {
    if (program == OfficeProgram::Sheet)
        setExcelIndicator(on);
    else
        setWordIndicator(on);
}

void MainForm::enableOutputs(Outputs outputs, bool enabled) {
    if (outputs == Outputs::Hardcopy) {
        item(QStringLiteral("Drucken"))->setEnabled(enabled);
        item(QStringLiteral("SaveHard"))->setEnabled(enabled);
    } else {
        item(QStringLiteral("SaveTrace"))->setEnabled(enabled);
    }
}

void MainForm::setModelName(const QString& name) {
    panels_[1]->setText(name);
}
void MainForm::setExcelIndicator(bool enabled) {
    panels_[2]->setEnabled(enabled);
}
void MainForm::setWordIndicator(bool enabled) {
    panels_[3]->setEnabled(enabled);
}

void MainForm::setScanPanel(QWidget* panel) {
    if (scanPanel_ && scanPanel_ != panel)
        scanPanel_->deleteLater();
    scanPanel_ = panel;
    if (panel) {
        panel->setParent(client_);
        panel->hide();
        panel->installEventFilter(this);
    }
}

void MainForm::chooseDataPath() {
    if (!services_.folders)
        return;
    const QString path = services_.folders->browseForFolder(
        this, files_.DataPath, QStringLiteral("Path to store hardcopies and trace data"));
    if (!path.isEmpty()) {
        files_.DataPath = path;
        dataPathOverridden_ = false;  // the user's choice is stored
    }
}

void MainForm::applyResizeRules() {
    // 1, 2: the picture area spans the client area; a height of 0 or less is not taken.
    const int h = client_->height() - pictureArea_->y();
    pictureArea_->setGeometry(pictureArea_->x(), pictureArea_->y(), client_->width(),
                              h > 0 ? h : pictureArea_->height());

    // 3: the error notice, else the trace on display.
    if (!trimBlanks(errorText_).isEmpty())
        refreshError();
    else if (!showsHardcopy_ && traceRedraw_)
        traceRedraw_();

    // 4: a bitmap hardcopy is redrawn stretched to the new size.
    if (pictureArea_->tag() == QLatin1String("BMP")) {
        pictureArea_->cls();
        pictureArea_->paintStretched(bitmapHolder_->picture());
    }

    // 5: the start logo stays centred.
    startLogo_->move(pictureArea_->width() / 2 - startLogo_->width() / 2,
                     pictureArea_->height() / 2 - startLogo_->height() / 2);

    // 6: minimised with "Minimize to tray" goes to the tray. Without a notification area
    // the window stays in the taskbar: hiding it there would leave no way back.
    TrayIcon* tray = services_.tray;
    if ((windowState() & Qt::WindowMinimized) && options_.minimizeToTray && tray &&
        tray->isAvailable()) {
        tray->show();
        // Hidden once the minimise has finished: showMinimized() shows the window again
        // after the state change it reports.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (isMinimized() && services_.tray && services_.tray->isVisible())
                    hide();
            },
            Qt::QueuedConnection);
    }
}

bool MainForm::isInTray() const {
    return services_.tray && services_.tray->isVisible() && isHidden() && isMinimized();
}

void MainForm::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        applyResizeRules();
}

bool MainForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == client_ && event->type() == QEvent::Resize)
        applyResizeRules();
    if (watched == scanPanel_ && errorLabel_->isVisible() &&
        (event->type() == QEvent::Show || event->type() == QEvent::Hide ||
         event->type() == QEvent::Move))
        placeNotice();
    return QMainWindow::eventFilter(watched, event);
}

void MainForm::closeEvent(QCloseEvent* event) {
    // Closed by the window manager, the desktop or a program: the orderly end.
    shutDown();
    event->accept();
}

void MainForm::menuOpened() {
    startLogo_->hide();
    // A running scan keeps its panel: the user watches its indicators turn.
    if (scanPanel_ && !(scanner_ && busCommands_.busy() && scanPanel_->isVisible()))
        scanPanel_->hide();
}

void MainForm::applyOnTop() {
    const bool on = options_.onTop;
    Qt::WindowFlags flags = windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, on);
    if (QWindow* w = windowHandle()) {
        // Changing the flag through the native window keeps position and size; the
        // widget's own copy is updated without re-creating the window.
        overrideWindowFlags(flags);
        w->setFlags(flags);
    } else {
        setWindowFlags(flags);
    }
}

void MainForm::exitProgram() {
    shutDown();
}

void MainForm::runFromTray(const std::function<void()>& command) {
    trayNotice_->show();
    trayNotice_->raise();
    if (command)
        command();
    trayNotice_->hide();
}

void MainForm::takeHardcopyFromTray() {
    runFromTray([this] { takeHardcopy(); });
}

void MainForm::readTraceFromTray(int index) {
    runFromTray([this, index] { readTrace(index); });
}

void MainForm::restoreFromTray() {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void MainForm::showFromTray() {
    restoreFromTray();
    if (services_.tray)
        services_.tray->hide();
}

void MainForm::trayActivated(TrayActivation activation, QPoint) {
    switch (activation) {
        case TrayActivation::LeftRelease:
        case TrayActivation::LeftDoubleClick:
            restoreFromTray();  // the icon stays
            break;
        case TrayActivation::RightRelease:
            // The desktop opens the tray menu at the pointer; in front, so it closes
            // again when the user clicks elsewhere.
            raise();
            activateWindow();
            break;
        case TrayActivation::Other:
            break;
    }
}

}  // namespace benchcap::app
