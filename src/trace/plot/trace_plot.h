#pragma once

// The quick look at a trace: a line graph for plain traces, a constellation for paired
// values, a text listing for symbol tables. One drawing routine serves the window, the
// command line's image files and vector devices (SVG, PDF): it draws onto any QPainter.
//
// Scale. The x direction is the index of the value, the y direction the value. A line
// graph spans top = 10 * round(max / 10) + 10 down to bottom = 10 * round(min / 10) - 10
// (ties to even) and always carries the fixed grid -200 ... 200 in steps of 10 with its
// labels, plus eleven vertical lines; lines and labels outside the span are clipped
// away. Both ends of a scale map onto the first and the last pixel of the area, so the
// first and the last value, and both outer grid lines, are visible.
//
// Sound rules where the instrument world gives none:
// - top and bottom are 16-bit integers: they clamp to -32768 ... 32767 and stay at least
//   20 apart (the least the rounding rule gives), so values far beyond the 16-bit range
//   draw off the picture instead of overflowing the scale;
// - infinities and NaN do not count for min and max, and a segment (or circle) touching
//   one is not drawn: a gap, not a spike;
// - all values equal (or fewer than two finite ones) give a blank, cleared area.
//
// Speed. Data is mapped to whole device pixels here, not through a QTransform, and the
// drawing is aliased. A pixel column holding several consecutive values is then drawn as
// one vertical line from its lowest to its highest pixel plus the segments joining it to
// its neighbours: exactly the pixels of drawing every segment, at a cost bounded by the
// width of the area rather than the length of the trace.

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRect>
#include <QSize>
#include <QStringList>
#include <cstddef>

#include "base/result.h"
#include "trace/trace_data.h"

class QFontMetrics;
class QPaintDevice;

namespace benchcap::trace {

enum class PlotKind {
    Blank,          // all values equal, too few finite values, or an empty area
    Constellation,  // IsPairs
    SymbolListing,  // IsSymbolTable
    LineGraph,      // plain trace
};

struct PlotStyle {
    QColor background = Qt::white;
    QColor foreground = Qt::black;
    QFont font;  // DefaultPlotStyle() sets the system's fixed-pitch font at 9 points
    // Clear the area with the background before drawing (the window's picture box does;
    // a caller compositing onto its own background may not).
    bool clearBackground = true;
    // Draw every segment of a line graph on its own. The picture is the same pixel for
    // pixel; only the speed differs. For checking the fast way and for debugging.
    bool everySegment = false;
};

// White background, black foreground, the system fixed-pitch font at 9 points.
// Needs a QGuiApplication (fonts).
PlotStyle DefaultPlotStyle();

// What was drawn. min and max are the extremes of the finite values (NaN when there
// are none); top and bottom the line graph's clamped scale (0 for the other kinds).
struct PlotSummary {
    PlotKind kind = PlotKind::Blank;
    double min = 0;
    double max = 0;
    int top = 0;
    int bottom = 0;
    int textLines = 0;  // symbol listing: lines printed
};

// The line graph's vertical scale for the given extremes: top and bottom as above.
struct PlotScale {
    int top = 0;
    int bottom = 0;
};
PlotScale LineGraphScale(double min, double max);

// Draws the plot of `data` into `area`, in device pixels: the painter should carry no
// scaling transform (the plot maps data to whole pixels itself; a printer is best
// drawn on at its own resolution). The painter's state is saved and restored; drawing
// is clipped to `area`, and nothing outside it is touched.
PlotSummary DrawTracePlot(QPainter& painter, const QRect& area, const TraceDataSet& data,
                          const PlotStyle& style);

// Draws over the whole of a paint device (image, SVG generator, PDF writer, printer).
Result<PlotSummary> DrawTracePlot(QPaintDevice& device, const TraceDataSet& data,
                                  const PlotStyle& style);

// The plot as an image of the given size (the clipboard, a PNG file).
Result<QImage> RenderTracePlot(const TraceDataSet& data, QSize size, const PlotStyle& style);
Result<QImage> RenderTracePlot(const TraceDataSet& data, QSize size);

// The text lines of a symbol listing laid out for an area `width` pixels wide: the
// digits of the bits, "." after every `BitsPerSymbol` of them; a line is ended before a
// digit once it is wider than the area, so it may run past the edge by one symbol.
QStringList SymbolListingLines(const TraceDataSet& data, const QFontMetrics& metrics, int width);

// Largest image rendered on request, per side.
inline constexpr int kMaxPlotSide = 16384;

}  // namespace benchcap::trace
