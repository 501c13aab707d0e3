#include "cli/trace_plot_file.h"

#include <QBuffer>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSvgGenerator>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "base/output_file.h"
#include "trace/plot/trace_plot.h"

namespace benchcap::cli {

std::optional<PlotFileFormat> plotFileFormatFor(const std::string& fileName) {
    std::string ext = std::filesystem::path(fileName).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == ".png")
        return PlotFileFormat::Png;
    if (ext == ".svg")
        return PlotFileFormat::Svg;
    if (ext == ".pdf")
        return PlotFileFormat::Pdf;
    return std::nullopt;
}

namespace {

// The picture's bytes, drawn into memory first so that the file is written whole
// through OutputFile or not at all.
Result<QByteArray> drawPlot(PlotFileFormat format, const trace::TraceDataSet& data, QSize size) {
    const trace::PlotStyle style = trace::DefaultPlotStyle();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    switch (format) {
        case PlotFileFormat::Png: {
            Result<QImage> image = trace::RenderTracePlot(data, size, style);
            if (!image)
                return Error{image.error()};
            if (!image->save(&buffer, "PNG"))
                return fail("the PNG picture could not be encoded");
            break;
        }
        case PlotFileFormat::Svg: {
            QSvgGenerator svg;
            svg.setOutputDevice(&buffer);
            svg.setSize(size);
            svg.setViewBox(QRect(QPoint(0, 0), size));
            svg.setTitle(QStringLiteral("trace"));
            if (Result<trace::PlotSummary> drawn = trace::DrawTracePlot(svg, data, style); !drawn)
                return Error{drawn.error()};
            break;
        }
        case PlotFileFormat::Pdf: {
            // One page of exactly the picture's size, one device pixel per point.
            QPdfWriter pdf(&buffer);
            pdf.setResolution(72);
            pdf.setPageLayout(QPageLayout(QPageSize(QSizeF(size), QPageSize::Point),
                                          QPageLayout::Portrait, QMarginsF()));
            pdf.setCreator(QStringLiteral("benchcap-cli"));
            if (Result<trace::PlotSummary> drawn = trace::DrawTracePlot(pdf, data, style); !drawn)
                return Error{drawn.error()};
            break;
        }
    }
    buffer.close();
    return bytes;
}

}  // namespace

Status writeTracePlotFile(const std::string& fileName, PlotFileFormat format,
                          const trace::TraceDataSet& data, QSize size) {
    Result<QByteArray> bytes = drawPlot(format, data, size);
    if (!bytes)
        return fail("The trace plot " + fileName + " was not drawn: " + bytes.error());
    return writeOutputFile(
        std::filesystem::path(fileName),
        std::string_view(bytes->constData(), static_cast<size_t>(bytes->size())));
}

}  // namespace benchcap::cli
