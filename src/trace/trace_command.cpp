#include "trace/trace_command.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

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
                                   const std::function<void(std::string_view)>& status) {
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
    AcquisitionResult read{AcquisitionStatus::NotActive, {}, {}};
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
    result.notice = read.notice;

    switch (read.status) {
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
        case AcquisitionStatus::Failed:
            result.outcome = TraceOutcome::Failed;
            result.message = read.error;
            say("idle");
            return result;
    }

    state.data = std::move(fresh);
    state.field = GenTraceField(state.data);
    state.text = TraceText(state.field, decimalSeparator);
    state.hasTrace = true;
    result.outcome = TraceOutcome::Done;
    say("idle");
    return result;
}

std::string WriteTraceFile(const std::string& path, std::string_view traceText) {
    namespace fs = std::filesystem;
    const fs::path target(path);
    fs::path temporary = target;
    temporary += ".part";
    const std::string content = TraceFileContent(traceText);

    const auto failure = [&path](const char* what, int error) {
        return "Cannot write the trace file " + path + ": " + what + " (" + std::strerror(error) +
               ").";
    };
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) {
        return failure("the file cannot be created", errno);
    }
    const std::size_t written = std::fwrite(content.data(), 1, content.size(), file);
    const int writeError = errno;
    const bool flushed = std::fflush(file) == 0;
    const int flushError = errno;
    const bool closed = std::fclose(file) == 0;
    const int closeError = errno;
    if (written != content.size() || !flushed || !closed) {
        std::remove(temporary.c_str());
        return failure("writing failed", written != content.size() ? writeError
                                         : !flushed                ? flushError
                                                                   : closeError);
    }
    std::error_code ec;
    fs::rename(temporary, target, ec);
    if (ec) {
        std::remove(temporary.c_str());
        return "Cannot write the trace file " + path + ": " + ec.message() + ".";
    }
    return {};
}

}  // namespace benchcap::trace
