#pragma once

#include "base/result.h"

namespace benchcap::trace {
struct TraceField;
}

namespace benchcap::app {

// The office programs the window hands its results to. Only programs that are already
// running are used; none is started.
class OfficeBridge {
  public:
    virtual ~OfficeBridge() = default;
    // Pastes the clipboard into the document open in the running word processor.
    virtual Status PasteInWord() = 0;
    // Writes the trace table, cell by cell as numbers, into the running spreadsheet from
    // its active cell on. Ok when a spreadsheet took part (the "Excel" indicator is lit).
    virtual Status PasteInExcel(const trace::TraceField& field) = 0;
};

// No office automation on this desktop: every paste reports that the program is not
// running, so the window shows the "Word" and "Excel" indicators disabled.
class NullOfficeBridge final : public OfficeBridge {
  public:
    Status PasteInWord() override {
        return fail(
            "no word processor is running: start it with a document open and take the "
            "hardcopy again");
    }
    Status PasteInExcel(const trace::TraceField&) override {
        return fail(
            "no spreadsheet is running: start it with a sheet open and read the trace again");
    }
};

}  // namespace benchcap::app
