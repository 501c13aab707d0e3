#include <QApplication>
#include <QScreen>
#include <QStatusBar>
#include <QTemporaryDir>

#include <csignal>
#include <fstream>

#include "app/startup/settings_store.h"
#include "app/startup/unattended_boxes.h"
#include "app/startup/window_settings.h"
#include "app/ui/twips.h"
#include "bus/session.h"
#include "main_form_fixture.h"

namespace benchcap::app::test {
namespace {

// Every setting, in the order start-up reads them and shutdown writes them.
const QStringList kStoredKeys = QStringLiteral(
                                    "Left Width Top Height Address Color SupressConfigRMX DataPath "
                                    "GPIBPrinterAdr HardAutoSave HardAutoClip HardAutoExcel "
                                    "TraceAutoSave TraceAutoClip TraceAutoExcel OnTop MinToTray "
                                    "PlotterListenOnly PlotterModel HardcopyFormat")
                                    .split(u' ');

// "Key=value;Key=value" as pairs; values keep their blanks.
std::vector<std::pair<QString, QString>> pairs(const char* text) {
    std::vector<std::pair<QString, QString>> result;
    for (const QString& pair : QString::fromLatin1(text).split(u';'))
        result.emplace_back(pair.section(u'=', 0, 0), pair.section(u'=', 1));
    return result;
}

class StartupTest : public MainFormTest {
  protected:
    void SetUp() override {
        MainFormTest::SetUp();
        links.reportSink = [this](const QString& line) { reports << line; };
        links.endProgram = [this](int code) { ends.push_back(code); };
        relink();
        context.settings = &store;
        context.version = VersionInfo{QStringLiteral("Benchcap"), 2, 3, 0, QDate(2003, 3, 7)};
        context.defaultDataPath = QStringLiteral("/opt/benchcap");
        context.instrument = &instrument;
    }
    std::optional<int> start(const char* commandLine = "") {
        context.commandLine = QString::fromLatin1(commandLine);
        return form->startUp(context);
    }
    bool checked(const char* name) const { return item(name)->isChecked(); }
    // Menu items named in `names` (blank-separated) are all checked (`on`) or all not.
    void expectChecked(const char* names, bool on) const {
        for (const QString& name : QString::fromLatin1(names).split(u' '))
            EXPECT_EQ(form->item(name)->isChecked(), on) << name.toStdString();
    }
    void setStored(const char* values) {
        for (const auto& [key, value] : pairs(values))
            store.set(key, value);
    }
    void expectStored(const char* values) const {
        for (const auto& [key, value] : pairs(values))
            EXPECT_EQ(store.get(key).value_or("-"), value) << key.toStdString();
    }
    QStringList accessedKeys(bool writes) const {
        QStringList keys;
        for (const auto& a : store.accesses())
            if (a.isWrite == writes)
                keys << a.key;
        return keys;
    }

    MemorySettingsStore store;
    StartupContext context;
    bus::CurrentInstrument instrument;
    QStringList reports;
    std::vector<int> ends;
};

TEST_F(StartupTest, FirstStartTakesTheDefaultsAndShutdownStoresThem) {
    const QSize initial = form->size();
    EXPECT_EQ(start(), std::nullopt);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Veltronik Benchcap, V 2.3 from 3/7/2003"));
    EXPECT_EQ(instrument.TimeoutCode, 10);
    EXPECT_EQ(form->size(), initial);
    EXPECT_EQ(form->selectedAddress(), 20);
    expectChecked("Color HardAutoSave HardAutoClip TraceAutoSave TraceAutoClip", true);
    expectChecked("BW SupressConfigRMX HardAutoExcel TraceAutoExcel", false);
    EXPECT_EQ(files.DataPath, QStringLiteral("/opt/benchcap"));
    EXPECT_EQ(statusPanel(1)->text(), QStringLiteral("idle"));
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->showsHardcopy());
    EXPECT_EQ(form->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(accessedKeys(false), kStoredKeys);  // Left, Width, Top and Height first

    item("ExitProg")->trigger();
    EXPECT_EQ(accessedKeys(true), kStoredKeys);
    EXPECT_EQ(store.flushes(), 1);
    expectStored(
        "Address=20;Color=True;HardAutoExcel=False;GPIBPrinterAdr=5;DataPath=/opt/benchcap");
    EXPECT_EQ(ends, std::vector<int>{0});
    // Once only, whatever asks again (the close that follows, a signal).
    form->close();
    form->shutDown();
    EXPECT_EQ(store.flushes(), 1);
}

TEST_F(StartupTest, StoredValuesComeBackAndAreStoredUnchanged) {
    const char* values =
        "Left=1500;Top=3000;Width=9000;Height=6000;Address= 12 ;Color=False;"
        "SupressConfigRMX=true;DataPath=/lab/data;GPIBPrinterAdr=7;HardAutoSave=False;"
        "HardAutoClip=False;HardAutoExcel=True;TraceAutoSave=False;TraceAutoClip=False;"
        "TraceAutoExcel=True";
    setStored(values);
    start();
    EXPECT_EQ(form->pos(), QPoint(twipsToPixelsX(*form, 1500), twipsToPixelsY(*form, 3000)));
    EXPECT_EQ(form->size(), QSize(twipsToPixelsX(*form, 9000), twipsToPixelsY(*form, 6000)));
    EXPECT_EQ(form->selectedAddress(), 12);
    expectChecked("BW SupressConfigRMX TraceAutoExcel", true);
    expectChecked("Color HardAutoSave", false);
    EXPECT_EQ(files.DataPath, QStringLiteral("/lab/data"));

    form->close();  // the window's own close runs the shutdown as well
    for (const auto& [key, value] : pairs(values))
        EXPECT_EQ(store.get(key), value == "true" ? QStringLiteral("True") : value.trimmed())
            << key.toStdString();
    EXPECT_EQ(ends, std::vector<int>{0});
}

TEST_F(StartupTest, WindowOffTheScreenIsPlacedByTheScreen) {
    // Closed while minimised (negative), or far off every screen (one since removed).
    for (const char* place : {"Left=-48000;Top=1", "Left=999999999;Top=1",
                              "Left=1500;Top=999999999", "Left=1e300;Top=1"}) {
        SetUp();
        setStored(place);
        setStored("Width=1;Height=1");
        start();
        const QSize screen = form->screen()->geometry().size();
        auto px = [&](double fraction, int pixels, bool horizontal) {
            const double twips =
                horizontal ? pixelsToTwipsX(*form, pixels) : pixelsToTwipsY(*form, pixels);
            return horizontal ? twipsToPixelsX(*form, fraction * twips)
                              : twipsToPixelsY(*form, fraction * twips);
        };
        EXPECT_EQ(form->pos(),
                  QPoint(px(0.2, screen.width(), true), px(0.2, screen.height(), false)))
            << place;
        EXPECT_EQ(form->size(),
                  QSize(px(0.6, screen.width(), true), px(0.6, screen.height(), false)))
            << place;
    }
}

TEST_F(StartupTest, UnusableValuesFallBackSoundlyAndTheRunsOwnDataPathIsNotStored) {
    setStored(
        "Address=45;Color=maybe;HardAutoSave=yes;HardAutoExcel=-1;GPIBPrinterAdr=7.5;"
        "Width=wide;DataPath=/stored");
    context.dataPathOverride = QStringLiteral("/this/run");
    start();
    EXPECT_EQ(form->selectedAddress(), 0);  // outside 1 to 30: nothing checked
    // Neither truth value nor number: the default.
    expectChecked("Color HardAutoSave HardAutoExcel", true);
    EXPECT_FALSE(checked("BW"));
    EXPECT_EQ(files.DataPath, QStringLiteral("/this/run"));
    form->shutDown();
    // No valid address was selected.
    expectStored("Address=20;GPIBPrinterAdr=8;Color=True;DataPath=/stored");
}

// An address no instrument can have is refused; the last valid one is what is stored.
TEST_F(StartupTest, InvalidStoredAddressKeepsTheLastValidOneAtShutdown) {
    setStored("Address=0");
    start();
    form->selectAddress(7);
    form->selectAddress(31);
    form->shutDown();
    expectStored("Address=7");
}

TEST_F(StartupTest, DataPathThatIsNotUtf8IsRefusedByNameAndKeptForTheNextStart) {
    const std::filesystem::path folder = benchcap::test::makeTempDir("settings-latin1");
    const std::string line =
        "DataPath=/data/m\xfc"
        "ller\r\n";  // Latin-1, as an old editor saves it
    std::ofstream(folder / "BENCHCAP.ini", std::ios::binary) << "[Settings]\r\n" + line;
    IniSettingsStore ini(QString::fromStdString(folder.string()));
    context.settings = &ini;
    start();
    EXPECT_EQ(files.DataPath, QStringLiteral("/opt/benchcap"));
    EXPECT_EQ(
        statusPanel(1)->text(),
        QStringLiteral("the data path /data/m\u00fcller in the settings file is not UTF-8 and "
                       "names no folder this program can reach; files go to /opt/benchcap "
                       "until a folder is chosen under Setup > Path for auto-save files"));
    form->shutDown();
    EXPECT_NE(benchcap::test::readFile(folder / "BENCHCAP.ini").find(line), std::string::npos);
}

// An installed program's folder cannot be written: files go to a folder of the user's (the
// Documents/Benchcap of earlier versions where it exists), which the status line names.
TEST_F(StartupTest, DefaultDataPathIsTheUsersWhenTheProgramsFolderCannotBeWritten) {
    QTemporaryDir home;
    const QString docs = home.path() + "/Documents", pics = home.path() + "/Pictures";
    for (const auto& [writable, pictures, folder] : {std::tuple{true, pics, QString("/usr/bin")},
                                                     {false, pics, pics + "/benchcap"},
                                                     {false, QString(), docs + "/benchcap"},
                                                     {false, pics, docs + "/Benchcap"}}) {
        if (folder.endsWith("/Benchcap")) {
            ASSERT_TRUE(QDir().mkpath(folder));
        }
        EXPECT_EQ(defaultDataPath("/usr/bin", pictures, docs, writable).folder.toStdString(),
                  folder.toStdString());
    }
    const DefaultDataPath d = defaultDataPath("/usr/bin", pics, home.path(), false);
    context.defaultDataPath = d.folder;
    context.defaultDataPathReason = d.reason;
    start();
    EXPECT_EQ(statusPanel(1)->text().toStdString(),
              ("files go to " + pics + "/benchcap: the program's folder /usr/bin cannot be written")
                  .toStdString());
}

class CommandLineRunTest : public StartupTest {
  protected:
    void SetUp() override {
        StartupTest::SetUp();
        links.commands = {[this] { return hardcopy(); },
                          [this](int n) {
                              runs << QStringLiteral("TRACE %1").arg(n);
                              return Status{};
                          }};
        relink();
    }
    Status hardcopy() {
        runs << QStringLiteral("SCREEN %1 %2 %3 %4")
                    .arg(form->selectedAddress())
                    .arg(checked("BW") ? "bw" : "color")
                    .arg(files.UseManualName ? files.ManualName : "-")
                    .arg(form->isVisible() ? "visible" : "hidden");
        if (onHardcopy)
            onHardcopy();
        return {};
    }
    QStringList runs;
    std::function<void()> onHardcopy;
    // The program's boxes: reported while unattended, else shown.
    UnattendedBoxes boxes{scripted.boxes, [this] { return form->unattended(); },
                          [this](const std::string& title, const std::string& text, bool error) {
                              form->reportUnattended(QString::fromStdString(title),
                                                     QString::fromStdString(text), error);
                          }};
};

TEST_F(CommandLineRunTest, ActionsRunInOrderAndEndWritesNothing) {
    EXPECT_EQ(start("/HIDE /12 /BW /NAME=scope1 /SCREEN /TRACE2 /END"), 0);
    EXPECT_EQ(runs, QStringList({"SCREEN 12 bw scope1 hidden", "TRACE 2"}));
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(store.accesses().size() == 20 && accessedKeys(true).empty());
    EXPECT_EQ(store.flushes(), 0);
    EXPECT_TRUE(ends.empty());  // END returns; nothing of the shutdown runs
}

TEST_F(CommandLineRunTest, WindowIsShownAfterwardsAndNameAppliesOnlyToTheCommandLine) {
    EXPECT_EQ(start("/HIDE/name=x/COLOR/BW/0.6"), std::nullopt);
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(files.UseManualName);
    EXPECT_EQ(form->selectedAddress(), 1);
    EXPECT_TRUE(checked("BW"));  // the later argument wins
    form->shutDown();
    expectStored("Color=False;Address=1");
}

TEST_F(CommandLineRunTest, UnattendedBoxesAreReportedAnsweredSafelyAndSetTheExitStatus) {
    using bus::MessageButtons;
    std::vector<bus::MessageResult> answers;
    onHardcopy = [&] {
        // A title that ends in a colon gets no second one.
        answers = {boxes.messageBox(bus::MessageIcon::Question,
                                    "Plotter:", "Use plotter emulation?", MessageButtons::YesNo),
                   boxes.messageBox(bus::MessageIcon::Information, "Note", "one\r\ntwo",
                                    MessageButtons::OkCancel)};
    };
    // The window stays hidden during start-up: no box waits, and a question is not an error.
    EXPECT_EQ(start("/SCREEN/END"), 0);
    EXPECT_EQ(answers, (std::vector<bus::MessageResult>{bus::MessageResult::No,
                                                        bus::MessageResult::Cancel}));
    EXPECT_TRUE(scripted.boxes.boxes().empty());
    EXPECT_EQ(reports, QStringList({"benchcap: Plotter: Use plotter emulation?",
                                    "benchcap: Note: one / two"}));

    // An error box or the error label makes END end with status 1; a box the user saw in
    // the shown window is no unattended error.
    // The error is a box's text, or nullptr for the error label.
    for (const auto& [commandLine, error, status] :
         {std::tuple{"/SCREEN/END", "No answer at 12", 1},
          {"/SCREEN/END", nullptr, 1},
          {"/SHOW/SCREEN/END", "x", 0}}) {
        reports.clear();
        const bool shown = status == 0;
        links.displayAvailable = shown;
        relink();
        onHardcopy = [&, boxText = error] {
            if (boxText) {
                boxes.messageBox(bus::MessageIcon::Critical, "ERROR", boxText, MessageButtons::Ok);
            } else {
                form->view().showError(QStringLiteral("no answer from instrument"));
            }
        };
        EXPECT_EQ(start(commandLine), status) << commandLine;
        EXPECT_EQ(reports.size(), shown ? 0 : 1) << commandLine;
        EXPECT_EQ(scripted.boxes.boxes().size(), shown ? 1u : 0u);
        if (!shown) {
            EXPECT_EQ(statusPanel(1)->text(), error ? error : "no answer from instrument");
        }
    }
}

TEST_F(CommandLineRunTest, ShutdownDuringTheCommandLineStopsIt) {
    // The end of the session or a signal handled while the hardcopy yields, or a signal
    // recorded while it blocked: the trace that follows never runs, no box waits for a user,
    // and the settings are written once unless END was to come.
    enum Stop { SessionEnd, SignalHandled, SignalRecorded };
    for (const auto& c : {std::tuple{SessionEnd, "/SHOW/SCREEN/TRACE1", 0, 1},
                          {SignalHandled, "/SHOW/SCREEN/TRACE1", 143, 1},
                          {SignalHandled, "/SHOW/SCREEN/TRACE1/END", 143, 0},
                          {SignalRecorded, "/SHOW/SCREEN/TRACE1/END", 130, 0}}) {
        const auto& [stop, commandLine, status, flushes] = c;
        SetUp();
        int recorded = 0;
        links.stopCheck = [&recorded] { return recorded; };
        links.displayAvailable = true;
        relink();
        onHardcopy = [&, how = stop] {
            if (how == SessionEnd)
                form->shutDown();
            else if (how == SignalHandled)
                form->stopBySignal(SIGTERM);
            else
                recorded = SIGINT;
            boxes.messageBox(bus::MessageIcon::Critical, "ERROR", "x", bus::MessageButtons::Ok);
        };
        const int flushesBefore = store.flushes();
        EXPECT_EQ(start(commandLine), status) << commandLine;
        EXPECT_FALSE(form->isVisible());
        EXPECT_EQ(runs, QStringList({"SCREEN 20 color - visible"})) << commandLine;
        EXPECT_TRUE(scripted.boxes.boxes().empty());
        EXPECT_EQ(store.flushes() - flushesBefore, flushes) << commandLine;
        runs.clear();
        onHardcopy = nullptr;  // the locals it refers to end here
        links.stopCheck = {};
        relink();
    }
}

}  // namespace
}  // namespace benchcap::app::test
