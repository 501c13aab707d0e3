// Hostile and damaged plotter data: everything parses or is refused with a reason,
// everything renders, nothing grows without bound.
#include <QBuffer>
#include <QPdfWriter>
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "hpgl_test_util.h"

namespace benchcap::hpgl::test {
namespace {

using namespace std::string_literals;

std::string repeat(std::string_view s, size_t n) {
    std::string out;
    out.reserve(s.size() * n);
    for (size_t i = 0; i < n; ++i)
        out += s;
    return out;
}

size_t textChars(const Plot& plot) {
    size_t n = 0;
    for (const Page& p : plot.pages)
        for (const Text& t : p.texts)
            n += t.chars.size();
    return n;
}

bool finite(const Page& page) {
    for (QPointF p : page.points)
        if (!std::isfinite(p.x()) || !std::isfinite(p.y()))
            return false;
    return std::isfinite(page.extent.width()) && std::isfinite(page.extent.height());
}

// Small bounds, so that the cut-offs are reached quickly; the full-size ones are
// measured by bench/hpgl_bench.cpp on 16 MB files.
constexpr ParseLimits kSmall{20'000, 5'000, 2'000, 100, 8, 10'000};

struct Hostile {
    const char* what;
    std::string bytes;
    const char* warning;  // expected among the warnings, or nullptr
};

class HostileInput : public testing::TestWithParam<Hostile> {};

TEST_P(HostileInput, ParsesBoundedAndRenders) {
    const Hostile& h = GetParam();
    const Result<Plot> plot = parseHpgl(h.bytes, kSmall);
    ASSERT_TRUE(plot.ok()) << h.what << ": " << plot.error();
    size_t points = 0, items = 0;
    for (const Page& page : plot->pages) {
        points += page.points.size();
        items += page.items.size();
        EXPECT_TRUE(finite(page)) << h.what;
        for (const Item& item : page.items)
            EXPECT_LT(item.style, page.styles.size());
    }
    EXPECT_LE(points, kSmall.points);
    EXPECT_LE(items, kSmall.items);
    EXPECT_LE(plot->pages.size(), kSmall.pages);
    EXPECT_LE(textChars(*plot), kSmall.textChars);
    for (const Page& page : plot->pages)
        for (const Text& t : page.texts)
            EXPECT_LE(t.chars.size(), kSmall.labelChars);
    if (h.warning) {
        EXPECT_TRUE(hasWarning(plot->warnings, h.warning))
            << h.what << ": " << (plot->warnings.empty() ? "no warning" : plot->warnings.front());
    }
    std::vector<std::string> warnings;
    const Result<QImage> image = renderPlot(*plot, {320, 240}, &warnings);
    ASSERT_TRUE(image.ok()) << image.error();
}

std::string randomBytes(size_t n, uint32_t seed) {
    std::string s(n, '\0');
    for (char& c : s) {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>(seed >> 24);
    }
    return "IN;" + s;
}

// Random instruction soup: valid mnemonics with wild parameters.
std::string randomInstructions(size_t n, uint32_t seed) {
    static const char* kNames[] = {"PU", "PD", "PA", "PR", "CI", "AA", "AR", "EA", "RA", "WG",
                                   "EW", "SC", "IP", "IW", "LT", "PW", "SP", "FT", "PM", "FP",
                                   "EP", "SI", "SR", "DI", "DR", "LO", "CP", "RO", "PG", "PS"};
    static const char* kNumbers[] = {"0",        "1",          "-1",  "1e", "99999999999999",
                                     "0.000001", "-360",       "720", "5",  "100",
                                     "-7.5",     "2147483648", ".",   "-"};
    std::string s = "IN;";
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1664525u + 1013904223u;
        s += kNames[(seed >> 8) % std::size(kNames)];
        const int params = static_cast<int>((seed >> 16) % 6);
        for (int k = 0; k < params; ++k) {
            seed = seed * 1664525u + 1013904223u;
            s += kNumbers[(seed >> 8) % std::size(kNumbers)];
            s += ',';
        }
        s += ';';
        if (seed % 17 == 0)
            s += "LBx\x03";
    }
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Hpgl, HostileInput,
    testing::Values(
        Hostile{"one long polyline", "SP1;PD" + repeat("0,0,9,9,", 9'000), nullptr},
        Hostile{"too many points", "SP1;PD" + repeat("0,0,9,9,", 20'000), "cut short"},
        Hostile{"too many circle points", "SP1;" + repeat("CI1;", 300), "cut short"},
        Hostile{"too many separate lines", repeat("PU0,0;PD1,1;", 6'000), "cut short"},
        Hostile{"endless label", "SP1;LB" + std::string(1'000'000, 'A'), "no terminator"},
        Hostile{"long label", "SP1;LB" + std::string(5'000, 'A') + "\x03", "label text cut short"},
        Hostile{"many labels", repeat("PA0,0;LBABCDEFGHIJKLMNOPQRSTUVWXYZ\x03", 100),
                "label text cut short"},
        Hostile{"huge numbers",
                "SP1;PD1" + std::string(400, '9') + ",-1" + std::string(400, '9') + ";CI" +
                    std::string(500, '9') + ";",
                "clamped"},
        Hostile{"huge scale factor", "SC0,0.000000001,0,0.000000001;SP1;PD1,1;CI5;", nullptr},
        Hostile{"degenerate everything",
                "IP5,5,5,5;SC3,3,3,3;IW5,5,5,5;SI0,0;SR0,0;DI0,0;"
                "SP1;PD5,5;LBx\x03;CI0;AA5,5,0;",
                "empty range"},
        Hostile{"wild pens",
                "SP-5;PD1,1;SP99999999999;PD2,2;SP4294967297;PD3,3;PC99,999,-5,1e9;"
                "PW-9999999;PD4,4;",
                nullptr},
        Hostile{"tiny chords and huge sweeps",
                "SP1;CI1000,0;CI1000,-5;AA0,0,99999999,0.0001;"
                "WG100,0,1e9,0;",
                nullptr},
        Hostile{"dense hatching",
                "SP1;FT3,0.0001,45;" + repeat("PU0,0;RA10000,7000;", 200) +
                    "FT4,0.001,30;RA-5000,-5000;",
                nullptr},
        Hostile{"tiny dash patterns", "SP1;LT2,0.0000001;" + repeat("PU0,0;PD10000,7000;", 5000),
                nullptr},
        Hostile{"vanishing dash pattern",
                "SP1;LT2,0." + std::string(320, '0') + "1;PD10000,7000;LT3,1e;PD0,0;", nullptr},
        Hostile{"many pages", repeat("SP1;PD1,1;PG;", 1000), "pages"},
        Hostile{"polygon overflow", "PM0;PD" + repeat("1,2,3,4,", 6'000) + ";PM2;FP;EP;",
                "polygon cut short"},
        Hostile{"escapes cut off", "IN;SP1;PD1,1;\x1b*b999999999W\x1b%", nullptr},
        Hostile{"ESC at the very end", "IN;SP1;PD1,1;\x1b", nullptr},
        Hostile{"terminator set to a letter", "DTA;LBxyzA;DT;SP1;PD1,1;", nullptr},
        Hostile{"label with every control byte",
                "SP1;LB" + std::string("\0\x01\x02\b\b\b\t\n\r\x1b"
                                       "\x7f\xff abc\x03",
                                       17),
                nullptr},
        Hostile{"random bytes", randomBytes(65536, 7), nullptr},
        Hostile{"random instructions", randomInstructions(20000, 11), nullptr},
        Hostile{"NaN spelled out", "PDnan,inf;PD-inf,1;SP1;PD1,1;", nullptr}),
    [](const auto& info) {
        std::string n = info.param.what;
        for (char& c : n)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return n;
    });

// The ink budget, given or scaled with the target: fills pay for the rasterizer's work on
// their edges, vector output only for its vertices. A cut page leaves out the red mark.
TEST(HpglHostile, InkBudgetBoundsTheDrawing) {
    const std::string mark = ";SP2;PU5000,100;PD5000,200;";
    const std::string zigzag = "SP1;PD" + repeat("0,0,10000,7000,", 400) + mark;
    std::string spikes = "SP1;PU0,0;PM0;PD";  // 1000 full-height spikes
    for (int i = 0; i < 1000; ++i)
        spikes += std::to_string(i * 10) + ",7000," + std::to_string(i * 10 + 5) + ",0,";
    spikes += "0,0;PM2;FP" + mark;
    const std::string plain = "SP1;PU0,0;" + repeat("RA10000,7000;", 3) + mark;
    struct Case {
        const char* what;
        const std::string& bytes;
        QSize size;
        double budget;  // 0: scaled with the target
        bool vector;
        bool cut;
    } cases[] = {
        {"zigzag, ample budget", zigzag, {400, 300}, 1e9, false, false},
        {"zigzag, small budget", zigzag, {400, 300}, 2e5, false, true},
        {"zigzag on vector output", zigzag, {400, 300}, 2e5, true, false},
        {"spiky polygon", spikes, {1024, 768}, 0, false, true},
        {"plain fills on a large image", plain, {4000, 3000}, 0, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Plot plot = parsed(c.bytes);
        std::vector<std::string> warnings;
        QImage image(c.size, QImage::Format_RGB32);
        image.fill(Qt::white);
        QBuffer pdfBytes;
        pdfBytes.open(QIODevice::WriteOnly);
        QPdfWriter pdf(&pdfBytes);
        {
            QPainter painter;
            ASSERT_TRUE(c.vector ? painter.begin(&pdf) : painter.begin(&image));
            warnings =
                draw(painter, QRectF(QPointF(0, 0), QSizeF(c.size)), plot, {false, 0, c.budget});
        }
        EXPECT_EQ(hasWarning(warnings, "drawn only in part"), c.cut);
        if (c.vector)
            continue;
        int red = 0;
        for (int y = 0; y < image.height(); ++y) {
            const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            red += static_cast<int>(std::count(row, row + image.width(), kPenColours[2]));
        }
        EXPECT_EQ(red > 0, !c.cut);
        if (c.bytes == zigzag) {
            EXPECT_GT(notWhite(image, image.rect()), 300);  // what fitted is drawn
        }
    }
}

TEST(HpglHostile, RenderRefusesAbsurdImageSizes) {
    EXPECT_FALSE(renderHpgl("SP1;PD1,1;", {100000, 10}).ok());
    EXPECT_FALSE(renderHpgl("SP1;PD1,1;", {16000, 16000}).ok());
    EXPECT_FALSE(renderHpgl("", {10, 10}).ok());
    const Result<QImage> image = renderHpgl("SP1;PD1,1;");
    ASSERT_TRUE(image.ok());
    EXPECT_EQ(image->size(), QSize(1024, 768));
}

}  // namespace
}  // namespace benchcap::hpgl::test
