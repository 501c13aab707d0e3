#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>

#include "app/window/scan_panel.h"
#include "app/window/twips.h"
#include "main_form_fixture.h"

namespace benchcap::app::test {
namespace {

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
    // A pointer event at the middle of `target`.
    static void send(QWidget* target, QEvent::Type type, Qt::MouseButton button = Qt::NoButton) {
        const QPointF at(target->width() / 2.0, target->height() / 2.0);
        QMouseEvent event(type, at, target->mapToGlobal(at), button,
                          type == QEvent::MouseButtonPress ? button : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
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

    // The panel stays visible, centred in the client area.
    ScanIECPanel* p = panel();
    EXPECT_FALSE(p->isHidden());
    QWidget* client = form->centralWidget();
    EXPECT_NEAR(p->geometry().center().x(), client->width() / 2, 1);
    EXPECT_NEAR(p->geometry().center().y(), client->height() / 2, 1);
    EXPECT_EQ(p->ledColour(5), QColor(0, 255, 0));
    EXPECT_EQ(p->ledColour(7), QColor(0, 0, 0));
    EXPECT_EQ(p->LED(5)->toolTip(), QStringLiteral("Addr 5: KLVZ26, firmware 1.60"));
    p->resize(50, 50);  // the frame keeps its size
    EXPECT_EQ(p->size(), QSize(twipsToPixelsX(*p, 3735), twipsToPixelsY(*p, 915)));

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

    // Its green indicator is refused with the message box; nothing changes.
    form->selectAddress(20);
    panel()->clickLed(6);
    ASSERT_EQ(scripted.boxes.boxes().size(), 1u);
    const auto& box = scripted.boxes.boxes()[0];
    EXPECT_EQ(box.title, "ERROR");
    EXPECT_EQ(box.text, "This device does not support hardcopy or trace readout functions.");
    EXPECT_EQ(form->selectedAddress(), 20);
    EXPECT_FALSE(panel()->isHidden());
}

TEST_F(ScanTest, IndicatorClicksSelect) {
    build();
    item("StartScan")->trigger();
    QAction* getTheData = item("GetTheData");

    // "GJX" counts as found yet is refused.
    panel()->clickLed(14);
    EXPECT_EQ(scripted.boxes.boxes().size(), 1u);
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

    // Out-of-range addresses uncheck all and leave the menus alone.
    getTheData->setEnabled(true);
    form->selectAddress(0);
    EXPECT_EQ(form->selectedAddress(), 0);
    EXPECT_TRUE(getTheData->isEnabled());
    form->selectAddress(31);
    EXPECT_EQ(form->selectedAddress(), 0);
    EXPECT_TRUE(getTheData->isEnabled());
}

TEST_F(ScanTest, HoverTexts) {
    build();
    item("StartScan")->trigger();
    ScanIECPanel* p = panel();
    const auto lines = [p] { return p->AddressLine()->text() + " | " + p->AnswerLine()->text(); };
    // A pointer movement over indicator 5, as the panel gets it.
    const QPointF at = p->LED(5)->geometry().center();
    QMouseEvent move(QEvent::MouseMove, at, p->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(p, &move);
    EXPECT_EQ(lines(), QStringLiteral("click to select instrument | KLVZ (1.60)"));
    // The indicator itself gets the movement, as from the pointer resting on it.
    send(p->LED(7), QEvent::MouseMove);
    EXPECT_EQ(lines(), QStringLiteral("click to select instrument | -----"));
    // Outside the indicators the answer line keeps the last text.
    p->hoverAt(QPoint(2, 2));
    EXPECT_EQ(lines(), QStringLiteral("move over LED to get more infos | -----"));
    // Over a text line the pointer is over the panel.
    EXPECT_EQ(p->childAt(p->AnswerLine()->geometry().center()), nullptr);
}

TEST_F(ScanTest, MouseClickOnIndicatorRaisesSelectIEC) {
    build();
    std::vector<int> raised;
    QObject::connect(panel(), &ScanIECPanel::SelectIEC, [&](int16_t a) { raised.push_back(a); });
    // Raised on every click, also before any scan and on the same indicator again.
    for (int a : {30, 1, 1}) {
        send(panel()->LED(a), QEvent::MouseButtonPress, Qt::LeftButton);
        send(panel()->LED(a), QEvent::MouseButtonRelease, Qt::LeftButton);
    }
    EXPECT_EQ(raised, (std::vector<int>{30, 1, 1}));
}

}  // namespace
}  // namespace benchcap::app::test
