#pragma once

// The plotter Benchcap emulates, as an instrument sees it: an HP 7470A or 7475A that
// carries out HP-GL as the bytes arrive and answers the output instructions (OA, OC, OD,
// OE, OF, OH, OI, OO, OP, OS, OW) from the state the same interpreter that renders plots
// keeps (pen, P1/P2, window, the last error). No Qt in this header: the capture loop
// includes it. The values and their sources: docs/plotter-emulation.md.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace benchcap::hpgl {

enum class PlotterModel { HP7470A, HP7475A };
// The paper the plotter holds: its defaults for P1/P2 and its limits follow it.
enum class PaperSize { A4, Letter };

// "7470A" / "7475A" (case and an "HP" in front do not matter); nothing for anything else.
std::optional<PlotterModel> plotterModelNamed(std::string_view name);
std::string_view plotterModelName(PlotterModel model);

// Terminator of every answer on the bus.
inline constexpr std::string_view kAnswerEnd = "\r\n";

class PlotterEmulator {
  public:
    explicit PlotterEmulator(PlotterModel model = PlotterModel::HP7470A,
                             PaperSize paper = PaperSize::A4);
    ~PlotterEmulator();
    PlotterEmulator(const PlotterEmulator&) = delete;
    PlotterEmulator& operator=(const PlotterEmulator&) = delete;

    // Takes the next bytes received and carries out every instruction that is complete;
    // an instruction cut by the end of the bytes waits for the rest. Returns the answer
    // the plotter now holds for its controller (ended by CR LF) when an output
    // instruction was among them, else "". Like the plotter, it holds one answer: of two
    // output instructions in one feed, the later one's.
    std::string feed(std::string_view bytes);

    PlotterModel model() const;
    size_t instructions() const;          // instructions carried out so far
    std::string lastInstruction() const;  // its mnemonic, "" before the first

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace benchcap::hpgl
