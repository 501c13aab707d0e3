#include "trace/plot/trace_plot.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QLine>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPen>
#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <span>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "bus/number.h"

namespace benchcap::trace {
namespace {

// Device coordinates stay within this bound: far enough outside any picture that a
// clamped end point moves the visible part of its segment by a pixel at most (for the
// largest picture), near enough that the rasterizer's fixed-point arithmetic cannot
// overflow.
constexpr double kFarPixel = 1 << 28;

// Lines go to the painter in batches so that a full drawing of a long trace does not
// hold a second copy of it.
constexpr std::size_t kLineBatch = 8192;

// Linear map of a data range onto whole pixels: `from` lands on pixel `base`, `to` on
// pixel base + pixels - 1. Works for a falling range (y grows upwards).
class PixelMap {
  public:
    PixelMap(double from, double to, int base, int pixels)
        : from_(from), base_(base), scale_((pixels - 1) / (to - from)) {}

    int operator()(double v) const {
        const double p = std::clamp(base_ + (v - from_) * scale_, -kFarPixel, kFarPixel);
        return static_cast<int>(std::floor(p + 0.5));
    }
    // The same for v >= from on a rising range: no floor call, for the per-value loop.
    int forward(double v) const { return base_ + static_cast<int>((v - from_) * scale_ + 0.5); }

    // Past the last index of [i, n) that forward() puts in column x (from_ = 0).
    std::size_t endOfColumn(int x, std::size_t i, std::size_t n) const {
        if (scale_ <= 0)
            return n;
        const double estimate = std::ceil((x - base_ + 0.5) / scale_);
        std::size_t end = estimate >= double(n) ? n : std::max(i + 1, std::size_t(estimate));
        while (end > i + 1 && forward(double(end - 1)) > x)
            --end;
        while (end < n && forward(double(end)) == x)
            ++end;
        return end;
    }

  private:
    double from_;
    int base_;
    double scale_;
};

bool finite(double v) {
    return std::isfinite(v);
}

bool special(float v) {
    // Exponent all ones: infinity or NaN.
    return (std::bit_cast<uint32_t>(v) & 0x7f800000u) == 0x7f800000u;
}

// The extremes of n > 0 values, and whether any of them is infinite or NaN (the
// extremes then mean nothing). Branch-free and four values at a time: it runs over
// every value of the trace twice, and compilers keep float min/max reductions scalar.
struct Extent {
    float low, high;
    bool special;
};

Extent extentOf(const float* v, std::size_t n) {
    Extent e{v[0], v[0], false};
    std::size_t k = 0;
#if defined(__SSE2__)
    if (n >= 8) {
        __m128 lo0 = _mm_loadu_ps(v), hi0 = lo0, lo1 = lo0, hi1 = lo0;
        const __m128i exponent = _mm_set1_epi32(0x7f800000);
        __m128i bad = _mm_setzero_si128();
        for (; k + 8 <= n; k += 8) {
            const __m128 a = _mm_loadu_ps(v + k), b = _mm_loadu_ps(v + k + 4);
            lo0 = _mm_min_ps(lo0, a);
            hi0 = _mm_max_ps(hi0, a);
            lo1 = _mm_min_ps(lo1, b);
            hi1 = _mm_max_ps(hi1, b);
            bad = _mm_or_si128(
                bad, _mm_cmpeq_epi32(_mm_and_si128(_mm_castps_si128(a), exponent), exponent));
            bad = _mm_or_si128(
                bad, _mm_cmpeq_epi32(_mm_and_si128(_mm_castps_si128(b), exponent), exponent));
        }
        alignas(16) float lows[4], highs[4];
        _mm_store_ps(lows, _mm_min_ps(lo0, lo1));
        _mm_store_ps(highs, _mm_max_ps(hi0, hi1));
        e.low = std::min({lows[0], lows[1], lows[2], lows[3]});
        e.high = std::max({highs[0], highs[1], highs[2], highs[3]});
        e.special = _mm_movemask_epi8(bad) != 0;
    }
#endif
    for (; k < n; ++k) {
        e.low = v[k] < e.low ? v[k] : e.low;
        e.high = v[k] > e.high ? v[k] : e.high;
        e.special |= special(v[k]);
    }
    return e;
}

// The elements of TraceValues: the bits of a symbol table, otherwise the float values.
struct Elements {
    std::span<const float> values;
    std::span<const uint8_t> bits;
    bool useBits = false;

    std::size_t size() const { return useBits ? bits.size() : values.size(); }
    double operator[](std::size_t i) const { return useBits ? bits[i] : values[i]; }
};

Elements elementsOf(const TraceDataSet& data) {
    Elements e;
    e.useBits = data.IsSymbolTable && !data.IsNetworkTrace;
    e.values = data.values;
    e.bits = data.bits;
    return e;
}

struct Extremes {
    double min = std::numeric_limits<double>::quiet_NaN();
    double max = std::numeric_limits<double>::quiet_NaN();
    bool any() const { return !std::isnan(min); }
};

Extremes extremesOf(const Elements& e) {
    Extremes x;
    if (e.useBits) {
        if (!e.bits.empty()) {
            const auto [lo, hi] = std::minmax_element(e.bits.begin(), e.bits.end());
            x.min = *lo;
            x.max = *hi;
        }
        return x;
    }
    // Blocks without infinities and NaN take the fast way.
    constexpr std::size_t kBlock = 4096;
    float lo = std::numeric_limits<float>::infinity();
    float hi = -lo;
    bool any = false;
    for (std::size_t i = 0; i < e.values.size(); i += kBlock) {
        const std::size_t n = std::min(kBlock, e.values.size() - i);
        const float* block = e.values.data() + i;
        const Extent extent = extentOf(block, n);
        if (!extent.special) {
            any = true;
            lo = std::min(lo, extent.low);
            hi = std::max(hi, extent.high);
            continue;
        }
        for (std::size_t k = 0; k < n; ++k) {
            if (special(block[k]))
                continue;
            any = true;
            lo = std::min(lo, block[k]);
            hi = std::max(hi, block[k]);
        }
    }
    if (any) {
        x.min = lo;
        x.max = hi;
    }
    return x;
}

class LineSink {
  public:
    // Spans are filled as rectangles only on pixels: a vector device (SVG, PDF) gets
    // them as hairlines like every other line.
    explicit LineSink(QPainter& painter)
        : painter_(painter),
          fillSpans_(painter.paintEngine() &&
                     painter.paintEngine()->type() == QPaintEngine::Raster &&
                     painter.worldTransform().type() <= QTransform::TxTranslate) {
        lines_.reserve(kLineBatch);
        spans_.reserve(kLineBatch);
    }
    ~LineSink() { flush(); }
    LineSink(const LineSink&) = delete;
    LineSink& operator=(const LineSink&) = delete;

    void add(int x1, int y1, int x2, int y2) {
        lines_.emplace_back(x1, y1, x2, y2);
        if (lines_.size() == kLineBatch)
            flush();
    }
    // A vertical line from row y0 down to row y1: filled as a one-pixel-wide rectangle,
    // the same pixels at a fraction of the cost of stepping along a line.
    void addSpan(int x, int y0, int y1) {
        if (!fillSpans_) {
            add(x, y0, x, y1);
            return;
        }
        spans_.emplace_back(x, y0, 1, y1 - y0 + 1);
        if (spans_.size() == kLineBatch)
            flush();
    }
    void flush() {
        if (!lines_.empty())
            painter_.drawLines(lines_.data(), static_cast<int>(lines_.size()));
        lines_.clear();
        if (!spans_.empty()) {
            const QBrush ink(painter_.pen().color());
            for (const QRect& r : spans_)
                painter_.fillRect(r, ink);
        }
        spans_.clear();
    }

  private:
    QPainter& painter_;
    bool fillSpans_;
    std::vector<QLine> lines_;
    std::vector<QRect> spans_;
};

// Every segment between two finite neighbours, each on its own.
void drawEverySegment(LineSink& sink, std::span<const float> v, const PixelMap& mapX,
                      const PixelMap& mapY) {
    for (std::size_t i = 1; i < v.size(); ++i) {
        if (finite(v[i - 1]) && finite(v[i])) {
            sink.add(mapX.forward(double(i - 1)), mapY(v[i - 1]), mapX.forward(double(i)),
                     mapY(v[i]));
        }
    }
}

// The same pixels, one pixel column at a time. The consecutive values of a run (finite
// values between gaps) that share a column are joined by vertical segments in that
// column; their union is the column's span from the lowest to the highest of them, since
// each segment covers both its end pixels. Rounding to pixels is monotonic, so the span's
// ends are the pixels of the run's largest and smallest value in the column. The
// segments between columns are drawn as they are, except where they cannot add a pixel.
class ColumnDrawer {
  public:
    ColumnDrawer(LineSink& sink, const PixelMap& mapY) : sink_(sink), mapY_(mapY) {}

    // `count` consecutive values of a run in column x, from `first` to `last`.
    void column(int x, float first, float last, float low, float high, std::size_t count) {
        const int top = mapY_(high), bottom = mapY_(low);
        const bool span = count >= 2;
        if (span)
            sink_.addSpan(x, top, bottom);
        if (havePrevious_) {
            // A segment to the next column stays within the rows of its ends: when those
            // rows lie inside both columns' spans it adds nothing (dense traces mostly).
            const int a = previousY_, b = mapY_(first);
            const bool covered = span && previousSpan_ && x == previousColumn_ + 1 &&
                                 std::min(a, b) >= std::max(previousTop_, top) &&
                                 std::max(a, b) <= std::min(previousBottom_, bottom);
            if (!covered)
                sink_.add(previousColumn_, a, x, b);
        }
        havePrevious_ = true;
        previousColumn_ = x;
        previousY_ = mapY_(last);
        previousSpan_ = span;
        previousTop_ = top;
        previousBottom_ = bottom;
    }
    void gap() { havePrevious_ = false; }

  private:
    LineSink& sink_;
    const PixelMap& mapY_;
    bool havePrevious_ = false;  // the run has a column to join to
    bool previousSpan_ = false;
    int previousColumn_ = 0, previousY_ = 0, previousTop_ = 0, previousBottom_ = 0;
};

// A column holding a gap: each finite run in it on its own.
void columnWithGaps(ColumnDrawer& drawer, int x, std::span<const float> v) {
    std::size_t k = 0;
    while (k < v.size()) {
        if (special(v[k])) {
            drawer.gap();
            ++k;
            continue;
        }
        const std::size_t start = k;
        float low = v[k], high = v[k];
        for (; k < v.size() && !special(v[k]); ++k) {
            low = std::min(low, v[k]);
            high = std::max(high, v[k]);
        }
        drawer.column(x, v[start], v[k - 1], low, high, k - start);
    }
}

void drawByColumns(LineSink& sink, std::span<const float> v, const PixelMap& mapX,
                   const PixelMap& mapY) {
    ColumnDrawer drawer(sink, mapY);
    const std::size_t n = v.size();
    std::size_t i = 0;
    while (i < n) {
        const int x = mapX.forward(double(i));
        const std::size_t end = mapX.endOfColumn(x, i, n);
        const float* p = v.data() + i;
        const std::size_t m = end - i;
        const Extent extent = extentOf(p, m);
        if (extent.special)
            columnWithGaps(drawer, x, {p, m});
        else
            drawer.column(x, p[0], p[m - 1], extent.low, extent.high, m);
        i = end;
    }
}

void drawLineGraph(QPainter& painter, const QRect& area, std::span<const float> v,
                   const PlotScale& scale, const PlotStyle& style) {
    const auto hi = static_cast<double>(v.size() - 1);
    const PixelMap mapX(0, hi, area.left(), area.width());
    const PixelMap mapY(scale.top, scale.bottom, area.top(), area.height());
    {
        LineSink sink(painter);
        if (style.everySegment)
            drawEverySegment(sink, v, mapX, mapY);
        else
            drawByColumns(sink, v, mapX, mapY);
    }

    // The grid goes over the trace: fixed lines at -200 ... 200 whatever the values.
    const QFontMetrics metrics(painter.font(), painter.device());
    const int labelDx =
        static_cast<int>(std::lround(metrics.horizontalAdvance(QLatin1Char('0')) / 2.0));
    const int labelDy = static_cast<int>(std::lround(metrics.height() / 4.0));
    for (int y = -200; y <= 200; y += 10) {
        const int py = mapY(y);
        // Nothing of a line or label that starts below the area or a text height above
        // it can be seen.
        if (py > area.bottom() || py < area.top() - metrics.height() - labelDy)
            continue;
        painter.drawLine(area.right(), py, area.left(), py);
        painter.drawText(QPoint(area.left() + labelDx, py + labelDy + metrics.ascent()),
                         QString::number(y));
    }
    for (int k = 0; k <= 10; ++k) {
        const int px = mapX.forward(k * hi / 10.0);
        painter.drawLine(px, area.top(), px, area.bottom());
    }
}

void drawConstellation(QPainter& painter, const QRect& area, const Elements& e, const Extremes& x) {
    // Both axes cover min ... max; the y axis grows upwards.
    const PixelMap mapX(x.min, x.max, area.left(), area.width());
    const PixelMap mapY(x.max, x.min, area.top(), area.height());
    // A circle's radius is a four-hundredth of the area's width, a true circle on screen.
    const double radius = area.width() / 400.0;
    LineSink sink(painter);
    for (std::size_t i = 0; i + 3 < e.size(); i += 2) {
        const double x0 = e[i], y0 = e[i + 1], x1 = e[i + 2], y1 = e[i + 3];
        const bool here = finite(x0) && finite(y0);
        if (here && finite(x1) && finite(y1))
            sink.add(mapX(x0), mapY(y0), mapX(x1), mapY(y1));
        if (here)
            painter.drawEllipse(QPointF(mapX(x0), mapY(y0)), radius, radius);
    }
}

QString digitsOf(double value) {
    if (value == 0)
        return QStringLiteral("0");
    if (value == 1)
        return QStringLiteral("1");
    return QString::number(value);
}

int drawSymbolListing(QPainter& painter, const QRect& area, const TraceDataSet& data) {
    const QFontMetrics metrics(painter.font(), painter.device());
    const QStringList lines = SymbolListingLines(data, metrics, area.width());
    int top = area.top();
    for (const QString& line : lines) {
        if (top > area.bottom())
            break;
        painter.drawText(QPoint(area.left(), top + metrics.ascent()), line);
        top += metrics.height();
    }
    return static_cast<int>(lines.size());
}

}  // namespace

PlotStyle DefaultPlotStyle() {
    PlotStyle style;
    style.font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    style.font.setPointSize(9);
    style.font.setStyleStrategy(QFont::NoAntialias);
    return style;
}

PlotScale LineGraphScale(double min, double max) {
    // Both ends are 16-bit integers at least 20 apart; clamping the top into
    // [L + 20, U] and the bottom into [L, U - 20] keeps that distance.
    constexpr double kLow = std::numeric_limits<int16_t>::min();
    constexpr double kHigh = std::numeric_limits<int16_t>::max();
    const double top = 10 * bus::RoundHalfEven(max / 10) + 10;
    const double bottom = 10 * bus::RoundHalfEven(min / 10) - 10;
    PlotScale s;
    s.top = static_cast<int>(std::clamp(top, kLow + 20, kHigh));
    s.bottom = static_cast<int>(std::clamp(bottom, kLow, kHigh - 20));
    return s;
}

QStringList SymbolListingLines(const TraceDataSet& data, const QFontMetrics& metrics, int width) {
    const Elements e = elementsOf(data);
    // Measuring the growing line at every digit costs a quadratic time per line; the sum
    // of the characters' advances tracks it, and the line itself is measured only near
    // the edge.
    const double advance0 = metrics.horizontalAdvance(QLatin1Char('0'));
    const double advanceDot = metrics.horizontalAdvance(QLatin1Char('.'));
    const double slack = 16 + width / 32.0;

    QStringList lines;
    QString line;
    double estimate = 0;
    int counter = 0;
    for (std::size_t i = 0; i < e.size(); ++i) {
        if (estimate > width - slack && metrics.horizontalAdvance(line) > width) {
            lines.push_back(line);
            line.clear();
            estimate = 0;
        }
        const QString digits = digitsOf(e[i]);
        line += digits;
        estimate += advance0 * digits.size();
        if (++counter == data.BitsPerSymbol) {
            line += QLatin1Char('.');
            estimate += advanceDot;
            counter = 0;
        }
    }
    if (!line.isEmpty())
        lines.push_back(line);
    return lines;
}

PlotSummary DrawTracePlot(QPainter& painter, const QRect& area, const TraceDataSet& data,
                          const PlotStyle& style) {
    PlotSummary summary;
    const Elements e = elementsOf(data);
    const Extremes x = extremesOf(e);
    summary.min = x.min;
    summary.max = x.max;
    if (area.isEmpty())
        return summary;

    painter.save();
    painter.setClipRect(area, Qt::IntersectClip);
    if (style.clearBackground)
        painter.fillRect(area, style.background);
    // Whole pixels and no smoothing: the picture of a column is then exactly the union
    // of its segments, which the fast drawing relies on.
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::TextAntialiasing, false);
    QPen pen(style.foreground);
    pen.setWidth(1);
    pen.setCosmetic(true);
    pen.setCapStyle(Qt::SquareCap);  // a segment covers both its end pixels
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    // Black on white, as the instrument world prints it: no grey glyph edges either.
    QFont font = style.font;
    font.setStyleStrategy(QFont::NoAntialias);
    painter.setFont(font);

    if (!x.any() || x.min == x.max) {
        // nothing more: a cleared area
    } else if (data.IsPairs) {
        summary.kind = PlotKind::Constellation;
        drawConstellation(painter, area, e, x);
    } else if (data.IsSymbolTable) {
        summary.kind = PlotKind::SymbolListing;
        summary.textLines = drawSymbolListing(painter, area, data);
    } else {
        summary.kind = PlotKind::LineGraph;
        const PlotScale scale = LineGraphScale(x.min, x.max);
        summary.top = scale.top;
        summary.bottom = scale.bottom;
        drawLineGraph(painter, area, data.values, scale, style);
    }
    painter.restore();
    return summary;
}

Result<PlotSummary> DrawTracePlot(QPaintDevice& device, const TraceDataSet& data,
                                  const PlotStyle& style) {
    QPainter painter;
    if (!painter.begin(&device)) {
        return fail(
            "Cannot draw the trace plot: the output (image, SVG or PDF file, printer) "
            "refused drawing. Check that the output file can be created and try again.");
    }
    const PlotSummary summary =
        DrawTracePlot(painter, QRect(0, 0, device.width(), device.height()), data, style);
    if (!painter.end())
        return fail("Cannot finish the trace plot: the output refused the finished drawing.");
    return summary;
}

Result<QImage> RenderTracePlot(const TraceDataSet& data, QSize size, const PlotStyle& style) {
    const std::string asked = std::to_string(size.width()) + " x " + std::to_string(size.height());
    if (size.width() < 1 || size.height() < 1 || size.width() > kMaxPlotSide ||
        size.height() > kMaxPlotSide) {
        return fail("Cannot draw a trace plot of " + asked + " pixels: each side must be 1 to " +
                    std::to_string(kMaxPlotSide) + " pixels.");
    }
    QImage image(size, QImage::Format_RGB32);
    if (image.isNull()) {
        return fail("Not enough memory for a trace plot of " + asked +
                    " pixels: choose a smaller picture.");
    }
    QPainter painter(&image);
    DrawTracePlot(painter, image.rect(), data, style);
    painter.end();
    return image;
}

Result<QImage> RenderTracePlot(const TraceDataSet& data, QSize size) {
    return RenderTracePlot(data, size, DefaultPlotStyle());
}

}  // namespace benchcap::trace
