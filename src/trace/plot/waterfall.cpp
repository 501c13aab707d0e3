#include "trace/plot/waterfall.h"

#include <QFontMetrics>
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

namespace benchcap::trace {
namespace {

constexpr float kNoValue = std::numeric_limits<float>::quiet_NaN();

// The map's colours, interpolated between a few stops of the viridis map: perceptually
// even, brightness rising from end to end, readable to the colour blind and in grey.
// 255 of them, so that a colour level (0 for no value) fits a byte.
constexpr int kColours = 255;
using ColourTable = std::array<QRgb, kColours>;

ColourTable makeColourTable() {
    constexpr std::array<QRgb, 9> stops = {0x440154, 0x472c7a, 0x3b528b, 0x2c728e, 0x21918c,
                                           0x28ae80, 0x5ec962, 0xaddc30, 0xfde725};
    ColourTable table{};
    for (int i = 0; i < kColours; ++i) {
        const double at = double(i) * (stops.size() - 1) / (kColours - 1);
        const std::size_t k = std::min(static_cast<std::size_t>(at), stops.size() - 2);
        const double t = at - double(k);
        const auto mix = [&](int shift) {
            const double a = (stops[k] >> shift) & 0xff, b = (stops[k + 1] >> shift) & 0xff;
            return static_cast<int>(std::lround(a + (b - a) * t));
        };
        table[i] = qRgb(mix(16), mix(8), mix(0));
    }
    return table;
}

const ColourTable& colourTable() {
    static const ColourTable table = makeColourTable();
    return table;
}

// The table entry of a fraction already within 0 ... 1.
std::size_t colourIndex(double fraction) {
    return static_cast<std::size_t>(fraction * (kColours - 1) + 0.5);
}

// The larger of two cells, a missing value (NaN) giving way to any value.
float keep(float a, float b) {
    return b > a || a != a ? b : a;
}

float cleaned(double v) {
    return std::isfinite(v) ? static_cast<float>(v) : kNoValue;
}

bool sameBits(double a, double b) {
    return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

bool sameAxis(const AnalyzerAxis& a, const AnalyzerAxis& b) {
    return a.count == b.count && sameBits(a.start, b.start) && sameBits(a.scale, b.scale) &&
           sameBits(a.divisor, b.divisor);
}

// Bitwise, so that an axis holding NaN still equals itself.
bool sameFloats(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

// Reserved for each colour scale label, so that the cells do not shift as the range grows.
constexpr const char* kWidestLabel = "-8.888 M";

struct Geometry {
    QRect cells, bar;
    int labelsLeft = 0, labelsWidth = 0, gap = 0;
};

Geometry geometryOf(const QRect& area, const QFontMetrics& fm, const QString& min,
                    const QString& max) {
    Geometry g;
    g.gap = std::max(2, fm.horizontalAdvance(QLatin1Char('0')) / 2);
    g.labelsWidth = std::max({fm.horizontalAdvance(QLatin1String(kWidestLabel)),
                              fm.horizontalAdvance(min), fm.horizontalAdvance(max)});
    const int barWidth = std::max(6, fm.height());
    const int right = 2 * g.gap + barWidth + g.gap + g.labelsWidth;
    const int bottom = g.gap + fm.height();
    g.cells = QRect(area.left(), area.top(), area.width() - right, area.height() - bottom);
    if (g.cells.isEmpty())
        return Geometry{};
    g.bar = QRect(g.cells.right() + 1 + 2 * g.gap, g.cells.top(), barWidth, g.cells.height());
    g.labelsLeft = g.bar.right() + 1 + g.gap;
    return g;
}

}  // namespace

QRgb WaterfallColour(double fraction) {
    return colourTable()[colourIndex(fraction > 0 ? std::min(fraction, 1.0) : 0.0)];
}

QString EngineeringLabel(double value) {
    if (!std::isfinite(value))
        return QString::number(value);
    if (value == 0)
        return QStringLiteral("0");
    static constexpr std::array<const char*, 11> prefixes = {"f", "p", "n", "u", "m", "",
                                                             "k", "M", "G", "T", "P"};
    int exponent = static_cast<int>(std::floor(std::log10(std::fabs(value)) / 3)) * 3;
    QString digits = QString::number(value / std::pow(10.0, exponent), 'g', 4);
    // 999.96 rounds up to the next prefix; an inexact log10 may also land one too low.
    if (std::fabs(digits.toDouble()) >= 1000) {
        exponent += 3;
        digits = QString::number(value / std::pow(10.0, exponent), 'g', 4);
    }
    if (exponent < -15 || exponent > 15)
        return QString::number(value, 'g', 4);
    const char* prefix = prefixes[static_cast<std::size_t>(exponent / 3 + 5)];
    return *prefix ? digits + QLatin1Char(' ') + QLatin1String(prefix) : digits;
}

Waterfall::Waterfall(std::size_t maxLines, std::size_t maxColumns)
    : maxLines_(std::max<std::size_t>(maxLines, 1)),
      maxColumns_(std::max<std::size_t>(maxColumns, 1)),
      min_(kNoValue),
      max_(kNoValue) {}

void Waterfall::clear() {
    restart(Layout{});
}

void Waterfall::restart(Layout layout) {
    layout_ = std::move(layout);
    columns_ = std::min(layout_.points, maxColumns_);
    lines_ = 0;
    perLine_ = 1;
    inLastLine_ = 0;
    acquisitions_ = 0;
    min_ = max_ = kNoValue;
    cells_.assign(maxLines_ * columns_, kNoValue);
    row_.assign(columns_, kNoValue);
    staleFrom_ = 0;
}

float Waterfall::cell(int line, int column) const {
    if (line < 0 || column < 0 || std::size_t(line) >= lines_ || std::size_t(column) >= columns_)
        return kNoValue;
    return cells_[std::size_t(line) * columns_ + std::size_t(column)];
}

template <typename Get>
void Waterfall::reduce(std::size_t points, Get get) {
    if (points == columns_) {
        for (std::size_t i = 0; i < points; ++i)
            row_[i] = cleaned(get(i));
        return;
    }
    // Bin c takes points [c * points / columns, (c + 1) * points / columns): every bin
    // gets at least one point, and their peak.
    std::size_t begin = 0;
    for (std::size_t c = 0; c < columns_; ++c) {
        const std::size_t end = (c + 1) * points / columns_;
        float peak = kNoValue;
        for (std::size_t i = begin; i < end; ++i)
            peak = keep(peak, cleaned(get(i)));
        row_[c] = peak;
        begin = end;
    }
}

void Waterfall::add(const TraceDataSet& data) {
    Source source = Source::Values;
    std::size_t points = data.values.size();
    if (data.IsSymbolTable && !data.IsNetworkTrace) {
        source = Source::Bits;
        points = data.bits.size();
    } else if (data.IsPairs) {
        source = Source::Pairs;
        points = data.values.size() / 2;
    }
    if (points == 0)
        return;
    if (acquisitions_ == 0 || source != layout_.source || data.IsNetworkTrace != layout_.network ||
        points != layout_.points || !sameAxis(data.axis, layout_.axis) ||
        !sameFloats(data.axis32, layout_.axis32)) {
        restart(Layout{source, data.IsNetworkTrace, points, data.axis, data.axis32});
    }

    const float* v = data.values.data();
    switch (source) {
        case Source::Values:
            reduce(points, [v](std::size_t i) { return double(v[i]); });
            break;
        case Source::Pairs:
            reduce(points, [v](std::size_t i) {
                const double re = v[2 * i], im = v[2 * i + 1];
                return std::sqrt(re * re + im * im);
            });
            break;
        case Source::Bits: {
            const uint8_t* bits = data.bits.data();
            reduce(points, [bits](std::size_t i) { return double(bits[i]); });
            break;
        }
    }

    float low = std::numeric_limits<float>::infinity(), high = -low;
    for (const float x : row_) {
        low = x < low ? x : low;
        high = x > high ? x : high;
    }
    if (low <= high) {
        min_ = std::isnan(min_) ? low : std::min<double>(min_, low);
        max_ = std::isnan(max_) ? high : std::max<double>(max_, high);
    }

    if (lines_ == maxLines_ && inLastLine_ == perLine_)
        mergeLines();
    if (lines_ > 0 && inLastLine_ < perLine_) {
        float* line = &cells_[(lines_ - 1) * columns_];
        for (std::size_t c = 0; c < columns_; ++c)
            line[c] = keep(line[c], row_[c]);
        ++inLastLine_;
    } else {
        std::copy(row_.begin(), row_.end(), cells_.begin() + std::ptrdiff_t(lines_ * columns_));
        ++lines_;
        inLastLine_ = 1;
    }
    staleFrom_ = std::min(staleFrom_, lines_ - 1);
    ++acquisitions_;
}

void Waterfall::mergeLines() {
    // Line i takes lines 2i and 2i + 1: it is written only after both are read.
    const std::size_t pairs = lines_ / 2;
    for (std::size_t i = 0; i < pairs; ++i) {
        const float* a = &cells_[2 * i * columns_];
        const float* b = a + columns_;
        float* out = &cells_[i * columns_];
        for (std::size_t c = 0; c < columns_; ++c)
            out[c] = keep(a[c], b[c]);
    }
    if (lines_ % 2 == 1) {
        // The odd line out stays alone: half full at the doubled count.
        if (pairs > 0) {
            std::copy_n(cells_.begin() + std::ptrdiff_t((lines_ - 1) * columns_), columns_,
                        cells_.begin() + std::ptrdiff_t(pairs * columns_));
        }
        inLastLine_ = perLine_;
        lines_ = pairs + 1;
    } else {
        inLastLine_ = 2 * perLine_;
        lines_ = pairs;
    }
    perLine_ *= 2;
    staleFrom_ = 0;
}

void Waterfall::levelLine(std::size_t line) const {
    const float* in = &cells_[line * columns_];
    uint8_t* out = &levels_[line * columns_];
    // All values equal: the middle of the map, not a division by zero.
    const bool spread = max_ > min_;
    const double width = max_ - min_;
    for (std::size_t c = 0; c < columns_; ++c) {
        const float x = in[c];
        out[c] =
            x != x ? 0 : static_cast<uint8_t>(1 + colourIndex(spread ? (x - min_) / width : 0.5));
    }
}

void Waterfall::refreshLevels() const {
    if (levels_.size() != cells_.size()) {
        levels_.assign(cells_.size(), 0);
        staleFrom_ = 0;
    }
    if (!sameBits(levelsMin_, min_) || !sameBits(levelsMax_, max_)) {
        levelsMin_ = min_;
        levelsMax_ = max_;
        staleFrom_ = 0;
    }
    for (std::size_t line = staleFrom_; line < lines_; ++line)
        levelLine(line);
    staleFrom_ = lines_;
}

void Waterfall::renderDisplay(QSize pixels, QRgb background) const {
    const std::size_t rows = std::min(lines_, std::size_t(pixels.height()));
    const std::size_t cols = std::min(columns_, std::size_t(pixels.width()));
    if (display_.size() != QSize(int(cols), int(rows)))
        display_ = QImage(int(cols), int(rows), QImage::Format_RGB32);
    std::array<QRgb, kColours + 1> palette;
    palette[0] = background;
    std::copy(colourTable().begin(), colourTable().end(), palette.begin() + 1);
    peaks_.resize(columns_);
    for (std::size_t r = 0; r < rows; ++r) {
        const std::size_t first = r * lines_ / rows, end = (r + 1) * lines_ / rows;
        std::copy_n(&levels_[first * columns_], columns_, peaks_.begin());
        for (std::size_t line = first + 1; line < end; ++line) {
            const uint8_t* in = &levels_[line * columns_];
            for (std::size_t c = 0; c < columns_; ++c)
                peaks_[c] = std::max(peaks_[c], in[c]);
        }
        auto* out = reinterpret_cast<QRgb*>(display_.scanLine(int(r)));
        if (cols == columns_) {
            for (std::size_t c = 0; c < cols; ++c)
                out[c] = palette[peaks_[c]];
            continue;
        }
        for (std::size_t c = 0; c < cols; ++c) {
            const auto from = peaks_.begin() + std::ptrdiff_t(c * columns_ / cols);
            const auto to = peaks_.begin() + std::ptrdiff_t((c + 1) * columns_ / cols);
            out[c] = palette[*std::max_element(from, to)];
        }
    }
}

Waterfall::Labels Waterfall::labels() const {
    Labels l;
    if (!std::isnan(min_)) {
        l.min = EngineeringLabel(min_);
        l.max = EngineeringLabel(max_);
    }
    double first = 0, middle = 0, last = 0;
    std::size_t n = 0;
    if (layout_.network) {
        const std::vector<float>& a = layout_.axis32;
        n = a.size();
        if (n > 0) {
            first = a.front();
            last = a.back();
            // A network sweep may be logarithmic: the value at the middle, not the mean.
            middle = n % 2 == 1 ? a[n / 2] : (double(a[n / 2 - 1]) + a[n / 2]) / 2;
        }
    } else if (layout_.axis.count > 0) {
        n = layout_.axis.count;
        first = layout_.axis.at(0);
        last = layout_.axis.at(n - 1);
        middle = first + (last - first) / 2;
    }
    if (n > 0) {
        l.first = EngineeringLabel(first);
        l.last = EngineeringLabel(last);
        if (n > 2)
            l.middle = EngineeringLabel(middle);
    }
    return l;
}

QRect Waterfall::cellArea(const QRect& area, const PlotStyle& style) const {
    const Labels l = labels();
    return geometryOf(area, QFontMetrics(style.font), l.min, l.max).cells;
}

void Waterfall::draw(QPainter& painter, const QRect& area, const PlotStyle& style) const {
    if (area.isEmpty())
        return;
    painter.save();
    painter.setClipRect(area, Qt::IntersectClip);
    if (style.clearBackground)
        painter.fillRect(area, style.background);
    const Labels l = labels();
    QFont font = style.font;
    font.setStyleStrategy(QFont::NoAntialias);
    const QFontMetrics fm(font, painter.device());
    const Geometry g = geometryOf(area, fm, l.min, l.max);
    if (empty() || g.cells.isEmpty()) {
        painter.restore();
        return;
    }

    refreshLevels();
    renderDisplay(g.cells.size(), style.background.rgb());
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.setRenderHint(QPainter::TextAntialiasing, false);
    painter.drawImage(g.cells, display_);

    // The colour scale: the top row the maximum, the bottom row the minimum.
    const int h = g.bar.height();
    for (int y = 0; y < h; ++y) {
        const double fraction = h > 1 ? 1.0 - double(y) / (h - 1) : 0.5;
        painter.fillRect(QRect(g.bar.left(), g.bar.top() + y, g.bar.width(), 1),
                         QColor(WaterfallColour(fraction)));
    }

    painter.setPen(style.foreground);
    painter.setFont(font);
    const int th = fm.height();
    painter.drawText(QRect(g.labelsLeft, g.bar.top(), g.labelsWidth, th),
                     Qt::AlignLeft | Qt::AlignTop, l.max);
    painter.drawText(QRect(g.labelsLeft, g.bar.bottom() + 1 - th, g.labelsWidth, th),
                     Qt::AlignLeft | Qt::AlignTop, l.min);

    // The stimulus axis: first value at the left edge, last at the right, the middle one
    // centred when it keeps a gap to both.
    const int y = g.cells.bottom() + 1 + g.gap;
    const QRect row(g.cells.left(), y, g.cells.width(), th);
    const int firstWidth = fm.horizontalAdvance(l.first);
    const int lastWidth = fm.horizontalAdvance(l.last);
    painter.drawText(row, Qt::AlignLeft | Qt::AlignTop, l.first);
    if (row.width() >= firstWidth + lastWidth + 2 * g.gap)
        painter.drawText(row, Qt::AlignRight | Qt::AlignTop, l.last);
    const int middleWidth = fm.horizontalAdvance(l.middle);
    const int middleLeft = row.center().x() - middleWidth / 2;
    if (middleLeft >= row.left() + firstWidth + 2 * g.gap &&
        middleLeft + middleWidth <= row.right() + 1 - lastWidth - 2 * g.gap) {
        painter.drawText(QRect(middleLeft, y, middleWidth, th), Qt::AlignLeft | Qt::AlignTop,
                         l.middle);
    }
    painter.restore();
}

QImage Waterfall::image(QSize size, const PlotStyle& style) const {
    if (size.width() < 1 || size.height() < 1 || size.width() > kMaxPlotSide ||
        size.height() > kMaxPlotSide) {
        return QImage();
    }
    QImage out(size, QImage::Format_RGB32);
    if (out.isNull())
        return out;
    out.fill(style.background);
    QPainter painter(&out);
    draw(painter, out.rect(), style);
    painter.end();
    return out;
}

}  // namespace benchcap::trace
