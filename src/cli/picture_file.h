#pragma once

#include <QSize>

#include <string>

#include "base/result.h"
#include "hardcopy/picture/picture_file.h"
#include "trace/trace_data.h"

namespace benchcap::cli {

using picture::kDefaultPlotSize;
using picture::PlotFileFormat;
using picture::plotFileFormatFor;
using picture::writePictureFile;

// The trace plot of `data`, drawn by the window's own code, as a PNG, SVG or PDF file.
Status writeTracePlotFile(const std::string& fileName, PlotFileFormat format,
                          const trace::TraceDataSet& data, QSize size);

}  // namespace benchcap::cli
