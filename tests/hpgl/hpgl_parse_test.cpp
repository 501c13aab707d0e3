// The interpreter, checked on whole display lists: byte-level shapes of real plotter
// files, coordinates and scaling, arcs, polygons, labels, pages and rotation, warnings
// and refusals. The expected lists are tests/data/golden/hpgl-display-lists.txt.
#include <cmath>
#include <cstdio>

#include <QPainter>
#include "hpgl_test_util.h"
#include "support/golden.h"
#include "support/image_summary.h"

namespace benchcap::hpgl::test {
namespace {

std::string num(double v) {
    char b[32];
    std::snprintf(b, sizeof b, "%.10g", std::round(v * 1000) / 1000 + 0.0);
    return b;
}
std::string pt(QPointF p) {
    return num(p.x()) + "," + num(p.y());
}
std::string box(const QRectF& r) {
    return pt(r.topLeft()) + " " + num(r.width()) + "x" + num(r.height());
}
std::string shown(const std::string& s) {
    std::string out;
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        char b[8];
        std::snprintf(b, sizeof b, u < 0x20 || u >= 0x7F ? "\\x%02x" : "%c", u);
        out += b;
    }
    return out;
}

// One line for the look, then per page its boxes, styles, clips and items, then warnings.
std::string displayList(const std::string& bytes) {
    std::string out = std::string("hpgl ") + (looksLikeHpgl(bytes) ? "yes" : "no") + "\n";
    const Result<Plot> plot = parseHpgl(bytes);
    if (!plot)
        return out + "refused: " + plot.error() + "\n";
    for (size_t n = 0; n < plot->pages.size(); ++n) {
        const Page& page = plot->pages[n];
        out += "page " + std::to_string(n) + " extent " + box(page.extent) + " drawn " +
               box(page.drawn) + "\n";
        for (const Style& s : page.styles) {
            char colour[8];
            std::snprintf(colour, sizeof colour, "%06x", s.colour & 0xFFFFFFu);
            out += " style pen " + std::to_string(s.pen) + " #" + colour + " width " +
                   num(s.width) + " type " + std::to_string(s.lineType) + "/" +
                   num(s.patternLength) + " fill " + std::to_string(static_cast<int>(s.fill)) +
                   "/" + num(s.hatchSpacing) + "/" + num(s.hatchAngle) +
                   (s.evenOdd ? " even-odd" : " winding") + (s.edge ? " edged" : "") + "\n";
        }
        for (const QRectF& c : page.clips)
            out += " clip " + box(c) + "\n";
        for (const Item& item : page.items) {
            static const char* kKinds[] = {"polyline", "dots", "polygon", "text"};
            out += std::string(" ") + kKinds[static_cast<int>(item.kind)] + " s" +
                   std::to_string(item.style) +
                   (item.clip >= 0 ? " c" + std::to_string(item.clip) : "") + ":";
            const auto points = [&](uint32_t first, uint32_t count) {
                for (uint32_t i = first; i < first + count; ++i)
                    out += " " + pt(page.points[i]);
            };
            if (item.kind == LineKind::Text) {
                const Text& t = page.texts[item.first];
                out += " \"" + shown(t.chars) + "\" at " + pt(t.origin) + " angle " + num(t.angle) +
                       " cell " + num(t.width) + "x" + num(t.height) + " advance " +
                       num(t.advance) + " slant " + num(t.slant);
            } else if (item.kind == LineKind::Polygon) {
                for (uint32_t r = item.first; r < item.first + item.count; ++r) {
                    out += " [";
                    points(page.rings[r].first, page.rings[r].count);
                    out += " ]";
                }
            } else {
                points(item.first, item.count);
            }
            out += "\n";
        }
    }
    for (const std::string& w : plot->warnings)
        out += "warning: " + w + "\n";
    return out;
}

TEST(HpglParse, DisplayListsAsExpected) {
    benchcap::test::checkGolden("golden/hpgl-display-lists.txt", displayList);
}

}  // namespace
}  // namespace benchcap::hpgl::test
