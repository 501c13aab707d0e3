#pragma once

// The HP-GL interpreter as its parts share it: the plotter state and the display list it
// builds (parser.cpp, display_list.cpp), the emulated plotter's answers
// (plotter_answers.cpp) and the instruction loop over the bytes (hpgl_stream.cpp).

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "hardcopy/hpgl/hpgl.h"
#include "hardcopy/hpgl/plotter.h"
#include "hardcopy/hpgl/reader_p.h"

namespace benchcap::hpgl::detail {

inline constexpr double kDefaultChord = 5;            // degrees
inline constexpr double kDefaultCharWidthCm = 0.19;   // SI default
inline constexpr double kDefaultCharHeightCm = 0.27;  // SI default
inline constexpr double kCoordinateLimit = 1e12;      // plotter units, after scaling
inline constexpr int kEtx = 0x03;
inline constexpr size_t kMaxWarnings = 30;

// Instructions that draw nothing or only ask the plotter something (output queries):
// skipped without a word.
bool quietlyIgnored(int m);
// Instructions that draw, which this renderer does not: worth a warning by name.
bool notDrawn(int m);

// Bounding box that, unlike QRectF::united, keeps zero-size boxes (a single dot).
struct Box {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool empty = true;
    void add(QPointF p) {
        if (empty) {
            x0 = x1 = p.x();
            y0 = y1 = p.y();
            empty = false;
            return;
        }
        x0 = std::min(x0, p.x());
        x1 = std::max(x1, p.x());
        y0 = std::min(y0, p.y());
        y1 = std::max(y1, p.y());
    }
    void add(const Box& b) {
        if (!b.empty) {
            add(QPointF(b.x0, b.y0));
            add(QPointF(b.x1, b.y1));
        }
    }
    QRectF rect() const { return empty ? QRectF() : QRectF(x0, y0, x1 - x0, y1 - y0); }
};

// What the emulated plotter answers with beside its state: its name, options, default
// P1/P2 and hard-clip limits for the paper it holds (plotter units).
struct PlotterTraits {
    PlotterModel model = PlotterModel::HP7470A;
    std::array<int, 4> p1p2{};
    std::array<int, 4> hardClip{};
};

// Status byte bits (OS).
inline constexpr int kStatusPenDown = 1;
inline constexpr int kStatusP1P2Changed = 2;
inline constexpr int kStatusInitialized = 8;
inline constexpr int kStatusReady = 16;
inline constexpr int kStatusError = 32;
// Error numbers (OE).
inline constexpr int kErrorUnknown = 1;
inline constexpr int kErrorParameterCount = 2;
inline constexpr int kErrorBadParameter = 3;

class Interpreter {
  public:
    struct Instruction {
        int mnemonic;
        void (*run)(Interpreter&, int mnemonic);
        bool ownsData = false;
    };
    // The handler of mnemonic `m`, or null for instructions not carried out.
    static const Instruction* instruction(int m);

    Interpreter(std::string_view bytes, const ParseLimits& limits)
        : reader_(bytes), limits_(limits) {
        plot_.pages.emplace_back();
        initialize(true);
    }
    // Fed as the bytes arrive, answering output instructions as `traits`.
    Interpreter(const PlotterTraits& traits, const ParseLimits& limits)
        : Interpreter(std::string_view(), limits) {
        traits_ = traits;
        streaming_ = true;
        resetP1P2();
    }

    Result<Plot> run();
    // Streaming: the next bytes; the answer held after them ("" when none was asked).
    std::string feed(std::string_view bytes);
    size_t instructions() const { return plot_.instructions; }
    int lastMnemonic() const { return last_; }

  private:
    // --- state -------------------------------------------------------------------
    void initialize(bool full);
    void defaults();
    QSizeF logicalPage() const {
        return rotation_ % 180 == 0 ? QSizeF(pageW_, pageH_) : QSizeF(pageH_, pageW_);
    }
    void resetP1P2() {
        const QSizeF s = logicalPage();
        p1_ = {0, 0};
        p2_ = {s.width(), s.height()};
        if (streaming_) {  // the emulated plotter's own defaults for its paper
            p1_ = QPointF(traits_.p1p2[0], traits_.p1p2[1]);
            p2_ = QPointF(traits_.p1p2[2], traits_.p1p2[3]);
        }
        updateScaling();
    }
    void updateScaling();
    double diagonal() const { return std::hypot(p2_.x() - p1_.x(), p2_.y() - p1_.y()); }

    // User units to logical plotter units and back; deltas for relative moves.
    QPointF toPlotter(double x, double y) const {
        if (!scaled_)
            return {x, y};
        return {ox_ + (x - uxmin_) * kx_, oy_ + (y - uymin_) * ky_};
    }
    QPointF toUser(QPointF p) const {
        if (!scaled_)
            return p;
        return {uxmin_ + (p.x() - ox_) / kx_, uymin_ + (p.y() - oy_) / ky_};
    }
    QPointF deltaToPlotter(double dx, double dy) const {
        return scaled_ ? QPointF(dx * kx_, dy * ky_) : QPointF(dx, dy);
    }
    static QPointF bounded(QPointF p) {
        auto b = [](double v) {
            return std::isfinite(v) ? std::clamp(v, -kCoordinateLimit, kCoordinateLimit) : 0.0;
        };
        return {b(p.x()), b(p.y())};
    }
    // Logical (rotated) plotter units to the physical page.
    QPointF physical(QPointF p) const {
        switch (rotation_) {
            case 90:
                return {pageW_ - p.y(), p.x()};
            case 180:
                return {pageW_ - p.x(), pageH_ - p.y()};
            case 270:
                return {p.y(), pageH_ - p.x()};
            default:
                return p;
        }
    }
    QRectF frame() const { return QRectF(physical(p1_), physical(p2_)).normalized(); }

    // --- display list -------------------------------------------------------------
    Page& page() { return plot_.pages.back(); }
    bool room(size_t points);
    uint32_t styleIndex(const Style& s);
    Style currentStyle(bool forFill) const;
    int32_t clipIndex();
    void addToBox(QPointF physicalPoint);
    void noteFrame() {
        const QRectF f = frame();
        frameBox_.add(f.topLeft());
        frameBox_.add(f.bottomRight());
    }
    void lineTo(QPointF logical);
    void emitRings(const std::vector<std::vector<QPointF>>& rings, bool fill, bool edge,
                   bool evenOdd);
    void finishPage();
    void newPage();

    // --- instructions -------------------------------------------------------------
    void process();
    bool complete(int m);
    bool answer(int m);
    void setError(int number) {
        error_ = number;
        status_ |= kStatusError;
    }
    void dispatch(int m);
    void penUpDown(int m);
    void plotAbsoluteRelative(int m);
    void colourRange();
    void moves(bool relative);
    void point(QPointF logical);
    std::vector<QPointF> arc(QPointF centreUser, double radius, double startDeg, double sweepDeg,
                             double chordDeg) const;
    void circle();
    void arcInstruction(bool relative);
    void rectangle(bool relative, bool fill);
    void wedge(bool fill);
    void polygonMode();
    void label();
    void labelTerminator();
    void symbolMode();
    void characterPlot();
    void characterSize(bool relative);
    void direction(bool relative);
    void inputP1P2(bool relative);
    void scale();
    void window();
    void fillType();
    void lineType();
    void penWidth();
    void penColour();
    void rotate();
    void plotSize();

    // Character cell in logical plotter units.
    struct Cell {
        double width, height, advance, line;
        QPointF dir, up;
    };
    Cell cell() const;
    void placeText(std::string chars, QPointF logicalOrigin, const Cell& c);

    void warn(std::string message) {
        if (plot_.warnings.size() < kMaxWarnings)
            plot_.warnings.push_back(std::move(message));
    }

    Reader reader_;
    ParseLimits limits_;
    Plot plot_;
    bool stop_ = false;
    size_t points_ = 0;
    size_t items_ = 0;
    size_t textChars_ = 0;

    double pageW_ = kDefaultPageWidth, pageH_ = kDefaultPageHeight;
    int rotation_ = 0;
    QPointF p1_, p2_;
    bool scaled_ = false;
    double sc_[4] = {};
    int scType_ = 0;
    double scLeft_ = 50, scBottom_ = 50;
    double kx_ = 1, ky_ = 1, ox_ = 0, oy_ = 0, uxmin_ = 0, uymin_ = 0;

    QPointF pos_;  // logical plotter units
    QPointF crPoint_;
    bool penDown_ = false;
    bool relative_ = false;
    int pen_ = 1;
    std::array<QRgb, 9> colours_ = kPenColours;
    std::array<double, 9> widths_{};
    bool relativeWidth_ = false;
    int lineType_ = -1;
    double patternLength_ = 0;
    FillType fill_ = FillType::Solid;
    double hatchSpacing_ = 0;  // logical plotter units, 0 = default
    double hatchAngle_ = 0;
    double colourRange_[6] = {0, 255, 0, 255, 0, 255};

    bool sizeRelative_ = false;
    double sizeW_ = kDefaultCharWidthCm, sizeH_ = kDefaultCharHeightCm;
    double slant_ = 0, extraChar_ = 0, extraLine_ = 0;
    double dirAngle_ = 0;  // logical radians
    int labelOrigin_ = 1;
    int terminator_ = kEtx;
    int symbol_ = 0;
    double chord_ = kDefaultChord;

    bool windowOn_ = false;
    QRectF window_;  // physical
    int32_t windowClip_ = -1;

    bool polygonMode_ = false;
    std::vector<std::vector<QPointF>> polygon_;  // physical rings
    size_t polygonPoints_ = 0;
    bool ringOpen_ = false;

    Style cachedStyle_;
    int64_t cachedStyleIndex_ = -1;
    Box drawnBox_, frameBox_;

    std::map<std::string, size_t> unknown_;
    std::set<std::string> notDrawn_;
    size_t degenerateScales_ = 0;
    size_t oddParameters_ = 0;
    bool labelUnterminated_ = false;
    bool textCut_ = false;
    bool polygonCut_ = false;
    // Items and points the last page held when a page past the limit began; more at the
    // end means later pages were drawn onto it.
    std::optional<size_t> drawnAtPageCut_;
    size_t drawnOnPage() { return page().items.size() + page().points.size(); }
    size_t known_ = 0;

    // The emulated plotter (streaming only).
    bool streaming_ = false;
    PlotterTraits traits_;
    std::string bytes_;    // received, not yet carried out
    size_t consumed_ = 0;  // bytes dropped from the front of bytes_ so far
    // The instruction waiting for its rest: where it stands in the stream and how far its
    // bytes were looked at, so that every piece is looked at once.
    struct Pending {
        size_t at = SIZE_MAX;
        size_t scanned = 0;
        bool quoted = false;
    } pending_;
    std::string answer_;  // held for the controller
    int last_ = 0;
    int error_ = 0;
    int status_ = kStatusInitialized | kStatusReady;  // as after power-up
};

}  // namespace benchcap::hpgl::detail
