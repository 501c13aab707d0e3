#pragma once

#include <string>
#include <string_view>

#include "base/result.h"

namespace benchcap::trace {
struct TraceField;
}

namespace benchcap::office {

// How a paste into an office program ended is a Status: ok when everything went in;
// otherwise its message says what happened and what to do, and its kind how it ended:
//   NotReachable  no office program accepts connections: nothing happened
//   TimedOut      the office program did not answer in time; the attempt was given up
//   Declined      the target cells were occupied and the user answered "No"
//   Refused       the office program took part but refused (no document, protected sheet)

// The "Word"/"Excel" indicator: lit when the office program took part, whatever it did.
inline bool indicatorOn(const Status& pasted) {
    return pasted || (pasted.errorKind() != ErrorKind::NotReachable &&
                      pasted.errorKind() != ErrorKind::TimedOut);
}
// Whether the window's status line tells why: not when no office runs (the dark indicator
// says it) or when the user declined.
inline bool showsOnStatusLine(const Status& pasted) {
    return !pasted &&
           (pasted.errorKind() == ErrorKind::TimedOut || pasted.errorKind() == ErrorKind::Refused);
}

// The office programs Benchcap hands its results to. Only programs that are already
// running are used; none is started.
class OfficeBridge {
  public:
    virtual ~OfficeBridge() = default;
    // Puts the picture (the bytes of a PNG, BMP or WMF file) as a picture object at the
    // cursor of the text document open in the running word processor.
    virtual Status PasteInWord(std::string_view pictureFile) = 0;
    // Writes the trace table, column by column as numbers, into the running spreadsheet from
    // its active cell on, then moves the active cell right by the column count. Occupied
    // target cells are pasted over only when the user says so.
    virtual Status PasteInExcel(const trace::TraceField& field) = 0;
};

// No office automation on this desktop: every paste reports that no office program runs.
class NullOfficeBridge final : public OfficeBridge {
  public:
    Status PasteInWord(std::string_view) override {
        return fail(ErrorKind::NotReachable,
                    "no word processor is running: start it with a document open and take the "
                    "hardcopy again");
    }
    Status PasteInExcel(const trace::TraceField&) override {
        return fail(ErrorKind::NotReachable,
                    "no spreadsheet is running: start it with a sheet open and read the trace "
                    "again");
    }
};

}  // namespace benchcap::office
