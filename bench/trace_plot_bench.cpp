// Drawing speed of the trace plot's line graph into a 1920 x 1080 image, grid and labels
// included. Targets: 1,000,001 values within 16 ms, 32,768 values within 2 ms.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <random>

#include "trace/plot/trace_plot.h"

namespace {

using benchcap::trace::TraceDataSet;

// A spectrum: noise floor, a peak and a few spikes, like an analyzer trace.
TraceDataSet spectrum(std::size_t n) {
    std::mt19937 rng(1);
    std::normal_distribution<float> noise(0, 2);
    TraceDataSet data;
    data.values.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double f = (static_cast<double>(i) - n / 2.0) / (n / 50.0);
        data.values[i] = static_cast<float>(-85 + 60 / (1 + f * f)) + noise(rng) +
                         (i % 7919 == 0 ? 40.0f : 0.0f);
    }
    return data;
}

void draw(benchmark::State& state, const TraceDataSet& data, bool everySegment) {
    QImage image(1920, 1080, QImage::Format_RGB32);
    benchcap::trace::PlotStyle style = benchcap::trace::DefaultPlotStyle();
    style.everySegment = everySegment;
    for (auto _ : state) {
        QPainter painter(&image);
        const auto summary = benchcap::trace::DrawTracePlot(painter, image.rect(), data, style);
        benchmark::DoNotOptimize(summary.top);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(data.values.size()));
}

void drawLineGraph(benchmark::State& state, bool everySegment) {
    draw(state, spectrum(static_cast<std::size_t>(state.range(0))), everySegment);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    benchmark::RegisterBenchmark("line_graph_1920x1080",
                                 [](benchmark::State& s) { drawLineGraph(s, false); })
        ->Arg(1001)
        ->Arg(32768)
        ->Arg(1000001)
        ->Unit(benchmark::kMillisecond);
    // Every segment on its own, for comparison: what the column drawing saves.
    benchmark::RegisterBenchmark("line_graph_1920x1080/every_segment",
                                 [](benchmark::State& s) { drawLineGraph(s, true); })
        ->Arg(32768)
        ->Arg(1000001)
        ->Unit(benchmark::kMillisecond);

    // The fixed costs: clearing the picture (all values equal), and grid with labels
    // around a single segment.
    TraceDataSet flat;
    flat.values.assign(1001, -50.0f);
    benchmark::RegisterBenchmark("clear_only_1920x1080", [&](benchmark::State& s) {
        draw(s, flat, false);
    })->Unit(benchmark::kMillisecond);
    TraceDataSet two;
    two.values = {-80, -20};
    benchmark::RegisterBenchmark("grid_only_1920x1080", [&](benchmark::State& s) {
        draw(s, two, false);
    })->Unit(benchmark::kMillisecond);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
