#include "sim/screen_picture.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#ifdef BENCHCAP_HAVE_WMF_WRITER
#include "hardcopy/picture/wmf_writer.h"
#endif

namespace benchcap::sim {

namespace {

// 5x7 dot font, one string of five '#'/'.' per row.
struct Glyph {
    char c;
    const char* rows[7];
};

constexpr Glyph kFont[] = {
    {'0', {".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."}},
    {'1', {"..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'2', {".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"}},
    {'3', {"#####", "...#.", "..#..", "...#.", "....#", "#...#", ".###."}},
    {'4', {"...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#."}},
    {'5', {"#####", "#....", "####.", "....#", "....#", "#...#", ".###."}},
    {'6', {"..##.", ".#...", "#....", "####.", "#...#", "#...#", ".###."}},
    {'7', {"#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#..."}},
    {'8', {".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###."}},
    {'9', {".###.", "#...#", "#...#", ".####", "....#", "...#.", ".##.."}},
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'B', {"####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."}},
    {'C', {".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."}},
    {'D', {"###..", "#..#.", "#...#", "#...#", "#...#", "#..#.", "###.."}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {'F', {"#####", "#....", "#....", "####.", "#....", "#....", "#...."}},
    {'G', {".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".####"}},
    {'H', {"#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'I', {".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'J', {"..###", "...#.", "...#.", "...#.", "...#.", "#..#.", ".##.."}},
    {'K', {"#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"}},
    {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
    {'M', {"#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"}},
    {'N', {"#...#", "#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#"}},
    {'O', {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'P', {"####.", "#...#", "#...#", "####.", "#....", "#....", "#...."}},
    {'Q', {".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"}},
    {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
    {'S', {".####", "#....", "#....", ".###.", "....#", "....#", "####."}},
    {'T', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
    {'U', {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'V', {"#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."}},
    {'W', {"#...#", "#...#", "#...#", "#.#.#", "#.#.#", "#.#.#", ".#.#."}},
    {'X', {"#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"}},
    {'Y', {"#...#", "#...#", ".#.#.", "..#..", "..#..", "..#..", "..#.."}},
    {'Z', {"#####", "....#", "...#.", "..#..", ".#...", "#....", "#####"}},
    {'.', {".....", ".....", ".....", ".....", ".....", ".##..", ".##.."}},
    {',', {".....", ".....", ".....", ".....", ".##..", "..#..", ".#..."}},
    {'-', {".....", ".....", ".....", "#####", ".....", ".....", "....."}},
    {'+', {".....", "..#..", "..#..", "#####", "..#..", "..#..", "....."}},
    {':', {".....", ".##..", ".##..", ".....", ".##..", ".##..", "....."}},
    {'/', {"....#", "....#", "...#.", "..#..", ".#...", "#....", "#...."}},
    {'%', {"##..#", "##..#", "...#.", "..#..", ".#...", "#..##", "#..##"}},
    {'(', {"...#.", "..#..", ".#...", ".#...", ".#...", "..#..", "...#."}},
    {')', {".#...", "..#..", "...#.", "...#.", "...#.", "..#..", ".#..."}},
    {'=', {".....", ".....", "#####", ".....", "#####", ".....", "....."}},
    {'*', {".....", "..#..", "#.#.#", ".###.", "#.#.#", "..#..", "....."}},
    {'_', {".....", ".....", ".....", ".....", ".....", ".....", "#####"}},
    {'#', {".#.#.", ".#.#.", "#####", ".#.#.", "#####", ".#.#.", ".#.#."}},
    {'\'', {"..#..", "..#..", ".#...", ".....", ".....", ".....", "....."}},
    {'>', {".#...", "..#..", "...#.", "....#", "...#.", "..#..", ".#..."}},
    {'<', {"...#.", "..#..", ".#...", "#....", ".#...", "..#..", "...#."}},
    {'?', {".###.", "#...#", "....#", "...#.", "..#..", ".....", "..#.."}},
    {'!', {"..#..", "..#..", "..#..", "..#..", "..#..", ".....", "..#.."}},
};

const Glyph* glyphFor(char c) {
    const char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const Glyph& g : kFont) {
        if (g.c == u)
            return &g;
    }
    return nullptr;  // blank (space and anything the font lacks)
}

// Top-down 24-bit canvas.
class Canvas {
  public:
    Canvas(int w, int h) : w_(w), h_(h), px_(static_cast<size_t>(w) * h * 3, 0) {}

    void fill(int x0, int y0, int x1, int y1, Colour c) {
        x0 = std::clamp(x0, 0, w_);
        x1 = std::clamp(x1, 0, w_);
        y0 = std::clamp(y0, 0, h_);
        y1 = std::clamp(y1, 0, h_);
        for (int y = y0; y < y1; ++y) {
            uint8_t* p = &px_[(static_cast<size_t>(y) * w_ + x0) * 3];
            for (int x = x0; x < x1; ++x, p += 3) {
                p[0] = c.r;
                p[1] = c.g;
                p[2] = c.b;
            }
        }
    }

    void dot(int x, int y, int size, Colour c) {
        const int lo = -(size - 1) / 2;
        fill(x + lo, y + lo, x + lo + size, y + lo + size, c);
    }

    void line(int x0, int y0, int x1, int y1, int width, bool dotted, Colour c) {
        const int dx = std::abs(x1 - x0);
        const int dy = -std::abs(y1 - y0);
        const int sx = x0 < x1 ? 1 : -1;
        const int sy = y0 < y1 ? 1 : -1;
        int err = dx + dy;
        for (int step = 0;; ++step) {
            if (!dotted || step % 4 < 2)
                dot(x0, y0, width, c);
            if (x0 == x1 && y0 == y1)
                break;
            const int e2 = 2 * err;
            if (e2 >= dy) {
                err += dy;
                x0 += sx;
            }
            if (e2 <= dx) {
                err += dx;
                y0 += sy;
            }
        }
    }

    void text(int x, int y, std::string_view s, int dotSize, Colour c) {
        for (const char ch : s) {
            if (const Glyph* g = glyphFor(ch)) {
                for (int row = 0; row < 7; ++row) {
                    for (int col = 0; col < 5; ++col) {
                        if (g->rows[row][col] == '#') {
                            fill(x + col * dotSize, y + row * dotSize, x + (col + 1) * dotSize,
                                 y + (row + 1) * dotSize, c);
                        }
                    }
                }
            }
            x += 6 * dotSize;
        }
    }

    const std::vector<uint8_t>& pixels() const { return px_; }

  private:
    int w_;
    int h_;
    std::vector<uint8_t> px_;
};

void put16(std::string& out, size_t at, uint32_t v) {
    out[at] = static_cast<char>(v & 0xFF);
    out[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string& out, size_t at, uint32_t v) {
    put16(out, at, v & 0xFFFF);
    put16(out, at + 2, v >> 16);
}

// Small deterministic noise source (xorshift), so prints differ a little like real ones.
double noise(unsigned& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return (state % 10000) / 10000.0 - 0.5;
}

struct Palette {
    Colour background, grid, frame, text, trace1, trace2, marker;
};

Palette paletteFor(bool colour) {
    if (colour) {
        return {{8, 16, 48},   {70, 80, 110}, {180, 180, 200}, {230, 230, 230},
                {255, 230, 0}, {0, 220, 230}, {80, 255, 80}};
    }
    const Colour black{0, 0, 0};
    return {{255, 255, 255}, {120, 120, 120}, black, black, black, {90, 90, 90}, black};
}

// The common frame of an analyzer screen: title band, graticule of 10 x 10 divisions,
// bottom band. Returns the graticule corners.
struct Graticule {
    int x0 = 90, y0 = 80, x1 = 990, y1 = 720;
    int xAt(double rel) const { return x0 + static_cast<int>(std::lround(rel * (x1 - x0))); }
    int yAt(double rel) const { return y0 + static_cast<int>(std::lround(rel * (y1 - y0))); }
};

Graticule drawFrame(ScreenPicture& p, const Palette& pal, const std::string& title) {
    Graticule g;
    p.fill(0, 0, p.width(), p.height(), pal.background);
    p.text(12, 12, "VELTRONIK " + title, pal.text, 3);
    for (int i = 0; i <= 10; ++i) {
        const int x = g.xAt(i / 10.0);
        const int y = g.yAt(i / 10.0);
        const bool edge = i == 0 || i == 10;
        p.line(x, g.y0, x, g.y1, edge ? pal.frame : pal.grid, edge ? 2 : 1, !edge);
        p.line(g.x0, y, g.x1, y, edge ? pal.frame : pal.grid, edge ? 2 : 1, !edge);
    }
    return g;
}

std::string levelText(double db) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", db);
    return buf;
}

}  // namespace

void ScreenPicture::fill(int left, int top, int right, int bottom, Colour c) {
    ScreenOp op;
    op.kind = ScreenOp::Kind::Fill;
    op.colour = c;
    op.x0 = left;
    op.y0 = top;
    op.x1 = right;
    op.y1 = bottom;
    ops_.push_back(std::move(op));
}

void ScreenPicture::line(int x0, int y0, int x1, int y1, Colour c, int width, bool dotted) {
    ScreenOp op;
    op.kind = ScreenOp::Kind::Line;
    op.colour = c;
    op.x0 = x0;
    op.y0 = y0;
    op.x1 = x1;
    op.y1 = y1;
    op.width = width;
    op.dotted = dotted;
    ops_.push_back(std::move(op));
}

void ScreenPicture::polyline(std::vector<ScreenPoint> points, Colour c, int width) {
    ScreenOp op;
    op.kind = ScreenOp::Kind::Polyline;
    op.colour = c;
    op.width = width;
    op.points = std::move(points);
    ops_.push_back(std::move(op));
}

void ScreenPicture::text(int x, int y, std::string_view text, Colour c, int dot) {
    ScreenOp op;
    op.kind = ScreenOp::Kind::Text;
    op.colour = c;
    op.x0 = x;
    op.y0 = y;
    op.width = dot;
    op.text = std::string(text);
    ops_.push_back(std::move(op));
}

std::string RenderBmp(const ScreenPicture& picture) {
    const int w = picture.width();
    const int h = picture.height();
    Canvas canvas(w, h);
    for (const ScreenOp& op : picture.ops()) {
        switch (op.kind) {
            case ScreenOp::Kind::Fill:
                canvas.fill(op.x0, op.y0, op.x1, op.y1, op.colour);
                break;
            case ScreenOp::Kind::Line:
                canvas.line(op.x0, op.y0, op.x1, op.y1, op.width, op.dotted, op.colour);
                break;
            case ScreenOp::Kind::Polyline:
                for (size_t i = 1; i < op.points.size(); ++i) {
                    canvas.line(op.points[i - 1].x, op.points[i - 1].y, op.points[i].x,
                                op.points[i].y, op.width, false, op.colour);
                }
                break;
            case ScreenOp::Kind::Text:
                canvas.text(op.x0, op.y0, op.text, op.width, op.colour);
                break;
        }
    }
    const size_t rowBytes = (static_cast<size_t>(w) * 3 + 3) & ~size_t{3};
    const size_t dataSize = rowBytes * static_cast<size_t>(h);
    std::string out(54 + dataSize, '\0');
    out[0] = 'B';
    out[1] = 'M';
    put32(out, 2, static_cast<uint32_t>(out.size()));
    put32(out, 10, 54);
    put32(out, 14, 40);
    put32(out, 18, static_cast<uint32_t>(w));
    put32(out, 22, static_cast<uint32_t>(h));
    put16(out, 26, 1);
    put16(out, 28, 24);
    put32(out, 34, static_cast<uint32_t>(dataSize));
    put32(out, 38, 3780);  // 96 dpi
    put32(out, 42, 3780);
    const std::vector<uint8_t>& px = canvas.pixels();
    for (int y = 0; y < h; ++y) {
        const uint8_t* src = &px[static_cast<size_t>(h - 1 - y) * w * 3];
        char* dst = &out[54 + static_cast<size_t>(y) * rowBytes];
        for (int x = 0; x < w; ++x, src += 3, dst += 3) {
            dst[0] = static_cast<char>(src[2]);  // blue, green, red
            dst[1] = static_cast<char>(src[1]);
            dst[2] = static_cast<char>(src[0]);
        }
    }
    return out;
}

#ifdef BENCHCAP_HAVE_WMF_WRITER
bool CanRenderWmf() {
    return true;
}

std::string RenderWmf(const ScreenPicture& picture) {
    wmf::Writer w(picture.width(), picture.height());
    w.bkMode(wmf::TRANSPARENT);
    auto rgb = [](Colour c) { return wmf::rgb(c.r, c.g, c.b); };
    for (const ScreenOp& op : picture.ops()) {
        switch (op.kind) {
            case ScreenOp::Kind::Fill:
                w.nullPen();
                w.brush(rgb(op.colour));
                w.rectangle(op.x0, op.y0, op.x1 + 1, op.y1 + 1);
                break;
            case ScreenOp::Kind::Line:
                w.pen(op.dotted ? wmf::PS_DOT : wmf::PS_SOLID, op.width > 1 ? op.width : 0,
                      rgb(op.colour));
                w.line(op.x0, op.y0, op.x1, op.y1);
                break;
            case ScreenOp::Kind::Polyline: {
                std::vector<wmf::Point> pts;
                pts.reserve(op.points.size());
                for (const ScreenPoint& p : op.points)
                    pts.push_back({p.x, p.y});
                w.pen(wmf::PS_SOLID, op.width > 1 ? op.width : 0, rgb(op.colour));
                w.polyline(pts);
                break;
            }
            case ScreenOp::Kind::Text: {
                std::string upper = op.text;
                for (char& c : upper)
                    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
                w.font(op.width * 9, wmf::FW_BOLD, false, "Courier New");
                w.textColor(rgb(op.colour));
                w.text(op.x0, op.y0, upper);
                break;
            }
        }
    }
    return w.finish();
}
#else
bool CanRenderWmf() {
    return false;
}
std::string RenderWmf(const ScreenPicture&) {
    return {};
}
#endif

double SimulatedSpectrum(double f, unsigned& noiseState) {
    // Noise floor, a carrier in the middle with its modulation sidebands, two spurs.
    double level = -88.0 + 2.5 * noise(noiseState) + 1.5 * noise(noiseState);
    auto peak = [f](double at, double top, double width) {
        const double d = (f - at) / width;
        return top - 12.0 * d * d;
    };
    level = std::max(level, peak(0.5, -8.0, 0.006));
    level = std::max(level, peak(0.46, -42.0, 0.006));
    level = std::max(level, peak(0.54, -42.0, 0.006));
    level = std::max(level, peak(0.2, -61.0, 0.006));
    level = std::max(level, peak(0.83, -55.0, 0.006));
    return level;
}

ScreenPicture SpectrumScreen(const ScreenInfo& info) {
    ScreenPicture p(1024, 768);
    const Palette pal = paletteFor(info.colour);
    const Graticule g = drawFrame(p, pal, info.model);
    p.text(560, 12, "RBW 100 KHZ  VBW 300 KHZ", pal.text, 2);
    p.text(560, 36, "SWT 5 MS     ATT 20 DB", pal.text, 2);
    for (int i = 0; i <= 10; i += 2) {
        p.text(8, g.yAt(i / 10.0) - 7, levelText(i == 0 ? 0.0 : -10.0 * i), pal.text, 2);
    }
    p.text(g.x0, 48, "REF 0.0 DBM", pal.text, 2);
    p.text(g.x0 + 200, 48, "10 DB/", pal.text, 2);

    unsigned state = info.seed * 2654435761u + 1u;
    std::vector<ScreenPoint> trace;
    trace.reserve(901);
    double markerLevel = -200;
    for (int i = 0; i <= 900; ++i) {
        const double level = SimulatedSpectrum(i / 900.0, state);
        markerLevel = std::max(markerLevel, level);
        const double rel = std::clamp(-level / 100.0, 0.0, 1.0);
        trace.push_back({g.xAt(i / 900.0), g.yAt(rel)});
    }
    p.polyline(std::move(trace), pal.trace1, 2);
    const int mx = g.xAt(0.5);
    const int my = g.yAt(std::clamp(-markerLevel / 100.0, 0.0, 1.0));
    p.line(mx - 8, my - 16, mx, my - 4, pal.marker, 2);
    p.line(mx + 8, my - 16, mx, my - 4, pal.marker, 2);
    p.text(mx + 14, my - 30, "M1", pal.marker, 2);
    p.text(700, 92, "MARKER 1 (T1)", pal.marker, 2);
    p.text(700, 116, levelText(markerLevel) + " DBM", pal.marker, 2);
    p.text(700, 140, "1.000 000 GHZ", pal.marker, 2);
    p.text(g.x0, 734, "CENTER 1.000 GHZ", pal.text, 2);
    p.text(g.xAt(0.4), 734, "10 MHZ/", pal.text, 2);
    p.text(g.x1 - 200, 734, "SPAN 100 MHZ", pal.text, 2);
    return p;
}

ScreenPicture NetworkScreen(const ScreenInfo& info) {
    ScreenPicture p(1024, 768);
    const Palette pal = paletteFor(info.colour);
    const Graticule g = drawFrame(p, pal, info.model);
    p.text(g.x0, 48, "CH1 S21 LOG MAG 10 DB/ REF 0 DB", pal.trace1, 2);
    p.text(560, 48, "CH2 S11 LOG MAG 10 DB/", pal.trace2, 2);
    unsigned state = info.seed * 2246822519u + 7u;
    std::vector<ScreenPoint> s21;
    std::vector<ScreenPoint> s11;
    for (int i = 0; i <= 800; ++i) {
        const double f = i / 800.0;
        const double d = std::abs(f - 0.5) / 0.12;  // band-pass filter, 24 % wide
        double through =
            d < 1 ? -1.2 + 0.4 * std::sin(f * 60.0) : -1.2 - 70.0 * std::log10(d) * 1.6;
        through = std::max(through, -85.0) + 0.6 * noise(state);
        const double inBand = 1.0 - d * d * d * d;
        double match = d < 1 ? -2.6 - (16.0 + 6.0 * std::abs(std::sin(f * 45.0))) * inBand
                             : -0.6 - 2.0 / (d * d);
        match += 0.3 * noise(state);
        s21.push_back({g.xAt(f), g.yAt(std::clamp(-through / 100.0, 0.0, 1.0))});
        s11.push_back({g.xAt(f), g.yAt(std::clamp(-match / 100.0, 0.0, 1.0))});
    }
    p.polyline(std::move(s21), pal.trace1, 2);
    p.polyline(std::move(s11), pal.trace2, 2);
    p.text(g.xAt(0.5) + 10, g.yAt(0.04), "1: -1.21 DB 1.000 GHZ", pal.marker, 2);
    p.text(g.x0, 734, "START 800.000 MHZ", pal.text, 2);
    p.text(g.x1 - 220, 734, "STOP 1.200 GHZ", pal.text, 2);
    return p;
}

ScreenPicture GeneratorScreen(const ScreenInfo& info) {
    ScreenPicture p(400, 240);
    const Palette pal = paletteFor(info.colour);
    p.fill(0, 0, 400, 240, pal.background);
    p.text(8, 8, "VELTRONIK " + info.model, pal.text, 2);
    p.line(0, 30, 400, 30, pal.frame, 2);
    p.text(12, 50, "FREQ", pal.text, 2);
    p.text(80, 44, "1.000 000 000 GHZ", pal.trace1, 3);
    p.text(12, 104, "LEVEL", pal.text, 2);
    p.text(80, 98, "-10.00 DBM", pal.trace1, 3);
    p.line(0, 150, 400, 150, pal.frame, 2);
    p.text(12, 166, "RF ON   MOD OFF   REF INT", pal.marker, 2);
    p.text(12, 206, "SWEEP OFF   LF 1 KHZ", pal.text, 2);
    return p;
}

}  // namespace benchcap::sim
