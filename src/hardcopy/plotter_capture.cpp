#include "hardcopy/plotter_capture.h"

#include <algorithm>

#include "hardcopy/pending_file.h"

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

}  // namespace

std::string CleanPlotLine(std::string_view piece) {
    while (!piece.empty() && isLineEnd(piece.front()))
        piece.remove_prefix(1);
    while (!piece.empty() && isLineEnd(piece.back()))
        piece.remove_suffix(1);
    return std::string(piece);
}

CaptureResult CapturePlot(bus::GpibDriver& driver, const std::string& fileName,
                          const StatusFn& status) {
    CaptureResult result;
    PendingFile out;
    if (!out.open(fileName, result.error))
        return result;

    say(status, "searching board...");
    const int board = driver.ibfind("GPIB0");
    if (board < 0) {
        say(status, "board not found!");
        result.error = "board not found! No GPIB board named GPIB0 is installed.";
        return result;
    }
    result.boardFound = true;
    const BoardSettings before = readSettings(driver, board);

    say(status, "preparing board...");
    driver.ibpad(board, kPlotterAddress);
    driver.ibrsc(board, 0);
    driver.ibconfig(board, bus::ibc::EOSrd, 1);
    driver.ibconfig(board, bus::ibc::EOSchar, 13);
    driver.ibtmo(board, bus::timeout_codes::T100s);

    say(status, "PLEASE PRESS HARDCOPY KEY TO START HARDCOPY!");
    driver.ibwait(board, bus::ibsta_bits::TIMO | bus::ibsta_bits::LACS);
    say(status, "KEY PRESSED!");
    driver.ibtmo(board, bus::timeout_codes::T3s);

    std::string buffer;
    for (;;) {
        buffer.assign(kPlotReadSize, ' ');
        driver.ibrd(board, buffer.data(), kPlotReadSize);
        const auto got = static_cast<size_t>(
            std::clamp<int32_t>(driver.status().ibcntl, 0, static_cast<int32_t>(kPlotReadSize)));
        say(status, "receiving " + trimmedBlanks(std::string_view(buffer).substr(0, 2)));
        const std::string text = CleanPlotLine(std::string_view(buffer).substr(0, got));
        result.bytes += static_cast<int64_t>(got);
        if (result.bytes > kMaxPlotBytes) {
            result.error = "the instrument sent more than " + std::to_string(kMaxPlotBytes >> 20) +
                           " MB without a pause; the capture was stopped";
            break;
        }
        // A piece of nothing but the line feed that ended the previous line adds no line.
        if (got > 0 && text.empty())
            continue;
        const std::string line = text + "\r\n";
        if (!out.write(line.data(), line.size(), result.error))
            break;
        ++result.lines;
        if (got == 0)
            break;
    }

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

    if (result.error.empty() && result.bytes == 0) {
        result.error =
            "no plot arrived: the instrument did not start plotting within 100 s "
            "(press its HARDCOPY key after answering Yes)";
    }
    if (result.error.empty() && !out.commit(result.error))
        return result;
    say(status, result.error.empty() ? "hardcopy taken." : "no plot received.");
    return result;
}

PlotterResult Plotter(bus::GpibDriver& driver, bus::UserInterface& ui, const StatusFn& status,
                      const std::string& offerText, const std::string& fileName) {
    PlotterResult result;
    say(status, "starting plotter emulation...");
    const bus::MessageResult answer = ui.messageBox(bus::MessageIcon::Question, "PLEASE SELECT",
                                                    offerText, bus::MessageButtons::YesNo);
    if (answer != bus::MessageResult::Yes)
        return result;
    result.accepted = true;
    say(status, "waiting for hardcopy startup...");
    result.capture = CapturePlot(driver, fileName, status);
    return result;
}

}  // namespace benchcap::hardcopy
