#include "recorder/recorder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <system_error>

#include "bus/identification.h"
#include "bus/text.h"
#include "bus/user_interface.h"
#include "hardcopy/hardcopy_workflow.h"
#include "recorder/record_files.h"
#include "trace/acquisition.h"
#include "trace/general_number.h"
#include "trace/touchstone.h"
#include "trace/trace_command.h"
#include "trace/trace_recipe.h"

namespace benchcap::recorder {

const char* outcomeText(ItemOutcome outcome) {
    switch (outcome) {
        case ItemOutcome::Ok:
            return "ok";
        case ItemOutcome::Timeout:
            return "timeout";
        case ItemOutcome::Lost:
            return "lost";
        case ItemOutcome::Refused:
            return "refused";
    }
    return "refused";
}

namespace {

// Nobody sits at an unattended recording: every box gets the answer that changes nothing
// (the plotter offer: No), and its text is kept as the reason of the item's outcome.
class UnattendedBoxes final : public bus::UserInterface {
  public:
    bus::MessageResult messageBox(bus::MessageIcon, const std::string&, const std::string& text,
                                  bus::MessageButtons buttons) override {
        last = text;
        return bus::SafeAnswer(buttons);
    }
    std::optional<std::string> inputBox(const std::string&, const std::string&,
                                        const std::string&) override {
        return std::nullopt;
    }
    std::string last;
};

ItemOutcome outcomeOfKind(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::TimedOut:
            return ItemOutcome::Timeout;
        case ErrorKind::NotReachable:
        case ErrorKind::BusError:
        case ErrorKind::BadData:
            return ItemOutcome::Lost;
        default:
            return ItemOutcome::Refused;
    }
}

struct Taken {
    ItemOutcome outcome = ItemOutcome::Ok;
    bool interrupted = false;
    std::string message;
    int64_t bytes = 0;
    std::string file;
    bool cleared = false;  // late answers of an earlier item were read off and discarded
    // A file of the item (its picture) that could not be written: the folder takes no
    // more (a full disk, a size limit), so the recording ends rather than going on in rows
    // that each say so.
    Status fileFailure;
};

// An item that ended before it gave anything.
Taken ended(ItemOutcome outcome, bool interrupted, std::string message) {
    Taken item;
    item.outcome = outcome;
    item.interrupted = interrupted;
    item.message = std::move(message);
    return item;
}

constexpr int64_t kWaitSliceMicros = 50'000;
// Reads that clear late answers give up after 100 ms (NI-488.2 code T100ms) of silence.
constexpr int kClearTimeoutCode = 9;
constexpr int kClearReads = 64;

class Recording {
  public:
    Recording(RecorderServices& s, const RecorderSettings& settings)
        : s_(s),
          settings_(settings),
          delimiter_(settings.decimalSeparator == ',' ? ';' : ','),
          start_(s.clock.nowMicros()),
          schedule_(settings.rows, start_),
          record_(settings.folder, "record", settings.rotateBytes, s.calls) {
        for (int n = 1; n <= kMaxRecordedTraces; ++n)
            traces_[n - 1].emplace(settings.folder, "trace" + std::to_string(n),
                                   settings.rotateBytes, s.calls);
    }

    RecordingEnd run() {
        RecordingEnd end;
        std::string head = "sequence,utc,elapsed_s,item,latency_ms,outcome,bytes,file\r\n";
        if (delimiter_ != ',')
            std::replace(head.begin(), head.end(), ',', delimiter_);
        end.status = record_.setHead(head, start_);
        while (end.status) {
            if (s_.stopRequested()) {
                end.reason = RecordingEndReason::Stopped;
                break;
            }
            const Schedule::Due due = schedule_.next();
            if (settings_.durationMicros && due.dueMicros - start_ >= *settings_.durationMicros) {
                end.reason = RecordingEndReason::Duration;
                break;
            }
            if (settings_.count && taken_ >= *settings_.count) {
                end.reason = RecordingEndReason::Count;
                break;
            }
            if (!waitUntil(due.dueMicros)) {
                end.reason = RecordingEndReason::Stopped;
                break;
            }
            const ScheduleRow& row = settings_.rows[due.row];
            const int64_t begin = s_.clock.nowMicros();
            const int64_t passed = schedule_.take(due.row, begin);
            if (s_.itemBegun)
                s_.itemBegun(due.dueMicros + passed * row.intervalMicros - start_, begin - start_);
            if (passed > 0)
                end.status = writeSkipped(row.trace, passed, begin);
            if (!end.status)
                break;
            const Taken item = row.trace == 0 ? takeHardcopy(begin) : takeTrace(row.trace, begin);
            const int64_t finished = s_.clock.nowMicros();
            if (item.interrupted) {
                end.reason = RecordingEndReason::Stopped;  // the unfinished item leaves no row
                break;
            }
            end.status = traceStatus_;
            if (end.status)
                end.status = item.fileFailure;
            if (!end.status)
                break;  // a record row would name a row or a file that is not there
            end.status = writeRow(row.trace, begin, finished - begin, item);
            if (!end.status) {
                dropTraceRow(row.trace, item);  // the two files keep the same sequences
                break;
            }
            const int64_t itemRow = sequence_;
            ++taken_;
            // An answer the instrument owed may still come after a time-out or a broken read.
            mayBeLate_ = !item.cleared && (item.outcome == ItemOutcome::Timeout ||
                                           item.outcome == ItemOutcome::Lost);
            if (const int64_t missed = schedule_.finish(due.row, finished);
                missed > 0 && end.status)
                end.status = writeSkipped(row.trace, missed, finished);
            report(row.trace, item, itemRow, begin - start_);
        }
        if (!end.status)
            end.reason = RecordingEndReason::Failed;
        Status closed = record_.close();
        for (auto& trace : traces_) {
            if (Status c = trace->close(); !c && closed)
                closed = c;
        }
        if (end.status && !closed) {
            end.status = closed;
            end.reason = RecordingEndReason::Failed;
        }
        end.rows = sequence_;
        return end;
    }

  private:
    // Sleeps on the bus clock until `due`, in slices that ask for a stop; false on a stop.
    bool waitUntil(int64_t due) {
        for (int64_t now = s_.clock.nowMicros(); now < due; now = s_.clock.nowMicros()) {
            if (s_.stopRequested())
                return false;
            s_.clock.sleepMicros(std::min(due - now, kWaitSliceMicros));
        }
        return !s_.stopRequested();
    }

    std::string itemName(int trace) const {
        return trace == 0 ? "hardcopy" : "trace " + std::to_string(trace);
    }

    // The time columns every row starts with: sequence, UTC, seconds since the start.
    void startRow(std::string& out, int64_t sequence, int64_t at) const {
        out += std::to_string(sequence);
        out += delimiter_;
        out += utcText(s_.wallStartMicros + (at - start_));
        out += delimiter_;
        appendSeconds(out, at - start_, settings_.decimalSeparator);
    }

    Status writeRow(int trace, int64_t begin, int64_t latency, const Taken& item) {
        std::string& out = line_;
        out.clear();
        startRow(out, ++sequence_, begin);
        out += delimiter_;
        out += itemName(trace);
        out += delimiter_;
        out += std::to_string((latency + 500) / 1000);
        out += delimiter_;
        out += outcomeText(item.outcome);
        out += delimiter_;
        out += std::to_string(item.bytes);
        out += delimiter_;
        out += item.file;
        out += "\r\n";
        return append(begin + latency);
    }

    // Appends line_ to record.csv; a row that did not go there is not counted.
    Status append(int64_t at) {
        Status status = record_.append(line_, at);
        if (!status)
            --sequence_;
        return status;
    }

    Status writeSkipped(int trace, int64_t slots, int64_t at) {
        std::string& out = line_;
        out.clear();
        startRow(out, ++sequence_, at);
        out += delimiter_;
        out += itemName(trace);
        out += delimiter_;
        out += delimiter_;
        out += "skipped " + std::to_string(slots);
        out += delimiter_;
        out += '0';
        out += delimiter_;
        out += "\r\n";
        return append(at);
    }

    // Takes back what a trace item wrote beside record.csv when its row there failed.
    void dropTraceRow(int trace, const Taken& item) {
        if (trace == 0 || item.outcome != ItemOutcome::Ok)
            return;
        traces_[static_cast<std::size_t>(trace - 1)]->dropLastRow();
        if (!touchstoneFile_.empty()) {
            std::error_code ignored;
            std::filesystem::remove(touchstoneFile_, ignored);
        }
    }

    void report(int trace, const Taken& item, int64_t row, int64_t rowMicros) {
        if (!s_.progress)
            return;
        const Schedule::Due due = schedule_.next();
        RecorderProgress progress;
        progress.rows = sequence_;
        progress.row = row;
        progress.rowMicros = rowMicros;
        progress.lastTrace = trace;
        progress.elapsedMicros = s_.clock.nowMicros() - start_;
        progress.lastOutcome = item.outcome;
        progress.lastMessage = item.message;
        progress.nextRow = due.row;
        progress.nextTrace = settings_.rows[due.row].trace;
        progress.nextDueMicros = due.dueMicros - start_;
        if (item.outcome == ItemOutcome::Ok && trace > 0)
            progress.trace = &state_.data;
        if (item.outcome == ItemOutcome::Ok && trace == 0)
            progress.hardcopyFile = (settings_.folder / item.file).string();
        s_.progress(progress);
    }

    // Selects, opens and identifies the instrument as every command starts; a failure says
    // how the item ends before anything else is asked.
    std::optional<Taken> greet() {
        bus::Session& session = s_.session;
        boxes_.last.clear();  // a box of an earlier item is not this item's reason
        const bus::CurrentInstrument& ci = session.instrument();
        // Whether the identification may still get an answer an earlier item asked for.
        bool readOff = mayBeLate_;
        if (mayBeLate_ && ci.IsOpen && ci.DeviceHandle > 0) {
            // A hardcopy that failed leaves its long time-out on the handle; the clear and
            // the identification wait only the usual time.
            session.driver().ibtmo(ci.DeviceHandle, ci.TimeoutCode);
            // A device clear drops the owed answers before anything is asked; only an
            // interface without one leaves them to be read off.
            if (const Status cleared = session.ClearDevice(); cleared)
                readOff = false;
            else if (cleared.errorKind() != ErrorKind::Refused)
                return ended(outcomeOfKind(cleared.errorKind()), session.interrupted(),
                             cleared.error());
        }
        session.SelectAndIdentify(s_.board, s_.address);
        if (!session.opened())
            return ended(ItemOutcome::Lost, false, session.opened().error());
        if (session.interrupted())
            return ended(ItemOutcome::Timeout, true, {});
        if (session.instrument().ModelName == bus::kModelNoAnswer) {
            // The identification does not say why nothing came: an adapter or gateway that
            // is gone is a lost interface, not a silent instrument.
            const bus::DriverStatus status = session.driver().status();
            if ((status.ibsta & bus::ibsta_bits::ERR) != 0 &&
                (status.iberr == bus::iberr_codes::EDVR || status.iberr == bus::iberr_codes::ENEB))
                return ended(ItemOutcome::Lost, false, bus::driverErrorText(session.driver()));
            return ended(ItemOutcome::Timeout, false, "no answer to *IDN?");
        }
        const std::string reply = trace::CutAnswer(session.lastReply());
        if (identity_.empty())
            identity_ = reply;
        if (readOff && reply != identity_) {
            // The answer of an earlier query came in place of the identification. It and
            // whatever queued behind it are read off, so that no value of an earlier time
            // is recorded under this one; the next item starts in step.
            clearLateAnswers();
            Taken item = ended(ItemOutcome::Lost, session.interrupted(),
                               "a late answer of an earlier query was discarded");
            item.cleared = true;
            return item;
        }
        return std::nullopt;
    }

    // Reads until the instrument has nothing more to say: for an interface without a device
    // clear, the queue is emptied by reading it, with a short time-out.
    void clearLateAnswers() {
        bus::GpibDriver& driver = s_.session.driver();
        const bus::CurrentInstrument& ci = s_.session.instrument();
        std::array<char, bus::kReplyLength> sink{};
        driver.ibtmo(ci.DeviceHandle, kClearTimeoutCode);
        for (int n = 0; n < kClearReads && !s_.session.interrupted(); ++n) {
            const int status =
                driver.ibrd(ci.DeviceHandle, sink.data(), static_cast<long>(sink.size()));
            if ((status & (bus::ibsta_bits::ERR | bus::ibsta_bits::TIMO)) != 0 ||
                driver.status().ibcntl == 0)
                break;
        }
        driver.ibtmo(ci.DeviceHandle, ci.TimeoutCode);
    }

    Taken failure(const Status& status, const std::string& fallback) {
        Taken item;
        // A stop that came during the item cut its queries short: whatever failure that left
        // (a trace "not activated", an empty answer) is the stop's, and the item leaves no row.
        item.interrupted = status.errorKind() == ErrorKind::Interrupted || s_.stopRequested();
        item.outcome = status ? ItemOutcome::Refused : outcomeOfKind(status.errorKind());
        item.message = status ? fallback : status.error();
        if (status.errorKind() == ErrorKind::File)
            item.fileFailure = status;
        return item;
    }

    Taken takeTrace(int number, int64_t begin) {
        if (std::optional<Taken> greeting = greet())
            return *greeting;
        // An instrument of another maker is read by its trace recipe, if it has one; the
        // rows are searched once, as the identity stays the recording's.
        if (!traceRecipe_)
            traceRecipe_ = settings_.recipes
                               ? trace::TraceRecipeFor(*settings_.recipes, s_.session.instrument(),
                                                       s_.session.lastReply())
                               : nullptr;
        const recipes::Recipe* row = *traceRecipe_;
        const trace::TraceCommandResult result =
            row ? trace::RunTraceRecipe(s_.session, *row, number, settings_.decimalSeparator,
                                        state_, {}, trace::TraceTextUse::Streamed)
                : trace::RunTraceCommand(s_.session, boxes_, number, settings_.decimalSeparator,
                                         state_, {}, trace::TraceTextUse::Streamed);
        if (result.outcome != trace::TraceOutcome::Done)
            return failure(result.status, boxes_.last);
        // Touchstone is built before anything is written: a channel it cannot hold (a real
        // format) is a refused item, with no row in traceN.csv either.
        std::optional<std::string> touchstone;
        if (settings_.touchstone) {
            const trace::TouchstoneChannel channel{&state_.data, number, {}};
            trace::TouchstoneOptions options;
            options.identity = identity_;
            Result<std::string> text = trace::TouchstoneText({&channel, 1}, options);
            if (!text)
                return ended(ItemOutcome::Refused, false, text.error());
            touchstone = std::move(*text);
        }
        RotatingCsv& file = *traces_[number - 1];
        Taken item;
        touchstoneFile_.clear();
        writeTraceRow(begin);
        // The head (the axis above all) is built again only when the trace's settings changed;
        // a changed axis starts a new part, so every file stays one table.
        if (!file.isOpen() || !sameSettings(number))
            traceStatus_ = file.setHead(traceHead(number), begin);
        if (traceStatus_)
            traceStatus_ = file.append(line_, begin);
        item.file = file.currentName();
        item.bytes = static_cast<int64_t>(line_.size());
        if (touchstone && traceStatus_) {
            // One file per acquisition, named by its sequence number as in record.csv.
            const std::string stem =
                "trace" + std::to_string(number) + "-" + std::to_string(sequence_ + 1);
            std::filesystem::path path = settings_.folder / (stem + ".s1p");
            std::error_code ec;
            for (int k = 2; std::filesystem::exists(path, ec); ++k)  // never over a file
                path = settings_.folder / (stem + "-" + std::to_string(k) + ".s1p");
            traceStatus_ = writeOutputFile(path, *touchstone, s_.calls);
            if (!traceStatus_)
                file.dropLastRow();  // no trace row without its record row
            touchstoneFile_ = path;
            item.file += " " + path.filename().string();
            item.bytes += static_cast<int64_t>(touchstone->size());
        }
        return item;
    }

    // Comment lines naming what was recorded, then the stimulus axis row.
    std::string traceHead(int number) const {
        const trace::TraceDataSet& data = state_.data;
        const trace::TraceField& field = state_.field;
        std::string head =
            "# Benchcap trace recording\r\n# instrument: " + bus::OneLine(identity_) + " at GPIB " +
            std::to_string(s_.address) +
            "\r\n# interface: " + bus::OneLine(settings_.interfaceName) + "\r\n# trace " +
            std::to_string(number) + ": " + std::to_string(field.RowCount()) + " points, ";
        if (data.IsSymbolTable)
            head += "symbol table, " + std::to_string(data.BitsPerSymbol) + " bits per symbol";
        else if (data.IsNetworkTrace)
            head += data.IsPairs ? "network trace, complex pairs" : "network trace";
        else
            head += data.IsPairs ? "analyzer trace, pairs" : "analyzer trace";
        head +=
            "\r\n# columns: sequence (as in record.csv), UTC time, seconds since the start, "
            "then the values; the first row holds the stimulus axis\r\n";
        head += "stimulus";
        head += delimiter_;
        head += delimiter_;
        std::array<char, trace::kGeneralTextRoom + 2> cell{};
        const trace::TraceColumn& axis =
            field.columns.empty() ? trace::TraceColumn{} : field.columns[0];
        for (std::size_t r = 0; r < field.RowCount(); ++r) {
            for (std::size_t c = 1; c < field.ColumnCount(); ++c) {
                head += delimiter_;
                if (!axis.HasCell(r))
                    continue;
                char* end =
                    axis.kind == trace::CellKind::Axis
                        ? trace::WriteGeneral(cell.data(), axis.Axis(r), settings_.decimalSeparator)
                        : trace::WriteGeneral(cell.data(), axis.F32(r), settings_.decimalSeparator);
                head.append(cell.data(), end);
            }
        }
        head += "\r\n";
        return head;
    }

    // The row of one acquisition into line_: the time columns, then every value column of
    // the trace table row by row (two columns per point for pairs).
    void writeTraceRow(int64_t begin) {
        const trace::TraceField& field = state_.field;
        line_.clear();
        startRow(line_, sequence_ + 1, begin);
        const std::size_t cells =
            field.RowCount() * (field.ColumnCount() > 0 ? field.ColumnCount() - 1 : 0);
        const std::size_t start = line_.size();
        line_.resize(start + cells * (trace::kMaxGeneralDoubleText + 1) + trace::kGeneralTextRoom +
                     2);
        char* p = line_.data() + start;
        const char sep = settings_.decimalSeparator;
        for (std::size_t r = 0; r < field.RowCount(); ++r) {
            for (std::size_t c = 1; c < field.ColumnCount(); ++c) {
                const trace::TraceColumn& column = field.columns[c];
                *p++ = delimiter_;
                if (!column.HasCell(r))
                    continue;
                switch (column.kind) {
                    case trace::CellKind::F32:
                        p = trace::WriteGeneral(p, column.F32(r), sep);
                        break;
                    case trace::CellKind::Axis:
                        p = trace::WriteGeneral(p, column.Axis(r), sep);
                        break;
                    case trace::CellKind::Bit:
                        *p++ = column.Bit(r) != 0 ? '1' : '0';
                        break;
                }
            }
        }
        *p++ = '\r';
        *p++ = '\n';
        line_.resize(static_cast<std::size_t>(p - line_.data()));
    }

    // A hardcopy name of the automatic kind, in the recording's folder, never one in use.
    std::string hardcopyName(std::string_view extension, int64_t begin) const {
        const int64_t at = s_.wallStartMicros + (begin - start_);
        const std::string stem =
            "HARDCOPY-" + (settings_.stamp ? settings_.stamp(at) : fileStamp(at));
        std::error_code ec;
        for (int n = 1;; ++n) {
            const std::string name =
                stem + (n == 1 ? "" : "-" + std::to_string(n)) + "." + std::string(extension);
            if (!std::filesystem::exists(settings_.folder / name, ec))
                return (settings_.folder / name).string();
        }
    }

    Taken takeHardcopy(int64_t begin) {
        if (std::optional<Taken> greeting = greet())
            return *greeting;
        hardcopy::HardcopyServices services{
            s_.session, hardcopyDrive_, boxes_, [](const std::string&) {},
            [this, begin](std::string_view extension) { return hardcopyName(extension, begin); }};
        services.decimalSeparator = settings_.decimalSeparator;
        services.checkPicture = s_.checkPicture;
        services.recipes = settings_.recipes;
        services.clock = &s_.clock;
        hardcopy::HardcopyOptions options;
        options.format = settings_.hardcopyFormat;
        const hardcopy::HardcopyOutcome outcome = hardcopy::HardcopyByModel(services, options);
        if (!outcome.written)
            return failure(outcome.status, boxes_.last.empty() ? "no picture" : boxes_.last);
        Taken item;
        std::error_code ec;
        item.bytes = static_cast<int64_t>(std::filesystem::file_size(outcome.file, ec));
        item.file = std::filesystem::path(outcome.file).filename().string();
        return item;
    }

    // Whether trace `number` has the layout and axis its file's head was made for; remembers
    // them for the next time.
    bool sameSettings(int number) {
        const trace::TraceDataSet& data = state_.data;
        // Bits, not values: an axis of NaN (a broken answer) is still the same axis.
        AxisKey key{std::bit_cast<uint64_t>(data.axis.start),
                    std::bit_cast<uint64_t>(data.axis.scale),
                    std::bit_cast<uint64_t>(data.axis.divisor),
                    data.axis.count,
                    data.IsPairs,
                    data.IsSymbolTable,
                    data.IsNetworkTrace,
                    data.BitsPerSymbol,
                    data.axis32,
                    state_.field.RowCount()};
        AxisKey& known = axes_[number - 1];
        if (key == known)
            return true;
        known = std::move(key);
        return false;
    }

    struct AxisKey {
        uint64_t start = 0, scale = 0, divisor = 0;
        std::size_t count = 0;
        bool pairs = false, symbols = false, network = false;
        int16_t bits = 0;
        std::vector<float> axis32;
        std::size_t rows = 0;
        bool operator==(const AxisKey&) const = default;
    };

    RecorderServices& s_;
    const RecorderSettings& settings_;
    const char delimiter_;
    const int64_t start_;
    Schedule schedule_;
    RotatingCsv record_;
    std::array<std::optional<RotatingCsv>, kMaxRecordedTraces> traces_;
    UnattendedBoxes boxes_;
    trace::TraceState state_;
    std::string line_;
    std::string identity_;
    std::string hardcopyDrive_;
    std::array<AxisKey, kMaxRecordedTraces> axes_;
    std::filesystem::path touchstoneFile_;  // of the last trace item, if it wrote one
    Status traceStatus_;
    int64_t sequence_ = 0;
    int64_t taken_ = 0;
    bool mayBeLate_ = false;  // the last item ended before its answer came
    // null: read as the model table says
    std::optional<const recipes::Recipe*> traceRecipe_;
};

}  // namespace

RecordingEnd Record(RecorderServices& services, const RecorderSettings& settings) {
    Recording recording(services, settings);
    return recording.run();
}

}  // namespace benchcap::recorder
