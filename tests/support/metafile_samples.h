#pragma once

// Sample metafiles made with our own writer, for the tests and the benchmarks.
//
// writerSamples(): shaped like the real-world files whose licences keep them out of the
// repository; each covers what such a file brought to the tests (a missing placeable
// header, a flipped window, a file without window or mapping mode, text in many fonts,
// bitmaps, ExtTextOut spacing, a letter-size page).
//
// costlySamples(): small files that ask the player for a great deal of work (very wide
// pens, thousands of full-picture fills, huge bitmaps and regions); the player must
// finish each within its work limit.

#include <cmath>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "hardcopy/picture/wmf_writer.h"

namespace benchcap::picture::test {

struct SampleFile {
    std::string name;
    std::string bytes;
};

// A screen of one navy colour, as the simplest instrument picture.
inline std::string navyScreen(int width, int height) {
    wmf::Writer w(width, height);
    w.brush(wmf::rgb(0, 0, 128));
    w.rectangle(0, 0, width, height);
    return w.finish();
}

// No placeable header; a window of 2000 x 1500; ExtTextOut and MoveTo/LineTo.
inline std::string nonPlaceableSample() {
    wmf::Writer w(2000, 1500, 96, wmf::Framing::Window);
    w.pen(wmf::PS_SOLID, 8, wmf::rgb(0, 0, 160));
    for (int i = 0; i <= 10; ++i)
        w.line(100, 100 + i * 120, 1900, 1400 - i * 120);
    w.font(120, wmf::FW_BOLD, false, "Times New Roman");
    w.extText(200, 600, "Non-placeable picture");
    return w.finish();
}

// The window's height is negative: y grows upwards, as in a plot.
inline std::string flippedWindowSample() {
    wmf::Writer w(1764, 1647, 1000);
    w.setWindowOrg(-100, 1600);
    w.setWindowExt(1764, -1647);
    w.polyFillMode(wmf::WINDING);
    w.brush(wmf::rgb(200, 40, 40));
    w.pen(wmf::PS_SOLID, 10, wmf::rgb(0, 0, 0));
    w.polygon({{0, 0}, {1500, 750}, {0, 1500}, {400, 750}});
    std::vector<wmf::Point> wave;
    for (int x = 0; x <= 1600; x += 20)
        wave.push_back({x, 750 + static_cast<int>(500 * std::sin(x / 200.0))});
    w.pen(wmf::PS_SOLID, 0, wmf::rgb(0, 120, 0));
    w.polyline(wave);
    return w.finish();
}

// Neither placeable header nor window nor mapping mode: MM_TEXT, device units; 22 lines
// of text, each in its own font.
inline std::string textOnlySample() {
    wmf::Writer w(1, 1, 96, wmf::Framing::None);
    const char* faces[] = {"Arial",       "Times New Roman",  "Courier New", "Symbol",
                           "Helvetica",   "Verdana",          "Georgia",     "Tahoma",
                           "DejaVu Sans", "Liberation Serif", "Wingdings"};
    w.bkMode(wmf::TRANSPARENT);
    for (int i = 0; i < 22; ++i) {
        w.font(12 + (i % 6) * 3, i % 2 ? wmf::FW_BOLD : wmf::FW_NORMAL, i % 3 == 0, faces[i % 11]);
        w.textColor(wmf::rgb(i * 11, 0, 255 - i * 11));
        w.text(10, 10 + i * 28, "Line " + std::to_string(i + 1) + ": The quick brown fox");
    }
    return w.finish();
}

// A placeable letter page: 27940 x 21590 units at 2540 per inch (11 x 8.5 inch).
inline std::string letterPageSample() {
    wmf::Writer w(27940, 21590, 2540);
    w.pen(wmf::PS_SOLID, 20, wmf::rgb(0, 0, 0));
    w.hatchBrush(wmf::HS_DIAGCROSS, wmf::rgb(0, 0, 200));
    w.rectangle(1000, 1000, 13000, 10000);
    w.brush(wmf::rgb(255, 220, 0));
    w.ellipse(14000, 1000, 26000, 10000);
    // Two squares in one PolyPolygon record: the inner one is a hole (ALTERNATE).
    w.record(wmf::META_POLYPOLYGON, {2, 4, 4, 2000, 12000, 12000, 12000, 12000, 20000, 2000, 20000,
                                     5000, 14000, 9000, 14000, 9000, 18000, 5000, 18000});
    w.font(800, wmf::FW_NORMAL, false, "Arial");
    w.extText(14000, 15000, "Letter, 11 x 8.5 in");
    return w.finish();
}

// Two StretchDIB records: a colour bar bitmap stretched and a small checkerboard.
inline std::string bitmapSample() {
    wmf::Writer w(400, 300);
    std::vector<wmf::Rgb> bars;
    const wmf::Rgb colours[] = {wmf::rgb(255, 0, 0), wmf::rgb(0, 255, 0), wmf::rgb(0, 0, 255),
                                wmf::rgb(255, 255, 0)};
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 8; ++x)
            bars.push_back(colours[x / 2]);
    }
    w.stretchDib(20, 20, 360, 120, 8, 4, bars);
    std::vector<wmf::Rgb> board;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x)
            board.push_back((x + y) % 2 ? wmf::rgb(0, 0, 0) : wmf::rgb(255, 255, 255));
    }
    w.stretchDib(150, 160, 100, 100, 16, 16, board);
    return w.finish();
}

// ExtTextOut with a dx/dy array (ETO_PDY) and a font record whose face name carries
// garbage after its NUL, as real files often do.
inline std::string spacedTextSample() {
    wmf::Writer w(600, 200);
    std::vector<uint16_t> font{static_cast<uint16_t>(-40), 0, 0, 0, 400, 0, 0, 0, 0};
    const char face[32] = "Arial\0\x7f\x13garbage-after-nul";
    for (size_t i = 0; i < sizeof face; i += 2) {
        font.push_back(static_cast<uint16_t>(static_cast<unsigned char>(face[i]) |
                                             (static_cast<unsigned char>(face[i + 1]) << 8)));
    }
    w.record(wmf::META_CREATEFONTINDIRECT, font);
    w.select(0);
    // y, x, count, options, "SPACED", then dx,dy pairs.
    std::vector<uint16_t> text{
        100, 20, 6, wmf::ETO_PDY, 'S' | ('P' << 8), 'A' | ('C' << 8), 'E' | ('D' << 8)};
    for (int i = 0; i < 6; ++i) {
        text.push_back(80);
        text.push_back(static_cast<uint16_t>(i % 2 ? -10 : 10));
    }
    w.record(wmf::META_EXTTEXTOUT, text);
    return w.finish();
}

// Saved states, clipping and the curved shapes.
inline std::string shapesSample() {
    wmf::Writer w(800, 600);
    w.pen(wmf::PS_SOLID, 3, wmf::rgb(0, 0, 0));
    w.brush(wmf::rgb(0, 160, 160));
    for (int i = 0; i < 20; ++i) {
        w.saveDC();
        w.record(wmf::META_INTERSECTCLIPRECT, {590, 790, 10, 10});
        w.brush(wmf::rgb(i * 12, 100, 255 - i * 12));
        w.ellipse(i * 35, i * 25, i * 35 + 120, i * 25 + 90);
        w.restoreDC();
    }
    // ROUNDRECT: corner height, width, bottom, right, top, left.
    w.record(wmf::META_ROUNDRECT, {40, 40, 580, 780, 450, 500});
    // ARC and PIE: end y, x, start y, x, bottom, right, top, left.
    w.record(wmf::META_ARC, {300, 700, 100, 500, 400, 750, 50, 450});
    w.record(wmf::META_PIE, {500, 100, 450, 300, 580, 300, 380, 20});
    return w.finish();
}

// One StretchDIB whose bitmap is an embedded PNG image (`png`: the PNG file's bytes,
// `width` x `height` pixels), over the whole 200 x 100 picture.
inline std::string embeddedPngSample(const std::string& png, int width, int height) {
    wmf::Writer w(200, 100);
    std::vector<uint16_t> params{static_cast<uint16_t>(wmf::SRCCOPY & 0xFFFF),
                                 static_cast<uint16_t>(wmf::SRCCOPY >> 16),
                                 0,
                                 static_cast<uint16_t>(height),
                                 static_cast<uint16_t>(width),
                                 0,
                                 0,
                                 100,
                                 200,
                                 0,
                                 0};
    // BITMAPINFOHEADER: size 40, width, height, 1 plane, 24 bits, BI_PNG, image size...
    const uint16_t header[20] = {40,
                                 0,
                                 static_cast<uint16_t>(width),
                                 0,
                                 static_cast<uint16_t>(height),
                                 0,
                                 1,
                                 24,
                                 5,
                                 0,
                                 static_cast<uint16_t>(png.size() & 0xFFFF),
                                 static_cast<uint16_t>(png.size() >> 16)};
    params.insert(params.end(), std::begin(header), std::end(header));
    for (size_t i = 0; i < png.size(); i += 2) {
        const auto lo = static_cast<unsigned char>(png[i]);
        const auto hi = i + 1 < png.size() ? static_cast<unsigned char>(png[i + 1]) : 0;
        params.push_back(static_cast<uint16_t>(lo | (hi << 8)));
    }
    w.record(wmf::META_STRETCHDIB, params);
    return w.finish();
}

// Every writer-made sample, in a fixed order.
inline std::vector<SampleFile> writerSamples() {
    return {{"nonplaceable.wmf", nonPlaceableSample()},
            {"flipped-window.wmf", flippedWindowSample()},
            {"text-only.wmf", textOnlySample()},
            {"letter-page.wmf", letterPageSample()},
            {"stretchdib.wmf", bitmapSample()},
            {"spaced-text.wmf", spacedTextSample()},
            {"shapes.wmf", shapesSample()}};
}

// One polyline of `points` points zigzagging over the picture, pen `width` units wide.
inline std::string widePenPolyline(int points = 4000, int width = 32767, int copies = 1) {
    wmf::Writer w(1024, 768);
    std::vector<wmf::Point> zigzag;
    for (int i = 0; i < points; ++i)
        zigzag.push_back({(i * 37) % 1024, i % 2 ? 760 : 8});
    w.pen(wmf::PS_SOLID, width, wmf::rgb(200, 0, 0));
    for (int c = 0; c < copies; ++c)
        w.polyline(zigzag);
    return w.finish();
}

// `count` rectangles each covering the whole picture, colours alternating.
inline std::string fullPictureRectangles(int count = 2000) {
    wmf::Writer w(1024, 768);
    const wmf::ObjectHandle brushes[] = {w.createBrush(wmf::BS_SOLID, wmf::rgb(0, 0, 200)),
                                         w.createBrush(wmf::BS_SOLID, wmf::rgb(0, 200, 0))};
    for (int i = 0; i < count; ++i) {
        w.select(brushes[i % 2]);
        w.rectangle(0, 0, 1024, 768);
    }
    return w.finish();
}

// A header that claims a picture of 32767 x 32767 units at 4 units per inch (about
// 8 x 8 metres) and draws one line: under 100 bytes.
inline std::string hugeNaturalSize() {
    wmf::Writer w(32767, 32767, 4);
    w.line(0, 0, 32767, 32767);
    return w.finish();
}

// Polygons of `points` points spanning the whole height, filled, `copies` times.
inline std::string spikyPolygons(int points = 32000, int copies = 1) {
    wmf::Writer w(1024, 768);
    std::vector<wmf::Point> spikes;
    for (int i = 0; i < points; ++i)
        spikes.push_back({(i * 1024) / points, i % 2 ? 767 : 0});
    w.brush(wmf::rgb(0, 0, 0));
    for (int c = 0; c < copies; ++c)
        w.polygon(spikes);
    return w.finish();
}

// Bitmaps that claim 8192 x 8192 pixels in a few bytes (RLE8: "end of bitmap" at once),
// stretched over the picture, `copies` times.
inline std::string hugeRleBitmaps(int copies = 1) {
    wmf::Writer w(1024, 768);
    std::vector<uint16_t> params{static_cast<uint16_t>(wmf::SRCCOPY & 0xFFFF),
                                 static_cast<uint16_t>(wmf::SRCCOPY >> 16), 0, 8192, 8192, 0, 0,
                                 768, 1024, 0, 0,
                                 // BITMAPINFOHEADER: 40, 8192 x 8192, 1 plane, 8 bits, BI_RLE8
                                 40, 0, 8192, 0, 8192, 0, 1, 8, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                 // no colour table entries used: 2 of them, then the pixels
                                 0, 0, 0, 0, 0x0100};
    params[11 + 16] = 2;  // biClrUsed = 2
    for (int c = 0; c < copies; ++c)
        w.record(wmf::META_STRETCHDIB, params);
    return w.finish();
}

// One region of `rects` rectangles, selected as the clip `selects` times.
inline std::string manyRectRegion(int rects = 20000, int selects = 1000) {
    wmf::Writer w(1024, 768);
    // CREATEREGION: nextInChain, objectType, objectCount, regionSize, scanCount,
    // maxScan, bounding box, then scans of (count, top, bottom, left/right..., count).
    std::vector<uint16_t> region{0, 6, 0, 0, 0, 0, 0, 0, 0, 1024, 768};
    int scans = 0;
    for (int y = 0; scans * 8 < rects; ++y, ++scans) {
        region.push_back(16);
        region.push_back(static_cast<uint16_t>(y));
        region.push_back(static_cast<uint16_t>(y + 1));
        for (int x = 0; x < 8; ++x) {
            region.push_back(static_cast<uint16_t>(x * 128 + (y % 64)));
            region.push_back(static_cast<uint16_t>(x * 128 + 64 + (y % 64)));
        }
        region.push_back(16);
    }
    region[5] = static_cast<uint16_t>(scans);
    w.record(wmf::META_CREATEREGION, region);
    for (int i = 0; i < selects; ++i) {
        w.select(0);
        w.rectangle(0, 0, 1024, 768);
    }
    return w.finish();
}

// `count` text records, each in a font of its own size, `chars` characters long.
inline std::string manyFonts(int count = 2000, int chars = 40) {
    wmf::Writer w(1024, 768);
    const std::string text(static_cast<size_t>(chars), 'W');
    for (int i = 0; i < count; ++i) {
        w.font(8 + i % 3000, wmf::FW_NORMAL, i % 2 == 1, i % 3 ? "Arial" : "Courier New");
        w.text(0, (i * 13) % 768, text);
    }
    return w.finish();
}

// Files that ask for much work; each name says what it holds.
inline std::vector<SampleFile> costlySamples() {
    return {{"wide-pen-polyline.wmf", widePenPolyline()},
            {"full-picture-rectangles.wmf", fullPictureRectangles()},
            {"huge-natural-size.wmf", hugeNaturalSize()},
            {"spiky-polygons.wmf", spikyPolygons(32000, 4)},
            {"huge-rle-bitmaps.wmf", hugeRleBitmaps(1000)},
            {"many-rect-region.wmf", manyRectRegion()},
            {"many-fonts.wmf", manyFonts()}};
}

// The same kinds of work, each filling about one megabyte.
inline std::vector<SampleFile> costlyMegabyteSamples() {
    return {{"wide-pen-polylines-1mb.wmf", widePenPolyline(4000, 32767, 64)},
            {"full-picture-rectangles-1mb.wmf", fullPictureRectangles(45000)},
            {"spiky-polygons-1mb.wmf", spikyPolygons(32000, 8)},
            {"huge-rle-bitmaps-1mb.wmf", hugeRleBitmaps(12000)},
            {"many-rect-region-1mb.wmf", manyRectRegion(6000, 40000)},
            {"many-fonts-1mb.wmf", manyFonts(10000, 40)}};
}

}  // namespace benchcap::picture::test
