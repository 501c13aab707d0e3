#pragma once

// Inside of the metafile player: device context state, object table and the record
// dispatch. Split over player.cpp (walk, state, mapping), player_objects.cpp
// (objects, colours, text encoding) and player_draw.cpp / player_text.cpp (drawing).

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPen>
#include <QPolygonF>
#include <QRegion>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "hardcopy/picture/metafile_player.h"
#include "hardcopy/picture/metafile_reader.h"
#include "hardcopy/picture/wmf_records.h"

namespace benchcap::picture::detail {

struct Pen {
    uint16_t style = wmf::PS_SOLID;
    int width = 0;
    QColor colour{0, 0, 0};
};

struct Brush {
    uint16_t style = wmf::BS_SOLID;
    QColor colour{255, 255, 255};
    uint16_t hatch = 0;
    QImage pattern;  // pattern brushes
};

struct Font {
    int height = 0;
    int width = 0;
    int escapement = 0;
    int weight = 0;
    bool italic = false;
    bool underline = false;
    bool strikeout = false;
    uint8_t charSet = 0;
    uint8_t pitchAndFamily = 0;
    std::string face;
};

struct Palette {
    std::vector<QRgb> colours;
};

// Rectangles in logical units.
struct Region {
    std::vector<QRect> rects;
};

// Objects the player does not use still take their slot in the table.
struct OtherObject {};

using Object = std::variant<std::monostate, Pen, Brush, Font, Palette, Region, OtherObject>;

struct DcState {
    Pen pen;
    Brush brush;
    Font font;
    int palette = -1;  // object index of the selected palette
    QColor textColour{0, 0, 0};
    QColor bkColour{255, 255, 255};
    uint16_t bkMode = wmf::OPAQUE;
    uint16_t textAlign = 0;
    uint16_t polyFill = wmf::ALTERNATE;
    uint16_t rop2 = wmf::R2_COPYPEN;
    // Players set up an anisotropic mapping before they play a picture, and files
    // rely on it (many never set a mapping mode).
    uint16_t mapMode = wmf::MM_ANISOTROPIC;
    QPointF windowOrg;
    QPointF windowExt{1, 1};
    QPointF viewportOrg;
    QPointF viewportExt{1, 1};
    QPointF position;  // current position, logical
    int charExtra = 0;
    std::optional<QRegion> clip;  // painter coordinates
};

// How the reference space (frame) lands on the target.
struct Placement {
    QRectF initialWindow;  // window and viewport the player starts with
    QRectF frame;          // reference rectangle mapped onto the target
    double unitsPerInch = 96;
};

class Player {
  public:
    // `painter` null: measure the extent of the drawing instead of painting.
    Player(QPainter* painter, std::string_view bytes, const MetafileHeader& header,
           const Placement& placement, const QRectF& target, const PlayOptions& options);

    void run(PlayResult& result);
    QRectF measured() const { return measured_; }

  private:
    // player.cpp
    using RecordHandler = void (*)(Player&, const Record&);
    // What a record does, by its function; null for records that draw nothing.
    static RecordHandler handler(uint16_t function);
    void dispatch(const Record& r);
    void scaleExt(const Record& r);
    void clipRectRecord(const Record& r);
    void updateMapping();
    QPointF map(double x, double y) const { return {ax_ * x + bx_, ay_ * y + by_}; }
    QRectF mapRect(double left, double top, double right, double bottom) const;
    double scaleX() const { return ax_ < 0 ? -ax_ : ax_; }
    double scaleY() const { return ay_ < 0 ? -ay_ : ay_; }
    void setWindowExt(double x, double y);
    void setViewportExt(double x, double y);
    void saveDc();
    void restoreDc(int level);
    void stateChanged();
    void applyClip();
    void intersectClip(const QRectF& device, bool exclude);
    void warn(const std::string& text);
    bool measure(const QRectF& deviceBounds);
    // The work budget: afford() books `cost` pixel operations, or, when the picture's
    // limit would be passed, warns once, stops the walk and returns false.
    bool afford(double cost);
    double clippedArea(const QRectF& device) const;
    double penPixels() const;  // width of the current pen on the target, at least 1
    // Widest pen drawn: wider ones cover no more of the target, only cost more.
    double maxPenPixels() const;
    double strokeCost(const QPolygonF& points, bool closed) const;
    double fillCost(const QRectF& bounds, double cells) const;
    double fillCost(const QRectF& r) const;  // a rectangle
    double edgeCells(const QPolygonF& points, bool closed) const;
    double shapeCost(const QRectF& r) const;  // player_draw.cpp

    // player_objects.cpp
    void addObject(Object object);
    void selectObject(int index);
    void deleteObject(int index);
    QColor colour(const Params& p, size_t word) const;
    std::vector<QRgb> selectedPalette() const;
    void createPalette(const Params& p);
    void changePalette(uint16_t function, const Params& p);
    void objectRecord(const Record& r);
    void createRegion(const Params& p);
    const Region* region(int index) const;
    QRegion deviceRegion(const Region& region) const;
    double regionCost(const Region& region) const;
    void regionRecord(const Record& r);

    // player_draw.cpp
    bool rop2Skips() const;
    void applyRop2();
    QColor rop2Colour(const QColor& c) const;
    QPen qpen() const;
    QBrush qbrush(const Brush& brush) const;
    template <class Draw>
    void paintShape(bool fill, Draw&& draw);
    void lineTo(double x, double y);
    void polyline(const Params& p, bool polygon);
    void polyPolygon(const Params& p);
    void rectangle(const Params& p, bool round);
    void ellipse(const Params& p);
    void arc(const Params& p, int kind);
    void setPixel(const Params& p);
    void bitmapRecord(const Record& r);
    void drawDib(std::string_view dib, uint16_t colourUse, bool bottomUpSource, uint32_t rop,
                 QRectF src, const QRectF& dest);
    void patBlt(uint32_t rop, const QRectF& dest);

    // player_text.cpp
    bool fontReady();
    QString decodeText(std::string_view bytes) const;
    void textOut(const Params& p);
    void extTextOut(const Params& p);
    void drawText(double x, double y, std::string_view bytes, const std::vector<double>& dx,
                  const std::vector<double>& dy, uint16_t options, const QRectF* rect);
    // A line of text laid out at its reference point: character positions along the baseline
    // and the box's offsets from the anchor, in device pixels.
    struct TextLayout {
        QString text;
        QPointF anchor;
        std::vector<double> pos;
        double width = 0;
        double x0 = 0;
        double baseline = 0;
        bool perChar = false;
        bool visible = false;
    };
    // Also moves the current position when the alignment says so.
    TextLayout layoutText(double x, double y, std::string_view bytes,
                          const std::vector<double>& dx);
    void paintText(const TextLayout& t, const std::vector<double>& dy, uint16_t options,
                   const QRectF* rect);

    QPainter* painter_;
    std::string_view bytes_;
    MetafileHeader header_;
    Placement placement_;
    QRectF target_;
    PlayOptions options_;
    std::vector<Object> objects_;
    DcState dc_;
    std::vector<DcState> saved_;
    // logical -> painter: x' = ax * x + bx, y' = ay * y + by
    double ax_ = 1, bx_ = 0, ay_ = 1, by_ = 0;
    // How much wider than tall the picture is stretched onto the target; text follows.
    double stretch_ = 1;
    QRegion baseClip_;
    bool rasterOps_ = false;
    bool haveFonts_ = false;
    QRectF measured_;
    double work_ = 0;
    double workLimit_ = 0;
    bool stopped_ = false;  // work limit reached
    size_t recordsPlayed_ = 0;
    std::vector<std::string> warnings_;
    size_t droppedWarnings_ = 0;
    // Font realised for the current font and mapping.
    bool fontDirty_ = true;
    QFont qfont_;
    double fontAscent_ = 0, fontDescent_ = 0, fontPixels_ = 0;
};

inline constexpr size_t kMaxSavedStates = 4096;
inline constexpr size_t kMaxObjects = 65536;

}  // namespace benchcap::picture::detail
