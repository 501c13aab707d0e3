#pragma once

#include <fstream>
#include <optional>
#include <string>

#include "bus/driver_base.h"
#include "bus/log/bus_log_format.h"

namespace benchcap::bus::log {

// A backend that answers a program from a bus log: each call must be the next logged call
// (same call, handle and arguments, same bytes written, or the same SHA-256 for a
// shortened block; time stamps and ibrdf's temporary file name do not count), and gets
// the logged answer: the bytes read and the status, time-outs at once. The first call that
// differs ends the replay: it and every later call fail with ERR/EDVR, and lastProblem()
// says where the log and the program parted. Every call, ibask and ibpad included, is
// answered from the log: the descriptor table stays empty.
class ReplayDriver final : public DriverBase {
  public:
    explicit ReplayDriver(const std::string& file);

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

    std::string unavailableReason() const override { return unavailable_; }

    // After the run: empty when the program made exactly the logged calls; otherwise the
    // message (the first difference, or the logged calls the program did not make).
    std::string verdict();

  private:
    // The log has no boards of its own: descriptors are the logged ones.
    bool isBoard(int) const override { return false; }
    // The next logged call, or nullptr (the replay has stopped, or stops now: end of log,
    // a damaged line).
    const Record* next(const std::string& identity);
    // Whether the program's call (`identity`, as the log writes it) is the logged one;
    // stops the replay with the difference when not.
    bool matches(const Record& record, const std::string& identity);
    // The logged call must be `identity` (its data written in the record's form).
    const Record* expect(const std::string& identity);
    // expect() for a read that hands bytes back: a log that kept only the ends of them stops
    // the replay (nullptr, `what` named: "read" or "answer").
    const Record* expectWhole(const std::string& identity, const char* what);
    int answer(const Record& record);
    // A call with no bytes to hand back: the logged status if it is the next call, else ERR.
    int replay(const std::string& identity);
    int stopWith(const std::string& message);

    std::ifstream in_;
    std::optional<LogReader> reader_;
    std::string file_;
    std::string unavailable_;
    Record current_;
    bool begun_ = false;  // a call was read from the log
};

}  // namespace benchcap::bus::log
