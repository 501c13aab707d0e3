#pragma once

#include <string>
#include <string_view>

#include "bus/gpib_driver.h"
#include "bus/user_interface.h"
#include "hardcopy/file_result.h"

namespace benchcap::hardcopy {

// Plotter emulation: the interface board "GPIB0" becomes a GPIB plotter at address 5 and
// records what the instrument plots into an HPGL text file, one line per received piece.

inline constexpr int kPlotterAddress = 5;
inline constexpr long kPlotReadSize = 200;
// A plot larger than this is no instrument screen; the capture stops instead of filling the disk.
inline constexpr int64_t kMaxPlotBytes = int64_t{64} << 20;

struct CaptureResult {
    std::string error;  // empty when a plot was received and stored
    bool boardFound = false;
    int lines = 0;      // lines written (the last, empty one included)
    int64_t bytes = 0;  // bytes received from the instrument
    explicit operator bool() const { return error.empty(); }
};

// One received piece as a file line: the first `count` bytes, without the carriage returns
// and line feeds at its start and at its end.
std::string CleanPlotLine(std::string_view piece);

// Captures one plot into `fileName` (written under a temporary name and renamed when the
// capture ends). Status texts go to `status`. The board's own address, system-controller
// role, end-of-string settings and time-out are read before the capture and set back
// afterwards, because taking the board offline does not undo them on every driver.
// No board, or no byte from the instrument (the key was not pressed within 100 s), is a
// failure that leaves no file.
CaptureResult CapturePlot(bus::GpibDriver& driver, const std::string& fileName,
                          const StatusFn& status);

// The plotter offer: question box "PLEASE SELECT" with `offerText`; on Yes the capture.
struct PlotterResult {
    bool accepted = false;  // the user chose Yes
    CaptureResult capture;
};
PlotterResult Plotter(bus::GpibDriver& driver, bus::UserInterface& ui, const StatusFn& status,
                      const std::string& offerText, const std::string& fileName);

}  // namespace benchcap::hardcopy
