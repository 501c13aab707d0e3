#include <QLabel>
#include <QMenu>
#include <QStatusBar>

#include <QApplication>
#include <QPushButton>
#include <QUrlQuery>
#include <functional>
#include "app/ui/system_report.h"
#include "app/window/about_form.h"
#include "app/window/scan_panel.h"
#include "main_form_fixture.h"

namespace benchcap::app::test {
namespace {

// Which items each menu holds is buildMenus' own business; other tests find them by name.
TEST_F(MainFormTest, OutputItemsTrayMenuAndWindowPartsAtStart) {
    // Nothing to print or save before the first hardcopy or trace.
    for (const char* name : {"Drucken", "SaveHard", "SaveTrace"})
        EXPECT_FALSE(item(name)->isEnabled()) << name;
    EXPECT_FALSE(scripted.tray.isVisible());  // prepared, not added
    EXPECT_EQ(scripted.tray.contextMenu(), form->item<QMenu>(QStringLiteral("TrayMenu")));
    // Window parts at start.
    EXPECT_TRUE(bitmap().isHidden());
    EXPECT_TRUE(form->item<QLabel>(QStringLiteral("Fehler"))->isHidden());
    EXPECT_FALSE(form->item<QLabel>(QStringLiteral("StartLogo"))->isHidden());
}

TEST_F(MainFormTest, PasteImageInWordChecksCopyToClipboard) {
    // Checking "paste image in word" checks "copy image to clipboard" too; unchecking it
    // leaves the clipboard option as it was, checked or not.
    const struct {
        const char* trigger;
        bool clip, word;
    } steps[] = {{"HardAutoExcel", true, true},  {"HardAutoExcel", true, false},
                 {"HardAutoClip", false, false}, {"HardAutoExcel", true, true},
                 {"HardAutoClip", false, true},  {"HardAutoExcel", false, false}};
    for (const auto& s : steps) {
        item(s.trigger)->trigger();
        EXPECT_EQ(item("HardAutoClip")->isChecked(), s.clip) << &s - steps;
        EXPECT_EQ(item("HardAutoExcel")->isChecked(), s.word) << &s - steps;
        EXPECT_EQ(form->view().options().hardcopyAutoClip, s.clip) << &s - steps;
        EXPECT_EQ(form->view().options().hardcopyAutoDocument, s.word) << &s - steps;
    }
}

TEST_F(MainFormTest, RadioPairsAndAddressItemsAreExclusive) {
    for (auto [a, b] : {std::pair{"CopyFormatBMP", "CopyFormatWMF"}, std::pair{"BW", "Color"},
                        std::pair{"CopyFormatWMF", "CopyFormatBMP"}, std::pair{"Color", "BW"}}) {
        item(a)->trigger();
        item(a)->trigger();  // choosing the checked one keeps it checked
        EXPECT_TRUE(item(a)->isChecked()) << a;
        EXPECT_FALSE(item(b)->isChecked()) << a;
        // The commands see the pairs through the options.
        const WindowOptions o = form->view().options();
        EXPECT_EQ(o.color, item("Color")->isChecked()) << a;
        EXPECT_EQ(o.hardcopyFormat == WindowOptions::HardcopyFormat::Wmf,
                  item("CopyFormatWMF")->isChecked())
            << a;
    }
    form->selectAddress(20);
    form->item(QStringLiteral("Adr_7"))->trigger();
    form->item(QStringLiteral("Adr_7"))->trigger();
    EXPECT_EQ(form->selectedAddress(), 7);
    int checked = 0;
    for (int i = 1; i <= 30; ++i)
        checked += form->item(QStringLiteral("Adr_%1").arg(i))->isChecked();
    EXPECT_EQ(checked, 1);
}

TEST_F(MainFormTest, OpeningSetupStartOrOutputHidesLogoAndScanner) {
    auto* panel = new QWidget;
    form->setScanPanel(panel);
    panel->show();
    emit form->item<QMenu>(QStringLiteral("Help"))->aboutToShow();
    EXPECT_FALSE(form->item<QLabel>(QStringLiteral("StartLogo"))->isHidden());
    EXPECT_FALSE(panel->isHidden());
    for (const char* m : {"SetUp", "GoGet", "IO"}) {
        form->item<QLabel>(QStringLiteral("StartLogo"))->show();
        panel->show();
        emit form->item<QMenu>(QString::fromLatin1(m))->aboutToShow();
        EXPECT_TRUE(form->item<QLabel>(QStringLiteral("StartLogo"))->isHidden()) << m;
        EXPECT_TRUE(panel->isHidden()) << m;
    }
}

TEST_F(MainFormTest, StatusTextTrimsBlanksAndYields) {
    form->view().showStatus(QStringLiteral("  taking hardcopy...  "));
    EXPECT_EQ(statusPanel(1)->text(), QStringLiteral("taking hardcopy..."));
    EXPECT_EQ(yields, 1);
    // Events handled inside showStatus may start other commands: a nested status text works.
    links.yield = [this] {
        if (++yields == 2)
            form->view().showStatus(QStringLiteral("nested"));
    };
    relink();
    form->view().showStatus(QStringLiteral("outer"));
    EXPECT_EQ(statusPanel(1)->text(), QStringLiteral("nested"));
}

TEST_F(MainFormTest, SetImagePathTakesChosenFolderAndKeepsOldOnCancel) {
    scripted.folders.queueAnswer(QStringLiteral("/lab/pictures"));
    item("chooseDataPath")->trigger();
    EXPECT_EQ(files.DataPath, QStringLiteral("/lab/pictures"));
    ASSERT_EQ(scripted.folders.calls().size(), 1u);
    EXPECT_EQ(scripted.folders.calls()[0].currentFolder, QStringLiteral("/data"));
    item("chooseDataPath")->trigger();  // cancelled
    EXPECT_EQ(files.DataPath, QStringLiteral("/lab/pictures"));
}

TEST(SystemReport, FileVersionsAndTheReportLayout) {
    const QString path = QStringLiteral("/usr/lib/libgpib.so.0");
    const struct {
        bool exists;
        std::optional<FixedFileVersion> version;
        const char* text;
    } cases[] = {
        {false, std::nullopt, "File /usr/lib/libgpib.so.0 not found!"},
        {true, std::nullopt, "/usr/lib/libgpib.so.0 is not a 32-bit executable!"},
        {true, FixedFileVersion{0x00020001, 0x000000CF, 2}, "Version: 2.1.0.207 (type: DLL)"},
        {true, FixedFileVersion{0xFFFF0000, 0x0001FFFF, 1},
         "Version: 65535.0.1.65535 (type: Application)"},
        {true, FixedFileVersion{0, 0, 3}, "Version: 0.0.0.0 (type: Device Driver)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fileVersionText(path, c.exists, c.version), QString::fromLatin1(c.text));

    // The Qt library in use is a versioned shared object.
    const QString qt = qtLibraryPath();
    ASSERT_FALSE(qt.isEmpty());
    const QString expected = QStringLiteral("Version: %1.%2.%3.0 (type: DLL)")
                                 .arg(QT_VERSION_MAJOR)
                                 .arg(QT_VERSION_MINOR)
                                 .arg(QT_VERSION_PATCH);
    EXPECT_EQ(fileVersionText(qt), expected);

    EXPECT_EQ(osDescription(QStringLiteral("Debian"), QStringLiteral("Linux 6.1"), 1),
              QStringLiteral("Debian, Linux 6.1, build 1"));
    EXPECT_EQ(
        osDescription(QString(), QStringLiteral("SP1") + QChar(0) + QStringLiteral("junk"), 7),
        QStringLiteral(", SP1, build 7"));

    const std::vector<ReportRow> rows = systemReportRows();
    ASSERT_EQ(rows.size(), 6u);
    const char* labels[] = {"Operating system",    "IEEE driver version", "Qt runtime version",
                            "NI analysis version", "NI UI version",       "NI 3D version"};
    for (size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows[i].label, QString::fromLatin1(labels[i]));
    EXPECT_TRUE(rows[3].value.endsWith(QStringLiteral("/cwanalysis.ocx not found!")));
    EXPECT_EQ(systemReportText({{"A", "1"}, {"B", "2"}}), QStringLiteral("A\t\t1\r\nB\t\t2\r\n"));
}

TEST_F(MainFormTest, AboutBoxBuiltOnceShowsVersionLinksAndSystemInformation) {
    std::vector<QUrl> opened;
    links.openLink = [&](const QUrl& url) { opened.push_back(url); };
    relink();
    EXPECT_EQ(form->aboutForm(), nullptr);
    item("About")->trigger();
    AboutForm* about = form->aboutForm();
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->isVisible());
    EXPECT_FALSE(about->isModal());
    const VersionInfo& v = form->version();
    EXPECT_EQ(about->windowTitle(), QStringLiteral("Information about Benchcap"));
    auto label = [&](const char* name) {
        return about->findChild<QLabel*>(QLatin1String(name))->text();
    };
    for (const auto& [name, text] :
         {std::pair{"Product", "Benchcap"},
          {"Description", "Getting screenshots and trace data via IEEE bus"},
          {"CompanyCaption", "Company homepage:"},
          {"ProductCaption", "Product  homepage:"},
          {"SupportCaption", "Support mail:"}})
        EXPECT_EQ(label(name), QLatin1String(text));
    EXPECT_EQ(label("Version"), QStringLiteral("Version 2.3 from ") + v.dateText());
    EXPECT_TRUE(
        label("ProductLink").contains(QStringLiteral("click here to open product homepage")));

    QLabel* support = about->findChild<QLabel*>(QStringLiteral("SupportLink"));
    emit support->linkActivated(QStringLiteral("Support"));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].scheme(), QStringLiteral("mailto"));
    EXPECT_EQ(QUrlQuery(opened[0]).queryItemValue(QStringLiteral("subject"), QUrl::FullyDecoded),
              QStringLiteral("Question to Benchcap, version 2.3 from ") + v.dateText());

    about->findChild<QPushButton*>(QStringLiteral("SystemInfo"))->click();
    ASSERT_EQ(scripted.boxes.boxes().size(), 1u);
    const auto& box = scripted.boxes.boxes()[0];
    EXPECT_EQ(box.title, "SYSTEM INFORMATIONS");
    EXPECT_EQ(box.icon, bus::MessageIcon::Information);
    EXPECT_EQ(box.text, about->systemReport().toStdString());
    EXPECT_EQ(std::count(box.text.begin(), box.text.end(), '\n'), 6);

    // OK only hides; the next opening shows the same box.
    about->findChild<QPushButton*>(QStringLiteral("OK"))->click();
    EXPECT_FALSE(about->isVisible());
    item("About")->trigger();
    EXPECT_EQ(form->aboutForm(), about);
    EXPECT_TRUE(about->isVisible());
}

class MainFormWindowTest : public MainFormTest {
  protected:
    void SetUp() override {
        MainFormTest::SetUp();
        form->resize(640, 480);
        form->show();
        QApplication::processEvents();
    }
    void resizeTo(int w, int h) {
        form->resize(w, h);
        QApplication::processEvents();
    }
    QWidget* client() const { return form->centralWidget(); }
    void minimise() {
        form->showMinimized();
        QApplication::processEvents();
    }
};

TEST_F(MainFormWindowTest, ErrorLabelIsCentredOverPictureOrHidden) {
    QLabel* label = form->item<QLabel>(QStringLiteral("Fehler"));
    form->view().showError(QStringLiteral("  no answer from instrument  "));
    EXPECT_EQ(label->text(), QStringLiteral("no answer from instrument"));
    // Resizing shows it again at its new place.
    for (QSize size : {QSize(640, 480), QSize(900, 700)}) {
        resizeTo(size.width(), size.height());
        EXPECT_FALSE(label->isHidden());
        EXPECT_EQ(label->x(), 0);
        EXPECT_EQ(label->width(), area().width());
        EXPECT_NEAR(label->y() + label->height() / 2, area().height() / 2, 1);
    }
    form->view().showError(QStringLiteral("   "));
    EXPECT_TRUE(label->isHidden());
}

TEST_F(MainFormWindowTest, BitmapHardcopyIsRedrawnStretchedAtTheNewSize) {
    QImage picture(2, 2, QImage::Format_RGB32);
    picture.fill(QColor(0, 0, 255));
    picture.setPixelColor(1, 1, QColor(255, 0, 0));
    bitmap().setPicture(picture);
    area().setTag(QStringLiteral("BMP"));
    resizeTo(600, 400);
    resizeTo(900, 700);
    const QImage& canvas = area().canvas();
    const int w = area().width();
    const int h = area().height();
    // The whole area shows the picture: blue at the top left, red at the bottom right.
    EXPECT_EQ(canvas.pixelColor(2, 2), QColor(0, 0, 255));
    EXPECT_EQ(canvas.pixelColor(w - 3, h - 3), QColor(255, 0, 0));

    // After a metafile hardcopy step 4 leaves the area alone.
    area().setTag(QStringLiteral("WMF"));
    area().cls();
    resizeTo(950, 720);
    EXPECT_EQ(area().canvas().pixelColor(5, 5), PictureBox::background());
}

TEST_F(MainFormWindowTest, MinimisedWindowStaysReachableWithoutTrayOptionOrArea) {
    // Without the option, or with it but no notification area: minimised, not hidden.
    for (bool option : {false, true}) {
        scripted.tray.setAvailable(!option);
        if (option)
            item("MinToTray")->trigger();
        form->showNormal();
        minimise();
        EXPECT_FALSE(form->isHidden()) << option;
        EXPECT_EQ(scripted.tray.iconCount(), 0) << option;
    }
}

TEST_F(MainFormWindowTest, TrayStateMachine) {
    item("MinToTray")->trigger();
    auto click = [this](TrayActivation a) { return [this, a] { scripted.tray.activate(a); }; };
    const struct {
        const char* step;
        std::function<void()> act;
        bool hidden;
        int icons;
    } steps[] = {
        {"minimise", [this] { minimise(); }, true, 1},
        {"left click restores, icon stays", click(TrayActivation::LeftRelease), false, 1},
        {"minimise again: still one icon", [this] { minimise(); }, true, 1},
        {"double click restores", click(TrayActivation::LeftDoubleClick), false, 1},
        {"minimise", [this] { minimise(); }, true, 1},
        {"right click opens the tray menu", click(TrayActivation::RightRelease), true, 1},
        {"other activations do nothing", click(TrayActivation::Other), true, 1},
        {"Maximize again removes the icon", [this] { item("MaxIt")->trigger(); }, false, 0},
        {"removing an absent icon is harmless", [this] { item("MaxIt")->trigger(); }, false, 0},
    };
    for (const auto& s : steps) {
        s.act();
        EXPECT_EQ(form->isHidden(), s.hidden) << s.step;
        EXPECT_EQ(form->isInTray(), s.hidden) << s.step;
        EXPECT_FALSE(!s.hidden && form->isMinimized()) << s.step;
        EXPECT_EQ(scripted.tray.iconCount(), s.icons) << s.step;
    }
    EXPECT_EQ(scripted.tray.contextMenuOpenings(), 1);
    // Exit from the tray closes the window and takes the icon away.
    minimise();
    item("ExitProg")->trigger();
    EXPECT_EQ(scripted.tray.iconCount(), 0);
    EXPECT_FALSE(form->isVisible());
}

const char* kFiveInstruments = R"(
instruments:
  - {address: 5, kind: vector-analyzer, idn: "Veltronik,KLVZ26,100234/003,1.60"}
  - {address: 7, kind: other-maker, idn: "Acme,AI-2000,1,1.0"}
  - {address: 9, kind: spectrum-analyzer, idn: "Veltronik,KLT-3,100871/012,1.70"}
  - {address: 12, kind: spectrum-analyzer, idn: "Veltronik,KLR20,3,3.10"}
  - {address: 14, kind: signal-generator, idn: "Veltronik,GJX12,1,1.0"}
)";

// The shown window on a simulated bench and its scanner.
class ScanTest : public BusWindowTest {
  protected:
    void build(const char* yaml = kFiveInstruments) {
        setUpWindow(yaml, "scan");
        showWindow();
    }
    ScanIECPanel* panel() const { return qobject_cast<ScanIECPanel*>(form->scanPanel()); }
    // The address menu's visible items, a disabled one marked.
    std::string addressMenu() const {
        QStringList shown;
        for (int a = 1; a <= 30; ++a)
            if (QAction* i = form->item(QStringLiteral("Adr_%1").arg(a)); i->isVisible())
                shown << i->text() + (i->isEnabled() ? "" : " (disabled)");
        return shown.join(" | ").toStdString();
    }
    void TearDown() override {
        form.reset();  // the window goes before the scanner it shows
    }
};

TEST_F(ScanTest, NoBoardShowsTheDriverProblemInTheStatusLine) {
    // The driver's reason when it could not be loaded, else why there is no board.
    for (const char* problem : {"GPIB driver library not found: libgpib.so.0", ""}) {
        build("boards: []\n");
        links.driverProblem = QString::fromLatin1(problem);
        relink();
        item("StartScan")->trigger();
        EXPECT_EQ(panel()->AddressLine()->text(), QStringLiteral("no GPIB card found!"));
        EXPECT_EQ(statusPanel(1)->text(),
                  *problem ? QString::fromLatin1(problem)
                           : QStringLiteral("no GPIB board 0: ibfind failed with ENEB: no board "
                                            "is installed under that index; see "
                                            "docs/driver-library.md"));
    }
}

TEST_F(ScanTest, SearchInstrumentsFillsAddressMenu) {
    build();
    EXPECT_TRUE(panel()->isHidden());  // until a scan starts
    int yields = 0;
    QString first, afterClick;
    bool noticeChecked = false;
    links.yield = [&] {
        if (++yields == 1)
            first = statusPanel(1)->text() + "|" + form->errorText();
        if (yields == 10) {  // well inside the scan: a second scan is refused
            item("StartScan")->trigger();
            afterClick = statusPanel(1)->text() + "|" + form->errorText();
        }
        // The scanning notice stays visible beside the panel.
        QLabel* notice = form->item<QLabel>(QStringLiteral("Fehler"));
        if (noticeChecked || !form->scanPanel()->isVisible() || notice->isHidden())
            return;
        noticeChecked = true;
        const QRect at(notice->mapTo(form->centralWidget(), QPoint(0, 0)), notice->size());
        EXPECT_FALSE(at.intersects(form->scanPanel()->geometry()));
        EXPECT_EQ(notice->text(), QStringLiteral("scanning bus..."));
    };
    relink();
    item("StartScan")->trigger();
    EXPECT_GT(yields, 30);
    EXPECT_TRUE(noticeChecked);
    EXPECT_EQ(first, QStringLiteral("scanning...|scanning bus..."));
    // The refused click left the running scan's notice and status alone.
    EXPECT_EQ(afterClick, QStringLiteral("scanning...|scanning bus..."));
    EXPECT_EQ(bench->count(sim::Traffic::Open), 60);  // one scan: two passes of 30 addresses
    EXPECT_EQ(statusPanel(1)->text(), QStringLiteral("bus scanned"));
    EXPECT_TRUE(form->errorText().isEmpty());
    EXPECT_TRUE(form->item<QLabel>(QStringLiteral("Fehler"))->isHidden());

    // The panel stays visible.
    ScanIECPanel* p = panel();
    EXPECT_FALSE(p->isHidden());
    EXPECT_EQ(p->ledColour(5), QColor(0, 255, 0));
    EXPECT_EQ(p->ledColour(7), QColor(0, 0, 0));
    EXPECT_EQ(p->LED(5)->toolTip(), QStringLiteral("Addr 5: KLVZ26, firmware 1.60"));

    EXPECT_EQ(addressMenu(),
              "05: KLVZ (1.60) | 07: ----- | 09: KLT (1.70) | 12: KLR (3.10) | 14: GJX (1.0)");
    // A scan leaves the check marks alone.
    form->selectAddress(20);
    item("StartScan")->trigger();
    EXPECT_EQ(form->selectedAddress(), 20);
}

TEST_F(ScanTest, NoInstrumentsFound) {
    build(R"(instruments: [{address: 6, kind: signal-generator, idn: "Veltronik,GWK22,1,1.0"}])");
    item("StartScan")->trigger();
    EXPECT_EQ(addressMenu(), "no instruments found (disabled)");
}

TEST_F(ScanTest, IndicatorClicksSelect) {
    build();
    item("StartScan")->trigger();
    QAction* getTheData = item("GetTheData");

    // "GJX" counts as found yet is refused with a box; nothing changes.
    form->selectAddress(20);
    panel()->clickLed(14);
    ASSERT_EQ(scripted.boxes.boxes().size(), 1u);
    EXPECT_EQ(scripted.boxes.boxes()[0].title + ": " + scripted.boxes.boxes()[0].text,
              "ERROR: This device does not support hardcopy or trace readout functions.");
    EXPECT_EQ(form->selectedAddress(), 20);
    EXPECT_FALSE(panel()->isHidden());

    // KLT: trace menu on, "trace 4" off; KLR afterwards turns "trace 4" on again.
    panel()->clickLed(9);
    EXPECT_EQ(form->selectedAddress(), 9);
    EXPECT_TRUE(panel()->isHidden());
    EXPECT_TRUE(getTheData->isEnabled());
    EXPECT_FALSE(form->item(QStringLiteral("TraceData_4"))->isEnabled());
    form->item(QStringLiteral("Adr_12"))->trigger();
    EXPECT_TRUE(form->item(QStringLiteral("TraceData_4"))->isEnabled());

    // An empty address is accepted; the trace menus keep their state.
    form->item(QStringLiteral("TraceData_4"))->setEnabled(false);
    panel()->show();
    panel()->clickLed(3);
    EXPECT_EQ(form->selectedAddress(), 3);
    EXPECT_TRUE(panel()->isHidden());
    EXPECT_TRUE(getTheData->isEnabled());
    EXPECT_FALSE(form->item(QStringLiteral("TraceData_4"))->isEnabled());

    // Another maker is accepted too; a refused generator code turns the trace menu off
    // when chosen from the address menu.
    panel()->clickLed(7);
    EXPECT_EQ(form->selectedAddress(), 7);
    form->item(QStringLiteral("Adr_14"))->trigger();
    EXPECT_FALSE(getTheData->isEnabled());
    EXPECT_EQ(scripted.boxes.boxes().size(), 1u);  // no box from the menu
}

}  // namespace
}  // namespace benchcap::app::test
