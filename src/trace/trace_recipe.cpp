#include "trace/trace_recipe.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>

#include "bus/block_header.h"
#include "bus/gpib_driver.h"
#include "bus/identification.h"
#include "bus/step_talk.h"
#include "bus/text.h"
#include "trace/general_number.h"
#include "trace/trace_field.h"
#include "trace/trace_text.h"

namespace benchcap::trace {
namespace {

using recipes::Trace;

constexpr int64_t kPiece = int64_t{256} << 10;

bool isSeparator(char c) {
    return c == ',' || c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ';';
}

// One number as instruments write it ("+1.00000E+006", "-5e-3", "9.91E+37"), or nothing.
std::optional<double> numberOf(std::string_view text) {
    // One sign at most: from_chars takes a '-' but no '+', so a '+' comes off first and no
    // sign may follow it ("+-2" would read as -2).
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && (text.front() == '+' || text.front() == '-'))
            return std::nullopt;
    }
    if (text.empty())
        return std::nullopt;
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

Result<std::vector<float>> decodeAscii(std::string_view payload) {
    std::vector<float> values;
    std::size_t at = 0;
    while (at < payload.size()) {
        if (isSeparator(payload[at])) {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < payload.size() && !isSeparator(payload[end]))
            ++end;
        const std::string_view token = payload.substr(at, end - at);
        const std::optional<double> value = numberOf(token);
        if (!value)
            return fail(ErrorKind::BadData, "value " + std::to_string(values.size() + 1) + " (\"" +
                                                std::string(token.substr(0, 20)) +
                                                "\") is not a number");
        if (values.size() == kMaxRecipeTraceValues)
            return fail(ErrorKind::BadData,
                        "more than " + std::to_string(kMaxRecipeTraceValues) + " values came");
        values.push_back(static_cast<float>(*value));
        at = end;
    }
    return values;
}

template <class T>
std::vector<float> decodeBinary(std::string_view payload, bool bigEndian) {
    using Word = std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>;
    std::vector<float> values(payload.size() / sizeof(T));
    const bool swap = bigEndian != (std::endian::native == std::endian::big);
    for (std::size_t i = 0; i < values.size(); ++i) {
        Word word = 0;
        std::memcpy(&word, payload.data() + i * sizeof(T), sizeof(T));
        if (swap) {
            Word turned = 0;
            for (std::size_t b = 0; b < sizeof(T); ++b, word >>= 8)
                turned = static_cast<Word>((turned << 8) | (word & 0xFF));
            word = turned;
        }
        values[i] = static_cast<float>(std::bit_cast<T>(word));
    }
    return values;
}

// One run: the session, the row, the trace number, and the failure text that names them.
class Run {
  public:
    Run(bus::Session& session, const recipes::Recipe& recipe, int traceNumber)
        : session_(session),
          talk_(session, "recipe " + recipe.name),
          recipe_(recipe),
          trace_(*recipe.trace),
          number_(traceNumber) {}

    Error failed(const std::string& step, ErrorKind kind, const std::string& what) const {
        return talk_.failed(step, kind, what);
    }

    // Sends a command of the row, `{n}` standing for the trace number.
    Status send(const std::string& step, const std::string& command) {
        return talk_.send(step, recipes::withTraceNumber(command, number_));
    }

    // The number an axis query answers.
    Result<double> number(const std::string& step, const std::string& query) {
        const std::string asked = recipes::withTraceNumber(query, number_);
        Result<std::string> reply = talk_.ask(step, asked);
        if (!reply && reply.errorKind() == ErrorKind::TimedOut)
            return failed(
                step, ErrorKind::TimedOut,
                "no answer to " + asked + "; check the query in the recipe, or raise timeout_s");
        if (!reply)
            return failed(step, reply.errorKind(), reply.error());
        const std::optional<double> value = numberOf(*reply);
        if (!value || !std::isfinite(*value))
            return failed(step, ErrorKind::BadData,
                          "the answer \"" + reply->substr(0, 40) + "\" to " + asked +
                              " is not a number; check the query in the recipe");
        return *value;
    }

    // The data answer's payload with the row's framing.
    Result<std::string> payload() {
        std::string bytes;
        if (trace_.framing == recipes::Framing::Block) {
            const Result<int64_t> length = bus::ReadBlockHeader(session_);
            if (!length && length.errorKind() == ErrorKind::TimedOut)
                return failed("data", ErrorKind::TimedOut,
                              "no answer to " + recipes::withTraceNumber(trace_.query, number_) +
                                  " within " + bus::secondsText(recipe_.screen.timeoutSeconds) +
                                  "; check the data query in the recipe, or raise timeout_s");
            if (!length)
                return failed("data", length.errorKind(),
                              "no data block came (" + length.error() +
                                  "); check the data query and framing in the recipe");
            if (static_cast<uint64_t>(*length) > kMaxRecipeTraceBytes)
                return failed("data", ErrorKind::BadData,
                              "the block announces " + std::to_string(*length) +
                                  " bytes, more than a trace holds; check the recipe's format");
            bytes.reserve(static_cast<std::size_t>(*length));
            const Status read = bus::ReadBlockData(session_, *length, kPiece,
                                                   [&bytes](const char* data, std::size_t size) {
                                                       bytes.append(data, size);
                                                       return Status{};
                                                   });
            if (!read)
                return failed("data", read.errorKind(), read.error());
            return bytes;
        }
        const Status read = talk_.readToEnd(
            "data", "data", "check the data query in the recipe, or raise timeout_s", kPiece,
            static_cast<int64_t>(kMaxRecipeTraceBytes),
            [&bytes](const char* data, std::size_t size) {
                bytes.append(data, size);
                return Status{};
            });
        if (!read)
            return read.failure();
        // A final line feed ends an `end` message; it is not part of binary values.
        const std::size_t size = trace_.format == Trace::Format::Real64 ? 8 : 4;
        if (trace_.framing == recipes::Framing::End && !bytes.empty() && bytes.back() == '\n' &&
            (trace_.format == Trace::Format::Ascii || bytes.size() % size == 1))
            bytes.pop_back();
        return bytes;
    }

    // The data set of the trace: prepare, axis, data.
    Result<TraceDataSet> read() {
        for (const std::string& command : trace_.prepare) {
            if (Status sent = send("prepare", command); !sent)
                return sent.failure();
        }
        std::optional<double> start, stop, step;
        for (auto [query, value, name] :
             {std::tuple{&trace_.start, &start, "start"}, std::tuple{&trace_.stop, &stop, "stop"},
              std::tuple{&trace_.step, &step, "step"}}) {
            if (query->empty())
                continue;
            Result<double> got = number(name, *query);
            if (!got)
                return got.failure();
            *value = *got;
        }
        if (Status sent = send("data", trace_.query); !sent)
            return sent.failure();
        Result<std::string> bytes = payload();
        if (!bytes)
            return bytes.failure();
        Result<std::vector<float>> values = DecodeTraceAnswer(*bytes, trace_);
        if (!values)
            return failed("data", ErrorKind::BadData,
                          values.error() + "; check the recipe's format and byte_order");
        if (values->empty())
            return failed("data", ErrorKind::BadData,
                          "the instrument sent no values; check that the trace is on");
        Result<AnalyzerAxis> axis = RecipeAxis(start, stop, step, values->size());
        if (!axis)
            return failed("data", ErrorKind::BadData,
                          axis.error() + "; check the axis queries in the recipe");
        TraceDataSet data;
        data.axis = *axis;
        data.values = std::move(*values);
        return data;
    }

  private:
    bus::Session& session_;
    bus::StepTalk talk_;
    const recipes::Recipe& recipe_;
    const Trace& trace_;
    int number_;
};

}  // namespace

Result<std::vector<float>> DecodeTraceAnswer(std::string_view payload, const Trace& trace) {
    if (payload.size() > kMaxRecipeTraceBytes)
        return fail(ErrorKind::BadData, "the answer holds more than " +
                                            std::to_string(kMaxRecipeTraceBytes >> 20) + " MB");
    if (trace.format == Trace::Format::Ascii)
        return decodeAscii(payload);
    const std::size_t size = trace.format == Trace::Format::Real64 ? 8 : 4;
    if (payload.size() % size != 0)
        return fail(ErrorKind::BadData, "the answer holds " + std::to_string(payload.size()) +
                                            " bytes, not a whole number of " +
                                            std::to_string(size * 8) + "-bit values");
    if (size == 8)
        return decodeBinary<double>(payload, trace.bigEndian);
    return decodeBinary<float>(payload, trace.bigEndian);
}

Result<AnalyzerAxis> RecipeAxis(std::optional<double> start, std::optional<double> stop,
                                std::optional<double> step, std::size_t count) {
    AnalyzerAxis axis;
    axis.count = count;
    if (start && stop)
        axis = {*start, *stop - *start, std::max<double>(1, static_cast<double>(count) - 1), count};
    else if (start && step)
        axis = {*start, *step, 1.0, count};
    else if (start)
        axis = {*start, 1.0, 1.0, count};
    if (!std::isfinite(axis.scale))
        return fail(ErrorKind::BadData, "the stimulus step is too large for a number");
    // One value needs no step; more on one x value would make a table no one can plot.
    if (count > 1 && axis.scale == 0) {
        if (stop)
            return fail(ErrorKind::BadData, "the stimulus starts and stops at the same value (" +
                                                FormatGeneral(*start, '.') + ") for " +
                                                std::to_string(count) + " points");
        return fail(ErrorKind::BadData,
                    "the stimulus step is 0 for " + std::to_string(count) + " points");
    }
    return axis;
}

const recipes::Recipe* TraceRecipeFor(const recipes::RecipeBook& book,
                                      const bus::CurrentInstrument& instrument,
                                      std::string_view idnAnswer, std::string_view forcedName) {
    if (instrument.ModelName != bus::kModelUnknown)
        return nullptr;
    const recipes::Recipe* row =
        forcedName.empty() ? book.match(idnAnswer) : book.named(forcedName);
    return row && row->trace ? row : nullptr;
}

TraceCommandResult RunTraceRecipe(bus::Session& session, const recipes::Recipe& recipe,
                                  int traceNumber, char decimalSeparator, TraceState& state,
                                  const std::function<void(std::string_view)>& status,
                                  TraceTextUse textUse) {
    const auto say = [&status](std::string_view text) {
        if (status)
            status(text);
    };
    TraceCommandResult result;
    const int highest = recipe.trace ? recipe.trace->traces : 0;
    if (traceNumber < 1 || traceNumber > highest) {
        result.outcome = highest ? TraceOutcome::NumberNotSupported : TraceOutcome::NotSupported;
        result.status = highest ? fail(ErrorKind::Usage, "Trace " + std::to_string(traceNumber) +
                                                             " is not supported by the instrument!")
                                : fail(ErrorKind::Refused, "recipe " + recipe.name +
                                                               " has no trace section; add one "
                                                               "(see docs/recipes.md)");
        return result;
    }
    Run run(session, recipe, traceNumber);
    session.OpenDevice();
    if (!session.opened()) {
        result.status =
            run.failed("prepare", session.opened().errorKind(), session.opened().error());
        return result;
    }
    bus::CurrentInstrument& ci = session.instrument();
    // Identification found no family for it, but it answered: the recipe may talk to it.
    ci.IsReady = true;
    session.driver().ibtmo(ci.DeviceHandle, bus::timeoutCodeAtLeast(recipe.screen.timeoutSeconds));
    say("reading trace...");
    Result<TraceDataSet> read = run.read();
    say("reading finished");
    session.driver().ibtmo(ci.DeviceHandle, ci.TimeoutCode);
    session.GoToLocal();
    if (read && session.interrupted())
        read = bus::interruptedError();
    if (!read) {
        result.status = read.failure();
        say("idle");
        return result;
    }
    state.data = std::move(*read);
    state.field = GenTraceField(state.data);
    if (textUse == TraceTextUse::InState)
        state.text = TraceText(state.field, decimalSeparator);
    else
        state.text.clear();  // the previous trace's text must not pass for this one's
    state.hasTrace = true;
    result.outcome = TraceOutcome::Done;
    say("idle");
    return result;
}

}  // namespace benchcap::trace
