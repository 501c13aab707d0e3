#pragma once

#include <string>
#include <string_view>

#include "base/result.h"
#include "bus/gpib_driver.h"
#include "bus/user_interface.h"
#include "hardcopy/hardcopy_types.h"
#include "hardcopy/hpgl/plotter.h"

namespace benchcap::hardcopy {

// Plotter emulation: the interface board "GPIB0" becomes a GPIB plotter at address 5 and
// records what the instrument plots into an HPGL text file, one line per received piece.

inline constexpr int kPlotterAddress = 5;
inline constexpr long kPlotReadSize = 200;
// A plot larger than this is no instrument screen; the capture stops instead of filling the disk.
inline constexpr int64_t kMaxPlotBytes = int64_t{64} << 20;

// What a capture stored.
struct PlotCapture {
    int lines = 0;      // lines written (the last, empty one included)
    int64_t bytes = 0;  // bytes received from the instrument
};

// Asked between two reads whether the user wants the capture stopped.
using InterruptCheck = std::function<bool()>;

// The plotter the board claims to be. With `answer`, instruments that ask it something
// (output instructions such as OI, OP, OS) get the answer when they address the board to
// talk; without, they wait in vain, as with a plotter that never answers.
struct PlotterSettings {
    hpgl::PlotterModel model = hpgl::PlotterModel::HP7470A;
    bool answer = true;
    // For instruments in talk-only hardcopy mode, which address no plotter: a "++" adapter
    // listens to everything on the bus (++lon). Other interfaces have no listen-only mode.
    bool listenOnly = false;
};

// One received piece as a file line: the first `count` bytes, without the carriage returns
// and line feeds at its start and at its end.
std::string CleanPlotLine(std::string_view piece);

// Captures one plot into `fileName` (written under a temporary name and renamed when the
// capture ends). Status texts go to `status`. The board's own address, system-controller
// role, end-of-string settings and time-out are read before the capture and set back
// afterwards, because taking the board offline does not undo them on every driver.
// No board, no byte from the instrument (the key was not pressed within 100 s), a read that
// fails with a driver error other than the time-out that ends every plot, or a stop
// request is a failure that leaves no new file (an earlier one stays as it was).
// While capturing, the board also waits for being addressed as talker when an answer is
// pending, and writes it then (ended by CR LF); an instrument that never asks sees the
// same board calls as without answers.
Result<PlotCapture> CapturePlot(bus::GpibDriver& driver, const std::string& fileName,
                                const StatusFn& status, const InterruptCheck& interrupted = {},
                                const PlotterSettings& plotter = {});

// The plotter offer: question box "PLEASE SELECT" with `offerText`; on Yes the capture.
struct PlotterResult {
    bool accepted = false;  // the user chose Yes
    Result<PlotCapture> capture = fail("the plotter offer was declined");
};
PlotterResult Plotter(bus::GpibDriver& driver, bus::UserInterface& ui, const StatusFn& status,
                      const std::string& offerText, const std::string& fileName,
                      const InterruptCheck& interrupted = {}, const PlotterSettings& plotter = {});

}  // namespace benchcap::hardcopy
