// Speed and memory of the recorder's waterfall, 1001-value sweeps. Targets: add well
// within 0.2 ms, draw into 1000 x 600 within 10 ms, memory bounded (about 8 MB for the
// default 1024 x 1024 cells) after 864,000 acquisitions (24 hours at 10 a second).
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "memory.h"
#include "trace/plot/waterfall.h"

namespace {

using benchcap::trace::TraceDataSet;
using benchcap::trace::Waterfall;

constexpr std::size_t kPoints = 1001;

// Sweeps of a spectrum analyzer: noise floor and a carrier that drifts over time.
std::vector<TraceDataSet> sweeps(std::size_t count) {
    std::mt19937 rng(1);
    std::normal_distribution<float> noise(0, 2);
    std::vector<TraceDataSet> out(count);
    for (std::size_t k = 0; k < count; ++k) {
        const double centre = 500 + 300 * std::sin(static_cast<double>(k) / 10);
        out[k].values.resize(kPoints);
        out[k].axis = benchcap::trace::AnalyzerAxis::Of(kPoints, 1.5e9, 1e8, 0, 0);
        for (std::size_t i = 0; i < kPoints; ++i) {
            const double f = (static_cast<double>(i) - centre) / 10;
            out[k].values[i] = static_cast<float>(-85 + 60 / (1 + f * f)) + noise(rng);
        }
    }
    return out;
}

double residentMegabytes() {
    return static_cast<double>(benchcap::bench::residentKiB()) / 1024;
}

// Steady state: the waterfall full and merging, the range settled.
void add(benchmark::State& state) {
    const std::vector<TraceDataSet> data = sweeps(64);
    Waterfall w;
    for (std::size_t k = 0; k < 4096; ++k)
        w.add(data[k % data.size()]);
    std::size_t k = 0;
    for (auto _ : state)
        w.add(data[k++ % data.size()]);
    benchmark::DoNotOptimize(w.acquisitions());
}

// Live display: one new acquisition per drawing (arg 0), or one that widens the colour
// range so that every cell is coloured afresh (arg 1), as once after a merge of lines.
void draw(benchmark::State& state) {
    const std::vector<TraceDataSet> data = sweeps(64);
    Waterfall w;
    for (std::size_t k = 0; k < 4096; ++k)
        w.add(data[k % data.size()]);
    QImage image(1000, 600, QImage::Format_RGB32);
    const benchcap::trace::PlotStyle style = benchcap::trace::DefaultPlotStyle();
    std::size_t k = 0;
    for (auto _ : state) {
        state.PauseTiming();
        TraceDataSet next = data[k++ % data.size()];
        if (state.range(0) == 1)
            next.values[500] = 100.0f + static_cast<float>(k);
        w.add(next);
        state.ResumeTiming();
        QPainter painter(&image);
        w.draw(painter, image.rect(), style);
    }
}

// A 24-hour recording, drawn now and then as the window would, then written out. The
// growth of resident memory is counted after a first drawing has loaded the fonts.
void dayLongRecording(benchmark::State& state) {
    const std::vector<TraceDataSet> data = sweeps(64);
    const QSize size(1000, 600);
    const benchcap::trace::PlotStyle style = benchcap::trace::DefaultPlotStyle();
    {
        Waterfall warmUp;
        warmUp.add(data[0]);
        benchmark::DoNotOptimize(warmUp.image(size, style).constBits());
    }
    const double before = residentMegabytes();
    for (auto _ : state) {
        Waterfall w;
        for (std::size_t k = 0; k < 864000; ++k) {
            w.add(data[k % data.size()]);
            if (k % 100000 == 0)
                benchmark::DoNotOptimize(w.image(size, style).constBits());
        }
        state.counters["rss_MB"] = residentMegabytes();
        state.counters["rss_growth_MB"] = residentMegabytes() - before;
        state.counters["lines"] = w.lines();
        state.counters["per_line"] = static_cast<double>(w.acquisitionsPerLine());
        benchmark::DoNotOptimize(w.image(size, style).constBits());  // the PNG at the end
    }
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    benchmark::RegisterBenchmark("waterfall_add_1001", add)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("waterfall_draw_1000x600", draw)
        ->Arg(0)
        ->Arg(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("waterfall_864000_adds", dayLongRecording)
        ->Iterations(1)
        ->Unit(benchmark::kSecond);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
