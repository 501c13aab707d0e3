#pragma once

// The waterfall of a recording: one line per acquisition (or per group of them), time
// running downwards with the newest at the bottom, the trace's values as colour. Beside it
// a colour scale labelled with its min and max, below it the stimulus axis labelled with
// its first, middle (when it fits) and last value.
//
// Memory stays bounded however long the recording runs: at most maxLines x maxColumns
// cells of 4 bytes, a byte per cell for their colours, and the picture of the cells at no
// more than one pixel each. The whole recording stays visible: when all lines are taken,
// adjacent pairs merge and each line stands for twice as many acquisitions from then on.
// A trace longer than maxColumns is reduced to maxColumns bins.
//
// Both reductions keep the per-cell maximum, and so does drawing into fewer pixels than
// cells: a waterfall is watched for the spur that came once in a night, and a mean (or
// skipping cells) would wash it into the noise floor.
//
// Values of a cell: a plain trace its value, a paired trace the magnitude of each pair, a
// symbol table its bits (0 or 1). NaN and infinities are no values: they never count for
// the colour range, and a cell with nothing else draws in the background colour.
//
// A trace whose kind, length or stimulus axis differs from the previous one starts the
// waterfall afresh: its columns would no longer mean the same stimulus. An empty trace is
// no acquisition and is ignored.
//
// Not thread-safe, not even draw() (it works out the colours of new cells): the recorder
// and the window share a Waterfall under the caller's lock.

#include <QImage>
#include <QPainter>
#include <QRect>
#include <QSize>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "trace/plot/trace_plot.h"
#include "trace/trace_data.h"

namespace benchcap::trace {

class Waterfall {
  public:
    explicit Waterfall(std::size_t maxLines = 1024, std::size_t maxColumns = 1024);

    // One acquisition, the newest. Cheap: its colours are worked out in draw().
    void add(const TraceDataSet& data);
    // Acquisitions in the waterfall since it started (afresh).
    int64_t acquisitions() const { return acquisitions_; }
    bool empty() const { return acquisitions_ == 0; }
    void clear();

    // Draws the waterfall with its colour scale and labelled stimulus axis into `area`, in
    // device pixels. The painter's state is saved and restored; nothing outside `area` is
    // touched. Without acquisitions only the background is drawn.
    void draw(QPainter& painter, const QRect& area, const PlotStyle& style) const;
    // The drawing as an image (the PNG at the end of a recording); a null image for a size
    // outside 1 ... kMaxPlotSide per side.
    QImage image(QSize size, const PlotStyle& style) const;
    // Where draw() puts the cells inside `area` (empty when there is no room for them).
    QRect cellArea(const QRect& area, const PlotStyle& style) const;

    // The cells: lines() x columns(), line 0 the oldest. A cell without value is NaN.
    int lines() const { return static_cast<int>(lines_); }
    int columns() const { return static_cast<int>(columns_); }
    float cell(int line, int column) const;
    // Acquisitions each line stands for (the newest line may hold fewer).
    int64_t acquisitionsPerLine() const { return perLine_; }
    // The colour range: extremes of the values put into cells so far (after the reduction
    // of columns, so that the scale spans what the picture can show); NaN before any.
    double minimum() const { return min_; }
    double maximum() const { return max_; }

  private:
    enum class Source { Values, Pairs, Bits };
    struct Layout {
        Source source = Source::Values;
        bool network = false;
        std::size_t points = 0;
        AnalyzerAxis axis;
        std::vector<float> axis32;
    };
    struct Labels {
        QString min, max, first, middle, last;
    };

    void restart(Layout layout);
    template <typename Get>
    void reduce(std::size_t points, Get get);
    void mergeLines();
    void levelLine(std::size_t line) const;
    void refreshLevels() const;
    // The cells reduced to the given pixels where they are more: a pixel standing for
    // several cells shows their peak, so that a carrier one bin wide or a spur of a single
    // sweep cannot fall between the pixels.
    void renderDisplay(QSize pixels, QRgb background) const;
    Labels labels() const;

    std::size_t maxLines_;
    std::size_t maxColumns_;
    Layout layout_;
    std::size_t columns_ = 0;
    std::size_t lines_ = 0;
    int64_t perLine_ = 1;
    int64_t inLastLine_ = 0;
    int64_t acquisitions_ = 0;
    double min_;
    double max_;
    std::vector<float> cells_;  // lines_ rows of columns_, room for maxLines_
    std::vector<float> row_;    // the acquisition being added, reduced to columns_

    // Colour levels of the cells: 0 for no value, else 1 + the colour map's entry. They
    // rise with the value, so the peak of some cells is the level of their peak. Lines
    // before staleFrom_ are up to date for levelsMin_ ... levelsMax_.
    mutable std::vector<uint8_t> levels_;
    mutable std::size_t staleFrom_ = 0;
    mutable double levelsMin_ = 0;
    mutable double levelsMax_ = 0;
    mutable std::vector<uint8_t> peaks_;  // one display row's peak levels
    mutable QImage display_;              // the cells at no more than one pixel each
};

// The colour of a fraction 0 ... 1 of the range (clamped): a perceptual map from dark
// violet through blue and green to yellow, its brightness rising steadily.
QRgb WaterfallColour(double fraction);

// A number in four significant digits with an SI prefix: "1.5 G", "-85.25", "250 m",
// "0". Beyond the prefixes (f ... P) in exponent form.
QString EngineeringLabel(double value);

}  // namespace benchcap::trace
