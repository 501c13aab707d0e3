// The HP-GL interpreter: plotter state (P1/P2, scaling, pen, line type, character
// settings, polygon buffer, clip window, rotation) driven by the instructions the
// reader finds, building the display list in physical plotter units. The shapes and
// labels are in display_list.cpp, the plotter's answers in plotter_answers.cpp.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "hardcopy/hpgl/interpreter_p.h"

namespace benchcap::hpgl::detail {
namespace {

constexpr double kDefaultColourRange[6] = {0, 255, 0, 255, 0, 255};

// Index of a two-letter mnemonic, or -1 for anything else.
constexpr int letterSlot(int m) {
    const int a = (m >> 8) - 'A', b = (m & 0xFF) - 'A';
    return m >= 0 && m <= 0xFFFF && a >= 0 && a < 26 && b >= 0 && b < 26 ? a * 26 + b : -1;
}

std::string name(int m) {
    return {static_cast<char>(m >> 8), static_cast<char>(m & 0xFF)};
}

}  // namespace

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

bool notDrawn(int m) {
    return m == mnemonic('P', 'E') || m == mnemonic('B', 'R') || m == mnemonic('B', 'Z') ||
           m == mnemonic('X', 'T') || m == mnemonic('Y', 'T') || m == mnemonic('R', 'P') ||
           m == mnemonic('W', 'D');
}

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

}  // namespace benchcap::hpgl::detail

namespace benchcap::hpgl {

Result<Plot> parseHpgl(std::string_view bytes, const ParseLimits& limits) {
    detail::Interpreter interpreter(bytes, limits);
    return interpreter.run();
}

}  // namespace benchcap::hpgl
