#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

#include <QPointer>
#include <QRegularExpression>
#include <QTimer>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include "app/window/recorder_setup.h"
#include "main_form_fixture.h"
#include "recipes/recipe_book.h"
#include "sim/recipe_instrument.h"
#include "support/bench_texts.h"
#include "support/golden.h"
#include "support/test_paths.h"
#include "trace/plot/trace_plot.h"
#include "trace/trace_text.h"

namespace benchcap::app::test {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

constexpr const char* kBench = ::benchcap::test::kTraceBench;

// A window on a simulated bench with the trace command wired as the program wires it.
class TraceWindowTest : public BusWindowTest {
  protected:
    void SetUp() override {
        office = {};
        setUpWindow(kBench, "trace-window");
        makeCommand('.');
        showWindow();
    }
    void makeCommand(char separator) {
        wireCommands(office, separator);
        command = traces.get();
    }

    // Chooses the address, then "Start" > "Read trace data" > "trace n" as the user does.
    void readTrace(int address, int n) {
        form->selectAddress(address);
        recordStatuses();
        form->item(QStringLiteral("TraceData_%1").arg(n))->trigger();
    }
    // The picture area as the user sees it, at its size.
    QImage onScreen() const { return area().canvas().copy(QRect(QPoint(0, 0), area().size())); }
    QImage expectedPlot() const {
        Result<QImage> r = trace::RenderTracePlot(command->state().data, area().size());
        EXPECT_TRUE(r.ok());
        return r ? r->convertToFormat(QImage::Format_RGB32) : QImage();
    }

    TraceWindowCommand* command = nullptr;
    RecordingOffice office;
};

TEST_F(TraceWindowTest, EveryBranchShowsWhatItShould) {
    ::benchcap::test::checkGolden("golden/trace-window.txt", [this](const std::string& input) {
        int address = 0, n = 0;
        std::istringstream(input) >> address >> n;
        SetUp();
        item("Drucken")->setEnabled(true);
        item("SaveHard")->setEnabled(true);
        readTrace(address, n);
        std::ostringstream out;
        out << windowSummary();
        const trace::TraceState& s = command->state();
        const QImage shown = onScreen();
        if (s.hasTrace)
            out << "trace: " << s.field.ColumnCount() << " columns, text "
                << (s.text == trace::TraceText(s.field, '.') ? "as written" : "differs")
                << ", plot " << (shown == expectedPlot() ? "as drawn" : "differs") << '\n';
        else  // nothing drawn: the area is white
            out << "no trace, area "
                << (shown.pixelColor(shown.width() / 4, shown.height() / 4) == QColor(Qt::white)
                        ? "white"
                        : "drawn")
                << '\n';
        out << "front panel given back " << bench->count(sim::Traffic::GoToLocal, address)
            << ", clipboard " << scripted.clipboard.writes() << ", tables " << office.tables
            << '\n';
        TearDown();
        return out.str();
    });
}

TEST_F(TraceWindowTest, ATraceNotReadLeavesTheOneReadBefore) {
    readTrace(7, 1);
    const std::string before = command->state().text;
    readTrace(7, 2);  // not activated
    EXPECT_EQ(command->state().text, before);
}

TEST_F(TraceWindowTest, SaveAndClipboardTogetherKeepTheStoredTextWhole) {
    makeCommand(',');  // the decimal separator given
    item("TraceAutoSave")->setChecked(true);
    item("TraceAutoClip")->setChecked(true);
    readTrace(7, 1);
    const std::string text = command->state().text;
    EXPECT_TRUE(text.find(',') != std::string::npos && text.find('.') == std::string::npos);
    ASSERT_EQ(text.substr(text.size() - 2), "\r\n");
    const std::string autoName = "TRACE1-03.12.05-14.03.09.TXT";
    EXPECT_EQ(dataFiles(), Strings{autoName});
    EXPECT_EQ(benchcap::test::readFile(dir / autoName), text + "\r\n");
    EXPECT_EQ(command->lastOutputFile(), files.DataPath + "/" + QString::fromStdString(autoName));
    // Both characters of the last line end go: no lone CR is left on the clipboard.
    EXPECT_EQ(scripted.clipboard.text().toStdString(), text.substr(0, text.size() - 2));

    // "Save trace data" after the clipboard: the whole text, with its extra line end, opened
    // at the data path, the filter's extension added to a bare name.
    scripted.saveDialog.queueAnswer(QString::fromStdString((dir / "saved").string()));
    item("SaveTrace")->trigger();
    EXPECT_EQ(
        scripted.saveDialog.shownWithFilters(),
        std::vector<QString>{QStringLiteral("TXT file|*.TXT|Touchstone file|*.s1p|all files|*.*")});
    EXPECT_EQ(scripted.saveDialog.shownInFolders(), std::vector<QString>{files.DataPath});
    EXPECT_EQ(benchcap::test::readFile(dir / "saved.txt"), text + "\r\n");

    // A second trace within the same second does not replace the first one's file.
    readTrace(7, 1);
    EXPECT_EQ(dataFiles().size(), 3u);
}

TEST_F(TraceWindowTest, SaveTraceDataWritesAComplexChannelAsTouchstone) {
    // The network analyzer's channel 2 is complex, channel 1 real.
    for (const auto& [channel, said] : {std::pair{2, ""}, std::pair{1, "in a real format"}}) {
        scripted.boxes = {};
        readTrace(16, channel);
        const fs::path file = dir / ("dut" + std::to_string(channel) + ".s1p");
        scripted.saveDialog.queueAnswer(QString::fromStdString(file.string()));
        item("SaveTrace")->trigger();
        if (*said != '\0') {
            ASSERT_EQ(scripted.boxes.texts().size(), 1u);
            EXPECT_NE(scripted.boxes.texts()[0].find(said), std::string::npos)
                << scripted.boxes.texts()[0];
            EXPECT_FALSE(fs::exists(file));
            continue;
        }
        const std::string text = benchcap::test::readFile(file);
        EXPECT_NE(text.find("! Instrument: Veltronik,NQD8,1,1.45\n"), std::string::npos) << text;
        EXPECT_NE(text.find("\n# HZ S RI R 50\n"), std::string::npos) << text;
    }
}

TEST_F(TraceWindowTest, AnotherMakersAnalyzerIsReadByItsTraceRecipe) {
    const recipes::RecipeBook book = recipes::RecipeBook::shipped().value();
    const recipes::Recipe& row = *book.named("rs-fsv-fsw-fpl");
    setUpWindow(("instruments:\n  - " + recipes::benchEntryFor(row, 5) + "\n").c_str(),
                "trace-recipe");
    makeCommand('.');
    traces->setRecipes(&book);
    showWindow();
    readTrace(5, 2);
    const trace::TraceState& s = command->state();
    ASSERT_TRUE(s.hasTrace) << windowSummary();
    EXPECT_EQ(s.data.values, sim::recipeInstrumentTrace(2).values);
    EXPECT_EQ(onScreen(), expectedPlot());
    EXPECT_TRUE(item("SaveTrace")->isEnabled());
}

TEST_F(TraceWindowTest, UnwritableFileIsReportedAndEverythingElseGoesOn) {
    files.DataPath = QString::fromStdString((dir / "missing").string());
    item("TraceAutoSave")->setChecked(true);
    item("TraceAutoClip")->setChecked(true);
    item("TraceAutoExcel")->setChecked(true);
    readTrace(7, 1);
    // Everything else went on: the trace, the spreadsheet and its indicator, the clipboard.
    EXPECT_EQ(windowSummary(),
              "statuses: No device was found on the IEEE bus | reading trace... | reading "
              "finished | drawing trace... | idle\n"
              "label: The trace data was not saved: Cannot write "
              "\"DIR/missing/TRACE1-03.12.05-14.03.09.TXT\": No such file or directory. Check "
              "that the folder exists. Choose a folder you can write to under Setup > Path for "
              "auto-save files, or save with Output > Save trace data.\n"
              "office: Excel on, Word off\n"
              "enabled: SaveTrace\n"
              "picture: -, trace, tip \"trace-values\"\n");
    EXPECT_EQ(std::pair(office.tables, office.rows), std::pair(1, std::size_t{501}));
    EXPECT_FALSE(scripted.clipboard.text().isEmpty());
    EXPECT_TRUE(command->lastOutputFile().isEmpty());

    // A save into a folder that is not there: a box that says so, and the program runs on.
    scripted.saveDialog.queueAnswer(QString::fromStdString((dir / "no" / "x.TXT").string()));
    item("SaveTrace")->trigger();
    ASSERT_EQ(scripted.boxes.texts().size(), 1u);
    EXPECT_NE(scripted.boxes.texts()[0].find("The trace data was not saved"), std::string::npos);
    // A cancelled or blank name is no error.
    scripted.saveDialog.queueAnswer(QStringLiteral("   "));
    item("SaveTrace")->trigger();
    item("SaveTrace")->trigger();
    EXPECT_EQ(scripted.boxes.texts().size(), 1u);
}

TEST_F(TraceWindowTest, ResizeRedrawsTheTraceAndNeverTheOldBitmap) {
    // A bitmap hardcopy on display before the trace.
    QImage red(40, 30, QImage::Format_RGB32);
    red.fill(Qt::red);
    bitmap().setPicture(red);
    area().setTag(QStringLiteral("BMP"));
    form->view().claimPictureArea(WindowView::Content::Hardcopy);

    readTrace(7, 1);
    EXPECT_EQ(area().tag(), QString());
    form->resize(900, 700);
    QApplication::processEvents();
    const QImage after = onScreen();
    EXPECT_EQ(after, expectedPlot());
    EXPECT_EQ(after.size(), area().size());
}

TEST_F(TraceWindowTest, RecorderSetupStartsFreshAndEnablesOnlyItsRow) {
    QAction* menuItem = item("TraceRecorder");
    EXPECT_TRUE(menuItem->isVisible());
    const auto shown = [&] {
        menuItem->trigger();
        auto* rec = qobject_cast<RecordForm*>(form->recordForm());
        EXPECT_TRUE(rec && rec->isVisible() && !rec->isModal());
        return rec;
    };
    const auto closed = [&] {
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return form->recordForm() == nullptr;
    };
    // A row's time is editable while its item is checked; closing discards the choices.
    RecordForm* rec = shown();
    ASSERT_NE(rec, nullptr);
    rec->RecItem(2)->click();
    for (int i = 0; i < RecordForm::kRows; ++i)
        EXPECT_EQ(rec->RecTime(i)->isEnabled(), i == 2) << i;
    rec->RecTime(2)->setText(QStringLiteral("30"));
    // Choices that cannot be recorded are said in a box, and nothing starts.
    for (const auto& [interval, checked, said] :
         std::vector<std::tuple<const char*, bool, std::string>>{
             {"abc", true, "The interval of trace 2 must be a number of seconds"},
             {"30", false, "Nothing is chosen to record"}}) {
        rec->RecTime(2)->setText(QString::fromLatin1(interval));
        rec->RecItem(2)->setChecked(checked);
        rec->StartRecorder()->click();
        QApplication::processEvents();
        ASSERT_FALSE(scripted.boxes.boxes().empty());
        EXPECT_EQ(scripted.boxes.boxes().back().text.rfind(said, 0), 0U)
            << scripted.boxes.boxes().back().text;
        EXPECT_FALSE(recorders->recording());
    }
    rec->close();
    EXPECT_TRUE(closed());
    rec = shown();
    ASSERT_NE(rec, nullptr);
    EXPECT_FALSE(rec->RecItem(2)->isChecked());
    EXPECT_EQ(rec->RecTime(2)->text(), QStringLiteral("10"));
    form->close();  // it closes with the main window
    EXPECT_TRUE(closed());
}

// The rows the status line counts while recording; -1 when it shows something else.
int64_t recordingRows(const QString& status) {
    static const QRegularExpression rows(QStringLiteral("^recording: ([0-9,]+) rows, next "));
    const QRegularExpressionMatch m = rows.match(status);
    return m.hasMatch() ? m.captured(1).remove(QLatin1Char(',')).toLongLong() : -1;
}

TEST_F(TraceWindowTest, RecorderRunsFromItsSetupWindowUntilTheMainStop) {
    // On the real clock, at 50 ms a row, as a user watches it.
    setUpWindow(kBench, "recorder-window", std::make_shared<bus::RealClock>());
    makeCommand('.');
    showWindow();
    form->selectAddress(7);
    item("TraceRecorder")->trigger();
    QPointer<RecordForm> rec = qobject_cast<RecordForm*>(form->recordForm());
    ASSERT_NE(rec, nullptr);
    rec->RecItem(1)->click();
    rec->RecTime(1)->setText(QStringLiteral("0.05"));
    rec->StartRecorder()->click();
    const bool done = runSteps({
        [&] {
            if (recordingRows(statusPanel(1)->text()) < 3)
                return false;
            EXPECT_EQ(rec->StartRecorder()->text(), QStringLiteral("stop recorder"));
            EXPECT_FALSE(rec->ItemFrame()->isEnabled());
            rec->close();  // the recording goes on without its setup window
            return true;
        },
        [&] {
            if (rec)
                return false;
            EXPECT_TRUE(recorders->recording());
            item("TraceRecorder")->trigger();
            rec = qobject_cast<RecordForm*>(form->recordForm());
            EXPECT_EQ(rec->StartRecorder()->text(), QStringLiteral("stop recorder"));
            // Another bus command waits for the recording's end.
            EXPECT_FALSE(form->runTrace(1));
            EXPECT_FALSE(recorders->run({{1, 100'000}}));
            EXPECT_EQ(scripted.boxes.boxes().back().text,
                      "A recording is running already: stop it before starting another.");
            form->resize(900, 700);
            return true;
        },
        [&] {
            item("Stop")->trigger();
            return true;
        },
    });
    ASSERT_TRUE(done) << statusPanel(1)->text().toStdString();
    while (recorders->recording())
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_FALSE(rec.isNull());
    EXPECT_EQ(rec->StartRecorder()->text(), QStringLiteral("start recorder"));
    const fs::path folder = dir / "RECORD-03.12.05-14.03.09";
    EXPECT_EQ(recorders->folder(), folder);
    EXPECT_EQ(benchcap::test::filesIn(folder, {}),
              (Strings{"record.csv", "trace1-waterfall.png", "trace1.csv"}));
    EXPECT_TRUE(statusPanel(1)->text().startsWith(QStringLiteral("recorded ")))
        << statusPanel(1)->text().toStdString();
    // Every acquisition row holds the 501 values after its three time columns.
    std::ifstream csv(folder / "trace1.csv");
    std::string line, last;
    while (std::getline(csv, line))
        last = line;
    EXPECT_EQ(std::count(last.begin(), last.end(), ','), 3 + 501 - 1);
    // The newest trace above, the waterfall's colours below it, over the resized area.
    const QImage shown = onScreen();
    EXPECT_EQ(shown.size(), area().size());
    const auto coloured = [&shown](int fromY, int toY) {
        for (int y = fromY; y < toY; ++y)
            for (int x = 0; x < shown.width(); x += 3)
                if (const QColor c = shown.pixelColor(x, y); c.saturation() > 64)
                    return true;
        return false;
    };
    EXPECT_FALSE(coloured(0, shown.height() / 3));
    EXPECT_TRUE(coloured(shown.height() / 2, shown.height()));
}

TEST_F(TraceWindowTest, RecorderShowsTheNewestHardcopyOrRefusesWhatCannotBeRecorded) {
    struct Case {
        int address;
        std::vector<recorder::ScheduleRow> rows;
        const char* error;  // the error label's start, "" when it records
    };
    for (const Case& c :
         std::vector<Case>{{7, {{0, 1'000'000}}, ""},
                           {9, {{1, 1'000'000}}, "Trace data is not supported for"},
                           {7, {{4, 1'000'000}}, "Trace 4 is not supported by the instrument!"}}) {
        SetUp();
        form->selectAddress(c.address);
        const Status done = recorders->run(c.rows, 2);
        const QString label = form->errorText();
        EXPECT_EQ(label.toStdString().rfind(c.error, 0), 0U)
            << c.address << ": " << label.toStdString() << " / " << done.error();
        EXPECT_EQ(done.ok(), *c.error == '\0') << done.error();
        if (*c.error != '\0') {
            EXPECT_TRUE(dataFiles().empty());  // nothing started, no folder
            continue;
        }
        const Strings files = benchcap::test::filesIn(recorders->folder(), {});
        // Two hardcopies a second apart, named in local time as the folder, and record.csv.
        EXPECT_EQ(files, (Strings{"HARDCOPY-03.12.05-14.03.09.WMF",
                                  "HARDCOPY-03.12.05-14.03.10.WMF", "record.csv"}));
        EXPECT_EQ(recorders->folder().filename(), "RECORD-03.12.05-14.03.09");
        const QImage shown = onScreen();
        EXPECT_NE(shown.pixelColor(shown.width() / 2, shown.height() / 2), QColor(Qt::white));
    }
}

}  // namespace
}  // namespace benchcap::app::test
