// Loading picture files by content, rendering, and PNG output.
#include <gtest/gtest.h>

#include <QImageReader>
#include <fstream>
#include <tuple>

#include "hardcopy/picture/picture.h"
#include "hardcopy/picture/picture_file.h"
#include "hardcopy/picture/wmf_writer.h"
#include "support/test_paths.h"

namespace benchcap::picture {
namespace {

namespace fs = std::filesystem;

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string screen() {
    wmf::Writer w(640, 480);
    w.brush(wmf::rgb(0, 0, 128));
    w.rectangle(0, 0, 640, 480);
    return w.finish();
}

TEST(Picture, BitmapIsToldByContentEvenUnderAMetafileName) {
    const fs::path dir = benchcap::test::makeTempDir("picture");
    QImage bmp(40, 30, QImage::Format_RGB32);
    bmp.fill(Qt::red);
    ASSERT_TRUE(bmp.save(QString::fromStdString((dir / "HARDCOPY.WMF").string()), "BMP"));
    auto picture = loadPicture(dir / "HARDCOPY.WMF");
    ASSERT_TRUE(picture.ok()) << picture.error();
    EXPECT_EQ(picture->format(), PictureFormat::Bitmap);
    EXPECT_EQ(picture->naturalSize(), QSize(40, 30));
    auto image = picture->render(QSize(80, 60));
    ASSERT_TRUE(image.ok());
    EXPECT_EQ(image->pixel(40, 30) | 0xFF000000u, qRgb(255, 0, 0));
}

TEST(Picture, RenderToPngWritesTheWholeImage) {
    const fs::path dir = benchcap::test::makeTempDir("picture");
    writeFile(dir / "screen.wmf", screen());
    auto written = renderToPng(dir / "screen.wmf", dir / "screen.png");
    ASSERT_TRUE(written.ok()) << written.error();
    QImage png(QString::fromStdString((dir / "screen.png").string()));
    ASSERT_FALSE(png.isNull());
    EXPECT_EQ(png.size(), QSize(640, 480));
    EXPECT_EQ(png.pixel(320, 240) | 0xFF000000u, qRgb(0, 0, 128));

    auto scaled = renderToPng(dir / "screen.wmf", dir / "small.png", QSize(64, 48));
    ASSERT_TRUE(scaled.ok());
    EXPECT_EQ(QImage(QString::fromStdString((dir / "small.png").string())).size(), QSize(64, 48));
}

TEST(Picture, FailuresLeaveNoOutputAndSayWhy) {
    const fs::path dir = benchcap::test::makeTempDir("picture");
    writeFile(dir / "zero.wmf", std::string(64, '\0'));
    writeFile(dir / "text.wmf", "HCOPY:DEV:LANG WMF\n");
    auto zero = renderToPng(dir / "zero.wmf", dir / "zero.png");
    ASSERT_FALSE(zero.ok());
    EXPECT_NE(zero.error().find("zero.wmf"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "zero.png"));

    auto text = loadPicture(dir / "text.wmf");
    ASSERT_FALSE(text.ok());
    EXPECT_NE(text.error().find("nor an HP-GL plot"), std::string::npos) << text.error();

    writeFile(dir / "screen.wmf", screen());
    auto badFolder = renderToPng(dir / "screen.wmf", dir / "no" / "such" / "folder.png");
    ASSERT_FALSE(badFolder.ok());
    EXPECT_NE(badFolder.error().find("folder.png"), std::string::npos) << badFolder.error();

    auto tooBig = renderPictureBytes(screen(), QSize(100000, 10));
    ASSERT_FALSE(tooBig.ok());
    EXPECT_NE(tooBig.error().find("out of range"), std::string::npos);
}

TEST(Picture, DrawStretchesOverTheTargetAndKeepsThePainterState) {
    auto picture = pictureFromBytes(screen());
    ASSERT_TRUE(picture.ok());
    QImage image(200, 100, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setPen(Qt::green);
    const PlayResult played = picture->draw(painter, QRectF(50, 25, 100, 50));
    EXPECT_TRUE(played.status.ok());
    EXPECT_EQ(painter.pen().color(), QColor(Qt::green));
    EXPECT_FALSE(painter.hasClipping());
    painter.end();
    EXPECT_EQ(image.pixel(100, 50) | 0xFF000000u, qRgb(0, 0, 128));
    EXPECT_EQ(image.pixel(20, 50) | 0xFF000000u, qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(170, 50) | 0xFF000000u, qRgb(255, 255, 255));
}

// Whether `image` has black and red ink.
std::pair<bool, bool> inked(const QImage& image) {
    bool black = false, red = false;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            black = black || (c.red() < 80 && c.green() < 80 && c.blue() < 80);
            red = red || (c.red() > 150 && c.green() < 80 && c.blue() < 80);
        }
    }
    return {black, red};
}

// Each plot page can be drawn (by default the last, as the plotter's paper shows); files
// are streamed to the disk as they are drawn and take their names only when all pages are,
// and not at all when the last page fails or a stop request comes while it is drawn (after
// the drawing's own last check: the PDF's end and the renames are still to come).
TEST(Picture, PlotPagesAreDrawnAndWrittenWholeOrNotAtAll) {
    auto plot = pictureFromBytes("IN;SP1;PU0,0;PD10000,7000;PG;SP2;PU0,7000;PD10000,0;");
    ASSERT_TRUE(plot.ok()) << plot.error();
    EXPECT_EQ(plot->pageCount(), 2);
    EXPECT_EQ(pictureFromBytes(screen())->pageCount(), 1);
    const fs::path dir = benchcap::test::makeTempDir("pages");
    const auto temporaryBytes = [&] {
        std::uintmax_t n = 0;
        for (const auto& e : fs::directory_iterator(dir))
            n += e.path().filename().string().front() == '.' ? fs::file_size(e.path()) : 0;
        return n;
    };
    enum class End { Fails, Stopped, Drawn };
    for (const auto& c : {std::tuple{PlotFileFormat::Pdf, "p.pdf", End::Fails},
                          {PlotFileFormat::Pdf, "p.pdf", End::Stopped},
                          {PlotFileFormat::Png, "p-2.png", End::Stopped},
                          {PlotFileFormat::Pdf, "p.pdf", End::Drawn}}) {
        // Plain copies: the drawing below captures them (clang takes no bindings there).
        const PlotFileFormat format = std::get<0>(c);
        const std::string name = std::get<1>(c);
        const End end = std::get<2>(c);
        SCOPED_TRACE(name + std::to_string(static_cast<int>(end)));
        writeFile(dir / name, "earlier");
        std::vector<QImage> pages;
        bool stopRequested = false;
        const auto written = writePictureFiles(
            (dir / "p").string() + (format == PlotFileFormat::Pdf ? ".pdf" : ".png"), format,
            {100, 75}, 2,
            [&](QPainter& painter, const QRect& area, int page) -> Status {
                uint32_t seed = 1;  // lines that do not compress away
                for (int i = 0; i < 20'000; ++i) {
                    seed = seed * 1664525u + 1013904223u;
                    painter.drawLine(QPointF(seed % 997 / 9.97, 0), QPointF(0, seed % 743 / 9.9));
                }
                if (page == 1) {  // the first page is on the disk, not held in memory
                    EXPECT_GT(temporaryBytes(), format == PlotFileFormat::Pdf ? 10'000u : 0u);
                }
                pages.push_back(*plot->render(area.size(), nullptr, {page}));
                stopRequested = end == End::Stopped && page == 1;
                return end == End::Fails && page == 1 ? fail("stopped") : Status{};
            },
            [&] { return stopRequested; });
        EXPECT_EQ(written.ok(), end == End::Drawn);
        EXPECT_EQ(temporaryBytes(), 0u);
        EXPECT_EQ(benchcap::test::readFile(dir / name) == "earlier", end != End::Drawn);
        EXPECT_FALSE(fs::exists(dir / "p.png"));
        ASSERT_EQ(pages.size(), 2u);
        EXPECT_EQ(inked(pages[0]), std::make_pair(true, false));  // page 1: black pen
        EXPECT_EQ(inked(pages[1]), std::make_pair(false, true));  // page 2: red pen
    }
    EXPECT_EQ(*plot->render({100, 75}), *plot->render({100, 75}, nullptr, {1}));
}

}  // namespace
}  // namespace benchcap::picture
