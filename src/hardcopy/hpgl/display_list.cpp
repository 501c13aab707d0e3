// The interpreter's drawing: lines, arcs, circles, rectangles, wedges, polygons and
// labels turned into the display list's items, points and texts, within the limits.

#include <algorithm>
#include <cmath>
#include <numbers>

#include "hardcopy/hpgl/interpreter_p.h"

namespace benchcap::hpgl::detail {
namespace {

constexpr double kUnitsPerCm = kUnitsPerMm * 10;

double radians(double degrees) {
    return degrees * std::numbers::pi / 180;
}

}  // namespace

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

}  // namespace benchcap::hpgl::detail
