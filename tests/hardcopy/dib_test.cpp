// Bitmaps inside metafiles: the depths instruments use, and refusal of bitmaps whose
// header promises more than the file holds.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QByteArray>
#include <string>

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

void colour(std::string& s, int r, int g, int b) {
    put(s, static_cast<uint32_t>(b | (g << 8) | (r << 16)), 4);
}

QRgb px(const QImage& image, int x, int y) {
    return image.pixel(x, y) | 0xFF000000u;
}

TEST(Dib, OneBitRowsUseTheColourTable) {
    std::string dib = header(8, 2, 1);
    colour(dib, 0, 0, 0);
    colour(dib, 255, 255, 0);
    put(dib, 0xF0, 1);  // bottom row: 4 yellow, 4 black
    put(dib, 0, 3);
    put(dib, 0x0F, 1);  // top row: 4 black, 4 yellow
    put(dib, 0, 3);
    const DibImage out = decodeDib(dib);
    ASSERT_FALSE(out.image.isNull()) << out.error;
    EXPECT_EQ(px(out.image, 0, 1), qRgb(255, 255, 0));
    EXPECT_EQ(px(out.image, 7, 1), qRgb(0, 0, 0));
    EXPECT_EQ(px(out.image, 0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(px(out.image, 7, 0), qRgb(255, 255, 0));
}

TEST(Dib, EightBitWithShortColourTable) {
    std::string dib = header(3, 1, 8, 2);
    colour(dib, 10, 20, 30);
    colour(dib, 200, 100, 50);
    put(dib, 0x00000100, 4);  // indices 0, 1, 0 and padding
    const DibImage out = decodeDib(dib);
    ASSERT_FALSE(out.image.isNull()) << out.error;
    EXPECT_EQ(px(out.image, 0, 0), qRgb(10, 20, 30));
    EXPECT_EQ(px(out.image, 1, 0), qRgb(200, 100, 50));
}

TEST(Dib, TwentyFourBitTopDown) {
    std::string dib = header(1, -2, 24);
    put(dib, 0xFF0000, 3);  // bytes blue, green, red; the first row is the top one: red
    put(dib, 0, 1);
    put(dib, 0x0000FF, 3);  // blue
    put(dib, 0, 1);
    const DibImage out = decodeDib(dib);
    ASSERT_FALSE(out.image.isNull()) << out.error;
    EXPECT_EQ(px(out.image, 0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(px(out.image, 0, 1), qRgb(0, 0, 255));
}

TEST(Dib, PaletteIndicesLookUpTheSelectedPalette) {
    std::string dib = header(1, 1, 1);
    put(dib, 1, 2);  // entry 0 -> palette 1
    put(dib, 0, 2);
    put(dib, 0, 4);  // pixel 0
    const DibImage out = decodeDib(dib, true, {qRgb(1, 1, 1), qRgb(0, 128, 0)});
    ASSERT_FALSE(out.image.isNull()) << out.error;
    EXPECT_EQ(px(out.image, 0, 0), qRgb(0, 128, 0));
}

TEST(Dib, RefusesWhatTheBytesDoNotHold) {
    EXPECT_NE(decodeDib(header(0x7FFFFFFF, 1, 24)).error.find("too large"), std::string::npos);
    EXPECT_NE(decodeDib(header(9000, 9000, 24)).error.find("too large"), std::string::npos);
    EXPECT_NE(decodeDib(header(100, 100, 24)).error.find("truncated"), std::string::npos);
    EXPECT_NE(decodeDib(header(4, 4, 3)).error.find("3 bits"), std::string::npos);
    EXPECT_NE(decodeDib(header(0, 4, 8)).error.find("no pixels"), std::string::npos);
    EXPECT_NE(decodeDib(std::string(20, '\0')).error.find("header"), std::string::npos);
    std::string wrongTable = header(2, 2, 8, 5000);
    EXPECT_NE(decodeDib(wrongTable).error.find("colour table"), std::string::npos);
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
    const DibImage sound = decodeDib(dib(png));
    ASSERT_FALSE(sound.image.isNull()) << sound.error;
    EXPECT_EQ(sound.image.pixel(1, 1) | 0xFF000000u, qRgb(0, 255, 0));

    std::string badName = png;
    badName[badName.size() - 6] = '\0';  // IEND -> \0END
    std::string badCrc = png;
    const size_t idat = badCrc.size() - 12 - 4 - 1;  // last data byte of IDAT
    badCrc[idat] = static_cast<char>(badCrc[idat] ^ 0x55);
    for (const auto& [broken, why] :
         {std::pair{badName, "invalid chunk name"}, std::pair{badCrc, "checksum"},
          std::pair{png.substr(0, png.size() - 12), "truncated"}}) {
        const DibImage decoded = decodeDib(dib(broken));
        EXPECT_TRUE(decoded.image.isNull()) << why;
        EXPECT_NE(decoded.error.find("embedded PNG image is damaged"), std::string::npos)
            << decoded.error;
        EXPECT_NE(decoded.error.find(why), std::string::npos) << decoded.error;
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
