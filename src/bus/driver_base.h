#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>

#include "bus/gpib_driver.h"

namespace benchcap::bus {

// One call's result as the C API gives it, with the status it left.
struct CallOutcome {
    int result = 0;
    DriverStatus status;
};

// ibrdf for every backend: reads with `readChunk` (at most `size` bytes into `buffer` per
// call) until END, an error, a time-out or an empty read, and writes what came to
// `fileName`. The last read's status is returned with the counts of the whole answer; a
// file that cannot be opened or written fails with ERR and EFSO (reading stops at the first
// failed write: nothing more could be kept).
// `progress` hears the bytes received after each chunk.
CallOutcome readToFile(const std::string& fileName,
                       const std::function<CallOutcome(char* buffer, long size)>& readChunk,
                       const GpibDriver* progress = nullptr);

inline bool validTimeoutCode(int code) {
    return code >= 0 && code <= 17;
}
inline bool validPrimaryAddress(int pad) {
    return pad >= 0 && pad <= 30;
}

// What a device descriptor stands for, as ibdev opened it and ibconfig changed it.
struct DeviceHandle {
    int board = 0;
    int pad = 0;
    int sad = 0;
    int tmo = 0;
    int eot = 1;
    int eos = 0;
};

// The bookkeeping of a backend that hands out its own descriptors (the "++" adapter, the
// LAN, the simulated bench, the replay of a bus log): device descriptors from 32 on, board
// options with a board's defaults, the status of the last call and its problem, and ibpad /
// ibrsc / ibtmo / ibask on top of ibconfig and the table, and ibrdf on top of ibrd. Board
// descriptors are board indices; the backend says which boards it has.
class DriverBase : public GpibDriver {
  public:
    DriverStatus status() const override { return status_; }
    std::string lastProblem() const override { return problem_; }
    int ibpad(int ud, int pad) override;
    int ibrsc(int ud, int request) override;
    int ibtmo(int ud, int code) override;
    int ibask(int ud, int option, int* value) override;
    // readToFile over the backend's own ibrd; the last read's problem (a lost connection) is
    // the whole call's, a file that cannot be opened is none.
    int ibrdf(int ud, const std::string& fileName) override;

  protected:
    static constexpr int kFirstDevice = 32;
    // As a real driver, descriptors are a bounded resource.
    static constexpr int kMaxDevices = 4096;

    // Whether `ud` is the descriptor of a board this backend has.
    virtual bool isBoard(int ud) const = 0;

    // Sets the status of the call ending now, and makes its note the last problem; returns
    // `sta`.
    int finish(int sta, int err, long count);
    int fail(int err) { return finish(ibsta_bits::ERR, err, 0); }
    // Sets the status from a read-to-file outcome (counts of the whole answer).
    int finish(const CallOutcome& outcome);
    // Sets the status as it is given (a call answered from elsewhere: a bus log), notes
    // untouched; returns `result`.
    int settle(int result, const DriverStatus& status) {
        status_ = status;
        return result;
    }

    // ibdev's checks and a new descriptor; -1 (status set: EARG) when the address or
    // time-out is out of range or the table is full. The board is checked by the caller.
    int openDevice(const DeviceHandle& handle);
    // ibfind and ibdev for a backend whose one board is "GPIB0" (the "++" adapter, a LAN
    // gateway): finding it puts it online; -1 (status set: ENEB) for any other board.
    int findOnlyBoard(const std::string& name, bool& online);
    int openOnOnlyBoard(const DeviceHandle& handle);
    DeviceHandle* device(int ud);
    const std::map<int, DeviceHandle>& devices() const { return devices_; }
    void closeDevice(int ud) { devices_.erase(ud); }

    // A board option as ibask reports it: the value set, else the board's default (T10s
    // time-out, system controller, 0 otherwise).
    int boardOption(int board, int option) const;
    void setBoardOption(int board, int option, int value) {
        boardOptions_[{board, option}] = value;
    }
    // ibconfig's bookkeeping: false (status set: EARG) for a time-out code or address out
    // of range, which leaves the handle or board unchanged.
    bool configureDevice(DeviceHandle& handle, int option, int value);
    bool configureBoard(int board, int option, int value);

    // What went wrong in the current call, in words (lastProblem() once the call ends),
    // and the last call's.
    std::string note_;
    std::string problem_;

  private:
    DriverStatus status_;
    std::map<int, DeviceHandle> devices_;
    std::map<std::pair<int, int>, int> boardOptions_;  // (board, option) -> value
    int nextDescriptor_ = kFirstDevice;
};

}  // namespace benchcap::bus
