#include "trace/trace_command.h"

#include "trace/acquisition.h"
#include "trace/trace_text.h"

namespace benchcap::trace {
namespace {

// Models with only three traces, and the analyzers that have trace commands at all.
constexpr const char* kThreeTraceModels[] = {"KLT", "KLW", "RVFE", "KLB"};
constexpr const char* kAnalyzerModels[] = {"KLT", "KLW", "RVFE", "RVM", "KLB", "KLVZ", "KLRx"};
constexpr const char* kNetworkModel = "NQx";

template <std::size_t N>
bool IsOneOf(const std::string& model, const char* const (&models)[N]) {
    for (const char* m : models) {
        if (model == m) {
            return true;
        }
    }
    return false;
}

}  // namespace

int HighestTraceNumber(const std::string& modelName) {
    return IsOneOf(modelName, kThreeTraceModels) ? 3 : 4;
}

TraceCommandResult RunTraceCommand(bus::Session& session, bus::UserInterface& ui, int traceNumber,
                                   char decimalSeparator, TraceState& state,
                                   const std::function<void(std::string_view)>& status,
                                   TraceTextUse textUse) {
    const auto say = [&status](std::string_view text) {
        if (status) {
            status(text);
        }
    };
    const std::string n = std::to_string(traceNumber);
    const std::string model = session.instrument().ModelName;
    TraceCommandResult result;
    if (traceNumber < 1 || traceNumber > HighestTraceNumber(model)) {
        result.outcome = TraceOutcome::NumberNotSupported;
        result.message = "Trace " + n + " is not supported by the instrument!";
        return result;
    }
    if (!session.instrument().FullSupport) {
        say("trace data not supported.");
        result.outcome = TraceOutcome::NotSupported;
        result.message = "Trace data is not supported for " + model;
        return result;
    }

    say("reading trace...");
    AcquisitionResult read = Acquisition{AcquisitionStatus::NotActive, {}};
    TraceDataSet fresh;
    if (model == kNetworkModel) {
        result.isNetworkTrace = true;
        read = ReadNetworkTrace(session, static_cast<int16_t>(traceNumber), fresh);
    } else if (IsOneOf(model, kAnalyzerModels)) {
        fresh.BitsPerSymbol = state.data.BitsPerSymbol;
        read = ReadAnalyzerTrace(session, ui, static_cast<int16_t>(traceNumber), fresh);
    }
    say("reading finished");
    session.GoToLocal();
    if (!read) {
        result.outcome = TraceOutcome::Failed;
        result.message = read.error();
        result.kind = read.errorKind();
        say("idle");
        return result;
    }
    result.notice = read->notice;

    switch (read->status) {
        case AcquisitionStatus::Read:
            break;
        case AcquisitionStatus::NotActive:
            result.outcome = TraceOutcome::NotActivated;
            result.message = "Trace " + n + " is not activated!";
            say("idle");
            return result;
        case AcquisitionStatus::NotReady:
            // The instrument stopped answering after InitDevice: nothing new to show, and
            // the previous trace must not be passed off as this one.
            result.outcome = TraceOutcome::Failed;
            result.message = "The instrument did not answer; trace " + n + " was not read.";
            say("idle");
            return result;
    }

    state.data = std::move(fresh);
    state.field = GenTraceField(state.data);
    if (textUse == TraceTextUse::InState) {
        state.text = TraceText(state.field, decimalSeparator);
    } else {
        state.text.clear();  // the previous trace's text must not pass for this one's
    }
    state.hasTrace = true;
    result.outcome = TraceOutcome::Done;
    say("idle");
    return result;
}

Status WriteTraceFile(const std::filesystem::path& path, const TraceField& field,
                      char decimalSeparator, const FileCalls& calls) {
    Result<OutputFile> file = OutputFile::create(path, calls);
    if (!file) {
        return Error{file.error()};
    }
    if (Status text =
            WriteTraceText(field, decimalSeparator,
                           [&file](std::string_view piece) { return file->write(piece); });
        !text) {
        return text;
    }
    if (Status end = file->write("\r\n"); !end) {
        return end;
    }
    return file->commit();
}

Status WriteTraceFile(const std::filesystem::path& path, std::string_view traceText) {
    Result<OutputFile> file = OutputFile::create(path);
    if (!file) {
        return Error{file.error()};
    }
    if (Status text = file->write(traceText); !text) {
        return text;
    }
    if (Status end = file->write("\r\n"); !end) {
        return end;
    }
    return file->commit();
}

}  // namespace benchcap::trace
