#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace benchcap::sim {

// What a simulated instrument shows on its screen, as a small display list that can be
// written as a bitmap or as a metafile: filled rectangles, lines (solid or dotted),
// polylines and texts of a fixed 5x7 dot font.
struct Colour {
    uint8_t r = 0, g = 0, b = 0;
};

struct ScreenPoint {
    int x = 0;
    int y = 0;
};

struct ScreenOp {
    enum class Kind { Fill, Line, Polyline, Text };
    Kind kind = Kind::Fill;
    Colour colour;
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // Fill: corners (right/bottom exclusive); Line: ends
    int width = 1;                       // line width in pixels; Text: dot size
    bool dotted = false;
    std::vector<ScreenPoint> points;  // Polyline
    std::string text;                 // Text, at (x0, y0) = top left
};

class ScreenPicture {
  public:
    ScreenPicture(int width, int height) : width_(width), height_(height) {}

    void fill(int left, int top, int right, int bottom, Colour c);
    void line(int x0, int y0, int x1, int y1, Colour c, int width = 1, bool dotted = false);
    void polyline(std::vector<ScreenPoint> points, Colour c, int width = 1);
    // Upper-case text in the 5x7 dot font; `dot` pixels per font dot (cell 6x9 dots).
    void text(int x, int y, std::string_view text, Colour c, int dot = 2);

    int width() const { return width_; }
    int height() const { return height_; }
    const std::vector<ScreenOp>& ops() const { return ops_; }

  private:
    int width_;
    int height_;
    std::vector<ScreenOp> ops_;
};

// A 24-bit Windows bitmap file (BITMAPFILEHEADER + BITMAPINFOHEADER, bottom-up rows).
std::string RenderBmp(const ScreenPicture& picture);
// A placeable Windows metafile; empty when this build has no metafile writer.
std::string RenderWmf(const ScreenPicture& picture);
bool CanRenderWmf();

// What the simulated instruments draw.
struct ScreenInfo {
    std::string model;  // model field of the identification, e.g. "KLVZ26"
    unsigned seed = 1;  // varies the noise from one print to the next
    bool colour = true;
};
ScreenPicture SpectrumScreen(const ScreenInfo& info);   // spectrum and vector analyzers
ScreenPicture NetworkScreen(const ScreenInfo& info);    // network analyzers: S21 and S11
ScreenPicture GeneratorScreen(const ScreenInfo& info);  // signal generators (small)

// Level in dBm of the simulated spectrum at the relative frequency 0..1 (shared with the
// plots of plotter-only instruments so both look alike).
double SimulatedSpectrum(double relativeFrequency, unsigned& noiseState);

}  // namespace benchcap::sim
