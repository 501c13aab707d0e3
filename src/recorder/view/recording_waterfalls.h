#pragma once

#include <QSize>

#include <array>
#include <filesystem>
#include <memory>

#include "base/result.h"
#include "recorder/recorder.h"
#include "trace/plot/trace_plot.h"
#include "trace/plot/waterfall.h"

namespace benchcap::recorder {

// The waterfalls of a recording's traces 1 to 4, fed from its progress, and written at the
// end as traceN-waterfall.png beside traceN.csv. Not thread-safe: the caller locks.
class RecordingWaterfalls {
  public:
    // Adds the trace the last item read; other items change nothing.
    void take(const RecorderProgress& progress);
    // The waterfall of trace `n` (1..8), nullptr before its first acquisition.
    const trace::Waterfall* of(int n) const;
    // No trace was taken: nothing to draw or save.
    bool empty() const;
    void clear();

    // One PNG of `size` per trace with acquisitions, in `folder`. A name in use is never
    // written over: the picture goes to traceN-waterfall-2.png and so on.
    Status save(const std::filesystem::path& folder, QSize size,
                const trace::PlotStyle& style) const;

  private:
    std::array<std::unique_ptr<trace::Waterfall>, kMaxRecordedTraces> waterfalls_;
};

}  // namespace benchcap::recorder
