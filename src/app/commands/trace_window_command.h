#pragma once

#include <QString>

#include <memory>
#include <optional>

#include "app/commands/bus_commands.h"
#include "app/output/office_window.h"
#include "base/result.h"
#include "trace/trace_command.h"

namespace benchcap::recipes {
class RecipeBook;
}

namespace benchcap::app {

class InstrumentSession;
class WindowView;

// The decimal separator of the user's regional settings as one 8-bit character: what
// the trace text writes between the digits ('.' where the locale's is not one such
// character). The same rule as the command-line program's.
char localeDecimalSeparator();

// The trace command of the main window ("Start" > "Read trace data" > "trace n", the
// tray's "Trace n", TRACEn on the command line) and "Save trace data". Its bus part runs on
// the bus worker while the window goes on; a bus command arriving then is refused. The application
// owns it beside the window and the instrument session; while it lives the window redraws the trace
// on display after every resize.
class TraceWindowCommand {
  public:
    TraceWindowCommand(WindowView& form, InstrumentSession& instrument, OfficeBridge& office,
                       char decimalSeparator = localeDecimalSeparator());
    ~TraceWindowCommand();
    TraceWindowCommand(const TraceWindowCommand&) = delete;
    TraceWindowCommand& operator=(const TraceWindowCommand&) = delete;

    // Identifies the instrument at the checked address, reads trace `n`, draws it, and
    // runs the "On trace copy event" options (spreadsheet, file, clipboard). Ok when a new
    // trace is on display; otherwise why not (the user has been told already, in the error
    // label, a box or the status line).
    Status run(int n);
    // "Save trace data": the trace text under a name the user chooses, with one more CR LF;
    // a network analyzer's complex channel as Touchstone under a .s1p (or .ts) name.
    void save();
    // Draws the trace on display into the picture area again (after a resize).
    void redraw();

    // The recipes an instrument of another maker is read by; none: such instruments are
    // refused as now. Outlives the command.
    void setRecipes(const recipes::RecipeBook* book) { recipes_ = book; }

    const trace::TraceState& state() const { return state_; }
    // The automatic TXT file of the last trace command that saved one.
    const QString& lastOutputFile() const { return lastOutputFile_; }

    // "TXT file|*.TXT|Touchstone file|*.s1p|all files|*.*"
    static QString saveFilter();

  private:
    Status readAndShow(int n, BusCommands::Claim& claim);
    // What the bus part hands back: the state it read into (the window's stays untouched
    // meanwhile), the instrument's identity and, when the read was tried, its result.
    struct BusRead {
        trace::TraceState state;
        std::string identity;
        std::optional<trace::TraceCommandResult> result;
    };
    // The bus part, on the bus worker: identification, the checks of the model and the
    // read into `read`. Why not, when the read was not tried.
    Status readOnBus(WindowView& window, int n, BusRead& read);
    // The area becomes the trace's: white, no hardcopy behind it, redrawn by this command.
    void claimAreaForTrace();
    // The read's end in the window: the error, or the trace drawn and the automatic outputs.
    Status showOutcome(const trace::TraceCommandResult& result, int n);
    void draw();
    Status autoOutputs(int n);

    WindowView& form_;
    // Expires with the command, so a redraw the window still holds does nothing.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    InstrumentSession& instrument_;
    OfficeBridge& office_;
    char decimalSeparator_;
    trace::TraceState state_;
    bool reading_ = false;  // a trace is being read on the bus worker
    int shownTrace_ = 1;    // the number of the trace on display
    QString lastOutputFile_;
    std::string identity_;  // the *IDN? answer of the trace's instrument
    const recipes::RecipeBook* recipes_ = nullptr;
};

}  // namespace benchcap::app
