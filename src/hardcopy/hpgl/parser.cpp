// The HP-GL interpreter: plotter state (P1/P2, scaling, pen, line type, character
// settings, polygon buffer, clip window, rotation) driven by the instructions the
// reader finds, building the display list in physical plotter units.

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <numbers>
#include <optional>
#include <set>

#include "hardcopy/hpgl/hpgl.h"
#include "hardcopy/hpgl/plotter.h"
#include "hardcopy/hpgl/reader_p.h"

namespace benchcap::hpgl {
namespace {

using detail::mnemonic;
using detail::Reader;

constexpr double kDefaultChord = 5;            // degrees
constexpr double kDefaultCharWidthCm = 0.19;   // SI default
constexpr double kDefaultCharHeightCm = 0.27;  // SI default
constexpr double kUnitsPerCm = kUnitsPerMm * 10;
constexpr double kCoordinateLimit = 1e12;  // plotter units, after scaling
constexpr int kEtx = 0x03;
constexpr size_t kMaxWarnings = 30;
constexpr double kDefaultColourRange[6] = {0, 255, 0, 255, 0, 255};

double radians(double degrees) {
    return degrees * std::numbers::pi / 180;
}

// Instructions that draw nothing or only ask the plotter something (output queries):
// skipped without a word.
bool quietlyIgnored(int m) {
    static constexpr int kQuiet[] = {
        mnemonic('O', 'A'), mnemonic('O', 'C'), mnemonic('O', 'D'), mnemonic('O', 'E'),
        mnemonic('O', 'F'), mnemonic('O', 'G'), mnemonic('O', 'H'), mnemonic('O', 'I'),
        mnemonic('O', 'K'), mnemonic('O', 'L'), mnemonic('O', 'O'), mnemonic('O', 'P'),
        mnemonic('O', 'S'), mnemonic('O', 'T'), mnemonic('O', 'W'), mnemonic('V', 'S'),
        mnemonic('V', 'A'), mnemonic('V', 'N'), mnemonic('C', 'S'), mnemonic('C', 'A'),
        mnemonic('S', 'S'), mnemonic('S', 'A'), mnemonic('C', 'C'), mnemonic('C', 'M'),
        mnemonic('B', 'P'), mnemonic('P', 'T'), mnemonic('U', 'L'), mnemonic('M', 'C'),
        mnemonic('T', 'R'), mnemonic('A', 'C'), mnemonic('A', 'D'), mnemonic('S', 'D'),
        mnemonic('S', 'B'), mnemonic('S', 'V'), mnemonic('C', 'F'), mnemonic('L', 'A'),
        mnemonic('L', 'M'), mnemonic('R', 'F'), mnemonic('Q', 'L'), mnemonic('D', 'C'),
        mnemonic('D', 'P'), mnemonic('D', 'V'), mnemonic('E', 'C'), mnemonic('I', 'M'),
        mnemonic('K', 'Y'), mnemonic('N', 'R'), mnemonic('P', 'B'), mnemonic('N', 'P'),
        mnemonic('T', 'L'), mnemonic('C', 'O'), mnemonic('M', 'G'), mnemonic('A', 'P'),
        mnemonic('A', 'S'), mnemonic('G', 'C'), mnemonic('G', 'M'), mnemonic('D', 'L'),
        mnemonic('I', 'V'), mnemonic('C', 'V'), mnemonic('M', 'T'), mnemonic('P', 'P'),
        mnemonic('E', 'S'),
    };
    return std::find(std::begin(kQuiet), std::end(kQuiet), m) != std::end(kQuiet);
}

// Instructions that draw, which this renderer does not: worth a warning by name.
bool notDrawn(int m) {
    return m == mnemonic('P', 'E') || m == mnemonic('B', 'R') || m == mnemonic('B', 'Z') ||
           m == mnemonic('X', 'T') || m == mnemonic('Y', 'T') || m == mnemonic('R', 'P') ||
           m == mnemonic('W', 'D');
}

// Index of a two-letter mnemonic, or -1 for anything else.
constexpr int letterSlot(int m) {
    const int a = (m >> 8) - 'A', b = (m & 0xFF) - 'A';
    return m >= 0 && m <= 0xFFFF && a >= 0 && a < 26 && b >= 0 && b < 26 ? a * 26 + b : -1;
}

std::string name(int m) {
    return {static_cast<char>(m >> 8), static_cast<char>(m & 0xFF)};
}

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

PlotterTraits plotterTraits(PlotterModel model, PaperSize paper) {
    const bool a4 = paper == PaperSize::A4;
    if (model == PlotterModel::HP7475A) {
        return {model, a4 ? std::array{603, 521, 10603, 7721} : std::array{250, 596, 10250, 7796},
                a4 ? std::array{0, 0, 11040, 7721} : std::array{0, 0, 10365, 7962}};
    }
    // The 7470A sets P1/P2 alike for either paper switch setting; only its area differs.
    return {model, std::array{250, 279, 10250, 7479},
            a4 ? std::array{0, 0, 10900, 7650} : std::array{0, 0, 10300, 7650}};
}

// Status byte bits (OS).
constexpr int kStatusPenDown = 1;
constexpr int kStatusP1P2Changed = 2;
constexpr int kStatusInitialized = 8;
constexpr int kStatusReady = 16;
constexpr int kStatusError = 32;
// Error numbers (OE).
constexpr int kErrorUnknown = 1;
constexpr int kErrorParameterCount = 2;
constexpr int kErrorBadParameter = 3;

std::string joined(std::initializer_list<long long> values) {
    std::string s;
    for (const long long v : values)
        s += (s.empty() ? "" : ",") + std::to_string(v);
    return s;
}

long long rounded(double v) {
    return std::isfinite(v) ? std::llround(std::clamp(v, -1e15, 1e15)) : 0;
}

// A user-unit coordinate for OC: whole numbers as such, others with up to three decimals.
std::string decimal(double v) {
    if (!std::isfinite(v))
        return "0";
    char text[48];
    std::snprintf(text, sizeof text, "%.3f", std::clamp(v, -1e15, 1e15));
    std::string s = text;
    while (s.back() == '0')
        s.pop_back();
    if (s.back() == '.')
        s.pop_back();
    return s == "-0" ? "0" : s;
}

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

void Interpreter::defaults() {
    scaled_ = false;
    relative_ = false;
    lineType_ = -1;
    patternLength_ = diagonal() * 0.04;
    fill_ = FillType::Solid;
    hatchSpacing_ = 0;
    hatchAngle_ = 0;
    sizeRelative_ = false;
    sizeW_ = kDefaultCharWidthCm;
    sizeH_ = kDefaultCharHeightCm;
    slant_ = extraChar_ = extraLine_ = 0;
    dirAngle_ = 0;
    labelOrigin_ = 1;
    terminator_ = kEtx;
    symbol_ = 0;
    chord_ = kDefaultChord;
    windowOn_ = false;
    windowClip_ = -1;
    polygonMode_ = false;
    polygon_.clear();
    polygonPoints_ = 0;
    ringOpen_ = false;
}

void Interpreter::initialize(bool full) {
    if (full) {
        rotation_ = 0;
        resetP1P2();
        pos_ = crPoint_ = {0, 0};
        penDown_ = false;
        colours_ = kPenColours;
        widths_.fill(0.35 * kUnitsPerMm);
        relativeWidth_ = false;
        std::copy_n(kDefaultColourRange, 6, colourRange_);
    }
    defaults();
}

void Interpreter::updateScaling() {
    if (!scaled_)
        return;
    const double dxP = p2_.x() - p1_.x(), dyP = p2_.y() - p1_.y();
    ox_ = p1_.x();
    oy_ = p1_.y();
    uxmin_ = sc_[0];
    uymin_ = sc_[2];
    if (scType_ == 2) {  // point factor: xmin, x factor, ymin, y factor
        kx_ = sc_[1];
        ky_ = sc_[3];
    } else {
        const double ux = sc_[1] - sc_[0], uy = sc_[3] - sc_[2];
        if (ux == 0 || uy == 0) {
            kx_ = ky_ = 0;
        } else {
            kx_ = dxP / ux;
            ky_ = dyP / uy;
            if (scType_ == 1) {  // isotropic: the smaller factor, placed by left/bottom %
                const double k = std::min(std::abs(kx_), std::abs(ky_));
                const double nx = std::copysign(k, kx_), ny = std::copysign(k, ky_);
                ox_ += (dxP - nx * ux) * scLeft_ / 100;
                oy_ += (dyP - ny * uy) * scBottom_ / 100;
                kx_ = nx;
                ky_ = ny;
            }
        }
    }
    if (kx_ == 0 || ky_ == 0 || !std::isfinite(kx_) || !std::isfinite(ky_)) {
        scaled_ = false;
        ++degenerateScales_;
    }
}

// --- display list -------------------------------------------------------------------

bool Interpreter::room(size_t points) {
    if (stop_)
        return false;
    if (points_ + points > limits_.points || items_ + 1 > limits_.items) {
        stop_ = true;
        warn("plot cut short: more than " + std::to_string(limits_.points) + " points or " +
             std::to_string(limits_.items) + " shapes; the rest of the file is not drawn");
        return false;
    }
    return true;
}

Style Interpreter::currentStyle(bool forFill) const {
    const int slot = pen_ <= 0 ? 0 : (pen_ - 1) % 8 + 1;
    Style s;
    s.pen = pen_;
    s.colour = colours_[static_cast<size_t>(slot)];
    s.width = relativeWidth_ ? widths_[static_cast<size_t>(slot)] * diagonal() / 100
                             : widths_[static_cast<size_t>(slot)];
    s.width = std::clamp(s.width, 0.0, 1e7);
    s.lineType = lineType_;
    s.patternLength = lineType_ > 0 ? patternLength_ : 0;
    if (forFill) {
        s.fill = fill_;
        if (fill_ == FillType::Hatch || fill_ == FillType::CrossHatch) {
            s.hatchSpacing = hatchSpacing_ > 0 ? hatchSpacing_ : diagonal() / 100;
            s.hatchAngle = hatchAngle_ + rotation_;
        }
    }
    return s;
}

uint32_t Interpreter::styleIndex(const Style& s) {
    auto& styles = page().styles;
    if (cachedStyleIndex_ >= 0 && s == cachedStyle_)
        return static_cast<uint32_t>(cachedStyleIndex_);
    // Styles change seldom and repeat: a short look back keeps the table small.
    const size_t from = styles.size() > 16 ? styles.size() - 16 : 0;
    size_t i = styles.size();
    for (size_t k = from; k < styles.size(); ++k) {
        if (styles[k] == s) {
            i = k;
            break;
        }
    }
    if (i == styles.size())
        styles.push_back(s);
    cachedStyle_ = s;
    cachedStyleIndex_ = static_cast<int64_t>(i);
    return static_cast<uint32_t>(i);
}

int32_t Interpreter::clipIndex() {
    if (!windowOn_)
        return -1;
    if (windowClip_ < 0) {
        page().clips.push_back(window_);
        windowClip_ = static_cast<int32_t>(page().clips.size() - 1);
    }
    return windowClip_;
}

void Interpreter::addToBox(QPointF p) {
    if (windowOn_) {
        p.setX(std::clamp(p.x(), window_.left(), window_.right()));
        p.setY(std::clamp(p.y(), window_.top(), window_.bottom()));
    }
    drawnBox_.add(p);
}

void Interpreter::lineTo(QPointF logical) {
    logical = bounded(logical);
    if (pen_ <= 0) {
        pos_ = logical;
        return;
    }
    Page& pg = page();
    const LineKind kind = lineType_ == 0 ? LineKind::Dots : LineKind::Polyline;
    const uint32_t style = styleIndex(currentStyle(false));
    const int32_t clip = clipIndex();
    const QPointF from = physical(pos_), to = physical(logical);
    const bool extend = !pg.items.empty() && pg.items.back().kind == kind &&
                        pg.items.back().style == style && pg.items.back().clip == clip &&
                        pg.items.back().first + pg.items.back().count == pg.points.size() &&
                        pg.points.back() == from;
    if (!room(extend ? 1 : 2))
        return;
    if (!extend) {
        pg.items.push_back({kind, static_cast<uint32_t>(pg.points.size()), 1, style, clip});
        pg.points.push_back(from);
        addToBox(from);
        ++items_;
        ++points_;
        noteFrame();
    }
    pg.points.push_back(to);
    ++pg.items.back().count;
    ++points_;
    addToBox(to);
    pos_ = logical;
}

void Interpreter::emitRings(const std::vector<std::vector<QPointF>>& all, bool fill, bool edge,
                            bool evenOdd) {
    if (pen_ <= 0)
        return;
    std::vector<std::vector<QPointF>> rings;
    size_t n = 0;
    for (const auto& r : all) {
        if (r.size() >= 2) {
            rings.push_back(r);
            n += r.size() + 1;
        }
    }
    if (rings.empty())
        return;
    if (!room(n))
        return;
    Page& pg = page();
    const int32_t clip = clipIndex();
    if (fill) {
        Style s = currentStyle(true);
        s.evenOdd = evenOdd;
        s.edge = edge;
        const uint32_t style = styleIndex(s);
        pg.items.push_back({LineKind::Polygon, static_cast<uint32_t>(pg.rings.size()),
                            static_cast<uint32_t>(rings.size()), style, clip});
        ++items_;
        for (const auto& r : rings) {
            pg.rings.push_back(
                {static_cast<uint32_t>(pg.points.size()), static_cast<uint32_t>(r.size())});
            for (QPointF p : r) {
                pg.points.push_back(p);
                addToBox(p);
            }
            points_ += r.size();
        }
    } else {
        const uint32_t style = styleIndex(currentStyle(false));
        for (const auto& r : rings) {
            if (!room(r.size() + 1))
                break;
            pg.items.push_back({lineType_ == 0 ? LineKind::Dots : LineKind::Polyline,
                                static_cast<uint32_t>(pg.points.size()),
                                static_cast<uint32_t>(r.size() + 1), style, clip});
            ++items_;
            for (QPointF p : r) {
                pg.points.push_back(p);
                addToBox(p);
            }
            pg.points.push_back(r.front());  // closed
            points_ += r.size() + 1;
        }
    }
    noteFrame();
}

void Interpreter::finishPage() {
    Page& pg = page();
    pg.drawn = drawnBox_.rect();
    Box extent = drawnBox_;
    extent.add(frameBox_);
    if (extent.empty) {
        const QRectF f = frame();
        extent.add(f.topLeft());
        extent.add(f.bottomRight());
    }
    QRectF e = extent.rect();
    // A little paper around the ink, so that lines on the edge are not cut in half.
    const double margin = std::max(e.width(), e.height()) * 0.01 + 1;
    pg.extent = e.adjusted(-margin, -margin, margin, margin);
}

void Interpreter::newPage() {
    if (page().items.empty())
        return;
    finishPage();
    if (plot_.pages.size() >= limits_.pages) {
        // Further pages are drawn over the last one rather than kept apart; a final PG
        // with nothing after it cuts nothing.
        if (!drawnAtPageCut_)
            drawnAtPageCut_ = drawnOnPage();
        return;
    }
    plot_.pages.emplace_back();
    drawnBox_ = frameBox_ = Box{};
    cachedStyleIndex_ = -1;
    windowClip_ = -1;
}

// --- instructions -------------------------------------------------------------------

void Interpreter::point(QPointF logical) {
    if (polygonMode_) {
        const QPointF p = physical(bounded(logical));
        if (polygonPoints_ >= limits_.polygonPoints) {
            polygonCut_ = true;
        } else if (!penDown_) {
            // A pen-up move starts a new ring at its end (or moves a ring not yet drawn).
            if (ringOpen_ && !polygon_.empty() && polygon_.back().size() == 1)
                polygon_.back().front() = p;
            else
                polygon_.push_back({p});
            ringOpen_ = true;
            ++polygonPoints_;
        } else {
            if (!ringOpen_ || polygon_.empty())
                polygon_.push_back({physical(pos_)});
            ringOpen_ = true;
            polygon_.back().push_back(p);
            polygonPoints_ += 2;
        }
        pos_ = bounded(logical);
        return;
    }
    if (penDown_)
        lineTo(logical);
    else
        pos_ = bounded(logical);
    if (symbol_ != 0 && pen_ > 0) {
        Cell c = cell();
        placeText(std::string(1, static_cast<char>(symbol_)),
                  pos_ - c.dir * (c.width / 2) - c.up * (c.height / 2), c);
    }
}

void Interpreter::moves(bool relative) {
    double x = 0, y = 0;
    bool any = false;
    while (!stop_ && reader_.number(x)) {
        if (!reader_.number(y)) {
            ++oddParameters_;
            setError(kErrorParameterCount);
            break;
        }
        any = true;
        const QPointF target = relative ? pos_ + deltaToPlotter(x, y) : toPlotter(x, y);
        point(target);
    }
    if (any)
        crPoint_ = pos_;
}

std::vector<QPointF> Interpreter::arc(QPointF centreUser, double radius, double startDeg,
                                      double sweepDeg, double chordDeg) const {
    sweepDeg = std::clamp(sweepDeg, -360.0, 360.0);
    chordDeg = std::clamp(std::abs(chordDeg), 0.5, 180.0);
    const int n = std::clamp(static_cast<int>(std::ceil(std::abs(sweepDeg) / chordDeg)), 1, 720);
    std::vector<QPointF> out;
    out.reserve(static_cast<size_t>(n) + 1);
    for (int i = 0; i <= n; ++i) {
        const double a = radians(startDeg + sweepDeg * i / n);
        out.push_back(bounded(toPlotter(centreUser.x() + radius * std::cos(a),
                                        centreUser.y() + radius * std::sin(a))));
    }
    return out;
}

void Interpreter::circle() {
    double r = 0, chord = chord_;
    if (!reader_.number(r))
        return;
    reader_.number(chord);
    const QPointF centre = toUser(pos_);
    std::vector<QPointF> pts = arc(centre, r, 0, 360, chord);
    if (polygonMode_) {
        std::vector<QPointF> ring;
        for (QPointF p : pts)
            ring.push_back(physical(p));
        if (polygonPoints_ + ring.size() <= limits_.polygonPoints) {
            polygonPoints_ += ring.size();
            polygon_.push_back(std::move(ring));
        }
        ringOpen_ = false;
        return;
    }
    const QPointF keep = pos_;
    pos_ = pts.front();
    for (size_t i = 1; i < pts.size() && !stop_; ++i)
        lineTo(pts[i]);
    pos_ = keep;
}

void Interpreter::arcInstruction(bool relative) {
    double x = 0, y = 0, sweep = 0, chord = chord_;
    if (!reader_.number(x) || !reader_.number(y) || !reader_.number(sweep))
        return;
    reader_.number(chord);
    const QPointF here = toUser(pos_);
    const QPointF centre = relative ? here + QPointF(x, y) : QPointF(x, y);
    const QPointF d = here - centre;
    const double radius = std::hypot(d.x(), d.y());
    const double start = std::atan2(d.y(), d.x()) * 180 / std::numbers::pi;
    std::vector<QPointF> pts = arc(centre, radius, start, sweep, chord);
    for (size_t i = 1; i < pts.size() && !stop_; ++i)
        point(pts[i]);
    crPoint_ = pos_;
}

void Interpreter::rectangle(bool relative, bool fill) {
    double x = 0, y = 0;
    if (!reader_.number(x) || !reader_.number(y))
        return;
    const QPointF a = pos_;
    const QPointF b = bounded(relative ? pos_ + deltaToPlotter(x, y) : toPlotter(x, y));
    std::vector<QPointF> ring = {physical(a), physical(QPointF(b.x(), a.y())), physical(b),
                                 physical(QPointF(a.x(), b.y()))};
    emitRings({ring}, fill, false, true);
}

void Interpreter::wedge(bool fill) {
    double r = 0, start = 0, sweep = 0, chord = chord_;
    if (!reader_.number(r) || !reader_.number(start) || !reader_.number(sweep))
        return;
    reader_.number(chord);
    const QPointF centre = toUser(pos_);
    std::vector<QPointF> ring;
    const bool full = std::abs(sweep) >= 360;
    if (!full)
        ring.push_back(physical(pos_));
    for (QPointF p : arc(centre, r, start, sweep, chord))
        ring.push_back(physical(p));
    emitRings({ring}, fill, false, true);
}

void Interpreter::polygonMode() {
    int mode = 0;
    reader_.integer(mode, 0, 2);
    if (mode == 0) {
        polygonMode_ = true;
        polygon_.clear();
        polygonPoints_ = 0;
        polygon_.push_back({physical(pos_)});
        ringOpen_ = true;
        ++polygonPoints_;
    } else {
        ringOpen_ = false;
        if (mode == 2)
            polygonMode_ = false;
    }
}

Interpreter::Cell Interpreter::cell() const {
    double w, h;
    if (sizeRelative_) {
        w = std::abs(p2_.x() - p1_.x()) * sizeW_ / 100;
        h = std::abs(p2_.y() - p1_.y()) * sizeH_ / 100;
    } else {
        w = sizeW_ * kUnitsPerCm;
        h = sizeH_ * kUnitsPerCm;
    }
    w = std::clamp(w, -1e7, 1e7);
    h = std::clamp(h, -1e7, 1e7);
    Cell c;
    c.width = w;
    c.height = h;
    c.advance = w * 1.5 * (1 + extraChar_);
    c.line = h * 2 * (1 + extraLine_);
    c.dir = QPointF(std::cos(dirAngle_), std::sin(dirAngle_));
    c.up = QPointF(-c.dir.y(), c.dir.x());
    return c;
}

void Interpreter::placeText(std::string chars, QPointF logicalOrigin, const Cell& c) {
    if (chars.empty() || pen_ <= 0)
        return;
    if (textChars_ + chars.size() > limits_.textChars) {
        textCut_ = true;
        return;
    }
    if (!room(0))
        return;
    textChars_ += chars.size();
    Page& pg = page();
    Text t;
    t.origin = physical(bounded(logicalOrigin));
    t.angle = dirAngle_ * 180 / std::numbers::pi + rotation_;
    t.width = std::abs(c.width);
    t.height = c.height;
    t.advance = c.advance;
    t.slant = slant_;
    const double len = c.advance * static_cast<double>(chars.size() - 1) + c.width;
    const QPointF lo = logicalOrigin;
    // The cell from the descenders (a third of the height below the baseline) to the
    // cap height, so that "g" and "p" on the lowest line stay inside the picture.
    const QPointF low = lo - c.up * (c.height / 3);
    for (QPointF corner :
         {low, low + c.dir * len, lo + c.up * c.height, lo + c.dir * len + c.up * c.height})
        addToBox(physical(bounded(corner)));
    t.chars = std::move(chars);
    pg.items.push_back({LineKind::Text, static_cast<uint32_t>(pg.texts.size()), 1,
                        styleIndex(currentStyle(false)), clipIndex()});
    pg.texts.push_back(std::move(t));
    ++items_;
    noteFrame();
}

// LB: text to the terminator. CR returns to the carriage-return point, LF moves a line
// down, BS a cell back (overstrike); other control characters are not printed. Each
// line is placed by the label origin (LO) once its length is known.
void Interpreter::label() {
    const Cell c = cell();
    struct Run {
        std::string chars;
        QPointF at;
    };
    std::vector<Run> runs;
    QPointF lineStart = pos_;
    double lineLength = 0;  // furthest cell end along the direction
    size_t kept = 0;
    auto projection = [&](QPointF p) {
        const QPointF d = p - lineStart;
        return d.x() * c.dir.x() + d.y() * c.dir.y();
    };
    auto flushLine = [&]() {
        const int lo = labelOrigin_ > 10 ? labelOrigin_ - 10 : labelOrigin_;
        const int column = (lo - 1) / 3;  // 0 left, 1 centre, 2 right
        const int row = (lo - 1) % 3;     // 0 bottom, 1 middle, 2 top
        const double length = lineLength > 0 ? lineLength - (c.advance - c.width) : 0;
        QPointF shift = -c.dir * (length * column / 2.0) - c.up * (c.height * row / 2.0);
        if (labelOrigin_ > 10) {  // offset origins: half a cell away from the point
            shift += c.dir * (c.width / 2 * (1 - column)) + c.up * (c.height / 2 * (1 - row));
        }
        for (Run& r : runs)
            placeText(std::move(r.chars), r.at + shift, c);
        runs.clear();
        lineLength = 0;
    };
    bool newRun = true;
    for (;;) {
        const int b = reader_.peek();
        if (b < 0) {
            labelUnterminated_ = true;
            break;
        }
        reader_.advance();
        if (b == terminator_)
            break;
        if (b == '\r') {
            flushLine();
            pos_ = crPoint_;
            lineStart = pos_;
            newRun = true;
        } else if (b == '\n') {
            flushLine();
            pos_ -= c.up * c.line;
            crPoint_ -= c.up * c.line;
            lineStart = pos_;
            newRun = true;
        } else if (b == '\b') {
            pos_ -= c.dir * c.advance;
            newRun = true;
        } else if (b >= 0x20 && b != 0x7F) {
            if (kept < limits_.labelChars) {
                if (newRun)
                    runs.push_back({{}, pos_});
                runs.back().chars.push_back(static_cast<char>(b));
                ++kept;
                newRun = false;
            } else {
                textCut_ = true;
            }
            pos_ += c.dir * c.advance;
            lineLength = std::max(lineLength, projection(pos_));
        } else {
            newRun = true;
        }
    }
    flushLine();
    pos_ = bounded(pos_);
}

void Interpreter::labelTerminator() {
    const int b = reader_.peek();
    if (b < 0 || b == ';' || b == 0 || b == 0x1B || b == '\n') {
        terminator_ = kEtx;
    } else {
        terminator_ = b;
        reader_.advance();
    }
}

void Interpreter::symbolMode() {
    const int b = reader_.peek();
    if (b < 0 || b == ';' || b <= 0x20 || b == 0x7F) {
        symbol_ = 0;
    } else {
        symbol_ = b;
        reader_.advance();
    }
}

void Interpreter::characterPlot() {
    const Cell c = cell();
    double spaces = 0, lines = 0;
    if (!reader_.number(spaces)) {
        pos_ = crPoint_ - c.up * c.line;  // carriage return and line feed
        crPoint_ = pos_;
        return;
    }
    reader_.number(lines);
    spaces = std::clamp(spaces, -1e4, 1e4);
    lines = std::clamp(lines, -1e4, 1e4);
    pos_ = bounded(pos_ + c.dir * (spaces * c.advance) + c.up * (lines * c.line));
}

void Interpreter::characterSize(bool relative) {
    double w = 0, h = 0;
    sizeRelative_ = relative;
    if (reader_.number(w) && reader_.number(h)) {
        sizeW_ = w;
        sizeH_ = h;
    } else {
        sizeW_ = relative ? 0.75 : kDefaultCharWidthCm;
        sizeH_ = relative ? 1.5 : kDefaultCharHeightCm;
    }
}

void Interpreter::direction(bool relative) {
    double run = 1, rise = 0;
    if (!(reader_.number(run) && reader_.number(rise))) {
        run = 1;
        rise = 0;
    }
    if (relative) {
        run *= (p2_.x() - p1_.x()) / 100;
        rise *= (p2_.y() - p1_.y()) / 100;
    }
    dirAngle_ = (run == 0 && rise == 0) ? 0 : std::atan2(rise, run);
}

void Interpreter::inputP1P2(bool relative) {
    double v[4];
    int n = 0;
    while (n < 4 && reader_.number(v[n]))
        ++n;
    const QSizeF s = logicalPage();
    if (relative)  // IR: percentages of the page
        for (int i = 0; i < n; ++i)
            v[i] = v[i] * (i % 2 == 0 ? s.width() : s.height()) / 100;
    if (n == 1 || n == 3)
        setError(kErrorParameterCount);
    status_ |= kStatusP1P2Changed;
    if (n < 2) {
        resetP1P2();
        return;
    }
    const QPointF old1 = p1_;
    p1_ = {v[0], v[1]};
    p2_ = n >= 4 ? QPointF(v[2], v[3]) : p2_ + (p1_ - old1);
    p2_ = bounded(p2_);
    if (p2_.x() == p1_.x())
        p2_.rx() += 1;
    if (p2_.y() == p1_.y())
        p2_.ry() += 1;
    updateScaling();
}

void Interpreter::scale() {
    double v[7];
    int n = 0;
    while (n < 7 && reader_.number(v[n]))
        ++n;
    if (n > 0 && (n < 4 || n == 6))
        setError(kErrorParameterCount);
    if (n < 4) {
        scaled_ = false;
        return;
    }
    std::copy_n(v, 4, sc_);
    scType_ = n >= 5 ? std::clamp(static_cast<int>(v[4]), 0, 2) : 0;
    scLeft_ = n >= 7 ? std::clamp(v[5], 0.0, 100.0) : 50;
    scBottom_ = n >= 7 ? std::clamp(v[6], 0.0, 100.0) : 50;
    scaled_ = true;
    updateScaling();
}

void Interpreter::window() {
    double v[4];
    int n = 0;
    while (n < 4 && reader_.number(v[n]))
        ++n;
    windowClip_ = -1;
    if (n > 0 && n < 4)
        setError(kErrorParameterCount);
    if (n < 4) {
        windowOn_ = false;
        return;
    }
    windowOn_ = true;
    window_ =
        QRectF(physical(bounded(toPlotter(v[0], v[1]))), physical(bounded(toPlotter(v[2], v[3]))))
            .normalized();
}

void Interpreter::fillType() {
    int type = 1;
    double spacing = 0, angle = 0;
    if (!reader_.integer(type, -1, 100))
        type = 1;
    const bool haveSpacing = reader_.number(spacing);
    reader_.number(angle);
    switch (type) {
        case 3:
            fill_ = FillType::Hatch;
            break;
        case 4:
            fill_ = FillType::CrossHatch;
            break;
        default:  // solid, shading, user pattern: solid in the pen's colour
            fill_ = FillType::Solid;
            break;
    }
    if (fill_ != FillType::Solid) {
        hatchSpacing_ = haveSpacing && spacing != 0 ? std::abs(deltaToPlotter(spacing, 0).x()) : 0;
        hatchAngle_ = std::fmod(angle, 360);
    }
}

void Interpreter::lineType() {
    double type = 0, length = 4, mode = 0;
    if (!reader_.number(type)) {
        lineType_ = -1;
        return;
    }
    const int t = std::abs(static_cast<int>(std::clamp(std::round(type), -99.0, 99.0)));
    lineType_ = t <= 8 ? t : -1;
    if (reader_.number(length)) {
        reader_.number(mode);
        length = std::clamp(std::abs(length), 0.0, 1e6);
        patternLength_ = mode == 1 ? length * kUnitsPerMm : diagonal() * length / 100;
    } else {
        patternLength_ = diagonal() * 0.04;
    }
}

void Interpreter::penWidth() {
    double w = 0;
    int pen = 0;
    const bool haveWidth = reader_.number(w);
    if (!haveWidth)
        w = relativeWidth_ ? 0.1 : 0.35;
    w = std::clamp(std::abs(w), 0.0, 1e5);
    const double value = relativeWidth_ ? w : w * kUnitsPerMm;
    if (haveWidth && reader_.integer(pen, 0, 1 << 30) && pen > 0)
        widths_[static_cast<size_t>((pen - 1) % 8 + 1)] = value;
    else
        widths_.fill(value);
}

void Interpreter::penColour() {
    int pen = 0;
    if (!reader_.integer(pen, 0, 1 << 30)) {
        colours_ = kPenColours;
        return;
    }
    const size_t slot = pen <= 0 ? 0 : static_cast<size_t>((pen - 1) % 8 + 1);
    double rgb[3];
    int n = 0;
    while (n < 3 && reader_.number(rgb[n]))
        ++n;
    if (n < 3) {
        colours_[slot] = kPenColours[slot];
        return;
    }
    int c[3];
    for (int i = 0; i < 3; ++i) {
        const double lo = colourRange_[2 * i], hi = colourRange_[2 * i + 1];
        const double f = hi != lo ? (rgb[i] - lo) / (hi - lo) : 0;
        c[i] = static_cast<int>(std::lround(std::clamp(f, 0.0, 1.0) * 255));
    }
    colours_[slot] = qRgb(c[0], c[1], c[2]);
}

void Interpreter::rotate() {
    double angle = 0;
    reader_.number(angle);
    const int r = ((static_cast<int>(std::lround(std::fmod(angle, 360) / 90)) % 4 + 4) % 4) * 90;
    if (r != rotation_) {
        rotation_ = r;
        resetP1P2();
        windowOn_ = false;
        windowClip_ = -1;
    }
}

void Interpreter::plotSize() {
    double w = 0, h = 0;
    if (reader_.number(w)) {
        if (!reader_.number(h))
            h = pageH_;
        pageW_ = std::clamp(std::abs(w), 1.0, 1e8);
        pageH_ = std::clamp(std::abs(h), 1.0, 1e8);
    } else {
        pageW_ = kDefaultPageWidth;
        pageH_ = kDefaultPageHeight;
    }
    resetP1P2();
}

const Interpreter::Instruction* Interpreter::instruction(int m) {
    using I = Interpreter;
    // `ownsData`: the handler reads the instruction's data to its end itself.
    static constexpr Instruction kInstructions[] = {
        {mnemonic('I', 'N'),
         [](I& in, int) {
             in.initialize(true);
             // A fresh start: no error, P1/P2 back to the paper's, "initialized" again.
             in.error_ = 0;
             in.status_ = kStatusInitialized | kStatusReady;
         }},
        {mnemonic('D', 'F'), [](I& in, int) { in.initialize(false); }},
        {mnemonic('S', 'P'),
         [](I& in, int) {
             int pen = 0;
             in.reader_.integer(pen, 0, 1 << 30);
             in.pen_ = pen;
         }},
        {mnemonic('P', 'U'), [](I& in, int m) { in.penUpDown(m); }},
        {mnemonic('P', 'D'), [](I& in, int m) { in.penUpDown(m); }},
        {mnemonic('P', 'A'), [](I& in, int m) { in.plotAbsoluteRelative(m); }},
        {mnemonic('P', 'R'), [](I& in, int m) { in.plotAbsoluteRelative(m); }},
        {mnemonic('P', 'W'), [](I& in, int) { in.penWidth(); }},
        {mnemonic('W', 'U'),
         [](I& in, int) {
             int unit = 0;
             in.reader_.integer(unit, 0, 1);
             in.relativeWidth_ = unit == 1;
             in.widths_.fill(in.relativeWidth_ ? 0.1 : 0.35 * kUnitsPerMm);
         }},
        {mnemonic('L', 'T'), [](I& in, int) { in.lineType(); }},
        {mnemonic('S', 'C'), [](I& in, int) { in.scale(); }},
        {mnemonic('I', 'P'), [](I& in, int) { in.inputP1P2(false); }},
        {mnemonic('I', 'R'), [](I& in, int) { in.inputP1P2(true); }},
        {mnemonic('I', 'W'), [](I& in, int) { in.window(); }},
        {mnemonic('C', 'I'), [](I& in, int) { in.circle(); }},
        {mnemonic('A', 'A'), [](I& in, int) { in.arcInstruction(false); }},
        {mnemonic('A', 'R'), [](I& in, int) { in.arcInstruction(true); }},
        {mnemonic('E', 'A'), [](I& in, int) { in.rectangle(false, false); }},
        {mnemonic('E', 'R'), [](I& in, int) { in.rectangle(true, false); }},
        {mnemonic('R', 'A'), [](I& in, int) { in.rectangle(false, true); }},
        {mnemonic('R', 'R'), [](I& in, int) { in.rectangle(true, true); }},
        {mnemonic('E', 'W'), [](I& in, int) { in.wedge(false); }},
        {mnemonic('W', 'G'), [](I& in, int) { in.wedge(true); }},
        {mnemonic('F', 'T'), [](I& in, int) { in.fillType(); }},
        {mnemonic('P', 'M'), [](I& in, int) { in.polygonMode(); }},
        {mnemonic('E', 'P'), [](I& in, int) { in.emitRings(in.polygon_, false, false, true); }},
        {mnemonic('F', 'P'),
         [](I& in, int) {
             int method = 0;
             in.reader_.integer(method, 0, 1);
             in.emitRings(in.polygon_, true, false, method == 0);
         }},
        {mnemonic('L', 'B'), [](I& in, int) { in.label(); }, true},  // to its terminator
        {mnemonic('B', 'L'),
         [](I& in, int) {  // label into the buffer: read, not drawn
             while (in.reader_.peek() >= 0 && in.reader_.peek() != in.terminator_)
                 in.reader_.advance();
             in.reader_.advance();
         },
         true},
        {mnemonic('D', 'T'), [](I& in, int) { in.labelTerminator(); }},
        {mnemonic('S', 'M'), [](I& in, int) { in.symbolMode(); }},
        {mnemonic('S', 'I'), [](I& in, int) { in.characterSize(false); }},
        {mnemonic('S', 'R'), [](I& in, int) { in.characterSize(true); }},
        {mnemonic('S', 'L'),
         [](I& in, int) {
             double s = 0;
             in.reader_.number(s);
             in.slant_ = std::clamp(s, -10.0, 10.0);
         }},
        {mnemonic('E', 'S'),
         [](I& in, int) {
             double a = 0, b = 0;
             in.reader_.number(a);
             in.reader_.number(b);
             in.extraChar_ = std::clamp(a, -0.9, 100.0);
             in.extraLine_ = std::clamp(b, -0.9, 100.0);
         }},
        {mnemonic('D', 'I'), [](I& in, int) { in.direction(false); }},
        {mnemonic('D', 'R'), [](I& in, int) { in.direction(true); }},
        {mnemonic('L', 'O'),
         [](I& in, int) {
             int lo = 1;
             in.reader_.integer(lo, 1, 19);
             in.labelOrigin_ = (lo >= 1 && lo <= 9) || (lo >= 11 && lo <= 19) ? lo : 1;
         }},
        {mnemonic('C', 'P'), [](I& in, int) { in.characterPlot(); }},
        {mnemonic('C', 'T'),
         [](I& in, int) {  // chord tolerance mode: keep angles
             double ignored = 0;
             in.reader_.number(ignored);
         }},
        {mnemonic('R', 'O'), [](I& in, int) { in.rotate(); }},
        {mnemonic('P', 'G'), [](I& in, int) { in.newPage(); }},
        {mnemonic('F', 'R'), [](I& in, int) { in.newPage(); }},
        {mnemonic('P', 'S'), [](I& in, int) { in.plotSize(); }},
        {mnemonic('P', 'C'), [](I& in, int) { in.penColour(); }},
        {mnemonic('C', 'R'), [](I& in, int) { in.colourRange(); }},
        {mnemonic('P', 'E'),
         [](I& in, int) {  // encoded polyline: its data holds letters, up to ';'
             in.notDrawn_.insert("PE");
             in.reader_.skipTo(';');
         },
         true},
    };
    // Mnemonics are two upper-case letters: one slot each, a single step to the handler.
    static constexpr auto kSlots = [] {
        std::array<uint8_t, 26 * 26> index{};
        index.fill(0xFF);
        for (size_t i = 0; i < std::size(kInstructions); ++i) {
            uint8_t& slot = index[static_cast<size_t>(letterSlot(kInstructions[i].mnemonic))];
            if (slot != 0xFF)
                throw "two handlers for one mnemonic";
            slot = static_cast<uint8_t>(i);
        }
        return index;
    }();
    const int slot = letterSlot(m);
    if (slot < 0 || kSlots[static_cast<size_t>(slot)] == 0xFF)
        return nullptr;
    return &kInstructions[kSlots[static_cast<size_t>(slot)]];
}

void Interpreter::dispatch(int m) {
    const size_t clamped = reader_.clampedNumbers();
    if (streaming_ && answer(m)) {
        // answered (or refused) as the plotter would
    } else if (const Instruction* handler = instruction(m)) {
        handler->run(*this, m);
        if (handler->ownsData)
            return;
    } else if (notDrawn(m)) {
        notDrawn_.insert(name(m));
    } else if (!quietlyIgnored(m)) {
        setError(kErrorUnknown);
        if (unknown_.size() < 200)
            ++unknown_[name(m)];
    }
    reader_.skipParameters();
    if (reader_.clampedNumbers() != clamped)
        setError(kErrorBadParameter);
}

// The output instructions: the answer from the state as it is now, and the status bits
// that reading it clears. False for instructions that are no output instruction.
bool Interpreter::answer(int m) {
    const bool hp7475 = traits_.model == PlotterModel::HP7475A;
    const QPointF at = physical(pos_);
    std::string text;
    switch (m) {
        case mnemonic('O', 'A'):
            text = joined({rounded(at.x()), rounded(at.y()), penDown_ ? 1 : 0});
            break;
        case mnemonic('O', 'C'): {
            const QPointF user = toUser(pos_);
            text = scaled_
                       ? decimal(user.x()) + "," + decimal(user.y()) + "," + (penDown_ ? "1" : "0")
                       : joined({rounded(pos_.x()), rounded(pos_.y()), penDown_ ? 1 : 0});
            break;
        }
        case mnemonic('O', 'D'):  // no digitizing here: the point of power-up
            text = "0,0,0";
            break;
        case mnemonic('O', 'E'):
            text = std::to_string(error_);
            error_ = 0;
            status_ &= ~kStatusError;
            break;
        case mnemonic('O', 'F'):
            text = "40,40";
            break;
        case mnemonic('O', 'H'):
            if (!hp7475) {
                setError(kErrorUnknown);  // the 7470A has no OH
                return true;
            }
            text = joined({traits_.hardClip[0], traits_.hardClip[1], traits_.hardClip[2],
                           traits_.hardClip[3]});
            break;
        case mnemonic('O', 'I'):
            text = std::string(plotterModelName(traits_.model));
            break;
        case mnemonic('O', 'O'):
            text = "0,1,0,0,1,0,0,0";
            break;
        case mnemonic('O', 'P'):
            text = joined({rounded(p1_.x()), rounded(p1_.y()), rounded(p2_.x()), rounded(p2_.y())});
            status_ &= ~kStatusP1P2Changed;
            break;
        case mnemonic('O', 'S'):
            text = std::to_string(status_ | (penDown_ ? kStatusPenDown : 0));
            status_ &= ~kStatusInitialized;
            break;
        case mnemonic('O', 'W'): {
            const QRectF w = window_;
            text = windowOn_ ? joined({rounded(w.left()), rounded(w.top()), rounded(w.right()),
                                       rounded(w.bottom())})
                             : joined({traits_.hardClip[0], traits_.hardClip[1],
                                       traits_.hardClip[2], traits_.hardClip[3]});
            break;
        }
        default:
            return false;
    }
    answer_ = text + std::string(kAnswerEnd);
    return true;
}

bool isOutputInstruction(int m) {
    return (m >> 8) == 'O';
}

// Streaming: whether the bytes so far hold all of the instruction just found (its
// parameters end at a separator ';', the next mnemonic or an escape; a label at its
// terminator). Output instructions need no terminator, as on the plotter.
bool Interpreter::complete(int m) {
    if (isOutputInstruction(m))
        return true;
    const std::string_view rest = reader_.bytes().substr(reader_.position());
    const size_t here = consumed_ + reader_.position();
    if (pending_.at != here)
        pending_ = {here, 0, false};
    Pending& p = pending_;
    auto waiting = [&] {
        p.scanned = rest.size();
        return false;
    };
    auto found = [&](char c) {
        if (rest.find(c, p.scanned) != std::string_view::npos)
            return true;
        return waiting();
    };
    if (m == mnemonic('L', 'B') || m == mnemonic('B', 'L'))
        return found(static_cast<char>(terminator_));
    if (m == mnemonic('P', 'E'))
        return found(';');
    // DT and SM take the byte after them whatever it is.
    size_t i = std::max<size_t>(p.scanned, m == mnemonic('D', 'T') || m == mnemonic('S', 'M'));
    for (; i < rest.size(); ++i) {
        const int c = static_cast<unsigned char>(rest[i]);
        if (p.quoted || c == '"') {
            const size_t end = rest.find('"', p.quoted ? i : i + 1);
            if (end == std::string_view::npos) {
                p.quoted = true;
                return waiting();
            }
            p.quoted = false;
            i = end;
            continue;
        }
        const bool parameter = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' ||
                               c == ',' || c == ' ' || (c < 0x20 && c != 0x1B) || c == 0x7F;
        if (!parameter)
            return true;
    }
    return waiting();
}

void Interpreter::process() {
    while (!stop_ || streaming_) {
        const int m = reader_.next();
        if (m == 0)
            break;
        if (reader_.moreToCome() && !complete(m)) {
            reader_.seek(reader_.position() - 2);  // back before the mnemonic
            break;
        }
        ++plot_.instructions;
        last_ = m;
        if (instruction(m) || quietlyIgnored(m) || notDrawn(m))
            ++known_;
        dispatch(m);
    }
}

std::string Interpreter::feed(std::string_view bytes) {
    const size_t consumed = reader_.position();
    bytes_.erase(0, consumed);
    consumed_ += consumed;
    bytes_.append(bytes);
    reader_.rebind(bytes_, consumed, true);
    answer_.clear();
    process();
    return answer_;
}

void Interpreter::penUpDown(int m) {
    penDown_ = m == mnemonic('P', 'D');
    if (polygonMode_ && !penDown_)
        ringOpen_ = false;
    moves(relative_);
}

void Interpreter::plotAbsoluteRelative(int m) {
    relative_ = m == mnemonic('P', 'R');
    moves(relative_);
}

void Interpreter::colourRange() {
    double v[6];
    int n = 0;
    while (n < 6 && reader_.number(v[n]))
        ++n;
    if (n == 6)
        std::copy_n(v, 6, colourRange_);
    else
        std::copy_n(kDefaultColourRange, 6, colourRange_);
}

Result<Plot> Interpreter::run() {
    if (reader_.bytes().empty())
        return fail(
            "the HP-GL data is empty (0 bytes): the plotter capture received "
            "nothing; plot again from the instrument");
    process();
    if (known_ == 0)
        return fail("no HP-GL instructions found in " + std::to_string(reader_.bytes().size()) +
                    " bytes: this is not plotter output");
    finishPage();
    if (plot_.pages.size() > 1 && plot_.pages.back().items.empty())
        plot_.pages.pop_back();
    if (drawnAtPageCut_ && drawnOnPage() > *drawnAtPageCut_) {
        const std::string last = std::to_string(limits_.pages);
        warn("the plot has more than " + last + " pages: page " +
             std::to_string(limits_.pages + 1) + " and later are drawn onto page " + last);
    }

    if (!unknown_.empty()) {
        std::string list;
        size_t total = 0;
        for (const auto& [n, count] : unknown_) {
            total += count;
            if (list.size() < 60)
                list += (list.empty() ? "" : ", ") + n;
        }
        warn("skipped " + std::to_string(total) + " unknown instructions (" + list + ")");
    }
    if (!notDrawn_.empty()) {
        std::string list;
        for (const auto& n : notDrawn_)
            list += (list.empty() ? "" : ", ") + n;
        warn("not drawn (not supported): " + list);
    }
    if (reader_.junkBytes() > 0)
        warn(std::to_string(reader_.junkBytes()) + " bytes that are no HP-GL were skipped");
    if (reader_.clampedNumbers() > 0)
        warn(std::to_string(reader_.clampedNumbers()) + " numbers out of range were clamped");
    if (degenerateScales_ > 0)
        warn("scaling (SC) with an empty range ignored " + std::to_string(degenerateScales_) +
             " times");
    if (oddParameters_ > 0)
        warn("a coordinate without its pair was ignored " + std::to_string(oddParameters_) +
             " times");
    if (labelUnterminated_)
        warn("a label runs to the end of the data (no terminator): the file may be cut short");
    if (textCut_)
        warn("label text cut short: more than " + std::to_string(limits_.textChars) +
             " characters in all or " + std::to_string(limits_.labelChars) + " in one label");
    if (polygonCut_)
        warn("polygon cut short: more than " + std::to_string(limits_.polygonPoints) + " points");
    bool drawn = false;
    for (const Page& p : plot_.pages)
        drawn = drawn || !p.items.empty();
    if (!drawn)
        warn("the plot draws nothing (no pen-down moves, shapes or labels)");
    return std::move(plot_);
}

}  // namespace

Result<Plot> parseHpgl(std::string_view bytes, const ParseLimits& limits) {
    Interpreter interpreter(bytes, limits);
    return interpreter.run();
}

bool looksLikeHpgl(std::string_view bytes) {
    const std::string_view head = bytes.substr(0, 512);
    const auto isBinary = [](unsigned char c) {
        return (c < 0x20 && c != '\r' && c != '\n' && c != '\t' && c != 0x1B && c != kEtx &&
                c != 0 && c != '\f') ||
               c >= 0x80;
    };
    // By content first: the first instructions must be HP-GL mnemonics. Label text may hold
    // any byte (Latin-1 letters, backspaces for overstrike), so only the bytes outside the
    // labels that end within the head count against the rule that plotter output is text.
    Reader reader(head);
    int seen = 0;
    size_t labelBinary = 0;
    int terminator = kEtx;
    for (int m = reader.next(); m != 0; m = reader.next()) {
        if (seen < 3) {
            if (!(Interpreter::instruction(m) || quietlyIgnored(m) || notDrawn(m)))
                return false;
            ++seen;
        }
        if (m == mnemonic('L', 'B')) {
            const size_t from = reader.position();
            reader.skipTo(static_cast<char>(terminator));
            const std::string_view label = head.substr(from, reader.position() - from);
            if (!label.empty() && static_cast<unsigned char>(label.back()) == terminator)
                labelBinary += static_cast<size_t>(
                    std::count_if(label.begin(), label.end(), [&](char c) { return isBinary(c); }));
            continue;
        }
        if (m == mnemonic('D', 'T')) {
            const int b = reader.peek();
            terminator = b < 0 || b == ';' || b == 0 || b == 0x1B || b == '\n' ? kEtx : b;
        }
        reader.skipParameters();
    }
    const size_t binary = static_cast<size_t>(
        std::count_if(head.begin(), head.end(), [&](char c) { return isBinary(c); }));
    return seen > 0 && (binary - labelBinary) * 20 <= head.size();
}

}  // namespace benchcap::hpgl

namespace benchcap::hpgl {

std::optional<PlotterModel> plotterModelNamed(std::string_view name) {
    std::string upper;
    for (const char c : name)
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper.starts_with("HP"))
        upper.erase(0, upper.find_first_not_of(" -", 2));
    if (upper == "7470A")
        return PlotterModel::HP7470A;
    if (upper == "7475A")
        return PlotterModel::HP7475A;
    return std::nullopt;
}

std::string_view plotterModelName(PlotterModel model) {
    return model == PlotterModel::HP7475A ? "7475A" : "7470A";
}

struct PlotterEmulator::State {
    State(PlotterModel m, PaperSize paper) : model(m), interpreter(plotterTraits(m, paper), {}) {}
    PlotterModel model;
    Interpreter interpreter;
};

PlotterEmulator::PlotterEmulator(PlotterModel model, PaperSize paper)
    : state_(std::make_unique<State>(model, paper)) {}
PlotterEmulator::~PlotterEmulator() = default;

std::string PlotterEmulator::feed(std::string_view bytes) {
    return state_->interpreter.feed(bytes);
}
PlotterModel PlotterEmulator::model() const {
    return state_->model;
}
size_t PlotterEmulator::instructions() const {
    return state_->interpreter.instructions();
}
std::string PlotterEmulator::lastInstruction() const {
    const int m = state_->interpreter.lastMnemonic();
    return m == 0 ? std::string()
                  : std::string{static_cast<char>(m >> 8), static_cast<char>(m & 0xFF)};
}

}  // namespace benchcap::hpgl
