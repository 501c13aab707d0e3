#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QPainter>

#include <algorithm>

#include "app/output/print_hardcopy.h"

namespace benchcap::app::test {
namespace {

// A bitmap of `size` in one colour, as the instrument would send it.
picture::Picture bitmap(QSize size, QColor colour) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    auto picture = picture::pictureFromBytes(bytes.toStdString());
    EXPECT_TRUE(picture.ok()) << picture.error();
    return picture.value();
}

bool isBlack(const QImage& page, QPoint at) {
    return QColor(page.pixel(at)).lightness() < 60;
}

// A line drawn at a fractional position lands on one of the pixels around it.
bool lineAt(const QImage& page, QPointF at) {
    for (int dx = -1; dx <= 1; ++dx)
        for (int dy = -1; dy <= 1; ++dy)
            if (isBlack(page, QPoint(int(at.x()) + dx, int(at.y()) + dy)))
                return true;
    return false;
}

TEST(PrintedPage, PictureFillsTheMiddleTwoThirdsFramedWithTheCaptionBelow) {
    const QString caption = QStringLiteral("KLT, saved to /data/HARDCOPY-03.12.05-14.03.09.WMF");
    const struct {
        QSize page;
        QSize picture;
        QString caption;
    } cases[] = {
        {{1100, 850}, {640, 480}, caption},  // landscape paper
        {{850, 1100}, {640, 480}, caption},  // portrait: stretched, proportions are not kept
        {{1100, 850}, {100, 700}, caption},  // a tall picture on landscape paper
        // A caption wider than the page stays centred on the picture.
        {{400, 300}, {64, 48}, QString(200, QLatin1Char('W'))},
    };
    for (const auto& c : cases) {
        QImage page(c.page, QImage::Format_RGB32);
        page.fill(Qt::white);
        QPainter painter(&page);
        const char* step = nullptr;
        const auto geometry =
            paintHardcopyPage(painter, QRectF(QPointF(0, 0), QSizeF(c.page)),
                              bitmap(c.picture, QColor(0, 0, 255)), c.caption, step);
        const QFontMetricsF metrics(painter.font(), &page);
        painter.end();
        ASSERT_TRUE(geometry.ok()) << geometry.error();
        EXPECT_STREQ(step, print_steps::kPicture);

        const QRectF expected(c.page.width() / 6.0, c.page.height() / 6.0, c.page.width() * 2 / 3.0,
                              c.page.height() * 2 / 3.0);
        const QRectF frame = geometry->picture;
        EXPECT_NEAR(frame.left(), expected.left(), 0.01) << c.page.width();
        EXPECT_NEAR(frame.top(), expected.top(), 0.01);
        EXPECT_NEAR(frame.right(), expected.right(), 0.01);
        EXPECT_NEAR(frame.bottom(), expected.bottom(), 0.01);
        // The frame is drawn on the picture's edges, the picture fills it.
        for (QPointF on :
             {QPointF(frame.left(), frame.center().y()), QPointF(frame.right(), frame.center().y()),
              QPointF(frame.center().x(), frame.top()),
              QPointF(frame.center().x(), frame.bottom())})
            EXPECT_TRUE(lineAt(page, on)) << on.x() << "," << on.y();
        EXPECT_EQ(QColor(page.pixel(frame.center().toPoint())), QColor(0, 0, 255));
        EXPECT_EQ(QColor(page.pixel(QPoint(5, 5))), QColor(Qt::white));

        // Caption: centred under the picture, two text heights below the frame.
        const QRectF text = geometry->caption;
        EXPECT_NEAR(text.center().x(), frame.center().x(), 0.01);
        EXPECT_NEAR(text.top(), frame.bottom() + 2 * metrics.height(), 0.01);
        EXPECT_NEAR(text.width(), metrics.horizontalAdvance(c.caption), 0.01);
        int ink = 0;
        for (int x = std::max(0, int(text.left()));
             x < std::min<double>(text.right(), page.width()); ++x)
            for (int y = static_cast<int>(text.top()); y < text.bottom(); ++y)
                ink += isBlack(page, QPoint(x, y)) ? 1 : 0;
        EXPECT_GT(ink, 50);
        // Nothing between the frame and the caption.
        for (int y = static_cast<int>(frame.bottom()) + 3; y < text.top() - 1; ++y)
            EXPECT_FALSE(isBlack(page, QPoint(int(frame.center().x()), y))) << y;
    }
}

TEST(PrintedPage, PictureWithoutSizeFailsInScaling) {
    QImage page(QSize(400, 300), QImage::Format_RGB32);
    QPainter painter(&page);
    const char* step = nullptr;
    const auto geometry =
        paintHardcopyPage(painter, QRectF(0, 0, 400, 300), picture::Picture(), "KLT", step);
    EXPECT_FALSE(geometry.ok());
    EXPECT_STREQ(step, print_steps::kScaling);
    EXPECT_EQ(geometry.error(), "Error while scaling");
}

}  // namespace
}  // namespace benchcap::app::test
