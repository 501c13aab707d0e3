#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>

#include "main_form_fixture.h"

namespace benchcap::app::test {
namespace {

// Which items each menu holds is buildMenus' own business; other tests find them by name.
TEST_F(MainFormTest, OutputItemsTrayMenuAndWindowPartsAtStart) {
    // Nothing to print or save before the first hardcopy or trace.
    for (const char* name : {"Drucken", "SaveHard", "SaveTrace"})
        EXPECT_FALSE(item(name)->isEnabled()) << name;
    // The tray menu is no part of the menu bar.
    for (QAction* a : form->menuBar()->actions())
        EXPECT_NE(a->menu(), form->TrayMenu());
    EXPECT_FALSE(scripted.tray.isVisible());  // prepared, not added
    EXPECT_EQ(scripted.tray.contextMenu(), form->TrayMenu());
    // Window parts at start.
    EXPECT_TRUE(form->BMPMem()->isHidden());
    EXPECT_TRUE(form->Fehler()->isHidden());
    EXPECT_FALSE(form->StartLogo()->isHidden());
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
    }
}

TEST_F(MainFormTest, RadioPairsAndAddressItemsAreExclusive) {
    for (auto [a, b] : {std::pair{"CopyFormatBMP", "CopyFormatWMF"}, std::pair{"BW", "Color"},
                        std::pair{"CopyFormatWMF", "CopyFormatBMP"}, std::pair{"Color", "BW"}}) {
        item(a)->trigger();
        item(a)->trigger();  // choosing the checked one keeps it checked
        EXPECT_TRUE(item(a)->isChecked()) << a;
        EXPECT_FALSE(item(b)->isChecked()) << a;
    }
    form->SelectAdr(20);
    form->Adr(7)->trigger();
    form->Adr(7)->trigger();
    EXPECT_EQ(form->selectedAddress(), 7);
    int checked = 0;
    for (int i = 1; i <= 30; ++i)
        checked += form->Adr(i)->isChecked();
    EXPECT_EQ(checked, 1);
}

TEST_F(MainFormTest, OpeningSetupStartOrOutputHidesLogoAndScanner) {
    auto* panel = new QWidget;
    form->setScanPanel(panel);
    panel->show();
    emit form->menu(QStringLiteral("Help"))->aboutToShow();
    EXPECT_FALSE(form->StartLogo()->isHidden());
    EXPECT_FALSE(panel->isHidden());
    for (const char* m : {"SetUp", "GoGet", "IO"}) {
        form->StartLogo()->show();
        panel->show();
        emit form->menu(QString::fromLatin1(m))->aboutToShow();
        EXPECT_TRUE(form->StartLogo()->isHidden()) << m;
        EXPECT_TRUE(panel->isHidden()) << m;
    }
}

TEST_F(MainFormTest, UpStaTrimsBlanksAndYields) {
    form->UpSta(QStringLiteral("  taking hardcopy...  "));
    EXPECT_EQ(form->statusPanel(1)->text(), QStringLiteral("taking hardcopy..."));
    EXPECT_EQ(yields, 1);
    // Events handled inside UpSta may start other commands: a nested UpSta works.
    form->setYieldHook([this] {
        if (++yields == 2)
            form->UpSta(QStringLiteral("nested"));
    });
    form->UpSta(QStringLiteral("outer"));
    EXPECT_EQ(form->statusPanel(1)->text(), QStringLiteral("nested"));
}

TEST_F(MainFormTest, SetImagePathTakesChosenFolderAndKeepsOldOnCancel) {
    scripted.folders.queueAnswer(QStringLiteral("/lab/pictures"));
    item("SetImagePath")->trigger();
    EXPECT_EQ(files.DataPath, QStringLiteral("/lab/pictures"));
    ASSERT_EQ(scripted.folders.calls().size(), 1u);
    EXPECT_EQ(scripted.folders.calls()[0].currentFolder, QStringLiteral("/data"));
    item("SetImagePath")->trigger();  // cancelled
    EXPECT_EQ(files.DataPath, QStringLiteral("/lab/pictures"));
}

}  // namespace
}  // namespace benchcap::app::test
