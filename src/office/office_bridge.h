#pragma once

#include <string>
#include <string_view>

namespace benchcap::trace {
struct TraceField;
}

namespace benchcap::office {

// How one paste into an office program ended.
enum class PasteOutcome {
    Pasted,      // everything went in
    NotRunning,  // no office program accepts connections: nothing happened
    NoAnswer,    // the office program did not answer in time; the attempt was given up
    Declined,    // the target cells were occupied and the user answered "No"
    Failed,      // the office program took part but refused (no document, protected sheet)
};

struct PasteReport {
    PasteOutcome outcome = PasteOutcome::NotRunning;
    // What happened and what to do, for a status line or a command's error output; empty
    // after a paste that went in.
    std::string message;

    bool ok() const { return outcome == PasteOutcome::Pasted; }
    // The "Word"/"Excel" indicator: lit when the office program took part, whatever it did.
    bool indicatorOn() const {
        return outcome == PasteOutcome::Pasted || outcome == PasteOutcome::Declined ||
               outcome == PasteOutcome::Failed;
    }
    // What the window's status line says: nothing when no office runs (the dark indicator
    // says it) or when the user declined, the reason otherwise.
    std::string statusText() const {
        return outcome == PasteOutcome::NoAnswer || outcome == PasteOutcome::Failed ? message
                                                                                    : std::string();
    }
};

// The office programs Benchcap hands its results to. Only programs that are already
// running are used; none is started.
class OfficeBridge {
  public:
    virtual ~OfficeBridge() = default;
    // Puts the picture (the bytes of a PNG, BMP or WMF file) as a picture object at the
    // cursor of the text document open in the running word processor.
    virtual PasteReport PasteInWord(std::string_view pictureFile) = 0;
    // Writes the trace table, column by column as numbers, into the running spreadsheet from
    // its active cell on, then moves the active cell right by the column count. Occupied
    // target cells are pasted over only when the user says so.
    virtual PasteReport PasteInExcel(const trace::TraceField& field) = 0;
};

// No office automation on this desktop: every paste reports that no office program runs.
class NullOfficeBridge final : public OfficeBridge {
  public:
    PasteReport PasteInWord(std::string_view) override {
        return {PasteOutcome::NotRunning,
                "no word processor is running: start it with a document open and take the "
                "hardcopy again"};
    }
    PasteReport PasteInExcel(const trace::TraceField&) override {
        return {PasteOutcome::NotRunning,
                "no spreadsheet is running: start it with a sheet open and read the trace again"};
    }
};

}  // namespace benchcap::office
