#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "base/result.h"
#include "bus/clock.h"
#include "bus/gpib_driver.h"

namespace benchcap::bus::log {

// A driver over another one that forwards every call and, while a log is open, writes
// each call to it as one line (bus/log/bus_log_format.h): time stamp and duration on the
// backend's clock, the call with its handle's board and address, its arguments and data,
// and the status it left. Every line is flushed as it is written, so a crash keeps the log
// up to the last call; data streams to the file, so memory stays flat. Without an open
// log it only forwards. Calls that answer the status word answer (and log) its 16 bits,
// whatever sign the backend gave them.
class LoggingDriver final : public GpibDriver {
  public:
    LoggingDriver(std::unique_ptr<GpibDriver> inner, std::shared_ptr<Clock> clock);
    ~LoggingDriver() override;

    // Opens (truncates) `file` and logs from now on; `fullData` keeps long blocks whole. A
    // pipe nobody reads is refused at once; a file that takes no bytes (a full disk) ends
    // the log at the first line it refuses, and problem() says why.
    Status start(const std::string& file, bool fullData, const std::string& interface);
    void stop();
    bool active() const { return file_ != nullptr; }
    const std::string& path() const { return path_; }
    // Why logging stopped by itself (the file could not be written); empty while all is well.
    const std::string& problem() const { return problem_; }
    // "bus log written to FILE" (or why it is incomplete); empty when nothing was logged.
    std::string summaryLine() const;

    GpibDriver& inner() { return *inner_; }

    int ibdev(int board, int pad, int sad, int tmo, int eot, int eos) override;
    int ibfind(const std::string& name) override;
    int ibwrt(int ud, const void* data, long count) override;
    int ibrd(int ud, void* buffer, long count) override;
    int ibrdf(int ud, const std::string& fileName) override;
    int ibonl(int ud, int online) override;
    int ibpad(int ud, int pad) override;
    int ibrsc(int ud, int request) override;
    int ibsre(int ud, int value) override;
    int ibtmo(int ud, int code) override;
    int ibwait(int ud, int mask) override;
    int ibloc(int ud) override;
    int ibclr(int ud) override;
    int ibconfig(int ud, int option, int value) override;
    int ibask(int ud, int option, int* value) override;
    void SendIFC(int board) override;
    DriverStatus status() const override { return inner_->status(); }
    std::string unavailableReason() const override { return inner_->unavailableReason(); }
    std::string lastProblem() const override { return inner_->lastProblem(); }
    bool hasListenOnly() const override { return inner_->hasListenOnly(); }
    Status setListenOnly(bool on) override;

  private:
    struct Address {
        int board = 0;
        int pad = -1;  // -1: a board descriptor
        int sad = 0;
    };
    // Writes the line's start: time, duration, the call and its handle's address.
    void head(int64_t started, const char* call, int ud);
    // Ends the line: "-> ret=... sta=... err=... cnt=..." (and `value`), then flushes.
    void end(int result, const char* value = nullptr);
    void fileData(const std::string& fileName);
    // The logged halves of the calls that also change the handle table.
    int logOnlineCall(int ud, int online);
    int logPadCall(int ud, int pad);
    int logConfigCall(int ud, int option, int value);
    // A device handle readdressed by a call that succeeded.
    void movedTo(int ud, int pad, int result);

    std::unique_ptr<GpibDriver> inner_;
    std::shared_ptr<Clock> clock_;
    std::FILE* file_ = nullptr;
    std::string path_;
    std::string problem_;
    bool fullData_ = false;
    long calls_ = 0;
    std::map<int, Address> handles_;
};

}  // namespace benchcap::bus::log
