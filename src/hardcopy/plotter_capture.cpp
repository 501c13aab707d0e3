#include "hardcopy/plotter_capture.h"

#include <algorithm>

#include "base/output_file.h"
#include "bus/session.h"

namespace benchcap::hardcopy {

namespace {

void say(const StatusFn& status, const std::string& text) {
    if (status)
        status(text);
}

bool isLineEnd(char c) {
    return c == '\r' || c == '\n';
}

std::string trimmedBlanks(std::string_view s) {
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return std::string(s);
}

// One status line per piece: its first two characters (the plot command that starts it,
// line ends left out), the instructions carried out so far and the last of them, and the
// bytes received so far.
std::string receivingText(std::string_view head, const hpgl::PlotterEmulator& plotter,
                          int64_t bytes) {
    std::string shown;
    for (const char c : head)
        if (static_cast<unsigned char>(c) >= 0x20)
            shown += c;
    shown = trimmedBlanks(shown);
    std::string instructions;
    if (plotter.instructions() > 0) {
        instructions = std::to_string(plotter.instructions()) + " instructions (last " +
                       plotter.lastInstruction() + "), ";
    }
    return "receiving " + (shown.empty() ? std::string() : shown + ", ") + instructions +
           std::to_string(bytes) + " bytes";
}

// The board settings a capture changes, as they were before.
struct BoardSettings {
    int pad = 0;
    int systemController = 1;
    int eosRead = 0;
    int eosChar = 0;
    int timeout = bus::timeout_codes::T10s;
};

BoardSettings readSettings(bus::GpibDriver& driver, int board) {
    BoardSettings s;
    int value = 0;
    if (!(driver.ibask(board, bus::ibc::PAD, &value) & bus::ibsta_bits::ERR))
        s.pad = value;
    if (!(driver.ibask(board, bus::ibc::SC, &value) & bus::ibsta_bits::ERR))
        s.systemController = value;
    if (!(driver.ibask(board, bus::ibc::EOSrd, &value) & bus::ibsta_bits::ERR))
        s.eosRead = value;
    if (!(driver.ibask(board, bus::ibc::EOSchar, &value) & bus::ibsta_bits::ERR))
        s.eosChar = value;
    if (!(driver.ibask(board, bus::ibc::TMO, &value) & bus::ibsta_bits::ERR))
        s.timeout = value;
    return s;
}

// Receives the plot into `out` until the time-out after its last piece, answering the
// instrument's output instructions as the plotter would; the error that ended it otherwise.
Status receivePlot(bus::GpibDriver& driver, int board, OutputFile& out, const StatusFn& status,
                   const InterruptCheck& interrupted, const PlotterSettings& settings,
                   PlotCapture& capture) {
    std::string buffer;
    hpgl::PlotterEmulator plotter(settings.model);
    std::string answer;  // held for the instrument until it addresses the board to talk
    Status error;
    while (error) {
        if (interrupted && interrupted()) {
            error = bus::interruptedError();
            break;
        }
        if (!answer.empty()) {
            // The instrument asked: it addresses the board to talk and reads the answer, or
            // goes on sending (the answer stays until the next question replaces it).
            const int sta = driver.ibwait(
                board, bus::ibsta_bits::TACS | bus::ibsta_bits::LACS | bus::ibsta_bits::TIMO);
            if (sta & bus::ibsta_bits::TACS) {
                driver.ibwrt(board, answer.data(), static_cast<long>(answer.size()));
                answer.clear();
                continue;
            }
            if (!(sta & bus::ibsta_bits::LACS))
                answer.clear();  // silence: the read below ends the plot as ever
        }
        buffer.assign(kPlotReadSize, ' ');
        const int sta = driver.ibrd(board, buffer.data(), kPlotReadSize);
        const bus::DriverStatus after = driver.status();
        const auto got = static_cast<size_t>(
            std::clamp<int32_t>(after.ibcntl, 0, static_cast<int32_t>(kPlotReadSize)));
        const std::string text = CleanPlotLine(std::string_view(buffer).substr(0, got));
        capture.bytes += static_cast<int64_t>(got);
        if (got > 0) {
            std::string asked = plotter.feed(std::string_view(buffer).substr(0, got));
            if (settings.answer && !asked.empty())
                answer = std::move(asked);
        }
        say(status, receivingText(std::string_view(buffer).substr(0, 2), plotter, capture.bytes));
        // The time-out after the last piece is how every plot ends; any other driver error
        // leaves the plot incomplete.
        if ((sta & bus::ibsta_bits::ERR) && !(sta & bus::ibsta_bits::TIMO)) {
            // A read the stop request ended is a stop, not a broken plot.
            error = interrupted && interrupted()
                        ? bus::interruptedError()
                        : fail(ErrorKind::BusError, "the plot broke off after " +
                                                        std::to_string(capture.bytes) + " bytes (" +
                                                        bus::driverErrorText(driver) + ")");
            break;
        }
        if (capture.bytes > kMaxPlotBytes) {
            error = fail(ErrorKind::BadData, "the instrument sent more than " +
                                                 std::to_string(kMaxPlotBytes >> 20) +
                                                 " MB without a pause; the capture was stopped");
            break;
        }
        // A piece of nothing but the line feed that ended the previous line adds no line.
        if (got > 0 && text.empty())
            continue;
        if (Status written = out.write(text + "\r\n"); !written) {
            error = written;
            break;
        }
        ++capture.lines;
        if (got == 0)
            break;
    }
    return error;
}

// Offline, then the board's own settings back.
void restoreBoard(bus::GpibDriver& driver, int board, const BoardSettings& before,
                  const StatusFn& status) {
    say(status, "resetting board...");
    driver.ibonl(board, 0);
    // Offline alone leaves the plotter address and the given-up controller role in place on
    // some drivers; the board is opened again and given back its own settings so that the
    // next scan or hardcopy finds it as it was.
    const int again = driver.ibfind("GPIB0");
    if (again >= 0) {
        driver.ibpad(again, before.pad);
        driver.ibrsc(again, before.systemController);
        driver.ibconfig(again, bus::ibc::EOSrd, before.eosRead);
        driver.ibconfig(again, bus::ibc::EOSchar, before.eosChar);
        driver.ibtmo(again, before.timeout);
    }
}

}  // namespace

std::string CleanPlotLine(std::string_view piece) {
    while (!piece.empty() && isLineEnd(piece.front()))
        piece.remove_prefix(1);
    while (!piece.empty() && isLineEnd(piece.back()))
        piece.remove_suffix(1);
    return std::string(piece);
}

Result<PlotCapture> CapturePlot(bus::GpibDriver& driver, const std::string& fileName,
                                const StatusFn& status, const InterruptCheck& interrupted,
                                const PlotterSettings& settings) {
    if (settings.listenOnly && !driver.hasListenOnly()) {
        return fail(
            "a listen-only capture needs a \"++\" adapter (++lon); this interface has no "
            "listen-only mode: set the instrument to plot to address 5 instead");
    }
    Result<OutputFile> out = OutputFile::create(fileName);
    if (!out)
        return out.failure();

    say(status, "searching board...");
    const int board = driver.ibfind("GPIB0");
    if (board < 0) {
        say(status, "board not found!");
        return fail("board not found! No GPIB board named GPIB0 is installed.");
    }
    const BoardSettings before = readSettings(driver, board);

    say(status, "preparing board...");
    driver.ibpad(board, kPlotterAddress);
    driver.ibrsc(board, 0);
    driver.ibconfig(board, bus::ibc::EOSrd, 1);
    driver.ibconfig(board, bus::ibc::EOSchar, 13);
    driver.ibtmo(board, bus::timeout_codes::T100s);
    Status error;
    if (settings.listenOnly) {
        if (Status on = driver.setListenOnly(true); !on)
            error = fail(ErrorKind::Refused, "the adapter refused listen-only: " + on.error());
    }

    if (error) {
        say(status, "PLEASE PRESS HARDCOPY KEY TO START HARDCOPY!");
        driver.ibwait(board, bus::ibsta_bits::TIMO | bus::ibsta_bits::LACS);
        // A wait the user stopped saw no key.
        if (interrupted && interrupted())
            error = bus::interruptedError();
        else
            say(status, "KEY PRESSED!");
        driver.ibtmo(board, bus::timeout_codes::T3s);
    }

    PlotCapture capture;
    if (error)
        error = receivePlot(driver, board, *out, status, interrupted, settings, capture);

    // Leaving device mode below ends listen-only as well, should this fail.
    if (settings.listenOnly)
        (void)driver.setListenOnly(false);
    restoreBoard(driver, board, before, status);

    if (error && capture.bytes == 0) {
        error = fail(ErrorKind::TimedOut,
                     "no plot arrived: the instrument did not start plotting within 100 s "
                     "(press its HARDCOPY key after answering Yes)");
    }
    if (error && interrupted && interrupted())
        error = bus::interruptedError();
    if (error)
        error = out->commit();
    say(status, error ? "hardcopy taken." : "no plot received.");
    if (!error)
        return error.failure();
    return capture;
}

PlotterResult Plotter(bus::GpibDriver& driver, bus::UserInterface& ui, const StatusFn& status,
                      const std::string& offerText, const std::string& fileName,
                      const InterruptCheck& interrupted, const PlotterSettings& plotter) {
    PlotterResult result;
    say(status, "starting plotter emulation...");
    const bus::MessageResult answer = ui.messageBox(bus::MessageIcon::Question, "PLEASE SELECT",
                                                    offerText, bus::MessageButtons::YesNo);
    if (answer != bus::MessageResult::Yes)
        return result;
    result.accepted = true;
    say(status, "waiting for hardcopy startup...");
    result.capture = CapturePlot(driver, fileName, status, interrupted, plotter);
    return result;
}

}  // namespace benchcap::hardcopy
