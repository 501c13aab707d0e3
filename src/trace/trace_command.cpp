#include "trace/trace_command.h"

#include "bus/model_table.h"
#include "trace/acquisition.h"
#include "trace/trace_text.h"

namespace benchcap::trace {
int HighestTraceNumber(const std::string& modelName) {
    const bus::ModelFamily* family = bus::familyNamed(modelName);
    return family ? family->traceCount : 4;
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
        result.status =
            fail(ErrorKind::Usage, "Trace " + n + " is not supported by the instrument!");
        return result;
    }
    if (!session.instrument().FullSupport) {
        say("trace data not supported.");
        result.outcome = TraceOutcome::NotSupported;
        result.status = fail(ErrorKind::Refused, "Trace data is not supported for " + model);
        return result;
    }

    say("reading trace...");
    AcquisitionResult read = Acquisition{AcquisitionStatus::NotActive, {}};
    TraceDataSet fresh;
    const bus::ModelFamily* family = bus::familyNamed(model);
    const bus::TraceReadout readout = family ? family->traces : bus::TraceReadout::None;
    if (readout == bus::TraceReadout::Network) {
        result.isNetworkTrace = true;
        read = ReadNetworkTrace(session, static_cast<int16_t>(traceNumber), fresh);
    } else if (readout == bus::TraceReadout::Analyzer) {
        fresh.BitsPerSymbol = state.data.BitsPerSymbol;
        read = ReadAnalyzerTrace(session, ui, static_cast<int16_t>(traceNumber), fresh);
    }
    say("reading finished");
    session.GoToLocal();
    if (!read) {
        result.outcome = TraceOutcome::Failed;
        result.status = read.failure();
        say("idle");
        return result;
    }
    result.notice = read->notice;

    switch (read->status) {
        case AcquisitionStatus::Read:
            break;
        case AcquisitionStatus::NotActive:
            result.outcome = TraceOutcome::NotActivated;
            result.status = fail(ErrorKind::Refused, "Trace " + n + " is not activated!");
            say("idle");
            return result;
        case AcquisitionStatus::NotReady:
            // The instrument stopped answering after InitDevice: nothing new to show, and
            // the previous trace must not be passed off as this one.
            result.outcome = TraceOutcome::Failed;
            result.status = fail(ErrorKind::TimedOut,
                                 "The instrument did not answer; trace " + n + " was not read.");
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
        return file.failure();
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
        return file.failure();
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
