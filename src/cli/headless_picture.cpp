#include "cli/headless_picture.h"

#include <clocale>
#include <cstdlib>

#include "trace/plot/trace_plot.h"

namespace benchcap::cli {

HeadlessGui::HeadlessGui() {
    if (QGuiApplication::instance())
        return;
    if (!std::getenv("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    app_.emplace(argc_, argv_);
    std::setlocale(LC_NUMERIC, "C");  // Qt took the user's; our number texts must not
}

void useApplicationLocale() {
    if (QCoreApplication::instance())
        return;
    std::setlocale(LC_ALL, "");  // as QCoreApplication does
    std::setlocale(LC_NUMERIC, "C");
}

Status writeTracePlotFile(const std::string& fileName, PlotFileFormat format,
                          const trace::TraceDataSet& data, QSize size) {
    const trace::PlotStyle style = trace::DefaultPlotStyle();
    return writePictureFile(fileName, format, size, [&](QPainter& painter, const QRect& area) {
        trace::DrawTracePlot(painter, area, data, style);
        return Status{};
    });
}

}  // namespace benchcap::cli
