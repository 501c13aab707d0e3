#include <QGuiApplication>
#include <QPaintEngine>
#include <algorithm>
#include <array>
#include <cmath>

#include "hardcopy/picture/player_p.h"

namespace benchcap::picture {
namespace detail {
namespace {

constexpr size_t kMaxWarnings = 20;
// Walking and dispatching one record, in pixel operations.
constexpr double kRecordWork = 16;
// Smallest work limit: a 1024 x 768 target's.
constexpr double kMinWorkLimit = kWorkPerPixel * 1024 * 768;
// Rasterizing one pixel cell of a filled outline, before its density is counted.
constexpr double kEdgeCellWork = 16;

double metricUnitsPerInch(uint16_t mode) {
    switch (mode) {
        case wmf::MM_LOMETRIC:
            return 254.0;
        case wmf::MM_HIMETRIC:
            return 2540.0;
        case wmf::MM_LOENGLISH:
            return 100.0;
        case wmf::MM_HIENGLISH:
            return 1000.0;
        case wmf::MM_TWIPS:
            return 1440.0;
        default:
            return 0.0;
    }
}

}  // namespace

Player::Player(QPainter* painter, std::string_view bytes, const MetafileHeader& header,
               const Placement& placement, const QRectF& target, const PlayOptions& options)
    : painter_(painter),
      bytes_(bytes),
      header_(header),
      placement_(placement),
      target_(target),
      options_(options) {
    objects_.resize(std::min<size_t>(header.objectCount, kMaxObjects));
    const QRectF& w = placement_.initialWindow;
    dc_.windowOrg = dc_.viewportOrg = w.topLeft();
    dc_.windowExt = dc_.viewportExt = QPointF(w.width(), w.height());
    haveFonts_ = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    workLimit_ = std::max(kMinWorkLimit,
                          kWorkPerPixel * std::abs(target_.width()) * std::abs(target_.height()));
    if (painter_) {
        rasterOps_ = painter_->paintEngine() &&
                     painter_->paintEngine()->hasFeature(QPaintEngine::RasterOpModes);
        QRegion base(target_.toAlignedRect());
        if (painter_->hasClipping())
            base &= painter_->clipRegion();
        baseClip_ = base;
    }
    updateMapping();
}

void Player::run(PlayResult& result) {
    if (painter_) {
        painter_->save();
        painter_->setRenderHint(QPainter::Antialiasing, options_.antialias);
        painter_->setRenderHint(QPainter::TextAntialiasing, true);
        painter_->setClipRegion(baseClip_);
    }
    RecordWalker walker(bytes_, header_.recordsOffset);
    Record record;
    while (!stopped_ && walker.next(record)) {
        if (!afford(kRecordWork))
            break;
        if (options_.cancelled && recordsPlayed_ % 256 == 255 && options_.cancelled()) {
            stopped_ = true;
            warn("drawing stopped on request");
            break;
        }
        dispatch(record);
        if (!stopped_)
            ++recordsPlayed_;
    }
    if (painter_)
        painter_->restore();

    if (!header_.checksumOk)
        warn("placeable header checksum is wrong (ignored)");
    if (auto problem = walker.endProblem(); !problem.empty() && !stopped_)
        warn(problem);
    if (droppedWarnings_ > 0) {
        warnings_.push_back(std::to_string(droppedWarnings_) + " more problems not listed");
    }
    result.records = recordsPlayed_;
    result.work = work_;
    result.warnings = std::move(warnings_);
}

bool Player::afford(double cost) {
    if (stopped_)
        return false;
    if (!(cost <= workLimit_ - work_)) {  // also catches a NaN cost
        stopped_ = true;
        warn("picture is too complex to draw in full: stopped at record " +
             std::to_string(recordsPlayed_ + 1) +
             " (the file asks for far more drawing than a screen picture needs)");
        return false;
    }
    work_ += cost;
    return true;
}

double Player::clippedArea(const QRectF& device) const {
    const QRectF r = device.normalized().intersected(target_);
    return r.isValid() ? r.width() * r.height() : 0.0;
}

double Player::maxPenPixels() const {
    return 2.0 * std::hypot(target_.width(), target_.height()) + 16;
}

double Player::penPixels() const {
    if ((dc_.pen.style & wmf::PS_STYLE_MASK) == wmf::PS_NULL)
        return 0;
    return std::clamp(dc_.pen.width * scaleX(), 1.0, maxPenPixels());
}

// Stroking costs each segment's length (up to the target's diagonal: the rest is clipped
// away) plus the pen's width for its ends and joins, times the pen's width.
double Player::strokeCost(const QPolygonF& points, bool closed) const {
    const double w = penPixels();
    if (w <= 0 || points.isEmpty())
        return 0;
    const double diagonal = std::hypot(target_.width(), target_.height());
    double cost = 0;
    const qsizetype n = points.size();
    for (qsizetype i = 1; i < n + (closed ? 1 : 0); ++i) {
        const QPointF d = points[i % n] - points[i - 1];
        cost += (std::min(std::hypot(d.x(), d.y()), diagonal) + w) * w;
    }
    return cost + w * w;
}

// Filling costs the covered part of the target, plus each pixel cell its outline
// crosses times the outline's density (crossings per row): Qt's rasterizer slows down
// sharply with many edges on a row (a polygon of 125 full-height spikes takes 0.8 s).
double Player::fillCost(const QRectF& bounds, double cells) const {
    const QRectF r = bounds.normalized().intersected(target_);
    const double rows = r.isValid() ? std::max(r.height(), 1.0) : 1.0;
    const double density = std::max(1.0, cells / rows);
    return clippedArea(bounds) + kEdgeCellWork * cells * density;
}

double Player::fillCost(const QRectF& r) const {
    const QRectF n = r.normalized();
    return fillCost(
        n, 2 * (std::min(n.width(), target_.width()) + std::min(n.height(), target_.height())));
}

// Pixel cells an outline crosses on the target (each edge's run clipped to the target's
// width and height).
double Player::edgeCells(const QPolygonF& points, bool closed) const {
    double cells = 0;
    const qsizetype n = points.size();
    for (qsizetype i = 1; i < n + (closed && n > 1 ? 1 : 0); ++i) {
        const QPointF d = points[i % n] - points[i - 1];
        cells += std::min(std::abs(d.x()), target_.width()) +
                 std::min(std::abs(d.y()), target_.height()) + 1;
    }
    return cells;
}

void Player::warn(const std::string& text) {
    if (std::find(warnings_.begin(), warnings_.end(), text) != warnings_.end())
        return;
    if (warnings_.size() >= kMaxWarnings) {
        ++droppedWarnings_;
        return;
    }
    warnings_.push_back(text);
}

bool Player::measure(const QRectF& deviceBounds) {
    if (painter_)
        return false;
    const QRectF b = deviceBounds.normalized();
    if (std::isfinite(b.left()) && std::isfinite(b.top()) && std::isfinite(b.width()) &&
        std::isfinite(b.height())) {
        // Points have no area; keep them by giving them a tiny one.
        const QRectF r(b.topLeft(), QSizeF(std::max(b.width(), 1e-6), std::max(b.height(), 1e-6)));
        measured_ = measured_.isNull() ? r : measured_.united(r);
    }
    return true;
}

void Player::updateMapping() {
    const QRectF& f = placement_.frame;
    const double kx = target_.width() / f.width();
    const double ky = target_.height() / f.height();
    double sx = 1;
    double sy = 1;
    if (const double upi = metricUnitsPerInch(dc_.mapMode); upi > 0) {
        sx = placement_.unitsPerInch / upi;
        sy = -sx;
    } else if (dc_.mapMode == wmf::MM_ISOTROPIC || dc_.mapMode == wmf::MM_ANISOTROPIC) {
        sx = dc_.viewportExt.x() / dc_.windowExt.x();
        sy = dc_.viewportExt.y() / dc_.windowExt.y();
        if (dc_.mapMode == wmf::MM_ISOTROPIC) {
            const double s = std::min(std::abs(sx), std::abs(sy));
            sx = std::copysign(s, sx);
            sy = std::copysign(s, sy);
        }
    }
    stretch_ = kx / ky;
    ax_ = sx * kx;
    ay_ = sy * ky;
    bx_ = (dc_.viewportOrg.x() - dc_.windowOrg.x() * sx - f.left()) * kx + target_.left();
    by_ = (dc_.viewportOrg.y() - dc_.windowOrg.y() * sy - f.top()) * ky + target_.top();
    fontDirty_ = true;
}

QRectF Player::mapRect(double left, double top, double right, double bottom) const {
    return QRectF(map(left, top), map(right, bottom)).normalized();
}

void Player::setWindowExt(double x, double y) {
    // A zero extent would divide by zero; GDI refuses it too.
    if (x == 0 || y == 0)
        return;
    dc_.windowExt = QPointF(x, y);
    updateMapping();
}

void Player::setViewportExt(double x, double y) {
    if (x == 0 || y == 0)
        return;
    dc_.viewportExt = QPointF(x, y);
    updateMapping();
}

void Player::saveDc() {
    if (saved_.size() >= kMaxSavedStates) {
        warn("too many saved drawing states");
        return;
    }
    saved_.push_back(dc_);
}

void Player::restoreDc(int level) {
    size_t keep = 0;  // number of saved states left afterwards
    if (level < 0) {
        const size_t back = static_cast<size_t>(-static_cast<long>(level));
        if (back > saved_.size())
            return;
        keep = saved_.size() - back;
    } else if (level > 0 && static_cast<size_t>(level) <= saved_.size()) {
        keep = static_cast<size_t>(level) - 1;
    } else {
        return;
    }
    dc_ = std::move(saved_[keep]);
    saved_.resize(keep);
    stateChanged();
}

void Player::stateChanged() {
    updateMapping();
    applyClip();
}

void Player::applyClip() {
    if (!painter_)
        return;
    painter_->setClipRegion(dc_.clip ? (*dc_.clip & baseClip_) : baseClip_);
}

void Player::intersectClip(const QRectF& device, bool exclude) {
    const QRegion rect(device.toAlignedRect());
    QRegion clip = dc_.clip ? *dc_.clip : QRegion(target_.toAlignedRect());
    dc_.clip = exclude ? clip.subtracted(rect) : clip.intersected(rect);
    applyClip();
}

Player::RecordHandler Player::handler(uint16_t function) {
    using namespace wmf;
    struct Entry {
        uint16_t function;
        RecordHandler run;
    };
    // Records with no entry (escapes, mapper flags, flood fills and the rest) draw nothing.
    static constexpr Entry kRecords[] = {
        {META_SETMAPMODE,
         [](Player& pl, const Record& r) {
             if (r.params.u16(0) >= MM_TEXT && r.params.u16(0) <= MM_ANISOTROPIC)
                 pl.dc_.mapMode = r.params.u16(0);
             pl.updateMapping();
         }},
        {META_SETWINDOWORG,
         [](Player& pl, const Record& r) {
             pl.dc_.windowOrg = QPointF(r.params.i16(1), r.params.i16(0));
             pl.updateMapping();
         }},
        {META_SETWINDOWEXT,
         [](Player& pl, const Record& r) { pl.setWindowExt(r.params.i16(1), r.params.i16(0)); }},
        {META_SETVIEWPORTORG,
         [](Player& pl, const Record& r) {
             pl.dc_.viewportOrg = QPointF(r.params.i16(1), r.params.i16(0));
             pl.updateMapping();
         }},
        {META_SETVIEWPORTEXT,
         [](Player& pl, const Record& r) { pl.setViewportExt(r.params.i16(1), r.params.i16(0)); }},
        {META_OFFSETWINDOWORG,
         [](Player& pl, const Record& r) {
             pl.dc_.windowOrg += QPointF(r.params.i16(1), r.params.i16(0));
             pl.updateMapping();
         }},
        {META_OFFSETVIEWPORTORG,
         [](Player& pl, const Record& r) {
             pl.dc_.viewportOrg += QPointF(r.params.i16(1), r.params.i16(0));
             pl.updateMapping();
         }},
        {META_SCALEWINDOWEXT, [](Player& pl, const Record& r) { pl.scaleExt(r); }},
        {META_SCALEVIEWPORTEXT, [](Player& pl, const Record& r) { pl.scaleExt(r); }},
        {META_SAVEDC, [](Player& pl, const Record&) { pl.saveDc(); }},
        {META_RESTOREDC, [](Player& pl, const Record& r) { pl.restoreDc(r.params.i16(0)); }},
        {META_SETBKCOLOR,
         [](Player& pl, const Record& r) { pl.dc_.bkColour = pl.colour(r.params, 0); }},
        {META_SETTEXTCOLOR,
         [](Player& pl, const Record& r) { pl.dc_.textColour = pl.colour(r.params, 0); }},
        {META_SETBKMODE,
         [](Player& pl, const Record& r) {
             pl.dc_.bkMode = r.params.u16(0) == TRANSPARENT ? TRANSPARENT : OPAQUE;
         }},
        {META_SETTEXTALIGN,
         [](Player& pl, const Record& r) { pl.dc_.textAlign = r.params.u16(0); }},
        {META_SETPOLYFILLMODE,
         [](Player& pl, const Record& r) {
             pl.dc_.polyFill = r.params.u16(0) == WINDING ? WINDING : ALTERNATE;
         }},
        {META_SETROP2,
         [](Player& pl, const Record& r) {
             const uint16_t rop = r.params.u16(0);
             pl.dc_.rop2 = rop >= R2_BLACK && rop <= R2_WHITE ? rop : uint16_t{R2_COPYPEN};
         }},
        {META_SETTEXTCHAREXTRA,
         [](Player& pl, const Record& r) { pl.dc_.charExtra = r.params.i16(0); }},
        {META_CREATEPENINDIRECT, [](Player& pl, const Record& r) { pl.objectRecord(r); }},
        {META_CREATEBRUSHINDIRECT, [](Player& pl, const Record& r) { pl.objectRecord(r); }},
        {META_CREATEFONTINDIRECT, [](Player& pl, const Record& r) { pl.objectRecord(r); }},
        {META_DIBCREATEPATTERNBRUSH, [](Player& pl, const Record& r) { pl.objectRecord(r); }},
        {META_CREATEPATTERNBRUSH, [](Player& pl, const Record& r) { pl.objectRecord(r); }},
        {META_CREATEPALETTE, [](Player& pl, const Record& r) { pl.createPalette(r.params); }},
        {META_CREATEREGION, [](Player& pl, const Record& r) { pl.createRegion(r.params); }},
        {0x06FE,
         [](Player& pl, const Record&) { pl.addObject(OtherObject{}); }},  // META_CREATEBITMAP
        {0x02FD, [](Player& pl,
                    const Record&) { pl.addObject(OtherObject{}); }},  // META_CREATEBITMAPINDIRECT
        {0x00F8,
         [](Player& pl, const Record&) { pl.addObject(OtherObject{}); }},  // META_CREATEBRUSH
        {META_SELECTOBJECT, [](Player& pl, const Record& r) { pl.selectObject(r.params.u16(0)); }},
        {META_SELECTPALETTE,
         [](Player& pl, const Record& r) {
             const uint16_t index = r.params.u16(0);
             if (index < pl.objects_.size() && std::holds_alternative<Palette>(pl.objects_[index]))
                 pl.dc_.palette = index;
         }},
        {META_DELETEOBJECT, [](Player& pl, const Record& r) { pl.deleteObject(r.params.u16(0)); }},
        {META_SETPALENTRIES,
         [](Player& pl, const Record& r) { pl.changePalette(r.function, r.params); }},
        {META_ANIMATEPALETTE,
         [](Player& pl, const Record& r) { pl.changePalette(r.function, r.params); }},
        {META_RESIZEPALETTE,
         [](Player& pl, const Record& r) { pl.changePalette(r.function, r.params); }},
        {META_INTERSECTCLIPRECT, [](Player& pl, const Record& r) { pl.clipRectRecord(r); }},
        {META_EXCLUDECLIPRECT, [](Player& pl, const Record& r) { pl.clipRectRecord(r); }},
        {META_OFFSETCLIPRGN, [](Player& pl, const Record& r) { pl.regionRecord(r); }},
        {META_SELECTCLIPREGION, [](Player& pl, const Record& r) { pl.regionRecord(r); }},
        {META_FILLREGION, [](Player& pl, const Record& r) { pl.regionRecord(r); }},
        {META_FRAMEREGION, [](Player& pl, const Record& r) { pl.regionRecord(r); }},
        {META_PAINTREGION, [](Player& pl, const Record& r) { pl.regionRecord(r); }},
        {META_INVERTREGION, [](Player& pl, const Record& r) { pl.regionRecord(r); }},
        {META_MOVETO,
         [](Player& pl,
            const Record& r) { pl.dc_.position = QPointF(r.params.i16(1), r.params.i16(0)); }},
        {META_LINETO,
         [](Player& pl, const Record& r) { pl.lineTo(r.params.i16(1), r.params.i16(0)); }},
        {META_POLYLINE, [](Player& pl, const Record& r) { pl.polyline(r.params, false); }},
        {META_POLYGON, [](Player& pl, const Record& r) { pl.polyline(r.params, true); }},
        {META_POLYPOLYGON, [](Player& pl, const Record& r) { pl.polyPolygon(r.params); }},
        {META_RECTANGLE, [](Player& pl, const Record& r) { pl.rectangle(r.params, false); }},
        {META_ROUNDRECT, [](Player& pl, const Record& r) { pl.rectangle(r.params, true); }},
        {META_ELLIPSE, [](Player& pl, const Record& r) { pl.ellipse(r.params); }},
        {META_ARC, [](Player& pl, const Record& r) { pl.arc(r.params, 0); }},
        {META_PIE, [](Player& pl, const Record& r) { pl.arc(r.params, 1); }},
        {META_CHORD, [](Player& pl, const Record& r) { pl.arc(r.params, 2); }},
        {META_SETPIXEL, [](Player& pl, const Record& r) { pl.setPixel(r.params); }},
        {META_TEXTOUT, [](Player& pl, const Record& r) { pl.textOut(r.params); }},
        {META_EXTTEXTOUT, [](Player& pl, const Record& r) { pl.extTextOut(r.params); }},
        {META_PATBLT, [](Player& pl, const Record& r) { pl.bitmapRecord(r); }},
        {META_BITBLT, [](Player& pl, const Record& r) { pl.bitmapRecord(r); }},
        {META_STRETCHBLT, [](Player& pl, const Record& r) { pl.bitmapRecord(r); }},
        {META_DIBBITBLT, [](Player& pl, const Record& r) { pl.bitmapRecord(r); }},
        {META_DIBSTRETCHBLT, [](Player& pl, const Record& r) { pl.bitmapRecord(r); }},
        {META_STRETCHDIB, [](Player& pl, const Record& r) { pl.bitmapRecord(r); }},
        {META_SETDIBTODEV, [](Player& pl, const Record& r) { pl.bitmapRecord(r); }},
    };
    // A record's low byte alone tells it apart; the slot keeps the lookup a single step.
    static constexpr auto kSlots = [] {
        std::array<uint8_t, 256> index{};
        index.fill(0xFF);
        for (size_t i = 0; i < std::size(kRecords); ++i) {
            uint8_t& slot = index[kRecords[i].function & 0xFF];
            if (slot != 0xFF)
                throw "two records share a low byte";
            slot = static_cast<uint8_t>(i);
        }
        return index;
    }();
    const uint8_t slot = kSlots[function & 0xFF];
    return slot != 0xFF && kRecords[slot].function == function ? kRecords[slot].run : nullptr;
}

void Player::dispatch(const Record& r) {
    if (const RecordHandler run = handler(r.function))
        run(*this, r);
}

void Player::scaleExt(const Record& r) {
    const Params& p = r.params;
    // yDenom, yNum, xDenom, xNum
    if (p.i16(0) == 0 || p.i16(2) == 0)
        return;
    const bool window = r.function == wmf::META_SCALEWINDOWEXT;
    const QPointF& ext = window ? dc_.windowExt : dc_.viewportExt;
    const double x = ext.x() * p.i16(3) / p.i16(2);
    const double y = ext.y() * p.i16(1) / p.i16(0);
    window ? setWindowExt(x, y) : setViewportExt(x, y);
}

void Player::clipRectRecord(const Record& r) {
    const Params& p = r.params;
    intersectClip(mapRect(p.i16(3), p.i16(2), p.i16(1), p.i16(0)),
                  r.function == wmf::META_EXCLUDECLIPRECT);
}

// Where the picture's reference rectangle comes from: the placeable bounding box,
// else the window a file sets up for an anisotropic mapping, else the extent of
// what it draws (MM_TEXT files without a window, metric mapping modes).
std::optional<Placement> place(std::string_view bytes, const MetafileHeader& header) {
    Placement placement;
    placement.unitsPerInch = header.placeable && header.unitsPerInch > 0 ? header.unitsPerInch : 96;
    if (header.placeable) {
        const QRectF box =
            QRectF(QPointF(header.left, header.top), QPointF(header.right, header.bottom))
                .normalized();
        if (box.width() > 0 && box.height() > 0) {
            placement.initialWindow = placement.frame = box;
            return placement;
        }
    }
    std::optional<QPointF> org;
    std::optional<QPointF> ext;
    uint16_t mode = wmf::MM_ANISOTROPIC;
    bool modeSeen = false;
    RecordWalker walker(bytes, header.recordsOffset);
    Record r;
    while (walker.next(r) && !(org && ext && modeSeen)) {
        if (r.function == wmf::META_SETWINDOWORG && !org) {
            org = QPointF(r.params.i16(1), r.params.i16(0));
        } else if (r.function == wmf::META_SETWINDOWEXT && !ext && r.params.i16(0) != 0 &&
                   r.params.i16(1) != 0) {
            ext = QPointF(r.params.i16(1), r.params.i16(0));
        } else if (r.function == wmf::META_SETMAPMODE && !modeSeen) {
            mode = r.params.u16(0);
            modeSeen = true;
        }
    }
    const QPointF o = org.value_or(QPointF(0, 0));
    if (ext && (mode == wmf::MM_ANISOTROPIC || mode == wmf::MM_ISOTROPIC)) {
        placement.initialWindow = placement.frame =
            QRectF(o, QSizeF(ext->x(), ext->y())).normalized();
        return placement;
    }
    placement.initialWindow = placement.frame = QRectF(o, QSizeF(1, 1));
    Player measurer(nullptr, bytes, header, placement, placement.frame, {});
    PlayResult ignored;
    measurer.run(ignored);
    const QRectF drawn = measurer.measured();
    if (drawn.isNull() || drawn.width() <= 0 || drawn.height() <= 0) {
        placement.frame = QRectF(o, QSizeF(100, 100));
    } else {
        // MM_TEXT pictures are drawn from the origin on; keep the margin to it.
        placement.frame =
            mode == wmf::MM_TEXT || !modeSeen ? drawn.united(QRectF(o, QSizeF(1e-6, 1e-6))) : drawn;
    }
    return placement;
}

}  // namespace detail

Result<MetafileInfo> inspectMetafile(std::string_view bytes) {
    const Result<MetafileHeader> header = parseMetafileHeader(bytes);
    if (!header)
        return fail(header.error());
    const auto placement = detail::place(bytes, *header);
    MetafileInfo info;
    info.placeable = header->placeable;
    info.unitsPerInch = header->unitsPerInch;
    info.frame = placement->frame;
    double w = info.frame.width();
    double h = info.frame.height();
    if (info.placeable) {
        const double inch = info.unitsPerInch > 0 ? info.unitsPerInch : 1440;
        w = w * 96.0 / inch;
        h = h * 96.0 / inch;
    }
    const double shrink = std::min(1.0, kMaxNaturalSide / std::max(w, h));
    info.naturalSize =
        QSize(std::clamp(static_cast<int>(std::lround(w * shrink)), 1, kMaxNaturalSide),
              std::clamp(static_cast<int>(std::lround(h * shrink)), 1, kMaxNaturalSide));
    return info;
}

PlayResult playMetafile(QPainter& painter, const QRectF& target, std::string_view bytes,
                        const PlayOptions& options) {
    PlayResult result;
    const Result<MetafileHeader> header = parseMetafileHeader(bytes);
    if (!header) {
        result.status = fail(header.error());
        return result;
    }
    if (!painter.isActive()) {
        result.status = fail("painter is not active");
        return result;
    }
    if (!(target.width() > 0 && target.height() > 0))
        return result;  // nothing to draw into
    const auto placement = detail::place(bytes, *header);
    detail::Player player(&painter, bytes, *header, *placement, target, options);
    player.run(result);
    return result;
}

}  // namespace benchcap::picture
