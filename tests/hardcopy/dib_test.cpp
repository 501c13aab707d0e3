// Bitmaps inside metafiles: the depths instruments use, and refusal of bitmaps whose
// header promises more than the file holds.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QByteArray>
#include <string>
#include <utility>
#include <vector>

#include "hardcopy/picture/dib.h"

namespace benchcap::picture {
namespace {

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
    QImage green(4, 3, QImage::Format_RGB32);
    green.fill(Qt::green);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(green.save(&buffer, "PNG"));
    const std::string png(bytes.constData(), static_cast<size_t>(bytes.size()));
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

TEST(Dib, PixelsClaimedByTheHeader) {
    EXPECT_EQ(dibPixels(header(8192, -8192, 8)), 8192LL * 8192);
    EXPECT_EQ(dibPixels(header(0, 10, 8)), 0);
    EXPECT_EQ(dibPixels(header(0x7FFFFFFF, 2, 8)), 0);  // refused at once, costs nothing
    EXPECT_EQ(dibPixels("short"), 0);
}

}  // namespace
}  // namespace benchcap::picture
