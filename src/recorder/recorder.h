#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/output_file.h"
#include "base/result.h"
#include "bus/clock.h"
#include "bus/session.h"
#include "hardcopy/hardcopy_types.h"
#include "recorder/schedule.h"
#include "trace/trace_data.h"

namespace benchcap::recipes {
class RecipeBook;
}

namespace benchcap::recorder {

inline constexpr int64_t kDefaultRotateBytes = 100LL * 1024 * 1024;
// Traces 1..8, as many as a recipe may offer.
inline constexpr int kMaxRecordedTraces = 8;

// What a recording takes and where it ends.
struct RecorderSettings {
    std::vector<ScheduleRow> rows;
    std::optional<int64_t> durationMicros;  // ends when the next item would be due after it
    std::optional<int64_t> count;           // ends after this many items taken
    std::filesystem::path folder;           // made beforehand (makeRecordFolder)
    char decimalSeparator = '.';
    int64_t rotateBytes = kDefaultRotateBytes;
    std::string interfaceName;  // for the trace files' head
    std::string hardcopyFormat = "BMP";
    // The stamp in the hardcopies' automatic names for a moment (microseconds since 1970);
    // none: fileStamp, UTC. The window gives its local-time stamp, as its other names have.
    std::function<std::string(int64_t unixMicros)> stamp = nullptr;
    // The recipes instruments of other makers are read by (pictures and traces); none: such
    // instruments give refused rows.
    const recipes::RecipeBook* recipes = nullptr;
    // Each acquisition of a trace also as traceN-SEQUENCE.s1p (Touchstone 1.1); a channel in
    // a real format is then a refused item.
    bool touchstone = false;
};

// How each taken item went, as record.csv writes it.
enum class ItemOutcome { Ok, Timeout, Lost, Refused };
const char* outcomeText(ItemOutcome outcome);

// What the owner sees after every row (the status line, a progress print).
struct RecorderProgress {
    int64_t rows = 0;   // rows in record.csv so far
    int lastTrace = 0;  // the item of the last row: 0 a hardcopy, 1..8 a trace
    // The last item's own row in record.csv and its time there (from the start): the rows
    // count may have gone on by a `skipped` row since.
    int64_t row = 0;
    int64_t rowMicros = 0;
    int64_t elapsedMicros = 0;
    ItemOutcome lastOutcome = ItemOutcome::Ok;
    std::string lastMessage;    // why the last item failed, empty when it went through
    std::size_t nextRow = 0;    // the schedule row due next
    int nextTrace = 0;          // its item: 0 a hardcopy, 1..8 a trace
    int64_t nextDueMicros = 0;  // its due time, from the start
    // What the last item took, for a live view; valid during the call only. The trace's
    // values when it was read, the hardcopy's file when one was written.
    const trace::TraceDataSet* trace = nullptr;
    std::string hardcopyFile;
};

enum class RecordingEndReason { Stopped, Duration, Count, Failed };

struct RecordingEnd {
    RecordingEndReason reason = RecordingEndReason::Stopped;
    Status status;  // the failure that ended it (a file that cannot be written)
    int64_t rows = 0;
};

// The instrument and the world a recording runs in. The session's interrupt check should
// ask the same stop as `stopRequested`, so that a long read ends on a stop, too.
struct RecorderServices {
    bus::Session& session;
    bus::Clock& clock;
    int16_t board = 0;
    int16_t address = 0;
    // UTC at the start, microseconds since 1970; the rows' times run from it on the bus
    // clock, so times and elapsed seconds never disagree and never step back.
    int64_t wallStartMicros = 0;
    std::function<bool()> stopRequested = [] { return false; };
    std::function<void(const RecorderProgress&)> progress = nullptr;
    hardcopy::PictureCheck checkPicture = nullptr;
    const FileCalls& calls = FileCalls::system();
    // For measurements of the schedule: each item's due time and the moment it was begun,
    // in microseconds from the start on the bus clock.
    std::function<void(int64_t dueMicros, int64_t beganMicros)> itemBegun = nullptr;
};

// Records until a stop, the duration or the count: waits for the next due item on the bus
// clock, takes it (identification first, so a stale answer of an earlier time-out is
// cleared and never recorded under a later time), writes its row to record.csv and its
// values to traceN.csv or its picture to its own file. A time-out, a lost interface or a
// bus error is a row with its outcome, and the schedule goes on; a file that cannot be
// written (a CSV file, a picture, a Touchstone file: a full disk, a size limit) ends the
// recording with the failure, and a trace row never stays without its row in record.csv.
// Waits are in short slices that ask `stopRequested`.
RecordingEnd Record(RecorderServices& services, const RecorderSettings& settings);

}  // namespace benchcap::recorder
