#pragma once

#include <QGuiApplication>
#include <QSize>

#include <optional>

#include <string>

#include "base/result.h"
#include "hardcopy/picture/picture_file.h"
#include "trace/trace_data.h"

namespace benchcap::cli {

// Fonts and painting need a GUI application object. While alive, this gives benchcap-cli
// one where there is none yet, on the offscreen platform unless the caller chose one.
class HeadlessGui {
  public:
    HeadlessGui();
    HeadlessGui(const HeadlessGui&) = delete;
    HeadlessGui& operator=(const HeadlessGui&) = delete;

  private:
    int argc_ = 1;
    char name_[13] = "benchcap-cli";
    char* argv_[2] = {name_, nullptr};
    std::optional<QGuiApplication> app_;
};

// The process locale a GUI application leaves behind (the user's, numbers in "C"), for a
// command that starts one only if it needs fonts: its messages (the system's error texts)
// read the same either way. Nothing when an application exists already.
void useApplicationLocale();

using picture::kDefaultPlotSize;
using picture::PlotFileFormat;
using picture::plotFileFormatFor;
using picture::writePictureFile;

// The trace plot of `data`, drawn by the window's own code, as a PNG, SVG or PDF file.
Status writeTracePlotFile(const std::string& fileName, PlotFileFormat format,
                          const trace::TraceDataSet& data, QSize size);

}  // namespace benchcap::cli
