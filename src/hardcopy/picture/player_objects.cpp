#include <algorithm>

#include "hardcopy/picture/dib.h"
#include "hardcopy/picture/player_p.h"

namespace benchcap::picture::detail {
namespace {

constexpr size_t kMaxRegionRects = 100000;

}  // namespace

void Player::addObject(Object object) {
    // GDI puts a new object into the lowest free slot of the table.
    auto free = std::find_if(objects_.begin(), objects_.end(), [](const Object& o) {
        return std::holds_alternative<std::monostate>(o);
    });
    if (free != objects_.end()) {
        *free = std::move(object);
    } else if (objects_.size() < kMaxObjects) {
        objects_.push_back(std::move(object));
    } else {
        warn("object table is full");
    }
}

void Player::selectObject(int index) {
    if (index < 0 || static_cast<size_t>(index) >= objects_.size())
        return;
    const Object& o = objects_[index];
    if (const auto* pen = std::get_if<Pen>(&o)) {
        dc_.pen = *pen;
    } else if (const auto* brush = std::get_if<Brush>(&o)) {
        dc_.brush = *brush;
    } else if (const auto* font = std::get_if<Font>(&o)) {
        dc_.font = *font;
        fontDirty_ = true;
    } else if (std::holds_alternative<Palette>(o)) {
        dc_.palette = index;
    } else if (const auto* region = std::get_if<Region>(&o)) {
        if (!afford(regionCost(*region)))
            return;
        dc_.clip = deviceRegion(*region);
        applyClip();
    }
}

void Player::deleteObject(int index) {
    if (index < 0 || static_cast<size_t>(index) >= objects_.size())
        return;
    objects_[index] = std::monostate{};
    if (dc_.palette == index)
        dc_.palette = -1;
}

std::vector<QRgb> Player::selectedPalette() const {
    if (dc_.palette < 0 || static_cast<size_t>(dc_.palette) >= objects_.size())
        return {};
    const auto* palette = std::get_if<Palette>(&objects_[dc_.palette]);
    return palette ? palette->colours : std::vector<QRgb>{};
}

QColor Player::colour(const Params& p, size_t word) const {
    const uint16_t rg = p.u16(word);
    const uint16_t bf = p.u16(word + 1);
    if ((bf >> 8) == 0x01) {  // an index into the selected palette
        if (dc_.palette >= 0 && static_cast<size_t>(dc_.palette) < objects_.size()) {
            if (const auto* palette = std::get_if<Palette>(&objects_[dc_.palette])) {
                if (rg < palette->colours.size())
                    return QColor(palette->colours[rg]);
            }
        }
        return QColor(0, 0, 0);
    }
    return QColor(rg & 0xFF, rg >> 8, bf & 0xFF);
}

void Player::objectRecord(const Record& r) {
    const Params& p = r.params;
    switch (r.function) {
        case wmf::META_CREATEPENINDIRECT: {
            Pen pen;
            pen.style = p.u16(0);
            pen.width = std::max<int>(0, p.i16(1));
            pen.colour = colour(p, 3);
            addObject(pen);
            break;
        }
        case wmf::META_CREATEBRUSHINDIRECT: {
            Brush brush;
            brush.style = p.u16(0);
            brush.colour = colour(p, 1);
            brush.hatch = p.u16(3);
            addObject(brush);
            break;
        }
        case wmf::META_CREATEFONTINDIRECT: {
            Font font;
            font.height = p.i16(0);
            font.width = p.i16(1);
            font.escapement = p.i16(2);
            font.weight = p.i16(4);
            font.italic = p.u8(10) != 0;
            font.underline = p.u8(11) != 0;
            font.strikeout = p.u8(12) != 0;
            font.charSet = p.u8(13);
            font.pitchAndFamily = p.u8(17);
            // The face name ends at its NUL; real files leave garbage after it.
            const std::string_view face = p.bytes(18, 32);
            font.face = std::string(face.substr(0, face.find('\0')));
            addObject(font);
            break;
        }
        case wmf::META_DIBCREATEPATTERNBRUSH: {
            Brush brush;
            brush.style = wmf::BS_DIBPATTERN;
            brush.colour = QColor(128, 128, 128);
            const std::string_view bits = p.bytes(4, p.size());
            if (!afford(static_cast<double>(dibPixels(bits))))
                return;
            Result<QImage> dib = decodeDib(bits, p.u16(1) == 1, selectedPalette());
            if (!dib) {
                warn("pattern brush bitmap not shown: " + dib.error());
            } else {
                brush.pattern = std::move(dib).value();
            }
            addObject(brush);
            break;
        }
        default: {  // META_CREATEPATTERNBRUSH: a device-dependent bitmap; grey stands in
            Brush brush;
            brush.colour = QColor(128, 128, 128);
            addObject(brush);
            break;
        }
    }
}

void Player::createPalette(const Params& p) {
    Palette palette;
    const size_t count =
        std::min<size_t>(p.u16(1), (p.words() - std::min<size_t>(p.words(), 2)) / 2);
    palette.colours.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const uint16_t rg = p.u16(2 + 2 * i);
        const uint16_t b = p.u16(3 + 2 * i);
        palette.colours.push_back(qRgb(rg & 0xFF, rg >> 8, b & 0xFF));
    }
    addObject(std::move(palette));
}

void Player::changePalette(uint16_t function, const Params& p) {
    if (dc_.palette < 0 || static_cast<size_t>(dc_.palette) >= objects_.size())
        return;
    auto* palette = std::get_if<Palette>(&objects_[dc_.palette]);
    if (!palette)
        return;
    if (function == wmf::META_RESIZEPALETTE) {
        palette->colours.resize(p.u16(0), qRgb(0, 0, 0));
        return;
    }
    const size_t start = p.u16(0);
    const size_t count =
        std::min<size_t>(p.u16(1), (p.words() - std::min<size_t>(p.words(), 2)) / 2);
    for (size_t i = 0; i < count && start + i < palette->colours.size(); ++i) {
        const uint16_t rg = p.u16(2 + 2 * i);
        const uint16_t b = p.u16(3 + 2 * i);
        palette->colours[start + i] = qRgb(rg & 0xFF, rg >> 8, b & 0xFF);
    }
}

void Player::createRegion(const Params& p) {
    Region region;
    const size_t scans = p.u16(5);
    size_t at = 11;
    for (size_t s = 0; s < scans && p.has(at + 3); ++s) {
        const size_t count = p.u16(at);
        const int top = p.i16(at + 1);
        const int bottom = p.i16(at + 2);
        if (!p.has(at + 3 + count + 1))
            break;
        for (size_t i = 0; i + 1 < count && region.rects.size() < kMaxRegionRects; i += 2) {
            const int left = p.i16(at + 3 + i);
            const int right = p.i16(at + 4 + i);
            if (right > left && bottom > top)
                region.rects.emplace_back(QPoint(left, top), QPoint(right - 1, bottom - 1));
        }
        at += 3 + count + 1;
    }
    if (scans == 0 && p.has(11)) {
        const QRect bounds(QPoint(p.i16(7), p.i16(8)), QPoint(p.i16(9) - 1, p.i16(10) - 1));
        if (bounds.isValid())
            region.rects.push_back(bounds);
    }
    addObject(std::move(region));
}

const Region* Player::region(int index) const {
    if (index < 0 || static_cast<size_t>(index) >= objects_.size())
        return nullptr;
    return std::get_if<Region>(&objects_[index]);
}

// Building a clip region merges each rectangle into the ones before it.
double Player::regionCost(const Region& region) const {
    const double n = static_cast<double>(region.rects.size());
    return n * std::min(n, 1024.0) + 64;
}

QRegion Player::deviceRegion(const Region& region) const {
    QRegion out;
    for (const QRect& r : region.rects) {
        out += mapRect(r.left(), r.top(), r.right() + 1, r.bottom() + 1).toAlignedRect();
    }
    return out;
}

void Player::regionRecord(const Record& r) {
    const Params& p = r.params;
    if (r.function == wmf::META_OFFSETCLIPRGN) {
        if (dc_.clip) {
            dc_.clip->translate(static_cast<int>(std::lround(p.i16(1) * ax_)),
                                static_cast<int>(std::lround(p.i16(0) * ay_)));
            applyClip();
        }
        return;
    }
    const Region* logical = region(p.u16(0));
    if (r.function == wmf::META_SELECTCLIPREGION) {
        if (logical) {
            if (!afford(regionCost(*logical)))
                return;
            dc_.clip = deviceRegion(*logical);
        } else {
            dc_.clip.reset();
        }
        applyClip();
        return;
    }
    if (!logical || !afford(regionCost(*logical)))
        return;
    const QRegion area = deviceRegion(*logical);
    if (measure(QRectF(area.boundingRect())) || !painter_ ||
        !afford(fillCost(QRectF(area.boundingRect()), 4.0 * area.rectCount())))
        return;
    QBrush brush = qbrush(dc_.brush);
    if (r.function == wmf::META_FILLREGION || r.function == wmf::META_FRAMEREGION) {
        const size_t index = p.u16(1);
        const auto* b = index < objects_.size() ? std::get_if<Brush>(&objects_[index]) : nullptr;
        if (!b)
            return;
        brush = qbrush(*b);
    }
    QRegion paint = area;
    if (r.function == wmf::META_FRAMEREGION) {
        const int w = std::max(1, static_cast<int>(std::lround(p.i16(3) * scaleX())));
        const int h = std::max(1, static_cast<int>(std::lround(p.i16(2) * scaleY())));
        const QRegion inner = area & area.translated(w, 0) & area.translated(-w, 0) &
                              area.translated(0, h) & area.translated(0, -h);
        paint = area - inner;
    }
    painter_->save();
    if (r.function == wmf::META_INVERTREGION) {
        if (!rasterOps_) {
            painter_->restore();
            return;
        }
        painter_->setCompositionMode(QPainter::RasterOp_NotDestination);
        brush = QBrush(Qt::white);
    }
    for (const QRect& rect : paint)
        painter_->fillRect(rect, brush);
    painter_->restore();
}

}  // namespace benchcap::picture::detail
