#pragma once

#include <QSize>

#include <optional>
#include <string>

#include "base/result.h"
#include "trace/trace_data.h"

namespace benchcap::cli {

// The picture formats a trace plot file can have, by the file name's extension.
enum class PlotFileFormat { Png, Svg, Pdf };

// ".png", ".svg" or ".pdf" in any case; nullopt for anything else.
std::optional<PlotFileFormat> plotFileFormatFor(const std::string& fileName);

// The size a plot is drawn at when none is given.
inline constexpr QSize kDefaultPlotSize{1024, 768};

// Draws the trace plot of `data` at `size` (pixels; points for a PDF page) with the
// window's own drawing and writes it to `fileName` through OutputFile. Needs a
// QGuiApplication (fonts).
Status writeTracePlotFile(const std::string& fileName, PlotFileFormat format,
                          const trace::TraceDataSet& data, QSize size);

}  // namespace benchcap::cli
