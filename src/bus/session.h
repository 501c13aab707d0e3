#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "bus/gpib_driver.h"

namespace benchcap::bus {

// The one selected instrument. The application owns one record and passes it on; every
// number starts at 0, every flag False, every text empty.
struct CurrentInstrument {
    int16_t BoardIndex = 0;     // board the handle is opened on (also its board descriptor)
    int16_t BusAddress = 0;     // primary address 1..30
    int16_t OpenedAddress = 0;  // address the current handle was opened for
    int16_t DeviceHandle = 0;   // descriptor from ibdev
    bool IsOpen = false;        // a handle has been requested (stays True)
    bool IsReady = false;       // the instrument is taken to answer
    int16_t TimeoutCode = 0;    // time-out code given to ibdev at open
    bool BusEnabled = false;    // bus access allowed (False until the first selection)
    std::string ModelName;      // model name from identification, "TMO", "unknown", "C.N.S."
    double FirmwareVersion = 0.0;
    bool FullSupport = false;
};

// Points the record at an instrument the way every instrument command starts: board,
// address, time-out code 11 (1 s) for the next open, bus access allowed.
void SelectInstrument(CurrentInstrument& instrument, int16_t board, int16_t address);

// The error of a long read that the user stopped.
inline constexpr char kInterruptedMessage[] = "Interrupted.";
inline Error interruptedError() {
    return fail(ErrorKind::Interrupted, kInterruptedMessage);
}

// Length of the reply buffer of QueryDevice.
inline constexpr size_t kReplyLength = 1000;

// The session operations on the current instrument. None of them returns a failure:
// guards that fail make an operation do nothing, and a silent instrument shows only in
// the untouched reply (1000 NULs), which identification then reads as "TMO". A bus that
// gave no handle is kept as opened().
class Session {
  public:
    Session(GpibDriver& driver, CurrentInstrument& instrument)
        : driver_(driver), instrument_(instrument) {}

    // Makes sure a device handle for BusAddress exists (one ibdev and one interface
    // clear per opened address). When ibdev gives no handle (no board under the index),
    // opened() says why and nothing goes out on the invalid handle.
    void OpenDevice();
    // Sends the text as it is; the driver marks its last byte with EOI.
    void WriteDevice(std::string_view text);
    // Fills the buffer from its start; returns the read's status word, or 0 when the
    // guards kept the read off the bus.
    int16_t ReadBlock(char* buffer, long count);
    // Sends the command and reads up to 1000 bytes into a NUL-filled buffer; returns that
    // buffer with leading and trailing blanks removed (line feed and NULs stay), or the
    // empty text when the guards kept the query off the bus.
    std::string QueryDevice(std::string_view command);
    // Returns the instrument to its front panel and ends the command's readiness.
    void GoToLocal();
    // Selected Device Clear on the current handle: the instrument drops what it was sent
    // and every answer it still owes. Fails, naming the driver error, with kind Refused when
    // the interface has no device clear (ECAP), TimedOut when nobody listened or answered
    // in time, NotReachable when the interface is gone, BusError otherwise; with no handle
    // nothing is sent and it fails (NotReachable).
    Status ClearDevice();
    // Asks "*IDN?" and sets ModelName, FullSupport, FirmwareVersion and IsReady.
    void IdentifyDevice();
    // The bus part of every instrument command's start: SelectInstrument, OpenDevice,
    // IdentifyDevice.
    void SelectAndIdentify(int16_t board, int16_t address);

    // Long reads (blocks, pictures, plots) ask between driver calls whether the user
    // asked to stop (Ctrl+C on the command line); by default nobody does.
    void setInterruptCheck(std::function<bool()> check) { interrupted_ = std::move(check); }
    bool interrupted() const { return interrupted_ && interrupted_(); }

    // The reply of the last QueryDevice that reached the bus (NUL filling included).
    const std::string& lastReply() const { return lastReply_; }
    // How the last ibdev of OpenDevice went: a failure (kind NotReachable, a line from
    // boardFailureText) when it got no device handle. A fault of the bus layer, not of the
    // instrument.
    const Status& opened() const { return opened_; }

    GpibDriver& driver() { return driver_; }
    CurrentInstrument& instrument() { return instrument_; }
    const CurrentInstrument& instrument() const { return instrument_; }

  private:
    GpibDriver& driver_;
    CurrentInstrument& instrument_;
    bool hasHandle() const { return instrument_.DeviceHandle >= 0; }

    std::string lastReply_;
    std::function<bool()> interrupted_;
    Status opened_;
};

}  // namespace benchcap::bus
