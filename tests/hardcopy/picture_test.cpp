// Loading picture files by content, rendering, and PNG output.
#include <gtest/gtest.h>

#include <QImageReader>
#include <tuple>

#include <QByteArray>
#include <string>
#include <utility>
#include <vector>
#include "hardcopy/picture/dib.h"
#include "hardcopy/picture/picture.h"
#include "hardcopy/picture/picture_file.h"
#include "support/file_faults.h"
#include "support/image_summary.h"
#include "support/metafile_samples.h"
#include "support/test_paths.h"

namespace benchcap::picture {
namespace {

namespace fs = std::filesystem;

std::string screen() {
    return test::navyScreen(640, 480);
}

// Each packing the encoder chooses (1, 2, 4 and 8 bits of palette, true colour) at a width
// that leaves a part byte at the row's end reads back as the same pixels.
TEST(Picture, PngKeepsEveryPixelAtEachDepth) {
    for (const int colours : {2, 3, 9, 200, 300}) {
        QImage image(37, 9, QImage::Format_RGB32);
        for (int i = 0; i < 37 * 9; ++i)
            image.setPixel(i % 37, i / 37, qRgb(i % colours & 0xFF, i % colours >> 8, 9));
        image.setDotsPerMeterX(3937);
        const Result<std::string> png = encodePng(image);
        ASSERT_TRUE(png.ok()) << png.error();
        const QImage back = QImage::fromData(QByteArray::fromStdString(*png), "PNG");
        ASSERT_EQ(back.size(), image.size()) << colours;
        EXPECT_EQ(back.convertToFormat(QImage::Format_RGB32), image) << colours << " colours";
        EXPECT_EQ(back.dotsPerMeterX(), 3937) << colours;
    }
}

TEST(Picture, RenderToPngWritesTheWholeImage) {
    const fs::path dir = benchcap::test::makeTempDir("picture");
    benchcap::test::writeBytes(dir / "screen.wmf", screen());
    auto written = renderToPng(dir / "screen.wmf", dir / "screen.png");
    ASSERT_TRUE(written.ok()) << written.error();
    QImage png(QString::fromStdString((dir / "screen.png").string()));
    ASSERT_FALSE(png.isNull());
    EXPECT_EQ(png.size(), QSize(640, 480));
    EXPECT_EQ(png.pixel(320, 240) | 0xFF000000u, qRgb(0, 0, 128));
}

TEST(Picture, FailuresLeaveNoOutputAndSayWhy) {
    const fs::path dir = benchcap::test::makeTempDir("picture");
    benchcap::test::writeBytes(dir / "zero.wmf", std::string(64, '\0'));
    benchcap::test::writeBytes(dir / "text.wmf", "HCOPY:DEV:LANG WMF\n");
    auto zero = renderToPng(dir / "zero.wmf", dir / "zero.png");
    ASSERT_FALSE(zero.ok());
    EXPECT_NE(zero.error().find("zero.wmf"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "zero.png"));

    auto text = loadPicture(dir / "text.wmf");
    ASSERT_FALSE(text.ok());
    EXPECT_NE(text.error().find("nor an HP-GL plot"), std::string::npos) << text.error();

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
        benchcap::test::writeBytes(dir / name, "earlier");
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

// Bitmaps inside metafiles: the depths instruments use, and refusal of bitmaps whose
// header promises more than the file holds.
void put(std::string& s, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::string header(int32_t width, int32_t height, int bits, uint32_t colours = 0) {
    std::string s;
    // size, width, height, planes and bits, BI_RGB, image size, resolution x and y, colours,
    // important colours
    for (uint32_t v : {40u, static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                       1u | static_cast<uint32_t>(bits) << 16, 0u, 0u, 0u, 0u, colours, 0u})
        put(s, v, 4);
    return s;
}

// `dib` followed by each value in the given number of bytes, little-endian.
std::string append(std::string dib, std::initializer_list<std::pair<uint32_t, int>> values) {
    for (const auto& [value, bytes] : values)
        put(dib, value, bytes);
    return dib;
}

QRgb px(const QImage& image, int x, int y) {
    return image.pixel(x, y) | 0xFF000000u;
}

struct Pixel {
    int x, y;
    QRgb colour;
};

TEST(Dib, DecodesTheDepthsInstrumentsUse) {
    // Colour table entries are 0x00RRGGBB; rows are padded to four bytes.
    const QRgb black = qRgb(0, 0, 0), yellow = qRgb(255, 255, 0);
    const struct {
        const char* what;
        std::string dib;
        std::vector<Pixel> pixels;
        std::vector<QRgb> palette = {};  // the colour table holds indices into this one
    } cases[] = {
        {"1 bit, bottom row first: 4 yellow 4 black, then 4 black 4 yellow",
         append(header(8, 2, 1), {{0x000000, 4}, {0xFFFF00, 4}, {0xF0, 4}, {0x0F, 4}}),
         {{0, 1, yellow}, {7, 1, black}, {0, 0, black}, {7, 0, yellow}}},
        {"8 bits with a colour table of 2 entries: indices 0, 1, 0",
         append(header(3, 1, 8, 2), {{0x0A141E, 4}, {0xC86432, 4}, {0x00000100, 4}}),
         {{0, 0, qRgb(10, 20, 30)}, {1, 0, qRgb(200, 100, 50)}}},
        {"24 bits top down: red above blue",
         append(header(1, -2, 24), {{0xFF0000, 4}, {0xFF, 4}}),
         {{0, 0, qRgb(255, 0, 0)}, {0, 1, qRgb(0, 0, 255)}}},
        {"palette indices: entry 0 is palette entry 1",
         append(header(1, 1, 1), {{1, 2}, {0, 2}, {0, 4}}),
         {{0, 0, qRgb(0, 128, 0)}},
         {qRgb(1, 1, 1), qRgb(0, 128, 0)}},
    };
    for (const auto& c : cases) {
        const Result<QImage> out = decodeDib(c.dib, !c.palette.empty(), c.palette);
        ASSERT_TRUE(out.ok()) << c.what << ": " << out.error();
        for (const Pixel& p : c.pixels)
            EXPECT_EQ(px(*out, p.x, p.y), p.colour) << c.what << " at " << p.x << "," << p.y;
    }
}

TEST(Dib, RefusesWhatTheBytesDoNotHold) {
    for (const auto& [dib, why] : {
             std::pair{header(0x7FFFFFFF, 1, 24), "too large"},
             std::pair{header(9000, 9000, 24), "too large"},
             std::pair{header(100, 100, 24), "truncated"},
             std::pair{header(4, 4, 3), "3 bits"},
             std::pair{header(0, 4, 8), "no pixels"},
             std::pair{std::string(20, '\0'), "header"},
             std::pair{header(2, 2, 8, 5000), "colour table"},
         }) {
        const Result<QImage> out = decodeDib(dib);
        ASSERT_FALSE(out.ok()) << why;
        EXPECT_NE(out.error().find(why), std::string::npos) << out.error();
    }
}

// An embedded PNG is checked chunk by chunk before decoding: damage is a reason in the
// result, not a line from the decoding library on stderr.
TEST(Dib, EmbeddedPngIsCheckedBeforeDecoding) {
    const std::string png = benchcap::test::plainImageBytes(QSize(4, 3), Qt::green, "PNG");
    ASSERT_FALSE(png.empty());
    auto dib = [](const std::string& image) {
        std::string s = header(4, 3, 24);
        s[16] = 5;  // BI_PNG
        return s + image;
    };
    const Result<QImage> sound = decodeDib(dib(png));
    ASSERT_TRUE(sound.ok()) << sound.error();
    EXPECT_EQ(px(*sound, 1, 1), qRgb(0, 255, 0));

    std::string badName = png;
    badName[badName.size() - 6] = '\0';  // IEND -> \0END
    std::string badCrc = png;
    const size_t idat = badCrc.size() - 12 - 4 - 1;  // last data byte of IDAT
    badCrc[idat] = static_cast<char>(badCrc[idat] ^ 0x55);
    for (const auto& [broken, why] :
         {std::pair{badName, "invalid chunk name"}, std::pair{badCrc, "checksum"},
          std::pair{png.substr(0, png.size() - 12), "truncated"}}) {
        const Result<QImage> decoded = decodeDib(dib(broken));
        ASSERT_FALSE(decoded.ok()) << why;
        EXPECT_NE(decoded.error().find("embedded PNG image is damaged"), std::string::npos)
            << decoded.error();
        EXPECT_NE(decoded.error().find(why), std::string::npos) << decoded.error();
    }
}

}  // namespace
}  // namespace benchcap::picture
