#pragma once

// HP-GL and HP-GL/2 plotter language: what an instrument sends to the plotter that
// Benchcap emulates, turned into a picture.
//
// Two passes. parseHpgl() interprets the bytes into a display list (a Plot): stroked
// polylines, dot marks, filled polygons and text runs, all in physical plotter units
// (0.025 mm, y axis up) with the pen, colour, width and line type resolved. draw()
// paints a Plot onto any QPainter (image, SVG generator, PDF writer, window) fitted
// into a target rectangle. renderHpgl() does both onto a white image.
//
// The parser never trusts the file. Numbers are clamped, counts and lengths bounded,
// unknown instructions and output queries skipped, and the work is budgeted so that
// any file up to 16 MB is turned into a bounded display list in bounded time. Damage
// is reported as warnings beside whatever could be drawn; only bytes without a single
// HP-GL instruction give an error.
//
// Pens: 0 is no pen (moves only); 1..8 take the eight-pen carousel colours of
// kPenColours; higher numbers wrap onto the same eight. HP-GL/2 PC changes a colour.
//
// Picture extent (what draw() fits into the target): the bounding box of everything
// drawn, united with every P1/P2 frame that was in effect while drawing. The paper
// area the instrument asked for is shown, and a plot that strays beyond P1/P2 (an
// instrument that assumed a larger plotter) is still shown whole. Aspect ratio is
// kept; the picture is centred in the target, with 1 % of paper around the ink.
//
// Left out, with a warning naming them: PE (encoded polylines), BZ/BR (Bezier
// curves), XT/YT (tick marks). Approximated: UL user line types (the standard
// patterns), FT shading and user fills (solid), character sets (labels are Latin-1
// in a monospace system font, one cell per character).

#include <QImage>
#include <QPainter>
#include <QPointF>
#include <QRectF>
#include <QRgb>
#include <QSize>
#include <QTransform>
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace benchcap::hpgl {

// Carousel colours on white paper, index = pen number (0 = no pen, unused).
// 1 black, 2 red, 3 green, 4 yellow (darkened to stay visible on white), 5 blue,
// 6 magenta, 7 cyan, 8 orange.
inline constexpr std::array<QRgb, 9> kPenColours = {
    0xFFFFFFFF, 0xFF000000, 0xFFE00000, 0xFF00A000, 0xFFD0B000,
    0xFF0000E0, 0xFFC000C0, 0xFF00A8C0, 0xFFFF8000,
};

// Default paper: P1 = (0, 0), P2 = (10300, 7650) plotter units, an A4 / A-size plot area.
inline constexpr double kDefaultPageWidth = 10300;
inline constexpr double kDefaultPageHeight = 7650;
inline constexpr double kUnitsPerMm = 40;  // plotter units

// Bounds of the work done for one file (hostile files are normal). With these, a
// 16 MB file parses and draws in bounded time and memory; past a bound the rest is
// dropped with a warning.
struct ParseLimits {
    size_t points = 4'000'000;         // vertices kept, all pages
    size_t items = 1'000'000;          // display-list items, all pages
    size_t textChars = 100'000;        // label characters kept
    size_t labelChars = 4'096;         // characters of one label
    size_t pages = 64;                 // PG / FR beyond are drawn on the last page
    size_t polygonPoints = 1'000'000;  // polygon buffer (PM)
};
inline constexpr int kMaxRenderSide = 16384;  // pixels per side of a rendered image
inline constexpr qint64 kMaxRenderPixels = 100'000'000;

enum class LineKind : uint8_t {
    Polyline,  // points[first, first + count) stroked; a single point is a dot
    Dots,      // line type 0: a dot at each of points[first, first + count)
    Polygon,   // rings[first, first + count), each ring a closed run of points
    Text,      // texts[first]
};

enum class FillType : uint8_t { None, Solid, Hatch, CrossHatch };

// How an item is drawn. Widths and lengths are in plotter units.
struct Style {
    int pen = 1;
    QRgb colour = kPenColours[1];
    double width = 14;  // 0.35 mm
    int lineType = -1;  // -1 solid; 0..8 the HP-GL line types (sign dropped)
    double patternLength = 0;
    FillType fill = FillType::None;
    double hatchSpacing = 0;  // plotter units
    double hatchAngle = 0;    // degrees, physical
    bool evenOdd = true;      // fill rule
    bool edge = false;        // polygon: draw its outline with the pen
    bool operator==(const Style&) const = default;
};

struct Item {
    LineKind kind = LineKind::Polyline;
    uint32_t first = 0;
    uint32_t count = 0;
    uint32_t style = 0;  // index into Page::styles
    int32_t clip = -1;   // index into Page::clips, -1 = none
};

struct Ring {
    uint32_t first = 0;
    uint32_t count = 0;
};

// One run of label characters on a line, one character cell per character.
struct Text {
    std::string chars;     // Latin-1
    QPointF origin;        // baseline start of the first cell
    double angle = 0;      // degrees, counter-clockwise, physical
    double width = 76;     // glyph width
    double height = 108;   // cap height
    double advance = 114;  // from one cell to the next
    double slant = 0;      // tan of the slant angle
};

struct Page {
    std::vector<Item> items;  // in drawing order
    std::vector<QPointF> points;
    std::vector<Ring> rings;
    std::vector<Text> texts;
    std::vector<Style> styles;
    std::vector<QRectF> clips;  // IW windows
    QRectF drawn;               // bounding box of what is drawn
    QRectF extent;              // drawn united with the P1/P2 frames in effect
};

struct Plot {
    std::vector<Page> pages;  // at least one; PG / FR start a new one
    std::vector<std::string> warnings;
    size_t instructions = 0;  // instructions read
};

// Ink a page may put down per pixel of the target, and at least as much as on a
// 1024 x 768 image: ink is pixels covered (stroke length times width, filled areas,
// glyph cells, a floor per vertex) plus the rasterizer's work on the edges of fills and
// glyphs (each pixel cell an outline crosses, times the edges on its row). A 16 MB file
// of full-page zigzags or a 2 KB polygon of a thousand spikes would otherwise keep the
// rasterizer busy for minutes; past the budget the rest of the page is left out, with a
// warning. Vector output (SVG, PDF) covers no pixels: it is charged by what it writes,
// about 20 MB a page, whatever the size.
inline constexpr double kInkPerPixel = 38;
inline constexpr double kMinInkBudget = kInkPerPixel * 1024 * 768;

struct DrawOptions {
    bool antialias = true;  // smooth lines and shapes (text is always smoothed)
    int page = 0;
    // Ink this page may put down; 0 scales it with the target (kInkPerPixel).
    double inkBudget = 0;
    // Asked between items: true stops the drawing (what is drawn so far stays).
    std::function<bool()> cancelled = {};
};

// The warning draw() gives when the ink budget left part of a page out.
inline constexpr std::string_view kInkCutWarning = "page drawn only in part";

// True when `bytes` start like plotter output (after escapes and blanks, the first
// instructions are HP-GL mnemonics, and the start is text).
bool looksLikeHpgl(std::string_view bytes);

Result<Plot> parseHpgl(std::string_view bytes, const ParseLimits& limits = {});

// Draws one page of `plot` fitted into `target` (painter coordinates), aspect ratio
// kept, y axis up. The painter's state is the same afterwards. Returns warnings
// (text without fonts, hatching cut short).
std::vector<std::string> draw(QPainter& painter, const QRectF& target, const Plot& plot,
                              const DrawOptions& options = {});

// The first page of the plot on a white image of `size` (1024 x 768 when empty).
// `warnings`, when given, receives the parser's and painter's warnings.
Result<QImage> renderHpgl(std::string_view bytes, QSize size = {},
                          std::vector<std::string>* warnings = nullptr);

// The same for a plot parsed already; options choose the page and antialiasing.
Result<QImage> renderPlot(const Plot& plot, QSize size = {},
                          std::vector<std::string>* warnings = nullptr,
                          const DrawOptions& options = {});

// The fitting draw() uses: plotter units of `extent` to painter coordinates in
// `target` (exposed for tests and for callers that overlay marks).
QTransform fitTransform(const QRectF& extent, const QRectF& target);

}  // namespace benchcap::hpgl
