#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "bus/session.h"

namespace benchcap::bus {

// An instrument talked to one named step at a time (a recipe's prepare, wait, fetch ...),
// every failure naming who asked and the step: "recipe NAME, step fetch: ...". A stop
// request is the plain interruption, never a fault of the step.
class StepTalk {
  public:
    StepTalk(Session& session, std::string subject)
        : session_(session), subject_(std::move(subject)) {}

    Error failed(const std::string& step, ErrorKind kind, const std::string& what) const;

    // Sends `command`; a bus that does not take it fails the step.
    Status send(const std::string& step, const std::string& command);

    // Sends `query` and reads one short answer (up to kReplyLength bytes), line end and
    // blanks removed. The failure is the bare cause (TimedOut: "no answer"), for the caller
    // to phrase.
    Result<std::string> ask(const std::string& step, const std::string& query);

    // Reads one message up to END in pieces of `piece` bytes into `sink`, at most `limit`
    // bytes. `what` names the bytes in the failures ("picture", "data"); `hint`, when given,
    // says what to check when nothing came.
    using Sink = std::function<Status(const char* data, std::size_t size)>;
    Status readToEnd(const std::string& step, const std::string& what, const std::string& hint,
                     int64_t piece, int64_t limit, const Sink& sink);

    Session& session() { return session_; }

  private:
    Session& session_;
    std::string subject_;
};

// "2 s", "0.5 s": a time-out as the messages give it.
std::string secondsText(double seconds);

}  // namespace benchcap::bus
