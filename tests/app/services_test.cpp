#include <QMenu>
#include <QPrinter>

#include <gtest/gtest.h>

#include "app/testing/scripted_services.h"
#include "bus/testing/scripted_user_interface.h"

namespace benchcap::app {
namespace {

using bus::MessageButtons;
using bus::MessageIcon;
using bus::MessageResult;

TEST(UiServices, FolderBrowserTextAndFilters) {
    EXPECT_EQ(folderBrowserText(QStringLiteral("Path to store hardcopies and trace data"),
                                QStringLiteral("C:\\Data")),
              QStringLiteral("Path to store hardcopies and trace data\r\nCurrent Path: C:\\Data"));
    EXPECT_EQ(qtNameFilter(QStringLiteral("WMF file|*.WMF|all files|*.*")),
              QStringLiteral("WMF file (*.WMF);;all files (*.*)"));
    EXPECT_EQ(qtNameFilter(QStringLiteral("text|*.TXT;*.CSV")),
              QStringLiteral("text (*.TXT *.CSV)"));
    // A dangling description without pattern is dropped rather than producing a bad filter.
    EXPECT_EQ(qtNameFilter(QStringLiteral("BMP file|*.BMP|odd")),
              QStringLiteral("BMP file (*.BMP)"));
}

TEST(ScriptedUserInterface, AnswersFromQueueAndRecordsEveryBox) {
    bus::testing::ScriptedUserInterface ui;
    ui.queueMessageResult(MessageResult::No);
    ui.queueInput(std::string("scope1"));
    EXPECT_EQ(
        ui.messageBox(MessageIcon::Question, "Plotter", "Use plotter?", MessageButtons::YesNo),
        MessageResult::No);
    EXPECT_EQ(ui.inputBox("Name", "File name:", "x"), std::optional<std::string>("scope1"));
    // Nothing queued: the first button, and a cancelled input box.
    EXPECT_EQ(ui.messageBox(MessageIcon::Critical, "ERROR", "stop", MessageButtons::Ok),
              MessageResult::Ok);
    EXPECT_EQ(ui.messageBox(MessageIcon::None, "", "?", MessageButtons::YesNoCancel),
              MessageResult::Yes);
    EXPECT_EQ(ui.inputBox("t", "p", "preset"), std::nullopt);

    ASSERT_EQ(ui.boxes().size(), 5u);
    EXPECT_EQ(ui.boxes()[0].icon, MessageIcon::Question);
    EXPECT_EQ(ui.boxes()[0].title, "Plotter");
    EXPECT_EQ(ui.boxes()[0].text, "Use plotter?");
    EXPECT_EQ(ui.boxes()[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(ui.boxes()[1].kind, bus::testing::RecordedBox::Kind::Input);
    EXPECT_EQ(ui.boxes()[1].preset, "x");
    EXPECT_EQ(ui.boxes()[2].title, "ERROR");
    EXPECT_FALSE(ui.answersLeft());
}

TEST(ScriptedServices, DialogsClipboardAndPrinter) {
    testing::ScriptedServices s;
    s.folders.queueAnswer(QStringLiteral("/lab"));
    EXPECT_EQ(s.folders.browseForFolder(nullptr, QStringLiteral("/old"), QStringLiteral("T")),
              QStringLiteral("/lab"));
    EXPECT_EQ(s.folders.browseForFolder(nullptr, QStringLiteral("/old"), QStringLiteral("T")),
              QString());
    EXPECT_EQ(s.folders.calls().at(0).text, QStringLiteral("T\r\nCurrent Path: /old"));

    s.saveDialog.setFilter(QStringLiteral("BMP file|*.BMP|all files|*.*"));
    EXPECT_EQ(s.saveDialog.showSave(nullptr), QString());
    ASSERT_EQ(s.saveDialog.shownWithFilters().size(), 1u);
    EXPECT_EQ(s.saveDialog.shownWithFilters()[0], QStringLiteral("BMP file|*.BMP|all files|*.*"));

    QImage img(4, 3, QImage::Format_RGB32);
    img.fill(Qt::red);
    s.clipboard.setImage(img);
    EXPECT_EQ(s.clipboard.image(), img);
    s.clipboard.setText(QStringLiteral("1\t2"));
    EXPECT_TRUE(s.clipboard.image().isNull());
    EXPECT_EQ(s.clipboard.text(), QStringLiteral("1\t2"));

    QPrinter printer;
    PrintOptions opts;
    EXPECT_FALSE(s.printDialog.exec(nullptr, printer, opts));
    PrintOptions choice;
    choice.copies = 3;
    choice.orientation = QPageLayout::Portrait;
    s.printDialog.queueAnswer(choice);
    EXPECT_TRUE(s.printDialog.exec(nullptr, printer, opts));
    EXPECT_EQ(opts.copies, 3);
    EXPECT_EQ(printer.copyCount(), 3);
    EXPECT_EQ(s.printDialog.presets().at(0).orientation, QPageLayout::Landscape);
}

TEST(ScriptedServices, TrayIconKeepsOneIconAndReportsOnlyWhileShown) {
    testing::ScriptedTrayIcon tray;
    int events = 0;
    tray.setActivationHandler([&](TrayActivation, QPoint) { ++events; });
    tray.activate(TrayActivation::LeftRelease);  // no icon yet
    EXPECT_EQ(events, 0);
    tray.show();
    tray.show();
    EXPECT_EQ(tray.iconCount(), 1);
    tray.activate(TrayActivation::LeftRelease);
    EXPECT_EQ(events, 1);
    tray.hide();
    tray.hide();
    EXPECT_EQ(tray.iconCount(), 0);
}

}  // namespace
}  // namespace benchcap::app
