#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>

#include <functional>

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
    void minimise() {
        form->showMinimized();
        QApplication::processEvents();
    }
};

TEST_F(MainFormWindowTest, PictureAreaFillsClientAreaAndKeepsItsHeightWhenNoRoomIsLeft) {
    resizeTo(800, 600);
    EXPECT_EQ(area().size(), client()->size());
    EXPECT_LE(form->view().pictureParts().area.mapTo(form.get(), QPoint(0, area().height())).y(),
              form->statusBar()->y());
    // The logo stays centred.
    EXPECT_LE((form->item<QLabel>(QStringLiteral("StartLogo"))->geometry().center() -
               area().rect().center())
                  .manhattanLength(),
              2);
    const int before = area().height();
    ASSERT_GT(before, 0);
    resizeTo(800, 1);  // as low as the window goes
    EXPECT_EQ(area().width(), client()->width());
    EXPECT_EQ(area().height(), client()->height() <= 0 ? before : client()->height());
}

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

TEST_F(MainFormWindowTest, ResizeRedrawsTraceOnlyWithoutError) {
    int redraws = 0;
    form->view().claimPictureArea(WindowView::Content::Trace, WindowView::Cover::Keep,
                                  [&] { ++redraws; });
    resizeTo(720, 520);
    EXPECT_EQ(redraws, 1);
    form->view().claimPictureArea(WindowView::Content::Hardcopy);
    resizeTo(700, 500);
    EXPECT_EQ(redraws, 1);  // a hardcopy is on display
    form->view().claimPictureArea(WindowView::Content::Trace, WindowView::Cover::Keep,
                                  [&] { ++redraws; });
    form->view().showError(QStringLiteral("trace not available"));
    resizeTo(740, 540);
    EXPECT_EQ(redraws, 1);
    EXPECT_FALSE(form->item<QLabel>(QStringLiteral("Fehler"))->isHidden());
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

TEST_F(MainFormWindowTest, AlwaysOnTopKeepsPositionAndSize) {
    const QRect before = form->geometry();
    for (bool on : {true, false}) {
        item("OnTop")->trigger();
        QApplication::processEvents();
        EXPECT_EQ(form->windowFlags().testFlag(Qt::WindowStaysOnTopHint), on);
        EXPECT_EQ(form->geometry(), before);
        EXPECT_TRUE(form->isVisible());
    }
}

TEST(MenuStyle, SeparatorsDrawNoCaption) {
    // The same menu with a captioned and a plain separator must look the same.
    auto picture = [](bool caption) {
        QMenu menu;
        menu.setStyle(makeMenuStyle(&menu));
        menu.addAction(QStringLiteral("Search instruments"));
        QAction* s = menu.addSeparator();
        if (caption)
            s->setText(QStringLiteral("-"));
        menu.addAction(QStringLiteral("Exit"));
        menu.adjustSize();
        return menu.grab().toImage();
    };
    EXPECT_EQ(picture(true), picture(false));
}

TEST_F(MainFormWindowTest, StatusPanelsReachTheBottomOfTheWindow) {
    resizeTo(700, 500);
    for (int n = 1; n <= 4; ++n) {
        QLabel* panel = statusPanel(n);
        const int bottom = panel->mapTo(form.get(), QPoint(0, panel->height())).y();
        EXPECT_EQ(bottom, form->height()) << n;
    }
}

}  // namespace
}  // namespace benchcap::app::test
