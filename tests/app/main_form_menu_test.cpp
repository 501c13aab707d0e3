#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>

#include "main_form_fixture.h"

namespace benchcap::app::test {
namespace {

struct Expected {
    const char* name;
    const char* caption;
    const char* shortcut = "";
    bool checked = false;
    bool visible = true;
    bool enabled = true;
};

// The actions of a menu, in order, as the expected rows.
void expectMenu(const QMenu* menu, const std::vector<Expected>& rows) {
    ASSERT_NE(menu, nullptr);
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), static_cast<qsizetype>(rows.size()))
        << menu->objectName().toStdString();
    for (size_t i = 0; i < rows.size(); ++i) {
        const QAction* a = actions[static_cast<qsizetype>(i)];
        const Expected& e = rows[i];
        SCOPED_TRACE(e.name);
        EXPECT_EQ(a->objectName(), QString::fromLatin1(e.name));
        EXPECT_EQ(a->text(), QString::fromLatin1(e.caption));
        EXPECT_EQ(a->shortcut(), QKeySequence(QString::fromLatin1(e.shortcut)));
        EXPECT_EQ(a->isChecked(), e.checked);
        EXPECT_EQ(a->isVisible(), e.visible);
        // Qt reports hidden actions as disabled; their own state is enabled.
        if (e.visible) {
            EXPECT_EQ(a->isEnabled(), e.enabled);
        }
        EXPECT_EQ(a->isSeparator(), QByteArray(e.caption) == "-");
    }
}

TEST_F(MainFormTest, MenuTreeWithCaptionsNamesShortcutsAndInitialStates) {
    QList<QAction*> bar = form->menuBar()->actions();
    ASSERT_EQ(bar.size(), 4);
    const char* top[][2] = {
        {"Setup", "SetUp"}, {"Start", "GoGet"}, {"Output", "IO"}, {"Help", "Help"}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(bar[i]->text(), QString::fromLatin1(top[i][0]));
        EXPECT_EQ(bar[i]->menu(), form->menu(QString::fromLatin1(top[i][1])));
    }

    expectMenu(form->menu(QStringLiteral("SetUp")),
               {{"StartScan", "Search instruments", "Ctrl+B"},
                {"SubAdr", "Address"},
                {"Trenner3", "-"},
                {"OnTop", "Always on top"},
                {"MinToTray", "Minimize to tray"},
                {"Trenner5", "-"},
                {"HardAct", "On hardcopy event"},
                {"TraceAct", "On trace copy event"},
                {"SetImagePath", "Path for auto-save files"},
                {"Trenner4", "-"},
                {"HCopyFormat", "Hardcopy format"},
                {"IsColor", "Hardcopy color"},
                {"SupressConfigRMX", "Supress Config (old RMX only)", "", false, false},
                {"Trenner1", "-"},
                {"ExitProg", "Exit"}});
    const QList<QAction*> adr = form->menu(QStringLiteral("SubAdr"))->actions();
    ASSERT_EQ(adr.size(), 30);
    for (int i = 1; i <= 30; ++i) {
        EXPECT_EQ(adr[i - 1]->objectName(), QStringLiteral("Adr_%1").arg(i));
        EXPECT_EQ(adr[i - 1]->text(), QStringLiteral("%1").arg(i, 2, 10, QLatin1Char('0')));
        EXPECT_TRUE(adr[i - 1]->isVisible() && adr[i - 1]->isEnabled() && !adr[i - 1]->isChecked());
    }
    expectMenu(form->menu(QStringLiteral("HardAct")), {{"HardAutoSave", "save"},
                                                       {"HardAutoClip", "copy image to clipboard"},
                                                       {"HardAutoExcel", "paste image in word"}});
    expectMenu(form->menu(QStringLiteral("TraceAct")), {{"TraceAutoSave", "save"},
                                                        {"TraceAutoClip", "copy data to clipboard"},
                                                        {"TraceAutoExcel", "paste data in excel"}});
    expectMenu(form->menu(QStringLiteral("HCopyFormat")),
               {{"CopyFormatWMF", "WMF", "", true}, {"CopyFormatBMP", "BMP"}});
    expectMenu(form->menu(QStringLiteral("IsColor")), {{"Color", "color"}, {"BW", "b/w"}});

    expectMenu(form->menu(QStringLiteral("GoGet")),
               {{"MakeHardcopy", "Hardcopy", "Ctrl+C"},
                {"GetTheData", "Read trace data"},
                {"Trenner55", "-"},
                {"TraceRecorder", "Trace recorder", "", false, false}});
    expectMenu(form->menu(QStringLiteral("GetTheData")), {{"TraceData_1", "trace 1", "Ctrl+F1"},
                                                          {"TraceData_2", "trace 2", "Ctrl+F2"},
                                                          {"TraceData_3", "trace 3", "Ctrl+F3"},
                                                          {"TraceData_4", "trace 4", "Ctrl+F4"}});
    expectMenu(form->menu(QStringLiteral("IO")),
               {{"Drucken", "Print hardcopy", "Ctrl+P", false, true, false},
                {"SaveHard", "Save hardcopy", "Ctrl+S", false, true, false},
                {"SaveTrace", "Save trace data", "Ctrl+T", false, true, false}});
    expectMenu(form->menu(QStringLiteral("Help")), {{"About", "About"}});

    // The tray menu is no part of the menu bar.
    expectMenu(form->TrayMenu(), {{"ScreenShot", "Hardcopy"},
                                  {"TrayTrace_1", "Trace 1"},
                                  {"TrayTrace_2", "Trace 2"},
                                  {"TrayTrace_3", "Trace 3"},
                                  {"TrayTrace_4", "Trace 4"},
                                  {"Trenner6", "-"},
                                  {"MaxIt", "Maximize again"}});
    for (QAction* a : bar)
        EXPECT_NE(a->menu(), form->TrayMenu());
}

TEST_F(MainFormTest, WindowPartsAtStart) {
    EXPECT_TRUE(form->BMPMem()->isHidden());
    EXPECT_TRUE(form->Fehler()->isHidden());
    EXPECT_FALSE(form->StartLogo()->isHidden());
    EXPECT_FALSE(scripted.tray.isVisible());  // prepared, not added
    EXPECT_EQ(scripted.tray.contextMenu(), form->TrayMenu());
}

TEST_F(MainFormTest, CheckMarkTogglesInvertOnlyThemselves) {
    for (const char* name : {"MinToTray", "HardAutoSave", "HardAutoClip", "TraceAutoSave",
                             "TraceAutoClip", "TraceAutoExcel", "SupressConfigRMX"}) {
        SCOPED_TRACE(name);
        const bool before = item(name)->isChecked();
        item(name)->trigger();
        EXPECT_NE(item(name)->isChecked(), before);
        item(name)->trigger();
        EXPECT_EQ(item(name)->isChecked(), before);
    }
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
