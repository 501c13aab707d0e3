// The window's pastes over a scripted office: the "Excel" and "Word" indicators follow
// the last attempt, the status line says what went wrong, and no office says nothing.
#include <QApplication>

#include <memory>

#include "main_form_fixture.h"
#include "office/office_paste.h"
#include "support/bench_texts.h"
#include "support/scripted_office.h"

namespace benchcap::app::test {
namespace {

using office::testing::AttachState;
using office::testing::ScriptedOffice;

constexpr const char* kBench = ::benchcap::test::kTraceBench;

class OfficeWindowTest : public BusWindowTest {
  protected:
    void SetUp() override {
        setUpWindow(kBench, "office-window");
        paste = std::make_unique<office::OfficePaste>(spreadsheet, scripted.boxes);
        wireCommands(*paste);
        showWindow();
    }
    void TearDown() override { form.reset(); }

    ScriptedOffice spreadsheet;
    std::unique_ptr<office::OfficePaste> paste;
};

// What reaches the cells is OfficePaste's (office_paste_test); here the window's side.
TEST_F(OfficeWindowTest, TracePasteLightsTheIndicatorOrSaysWhy) {
    using enum AttachState;
    struct Case {
        const char* name;
        AttachState running;
        std::optional<std::size_t> refuseAfter;
        bool occupied;  // a 0 in the block, the question answered No
        bool indicator;
        const char* status;  // the status line's text at the end contains this
    } cases[] = {
        {"pasted", Attached, {}, false, true, "idle"},
        {"no office: dark, nothing said", NotRunning, {}, false, false, "idle"},
        {"hung office: dark, said", NoAnswer, {}, false, false, "did not answer"},
        {"half-way: lit, said", Attached, 1, false, true, "pasted only in part"},
        {"declined: lit, nothing said", Attached, {}, true, true, "idle"},
    };
    item("TraceAutoExcel")->setChecked(true);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        scripted.boxes.clearBoxes();
        spreadsheet.cells.clear();
        if (c.occupied) {
            spreadsheet.set({100, 4}, 0.0);
            scripted.boxes.queueMessageResult(bus::MessageResult::No);
        }
        spreadsheet.active = {5, 3};
        spreadsheet.running = c.running;
        spreadsheet.columnsBeforeRefusal = c.refuseAfter;
        form->view().setOfficeIndicator(WindowView::OfficeProgram::Sheet, !c.indicator);
        form->selectAddress(7);
        form->item(QStringLiteral("TraceData_1"))->trigger();
        EXPECT_EQ(statusPanel(3)->isEnabled(), c.indicator);
        EXPECT_TRUE(statusPanel(1)->text().contains(QString::fromLatin1(c.status)))
            << statusPanel(1)->text().toStdString();
        EXPECT_EQ(scripted.boxes.texts(), c.occupied
                                              ? std::vector<std::string>{office::kOccupiedQuestion}
                                              : std::vector<std::string>{});
        EXPECT_FALSE(form->item<QLabel>(QStringLiteral("Fehler"))->isVisible());
    }
}

TEST_F(OfficeWindowTest, HardcopyGoesIntoTheTextDocumentAsPng) {
    item("HardAutoClip")->setChecked(true);
    item("HardAutoExcel")->setChecked(true);
    for (AttachState running : {AttachState::NotRunning, AttachState::Attached}) {
        spreadsheet.running = running;
        form->selectAddress(16);
        item("CopyFormatBMP")->trigger();
        item("MakeHardcopy")->trigger();
        EXPECT_EQ(statusPanel(4)->isEnabled(), running == AttachState::Attached);
    }
    ASSERT_EQ(spreadsheet.pictures.size(), 1u);
    QImage pasted;
    ASSERT_TRUE(pasted.loadFromData(reinterpret_cast<const uchar*>(spreadsheet.pictures[0].data()),
                                    static_cast<int>(spreadsheet.pictures[0].size()), "PNG"));
    EXPECT_EQ(pasted.size(), bitmap().picture().size());
}

}  // namespace
}  // namespace benchcap::app::test
