#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>

#include "main_form_fixture.h"

namespace benchcap::app::test {
namespace {

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
};

TEST_F(MainFormWindowTest, PictureAreaFillsClientAreaAboveStatusLine) {
    resizeTo(800, 600);
    EXPECT_EQ(form->Bild()->width(), client()->width());
    EXPECT_EQ(form->Bild()->height(), client()->height());
    EXPECT_LE(form->Bild()->mapTo(form.get(), QPoint(0, form->Bild()->height())).y(),
              form->Status()->y());
    // The logo stays centred.
    const QRect logo = form->StartLogo()->geometry();
    EXPECT_NEAR(logo.center().x(), form->Bild()->width() / 2, 1);
    EXPECT_NEAR(logo.center().y(), form->Bild()->height() / 2, 1);
}

TEST_F(MainFormWindowTest, PictureAreaKeepsItsHeightWhenNoRoomIsLeft) {
    resizeTo(500, 400);
    const int before = form->Bild()->height();
    ASSERT_GT(before, 0);
    resizeTo(500, 1);  // as low as the window goes
    if (client()->height() <= 0) {
        EXPECT_EQ(form->Bild()->height(), before);
    } else {
        EXPECT_EQ(form->Bild()->height(), client()->height());
    }
    EXPECT_EQ(form->Bild()->width(), client()->width());
}

TEST_F(MainFormWindowTest, DispErrorCentresLabelOverPictureOrHidesIt) {
    form->ErrorText = QStringLiteral("  no answer from instrument  ");
    form->DispError();
    QLabel* label = form->Fehler();
    EXPECT_FALSE(label->isHidden());
    EXPECT_EQ(label->text(), QStringLiteral("no answer from instrument"));
    EXPECT_EQ(label->x(), 0);
    EXPECT_EQ(label->width(), form->Bild()->width());
    EXPECT_NEAR(label->y() + label->height() / 2, form->Bild()->height() / 2, 1);
    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(Qt::white));

    // Resizing shows it again at its new place.
    resizeTo(900, 700);
    EXPECT_EQ(label->width(), form->Bild()->width());
    EXPECT_NEAR(label->y() + label->height() / 2, form->Bild()->height() / 2, 1);

    form->ErrorText = QStringLiteral("   ");
    form->DispError();
    EXPECT_TRUE(label->isHidden());
}

TEST_F(MainFormWindowTest, ResizeRedrawsTraceOnlyWithoutError) {
    int redraws = 0;
    form->setTraceRedraw([&] { ++redraws; });
    resizeTo(700, 500);
    EXPECT_EQ(redraws, 0);  // a hardcopy (the logo) is on display
    form->ShowsHardcopy = false;
    resizeTo(720, 520);
    EXPECT_EQ(redraws, 1);
    form->ErrorText = QStringLiteral("trace not available");
    resizeTo(740, 540);
    EXPECT_EQ(redraws, 1);
    EXPECT_FALSE(form->Fehler()->isHidden());
}

TEST_F(MainFormWindowTest, BitmapHardcopyIsRedrawnStretchedAtTheNewSize) {
    QImage picture(2, 2, QImage::Format_RGB32);
    picture.fill(QColor(0, 0, 255));
    picture.setPixelColor(1, 1, QColor(255, 0, 0));
    form->BMPMem()->setPicture(picture);
    form->Bild()->setTag(QStringLiteral("BMP"));
    resizeTo(600, 400);
    resizeTo(900, 700);
    const QImage& canvas = form->Bild()->canvas();
    const int w = form->Bild()->width();
    const int h = form->Bild()->height();
    ASSERT_GE(canvas.width(), w);
    // The whole area shows the picture: blue at the top left, red at the bottom right.
    EXPECT_EQ(canvas.pixelColor(2, 2), QColor(0, 0, 255));
    EXPECT_EQ(canvas.pixelColor(w - 3, h - 3), QColor(255, 0, 0));
    EXPECT_EQ(canvas.pixelColor(w / 4, h - 3), QColor(0, 0, 255));

    // After a metafile hardcopy step 4 leaves the area alone.
    form->Bild()->setTag(QStringLiteral("WMF"));
    form->Bild()->cls();
    resizeTo(950, 720);
    EXPECT_EQ(form->Bild()->canvas().pixelColor(5, 5), PictureBox::background());
}

TEST_F(MainFormWindowTest, MinimiseWithoutTrayOptionStaysInTaskbar) {
    form->showMinimized();
    QApplication::processEvents();
    EXPECT_TRUE(form->isMinimized());
    EXPECT_FALSE(form->isHidden());
    EXPECT_EQ(scripted.tray.iconCount(), 0);
}

TEST_F(MainFormWindowTest, TrayStateMachine) {
    item("MinToTray")->trigger();
    form->showMinimized();
    QApplication::processEvents();
    EXPECT_TRUE(form->isInTray());
    EXPECT_EQ(scripted.tray.iconCount(), 1);

    // A left click restores the window; the icon stays.
    scripted.tray.activate(TrayActivation::LeftRelease);
    EXPECT_FALSE(form->isHidden());
    EXPECT_FALSE(form->isMinimized());
    EXPECT_EQ(scripted.tray.iconCount(), 1);

    // Minimising again still leaves exactly one icon.
    form->showMinimized();
    QApplication::processEvents();
    EXPECT_TRUE(form->isHidden());
    EXPECT_EQ(scripted.tray.iconCount(), 1);

    // A double click restores as well.
    scripted.tray.activate(TrayActivation::LeftDoubleClick);
    EXPECT_FALSE(form->isHidden());
    form->showMinimized();
    QApplication::processEvents();

    // A right click opens the tray menu and leaves the window in the tray.
    scripted.tray.activate(TrayActivation::RightRelease);
    EXPECT_EQ(scripted.tray.contextMenuOpenings(), 1);
    EXPECT_TRUE(form->isInTray());
    scripted.tray.activate(TrayActivation::Other);
    EXPECT_TRUE(form->isInTray());

    // "Maximize again" restores and removes the icon.
    item("MaxIt")->trigger();
    EXPECT_FALSE(form->isHidden());
    EXPECT_FALSE(form->isMinimized());
    EXPECT_EQ(scripted.tray.iconCount(), 0);
    item("MaxIt")->trigger();  // removing an absent icon is harmless
    EXPECT_EQ(scripted.tray.iconCount(), 0);
}

TEST_F(MainFormWindowTest, WithoutNotificationAreaMinimisedWindowStaysReachable) {
    scripted.tray.setAvailable(false);
    item("MinToTray")->trigger();
    form->showMinimized();
    QApplication::processEvents();
    EXPECT_FALSE(form->isHidden());
    EXPECT_EQ(scripted.tray.iconCount(), 0);
}

TEST_F(MainFormWindowTest, TrayCommandsShowTrayInfoWhileTheyRun) {
    bool shownDuring = false;
    form->runFromTray([&] { shownDuring = form->TrayInfo()->isVisible(); });
    EXPECT_TRUE(shownDuring);
    EXPECT_FALSE(form->TrayInfo()->isVisible());
    // The tray items run to their end (their commands come later) and hide the notice.
    form->TrayTrace(2)->trigger();
    item("ScreenShot")->trigger();
    EXPECT_FALSE(form->TrayInfo()->isVisible());
}

TEST_F(MainFormWindowTest, AlwaysOnTopKeepsPositionAndSize) {
    const QRect before = form->geometry();
    item("OnTop")->trigger();
    QApplication::processEvents();
    EXPECT_TRUE(form->isTopmost());
    EXPECT_EQ(form->geometry(), before);
    EXPECT_TRUE(form->isVisible());
    item("OnTop")->trigger();
    QApplication::processEvents();
    EXPECT_FALSE(form->isTopmost());
    EXPECT_EQ(form->geometry(), before);
}

TEST_F(MainFormWindowTest, ExitClosesAndRemovesTrayIcon) {
    item("MinToTray")->trigger();
    form->showMinimized();
    QApplication::processEvents();
    ASSERT_EQ(scripted.tray.iconCount(), 1);
    item("ExitProg")->trigger();
    EXPECT_EQ(scripted.tray.iconCount(), 0);
    EXPECT_FALSE(form->isVisible());
}

}  // namespace
}  // namespace benchcap::app::test
