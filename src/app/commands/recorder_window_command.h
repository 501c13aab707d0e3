#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "app/commands/bus_worker.h"
#include "app/commands/trace_window_command.h"
#include "base/result.h"
#include "hardcopy/picture/picture.h"
#include "recorder/recorder.h"
#include "recorder/view/recording_waterfalls.h"
#include "trace/trace_data.h"

namespace benchcap::bus {
class Clock;
}

namespace benchcap::app {

class InstrumentSession;
class WindowView;

// The trace recorder of the main window ("start recorder" in the setup window): records the
// chosen rows for the selected instrument into RECORD-<stamp> under the data path, on the bus
// worker, until "stop recorder", Stop, the end of the program, or a count. The window stays
// usable meanwhile (its other bus commands are refused while the bus is in use); the status
// line counts the rows and names the next item, and the picture area shows the newest trace
// above a waterfall of all of them, or the newest hardcopy when no trace is recorded. At the
// end traceN-waterfall.png is written beside each trace's CSV. Owned by the application
// beside the window and the instrument session.
class RecorderWindowCommand {
  public:
    RecorderWindowCommand(WindowView& form, InstrumentSession& instrument, bus::Clock& clock,
                          char decimalSeparator = localeDecimalSeparator());
    ~RecorderWindowCommand();
    RecorderWindowCommand(const RecorderWindowCommand&) = delete;
    RecorderWindowCommand& operator=(const RecorderWindowCommand&) = delete;

    // Records `rows` and returns when the recording has ended: ok when it ended as asked
    // (a stop or the count), otherwise why not (the user has been told already). The window
    // handles its events meanwhile. `count`: end after that many items taken.
    Status run(const std::vector<recorder::ScheduleRow>& rows,
               std::optional<int64_t> count = std::nullopt);
    bool recording() const { return recording_; }
    // Ends a running recording after its current item (the setup window's "stop recorder";
    // the main window's Stop ends it through the bus worker as well).
    void stop() { stopAsked_ = true; }
    // Told on the window thread when a recording starts (true) and ends (false).
    void setRunningView(std::function<void(bool recording)> show) {
        showRunning_ = std::move(show);
    }
    // How the bus is reached, for the trace files' head ("simulated bench: ...").
    void setInterfaceName(std::string name) { interfaceName_ = std::move(name); }
    // The recipes instruments of other makers are recorded by; outlives the command.
    void setRecipes(const recipes::RecipeBook* book) { recipes_ = book; }

    // "recording: 1,234 rows, next trace 2 in 4 s"
    QString statusText() const;
    // The folder of the running or last recording (empty before the first).
    const std::filesystem::path& folder() const { return folder_; }
    // Draws the newest trace and the waterfall, or the newest hardcopy, into the picture area.
    void redraw();

  private:
    // The bus part: the instrument opened and checked, the folder made, the recording run.
    // `worker` (nullptr: none, all runs here) answers what only the window thread may read.
    Status recordOnBus(WindowView& window, BusWorker* worker,
                       const recorder::RecorderSettings& base,
                       std::optional<recorder::RecordingEnd>& end);
    // From the bus thread after every row: what the view needs, then a redraw on the window.
    void takeProgress(const recorder::RecorderProgress& progress);
    Status finish(const recorder::RecordingEnd& end);

    WindowView& form_;
    InstrumentSession& instrument_;
    bus::Clock& clock_;
    char decimalSeparator_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    QueuedCalls windowSide_;  // lives on the window thread: redraws are queued to it
    QTimer ticker_;           // the status line's countdown between rows
    std::function<void(bool)> showRunning_;
    std::filesystem::path folder_;
    std::string interfaceName_ = "GPIB library";
    const recipes::RecipeBook* recipes_ = nullptr;
    // The hardcopy on display and its file (window thread only).
    std::string shownHardcopyPath_;
    std::optional<picture::Picture> shownHardcopy_;
    bool recording_ = false;
    std::atomic<bool> stopAsked_{false};
    std::atomic<bool> redrawQueued_{false};

    // Shared between the bus thread (takeProgress) and the window thread (drawing).
    mutable std::mutex mutex_;
    recorder::RecordingWaterfalls waterfalls_;
    trace::TraceDataSet newest_;
    int newestTrace_ = 0;  // 0: no trace yet
    std::string newestHardcopy_;
    int64_t rows_ = 0;
    int nextTrace_ = 0;
    std::chrono::steady_clock::time_point nextDue_{};
};

}  // namespace benchcap::app
