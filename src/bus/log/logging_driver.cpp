#include "bus/log/logging_driver.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bus/log/bus_log_format.h"

namespace benchcap::bus::log {

LoggingDriver::LoggingDriver(std::unique_ptr<GpibDriver> inner, std::shared_ptr<Clock> clock)
    : inner_(std::move(inner)), clock_(std::move(clock)) {
    // The inner driver's waits ask this driver's stop request, whoever sets it.
    inner_->setInterruptCheck([this] { return interruptRequested(); });
    inner_->setProgressSink([this](int64_t done, int64_t total) { reportProgress(done, total); });
}

LoggingDriver::~LoggingDriver() {
    stop();
}

Status LoggingDriver::start(const std::string& file, bool fullData, const std::string& interface) {
    stop();
    // Opened without blocking: a named pipe that nobody reads would hold open() for ever.
    // Writes block again afterwards, so a slow reader slows the run instead of losing lines.
    const int fd =
        ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0 && errno == ENXIO) {
        return fail("cannot write the bus log " + file +
                    ": it is a pipe that no program reads; start the reader first");
    }
    std::FILE* f = nullptr;
    if (fd >= 0 && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0)
        f = ::fdopen(fd, "w");
    if (!f) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        return fail("cannot write the bus log " + file + ": " + std::strerror(error) +
                    "; choose a folder you may write to");
    }
    file_ = f;
    path_ = file;
    problem_.clear();
    fullData_ = fullData;
    calls_ = 0;
    std::fprintf(file_, "%s\n# interface %s\n# data %s\n", kLogHeader, interface.c_str(),
                 fullData ? "full" : "blocks over 4096 bytes shortened");
    if (std::fflush(file_) != 0) {
        problem_ = std::strerror(errno);
        stop();
    }
    return {};
}

// Not an NI-488.2 call: written as a comment, so the log shows it and a replay passes over it.
Status LoggingDriver::setListenOnly(bool on) {
    Status done = inner_->setListenOnly(on);
    if (file_) {
        std::fprintf(file_, "# listen-only %s%s%s\n", on ? "on" : "off", done ? "" : ": ",
                     done ? "" : escapeBytes(done.error()).c_str());
        std::fflush(file_);
    }
    return done;
}

void LoggingDriver::stop() {
    if (!file_)
        return;
    if (std::fclose(file_) != 0 && problem_.empty())
        problem_ = std::strerror(errno);
    file_ = nullptr;
}

std::string LoggingDriver::summaryLine() const {
    if (path_.empty())
        return {};
    if (!problem_.empty())
        return "bus log " + path_ + " is incomplete: " + problem_ +
               "; the calls after that are not in it (make room on its disk or choose another "
               "file, and run again)";
    return "bus log written to " + path_ + " (" + std::to_string(calls_) + " calls)";
}

void LoggingDriver::head(int64_t started, const char* call, int ud) {
    ++calls_;
    std::fprintf(file_, "t=%lld dt=%lld %s", static_cast<long long>(started),
                 static_cast<long long>(clock_->nowMicros() - started), call);
    if (ud == -1)
        return;  // a call without a handle
    std::fprintf(file_, " ud=%d", ud);
    if (auto h = handles_.find(ud); h != handles_.end()) {
        if (h->second.pad < 0)
            std::fprintf(file_, " dev=%d", h->second.board);
        else if (h->second.sad)
            std::fprintf(file_, " dev=%d/%d/%d", h->second.board, h->second.pad, h->second.sad);
        else
            std::fprintf(file_, " dev=%d/%d", h->second.board, h->second.pad);
    }
}

void LoggingDriver::end(int result, const char* value) {
    const DriverStatus s = inner_->status();
    std::fprintf(file_, " -> ret=%d sta=%s err=%s cnt=%ld", result, staNames(s.ibsta).c_str(),
                 errName(s.iberr, s.ibsta).c_str(), static_cast<long>(s.ibcntl));
    if (value)
        std::fprintf(file_, " value=%s", value);
}

namespace {
// Closes a line and flushes it; a failed write ends the log with the reason kept.
bool finishLine(std::FILE* file, const char* tail, std::string& problem) {
    std::fputs(tail, file);
    std::fputc('\n', file);
    if (std::fflush(file) != 0 || std::ferror(file)) {
        problem = std::strerror(errno);
        return false;
    }
    return true;
}

// The status word as NI-488.2 returns it: its 16 bits, never negative. A backend that hands
// back its 16-bit ibsta sign-extended (ERR is the top bit) would otherwise be logged, and
// replayed, with another value than one that does not.
int statusWord(int result) {
    return result & 0xffff;
}
}  // namespace

#define BENCHCAP_LOG_CALL(call, ud, expression, ...) \
    if (!file_)                                      \
        return statusWord(expression);               \
    const int64_t started = clock_->nowMicros();     \
    const int result = statusWord(expression);       \
    head(started, call, ud);                         \
    __VA_ARGS__;                                     \
    if (!finishLine(file_, "", problem_))            \
        stop();                                      \
    return result

// The handle table is kept while the log is off too: a log switched on mid-session (the
// window's "Bus log...") still names the device behind each handle opened before.
int LoggingDriver::ibdev(int board, int pad, int sad, int tmo, int eot, int eos) {
    const int64_t started = file_ ? clock_->nowMicros() : 0;
    const int ud = inner_->ibdev(board, pad, sad, tmo, eot, eos);
    if (ud >= 0)
        handles_[ud] = Address{board, pad, sad};
    if (!file_)
        return ud;
    head(started, "ibdev", -1);
    std::fprintf(file_, " board=%d pad=%d sad=%d tmo=%d eot=%d eos=%d", board, pad, sad, tmo, eot,
                 eos);
    end(ud);
    if (!finishLine(file_, "", problem_))
        stop();
    return ud;
}

int LoggingDriver::ibfind(const std::string& name) {
    const int64_t started = file_ ? clock_->nowMicros() : 0;
    const int ud = inner_->ibfind(name);
    if (ud >= 0) {
        // "GPIB1" or "gpib1": the board's number follows the letters.
        const size_t digits = name.find_first_of("0123456789");
        const int board = digits == std::string::npos ? 0 : std::atoi(name.c_str() + digits);
        handles_[ud] = Address{board, -1, 0};
    }
    if (!file_)
        return ud;
    head(started, "ibfind", -1);
    std::fprintf(file_, " name=\"%s\"", escapeBytes(name).c_str());
    end(ud);
    if (!finishLine(file_, "", problem_))
        stop();
    return ud;
}

int LoggingDriver::ibwrt(int ud, const void* data, long count) {
    BENCHCAP_LOG_CALL("ibwrt", ud, inner_->ibwrt(ud, data, count),
                      std::fprintf(file_, " count=%ld", count);
                      writeData(file_,
                                std::string_view(static_cast<const char*>(data),
                                                 count > 0 ? static_cast<size_t>(count) : 0),
                                fullData_);
                      end(result));
}

int LoggingDriver::ibrd(int ud, void* buffer, long count) {
    BENCHCAP_LOG_CALL(
        "ibrd", ud, inner_->ibrd(ud, buffer, count), std::fprintf(file_, " count=%ld", count);
        end(result); const long got = std::clamp<long>(status().ibcntl, 0, std::max(count, 0L));
        writeData(file_,
                  std::string_view(static_cast<const char*>(buffer), static_cast<size_t>(got)),
                  fullData_));
}

void LoggingDriver::fileData(const std::string& fileName) {
    // What ibrdf put in the file, read back in pieces: the answer can be megabytes.
    std::FILE* in = std::fopen(fileName.c_str(), "rb");
    std::vector<char> chunk(64 * 1024);
    std::string head, tail;
    Sha256 hash;
    size_t size = 0;
    bool inline_ = fullData_;
    if (in && !inline_) {
        // Small enough to show whole?
        std::fseek(in, 0, SEEK_END);
        const long length = std::ftell(in);
        std::fseek(in, 0, SEEK_SET);
        inline_ = length >= 0 && static_cast<size_t>(length) <= kShortBlock;
    }
    if (inline_)
        std::fputs(" data=\"", file_);
    while (in) {
        const size_t n = std::fread(chunk.data(), 1, chunk.size(), in);
        if (n == 0)
            break;
        const std::string_view piece(chunk.data(), n);
        if (inline_) {
            writeEscaped(file_, piece);
        } else {
            hash.add(piece.data(), n);
            if (head.size() < kBlockEdge)
                head += piece.substr(0, kBlockEdge - head.size());
            tail += piece.substr(n > kBlockEdge ? n - kBlockEdge : 0);
            if (tail.size() > kBlockEdge)
                tail.erase(0, tail.size() - kBlockEdge);
        }
        size += n;
    }
    if (in)
        std::fclose(in);
    if (inline_) {
        std::fputc('"', file_);
    } else if (size > 0) {
        std::fprintf(file_, " len=%zu head=\"%s\" tail=\"%s\" sha256=%s", size,
                     escapeBytes(head).c_str(), escapeBytes(tail).c_str(), hash.hex().c_str());
    }
}

int LoggingDriver::ibrdf(int ud, const std::string& fileName) {
    BENCHCAP_LOG_CALL("ibrdf", ud, inner_->ibrdf(ud, fileName),
                      std::fprintf(file_, " file=\"%s\"", escapeBytes(fileName).c_str());
                      end(result); fileData(fileName));
}

int LoggingDriver::ibonl(int ud, int online) {
    const int result = logOnlineCall(ud, online);
    if (online == 0)
        handles_.erase(ud);
    return result;
}

int LoggingDriver::logOnlineCall(int ud, int online) {
    BENCHCAP_LOG_CALL("ibonl", ud, inner_->ibonl(ud, online),
                      std::fprintf(file_, " online=%d", online);
                      end(result));
}

int LoggingDriver::ibpad(int ud, int pad) {
    const int result = logPadCall(ud, pad);
    movedTo(ud, pad, result);
    return result;
}

int LoggingDriver::logPadCall(int ud, int pad) {
    BENCHCAP_LOG_CALL("ibpad", ud, inner_->ibpad(ud, pad), std::fprintf(file_, " pad=%d", pad);
                      end(result));
}

void LoggingDriver::movedTo(int ud, int pad, int result) {
    if (auto h = handles_.find(ud);
        h != handles_.end() && h->second.pad >= 0 && !(result & ibsta_bits::ERR))
        h->second.pad = pad;
}

int LoggingDriver::ibrsc(int ud, int request) {
    BENCHCAP_LOG_CALL("ibrsc", ud, inner_->ibrsc(ud, request),
                      std::fprintf(file_, " request=%d", request);
                      end(result));
}

int LoggingDriver::ibsre(int ud, int value) {
    BENCHCAP_LOG_CALL("ibsre", ud, inner_->ibsre(ud, value),
                      std::fprintf(file_, " value=%d", value);
                      end(result));
}

int LoggingDriver::ibtmo(int ud, int code) {
    BENCHCAP_LOG_CALL("ibtmo", ud, inner_->ibtmo(ud, code), std::fprintf(file_, " code=%d", code);
                      end(result));
}

int LoggingDriver::ibwait(int ud, int mask) {
    BENCHCAP_LOG_CALL("ibwait", ud, inner_->ibwait(ud, mask),
                      std::fprintf(file_, " mask=%s", staNames(mask).c_str());
                      end(result));
}

int LoggingDriver::ibloc(int ud) {
    BENCHCAP_LOG_CALL("ibloc", ud, inner_->ibloc(ud), end(result));
}

int LoggingDriver::ibclr(int ud) {
    BENCHCAP_LOG_CALL("ibclr", ud, inner_->ibclr(ud), end(result));
}

int LoggingDriver::ibconfig(int ud, int option, int value) {
    const int result = logConfigCall(ud, option, value);
    if (option == ibc::PAD)
        movedTo(ud, value, result);
    return result;
}

int LoggingDriver::logConfigCall(int ud, int option, int value) {
    BENCHCAP_LOG_CALL("ibconfig", ud, inner_->ibconfig(ud, option, value),
                      std::fprintf(file_, " option=0x%x value=%d", option, value);
                      end(result));
}

int LoggingDriver::ibask(int ud, int option, int* value) {
    BENCHCAP_LOG_CALL("ibask", ud, inner_->ibask(ud, option, value),
                      std::fprintf(file_, " option=0x%x", option);
                      end(result, value ? std::to_string(*value).c_str() : nullptr));
}

void LoggingDriver::SendIFC(int board) {
    if (!file_)
        return inner_->SendIFC(board);
    const int64_t started = clock_->nowMicros();
    inner_->SendIFC(board);
    head(started, "SendIFC", -1);
    std::fprintf(file_, " board=%d", board);
    end(0);
    if (!finishLine(file_, "", problem_))
        stop();
}

}  // namespace benchcap::bus::log
