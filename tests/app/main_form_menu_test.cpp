#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>

#include "main_form_fixture.h"

namespace benchcap::app::test {
namespace {

// The items of a menu in order, blank-separated: object names (what other tests, the style
// sheet and users' scripts find them by) and shortcuts after '=' (what users' hands know).
void expectMenu(const QMenu* menu, const char* items) {
    ASSERT_NE(menu, nullptr);
    const QList<QAction*> actions = menu->actions();
    const QStringList rows = QString::fromLatin1(items).split(u' ');
    ASSERT_EQ(actions.size(), rows.size()) << items;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].toStdString());
        EXPECT_EQ(actions[i]->objectName(), rows[i].section(u'=', 0, 0));
        EXPECT_EQ(actions[i]->shortcut(), QKeySequence(rows[i].section(u'=', 1)));
    }
}

TEST_F(MainFormTest, MenuItemNamesShortcutsAndWindowPartsAtStart) {
    QList<QAction*> bar = form->menuBar()->actions();
    ASSERT_EQ(bar.size(), 4);
    const char* top[] = {"SetUp", "GoGet", "IO", "Help"};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(bar[i]->menu(), form->menu(QString::fromLatin1(top[i])));

    const std::pair<const char*, const char*> menus[] = {
        {"SetUp",
         "StartScan=Ctrl+B SubAdr Trenner3 OnTop MinToTray Trenner5 HardAct TraceAct "
         "chooseDataPath "
         "Trenner4 HCopyFormat IsColor SupressConfigRMX Trenner1 ExitProg"},
        {"HardAct", "HardAutoSave HardAutoClip HardAutoExcel"},
        {"TraceAct", "TraceAutoSave TraceAutoClip TraceAutoExcel"},
        {"HCopyFormat", "CopyFormatWMF CopyFormatBMP"},
        {"IsColor", "Color BW"},
        {"GoGet", "MakeHardcopy=Ctrl+C GetTheData Trenner55 TraceRecorder"},
        {"GetTheData",
         "TraceData_1=Ctrl+F1 TraceData_2=Ctrl+F2 TraceData_3=Ctrl+F3 "
         "TraceData_4=Ctrl+F4"},
        {"IO", "Drucken=Ctrl+P SaveHard=Ctrl+S SaveTrace=Ctrl+T"},
        {"Help", "About"},
    };
    for (const auto& [menu, items] : menus)
        expectMenu(form->menu(QString::fromLatin1(menu)), items);
    const QList<QAction*> adr = form->menu(QStringLiteral("SubAdr"))->actions();
    ASSERT_EQ(adr.size(), 30);
    for (int i = 1; i <= 30; ++i)
        EXPECT_EQ(adr[i - 1]->objectName(), QStringLiteral("Adr_%1").arg(i));
    // Nothing to print or save before the first hardcopy or trace.
    for (const char* name : {"Drucken", "SaveHard", "SaveTrace"})
        EXPECT_FALSE(item(name)->isEnabled()) << name;

    // The tray menu is no part of the menu bar.
    expectMenu(form->trayMenu(),
               "ScreenShot TrayTrace_1 TrayTrace_2 TrayTrace_3 TrayTrace_4 "
               "Trenner6 MaxIt");
    for (QAction* a : bar)
        EXPECT_NE(a->menu(), form->trayMenu());
    EXPECT_FALSE(scripted.tray.isVisible());  // prepared, not added
    EXPECT_EQ(scripted.tray.contextMenu(), form->trayMenu());
    // Window parts at start.
    EXPECT_TRUE(form->bitmapHolder().isHidden());
    EXPECT_TRUE(form->errorLabel()->isHidden());
    EXPECT_FALSE(form->startLogo()->isHidden());
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
        EXPECT_EQ(form->options().hardcopyAutoClip, s.clip) << &s - steps;
        EXPECT_EQ(form->options().hardcopyAutoDocument, s.word) << &s - steps;
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
        const WindowOptions o = form->options();
        EXPECT_EQ(o.color, item("Color")->isChecked()) << a;
        EXPECT_EQ(o.hardcopyFormat == WindowOptions::HardcopyFormat::Wmf,
                  item("CopyFormatWMF")->isChecked())
            << a;
    }
    form->selectAddress(20);
    form->addressItem(7)->trigger();
    form->addressItem(7)->trigger();
    EXPECT_EQ(form->selectedAddress(), 7);
    int checked = 0;
    for (int i = 1; i <= 30; ++i)
        checked += form->addressItem(i)->isChecked();
    EXPECT_EQ(checked, 1);
}

TEST_F(MainFormTest, OpeningSetupStartOrOutputHidesLogoAndScanner) {
    auto* panel = new QWidget;
    form->setScanPanel(panel);
    panel->show();
    emit form->menu(QStringLiteral("Help"))->aboutToShow();
    EXPECT_FALSE(form->startLogo()->isHidden());
    EXPECT_FALSE(panel->isHidden());
    for (const char* m : {"SetUp", "GoGet", "IO"}) {
        form->startLogo()->show();
        panel->show();
        emit form->menu(QString::fromLatin1(m))->aboutToShow();
        EXPECT_TRUE(form->startLogo()->isHidden()) << m;
        EXPECT_TRUE(panel->isHidden()) << m;
    }
}

TEST_F(MainFormTest, StatusTextTrimsBlanksAndYields) {
    form->showStatus(QStringLiteral("  taking hardcopy...  "));
    EXPECT_EQ(form->statusPanel(1)->text(), QStringLiteral("taking hardcopy..."));
    EXPECT_EQ(yields, 1);
    // Events handled inside showStatus may start other commands: a nested UpSta works.
    form->setYieldHook([this] {
        if (++yields == 2)
            form->showStatus(QStringLiteral("nested"));
    });
    form->showStatus(QStringLiteral("outer"));
    EXPECT_EQ(form->statusPanel(1)->text(), QStringLiteral("nested"));
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
