#include "hardcopy/picture/wmf_writer.h"

#include <algorithm>

namespace benchcap::wmf {
namespace {

uint16_t word(int value) {
    return static_cast<uint16_t>(static_cast<int16_t>(std::clamp(value, -32768, 32767)));
}

void put16(std::string& out, uint16_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}

void put32(std::string& out, uint32_t v) {
    put16(out, static_cast<uint16_t>(v & 0xFFFF));
    put16(out, static_cast<uint16_t>(v >> 16));
}

void putColour(std::vector<uint16_t>& params, Rgb colour) {
    params.push_back(static_cast<uint16_t>(colour & 0xFFFF));
    params.push_back(static_cast<uint16_t>((colour >> 16) & 0x00FF));
}

// 8-bit text as 16-bit words, padded with a NUL to an even length.
void putText(std::vector<uint16_t>& params, std::string_view text) {
    for (size_t i = 0; i < text.size(); i += 2) {
        uint16_t lo = static_cast<unsigned char>(text[i]);
        uint16_t hi = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        params.push_back(static_cast<uint16_t>(lo | (hi << 8)));
    }
}

constexpr size_t kMaxPointsPerRecord = 32767;
constexpr size_t kMaxTextPerRecord = 32767;

}  // namespace

Writer::Writer(int width, int height, int unitsPerInch, Framing framing)
    : width_(std::clamp(width, 1, 32767)),
      height_(std::clamp(height, 1, 32767)),
      unitsPerInch_(std::clamp(unitsPerInch, 1, 65535)),
      framing_(framing) {
    if (framing_ == Framing::None)
        return;
    setMapMode(MM_ANISOTROPIC);
    setWindowOrg(0, 0);
    setWindowExt(width_, height_);
}

void Writer::record(uint16_t function, const std::vector<uint16_t>& params) {
    const uint32_t words = static_cast<uint32_t>(3 + params.size());
    maxRecordWords_ = std::max(maxRecordWords_, words);
    body_.push_back(static_cast<uint16_t>(words & 0xFFFF));
    body_.push_back(static_cast<uint16_t>(words >> 16));
    body_.push_back(function);
    body_.insert(body_.end(), params.begin(), params.end());
}

void Writer::setMapMode(MapMode mode) {
    record(META_SETMAPMODE, {mode});
}
void Writer::setWindowOrg(int x, int y) {
    record(META_SETWINDOWORG, {word(y), word(x)});
}
void Writer::setWindowExt(int width, int height) {
    record(META_SETWINDOWEXT, {word(height), word(width)});
}

ObjectHandle Writer::allocate() {
    auto free = std::find(used_.begin(), used_.end(), false);
    ObjectHandle index = static_cast<ObjectHandle>(free - used_.begin());
    if (free == used_.end()) {
        used_.push_back(true);
    } else {
        *free = true;
    }
    peakObjects_ = std::max(peakObjects_, used_.size());
    return index;
}

ObjectHandle Writer::createPen(uint16_t style, int width, Rgb colour) {
    std::vector<uint16_t> params{style, word(std::max(width, 0)), 0};
    putColour(params, colour);
    record(META_CREATEPENINDIRECT, params);
    return allocate();
}

ObjectHandle Writer::createBrush(uint16_t style, Rgb colour, uint16_t hatch) {
    std::vector<uint16_t> params{style};
    putColour(params, colour);
    params.push_back(hatch);
    record(META_CREATEBRUSHINDIRECT, params);
    return allocate();
}

ObjectHandle Writer::createFont(int height, int weight, bool italic, std::string_view face,
                                int escapement, uint8_t charSet) {
    std::vector<uint16_t> params{word(height), 0, word(escapement), word(escapement), word(weight)};
    params.push_back(static_cast<uint16_t>(italic ? 1 : 0));  // italic, underline
    params.push_back(static_cast<uint16_t>(charSet << 8));    // strikeout, charset
    params.push_back(0);                                      // precisions
    params.push_back(0);                                      // quality, pitch
    std::string name(face.substr(0, 31));
    name.push_back('\0');
    putText(params, name);
    record(META_CREATEFONTINDIRECT, params);
    return allocate();
}

void Writer::select(ObjectHandle object) {
    record(META_SELECTOBJECT, {word(object)});
}

void Writer::deleteObject(ObjectHandle object) {
    if (object < 0 || static_cast<size_t>(object) >= used_.size() || !used_[object])
        return;
    record(META_DELETEOBJECT, {word(object)});
    used_[object] = false;
}

void Writer::replaceSelected(ObjectHandle& slot, ObjectHandle created) {
    select(created);
    // Deleted after the new one is selected: GDI refuses to delete a selected object.
    if (slot >= 0)
        deleteObject(slot);
    slot = created;
}

void Writer::pen(uint16_t style, int width, Rgb colour) {
    replaceSelected(ownPen_, createPen(style, width, colour));
}
void Writer::brush(Rgb colour) {
    replaceSelected(ownBrush_, createBrush(BS_SOLID, colour));
}
void Writer::hatchBrush(HatchStyle hatch, Rgb colour) {
    replaceSelected(ownBrush_, createBrush(BS_HATCHED, colour, hatch));
}
void Writer::nullBrush() {
    replaceSelected(ownBrush_, createBrush(BS_NULL, 0));
}
void Writer::font(int height, int weight, bool italic, std::string_view face, int escapement) {
    replaceSelected(ownFont_, createFont(-std::abs(height), weight, italic, face, escapement));
}

void Writer::textColor(Rgb colour) {
    std::vector<uint16_t> params;
    putColour(params, colour);
    record(META_SETTEXTCOLOR, params);
}
void Writer::bkColor(Rgb colour) {
    std::vector<uint16_t> params;
    putColour(params, colour);
    record(META_SETBKCOLOR, params);
}
void Writer::bkMode(BkMode mode) {
    record(META_SETBKMODE, {mode});
}
void Writer::textAlign(uint16_t align) {
    record(META_SETTEXTALIGN, {align});
}
void Writer::polyFillMode(PolyFillMode mode) {
    record(META_SETPOLYFILLMODE, {mode});
}
void Writer::rop2(Rop2 mode) {
    record(META_SETROP2, {mode});
}
void Writer::saveDC() {
    record(META_SAVEDC, {});
}
void Writer::restoreDC(int level) {
    record(META_RESTOREDC, {word(level)});
}

void Writer::moveTo(int x, int y) {
    record(META_MOVETO, {word(y), word(x)});
}
void Writer::lineTo(int x, int y) {
    record(META_LINETO, {word(y), word(x)});
}

void Writer::points(uint16_t function, const std::vector<Point>& pts, bool overlap) {
    size_t start = 0;
    while (start < pts.size()) {
        const size_t count = std::min(kMaxPointsPerRecord, pts.size() - start);
        std::vector<uint16_t> params{static_cast<uint16_t>(count)};
        params.reserve(1 + 2 * count);
        for (size_t i = start; i < start + count; ++i) {
            params.push_back(word(pts[i].x));
            params.push_back(word(pts[i].y));
        }
        record(function, params);
        if (start + count >= pts.size())
            break;
        start += overlap ? count - 1 : count;
    }
}

void Writer::polyline(const std::vector<Point>& pts) {
    points(META_POLYLINE, pts, true);
}
void Writer::polygon(const std::vector<Point>& pts) {
    points(META_POLYGON, pts, false);
}

void Writer::rectangle(int left, int top, int right, int bottom) {
    record(META_RECTANGLE, {word(bottom), word(right), word(top), word(left)});
}
void Writer::ellipse(int left, int top, int right, int bottom) {
    record(META_ELLIPSE, {word(bottom), word(right), word(top), word(left)});
}

void Writer::text(int x, int y, std::string_view text) {
    text = text.substr(0, kMaxTextPerRecord);
    std::vector<uint16_t> params{static_cast<uint16_t>(text.size())};
    putText(params, text);
    params.push_back(word(y));
    params.push_back(word(x));
    record(META_TEXTOUT, params);
}

void Writer::extText(int x, int y, std::string_view text, uint16_t options,
                     std::initializer_list<int> rect, const std::vector<int>& dx) {
    text = text.substr(0, kMaxTextPerRecord);
    std::vector<uint16_t> params{word(y), word(x), static_cast<uint16_t>(text.size())};
    const bool hasRect = rect.size() == 4;
    if (!hasRect)
        options &= static_cast<uint16_t>(~(ETO_OPAQUE | ETO_CLIPPED));
    params.push_back(options);
    if (hasRect) {
        for (int v : rect)
            params.push_back(word(v));
    }
    putText(params, text);
    if (dx.size() == text.size()) {
        for (int v : dx)
            params.push_back(word(v));
    }
    record(META_EXTTEXTOUT, params);
}

void Writer::stretchDib(int left, int top, int width, int height, int columns, int rows,
                        const std::vector<Rgb>& pixels) {
    columns = std::max(columns, 0);
    rows = std::max(rows, 0);
    if (pixels.size() < static_cast<size_t>(columns) * static_cast<size_t>(rows))
        return;
    // BITMAPINFOHEADER, then 24-bit rows bottom-up, each padded to 4 bytes.
    const size_t stride = (static_cast<size_t>(columns) * 3 + 3) / 4 * 4;
    std::string dib;
    put32(dib, 40);
    put32(dib, static_cast<uint32_t>(columns));
    put32(dib, static_cast<uint32_t>(rows));
    put16(dib, 1);   // planes
    put16(dib, 24);  // bits per pixel
    put32(dib, 0);   // BI_RGB
    put32(dib, static_cast<uint32_t>(stride * static_cast<size_t>(rows)));
    for (int i = 0; i < 4; ++i)
        put32(dib, 0);  // resolution, colours used and important
    for (int y = rows - 1; y >= 0; --y) {
        const size_t rowStart = dib.size();
        for (int x = 0; x < columns; ++x) {
            const Rgb c = pixels[static_cast<size_t>(y) * static_cast<size_t>(columns) +
                                 static_cast<size_t>(x)];
            dib.push_back(static_cast<char>((c >> 16) & 0xFF));
            dib.push_back(static_cast<char>((c >> 8) & 0xFF));
            dib.push_back(static_cast<char>(c & 0xFF));
        }
        dib.resize(rowStart + stride, '\0');
    }
    // Raster operation, colour use, source rectangle, destination rectangle (each in
    // reverse order), then the bitmap.
    std::vector<uint16_t> params{static_cast<uint16_t>(SRCCOPY & 0xFFFF),
                                 static_cast<uint16_t>(SRCCOPY >> 16),
                                 0,  // DIB_RGB_COLORS
                                 word(rows),
                                 word(columns),
                                 0,
                                 0,
                                 word(height),
                                 word(width),
                                 word(top),
                                 word(left)};
    putText(params, dib);
    record(META_STRETCHDIB, params);
}

void Writer::putPlaceableHeader(std::string& out) const {
    // The checksum is the XOR of the header's first ten words.
    const uint16_t placeable[10] = {static_cast<uint16_t>(kPlaceableKey & 0xFFFF),
                                    static_cast<uint16_t>(kPlaceableKey >> 16),
                                    0,  // hmf
                                    0,
                                    0,
                                    static_cast<uint16_t>(width_),
                                    static_cast<uint16_t>(height_),
                                    static_cast<uint16_t>(unitsPerInch_),
                                    0,
                                    0};
    uint16_t checksum = 0;
    for (uint16_t w : placeable) {
        put16(out, w);
        checksum ^= w;
    }
    put16(out, checksum);
}

std::string Writer::finish() const {
    std::string out;
    const size_t totalWords = kStandardHeaderBytes / 2 + body_.size() + 3;
    out.reserve(kPlaceableHeaderBytes + totalWords * 2);
    if (framing_ == Framing::Placeable)
        putPlaceableHeader(out);

    put16(out, 1);  // mtType 1, the value GDI writes into metafile files as well
    put16(out, kStandardHeaderBytes / 2);
    put16(out, 0x0300);
    put32(out, static_cast<uint32_t>(totalWords));
    put16(out, static_cast<uint16_t>(std::min<size_t>(peakObjects_, 0xFFFF)));
    put32(out, maxRecordWords_);
    put16(out, 0);

    for (uint16_t w : body_)
        put16(out, w);
    put32(out, 3);
    put16(out, META_EOF);
    return out;
}

}  // namespace benchcap::wmf
