// Bitmaps inside metafiles: the depths instruments use, and refusal of bitmaps whose
// header promises more than the file holds.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace benchcap::picture
