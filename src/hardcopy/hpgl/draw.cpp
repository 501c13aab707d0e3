// The painter pass: a Plot's display list onto any QPainter, fitted into a target.
// Everything is mapped to device coordinates here (not through a painter transform),
// so pen widths, dash lengths, hatch spacing and glyph sizes can be bounded in pixels:
// the cost of a page depends on its item count, not on what the numbers ask for.

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPaintEngine>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "hardcopy/hpgl/hpgl.h"

namespace benchcap::hpgl {
namespace {

constexpr size_t kMaxDashes = 2'000'000;    // dashes drawn per page, then solid
constexpr size_t kMaxHatchLines = 200'000;  // hatch lines per page, then solid fill
constexpr double kMinHatchSpacingPx = 3;
constexpr double kMinDashPeriodPx = 4;
constexpr double kInkPerVertex = 4;
// Rasterizing one pixel cell of a filled outline, before its density is counted.
constexpr double kInkPerEdgeCell = 4;
// Dots up to this size are copied from one drawn dot; each copy costs about this much.
constexpr double kMaxStampPx = 32;
constexpr double kInkPerDot = 16;
// Vector output is charged by what it writes (bytes of SVG, about as many of PDF page
// content before compression): an element's setup and each vertex. Qt's SVG writer holds
// the whole document in memory (about 4.5 bytes per byte written), so the budget keeps a
// 16 MB plot's SVG under about 20 MB and the program's memory under 256 MB.
constexpr double kVectorPerItem = 120;
constexpr double kVectorPerVertex = 16;
constexpr double kVectorPerDot = 48;
constexpr double kVectorBudget = 20e6;
// Edges on a glyph's row ('W' has eight), and a glyph's outline cells per cell side.
constexpr double kGlyphEdges = 8;
// Glyphs below this size (pixels) are drawn from Qt's glyph cache.
constexpr double kCachedGlyphPx = 48;

// Dash patterns of the HP-GL line types 1..8, in percent of the pattern length:
// mark, gap, mark, gap... (a mark of 0 is a dot).
struct Pattern {
    int n;
    double v[6];
};
constexpr Pattern kPatterns[9] = {
    {0, {}},
    {2, {0, 100}},                  // 1 dots
    {2, {50, 50}},                  // 2 short dashes
    {2, {70, 30}},                  // 3 long dashes
    {4, {80, 10, 0, 10}},           // 4 dash dot
    {4, {70, 10, 10, 10}},          // 5 long short
    {6, {50, 10, 10, 10, 10, 10}},  // 6 long short short
    {6, {70, 10, 0, 10, 0, 10}},    // 7 dash dot dot
    {6, {50, 10, 0, 10, 10, 20}},   // 8 dash dot dash
};

class Painter {
  public:
    Painter(QPainter& painter, const QRectF& target, const Page& page, const DrawOptions& options)
        : p_(painter), target_(target), page_(page), options_(options) {
        t_ = fitTransform(page.extent, target);
        scale_ = t_.m11();
        maxWidthPx_ = std::max(target.width(), target.height()) / 10;
        const QPaintEngine* engine = painter.paintEngine();
        vector_ =
            engine && (engine->type() == QPaintEngine::SVG || engine->type() == QPaintEngine::Pdf ||
                       engine->type() == QPaintEngine::Picture);
        budget_ = options.inkBudget > 0 ? options.inkBudget
                  : vector_
                      ? kVectorBudget
                      : std::max(kMinInkBudget, kInkPerPixel * target.width() * target.height());
    }

    std::vector<std::string> run();

  private:
    QPen pen(const Style& s, double lengthPx);
    void polyline(const Item& item, const Style& s);
    void dots(const Item& item, const Style& s);
    void polygon(const Item& item, const Style& s);
    void text(const Item& item, const Style& s);
    void setClip(int32_t clip);

    QPainter& p_;
    QRectF target_;
    const Page& page_;
    DrawOptions options_;
    QTransform t_;
    double scale_ = 1;
    double maxWidthPx_ = 1;
    int32_t clip_ = -1;
    size_t dashes_ = 0;
    size_t hatchLines_ = 0;
    bool dashesCut_ = false;
    bool hatchCut_ = false;
    bool haveFonts_ = false;
    bool textSkipped_ = false;
    bool inkCut_ = false;
    bool cancelled_ = false;
    bool vector_ = false;  // SVG, PDF: no pixels to cover, only vertices to write
    double budget_ = kMinInkBudget;
    double ink_ = 0;
    // Pixels covered: nothing on vector output.
    double pixels(double ink) const { return vector_ ? 0.0 : ink; }
    double fillInk(const QRectF& box, double cells) const;
    double outlineCells(const QPolygonF& ring) const;
    bool spend(double ink) {
        if (inkCut_ || !(ink <= budget_ - ink_)) {  // also catches a NaN
            inkCut_ = true;
            return false;
        }
        ink_ += ink;
        return true;
    }
    // The font is looked up with the first label: a plot without any needs no font
    // database (reading the system's font configuration is most of a small plot's time).
    void loadFont();
    bool fontLoaded_ = false;
    QFont font_;
    double capHeight_ = 1, charWidth_ = 1;
};

void Painter::loadFont() {
    if (fontLoaded_)
        return;
    fontLoaded_ = true;
    font_ = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font_.setStyleHint(QFont::TypeWriter);
    font_.setPixelSize(64);
    const QFontMetricsF fm(font_);
    capHeight_ = fm.capHeight() > 1 ? fm.capHeight() : fm.ascent() * 0.7;
    charWidth_ = fm.horizontalAdvance(QLatin1Char('M')) * 0.8;
    if (charWidth_ <= 0)
        charWidth_ = 32;
}

QPen Painter::pen(const Style& s, double lengthPx) {
    double w = std::clamp(s.width * scale_, 0.0, maxWidthPx_);
    if (w < 2)
        w = 0;  // cosmetic, one device pixel: Qt's fast line path, and plenty for thin pens
    QPen pen(QColor::fromRgb(s.colour), w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    if (s.lineType >= 1 && s.lineType <= 8) {
        const Pattern& pat = kPatterns[s.lineType];
        const double period = s.patternLength * scale_;
        // Only periods worth drawing are divided by: a tiny one would overflow the count.
        const size_t count = period >= kMinDashPeriodPx
                                 ? static_cast<size_t>(std::min(lengthPx / period, 1e12)) + 1
                                 : 0;
        if (period >= kMinDashPeriodPx && dashes_ + count <= kMaxDashes) {
            dashes_ += count;
            const double unit = std::max(w, 1.0);
            QList<qreal> dashes;
            for (int i = 0; i < pat.n; ++i) {
                // Round caps grow each mark by the width: a dot is a mark of ~zero length.
                double px = pat.v[i] * period / 100;
                px = (i % 2 == 0) ? std::max(px, 0.5) : std::max(px, 1.0) + (w > 1 ? w : 0);
                dashes.push_back(px / unit);
            }
            pen.setDashPattern(dashes);
            if (w <= 1)
                pen.setCapStyle(Qt::FlatCap);
        } else if (period >= kMinDashPeriodPx) {
            dashesCut_ = true;
        }
    }
    return pen;
}

void Painter::setClip(int32_t clip) {
    if (clip == clip_)
        return;
    if (clip_ >= 0)
        p_.restore();
    clip_ = clip;
    if (clip >= 0 && static_cast<size_t>(clip) < page_.clips.size()) {
        p_.save();
        // The window's edge itself is inside (a frame drawn on it stays visible); a
        // pixel of slack keeps rounding from cutting it off.
        const QRectF window = t_.mapRect(page_.clips[static_cast<size_t>(clip)]);
        p_.setClipRect(window.adjusted(-1, -1, 1, 1), Qt::IntersectClip);
    } else {
        clip_ = -1;
    }
}

void Painter::polyline(const Item& item, const Style& s) {
    QPolygonF poly;
    poly.reserve(item.count);
    double length = 0;
    // Thin pens go down as cosmetic lines; wide ones through the stroker, which costs
    // several times more per pixel covered.
    const double widthPx = std::min(s.width * scale_, maxWidthPx_);
    const double w = widthPx < 2 ? 1 : 4 * widthPx;
    for (uint32_t i = 0; i < item.count; ++i) {
        const QPointF q = t_.map(page_.points[item.first + i]);
        double step = 0;
        if (!poly.isEmpty())
            step = std::abs(q.x() - poly.back().x()) + std::abs(q.y() - poly.back().y());
        if (!spend(vector_ ? kVectorPerVertex : std::max(step, kInkPerVertex) * w))
            break;
        length += step;
        poly.push_back(q);
    }
    if (poly.isEmpty())
        return;
    p_.setPen(pen(s, length));
    if (length < 0.5 || poly.size() < 2) {
        p_.drawPoint(poly.front());  // pen down without moving: a dot
        return;
    }
    // In pieces: the stroker fills a wide polyline as one path, and a long one that
    // crosses itself costs far more in one piece than in many (round caps hide the seams).
    constexpr qsizetype kPiece = 64;
    for (qsizetype from = 0; from + 1 < poly.size(); from += kPiece)
        p_.drawPolyline(poly.constData() + from,
                        static_cast<int>(std::min(kPiece + 1, poly.size() - from)));
}

void Painter::dots(const Item& item, const Style& s) {
    const double w = std::clamp(s.width * scale_, 2.0, std::max(maxWidthPx_, 2.0));
    const QColor colour = QColor::fromRgb(s.colour);
    if (!vector_ && w <= kMaxStampPx) {
        // On an image a dot drawn once and copied to each place costs a twentieth of a
        // stroked one (a million stroked dots took 7 s).
        const int side = static_cast<int>(std::ceil(w)) + 2;
        QImage stamp(side, side, QImage::Format_ARGB32_Premultiplied);
        stamp.fill(Qt::transparent);
        {
            QPainter sp(&stamp);
            sp.setRenderHint(QPainter::Antialiasing, options_.antialias);
            sp.setPen(Qt::NoPen);
            sp.setBrush(colour);
            sp.drawEllipse(QPointF(side / 2.0, side / 2.0), w / 2, w / 2);
        }
        const QPointF centre(side / 2.0, side / 2.0);
        const QRectF seen = target_.adjusted(-side, -side, side, side);
        for (uint32_t i = 0; i < item.count && spend(std::max(w * w, kInkPerDot)); ++i) {
            const QPointF q = t_.map(page_.points[item.first + i]) - centre;
            if (!seen.contains(q))
                continue;  // off the target (and perhaps beyond any pixel coordinate)
            p_.drawImage(
                QPoint(static_cast<int>(std::lround(q.x())), static_cast<int>(std::lround(q.y()))),
                stamp);
        }
        return;
    }
    QPolygonF poly;
    poly.reserve(item.count);
    for (uint32_t i = 0; i < item.count && spend(vector_ ? kVectorPerDot : w * w); ++i)
        poly.push_back(t_.map(page_.points[item.first + i]));
    p_.setPen(QPen(colour, w, Qt::SolidLine, Qt::RoundCap));
    p_.drawPoints(poly);
}

// Filling costs the covered part of the target, plus each pixel cell its outline
// crosses times the outline's density (crossings per row): Qt's rasterizer slows down
// sharply with many edges on a row (a polygon of 340 full-height spikes took a second).
double Painter::fillInk(const QRectF& box, double cells) const {
    const QRectF r = box.normalized().intersected(target_);
    const bool inside = r.isValid() && !r.isEmpty();
    const double rows = inside ? std::max(r.height(), 1.0) : 1.0;
    const double density = std::max(1.0, cells / rows);
    return pixels((inside ? r.width() * r.height() : 0.0) + kInkPerEdgeCell * cells * density);
}

// Pixel cells a closed outline crosses on the target (each edge's run clipped to the
// target's width and height).
double Painter::outlineCells(const QPolygonF& ring) const {
    double cells = 0;
    const qsizetype n = ring.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QPointF d = ring[(i + 1) % n] - ring[i];
        cells += std::min(std::abs(d.x()), target_.width()) +
                 std::min(std::abs(d.y()), target_.height()) + 1;
    }
    return cells;
}

void Painter::polygon(const Item& item, const Style& s) {
    size_t vertices = 0;
    for (uint32_t r = 0; r < item.count; ++r)
        vertices += page_.rings[item.first + r].count;
    if (!spend(static_cast<double>(vertices) * (vector_ ? kVectorPerVertex : kInkPerVertex)))
        return;
    QPainterPath path;
    path.setFillRule(s.evenOdd ? Qt::OddEvenFill : Qt::WindingFill);
    double cells = 0;
    for (uint32_t r = 0; r < item.count; ++r) {
        const Ring& ring = page_.rings[item.first + r];
        QPolygonF poly;
        poly.reserve(ring.count);
        for (uint32_t i = 0; i < ring.count; ++i)
            poly.push_back(t_.map(page_.points[ring.first + i]));
        cells += outlineCells(poly);
        path.addPolygon(poly);
        path.closeSubpath();
    }
    const QColor colour = QColor::fromRgb(s.colour);
    bool hatch = s.fill == FillType::Hatch || s.fill == FillType::CrossHatch;
    const QRectF box = path.boundingRect();
    // A hatched area is rasterized as a clip path: the same work as its fill.
    if (!spend(fillInk(box, cells)))
        return;
    const double spacing = std::max(s.hatchSpacing * scale_, kMinHatchSpacingPx);
    const double reach = std::hypot(box.width(), box.height());
    const int directions = s.fill == FillType::CrossHatch ? 2 : 1;
    const size_t lines = static_cast<size_t>(reach / spacing + 2) * static_cast<size_t>(directions);
    if (hatch && hatchLines_ + lines > kMaxHatchLines) {
        hatch = false;
        hatchCut_ = true;
    }
    if (hatch && !spend(static_cast<double>(lines) * (vector_ ? kVectorPerItem : reach)))
        return;
    if (!hatch) {
        p_.fillPath(path, colour);
    } else {
        hatchLines_ += lines;
        p_.save();
        p_.setClipPath(path, Qt::IntersectClip);
        p_.setPen(QPen(colour, 0));
        const QPointF c = box.center();
        for (int d = 0; d < directions; ++d) {
            // Physical angles turn counter-clockwise with y up; the device's y is down.
            const double a = (s.hatchAngle + 90.0 * d) * std::numbers::pi / 180;
            const QPointF along(std::cos(a), -std::sin(a));
            const QPointF across(std::sin(a), std::cos(a));
            for (double k = -reach / 2; k <= reach / 2; k += spacing) {
                const QPointF m = c + across * k;
                p_.drawLine(m - along * reach, m + along * reach);
            }
        }
        p_.restore();
    }
    if (s.edge) {
        const double w = std::clamp(s.width * scale_, 1.0, std::max(maxWidthPx_, 1.0));
        if (!spend(vector_ ? static_cast<double>(vertices) * kVectorPerVertex : cells * w))
            return;
        p_.setPen(pen(s, 0));
        p_.setBrush(Qt::NoBrush);
        p_.drawPath(path);
    }
}

void Painter::text(const Item& item, const Style& s) {
    if (!haveFonts_) {
        textSkipped_ = true;
        return;
    }
    if (item.first >= page_.texts.size())
        return;
    const Text& t = page_.texts[item.first];
    const double h = t.height * scale_, w = t.width * scale_, adv = t.advance * scale_;
    const double limit = std::max(target_.width(), target_.height()) * 4;
    if (std::abs(h) < 0.5 || std::abs(h) > limit || std::abs(w) > limit || std::abs(adv) > limit)
        return;  // too small to read, or absurd
    // Glyphs of screen sizes come from Qt's glyph cache and cost their cell; larger ones
    // are rasterized as paths, at the cost of a fill of their cell.
    const double cell = std::max(std::abs(h), std::abs(w));
    const double side = std::min(cell, std::hypot(target_.width(), target_.height()));
    const QRectF box(t_.map(t.origin) - QPointF(side, side), QSizeF(2 * side, 2 * side));
    const double glyph = vector_                 ? kVectorPerItem
                         : cell < kCachedGlyphPx ? std::max(std::abs(h * adv), kInkPerVertex * 4)
                                                 : fillInk(box, 2 * kGlyphEdges * side);
    if (!spend(glyph * static_cast<double>(t.chars.size())))
        return;
    loadFont();
    const double sy = h / capHeight_;
    const double sx = std::max(std::abs(w), 0.1) / charWidth_;
    p_.save();
    p_.setPen(QColor::fromRgb(s.colour));
    p_.setFont(font_);
    p_.translate(t_.map(t.origin));
    p_.rotate(-t.angle);
    p_.shear(-t.slant, 0);
    p_.scale(sx, sy);
    const size_t n = t.chars.size();
    for (size_t i = 0; i < n; ++i) {
        const QChar ch = QChar::fromLatin1(t.chars[i]);
        if (ch != QLatin1Char(' '))
            p_.drawText(QPointF(adv * static_cast<double>(i) / sx, 0), QString(ch));
    }
    p_.restore();
}

std::vector<std::string> Painter::run() {
    std::vector<std::string> warnings;
    haveFonts_ = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    p_.save();
    p_.setRenderHint(QPainter::Antialiasing, options_.antialias);
    p_.setRenderHint(QPainter::TextAntialiasing, true);
    p_.setClipRect(target_, Qt::IntersectClip);
    p_.setBrush(Qt::NoBrush);
    for (const Item& item : page_.items) {
        // Asked before each item: one item costs at most the budget, all of them far more.
        if (options_.cancelled && options_.cancelled()) {
            cancelled_ = true;
            break;
        }
        if (item.style >= page_.styles.size())
            continue;
        if (vector_ && !spend(kVectorPerItem))
            break;
        const Style& s = page_.styles[item.style];
        setClip(item.clip);
        switch (item.kind) {
            case LineKind::Polyline:
                polyline(item, s);
                break;
            case LineKind::Dots:
                dots(item, s);
                break;
            case LineKind::Polygon:
                polygon(item, s);
                break;
            case LineKind::Text:
                text(item, s);
                break;
        }
    }
    setClip(-1);
    p_.restore();
    if (textSkipped_)
        warnings.push_back("labels not drawn: text needs fonts, and fonts a QGuiApplication");
    if (dashesCut_)
        warnings.push_back("too many dashes: some dashed lines drawn solid");
    if (inkCut_)
        warnings.push_back(std::string(kInkCutWarning) + ": it asks for more drawing than " +
                           std::to_string(std::lround(budget_ / 1e6)) +
                           (vector_ ? " MB of vector output" : " million pixels of ink") +
                           "; the last shapes are left out");
    if (cancelled_)
        warnings.push_back("drawing stopped on request");
    if (hatchCut_)
        warnings.push_back("too many hatch lines: some hatched areas filled solid");
    return warnings;
}

}  // namespace

QTransform fitTransform(const QRectF& extent, const QRectF& target) {
    const double ew = std::max(extent.width(), 1e-9), eh = std::max(extent.height(), 1e-9);
    double s = std::min(target.width() / ew, target.height() / eh);
    if (!std::isfinite(s) || s <= 0)
        s = 1;
    const double offX = (target.width() - ew * s) / 2;
    const double offY = (target.height() - eh * s) / 2;
    const double dx = target.left() + offX - extent.left() * s;
    const double dy = target.bottom() - offY + extent.top() * s;
    return QTransform(s, 0, 0, -s, dx, dy);
}

std::vector<std::string> draw(QPainter& painter, const QRectF& target, const Plot& plot,
                              const DrawOptions& options) {
    if (options.page < 0 || static_cast<size_t>(options.page) >= plot.pages.size())
        return {"page " + std::to_string(options.page + 1) + " does not exist (the plot has " +
                std::to_string(plot.pages.size()) + ")"};
    if (target.isEmpty())
        return {};
    Painter p(painter, target, plot.pages[static_cast<size_t>(options.page)], options);
    return p.run();
}

Result<QImage> renderPlot(const Plot& plot, QSize size, std::vector<std::string>* warnings,
                          const DrawOptions& options) {
    if (size.isEmpty())
        size = QSize(1024, 768);
    if (size.width() > kMaxRenderSide || size.height() > kMaxRenderSide ||
        qint64(size.width()) * size.height() > kMaxRenderPixels)
        return fail("image of " + std::to_string(size.width()) + " x " +
                    std::to_string(size.height()) + " pixels is too large (at most " +
                    std::to_string(kMaxRenderSide) + " per side, " +
                    std::to_string(kMaxRenderPixels / 1'000'000) + " megapixels in all)");
    QImage image(size, QImage::Format_RGB32);
    if (image.isNull())
        return fail("not enough memory for an image of " + std::to_string(size.width()) + " x " +
                    std::to_string(size.height()) + " pixels");
    image.fill(Qt::white);
    QPainter painter(&image);
    std::vector<std::string> w = draw(painter, QRectF(QPointF(0, 0), QSizeF(size)), plot, options);
    painter.end();
    if (warnings) {
        warnings->insert(warnings->end(), plot.warnings.begin(), plot.warnings.end());
        warnings->insert(warnings->end(), w.begin(), w.end());
    }
    return image;
}

Result<QImage> renderHpgl(std::string_view bytes, QSize size, std::vector<std::string>* warnings) {
    Result<Plot> plot = parseHpgl(bytes);
    if (!plot)
        return Error{plot.error()};
    return renderPlot(*plot, size, warnings);
}

}  // namespace benchcap::hpgl
