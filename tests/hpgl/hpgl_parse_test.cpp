// The interpreter: byte-level shapes of real plotter files, coordinates and scaling,
// arcs, polygons, labels, pages and rotation, checked on the display list.
#include <cmath>

#include "hpgl_test_util.h"

namespace benchcap::hpgl::test {
namespace {

using namespace std::string_literals;

double distance(QPointF a, QPointF b) {
    return std::hypot(a.x() - b.x(), a.y() - b.y());
}

// The same line, (0,0) to (1000,500) with pen 2, in every shape instruments and
// drivers send.
struct Shape {
    const char* what;
    std::string bytes;
};
class SeparatorStyles : public testing::TestWithParam<Shape> {};

TEST_P(SeparatorStyles, GiveTheSameLine) {
    const Plot plot = parsed(GetParam().bytes);
    ASSERT_EQ(plot.pages.size(), 1u);
    const Page& page = plot.pages[0];
    ASSERT_EQ(page.items.size(), 1u) << GetParam().what;
    EXPECT_EQ(page.items[0].kind, LineKind::Polyline);
    ASSERT_EQ(page.points.size(), 2u);
    EXPECT_EQ(page.points[0], QPointF(0, 0));
    EXPECT_EQ(page.points[1], QPointF(1000, 500));
    EXPECT_EQ(page.styles[page.items[0].style].colour, kPenColours[2]);
    EXPECT_TRUE(plot.warnings.empty()) << GetParam().what << ": " << plot.warnings.front();
}

INSTANTIATE_TEST_SUITE_P(
    Hpgl, SeparatorStyles,
    testing::Values(Shape{"semicolons", "IN;SP2;PU0,0;PD1000,500;PU;"},
                    Shape{"run together", "INSP2PU0,0PD1000,500PU"},
                    Shape{"line feeds only", "IN\nSP2\nPU0,0\nPD1000,500\nPU\n"},
                    Shape{"CR LF and blanks as separators",
                          "IN;\r\nSP 2;\r\nPU 0 0;\r\nPD 1000 , 500;\r\n"},
                    Shape{"ETX first, NUL last", "\x03IN;SP2;PA0,0;PD;PA1000,500;PU;\r\n\r\n\0"s},
                    Shape{"lower case", "in;sp2;pu0,0;pd1000,500;"},
                    Shape{"plus signs, fractions", "IN;SP2;PU+0.0,-0;PD1000.0,+500.00;"},
                    Shape{"relative", "IN;SP2;PU0,0;PR;PD1000,500;"},
                    Shape{"PCL wrapped HP-GL/2",
                          "\x1b%-12345X@PJL ENTER LANGUAGE=PCL\r\n\x1b"
                          "E\x1b&l1O\x1b%0BIN;SP2;PU0,0;"
                          "PD1000,500;\x1b%0A\x1b*b3WABC\f\x1b"
                          "E\x1b%-12345X"},
                    Shape{"HP 7475A device control",
                          "\x1b.(;\x1b.I81;;17:\x1b.N;19:\x1b.@;0:IN;SP2;PU0,0;"
                          "PD1000,500;\x1b.)"},
                    Shape{"output queries between", "OP;IN;OE;OS;SP2;OI;PU0,0;OA;PD1000,500;OW;"}),
    [](const auto& info) {
        std::string n = info.param.what;
        for (char& c : n)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return n;
    });

TEST(HpglParse, CoordinatesAndScaling) {
    struct Case {
        const char* bytes;
        std::vector<QPointF> expected;
    };
    const Case cases[] = {
        {"PU-10.5,20.25;PD-1385.640646,-2400.00000009;", {{-10.5, 20.25}, {-1385.640646, -2400}}},
        {"PU100,100;PR;PD50,0,0,50;", {{100, 100}, {150, 100}, {150, 150}}},
        // Anisotropic user scale over P1/P2.
        {"IP0,0,10000,5000;SC0,100,0,50;PU0,0;PD100,50,50,25;",
         {{0, 0}, {10000, 5000}, {5000, 2500}}},
        // Isotropic: the smaller factor (50 units per user unit), centred in x.
        {"IP0,0,10000,5000;SC0,100,0,100,1;PU0,0;PD100,100;", {{2500, 0}, {7500, 5000}}},
        // Point factor: 10 units per user unit from P1.
        {"IP1000,1000,2000,2000;SC0,10,0,10,2;PU0,0;PD5,5;", {{1000, 1000}, {1050, 1050}}},
        // Relative moves in user units are scaled too.
        {"IP0,0,1000,1000;SC0,10,0,10;PU1,1;PR;PD2,0;", {{100, 100}, {300, 100}}},
        // IP with two points moves P2 along: the scale keeps its size.
        {"IP0,0,1000,1000;IP500,500;SC0,10,0,10;PU0,0;PD10,10;", {{500, 500}, {1500, 1500}}},
        // SC off again: plotter units.
        {"SC0,10,0,10;SC;PU0,0;PD10,10;", {{0, 0}, {10, 10}}},
        // Flipped user axis.
        {"IP0,0,1000,1000;SC0,10,10,0;PU0,0;PD10,0;", {{0, 1000}, {1000, 1000}}},
        // An arc with the pen up only moves it.
        {"PU1000,0;AA0,0,180;PD0,0;", {{-1000, 0}, {0, 0}}},
    };
    for (const Case& c : cases) {
        const Plot plot = parsed(c.bytes);
        const std::vector<QPointF> pts = points(plot);
        ASSERT_EQ(pts.size(), c.expected.size()) << c.bytes;
        for (size_t i = 0; i < pts.size(); ++i) {
            EXPECT_NEAR(pts[i].x(), c.expected[i].x(), 1e-3) << c.bytes << " point " << i;
            EXPECT_NEAR(pts[i].y(), c.expected[i].y(), 1e-3) << c.bytes << " point " << i;
        }
    }
}

TEST(HpglParse, CirclesArcsAndWedges) {
    {
        // CI draws around the pen, pen up or down, and leaves the pen where it was.
        const Plot plot = parsed("PU5000,4000;CI1000;PD5100,4000;");
        const Page& page = plot.pages[0];
        ASSERT_EQ(page.items.size(), 2u);
        const Item& circle = page.items[0];
        EXPECT_EQ(circle.count, 73u);  // 5 degree chords
        for (uint32_t i = 0; i < circle.count; ++i)
            EXPECT_NEAR(distance(page.points[circle.first + i], {5000, 4000}), 1000, 1e-6);
        EXPECT_EQ(page.points[page.items[1].first], QPointF(5000, 4000));
    }
    {
        // Chord angle: 30 degrees gives 12 chords.
        const Plot plot = parsed("PU0,0;CI100,30;");
        EXPECT_EQ(plot.pages[0].items[0].count, 13u);
    }
    {
        // AA: from the pen around the centre, counter-clockwise for a positive angle.
        const Plot plot = parsed("PU1000,0;PD;AA0,0,90;");
        const std::vector<QPointF> pts = points(plot);
        ASSERT_FALSE(pts.empty());
        EXPECT_NEAR(pts.back().x(), 0, 1e-6);
        EXPECT_NEAR(pts.back().y(), 1000, 1e-6);
    }
    {
        // AR: the centre relative to the pen; clockwise for a negative angle.
        const Plot plot = parsed("PU1000,1000;PD;AR0,-500,-180;PR100,0;");
        const std::vector<QPointF> pts = points(plot);
        ASSERT_FALSE(pts.empty());
        EXPECT_NEAR(pts.back().x(), 1100, 1e-6);
        EXPECT_NEAR(pts.back().y(), 0, 1e-6);
    }
    {
        // A wedge: centre, arc, back; WG filled.
        const Plot plot = parsed("PU0,0;WG100,0,90;");
        ASSERT_EQ(plot.pages[0].items.size(), 1u);
        EXPECT_EQ(plot.pages[0].items[0].kind, LineKind::Polygon);
        const Ring ring = plot.pages[0].rings[0];
        EXPECT_EQ(plot.pages[0].points[ring.first], QPointF(0, 0));
    }
}

TEST(HpglParse, RectanglesPolygonsAndFills) {
    {
        const Plot plot = parsed("PU100,100;FT3,50,45;RA300,200;EA300,200;");
        const Page& page = plot.pages[0];
        ASSERT_EQ(page.items.size(), 2u);
        EXPECT_EQ(page.items[0].kind, LineKind::Polygon);
        const Style& fill = page.styles[page.items[0].style];
        EXPECT_EQ(fill.fill, FillType::Hatch);
        EXPECT_DOUBLE_EQ(fill.hatchSpacing, 50);
        EXPECT_DOUBLE_EQ(fill.hatchAngle, 45);
        EXPECT_EQ(page.items[1].kind, LineKind::Polyline);
        EXPECT_EQ(page.items[1].count, 5u);  // closed outline
    }
    {
        // Polygon mode: a square with a square hole (two rings), filled and edged.
        const Plot plot = parsed(
            "PU0,0;PM0;PD1000,0,1000,1000,0,1000,0,0;PM1;PU250,250;"
            "PD750,250,750,750,250,750,250,250;PM2;FP;EP;");
        const Page& page = plot.pages[0];
        ASSERT_GE(page.items.size(), 3u);
        EXPECT_EQ(page.items[0].kind, LineKind::Polygon);
        EXPECT_EQ(page.items[0].count, 2u);
        EXPECT_TRUE(page.styles[page.items[0].style].evenOdd);
        EXPECT_EQ(page.items[1].kind, LineKind::Polyline);
        EXPECT_EQ(page.items[2].kind, LineKind::Polyline);
    }
    {
        // Nothing is drawn while the polygon is being defined.
        const Plot plot = parsed("PM0;PD100,0,100,100;PM2;");
        EXPECT_TRUE(plot.pages[0].items.empty());
    }
}

TEST(HpglParse, PensAndLineTypes) {
    const Plot plot = parsed(
        "SP3;PD10,0;SP0;PD20,0;SP9;PD30,0;LT2,5;PD40,0;LT;PD50,0;LT0;PD60,0;"
        "LT;PC1,0,0,255;SP1;PD70,0;PW1;PD80,0;");
    const Page& page = plot.pages[0];
    std::vector<Style> styles;
    for (const Item& item : page.items)
        styles.push_back(page.styles[item.style]);
    ASSERT_EQ(styles.size(), 7u);  // SP0 draws nothing
    EXPECT_EQ(styles[0].colour, kPenColours[3]);
    EXPECT_EQ(styles[1].colour, kPenColours[1]);  // pen 9 wraps onto pen 1
    EXPECT_EQ(styles[2].lineType, 2);
    EXPECT_NEAR(styles[2].patternLength, std::hypot(10300, 7650) * 0.05, 1e-6);
    EXPECT_EQ(styles[3].lineType, -1);
    EXPECT_EQ(page.items[4].kind, LineKind::Dots);
    EXPECT_EQ(styles[5].colour, qRgb(0, 0, 255));
    EXPECT_DOUBLE_EQ(styles[6].width, 40);  // 1 mm
}

TEST(HpglParse, Labels) {
    {
        // Text up to ETX, with ';' and '"' inside; the pen ends after the last cell.
        const Plot plot = parsed("SI0.2,0.3;PA1000,1000;LBa;b\"c\x03PD;PR0,0;");
        const Page& page = plot.pages[0];
        ASSERT_EQ(page.texts.size(), 1u);
        EXPECT_EQ(page.texts[0].chars, "a;b\"c");
        EXPECT_EQ(page.texts[0].origin, QPointF(1000, 1000));
        EXPECT_DOUBLE_EQ(page.texts[0].width, 80);
        EXPECT_DOUBLE_EQ(page.texts[0].height, 120);
        EXPECT_DOUBLE_EQ(page.texts[0].advance, 120);
        EXPECT_EQ(page.points.back(), QPointF(1600, 1000));
    }
    {
        // DT changes the terminator; BS overstrikes, LF goes a line down.
        const Plot plot = parsed("DT@;SI0.2,0.3;PA0,1000;LB0\b/\nx@");
        const Page& page = plot.pages[0];
        ASSERT_EQ(page.texts.size(), 3u);
        EXPECT_EQ(page.texts[0].chars, "0");
        EXPECT_EQ(page.texts[1].chars, "/");
        EXPECT_EQ(page.texts[0].origin, page.texts[1].origin);
        EXPECT_EQ(page.texts[2].chars, "x");
        EXPECT_DOUBLE_EQ(page.texts[2].origin.y(), 1000 - 240);
        EXPECT_DOUBLE_EQ(page.texts[2].origin.x(), 120);
    }
    {
        // CR LF returns to the start of the label, one line down.
        const Plot plot = parsed("SI0.2,0.3;PA500,1000;LBab\r\ncd\x03");
        const Page& page = plot.pages[0];
        ASSERT_EQ(page.texts.size(), 2u);
        EXPECT_EQ(page.texts[1].origin, QPointF(500, 760));
    }
    {
        // Direction, relative size and centred origin.
        const Plot plot = parsed("DI0,1;SR1,2;LO5;PA5000,5000;LBab\x03");
        const Text& t = plot.pages[0].texts.at(0);
        EXPECT_NEAR(t.angle, 90, 1e-9);
        EXPECT_DOUBLE_EQ(t.width, 103);
        EXPECT_DOUBLE_EQ(t.height, 153);
        // Centred: half of (2 cells less the trailing gap) back along the direction,
        // half the height "down" (to +x for upward text).
        EXPECT_NEAR(t.origin.y(), 5000 - (2 * 154.5 - 51.5) / 2, 1e-9);
        EXPECT_NEAR(t.origin.x(), 5000 + 153 / 2.0, 1e-9);
    }
    {
        // The picture reaches below the baseline, for descenders.
        const Plot plot = parsed("SI0.2,0.3;PA0,0;LBgjpq\x03");
        EXPECT_LE(plot.pages[0].drawn.top(), -40);
        EXPECT_GE(plot.pages[0].drawn.bottom(), 120);
    }
    {
        // CP moves by character cells.
        const Plot plot = parsed("SI0.2,0.3;PA0,0;CP2,-1;LBx\x03");
        EXPECT_EQ(plot.pages[0].texts.at(0).origin, QPointF(240, -240));
    }
}

TEST(HpglParse, PagesAndRotation) {
    {
        const Plot plot = parsed("SP1;PD100,0;PG;PD200,0;PG;PG;");
        EXPECT_EQ(plot.pages.size(), 2u);  // no empty page for a PG at the end
    }
    {
        // RO90: logical x runs up the physical page, logical y to the left from its
        // right edge.
        const Plot plot = parsed("RO90;PU0,0;PD1000,0;");
        const std::vector<QPointF> pts = points(plot);
        ASSERT_EQ(pts.size(), 2u);
        EXPECT_EQ(pts[0], QPointF(kDefaultPageWidth, 0));
        EXPECT_EQ(pts[1], QPointF(kDefaultPageWidth, 1000));
    }
    {
        // The extent is what is drawn united with P1/P2.
        const Plot plot = parsed("IP0,0,1000,1000;PU2000,2000;PD3000,3000;");
        const QRectF e = plot.pages[0].extent;
        EXPECT_LE(e.left(), 0);
        EXPECT_GE(e.right(), 3000);
        EXPECT_EQ(plot.pages[0].drawn, QRectF(2000, 2000, 1000, 1000));
    }
    {
        // IW: items carry their clip window.
        const Plot plot = parsed("IW100,100,200,200;PD1000,1000;IW;PD0,0;");
        const Page& page = plot.pages[0];
        ASSERT_EQ(page.items.size(), 2u);
        ASSERT_EQ(page.items[0].clip, 0);
        EXPECT_EQ(page.clips[0], QRectF(100, 100, 100, 100));
        EXPECT_EQ(page.items[1].clip, -1);
        EXPECT_LE(page.drawn.right(), 1000);
    }
}

TEST(HpglParse, WarningsForWhatIsNotDrawn) {
    struct Case {
        const char* bytes;
        const char* warning;  // nullptr: none
    };
    const Case cases[] = {
        {"OP;OE;OS;OI;OH;SP1;PD10,10;", nullptr},
        {"IN;VS10;CS0;CA0;SS;BP\"title\";PD10,10;", nullptr},
        {"ZZ12;QQ;PD10,10;", "unknown instructions (QQ, ZZ)"},
        {"PE<=abc;PD10,10;", "not supported): PE"},
        {"PD10,10,20;", "without its pair"},
        {"SC0,0,0,10;PD10,10;", "empty range"},
        {"PD10,10;LBno end", "no terminator"},
        {"IN;SP1;PU100,100;", "draws nothing"},
        {"PD10,10;\x80\x81\x82;", "no HP-GL were skipped"},
    };
    for (const Case& c : cases) {
        const Plot plot = parsed(c.bytes);
        if (c.warning) {
            EXPECT_TRUE(hasWarning(plot.warnings, c.warning))
                << c.bytes << ": " << (plot.warnings.empty() ? "" : plot.warnings.front());
        } else {
            EXPECT_TRUE(plot.warnings.empty()) << c.bytes << ": " << plot.warnings.front();
        }
    }
}

TEST(HpglParse, RefusesWhatIsNoPlot) {
    for (std::string bytes : {""s, std::string(64, '\0'), "BM6\0\0\0\0\0\0\0"s, "12345,678;"s}) {
        const Result<Plot> plot = parseHpgl(bytes);
        EXPECT_FALSE(plot.ok()) << bytes.size();
        if (!plot) {
            EXPECT_FALSE(plot.error().empty());
        }
    }
}

TEST(HpglParse, LooksLikeHpgl) {
    struct Case {
        std::string bytes;
        bool hpgl;
    };
    const Case cases[] = {
        {"IN;SP1;PA0,0;", true},
        {"\x03INCA2IP0,0,10300,7650DI0,1SP2", true},
        {"OP;\r\nPU;SP1;LT;;", true},
        {"\x1b.(;\x1b.I81;;17:IN;SC;", true},
        {"\x1b%-12345X\x1b"
         "E\x1b%0BBPINPS",
         true},
        {"LBHello\x03", true},
        // Label bytes may be anything: Latin-1 letters, backspaces for overstrike.
        {"IN;SP1;PA100,100;LBTemp 25\xb0"
         "C \xb1"
         "1\x03;",
         true},
        {"IN;SP1;LBA\b_B\b_C\b_\x03;", true},
        {"IN;DT*;LBA\b\b\b\b*", true},
        {"LB\xff\xfe\xfd\xfc\xfb\xfa", false},  // no terminator in sight: binary
        {"", false},
        {std::string(64, '\0'), false},
        {"BM\x36\x04\0\0\0\0\0\0\x36\0\0\0"s, false},
        {"\xd7\xcd\xc6\x9a\0\0"s, false},
        {"INSTRUMENT READY", false},
        {"Hello world", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(looksLikeHpgl(c.bytes), c.hpgl) << c.bytes;
}

}  // namespace
}  // namespace benchcap::hpgl::test
