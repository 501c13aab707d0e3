#include "bus/step_talk.h"

#include <algorithm>
#include <cstdio>

#include "bus/gpib_driver.h"
#include "bus/identification.h"
#include "bus/text.h"

namespace benchcap::bus {

namespace sta = ibsta_bits;

std::string secondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", seconds);
    return text;
}

Error StepTalk::failed(const std::string& step, ErrorKind kind, const std::string& what) const {
    if (kind == ErrorKind::Interrupted)
        return interruptedError();
    return fail(kind, subject_ + ", step " + step + ": " + endSentence(what));
}

Status StepTalk::send(const std::string& step, const std::string& command) {
    if (session_.interrupted())
        return interruptedError();
    session_.WriteDevice(command);
    if (session_.driver().status().ibsta & sta::ERR)
        return failed(step, ErrorKind::BusError,
                      "the instrument did not take \"" + command + "\" (" +
                          driverErrorText(session_.driver()) +
                          "); check that it is on and listening");
    return {};
}

Result<std::string> StepTalk::ask(const std::string& step, const std::string& query) {
    if (Status sent = send(step, query); !sent)
        return sent.failure();
    std::string reply(kReplyLength, '\0');
    const int status = session_.ReadBlock(reply.data(), static_cast<long>(reply.size()));
    if (status & sta::TIMO)
        return fail(ErrorKind::TimedOut, "no answer");
    if (status & sta::ERR)
        return fail(ErrorKind::BusError, driverErrorText(session_.driver()));
    if (status == 0)
        return fail(ErrorKind::NotReachable, "the read did not reach the bus");
    reply.resize(static_cast<std::size_t>(std::max<int32_t>(0, session_.driver().status().ibcntl)));
    while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r'))
        reply.pop_back();
    return std::string(TrimBlanks(reply));
}

Status StepTalk::readToEnd(const std::string& step, const std::string& what,
                           const std::string& hint, int64_t piece, int64_t limit,
                           const Sink& sink) {
    std::string buffer(static_cast<std::size_t>(piece), '\0');
    int64_t got = 0;
    while (true) {
        if (session_.interrupted())
            return interruptedError();
        const int status = session_.ReadBlock(buffer.data(), static_cast<long>(buffer.size()));
        const int32_t count = std::max<int32_t>(0, session_.driver().status().ibcntl);
        if (count > 0) {
            if (Status taken = sink(buffer.data(), static_cast<std::size_t>(count)); !taken)
                return failed(step, ErrorKind::File, taken.error());
            got += count;
        }
        if (status & (sta::TIMO | sta::ERR)) {
            const std::string cause = (status & sta::TIMO) ? "the instrument went silent"
                                                           : driverErrorText(session_.driver());
            if (got == 0)
                return failed(
                    step, (status & sta::TIMO) ? ErrorKind::TimedOut : ErrorKind::BusError,
                    "no " + what + " came (" + cause + ")" + (hint.empty() ? "" : "; " + hint));
            return failed(step, ErrorKind::BadData,
                          "the " + what + " broke off after " + std::to_string(got) + " bytes (" +
                              cause + " before END)");
        }
        if (got > limit)
            return failed(step, ErrorKind::BadData,
                          "more than " + std::to_string(limit >> 20) +
                              " MB came without END; check the recipe's framing");
        if (status & sta::END)
            return {};
        if (status == 0)
            return failed(step, ErrorKind::NotReachable, "the read did not reach the bus");
    }
}

}  // namespace benchcap::bus
