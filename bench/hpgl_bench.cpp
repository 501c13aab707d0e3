// Rendering speed of the HP-GL renderer: each in-tree sample plot (parse and draw)
// into a 1024 x 768 image, and 16 MB worst cases that must still finish in bounded
// time. Target: an instrument plot in under 20 ms; a 16 MB file in a few seconds.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "hardcopy/hpgl/hpgl.h"

namespace {

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

// About 16 MB of `unit` after `head`.
std::string fill16(const std::string& head, const std::string& unit) {
    std::string s = head;
    s.reserve(16u << 20);
    while (s.size() + unit.size() <= (16u << 20))
        s += unit;
    return s;
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
    for (const auto& [name, bytes] : samples) {
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
    for (const auto& [name, bytes] : worst) {
        benchmark::RegisterBenchmark(("worst/" + name).c_str(),
                                     [&bytes](benchmark::State& s) { render(s, bytes, true); })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
        benchmark::RegisterBenchmark(("worst_parse/" + name).c_str(),
                                     [&bytes](benchmark::State& s) { parseOnly(s, bytes); })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
    }

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
