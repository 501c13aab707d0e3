#include "cli/picture_file.h"

#include "trace/plot/trace_plot.h"

namespace benchcap::cli {

Status writeTracePlotFile(const std::string& fileName, PlotFileFormat format,
                          const trace::TraceDataSet& data, QSize size) {
    const trace::PlotStyle style = trace::DefaultPlotStyle();
    return writePictureFile(fileName, format, size, [&](QPainter& painter, const QRect& area) {
        trace::DrawTracePlot(painter, area, data, style);
        return Status{};
    });
}

}  // namespace benchcap::cli
