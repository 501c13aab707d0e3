#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/window/recorder_setup.h"
#include "main_form_fixture.h"
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
    void TearDown() override { form.reset(); }
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
    EXPECT_EQ(scripted.saveDialog.shownWithFilters(),
              std::vector<QString>{QStringLiteral("TXT file|*.TXT|all files|*.*")});
    EXPECT_EQ(scripted.saveDialog.shownInFolders(), std::vector<QString>{files.DataPath});
    EXPECT_EQ(benchcap::test::readFile(dir / "saved.txt"), text + "\r\n");

    // A second trace within the same second does not replace the first one's file.
    readTrace(7, 1);
    EXPECT_EQ(dataFiles().size(), 3u);
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
    EXPECT_FALSE(menuItem->isVisible());
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
    rec->close();
    EXPECT_TRUE(closed());
    rec = shown();
    ASSERT_NE(rec, nullptr);
    EXPECT_FALSE(rec->RecItem(2)->isChecked());
    EXPECT_EQ(rec->RecTime(2)->text(), QStringLiteral("10"));
    form->close();  // it closes with the main window
    EXPECT_TRUE(closed());
}

}  // namespace
}  // namespace benchcap::app::test
