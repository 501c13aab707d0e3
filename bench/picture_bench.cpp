// Rendering speed of the metafile player: every sample metafile and a typical
// analyzer screen (grid, 1001-point trace, labels) into a 1024 x 768 image.
// Target: under 5 ms per render of an instrument screen.
//
// costly/*: files made to cost the player much work (very wide pens, thousands of
// full-picture fills, huge bitmaps, regions and fonts), up to one megabyte each.
// Target: every one under 1 s at 1024 x 768; the player's work limit ends them.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "hardcopy/picture/metafile_player.h"
#include "hardcopy/picture/wmf_writer.h"
#include "support/metafile_samples.h"
#include "support/test_paths.h"

namespace {

namespace fs = std::filesystem;
using benchcap::wmf::rgb;

std::string instrumentScreen() {
    benchcap::wmf::Writer w(640, 480);
    w.brush(rgb(0, 0, 0));
    w.nullPen();
    w.rectangle(0, 0, 640, 480);
    w.pen(benchcap::wmf::PS_DOT, 0, rgb(90, 90, 90));
    for (int x = 40; x <= 600; x += 56)
        w.line(x, 40, x, 440);  // 11 vertical
    for (int y = 40; y <= 440; y += 50)
        w.line(40, y, 600, y);  // 9 horizontal
    std::vector<benchcap::wmf::Point> trace;
    for (int i = 0; i <= 1000; ++i) {
        const double f = (i - 500) / 40.0;
        const double level = 380 - 300 / (1 + f * f) - 10 * std::sin(i * 0.7);
        trace.push_back({40 + i * 560 / 1000, static_cast<int>(level)});
    }
    w.pen(benchcap::wmf::PS_SOLID, 1, rgb(255, 255, 0));
    w.polyline(trace);
    w.font(14);
    w.textColor(rgb(255, 255, 255));
    w.bkMode(benchcap::wmf::TRANSPARENT);
    const char* labels[] = {"Ref -10.0 dBm",
                            "Att 20 dB",
                            "RBW 100 kHz",
                            "VBW 300 kHz",
                            "SWT 5 ms",
                            "Center 1.5 GHz",
                            "Span 20 MHz",
                            "1 PK CLRW",
                            "Marker 1",
                            "-23.4 dBm",
                            "1.500000 GHz",
                            "TRG",
                            "A",
                            "SGL",
                            "EXT",
                            "PRN",
                            "10 dB/",
                            "Date: 01.Jan.1999",
                            "VTK KLT",
                            "*"};
    int i = 0;
    for (const char* label : labels) {
        w.text(8 + (i % 4) * 160, i < 8 ? 4 + (i / 4) * 16 : 446 + ((i - 8) / 4) * 8, label);
        ++i;
    }
    return w.finish();
}

void render(benchmark::State& state, const std::string& bytes, bool antialias) {
    QImage image(1024, 768, QImage::Format_RGB32);
    size_t warnings = 0;
    double work = 0;
    for (auto _ : state) {
        image.fill(Qt::white);
        QPainter painter(&image);
        auto result =
            benchcap::picture::playMetafile(painter, QRectF(0, 0, 1024, 768), bytes, {antialias});
        benchmark::DoNotOptimize(result.records);
        warnings = result.warnings.size();
        work = result.work;
    }
    state.counters["Mwork"] = work / 1e6;
    state.counters["kB"] = static_cast<double>(bytes.size()) / 1024.0;
    state.counters["warnings"] = static_cast<double>(warnings);
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    const std::string screen = instrumentScreen();
    benchmark::RegisterBenchmark("instrument_screen/antialiased",
                                 [&](benchmark::State& s) { render(s, screen, true); });
    benchmark::RegisterBenchmark("instrument_screen/aliased",
                                 [&](benchmark::State& s) { render(s, screen, false); });

    // The samples kept in the repository, the real-world collection beside it when it is
    // there (the same folders the tests use), and the writer-made samples.
    std::vector<fs::path> dirs{benchcap::test::testDataDir() / "wmf"};
    if (const auto shared = benchcap::test::sharedTestDataDir())
        dirs.push_back(*shared / "wmf");
    std::vector<std::pair<std::string, std::string>> samples;
    for (const fs::path& dir : dirs) {
        if (!fs::is_directory(dir))
            continue;
        for (const auto& entry : fs::directory_iterator(dir)) {
            if (entry.path().extension() == ".wmf")
                samples.emplace_back(entry.path().stem().string(), readFile(entry.path()));
        }
    }
    std::sort(samples.begin(), samples.end());
    samples.erase(std::unique(samples.begin(), samples.end(),
                              [](const auto& a, const auto& b) { return a.first == b.first; }),
                  samples.end());
    for (const auto& sample : benchcap::picture::test::writerSamples())
        samples.emplace_back("writer-" + fs::path(sample.name).stem().string(), sample.bytes);
    // Clang 14 cannot capture a structured binding: name the bytes by a reference.
    for (const auto& sample : samples) {
        const std::string& bytes = sample.second;
        benchmark::RegisterBenchmark(("sample/" + sample.first).c_str(),
                                     [&bytes](benchmark::State& s) { render(s, bytes, true); });
    }
    std::vector<benchcap::picture::test::SampleFile> costly =
        benchcap::picture::test::costlySamples();
    for (auto& sample : benchcap::picture::test::costlyMegabyteSamples())
        costly.push_back(std::move(sample));
    for (const auto& sample : costly) {
        benchmark::RegisterBenchmark(
            ("costly/" + fs::path(sample.name).stem().string()).c_str(),
            [&sample](benchmark::State& s) { render(s, sample.bytes, true); })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
    }

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
