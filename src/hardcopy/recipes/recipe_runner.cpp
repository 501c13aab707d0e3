#include "hardcopy/recipes/recipe_runner.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <optional>
#include <utility>

#include "base/output_file.h"
#include "bus/block_header.h"
#include "bus/gpib_driver.h"
#include "bus/step_talk.h"
#include "bus/text.h"
#include "hardcopy/block_transfer.h"

namespace benchcap::recipes {
namespace {

namespace sta = bus::ibsta_bits;

constexpr int64_t kPiece = int64_t{256} << 10;
constexpr int64_t kPollPauseMicros = 200'000;
constexpr int64_t kDelaySliceMicros = 100'000;

std::string hexHead(std::string_view bytes) {
    std::string out;
    char hex[4];
    for (std::size_t i = 0; i < std::min<std::size_t>(bytes.size(), kPictureMagicBytes); ++i) {
        std::snprintf(hex, sizeof hex, "%s%02X", i ? " " : "",
                      static_cast<unsigned char>(bytes[i]));
        out += hex;
    }
    return out.empty() ? "nothing" : out;
}

// One run: the session, the row, and the failure text that names both.
class Run {
  public:
    Run(bus::Session& session, const Recipe& recipe, const RunOptions& options, bus::Clock& clock)
        : session_(session),
          talk_(session, "recipe " + recipe.name),
          recipe_(recipe),
          options_(options),
          clock_(clock) {}

    Error failed(const std::string& step, ErrorKind kind, const std::string& what) const {
        return talk_.failed(step, kind, what);
    }
    Status send(const std::string& step, const std::string& command) {
        return talk_.send(step, command);
    }
    // One short answer; the failure is the bare cause, for the caller to phrase.
    Result<std::string> answer(const std::string& step, const std::string& query) {
        return talk_.ask(step, query);
    }

    Status pause(int64_t micros) {
        for (int64_t left = micros; left > 0; left -= kDelaySliceMicros) {
            if (session_.interrupted())
                return bus::interruptedError();
            clock_.sleepMicros(std::min(left, kDelaySliceMicros));
        }
        return {};
    }

    Status wait() {
        const Wait& w = recipe_.screen.wait;
        const double limit = recipe_.screen.timeoutSeconds;
        switch (w.kind) {
            case Wait::Kind::None:
                return {};
            case Wait::Kind::Delay:
                return pause(std::llround(w.delaySeconds * 1e6));
            case Wait::Kind::Opc: {
                Result<std::string> done = answer("wait", "*OPC?");
                if (!done && done.errorKind() == ErrorKind::TimedOut)
                    return failed("wait", ErrorKind::TimedOut,
                                  "the instrument did not complete within " +
                                      bus::secondsText(limit) +
                                      " (no answer to *OPC?); check it for an error message, "
                                      "or raise timeout_s");
                if (!done)
                    return failed("wait", done.errorKind(), "*OPC? failed: " + done.error());
                return {};
            }
            case Wait::Kind::Poll: {
                const int64_t deadline = clock_.nowMicros() + std::llround(limit * 1e6);
                std::string last = "no answer";
                while (true) {
                    Result<std::string> reply = answer("wait", w.query);
                    if (reply && w.until.search(*reply))
                        return {};
                    if (!reply && reply.errorKind() != ErrorKind::TimedOut)
                        return failed("wait", reply.errorKind(),
                                      w.query + " failed: " + reply.error());
                    last = reply ? "\"" + *reply + "\"" : "no answer";
                    if (clock_.nowMicros() + kPollPauseMicros > deadline)
                        break;
                    if (Status paused = pause(kPollPauseMicros); !paused)
                        return paused;
                }
                return failed("wait", ErrorKind::TimedOut,
                              "the answer to " + w.query + " did not match '" + w.until.text() +
                                  "' within " + bus::secondsText(limit) + " (last: " + last +
                                  "); check the instrument, or raise timeout_s");
            }
        }
        return {};
    }

    // Reads the picture with the row's framing into `out`, keeping its first bytes.
    Status fetch(OutputFile& out) {
        auto sink = [this, &out](const char* data, std::size_t size) {
            if (head_.size() < kPictureMagicBytes)
                head_.append(data, std::min(size, kPictureMagicBytes - head_.size()));
            return out.write(data, size);
        };
        if (recipe_.screen.framing == Framing::Block) {
            const Result<int64_t> length = bus::ReadBlockHeader(session_);
            if (!length)
                return failed("fetch", length.errorKind(),
                              "no picture block came: " + length.error());
            if (*length == 0)
                return failed("fetch", ErrorKind::BadData, "the instrument sent an empty block");
            const Status read = bus::ReadBlockData(session_, *length, kPiece, sink);
            if (!read)
                return failed("fetch", read.errorKind(), read.error());
            return {};
        }
        // Up to END: the last byte is held back, as a final line feed of `end` framing is
        // the message's end, not the picture's.
        std::optional<char> held;
        const Status read = talk_.readToEnd("fetch", "picture", "", kPiece, kMaxStreamedPicture,
                                            [&](const char* data, std::size_t size) -> Status {
                                                if (held) {
                                                    if (Status w = sink(&*held, 1); !w)
                                                        return w;
                                                }
                                                if (Status w = sink(data, size - 1); !w)
                                                    return w;
                                                held = data[size - 1];
                                                return {};
                                            });
        if (!read)
            return read;
        if (held && !(recipe_.screen.framing == Framing::End && *held == '\n')) {
            if (Status w = sink(&*held, 1); !w)
                return failed("fetch", ErrorKind::File, w.error());
        }
        return {};
    }

    Status picture(const std::filesystem::path& localFile, OutputFile*& done,
                   std::optional<OutputFile>& holder) {
        const Screen& s = recipe_.screen;
        for (const std::string& command : s.prepare) {
            if (Status sent = send("prepare", command); !sent)
                return sent;
        }
        const bool byFile = s.fetch.kind == Fetch::Kind::File;
        if (byFile) {
            if (Status sent = send("produce", s.produce); !sent)
                return sent;
        }
        if (Status waited = wait(); !waited)
            return waited;
        if (byFile && !s.fetch.save.empty()) {
            if (Status sent = send("save", s.fetch.save); !sent)
                return sent;
        }
        Result<OutputFile> out = OutputFile::create(localFile);
        if (!out)
            return failed("fetch", out.errorKind(), out.error());
        holder.emplace(std::move(*out));
        if (Status sent = send(byFile ? "fetch" : "produce", byFile ? s.fetch.read : s.produce);
            !sent)
            return sent;
        const Status fetched = fetch(*holder);
        if (byFile && !s.fetch.remove.empty()) {
            // The file is deleted even when its read failed, so it does not pile up.
            if (Status sent = send("delete", s.fetch.remove); !sent && fetched)
                return sent;
        }
        if (!fetched)
            return fetched;
        const std::optional<PictureType> type = pictureTypeOf(head_);
        if (type != s.format) {
            return failed("fetch", ErrorKind::BadData,
                          "the instrument sent " +
                              (type ? "a " + std::string(pictureTypeName(*type)) + " picture"
                                    : "no known picture (first bytes " + hexHead(head_) + ")") +
                              " where the recipe expects " +
                              std::string(pictureTypeName(s.format)) +
                              "; check the recipe's format and its produce command");
        }
        if (options_.check) {
            if (Status ok = hardcopy::checkAsTarget(options_.check, *holder); !ok)
                return failed("fetch", ErrorKind::BadData, "the picture is refused: " + ok.error());
        }
        done = &*holder;
        return {};
    }

    Status restore() {
        Status first;
        for (const std::string& command : recipe_.screen.restore) {
            session_.WriteDevice(command);
            if ((session_.driver().status().ibsta & sta::ERR) && first)
                first = failed("restore", ErrorKind::BusError,
                               "the instrument did not take \"" + command + "\" (" +
                                   bus::driverErrorText(session_.driver()) +
                                   "); its settings may be left changed");
        }
        return first;
    }

  private:
    bus::Session& session_;
    bus::StepTalk talk_;
    const Recipe& recipe_;
    const RunOptions& options_;
    bus::Clock& clock_;
    std::string head_;
};

}  // namespace

Result<int64_t> RunScreenRecipe(bus::Session& session, const Recipe& recipe,
                                const std::filesystem::path& localFile, const RunOptions& options) {
    bus::RealClock realClock;
    Run run(session, recipe, options, options.clock ? *options.clock : realClock);
    session.OpenDevice();
    if (!session.opened())
        return run.failed("prepare", session.opened().errorKind(), session.opened().error());
    bus::CurrentInstrument& ci = session.instrument();
    // Identification found no family for it, but it answered: the recipe may talk to it.
    ci.IsReady = true;
    session.driver().ibtmo(ci.DeviceHandle, bus::timeoutCodeAtLeast(recipe.screen.timeoutSeconds));

    std::optional<OutputFile> holder;
    OutputFile* done = nullptr;
    const Status taken = run.picture(localFile, done, holder);
    const Status restored = run.restore();
    session.driver().ibtmo(ci.DeviceHandle, ci.TimeoutCode);
    if (!taken)
        return taken.failure();
    if (!restored)
        return restored.failure();
    if (session.interrupted())
        return bus::interruptedError();
    const auto size = static_cast<int64_t>(done->bytesWritten());
    if (Status committed = done->commit(); !committed)
        return run.failed("fetch", ErrorKind::File, committed.error());
    return size;
}

}  // namespace benchcap::recipes
