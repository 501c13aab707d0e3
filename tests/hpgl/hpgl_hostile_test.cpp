// Hostile and damaged plotter data: everything parses or is refused with a reason,
// everything renders, nothing grows without bound.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include <QImage>
#include <filesystem>
#include "hpgl_test_util.h"
#include "support/golden.h"
#include "support/test_paths.h"

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

// Parses `bytes` within the small bounds, expects every bound kept and the result drawable,
// and tells the counts and warnings.
std::string Bounded(const std::string& bytes) {
    const Result<Plot> plot = parseHpgl(bytes, kSmall);
    if (!plot)
        return "refused: " + plot.error() + "\n";
    size_t points = 0, items = 0, longest = 0;
    for (const Page& page : plot->pages) {
        points += page.points.size();
        items += page.items.size();
        EXPECT_TRUE(finite(page));
        for (const Item& item : page.items)
            EXPECT_LT(item.style, page.styles.size());
        for (const Text& t : page.texts)
            longest = std::max(longest, t.chars.size());
    }
    EXPECT_LE(points, kSmall.points);
    EXPECT_LE(items, kSmall.items);
    EXPECT_LE(plot->pages.size(), kSmall.pages);
    EXPECT_LE(textChars(*plot), kSmall.textChars);
    EXPECT_LE(longest, kSmall.labelChars);
    std::vector<std::string> warnings;
    EXPECT_TRUE(renderPlot(*plot, {320, 240}, &warnings).ok());
    std::string out = std::to_string(plot->pages.size()) + " pages, " + std::to_string(points) +
                      " points, " + std::to_string(items) + " items, " +
                      std::to_string(textChars(*plot)) + " label characters\n";
    for (const std::string& w : plot->warnings)
        out += "warning: " + w + "\n";
    return out;
}

// A golden case's input with each "{N*PIECE}" written out N times.
std::string Expanded(std::string input) {
    for (size_t open; (open = input.find('{')) != std::string::npos;) {
        const size_t star = input.find('*', open), close = input.find('}', star);
        input.replace(open, close - open + 1,
                      repeat(input.substr(star + 1, close - star - 1),
                             std::stoul(input.substr(open + 1, star - open - 1))));
    }
    return input;
}

TEST(HpglHostile, ParsesBoundedAndRenders) {
    benchcap::test::checkGolden("golden/hpgl-hostile.txt",
                                [](const std::string& input) { return Bounded(Expanded(input)); });
    for (const std::string& bytes : {randomBytes(65536, 7), randomInstructions(20000, 11)})
        Bounded(bytes);
}

// The ink budget, given or scaled with the target: fills pay for the rasterizer's work on
// their edges. A cut page leaves out the red mark.
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
        bool cut;
    } cases[] = {
        {"zigzag, ample budget", zigzag, {400, 300}, 1e9, false},
        {"zigzag, small budget", zigzag, {400, 300}, 2e5, true},
        {"spiky polygon", spikes, {1024, 768}, 0, true},
        {"plain fills on a large image", plain, {4000, 3000}, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Plot plot = parsed(c.bytes);
        std::vector<std::string> warnings;
        QImage image(c.size, QImage::Format_RGB32);
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            warnings =
                draw(painter, QRectF(QPointF(0, 0), QSizeF(c.size)), plot, {false, 0, c.budget});
        }
        EXPECT_EQ(hasWarning(warnings, "drawn only in part"), c.cut);
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

// Real plotter files: those kept in the repository (tests/hpgl/data) and, when the
// shared sample folder sits beside the source tree, those too. Every one must give a
// plausible picture: something drawn, inside the picture's extent, on the image.
namespace fs = std::filesystem;

std::vector<fs::path> samplesIn(const fs::path& dir) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        const std::string ext = entry.path().extension().string();
        if (entry.is_regular_file() && (ext == ".hp" || ext == ".hpgl" || ext == ".plt"))
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

void checkPlausible(const fs::path& file) {
    SCOPED_TRACE(file.filename().string());
    const std::string bytes = benchcap::test::readFile(file);
    EXPECT_TRUE(looksLikeHpgl(bytes));
    const Result<Plot> plot = parseHpgl(bytes);
    ASSERT_TRUE(plot.ok()) << plot.error();
    ASSERT_FALSE(plot->pages.empty());
    // Our hand-written shapes parse without a single complaint, and a trailing NUL is no
    // damage.
    const std::string name = file.filename().string();
    if (name.starts_with("own_") || name == "tgoodhew_hp8563e-test.plt") {
        EXPECT_TRUE(plot->warnings.empty()) << plot->warnings.front();
    }
    const Page& page = plot->pages[0];
    EXPECT_FALSE(page.items.empty());
    ASSERT_FALSE(page.drawn.isNull());
    EXPECT_TRUE(page.extent.contains(page.drawn));
    // The drawing fills a fair part of its picture (no stray point far away).
    EXPECT_GT(page.drawn.width() * page.drawn.height(),
              0.02 * page.extent.width() * page.extent.height());

    const QSize size(1024, 768);
    std::vector<std::string> warnings;
    const Result<QImage> image = renderPlot(*plot, size, &warnings, {false, 0});
    ASSERT_TRUE(image.ok()) << image.error();
    const QRectF ink =
        fitTransform(page.extent, QRectF(QPointF(0, 0), QSizeF(size))).mapRect(page.drawn);
    EXPECT_TRUE(QRectF(0, 0, 1024, 768).contains(ink.adjusted(1, 1, -1, -1)));
    const int drawn = notWhite(*image, image->rect());
    EXPECT_GT(drawn, 2000);
    EXPECT_LT(drawn, 1024 * 768 / 2);
    if (const char* dir = std::getenv("BENCHCAP_HPGL_PNG_DIR"))
        image->save(QString::fromStdString((fs::path(dir) / file.filename()).string() + ".png"));
}

TEST(HpglSamples, InTreeSamplesArePlausible) {
    const std::vector<fs::path> files = samplesIn(benchcap::test::sourceDir() / "tests/hpgl/data");
    ASSERT_GE(files.size(), 9u);
    for (const fs::path& f : files)
        checkPlausible(f);
}

}  // namespace
}  // namespace benchcap::hpgl::test
