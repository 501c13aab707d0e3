#include <array>
#include <chrono>
#include <cmath>
#include <optional>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "bus/identification.h"
#include "bus/model_table.h"
#include "bus/text.h"
#include "cli/cli.h"
#include "cli/command_options.h"
#include "cli/headless_picture.h"
#include "cli/interrupt.h"
#include "hardcopy/picture/picture.h"
#include "recorder/record_files.h"
#include "recorder/recorder.h"
#include "recorder/view/recording_waterfalls.h"
#include "trace/acquisition.h"
#include "trace/trace_command.h"
#include "trace/trace_recipe.h"

namespace benchcap::cli {

namespace {

// "10", "0.5", "90s", "15m", "24h", "2d" as microseconds; nullopt unless positive and at
// most a year.
std::optional<int64_t> parseSeconds(const std::string& text) {
    if (text.empty())
        return std::nullopt;
    double unit = 1;
    std::string number = text;
    switch (text.back()) {
        case 's':
            number.pop_back();
            break;
        case 'm':
            unit = 60;
            number.pop_back();
            break;
        case 'h':
            unit = 3600;
            number.pop_back();
            break;
        case 'd':
            unit = 86400;
            number.pop_back();
            break;
        default:
            break;
    }
    if (number.empty() || number.find_first_not_of("0123456789.") != std::string::npos)
        return std::nullopt;
    char* end = nullptr;
    const double seconds = std::strtod(number.c_str(), &end) * unit;
    if (*end != '\0' || !std::isfinite(seconds) || seconds < 0.001 || seconds > 366 * 86400.0)
        return std::nullopt;
    return static_cast<int64_t>(std::llround(seconds * 1e6));
}

// "4096", "64K", "100M", "2G" as bytes, at least 1 KiB.
std::optional<int64_t> parseBytes(const std::string& text) {
    if (text.empty())
        return std::nullopt;
    int64_t unit = 1;
    std::string number = text;
    const char last = text.back();
    if (last == 'K' || last == 'M' || last == 'G') {
        unit = last == 'K' ? 1024 : last == 'M' ? 1024 * 1024 : 1024LL * 1024 * 1024;
        number.pop_back();
    }
    const std::optional<int> value = parseBoundedInt(number, 1, 1 << 30);
    if (!value || *value * unit < 1024 || *value * unit > (1LL << 40))
        return std::nullopt;
    return *value * unit;
}

// The size of the waterfall pictures written at the end.
constexpr QSize kWaterfallPicture(1200, 800);

struct RecordRequest {
    int address = 0;
    recorder::RecorderSettings settings;
    std::optional<std::string> folder;
    std::optional<std::string> locale;
    std::optional<std::string> config;
};

std::variant<RecordRequest, int> parseRecordRequest(CliContext& context,
                                                    const std::vector<std::string>& args) {
    RecordRequest r;
    std::string addressText;
    std::optional<std::string> hardcopyEvery, duration, count, rotate;
    std::vector<std::string> traces;
    CommandOptions options("record");
    options.argument("ADDRESS", addressText, "the instrument's bus address, 1..30")
        .value("--hardcopy-every", hardcopyEvery, "S", "a hardcopy every S seconds (10, 0.5, 5m)")
        .values("--trace", traces, "N:S", "trace N (1..8) every S seconds; once per trace")
        .value("--duration", duration, "TIME", "end after TIME (3600, 90m, 24h, 2d)")
        .value("--count", count, "N", "end after N items taken")
        .value("-o", r.folder, "FOLDER", "record into FOLDER, not RECORD-<stamp> here")
        .value("--locale", r.locale, "NAME", "the decimal separator of this locale")
        .value("--rotate-at", rotate, "SIZE",
               "continue a CSV file in a new part at SIZE bytes (K, M, G; default 100M)")
        .flag("--touchstone", r.settings.touchstone,
              "each acquisition of a complex channel also as traceN-SEQ.s1p")
        .value("--config", r.config, "DIR", "the folder of your recipes.yaml");
    if (const std::optional<int> done = options.parse(context.out, context.err, args))
        return *done;
    const auto refuse = [&context](const std::string& why) {
        context.err << "benchcap-cli record: " << why << '\n';
        return kExitUsage;
    };
    const std::optional<int> address = addressArgument(context, "record", addressText);
    if (!address)
        return kExitUsage;
    r.address = *address;
    if (hardcopyEvery) {
        const std::optional<int64_t> every = parseSeconds(*hardcopyEvery);
        if (!every)
            return refuse(
                "--hardcopy-every takes seconds from 0.001 to a year (10, 0.5, 5m), not '" +
                *hardcopyEvery + "'");
        r.settings.rows.push_back({0, *every});
    }
    for (const std::string& t : traces) {
        const auto colon = t.find(':');
        const std::optional<int> n =
            colon == std::string::npos
                ? std::nullopt
                : parseBoundedInt(t.substr(0, colon), 1, recorder::kMaxRecordedTraces);
        const std::optional<int64_t> every =
            colon == std::string::npos ? std::nullopt : parseSeconds(t.substr(colon + 1));
        if (!n || !every)
            return refuse(
                "--trace takes N:S, a trace 1..8 and its interval in seconds (1:10, "
                "2:0.5, 3:5m), not '" +
                t + "'");
        for (const recorder::ScheduleRow& row : r.settings.rows) {
            if (row.trace == *n)
                return refuse("--trace " + std::to_string(*n) +
                              " is given twice; give each trace once");
        }
        r.settings.rows.push_back({*n, *every});
    }
    if (r.settings.rows.empty())
        return refuse("nothing to record: give --hardcopy-every S or --trace N:S");
    if (duration && count)
        return refuse("--duration and --count both end the recording; give one of them");
    if (duration) {
        r.settings.durationMicros = parseSeconds(*duration);
        if (!r.settings.durationMicros)
            return refuse("--duration takes a time up to a year (3600, 90m, 24h, 2d), not '" +
                          *duration + "'");
    }
    if (count) {
        const std::optional<int> n = parseBoundedInt(*count, 1, 2'000'000'000);
        if (!n)
            return refuse("--count takes a whole number of items from 1, not '" + *count + "'");
        r.settings.count = *n;
    }
    if (rotate) {
        const std::optional<int64_t> bytes = parseBytes(*rotate);
        if (!bytes)
            return refuse("--rotate-at takes a size from 1K to 1024G (4096, 64K, 100M), not '" +
                          *rotate + "'");
        r.settings.rotateBytes = *bytes;
    }
    if (r.folder && r.folder->empty())
        return refuse("-o needs a folder name");
    return r;
}

// One line when an item's outcome changes (the instrument went away, came back), not one
// per row, naming the item's row in record.csv and its time there.
class OutcomePrinter {
  public:
    explicit OutcomePrinter(std::ostream& err) : err_(err) {}
    void operator()(const recorder::RecorderProgress& p) {
        recorder::ItemOutcome& last = last_[static_cast<std::size_t>(p.lastTrace)];
        if (p.lastOutcome == last)
            return;
        last = p.lastOutcome;
        std::string at;
        recorder::appendSeconds(at, p.rowMicros, '.');
        err_ << "benchcap-cli record: row " << p.row << " at " << at << " s, "
             << (p.lastTrace == 0 ? std::string("hardcopy")
                                  : "trace " + std::to_string(p.lastTrace))
             << ": " << recorder::outcomeText(p.lastOutcome);
        if (!p.lastMessage.empty())
            err_ << " (" << p.lastMessage << ')';
        err_ << '\n';
    }

  private:
    std::ostream& err_;
    std::array<recorder::ItemOutcome, recorder::kMaxRecordedTraces + 1> last_{};
};

// Why a trace row of the request cannot give rows but refused ones, or nothing: a model
// without trace readout, an instrument neither the model table nor a recipe reads traces
// of, a trace number beyond the instrument's.
std::optional<std::string> traceRowProblem(CliInstrument& device, const recipes::RecipeBook& book,
                                           const RecordRequest& r) {
    const std::string& model = device.instrument.ModelName;
    const bus::ModelFamily* family = bus::familyNamed(model);
    const recipes::Recipe* recipe =
        trace::TraceRecipeFor(book, device.instrument, device.session.lastReply());
    const int highest =
        recipe && recipe->trace ? recipe->trace->traces : trace::HighestTraceNumber(model);
    const std::string at = " at GPIB " + std::to_string(r.address);
    for (const recorder::ScheduleRow& row : r.settings.rows) {
        if (row.trace == 0)
            continue;
        if (family && family->traces == bus::TraceReadout::None)
            return "the " + model + at + " gives no trace data";
        if (!family && !recipe)
            return "the instrument" + at + " (" +
                   bus::OneLine(trace::CutAnswer(device.session.lastReply())) +
                   ") is not one Benchcap reads traces of, and no recipe has a trace section "
                   "for it; write one (docs/recipes.md) and name its folder with --config DIR";
        if (row.trace > highest)
            return "the " + model + at + " has no trace " + std::to_string(row.trace);
    }
    return std::nullopt;
}

}  // namespace

// Hardcopies and traces on a schedule into one folder of CSV files and pictures, until the
// duration or count ends it (exit 0) or a signal stops it (128 + the signal, from main).
int cmdRecord(CliContext& context, const std::vector<std::string>& args) {
    std::variant<RecordRequest, int> parsed = parseRecordRequest(context, args);
    if (const int* done = std::get_if<int>(&parsed))
        return *done;
    RecordRequest& r = std::get<RecordRequest>(parsed);
    const std::optional<char> separator = chosenDecimalSeparator(context, "record", r.locale);
    if (!separator)
        return kExitUsage;
    r.settings.decimalSeparator = *separator;
    r.settings.interfaceName =
        context.interfaceChoice().empty() ? "library" : context.interfaceChoice();
    // Instruments of other makers give their pictures and traces by recipe.
    const std::optional<recipes::RecipeBook> book = loadRecipes(context, "record", r.config);
    if (!book)
        return kExitUsage;
    r.settings.recipes = &*book;
    const int64_t wallStart = std::chrono::duration_cast<std::chrono::microseconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count();
    // The folder before the instrument: a folder that is refused is said before the bus is
    // asked anything; one made here goes again when the instrument gives no recording.
    std::error_code ec;
    const bool folderWasThere = r.folder && std::filesystem::exists(*r.folder, ec);
    Result<std::filesystem::path> folder =
        r.folder ? recorder::makeRecordFolder(*r.folder, true)
                 : recorder::makeRecordFolder("RECORD-" + recorder::fileStamp(wallStart), false);
    if (!folder) {
        context.err << "benchcap-cli record: " << folder.error() << '\n';
        return folder.errorKind() == ErrorKind::Usage ? kExitUsage : kExitNoAnswer;
    }
    const auto noRecording = [&](int code) {
        if (!folderWasThere)
            std::filesystem::remove(*folder, ec);  // only when still empty
        return code;
    };
    const std::unique_ptr<CliInstrument> device = openInstrument(context, r.address);
    if (!device)
        return noRecording(kExitUsage);
    const std::string& model = device->instrument.ModelName;
    if (model == bus::kModelNoAnswer) {
        context.err << "No device was found on GPIB " << r.address << '\n';
        return noRecording(kExitNoAnswer);
    }
    if (const std::optional<std::string> why = traceRowProblem(*device, *book, r)) {
        context.err << "benchcap-cli record: " << *why << '\n';
        return noRecording(kExitUsage);
    }
    r.settings.folder = *folder;
    context.out << "recording into " << folder->string() << '\n' << std::flush;

    OutcomePrinter printer(context.err);
    recorder::RecordingWaterfalls waterfalls;
    recorder::RecorderServices services{device->session, context.clock()};
    services.board = 0;
    services.address = static_cast<int16_t>(r.address);
    services.wallStartMicros = wallStart;
    services.stopRequested = interruptRequested;
    services.progress = [&printer, &waterfalls](const recorder::RecorderProgress& p) {
        printer(p);
        waterfalls.take(p);
    };
    services.checkPicture = picture::checkPictureFile;
    const recorder::RecordingEnd end = recorder::Record(services, r.settings);
    // The waterfall pictures go beside the CSV files however the recording ended; the rows
    // are complete without them.
    Status pictures;
    if (!waterfalls.empty()) {
        // Fonts for the labels: a GUI application only when there is something to draw.
        const HeadlessGui gui;
        pictures = waterfalls.save(*folder, kWaterfallPicture, trace::DefaultPlotStyle());
    }
    if (!pictures)
        context.err << "benchcap-cli record: the waterfall picture was not written: "
                    << pictures.error() << '\n';
    context.out << "recorded " << end.rows << " rows into " << folder->string();
    switch (end.reason) {
        case recorder::RecordingEndReason::Stopped:
            context.out << " (stopped)\n";
            return kExitNoAnswer;  // main turns a signal's stop into 128 + the signal
        case recorder::RecordingEndReason::Duration:
            context.out << " (duration reached)\n";
            return pictures ? kExitDone : kExitNoAnswer;
        case recorder::RecordingEndReason::Count:
            context.out << " (count reached)\n";
            return pictures ? kExitDone : kExitNoAnswer;
        case recorder::RecordingEndReason::Failed:
            context.out << " (failed)\n";
            context.err << "benchcap-cli record: " << end.status.error() << '\n';
            return kExitNoAnswer;
    }
    return kExitNoAnswer;
}

}  // namespace benchcap::cli
