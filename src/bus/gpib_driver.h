#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "base/result.h"

namespace benchcap::bus {

// Driver status after a call: the driver's ibsta, iberr, ibcnt and ibcntl, each taken
// as the program keeps it (16-bit signed status word, error and count; 32-bit count).
struct DriverStatus {
    int16_t ibsta = 0;
    int16_t iberr = 0;
    int16_t ibcnt = 0;
    int32_t ibcntl = 0;
};

// Status word bits and error codes of NI-488.2 that callers look at.
namespace ibsta_bits {
inline constexpr int ERR = 0x8000;
inline constexpr int TIMO = 0x4000;
inline constexpr int END = 0x2000;
inline constexpr int SRQI = 0x1000;
inline constexpr int RQS = 0x0800;
inline constexpr int CMPL = 0x0100;
inline constexpr int LOK = 0x0080;
inline constexpr int REM = 0x0040;
inline constexpr int CIC = 0x0020;
inline constexpr int ATN = 0x0010;
inline constexpr int TACS = 0x0008;
inline constexpr int LACS = 0x0004;
inline constexpr int DTAS = 0x0002;
inline constexpr int DCAS = 0x0001;
}  // namespace ibsta_bits

namespace iberr_codes {
inline constexpr int EDVR = 0;   // system error
inline constexpr int ECIC = 1;   // not controller-in-charge
inline constexpr int ENOL = 2;   // write found no listeners
inline constexpr int EADR = 3;   // board not addressed correctly
inline constexpr int EARG = 4;   // invalid argument
inline constexpr int ESAC = 5;   // not system controller
inline constexpr int EABO = 6;   // I/O aborted (time-out)
inline constexpr int ENEB = 7;   // no such board
inline constexpr int EOIP = 10;  // asynchronous I/O in progress
inline constexpr int ECAP = 11;  // no capability
inline constexpr int EFSO = 12;  // file system error
inline constexpr int EBUS = 14;  // bus error
inline constexpr int ESTB = 15;  // serial poll queue overflow
inline constexpr int ESRQ = 16;  // SRQ stuck
inline constexpr int ETAB = 20;  // table problem
}  // namespace iberr_codes

// Name of an NI-488.2 error code ("EDVR"), or "error N" for a code without one.
std::string iberrName(int iberr);
// What an error code means for a call that opens a board or a device, in a few words
// ("the driver has no such board").
std::string iberrExplanation(int iberr);
// One line for a board or device that could not be opened, with the cause and where to
// look: "no GPIB board 0: ibdev failed with EDVR: the driver has no such board; see
// docs/driver-library.md".
std::string boardFailureText(int board, const std::string& call, const DriverStatus& status);

// NI-488.2 time-out codes used by the program.
namespace timeout_codes {
inline constexpr int TNONE = 0;
inline constexpr int T300ms = 10;
inline constexpr int T1s = 11;
inline constexpr int T3s = 12;
inline constexpr int T10s = 13;
inline constexpr int T30s = 14;
inline constexpr int T100s = 15;
inline constexpr int T300s = 16;
inline constexpr int T1000s = 17;
}  // namespace timeout_codes

// Time-out of a code in microseconds (0 for TNONE: wait forever; -1 for an invalid code).
int64_t timeoutMicros(int code);
// The smallest code that lasts at least `seconds` (T300ms at the least, T1000s beyond it).
int timeoutCodeAtLeast(double seconds);

// ibconfig / ibask option codes used by the program.
namespace ibc {
inline constexpr int PAD = 0x0001;
inline constexpr int SAD = 0x0002;
inline constexpr int TMO = 0x0003;
inline constexpr int EOT = 0x0004;
inline constexpr int PPC = 0x0005;
inline constexpr int READDR = 0x0006;
inline constexpr int AUTOPOLL = 0x0007;
inline constexpr int CICPROT = 0x0008;
inline constexpr int IRQ = 0x0009;
inline constexpr int SC = 0x000A;
inline constexpr int SRE = 0x000B;
inline constexpr int EOSrd = 0x000C;
inline constexpr int EOSwrt = 0x000D;
inline constexpr int EOScmp = 0x000E;
inline constexpr int EOSchar = 0x000F;
inline constexpr int PP2 = 0x0010;
inline constexpr int TIMING = 0x0011;
inline constexpr int DMA = 0x0012;
}  // namespace ibc

// The NI-488.2 call set the program uses, one method per driver call, with the
// status of the last call kept per driver object. Every caller (session, bus scan,
// plotter emulation, board configuration) goes through this interface; backends are
// the run-time loaded driver library and the simulated bench.
//
// Calls return the driver's result as the C API does (ibsta for most calls, the
// descriptor for ibdev/ibfind). status() is captured right after each call.
class GpibDriver {
  public:
    virtual ~GpibDriver() = default;

    virtual int ibdev(int board, int pad, int sad, int tmo, int eot, int eos) = 0;
    virtual int ibfind(const std::string& name) = 0;
    virtual int ibwrt(int ud, const void* data, long count) = 0;
    virtual int ibrd(int ud, void* buffer, long count) = 0;
    virtual int ibrdf(int ud, const std::string& fileName) = 0;
    virtual int ibonl(int ud, int online) = 0;
    virtual int ibpad(int ud, int pad) = 0;
    virtual int ibrsc(int ud, int request) = 0;
    virtual int ibsre(int ud, int value) = 0;
    virtual int ibtmo(int ud, int code) = 0;
    virtual int ibwait(int ud, int mask) = 0;
    virtual int ibloc(int ud) = 0;
    // Selected Device Clear: the device drops what it was sent and what it has not yet
    // said. A backend without one fails with ERR and ECAP; a test double that predates it
    // keeps this default, which fails without touching the status.
    virtual int ibclr(int ud) {
        (void)ud;
        return ibsta_bits::ERR;
    }
    virtual int ibconfig(int ud, int option, int value) = 0;
    virtual int ibask(int ud, int option, int* value) = 0;
    virtual void SendIFC(int board) = 0;

    // Status after the last call made through this object.
    virtual DriverStatus status() const = 0;

    // Empty when the backend can reach boards; otherwise one line that says why not
    // (for example "GPIB driver library not found: libgpib.so.0").
    virtual std::string unavailableReason() const { return {}; }
    // Why the last call failed, in one line, when the backend knows more than its error
    // code says (a "++" adapter's lost connection, naming the adapter); empty otherwise.
    virtual std::string lastProblem() const { return {}; }

    // Listen-only: the board, a device, hears everything on the bus without being addressed
    // (a "++" adapter's ++lon), for instruments in talk-only mode. Backends without it keep
    // these defaults; a wrapper forwards them.
    virtual bool hasListenOnly() const { return false; }
    virtual Status setListenOnly(bool on) {
        (void)on;
        return fail("this interface has no listen-only mode");
    }

    // A request to stop (a termination signal), asked in short slices while a call waits
    // (for bytes, or the simulated bench's pacing): when it says stop, the waiting call
    // ends at once with ERR and EABO, as an aborted I/O does. By default nobody asks.
    void setInterruptCheck(std::function<bool()> check) { interrupted_ = std::move(check); }
    bool interruptRequested() const { return interrupted_ && interrupted_(); }

    // Long reads (a block, ibrdf, a plot) tell how far they are: the bytes received so far
    // and the length the block announced (-1: not known); a backend whose single read takes
    // long adds the bytes of that call so far (`total` is then kCallBytes). By default
    // nobody listens.
    static constexpr int64_t kCallBytes = -2;
    void setProgressSink(std::function<void(int64_t done, int64_t total)> sink) {
        progress_ = std::move(sink);
    }
    void reportProgress(int64_t done, int64_t total) const {
        if (progress_)
            progress_(done, total);
    }
    void reportCallProgress(int64_t bytes) const { reportProgress(bytes, kCallBytes); }

  private:
    std::function<bool()> interrupted_;
    std::function<void(int64_t, int64_t)> progress_;
};

// The cause of the driver's last failure for a message: its lastProblem() when it has one,
// otherwise "driver error EBUS" (the error's name).
std::string driverErrorText(const GpibDriver& driver);

// Status word, error code and counts as the program keeps them: the low 16 bits of
// the driver's 32-bit values taken as signed.
int16_t LongToInt16(long value);

}  // namespace benchcap::bus
