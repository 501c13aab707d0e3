#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QUrl>

#include <functional>
#include <optional>
#include <vector>

#include "app/commands/bus_commands.h"
#include "app/commands/window_view.h"
#include "app/output/output_files.h"
#include "app/startup/bus_log_switch.h"
#include "app/startup/version_info.h"
#include "app/startup/window_settings.h"
#include "app/ui/picture_box.h"
#include "app/ui/ui_services.h"
#include "base/result.h"

class QMenu;
class QStatusBar;
class QToolButton;
class QStyle;

namespace benchcap::bus {
struct CurrentInstrument;
}
namespace benchcap::scanner {
class ScanController;
}

namespace benchcap::app {

class BusWorker;
struct BusProgress;
class HardcopyCommand;
class TraceWindowCommand;
class RecorderWindowCommand;
class AboutForm;
class SettingsStore;
struct CommandAction;

// The style of the window's menus: separators draw as lines, without their caption "-".
QStyle* makeMenuStyle(QObject* owner);

// What start-up needs from the program around the window.
struct StartupContext {
    // The per-user settings; nullptr keeps every default and stores nothing.
    SettingsStore* settings = nullptr;
    VersionInfo version;
    // The "/" command line (arguments after the program's own options, joined by blanks).
    QString commandLine;
    // Default of the setting `DataPath`, and why it is not the program's folder (empty when
    // it is), which the status line says while the default is in force.
    QString defaultDataPath;
    QString defaultDataPathReason;
    // The program's one instrument record; start-up sets its time-out code to 10 (300 ms).
    bus::CurrentInstrument* instrument = nullptr;
    // --data-path: the data path of this run; the stored one is kept.
    std::optional<QString> dataPathOverride;
};

// The commands of the window that the command line and the tray start: ok when they took
// what they were asked for. Missing ones report that they are not available yet.
struct WindowCommands {
    std::function<benchcap::Status()> hardcopy;
    std::function<benchcap::Status(int trace)> trace;
};

// What the program hands the window once both exist: the scanner, the commands (which
// reach the window through view()) and how the window reports, stops and ends. Each member
// left empty keeps the default its comment names. They outlive the window's use of them.
struct WindowLinks {
    // The bus scanner whose panel the window shows and whose device table decides the
    // selection.
    scanner::ScanController* scanner = nullptr;
    // The thread the bus commands (scan, hardcopy, trace) run their bus part on, while the
    // window goes on; its driver and session end their waits on Stop (BusWorker::watch).
    // Default: none, they run on the window's thread.
    BusWorker* busWorker = nullptr;
    // Why the driver cannot reach a board (empty when it can); a scan that finds no board
    // shows it in the status line, so the user knows what to install or configure.
    QString driverProblem;
    // The hardcopy command behind "Hardcopy", the tray's "Hardcopy", "Print hardcopy" and
    // "Save hardcopy"; the trace command behind "Read trace data", the tray's "Trace n" and
    // "Save trace data".
    HardcopyCommand* hardcopy = nullptr;
    TraceWindowCommand* trace = nullptr;
    // The recorder behind the setup window's "start recorder" (default: none, the button
    // says so).
    RecorderWindowCommand* recorder = nullptr;
    // SCREEN and TRACEn of the command line.
    WindowCommands commands;
    // What showStatus runs to let events in (default: all pending events are processed).
    std::function<void()> yield;
    // Asked between the command line's actions for a stop signal that arrived while an
    // action blocked (0: none); by default nothing stops.
    std::function<int()> stopCheck;
    // How the program ends (default: leave the event loop with `code`).
    std::function<void(int code)> endProgram;
    // Where unattended reports go, one line each (default: standard error).
    std::function<void(const QString& line)> reportSink;
    // How links of the about box are opened (default: the desktop's handler).
    std::function<void(const QUrl&)> openLink;
    // Why the interface cannot listen only (a "++" adapter can), shown on "Listen-only",
    // which it disables; empty (the default) offers it.
    QString listenOnlyUnavailable;
    // Whether windows can be seen at all (default: false under the offscreen platform).
    std::optional<bool> displayAvailable;
};

// The main window: the picture area with the hidden holder of its bitmap, the error label,
// the start logo, the status line, the menus and the tray icon. The controls keep their
// old names as Qt object names ("Bild", "BMPMem", "Fehler", "Status", ...).
//
// Every menu, menu item and separator carries its control name as QObject::objectName
// ("SetUp", "StartScan", "Trenner3", ...). Items of a control array carry the name, an
// underscore and the index: "Adr_1" ... "Adr_30", "TraceData_1" ... "TraceData_4",
// "TrayTrace_1" ... "TrayTrace_4". A submenu's QMenu and its menu action share the name.
// The status bar's panels are "Status_1" ... "Status_4".
class MainForm : public QMainWindow, public WindowView, public BusLogMenu {
    Q_OBJECT
  public:
    // `services` and `files` belong to the application and outlive the window.
    MainForm(const UiServices& services, OutputFiles& files, QWidget* parent = nullptr);
    ~MainForm() override;

    // What the instrument commands see of the window; they reach it through nothing else.
    WindowView& view() override { return *this; }

    // The error label's text (empty: none is shown).
    const QString& errorText() const { return errorText_; }
    // True while the picture area shows the start logo or a hardcopy, false for a trace.
    bool showsHardcopy() const { return showsHardcopy_; }
    // Replaces every link of the window at once.
    void link(WindowLinks links);

    // A control by its object name ("Fehler", "StartLogo", "TrayInfo", "Status_1", "TrayMenu",
    // "Adr_3", "SetUp", ...), nullptr when there is none of type T. A submenu's name gives
    // its menu action as QAction and its menu as QMenu. For tests, benchmarks and the
    // screenshot tool, which drive the window by name as a user would; the program itself
    // reaches the window through view(), BusLogMenu and the calls below.
    template <class T = QAction>
    T* item(const QString& name) const {
        return findChild<T*>(name);
    }

    // The bus-scanner panel shown over the picture area; hidden when a menu opens.
    void setScanPanel(QWidget* panel);
    QWidget* scanPanel() const { return scanPanel_; }

    // "Search instruments" as the user starts it: "Setup" opens, then the item is chosen.
    void startScanFromMenu();

    // Makes `address` the current bus address: its address item alone is checked, and the
    // trace commands follow the device type code found there.
    void selectAddress(int address);
    // The checked address item, 0 when none is.
    int selectedAddress() const { return options_.address; }

    // Runs a command started from the tray menu with the notice `TrayInfo` shown.
    void runFromTray(const std::function<void()>& command);
    // Minimised, hidden and represented by the tray icon.
    bool isInTray() const;

    // "Stop" (Esc, the status bar's button, the tray): the running bus command ends through
    // the same path as a termination signal, and the window stays.
    void stopBusCommand();

    // The hardcopy command as the menu runs it, for the command line's SCREEN.
    benchcap::Status runHardcopy();
    // The trace command for trace `n` as the menu runs it, for the command line's TRACEn.
    benchcap::Status runTrace(int n);
    // The open "trace recorder setup" window, nullptr when none is open.
    QWidget* recordForm() const { return recordForm_; }
    // Start-up: title, placement, settings, check marks, texts and the command line, in that
    // order, then the window is shown. Returns the exit status when the command line ended
    // the program (END), nullopt when the window runs on.
    std::optional<int> startUp(const StartupContext& context);
    // The orderly end: settings written, tray icon removed, program ended. Runs once, for
    // "Exit", a close request, a termination signal and the session's end alike.
    void shutDown();
    // A termination signal (SIGINT, SIGTERM, SIGHUP): the command line stops before its next
    // action, and the program ends with 128 + `signal`. A command line that holds END never
    // stores the settings, so only the orderly end outside one does.
    void stopBySignal(int signal);
    // True while the command line runs with nobody to see the window, and once the program
    // ends or a stop signal came: boxes are reported instead of shown.
    bool unattended() const;
    // An unattended box or error text: "benchcap: TITLE: TEXT" on the report sink and the
    // status line; errors make END end with status 1.
    void reportUnattended(const QString& title, const QString& text, bool isError);
    // /PLOT of the running command line: the plotter offer is accepted in advance.
    bool plotterOfferAccepted() const { return commandLineRunning_ && acceptPlot_; }

    const VersionInfo& version() const { return version_; }
    // The about box, built the first time it is opened (nullptr before).
    AboutForm* aboutForm() const { return about_; }

  protected:
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private slots:
    // Bus scan and indicator clicks.
    void startScan();
    void selectScannedAddress(int16_t address);

    // Commands (main_form_hardcopy.cpp, main_form_trace.cpp, main_form_life.cpp).
    void takeHardcopy();
    void readTrace(int index);
    void openTraceRecorder();
    void recorderButtonPressed();
    void printHardcopy();
    void saveHardcopy();
    void saveTrace();
    void showAbout();

    // Shell commands.
    void exitProgram();
    void applyOnTop();
    void takeHardcopyFromTray();
    void readTraceFromTray(int index);
    void showFromTray();
    void menuOpened();
    void trayActivated(TrayActivation activation, QPoint at);

  private:
    // The view the instrument commands see (through view()).
    Services services() override { return {services_, files_}; }
    // Status text (panel 1) without surrounding blanks, then lets pending window events
    // run (through the yield hook), so long commands keep the window alive.
    void showStatus(const QString& text) override;
    // `text` centred over the picture area, or the label hidden when it is blank.
    void showError(const QString& text) override;

    // Lets pending window events run (through the yield hook).
    void yieldEvents();

    // The check marks of the menus; setting them checks the menu items to match.
    WindowOptions options() const override { return options_; }
    void setOptions(const WindowOptions& options);

    // What the bus log's switch sees.
    QAction& busLogItem() override;
    QAction& busLogFullItem() override;
    QWidget& dialogOwner() override { return *this; }

    BusCommands::Claim claimBus() override;
    void setBusy(bool busy, Events then) override;
    PictureParts pictureParts() override { return {*pictureArea_, *bitmapHolder_}; }
    void claimPictureArea(Content what, Cover cover, std::function<void()> redraw) override;
    Selection selection() const override;
    void showInstrument(int address, const QString& model) override;
    void setOfficeIndicator(OfficeProgram program, bool on) override;
    void enableOutputs(Outputs outputs, bool enabled) override;

    // The scanner's panel goes with the scanner before it.
    void setScanner(scanner::ScanController* core);
    // Runs `call` on the window's thread, waiting for it, from a bus part on the worker.
    void onWindowThread(const std::function<void()>& call);
    // The status bar's progress text and Stop button while a bus command runs.
    void showBusProgress(const BusProgress& progress);

    // "Path for auto-save files": the folder browser chooses `DataPath`.
    void chooseDataPath();

    // The address item `index` (1 ... 30) and the trace item `index` (1 ... 4).
    QAction* addressItem(int index) const;
    QAction* traceItem(int index) const;
    // Status panel 2: the model name of the current instrument.
    void setModelName(const QString& name);
    // Status panels 3 and 4: the outcome of the last paste into either office program.
    void setExcelIndicator(bool enabled);
    void setWordIndicator(bool enabled);

    // The layout rules that follow every change of size or state.
    void applyResizeRules();

    bool isShutDown() const { return shutDown_; }
    // The status line text of start-up.
    void showStartStatus();
    // Carries out one command-line action; false for END.
    bool runCommandAction(const CommandAction& action);
    bool commandLineRunning() const { return commandLineRunning_; }
    int commandLineErrors() const { return commandLineErrors_; }

    void buildMenus();
    // The check mark of `item` is the option `field`, both ways. In a radio pair `other` is
    // the item checked when the option is off (unchecking an item of a group checks none).
    void bindOption(QAction* item, bool WindowOptions::*field, QAction* other = nullptr);
    // The address items are `address`, both ways.
    void bindAddressItems();
    void buildTrayMenu();
    void buildStatusBar();
    void restoreFromTray();
    void notAvailable(const QString& command);
    // A fault of the command line itself: one line on the report sink, and END ends with 1.
    void commandLineError(const QString& text);
    // Runs SCREEN or TRACEn unless the address before it was refused; a command that took
    // nothing unattended, and told nobody, is reported.
    void runCommand(const QString& name, const std::function<benchcap::Status()>& command);
    // The window's place in twips, and placing it where the settings file says.
    WindowPlacement placement() const;
    void placeWindow(const WindowPlacement& stored);
    void placeNotice();
    // Shows the error label for `errorText_` again (after a resize).
    void refreshError();

    UiServices services_;
    OutputFiles& files_;
    std::function<void()> yield_;
    std::function<void()> traceRedraw_;
    QString errorText_;
    // The one value behind the check marks and the address items.
    WindowOptions options_;
    // How each bound control shows a new value of `options_` (setOptions).
    std::vector<std::function<void(const WindowOptions&)>> showOptions_;
    bool showsHardcopy_ = true;

    QWidget* client_ = nullptr;
    PictureBox* pictureArea_ = nullptr;
    PictureHolder* bitmapHolder_ = nullptr;
    QLabel* errorLabel_ = nullptr;
    QLabel* startLogo_ = nullptr;
    QLabel* trayNotice_ = nullptr;
    QMenu* trayMenu_ = nullptr;
    QPointer<QWidget> scanPanel_;
    scanner::ScanController* scanner_ = nullptr;
    QString driverProblem_;
    QString listenOnlyUnavailable_;
    QLabel* panels_[4] = {};
    QLabel* progress_ = nullptr;         // "Progress": how far the running bus command is
    QToolButton* stopButton_ = nullptr;  // "StopButton", shown while a bus command runs
    QAction* stop_ = nullptr;            // "Stop" (Esc), in the tray menu too
    BusWorker* worker_ = nullptr;
    bool scanRunning_ = false;
    int16_t clickedDuringScan_ = 0;  // an indicator clicked while the scan ran
    int chosenDuringScan_ = 0;       // an address chosen in the menu while the scan ran
    HardcopyCommand* hardcopy_ = nullptr;
    TraceWindowCommand* trace_ = nullptr;
    RecorderWindowCommand* recorder_ = nullptr;
    QPointer<QWidget> recordForm_;
    BusCommands busCommands_;

    WindowCommands commands_;
    std::function<void(int)> endProgram_;
    std::function<void(const QString&)> reportSink_;
    std::function<void(const QUrl&)> openLink_;
    SettingsStore* settings_ = nullptr;
    VersionInfo version_;
    // The settings as start-up read them: the printer address and the stored data path go
    // back unchanged at the end.
    WindowSettings stored_;
    bool dataPathOverridden_ = false;
    // The stored data path was refused (not UTF-8): unattended runs name each file they
    // write to the default folder instead.
    bool dataPathRefused_ = false;
    int lastValidAddress_ = 20;
    bool commandLineRunning_ = false;
    bool commandLineEnds_ = false;  // the running command line holds END
    bool acceptPlot_ = false;       // /PLOT came
    QString refusedAddress_;        // the address argument in force selected nothing
    int stopSignal_ = 0;
    std::function<int()> stopCheck_;
    int commandLineErrors_ = 0;
    bool displayAvailable_ = true;
    bool shutDown_ = false;
    AboutForm* about_ = nullptr;
    QStyle* separatorStyle_ = nullptr;
};

}  // namespace benchcap::app
