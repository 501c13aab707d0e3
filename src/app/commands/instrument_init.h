#pragma once

#include <string>

#include "base/result.h"
#include "bus/session.h"

namespace benchcap::app {

class WindowView;

// The selected instrument as every instrument command sees it: the program-wide record,
// the session on it and the drive letter of its hardcopy files, which the firmware check
// keeps between commands. Owned by the application; lives as long as the program.
class InstrumentSession {
  public:
    explicit InstrumentSession(bus::GpibDriver& driver) : session_(driver, record_) {}
    InstrumentSession(const InstrumentSession&) = delete;
    InstrumentSession& operator=(const InstrumentSession&) = delete;

    bus::CurrentInstrument& record() { return record_; }
    const bus::CurrentInstrument& record() const { return record_; }
    bus::Session& session() { return session_; }

    std::string HardcopyDrive;

  private:
    bus::CurrentInstrument record_;
    bus::Session session_;
};

// The start of every instrument command: takes the checked address item and the scanner's
// board (board 0 before any scan), opens and identifies the instrument with a 1 s time-out,
// gives a bare address caption ("05") the model ("05: KLT") and shows the model in status
// panel 2. With no address checked nothing is sent: the user is told to choose one and the
// result is an error.
Status openSelectedInstrument(WindowView& form, InstrumentSession& instrument);

}  // namespace benchcap::app
