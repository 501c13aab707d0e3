// Rendering speed of the HP-GL renderer: each in-tree sample plot (parse and draw)
// into a 1024 x 768 image, and worst cases that must still finish in bounded time.
// Targets: an instrument plot in under 20 ms; any file of at most 1 MB in at most 1 s,
// any 16 MB file in at most 5 s (hostile/*: fills and glyphs made to cost the
// rasterizer most per byte).
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "hardcopy/hpgl/hpgl.h"
#include "plot_inputs.h"

namespace {

using benchcap::bench::fill16;
using benchcap::bench::spikyPolygon;

namespace fs = std::filesystem;

void render(benchmark::State& state, const std::string& bytes, bool antialias) {
    QImage image(1024, 768, QImage::Format_RGB32);
    for (auto _ : state) {
        image.fill(Qt::white);
        auto plot = benchcap::hpgl::parseHpgl(bytes);
        if (!plot) {
            state.SkipWithError(plot.error().c_str());
            return;
        }
        QPainter painter(&image);
        auto warnings =
            benchcap::hpgl::draw(painter, QRectF(0, 0, 1024, 768), *plot, {antialias, 0});
        benchmark::DoNotOptimize(warnings.size());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

void parseOnly(benchmark::State& state, const std::string& bytes) {
    for (auto _ : state) {
        auto plot = benchcap::hpgl::parseHpgl(bytes);
        benchmark::DoNotOptimize(plot.ok());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Up to `limit` bytes of `unit` after `head`, then `tail`.
std::string repeat(const std::string& head, const std::string& unit, size_t limit,
                   const std::string& tail = {}) {
    std::string s = head;
    while (s.size() + unit.size() + tail.size() <= limit)
        s += unit;
    return s + tail;
}

// One polygon of many thin full-height rings.
std::string ringsPolygon(size_t limit) {
    std::string s = "PU0,0;PM0;";
    for (int i = 0; s.size() + 40 < limit; ++i) {
        const std::string x = std::to_string(i % 10000);
        s += "PU" + x + ",0;PD" + x + ",7650," + std::to_string(i % 10000 + 1) + ",0;PM1;";
    }
    return s + "PM2;FP;";
}

// Labels at the largest size drawn, turned so that no glyph is a cached bitmap; `width`
// in cm (narrow glyphs cover little but cost the rasterizer their whole height). The
// window keeps them from growing the picture, so they are drawn at full size.
std::string rotatedGlyphs(size_t limit, const std::string& width) {
    return repeat(
        "IN;IW0,0,10300,7650;SP1;PU0,0;PD10300,7650;PU5000,4000;SI" + width + ",100;DI1,0.3;",
        "LBWMWMWMWM\x03", limit);
}

// Labels just small enough for Qt's glyph cache, each turned a little further, so that
// every glyph is rasterized anew.
std::string turningGlyphs(size_t limit) {
    std::string s = "IN;SP1;PU0,0;PD10300,7650;SI0.3,0.45;";
    for (int i = 1; s.size() + 40 < limit; ++i)
        s += "PA5000,4000;DI1," + std::to_string(i % 20000 * 0.0001) + ";LBWMWMWMWM\x03";
    return s;
}

// Dots everywhere: line type 0 puts one at each vertex, a pen put down without moving one.
std::string dots(size_t limit, bool lineType0) {
    std::string s = lineType0 ? "SP1;LT0;PD" : "SP1;";
    uint32_t seed = 1;
    while (s.size() + 24 < limit) {
        seed = seed * 1664525u + 1013904223u;
        const std::string xy = std::to_string(seed % 10000) + "," + std::to_string(seed % 7001);
        s += lineType0 ? xy + "," : "PU" + xy + ";PD;";
    }
    return s + "0,0;";
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    std::vector<std::pair<std::string, std::string>> samples;
    const fs::path dir = fs::path(BENCHCAP_SOURCE_DIR) / "tests/hpgl/data";
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string ext = entry.path().extension().string();
        if (ext == ".hp" || ext == ".hpgl" || ext == ".plt")
            samples.emplace_back(entry.path().filename().string(), readFile(entry.path()));
    }
    std::sort(samples.begin(), samples.end());
    for (const auto& [name, input] : samples) {
        const std::string& bytes = input;  // a lambda cannot capture a binding (clang 14)
        benchmark::RegisterBenchmark(("sample/" + name).c_str(), [&bytes](benchmark::State& s) {
            render(s, bytes, true);
        })->Unit(benchmark::kMillisecond);
    }

    // Worst cases: the work budget, not the file, sets the time.
    static const std::vector<std::pair<std::string, std::string>> worst = {
        {"16MB_one_polyline", fill16("SP1;PD", "0,0,9999,7000,")},
        {"16MB_separate_lines", fill16("SP1;", "PU0,0;PD9,9;")},
        {"16MB_circles", fill16("SP1;PU5000,4000;", "CI3000;")},
        {"16MB_labels", fill16("SP1;", "PA10,10;LBABCDEFGHIJKLMNOPQRSTUVWXYZ\x03")},
        {"16MB_hatched_rectangles", fill16("SP1;FT3,1,45;", "PU0,0;RA10000,7000;")},
    };
    for (const auto& [name, input] : worst) {
        const std::string& bytes = input;  // a lambda cannot capture a binding (clang 14)
        benchmark::RegisterBenchmark(("worst/" + name).c_str(),
                                     [&bytes](benchmark::State& s) { render(s, bytes, true); })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
        benchmark::RegisterBenchmark(("worst_parse/" + name).c_str(),
                                     [&bytes](benchmark::State& s) { parseOnly(s, bytes); })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
    }

    // Hostile shapes: few bytes, much rasterizer work each.
    static const std::vector<std::pair<std::string, std::string>> hostile = {
        {"2KB_spiky_polygons", repeat("SP1;", spikyPolygon(40), 2048)},
        {"33KB_spiky_polygons", repeat("SP1;", spikyPolygon(40), 33 << 10)},
        {"1MB_spiky_polygons", repeat("SP1;", spikyPolygon(40), 1u << 20)},
        {"1MB_one_spiky_polygon", "SP1;" + spikyPolygon(40'000)},
        {"3MB_100k_rings", "SP1;" + ringsPolygon(3u << 20)},
        {"16MB_rings", "SP1;" + ringsPolygon(16u << 20)},
        {"16MB_spiky_polygons", fill16("SP1;", spikyPolygon(40))},
        {"1MB_rotated_glyphs", rotatedGlyphs(1u << 20, "60")},
        {"1MB_narrow_rotated_glyphs", rotatedGlyphs(1u << 20, "0.01")},
        {"16MB_narrow_rotated_glyphs", rotatedGlyphs(16u << 20, "0.01")},
        {"1MB_turning_glyphs", turningGlyphs(1u << 20)},
        {"16MB_turning_glyphs", turningGlyphs(16u << 20)},
        {"1MB_dots", dots(1u << 20, true)},
        {"16MB_dots", dots(16u << 20, true)},
        {"16MB_pen_down_dots", dots(16u << 20, false)},
    };
    for (const auto& [name, input] : hostile) {
        const std::string& bytes = input;  // a lambda cannot capture a binding (clang 14)
        benchmark::RegisterBenchmark(("hostile/" + name).c_str(),
                                     [&bytes](benchmark::State& s) { render(s, bytes, true); })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
    }

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
