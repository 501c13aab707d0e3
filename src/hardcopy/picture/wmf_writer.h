#pragma once

// A small writer of Windows Metafiles (WMF), the format analyzers use for their
// screen hardcopy. The simulated instruments draw their screens with it; tests
// use it to make pictures whose content they know.
//
// Example, a 640 x 480 screen with a grid, a trace and a label:
//
//     wmf::Writer w(640, 480);             // logical units = pixels at 96 dpi
//     w.brush(wmf::rgb(0, 0, 0));          // black background
//     w.nullPen();
//     w.rectangle(0, 0, 640, 480);
//     w.pen(wmf::PS_DOT, 0, wmf::rgb(96, 96, 96));
//     for (int x = 0; x <= 640; x += 64) w.line(x, 0, x, 480);
//     w.pen(wmf::PS_SOLID, 2, wmf::rgb(255, 255, 0));
//     w.polyline(tracePoints);
//     w.font(16, wmf::FW_BOLD, false, "Arial");
//     w.textColor(wmf::rgb(255, 255, 255));
//     w.bkMode(wmf::TRANSPARENT);
//     w.text(8, 8, "Ref -10.0 dBm");
//     std::string bytes = w.finish();      // placeable WMF, ready to write to a file
//
// By default the file starts with an Aldus placeable header (bounding box 0,0 ..
// width,height, `unitsPerInch` logical units per inch) followed by the standard header.
// The constructor records SetMapMode(MM_ANISOTROPIC), SetWindowOrg(0,0) and
// SetWindowExt(width,height), so players without placeable support scale the
// picture the same way. `Framing` leaves out the placeable header, or both, for
// pictures shaped like the files other programs write.
//
// Coordinates are logical units; WMF stores them as 16-bit signed numbers, so
// values outside -32768..32767 are clamped. Polylines and polygons longer than
// 32767 points are split into several records (polylines overlap by one point).
//
// The device context starts with the GDI defaults: black pen of width 0 (one pixel),
// white solid brush, black text, white background in OPAQUE mode, text aligned
// TA_TOP|TA_LEFT, ALTERNATE fill.
//
// Objects: `pen()`, `brush()` and `font()` create the object, select it and delete
// the one they selected before, so a caller never handles object indices. Callers
// that want to switch between objects keep them with `createPen()` /
// `createBrush()` / `createFont()`, `select()` and `deleteObject()`.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "hardcopy/picture/wmf_records.h"

namespace benchcap::wmf {

// A colour as the metafile stores it (COLORREF: 0x00BBGGRR).
using Rgb = uint32_t;
constexpr Rgb rgb(int r, int g, int b) {
    return static_cast<Rgb>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}

struct Point {
    int x = 0;
    int y = 0;
};

// Index of an object in the metafile's object table.
using ObjectHandle = int;

// How a file tells its size.
enum class Framing {
    Placeable,  // placeable header, mapping mode and window (the default)
    Window,     // no placeable header: mapping mode and window only
    None,       // neither: MM_TEXT, a player measures what the file draws
};

class Writer {
  public:
    // A picture `width` x `height` logical units; `unitsPerInch` gives its physical
    // size (96: one unit is one pixel on a 96 dpi screen; 1440: twips).
    Writer(int width, int height, int unitsPerInch = 96, Framing framing = Framing::Placeable);

    // --- Mapping -----------------------------------------------------------------
    void setMapMode(MapMode mode);
    void setWindowOrg(int x, int y);
    void setWindowExt(int width, int height);  // negative height flips y upwards

    // --- Objects: create, select, delete the previous one --------------------------
    // `style` is a PenStyle (PS_SOLID, PS_DASH, ... optionally | PS_ENDCAP_* | PS_JOIN_*);
    // width 0 is a one-pixel line at any scale.
    void pen(uint16_t style, int width, Rgb colour);
    void nullPen() { pen(PS_NULL, 0, 0); }
    void brush(Rgb colour);
    void hatchBrush(HatchStyle hatch, Rgb colour);
    void nullBrush();
    // `height` in logical units (the character height, like a negative LOGFONT height);
    // `escapement` in tenths of a degree, counter-clockwise.
    void font(int height, int weight = FW_NORMAL, bool italic = false,
              std::string_view face = "Arial", int escapement = 0);

    // --- Objects: explicit handles ---------------------------------------------------
    ObjectHandle createPen(uint16_t style, int width, Rgb colour);
    ObjectHandle createBrush(uint16_t style, Rgb colour, uint16_t hatch = 0);
    // `height` as in LOGFONT: negative = character height, positive = cell height.
    ObjectHandle createFont(int height, int weight, bool italic, std::string_view face,
                            int escapement = 0, uint8_t charSet = ANSI_CHARSET);
    void select(ObjectHandle object);
    void deleteObject(ObjectHandle object);

    // --- Device context state -------------------------------------------------------
    void textColor(Rgb colour);
    void bkColor(Rgb colour);
    void bkMode(BkMode mode);
    void textAlign(uint16_t align);  // TA_* flags
    void polyFillMode(PolyFillMode mode);
    void rop2(Rop2 mode);
    void saveDC();
    void restoreDC(int level = -1);

    // --- Drawing ----------------------------------------------------------------------
    void moveTo(int x, int y);
    void lineTo(int x, int y);
    void line(int x1, int y1, int x2, int y2) {
        moveTo(x1, y1);
        lineTo(x2, y2);
    }
    void polyline(const std::vector<Point>& points);
    void polyline(std::initializer_list<Point> points) { polyline(std::vector<Point>(points)); }
    void polygon(const std::vector<Point>& points);
    void polygon(std::initializer_list<Point> points) { polygon(std::vector<Point>(points)); }
    void rectangle(int left, int top, int right, int bottom);
    void ellipse(int left, int top, int right, int bottom);
    // TextOut: 8-bit text (Windows-1252) at the reference point set by textAlign().
    void text(int x, int y, std::string_view text);
    // ExtTextOut: `options` ETO_OPAQUE / ETO_CLIPPED use `rect` (left, top, right,
    // bottom); `dx` (empty or one advance per character) spaces the characters.
    void extText(int x, int y, std::string_view text, uint16_t options = 0,
                 std::initializer_list<int> rect = {}, const std::vector<int>& dx = {});

    // StretchDIB (SRCCOPY) of a 24-bit bitmap of `columns` x `rows` pixels, given top row
    // first, stretched over the destination rectangle.
    void stretchDib(int left, int top, int width, int height, int columns, int rows,
                    const std::vector<Rgb>& pixels);

    // Any record: `params` are the 16-bit parameter words in file order. For records
    // the writer has no call for, and for tests that need odd records.
    void record(uint16_t function, const std::vector<uint16_t>& params);

    // The complete metafile: headers, the records so far and META_EOF. The writer
    // can go on recording afterwards; a later finish() includes the new records.
    std::string finish() const;

  private:
    ObjectHandle allocate();
    void putPlaceableHeader(std::string& out) const;
    void replaceSelected(ObjectHandle& slot, ObjectHandle created);
    void points(uint16_t function, const std::vector<Point>& pts, bool overlap);

    int width_;
    int height_;
    int unitsPerInch_;
    Framing framing_;
    std::vector<uint16_t> body_;  // records, in 16-bit words
    uint32_t maxRecordWords_ = 3;
    std::vector<bool> used_;  // object table slots
    size_t peakObjects_ = 0;
    ObjectHandle ownPen_ = -1;
    ObjectHandle ownBrush_ = -1;
    ObjectHandle ownFont_ = -1;
};

}  // namespace benchcap::wmf
