#pragma once

// Rendering and pixel probes for the trace plot tests. Positions are computed from the
// plot's documented scale (both ends of a range on the first and last pixel, rounded to
// the nearest pixel), independently of the drawing code.

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QSize>
#include <QString>
#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "trace/plot/trace_plot.h"

namespace benchcap::trace::testing {

inline constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
inline constexpr float kInf = std::numeric_limits<float>::infinity();

inline TraceDataSet plainTrace(std::vector<float> values) {
    TraceDataSet d;
    d.values = std::move(values);
    return d;
}

inline TraceDataSet pairTrace(std::vector<float> values) {
    TraceDataSet d = plainTrace(std::move(values));
    d.IsPairs = true;
    return d;
}

inline TraceDataSet symbolTable(std::vector<uint8_t> bits, int16_t bitsPerSymbol) {
    TraceDataSet d;
    d.bits = std::move(bits);
    d.IsSymbolTable = true;
    d.BitsPerSymbol = bitsPerSymbol;
    return d;
}

inline QImage render(const TraceDataSet& data, QSize size,
                     const PlotStyle& style = DefaultPlotStyle()) {
    auto image = RenderTracePlot(data, size, style);
    EXPECT_TRUE(image.ok()) << image.error();
    return image.ok() ? *image : QImage();
}

// Draws `data` with a painter over a whole image of `size`, red before so that a pixel the
// plot leaves alone shows, and gives the plot's summary.
inline QImage drawn(const TraceDataSet& data, QSize size, PlotSummary& summary) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::red);
    {
        QPainter painter(&image);
        summary = DrawTracePlot(painter, image.rect(), data, DefaultPlotStyle());
    }
    return image;
}

// Texts alone in the plot's font, without smoothing, at their baseline points on white.
inline QImage textsAlone(QSize size, const std::vector<std::pair<QPoint, QString>>& texts) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing, false);
    painter.setFont(DefaultPlotStyle().font);
    for (const auto& [at, text] : texts)
        painter.drawText(at, text);
    return image;
}

// Pixel of `from` ... `to` mapped onto `pixels` pixels.
inline int pixelOf(double v, double from, double to, int pixels) {
    return static_cast<int>(std::floor((v - from) * (pixels - 1) / (to - from) + 0.5));
}

inline bool black(const QImage& image, int x, int y) {
    return image.pixel(x, y) == qRgb(0, 0, 0);
}

inline bool white(const QImage& image, int x, int y) {
    return image.pixel(x, y) == qRgb(255, 255, 255);
}

inline int blackInRow(const QImage& image, int y) {
    int n = 0;
    for (int x = 0; x < image.width(); ++x)
        n += black(image, x, y);
    return n;
}

inline int blackInColumn(const QImage& image, int x, int y0 = 0, int y1 = -1) {
    if (y1 < 0)
        y1 = image.height() - 1;
    int n = 0;
    for (int y = y0; y <= y1; ++y)
        n += black(image, x, y);
    return n;
}

// Only black and white: the plot is drawn without smoothing.
inline bool twoColours(const QImage& image) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (!black(image, x, y) && !white(image, x, y))
                return false;
    return true;
}

}  // namespace benchcap::trace::testing
