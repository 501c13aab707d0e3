#include <QApplication>
#include <QFile>
#include <QImage>
#include <QMenu>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include <gtest/gtest.h>
#include <QPainter>
#include "app/output/print_hardcopy.h"
#include "app/window/scan_panel.h"
#include "hardcopy/hardcopy_workflow.h"
#include "main_form_fixture.h"
#include "recipes/recipe_book.h"
#include "support/bench_texts.h"
#include "support/file_faults.h"
#include "support/golden.h"
#include "support/image_summary.h"
#include "support/test_paths.h"

namespace benchcap::app::test {
namespace {

namespace fs = std::filesystem;
using sim::Traffic;

constexpr const char* kBench = ::benchcap::test::kStandardBench;

// A window on a simulated bench with the hardcopy command wired as the program wires it.
class HardcopyWindowTest : public BusWindowTest {
  protected:
    void SetUp() override { setUp(kBench); }
    void setUp(const std::string& benchText) {
        office = {};
        setUpWindow(benchText.c_str(), "hardcopy-window");
        wireCommands(office);
        command = hardcopies.get();
        showWindow();
    }

    // Chooses the address and the format, then "Start" > "Hardcopy" as the user does.
    void hardcopy(int address, bool wmf = true) {
        form->selectAddress(address);
        item(wmf ? "CopyFormatWMF" : "CopyFormatBMP")->trigger();
        recordStatuses();
        item("MakeHardcopy")->trigger();
    }
    std::vector<std::string> dataFiles() const { return BusWindowTest::dataFiles("page.pdf"); }
    bool outputItemsEnabled() const {
        return item("Drucken")->isEnabled() && item("SaveHard")->isEnabled();
    }

    HardcopyCommand* command = nullptr;
    RecordingOffice office;
};

TEST_F(HardcopyWindowTest, EveryWayShowsWhatItShould) {
    ::benchcap::test::checkGolden("golden/hardcopy-window.txt", [this](const std::string& input) {
        int address = 0;
        std::string format;
        std::istringstream(input) >> address >> format;
        SetUp();
        hardcopy(address, format == "WMF");
        std::ostringstream out;
        out << windowSummary() << "front panel given back "
            << bench->count(Traffic::GoToLocal, address) << ", on display "
            << (command->onDisplay() ? "yes" : "no") << ", bus "
            << (bench->traffic().empty() ? "untouched" : "used") << '\n';
        TearDown();
        return out.str();
    });
}

TEST_F(HardcopyWindowTest, IdentificationNamesTheAddressItemOnceAndTheStatusPanel) {
    QAction* const at7 = form->item(QStringLiteral("Adr_7"));
    at7->setText(QStringLiteral("07"));
    hardcopy(7);
    EXPECT_EQ(at7->text() + " " + statusPanel(2)->text(), QStringLiteral("07: KLT KLT"));
    at7->setText(QStringLiteral("07: KLT-3 on the left bench"));
    hardcopy(7);
    EXPECT_EQ(at7->text(), QStringLiteral("07: KLT-3 on the left bench"));
    hardcopy(25);
    EXPECT_EQ(form->item(QStringLiteral("Adr_25"))->text(), QStringLiteral("25: TMO"));
    // Identification opened with a 1 s time-out on the scanner's board.
    EXPECT_EQ(instrument->record().TimeoutCode, 11);
    EXPECT_EQ(instrument->record().BoardIndex, 0);
}

TEST_F(HardcopyWindowTest, AutomaticNamesInOneSecondGetASuffixManualNamesAreReplaced) {
    item("HardAutoSave")->setChecked(true);
    hardcopy(7);
    hardcopy(7);
    hardcopy(16, false);
    hardcopy(16, false);
    EXPECT_EQ(dataFiles(), (std::vector<std::string>{
                               "HARDCOPY-03.12.05-14.03.09-2.BMP",
                               "HARDCOPY-03.12.05-14.03.09-2.WMF",
                               "HARDCOPY-03.12.05-14.03.09.BMP",
                               "HARDCOPY-03.12.05-14.03.09.WMF",
                           }));
    EXPECT_EQ(command->lastOutputFile(), files.DataPath + "/HARDCOPY-03.12.05-14.03.09-2.BMP");
    files.UseManualName = true;
    files.ManualName = QStringLiteral("  scope1 ");
    hardcopy(7);
    hardcopy(7);
    EXPECT_EQ(dataFiles().size(), 5u);
    EXPECT_TRUE(fs::exists(dir / "scope1.WMF"));
    EXPECT_TRUE(command->onDisplay()->fileKept);
    EXPECT_EQ(command->lastOutputFile(), files.DataPath + QStringLiteral("/scope1.WMF"));
}

// The pasted picture and the "Word" indicator are OfficeWindowTest's.
TEST_F(HardcopyWindowTest, ClipboardAndWordPasteOnlyWithThisHardcopysPicture) {
    // Clipboard option, Word option, pastes: Word without the clipboard option (a stored
    // setting) has nothing to paste.
    for (const char* c : {"000", "100", "111", "010"}) {
        SetUp();
        const bool clip = c[0] == '1';
        item("HardAutoClip")->setChecked(clip);
        item("HardAutoExcel")->setChecked(c[1] == '1');
        hardcopy(16, false);
        EXPECT_EQ(scripted.clipboard.writes(), clip ? 1 : 0);
        EXPECT_TRUE(!clip || scripted.clipboard.image().size() == bitmap().picture().size());
        EXPECT_EQ(office.pictures, c[2] - '0');
        TearDown();
    }
}

// A failed transfer drops the picture shown before; a file that does not load (the
// instrument "sends" zeros) is refused and written under no name. Neither is pasted.
TEST_F(HardcopyWindowTest, FailedOrUnloadableHardcopyDropsThePictureAndPastesNothing) {
    hardcopy(7);
    item("HardAutoClip")->setChecked(true);
    item("HardAutoExcel")->setChecked(true);
    hardcopy(20);
    EXPECT_FALSE(outputItemsEnabled() || command->onDisplay() || !area().picture().isNull());
    files.UseManualName = true;
    files.ManualName = QStringLiteral("zeros");
    bench->instrument(0, 28)->on("HCOP:DATA?", [this](const sim::Command&) {
        bench->instrument(0, 28)->respondRaw(std::string(2000, '\0'), true);
    });
    hardcopy(28);
    EXPECT_EQ(scripted.clipboard.writes() + office.pictures, 0);
    EXPECT_EQ(
        windowSummary(),
        "statuses: No device was found on the IEEE bus | checking firmware | transfer failed\n"
        "label: -\n"
        "office: Excel off, Word off\n"
        "enabled:\n"
        "picture: -, hardcopy, tip \"screenshot from selected device\"\n"
        "box: [ERROR:] An error occured. Please check instrument and try again!\\nThe transfer "
        "of C:\\HARDCOPY.WMF is incomplete: the block broke off after 100 of 6546 bytes "
        "(time-out).\n"
        "box: [ERROR:] An error occured. Please check instrument and try again!\\nThe "
        "generator's screen picture is refused: DIR/zeros.BMP: file holds only zero bytes (the "
        "transfer from the instrument probably failed).\n");
}

TEST_F(HardcopyWindowTest, DataPathFaultsNameTheFileAndTheReasonBeforeTheInstrumentIsAsked) {
    // The data path under the test folder, the length of a manual name (0: automatic).
    for (const auto& [dataPath, nameLength, reason] :
         {std::tuple{"missing", 0, "No such file or directory"},
          {"plain-file", 0, "Not a directory"},
          {"dangling-link", 0, "No such file or directory"},
          {"", 300, "File name too long"}}) {
        SetUp();
        std::ofstream(dir / "plain-file") << "x";
        fs::create_directory_symlink(dir / "nowhere", dir / "dangling-link");
        files.DataPath = QString::fromStdString((dir / dataPath).string());
        files.UseManualName = nameLength > 0;
        files.ManualName = QString(nameLength, QLatin1Char('n'));
        const QString file = files.outputFileName(QStringLiteral("WMF"), 0, files.UseManualName);
        hardcopy(7);
        const auto texts = scripted.boxes.texts();
        ASSERT_EQ(texts.size(), 1u) << dataPath;
        EXPECT_NE(texts[0].find(file.toStdString()), std::string::npos) << texts[0];
        EXPECT_NE(texts[0].find(reason), std::string::npos) << texts[0];
        for (const char* never : {"data transfered.", "ready."})
            EXPECT_EQ(std::count(statuses.begin(), statuses.end(), never), 0) << dataPath;
        for (const std::string& sent : bench->writesTo(7))  // the instrument was not asked
            EXPECT_EQ(sent.find("HCOPY"), std::string::npos) << sent;
        TearDown();
    }
}

TEST_F(HardcopyWindowTest, PlotterCaptureGoesToTheDataPathAndIsShown) {
    using enum bus::MessageResult;
    // The plotter taken or refused; an unknown maker (3): the list of supported devices,
    // then the offer. The front panel comes back in each case; only a plot taken is shown
    // and can be printed and saved.
    for (const auto& [address, answers, file] :
         {std::tuple{9, std::vector{Yes}, "HARDCOPY-03.12.05-14.03.09.HGL"},
          {9, std::vector{No}, ""},
          {3, std::vector{Ok, No}, ""}}) {
        SetUp();
        for (auto a : answers)
            scripted.boxes.queueMessageResult(a);
        hardcopy(address);
        EXPECT_EQ(dataFiles(), std::vector<std::string>(*file ? 1 : 0, file)) << address;
        EXPECT_EQ(bench->count(Traffic::GoToLocal, address), 1) << address;
        EXPECT_EQ(outputItemsEnabled(), *file != 0) << address;
        TearDown();
    }
    SetUp();
    scripted.boxes.queueMessageResult(Yes);
    scripted.boxes.queueMessageResult(Yes);
    hardcopy(9);
    hardcopy(9);
    EXPECT_EQ(dataFiles(), (std::vector<std::string>{"HARDCOPY-03.12.05-14.03.09-2.HGL",
                                                     "HARDCOPY-03.12.05-14.03.09.HGL"}));
    // On display as a picture (what it draws is the HP-GL painter's), with the plot's tag.
    ASSERT_TRUE(command->onDisplay());
    EXPECT_EQ(area().tag(), QStringLiteral("HGL"));
    EXPECT_FALSE(area().picture().isNull());
    // Saved as the plotter's text, or drawn as a picture by the name's extension (which
    // extension gives which picture is CliRender's).
    scripted.saveDialog.queueAnswer(QString::fromStdString((dir / "plot.hgl").string()));
    item("SaveHard")->trigger();
    EXPECT_EQ(benchcap::test::readFile(dir / "plot.hgl").rfind("IN;", 0), 0u);
    EXPECT_TRUE(
        scripted.saveDialog.shownWithFilters().back().contains(QStringLiteral("PNG file|*.PNG")));
    // Opened at the data path, then where the last save went; a name without an extension
    // gets the chosen filter's ("PDF file").
    fs::create_directory(dir / "mine");
    scripted.saveDialog.queueAnswer(QString::fromStdString((dir / "mine" / "plot9").string()), 3);
    item("SaveHard")->trigger();
    item("SaveHard")->trigger();
    EXPECT_EQ(benchcap::test::readFile(dir / "mine" / "plot9.pdf").rfind("%PDF", 0), 0u);
    EXPECT_EQ(scripted.saveDialog.shownInFolders().front(), files.DataPath);
    EXPECT_EQ(scripted.saveDialog.shownInFolders().back(),
              QString::fromStdString((dir / "mine").string()));
}

TEST_F(HardcopyWindowTest, TrayHardcopyShowsItsNoticeAndASecondBusCommandIsRefused) {
    form->selectAddress(7);
    bool noticeShown = false;
    duringYield = [&] {
        noticeShown = noticeShown || form->item<QLabel>(QStringLiteral("TrayInfo"))->isVisible();
    };
    form->item(QStringLiteral("ScreenShot"))->trigger();
    EXPECT_TRUE(noticeShown);
    EXPECT_FALSE(form->item<QLabel>(QStringLiteral("TrayInfo"))->isVisible());
    EXPECT_EQ(area().tag(), QStringLiteral("WMF"));
    const std::vector<std::string> oneHardcopy = bench->writesTo(7);
    bench->clearTraffic();

    int nested = 0;
    Status refused;
    duringYield = [&] {
        if (++nested != 3)
            return;
        refused = form->runHardcopy();  // the command line's SCREEN
        item("MakeHardcopy")->trigger();
        item("StartScan")->trigger();
        form->item(QStringLiteral("ScreenShot"))->trigger();
    };
    hardcopy(7);
    EXPECT_GT(nested, 3);
    EXPECT_FALSE(refused.ok());
    EXPECT_NE(refused.error().find("another bus command is running"), std::string::npos);
    // Nothing ran inside the first command: the same bytes as one hardcopy, no scan.
    EXPECT_EQ(bench->writesTo(7), oneHardcopy);
    EXPECT_EQ(bench->count(Traffic::Open, 1), 0);
    EXPECT_EQ(statusPanel(1)->text(), QStringLiteral("ready."));
    // Afterwards the bus is free again.
    duringYield = nullptr;
    EXPECT_TRUE(form->runHardcopy().ok());
}

TEST_F(HardcopyWindowTest, SaveWritesThePicturesOwnFormat) {
    // The generator's bitmap (28) under the WMF setting is offered and written as a bitmap.
    for (const auto& [address, wmf, format] :
         {std::tuple{7, true, "WMF"}, {16, false, "BMP"}, {28, true, "BMP"}}) {
        SetUp();
        hardcopy(address, wmf);
        const fs::path target = dir / "mine.any";
        scripted.saveDialog.queueAnswer(QString::fromStdString("  " + target.string() + " "));
        item("SaveHard")->trigger();
        ASSERT_EQ(scripted.saveDialog.shownWithFilters().size(), 1u);
        EXPECT_EQ(scripted.saveDialog.shownWithFilters()[0],
                  QStringLiteral("%1 file|*.%1|all files|*.*").arg(QLatin1String(format)));
        EXPECT_EQ(benchcap::test::readFile(target), command->onDisplay()->picture.bytes());
        TearDown();
    }
}

TEST_F(HardcopyWindowTest, AnotherMakersInstrumentIsKnownByItsRecipeAndShotByIt) {
    // A block PNG and a raw BMP without header, each from its maker's simulated instrument.
    const recipes::RecipeBook book = recipes::RecipeBook::shipped().value();
    const std::vector<std::pair<const char*, const char*>> rows = {{"rigol-ds1000z", "PNG"},
                                                                   {"siglent-sds", "BMP"}};
    std::string benchText = "instruments:\n";
    for (std::size_t i = 0; i < rows.size(); ++i)
        benchText += "  - " +
                     recipes::benchEntryFor(*book.named(rows[i].first), static_cast<int>(i) + 3) +
                     "\n";
    setUp(benchText);
    command->setRecipes(&book, &bench->clock());
    core->setRecipeLookup([&book](std::string_view idn) {
        const recipes::Recipe* row = book.match(idn);
        return row ? row->name : std::string();
    });
    item("StartScan")->trigger();
    const auto* panel = qobject_cast<ScanIECPanel*>(form->scanPanel());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const int address = static_cast<int>(i) + 3;
        EXPECT_EQ(panel->ledColour(address), QColor(0, 255, 0));
        EXPECT_EQ(panel->LED(address)->toolTip().toStdString(),
                  "Addr " + std::to_string(address) + ": screen by recipe " + rows[i].first);
        hardcopy(address);
        ASSERT_TRUE(command->onDisplay()) << windowSummary();
        EXPECT_EQ(command->onDisplay()->format.toStdString(), rows[i].second);
        EXPECT_EQ(area().tag(), QStringLiteral("BMP"));  // a bitmap, stretched on resize
        // Saved as what the instrument sent.
        scripted.saveDialog.queueAnswer(QString::fromStdString((dir / "mine").string()));
        item("SaveHard")->trigger();
        EXPECT_EQ(scripted.saveDialog.shownWithFilters().back(),
                  QStringLiteral("%1 file|*.%1|all files|*.*").arg(QLatin1String(rows[i].second)));
    }
}

// --- printing ------------------------------------------------------------------------

// Output of a poppler tool run on the printed PDF.
QString runTool(const QString& program, const QStringList& args) {
    QProcess tool;
    tool.start(program, args);
    if (!tool.waitForFinished(60000) || tool.exitCode() != 0)
        return QStringLiteral("<%1 failed: %2>").arg(program, tool.readAllStandardError());
    return QString::fromLocal8Bit(tool.readAllStandardOutput());
}

TEST_F(HardcopyWindowTest, PrintPutsThePictureFramedAndCaptionedOnEachCopy) {
    // Cancelled, nothing is printed; the caption names the file only when it was kept.
    hardcopy(7);
    item("Drucken")->trigger();  // nothing queued: cancelled
    EXPECT_FALSE(QFile::exists(pdfPath()));
    scripted.printDialog.queueAnswer(PrintOptions{});
    item("Drucken")->trigger();
    const QString unsaved = runTool("pdftotext", {pdfPath(), "-"});
    EXPECT_TRUE(unsaved.contains("KLT") && !unsaved.contains("saved to")) << unsaved.toStdString();

    item("HardAutoSave")->setChecked(true);
    hardcopy(7);
    PrintOptions choice;
    choice.copies = 3;
    scripted.printDialog.queueAnswer(choice);
    item("Drucken")->trigger();
    ASSERT_EQ(scripted.printDialog.presets().size(), 3u);
    const PrintOptions& preset = scripted.printDialog.presets()[2];
    EXPECT_TRUE(preset.copies == 1 && preset.pageRange && preset.fromPage == 1 &&
                preset.toPage == 1 && preset.orientation == QPageLayout::Landscape);
    EXPECT_TRUE(scripted.boxes.boxes().empty());
    EXPECT_EQ(area().scale(), QRectF(0, 0, 100, -100));
    EXPECT_TRUE(runTool("pdfinfo", {pdfPath()}).contains(QRegularExpression("Pages:\\s+3\\n")));
    const QString text = runTool("pdftotext", {"-f", "1", "-l", "1", pdfPath(), "-"});
    EXPECT_TRUE(text.contains(QStringLiteral("KLT, saved to ") + command->lastOutputFile()))
        << text.toStdString();
}

// Printers that fail where real ones do.
struct BrokenPrinters final : PrinterFactory {
    std::function<std::unique_ptr<QPrinter>()> make;
    std::unique_ptr<QPrinter> makePrinter() override { return make(); }
};

TEST_F(HardcopyWindowTest, PrintFailureNamesTheStep) {
    hardcopy(7);
    ASSERT_TRUE(command->onDisplay());
    // No printer installed under that name; a document that cannot be started (a folder
    // that does not exist).
    for (const auto& [make, text] :
         {std::pair<std::function<std::unique_ptr<QPrinter>()>, const char*>{
              [] {
                  auto p = std::make_unique<QPrinter>();
                  p->setPrinterName(QStringLiteral("no such printer"));
                  return p;
              },
              "Error while setting printer options"},
          {[this] { return PdfPrinterFactory(pdfPath() + "/missing/page.pdf").makePrinter(); },
           "Error while printing picture"}}) {
        scripted.boxes.clearBoxes();
        scripted.printDialog.queueAnswer(PrintOptions{});
        BrokenPrinters printers;
        printers.make = make;
        EXPECT_EQ(printHardcopy(form.get(), scripted.printDialog, printers, scripted.boxes, &area(),
                                command->onDisplay()->picture, "KLT"),
                  PrintOutcome::Failed);
        ASSERT_EQ(scripted.boxes.boxes().size(), 1u);
        const auto& box = scripted.boxes.boxes()[0];
        EXPECT_EQ(box.title + ": " + box.text, std::string("PRINTING-ERROR: ") + text);
        EXPECT_EQ(box.icon, bus::MessageIcon::Critical);
    }
}

// A command line runs before the window is first shown: the metafile taken then fills the
// area the window gets, and follows it when it is resized.
TEST_F(HardcopyWindowTest, MetafileTakenBeforeTheWindowIsShownFillsTheShownArea) {
    form->hide();
    form->resize(300, 240);
    QApplication::processEvents();
    hardcopy(7);
    ASSERT_TRUE(command->onDisplay());
    EXPECT_TRUE(command->cameByTransfer());
    form->resize(900, 700);
    form->show();
    QApplication::processEvents();
    const QSize size = area().size();
    const QSize shown = area().picture().size();
    EXPECT_TRUE(shown.width() == size.width() || shown.height() == size.height())
        << shown.width() << "x" << shown.height() << " in " << size.width() << "x" << size.height();
    // The canvas the user sees holds the picture, not the background, at its far corner.
    const QPoint corner(shown.width() - 5, shown.height() - 5);
    EXPECT_NE(area().canvas().pixelColor(corner), PictureBox::background());
}

// A bitmap of `size` in one colour, as the instrument would send it.
picture::Picture bitmap(QSize size, QColor colour) {
    auto picture =
        picture::pictureFromBytes(::benchcap::test::plainImageBytes(size, colour, "BMP"));
    EXPECT_TRUE(picture.ok()) << picture.error();
    return picture.value();
}

bool isBlack(const QImage& page, QPoint at) {
    return QColor(page.pixel(at)).lightness() < 60;
}

// A line drawn at a fractional position lands on one of the pixels around it.
bool lineAt(const QImage& page, QPointF at) {
    for (int dx = -1; dx <= 1; ++dx)
        for (int dy = -1; dy <= 1; ++dy)
            if (isBlack(page, QPoint(int(at.x()) + dx, int(at.y()) + dy)))
                return true;
    return false;
}

TEST(PrintedPage, PictureFillsTheMiddleTwoThirdsFramedWithTheCaptionBelow) {
    const QString caption = QStringLiteral("KLT, saved to /data/HARDCOPY-03.12.05-14.03.09.WMF");
    const struct {
        QSize page;
        QSize picture;
        QString caption;
    } cases[] = {
        {{1100, 850}, {640, 480}, caption},  // landscape paper
        {{850, 1100}, {640, 480}, caption},  // portrait: stretched, proportions are not kept
        {{1100, 850}, {100, 700}, caption},  // a tall picture on landscape paper
        // A caption wider than the page stays centred on the picture.
        {{400, 300}, {64, 48}, QString(200, QLatin1Char('W'))},
    };
    for (const auto& c : cases) {
        QImage page(c.page, QImage::Format_RGB32);
        page.fill(Qt::white);
        QPainter painter(&page);
        const char* step = nullptr;
        const auto geometry =
            paintHardcopyPage(painter, QRectF(QPointF(0, 0), QSizeF(c.page)),
                              bitmap(c.picture, QColor(0, 0, 255)), c.caption, step);
        const QFontMetricsF metrics(painter.font(), &page);
        painter.end();
        ASSERT_TRUE(geometry.ok()) << geometry.error();
        EXPECT_STREQ(step, print_steps::kPicture);

        const QRectF expected(c.page.width() / 6.0, c.page.height() / 6.0, c.page.width() * 2 / 3.0,
                              c.page.height() * 2 / 3.0);
        const QRectF frame = geometry->picture;
        EXPECT_NEAR(frame.left(), expected.left(), 0.01) << c.page.width();
        EXPECT_NEAR(frame.top(), expected.top(), 0.01);
        EXPECT_NEAR(frame.right(), expected.right(), 0.01);
        EXPECT_NEAR(frame.bottom(), expected.bottom(), 0.01);
        // The frame is drawn on the picture's edges, the picture fills it.
        for (QPointF on :
             {QPointF(frame.left(), frame.center().y()), QPointF(frame.right(), frame.center().y()),
              QPointF(frame.center().x(), frame.top()),
              QPointF(frame.center().x(), frame.bottom())})
            EXPECT_TRUE(lineAt(page, on)) << on.x() << "," << on.y();
        EXPECT_EQ(QColor(page.pixel(frame.center().toPoint())), QColor(0, 0, 255));
        EXPECT_EQ(QColor(page.pixel(QPoint(5, 5))), QColor(Qt::white));

        // Caption: centred under the picture, two text heights below the frame.
        const QRectF text = geometry->caption;
        EXPECT_NEAR(text.center().x(), frame.center().x(), 0.01);
        EXPECT_NEAR(text.top(), frame.bottom() + 2 * metrics.height(), 0.01);
        EXPECT_NEAR(text.width(), metrics.horizontalAdvance(c.caption), 0.01);
    }
}

}  // namespace
}  // namespace benchcap::app::test
