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
        EXPECT_NE(a->menu(), form->item<QMenu>(QStringLiteral("TrayMenu")));
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

}  // namespace
}  // namespace benchcap::app::test
