#include <QApplication>
#include <QScreen>
#include <QStatusBar>

#include <csignal>

#include "app/settings_store.h"
#include "app/twips.h"
#include "app/unattended_boxes.h"
#include "bus/session.h"
#include "main_form_fixture.h"

namespace benchcap::app::test {
namespace {

const char* const kStoredKeys[] = {"Left",
                                   "Width",
                                   "Top",
                                   "Height",
                                   "Address",
                                   "Color",
                                   "SupressConfigRMX",
                                   "DataPath",
                                   "GPIBPrinterAdr",
                                   "HardAutoSave",
                                   "HardAutoClip",
                                   "HardAutoExcel",
                                   "TraceAutoSave",
                                   "TraceAutoClip",
                                   "TraceAutoExcel"};

class StartupTest : public MainFormTest {
  protected:
    void SetUp() override {
        MainFormTest::SetUp();
        form->setReportSink([this](const QString& line) { reports << line; });
        form->setEndProgram([this](int code) { ends.push_back(code); });
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
    std::vector<QString> writtenKeys() const {
        std::vector<QString> keys;
        for (const auto& a : store.accesses())
            if (a.isWrite)
                keys.push_back(a.key);
        return keys;
    }
    QString stored(const char* key) const { return store.get(QLatin1String(key)).value_or("-"); }

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
    for (const char* on :
         {"Color", "HardAutoSave", "HardAutoClip", "TraceAutoSave", "TraceAutoClip"})
        EXPECT_TRUE(checked(on)) << on;
    for (const char* off : {"BW", "SupressConfigRMX", "HardAutoExcel", "TraceAutoExcel"})
        EXPECT_FALSE(checked(off)) << off;
    EXPECT_EQ(files.DataPath, QStringLiteral("/opt/benchcap"));
    EXPECT_EQ(form->statusPanel(1)->text(), QStringLiteral("idle"));
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->ShowsHardcopy);
    EXPECT_EQ(form->cursor().shape(), Qt::ArrowCursor);

    // Read in the order of start-up (Left, Width, Top and Height first).
    std::vector<QString> read;
    for (const auto& a : store.accesses())
        read.push_back(a.key);
    EXPECT_EQ(read, (std::vector<QString>{"Left", "Width", "Top", "Height", "Address", "Color",
                                          "SupressConfigRMX", "DataPath", "GPIBPrinterAdr",
                                          "HardAutoSave", "HardAutoClip", "HardAutoExcel",
                                          "TraceAutoSave", "TraceAutoClip", "TraceAutoExcel"}));

    item("ExitProg")->trigger();
    std::vector<QString> expected(std::begin(kStoredKeys), std::end(kStoredKeys));
    EXPECT_EQ(writtenKeys(), expected);
    EXPECT_EQ(store.flushes(), 1);
    EXPECT_EQ(stored("Address"), QStringLiteral("20"));
    EXPECT_EQ(stored("Color"), QStringLiteral("True"));
    EXPECT_EQ(stored("HardAutoExcel"), QStringLiteral("False"));
    EXPECT_EQ(stored("GPIBPrinterAdr"), QStringLiteral("5"));
    EXPECT_EQ(stored("DataPath"), QStringLiteral("/opt/benchcap"));
    EXPECT_EQ(ends, std::vector<int>{0});
    // Once only, whatever asks again (the close that follows, a signal).
    form->close();
    form->Shutdown();
    EXPECT_EQ(store.flushes(), 1);
}

TEST_F(StartupTest, StoredValuesComeBackAndAreStoredUnchanged) {
    const struct {
        const char* key;
        const char* value;
    } values[] = {{"Left", "1500"},
                  {"Top", "3000"},
                  {"Width", "9000"},
                  {"Height", "6000"},
                  {"Address", " 12 "},
                  {"Color", "False"},
                  {"SupressConfigRMX", "true"},
                  {"DataPath", "/lab/data"},
                  {"GPIBPrinterAdr", "7"},
                  {"HardAutoSave", "False"},
                  {"HardAutoClip", "False"},
                  {"HardAutoExcel", "True"},
                  {"TraceAutoSave", "False"},
                  {"TraceAutoClip", "False"},
                  {"TraceAutoExcel", "True"}};
    for (const auto& v : values)
        store.set(QLatin1String(v.key), QLatin1String(v.value));
    start();
    EXPECT_EQ(form->pos(), QPoint(twipsToPixelsX(*form, 1500), twipsToPixelsY(*form, 3000)));
    EXPECT_EQ(form->size(), QSize(twipsToPixelsX(*form, 9000), twipsToPixelsY(*form, 6000)));
    EXPECT_EQ(form->selectedAddress(), 12);
    EXPECT_TRUE(checked("BW"));
    EXPECT_FALSE(checked("Color"));
    EXPECT_TRUE(checked("SupressConfigRMX"));
    EXPECT_FALSE(checked("HardAutoSave"));
    EXPECT_TRUE(checked("TraceAutoExcel"));
    EXPECT_EQ(files.DataPath, QStringLiteral("/lab/data"));

    form->close();  // the window's own close runs the shutdown as well
    for (const auto& v : values) {
        QString expected = QString::fromLatin1(v.value).trimmed();
        if (expected == QLatin1String("true"))
            expected = QStringLiteral("True");
        EXPECT_EQ(stored(v.key), expected) << v.key;
    }
    EXPECT_EQ(ends, std::vector<int>{0});
}

TEST_F(StartupTest, WindowOffTheScreenIsPlacedByTheScreen) {
    // Closed while minimised (negative), or far off every screen (one since removed).
    const struct {
        const char* left;
        const char* top;
    } cases[] = {{"-48000", "1"}, {"999999999", "1"}, {"1500", "999999999"}, {"1e300", "1"}};
    for (const auto& c : cases) {
        SetUp();
        store.set(QStringLiteral("Left"), QLatin1String(c.left));
        store.set(QStringLiteral("Top"), QLatin1String(c.top));
        for (const char* key : {"Width", "Height"})
            store.set(QLatin1String(key), QStringLiteral("1"));
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
            << c.left;
        EXPECT_EQ(form->size(),
                  QSize(px(0.6, screen.width(), true), px(0.6, screen.height(), false)))
            << c.left;
    }
}

TEST_F(StartupTest, UnusableValuesFallBackSoundly) {
    store.set(QStringLiteral("Address"), QStringLiteral("45"));
    store.set(QStringLiteral("Color"), QStringLiteral("maybe"));
    store.set(QStringLiteral("HardAutoSave"), QStringLiteral("yes"));
    store.set(QStringLiteral("HardAutoExcel"), QStringLiteral("-1"));
    store.set(QStringLiteral("GPIBPrinterAdr"), QStringLiteral("7.5"));
    store.set(QStringLiteral("Width"), QStringLiteral("wide"));
    start();
    EXPECT_EQ(form->selectedAddress(), 0);  // outside 1 to 30: nothing checked
    EXPECT_TRUE(checked("Color"));          // neither truth value nor number: the default
    EXPECT_FALSE(checked("BW"));
    EXPECT_TRUE(checked("HardAutoSave"));
    EXPECT_TRUE(checked("HardAutoExcel"));
    form->Shutdown();
    EXPECT_EQ(stored("Address"), QStringLiteral("20"));  // no valid address was ever selected
    EXPECT_EQ(stored("GPIBPrinterAdr"), QStringLiteral("8"));
    EXPECT_EQ(stored("Color"), QStringLiteral("True"));
}

TEST_F(StartupTest, InvalidStoredAddressKeepsTheLastValidOneAtShutdown) {
    store.set(QStringLiteral("Address"), QStringLiteral("0"));
    start();
    form->SelectAdr(7);
    form->SelectAdr(31);
    form->Shutdown();
    EXPECT_EQ(stored("Address"), QStringLiteral("7"));
}

TEST_F(StartupTest, DataPathOptionIsForThisRunOnly) {
    store.set(QStringLiteral("DataPath"), QStringLiteral("/stored"));
    context.dataPathOverride = QStringLiteral("/this/run");
    start();
    EXPECT_EQ(files.DataPath, QStringLiteral("/this/run"));
    form->Shutdown();
    EXPECT_EQ(stored("DataPath"), QStringLiteral("/stored"));
}

class CommandLineRunTest : public StartupTest {
  protected:
    void SetUp() override {
        StartupTest::SetUp();
        form->setCommands({[this] {
                               runs << QStringLiteral("SCREEN %1 %2 %3 %4")
                                           .arg(form->selectedAddress())
                                           .arg(checked("BW") ? "bw" : "color")
                                           .arg(files.UseManualName ? files.ManualName : "-")
                                           .arg(form->isVisible() ? "visible" : "hidden");
                               if (onHardcopy)
                                   onHardcopy();
                               return Status{};
                           },
                           [this](int n) {
                               runs << QStringLiteral("TRACE %1").arg(n);
                               return Status{};
                           }});
    }
    QStringList runs;
    std::function<void()> onHardcopy;
};

TEST_F(CommandLineRunTest, ActionsRunInOrderAndEndWritesNothing) {
    EXPECT_EQ(start("/HIDE /12 /BW /NAME=scope1 /SCREEN /TRACE2 /END"), 0);
    EXPECT_EQ(runs, QStringList({"SCREEN 12 bw scope1 hidden", "TRACE 2"}));
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(store.accesses().size() == 15 && writtenKeys().empty());
    EXPECT_EQ(store.flushes(), 0);
    EXPECT_TRUE(ends.empty());  // END returns; nothing of the shutdown runs
}

TEST_F(CommandLineRunTest, WindowIsShownAfterwardsAndNameAppliesOnlyToTheCommandLine) {
    EXPECT_EQ(start("/HIDE/name=x/COLOR/BW/0.6"), std::nullopt);
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(files.UseManualName);
    EXPECT_EQ(form->selectedAddress(), 1);
    EXPECT_TRUE(checked("BW"));  // the later argument wins
    form->Shutdown();
    EXPECT_EQ(stored("Color"), QStringLiteral("False"));
    EXPECT_EQ(stored("Address"), QStringLiteral("1"));
}

TEST_F(CommandLineRunTest, UnattendedBoxesAreReportedAnsweredSafelyAndSetTheExitStatus) {
    UnattendedBoxes boxes(
        scripted.boxes, [this] { return form->unattended(); },
        [this](const std::string& title, const std::string& text, bool isError) {
            form->reportUnattended(QString::fromStdString(title), QString::fromStdString(text),
                                   isError);
        });
    std::vector<bus::MessageResult> answers;
    onHardcopy = [&] {
        answers.push_back(boxes.messageBox(bus::MessageIcon::Question, "Plotter",
                                           "Use plotter emulation?", bus::MessageButtons::YesNo));
        answers.push_back(boxes.messageBox(bus::MessageIcon::Information, "Note", "one\r\ntwo",
                                           bus::MessageButtons::OkCancel));
    };
    // The window stays hidden during start-up: no box waits, and a question is not an error.
    EXPECT_EQ(start("/SCREEN/END"), 0);
    EXPECT_EQ(answers, (std::vector<bus::MessageResult>{bus::MessageResult::No,
                                                        bus::MessageResult::Cancel}));
    EXPECT_TRUE(scripted.boxes.boxes().empty());
    EXPECT_EQ(reports, QStringList({"benchcap: Plotter: Use plotter emulation?",
                                    "benchcap: Note: one / two"}));

    // An error box or the error label makes END end with status 1.
    for (int variant = 0; variant < 2; ++variant) {
        reports.clear();
        onHardcopy = [&] {
            if (variant == 0) {
                boxes.messageBox(bus::MessageIcon::Critical, "ERROR", "No answer at 12",
                                 bus::MessageButtons::Ok);
            } else {
                form->ErrorText = QStringLiteral("no answer from instrument");
                form->DispError();
            }
        };
        EXPECT_EQ(start("/SCREEN/END"), 1) << variant;
        EXPECT_EQ(reports.size(), 1) << variant;
        EXPECT_EQ(form->statusPanel(1)->text(),
                  variant == 0 ? "No answer at 12" : "no answer from instrument");
    }
}

TEST_F(CommandLineRunTest, VisibleWindowShowsItsBoxes) {
    form->setDisplayAvailable(true);
    UnattendedBoxes boxes(scripted.boxes, [this] { return form->unattended(); }, {});
    onHardcopy = [&] {
        boxes.messageBox(bus::MessageIcon::Critical, "ERROR", "x", bus::MessageButtons::Ok);
    };
    EXPECT_EQ(start("/SHOW/SCREEN/END"), 0);  // a box the user saw is no unattended error
    EXPECT_EQ(scripted.boxes.boxes().size(), 1u);
    EXPECT_TRUE(reports.isEmpty());
}

TEST_F(StartupTest, MissingCommandsSayTheyAreNotAvailableYet) {
    EXPECT_EQ(start("/SCREEN/TRACE3/END"), 0);
    EXPECT_EQ(reports, QStringList({"benchcap: Hardcopy is not available yet",
                                    "benchcap: Trace 3 is not available yet"}));
}

}  // namespace
}  // namespace benchcap::app::test

namespace benchcap::app::test {
namespace {

TEST_F(CommandLineRunTest, ShutdownDuringTheCommandLineStopsIt) {
    // The end of the session or a signal handled while the hardcopy yields, or a signal
    // recorded while it blocked: the trace that follows never runs, no box waits for a user,
    // and the settings are written once unless END was to come.
    enum Stop { SessionEnd, SignalHandled, SignalRecorded };
    const struct {
        Stop stop;
        const char* commandLine;
        int status;
        int flushes;
    } cases[] = {{SessionEnd, "/SHOW/SCREEN/TRACE1", 0, 1},
                 {SignalHandled, "/SHOW/SCREEN/TRACE1", 143, 1},
                 {SignalHandled, "/SHOW/SCREEN/TRACE1/END", 143, 0},
                 {SignalRecorded, "/SHOW/SCREEN/TRACE1/END", 130, 0}};
    for (const auto& c : cases) {
        SetUp();
        int recorded = 0;
        form->setStopCheck([&recorded] { return recorded; });
        form->setDisplayAvailable(true);
        UnattendedBoxes boxes(scripted.boxes, [this] { return form->unattended(); }, {});
        onHardcopy = [&] {
            if (c.stop == SessionEnd)
                form->Shutdown();
            else if (c.stop == SignalHandled)
                form->stopBySignal(SIGTERM);
            else
                recorded = SIGINT;
            boxes.messageBox(bus::MessageIcon::Critical, "ERROR", "x", bus::MessageButtons::Ok);
        };
        const int flushesBefore = store.flushes();
        EXPECT_EQ(start(c.commandLine), c.status) << c.commandLine;
        EXPECT_FALSE(form->isVisible());
        EXPECT_EQ(runs, QStringList({"SCREEN 20 color - visible"})) << c.commandLine;
        EXPECT_TRUE(scripted.boxes.boxes().empty());
        EXPECT_EQ(store.flushes() - flushesBefore, c.flushes) << c.commandLine;
        runs.clear();
        onHardcopy = nullptr;  // the locals it refers to end here
        form->setStopCheck({});
    }
}

}  // namespace
}  // namespace benchcap::app::test
