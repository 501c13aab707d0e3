#include <charconv>
#include <ostream>

#include "cli/cli.h"
#include "cli/command_options.h"
#include "cli/json.h"
#include "scanner/scan_iec.h"

namespace benchcap::cli {
namespace {

// Time-out codes a scan may use: 1 (10 us) to 17 (1000 s). 0 (no time-out) is a valid
// driver setting but would leave the scan waiting forever at the first silent listener.
std::optional<int> parseTimeoutCode(std::string_view text) {
    int value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size() || value < 1 || value > 17) {
        return std::nullopt;
    }
    return value;
}

// "START:STOP", both time-out codes, START not above STOP.
std::optional<std::pair<int, int>> parseTimeouts(std::string_view value) {
    const size_t colon = value.find(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    const auto first = parseTimeoutCode(value.substr(0, colon));
    const auto last = parseTimeoutCode(value.substr(colon + 1));
    if (!first || !last || *first > *last)
        return std::nullopt;
    return std::pair{*first, *last};
}

// Instrument texts on one line: control characters, the backslash and bytes above 0x7F
// escaped, so an answer with its line feed (or any garbage) keeps the table readable.
std::string oneLine(std::string_view bytes) {
    static const char* const hex = "0123456789ABCDEF";
    std::string out;
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20 || c >= 0x7F) {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 0xF];
        } else {
            out += ch;
        }
    }
    return out;
}

using Scan = scanner::ScanController;

void printScanJson(std::ostream& out, const Scan& scan) {
    std::string devices;
    for (int16_t a = Scan::kFirstAddress; a <= Scan::kLastAddress; ++a) {
        JsonObject d;
        d.add("address", static_cast<int>(a))
            .add("type", static_cast<long long>(scan.deviceType(a)))
            .add("colour", scanner::LedColourName(scan.led(a).colour))
            .add("tooltip", scan.led(a).tooltip)
            .add("info", scan.DeviceInfo(a))
            .add("idn", scan.IDAnswer(a))
            .add("options", scan.OptionList(a));
        devices += (devices.empty() ? "" : ", ") + d.str();
    }
    JsonObject o;
    o.add("board_id", static_cast<int>(scan.BoardID()))
        .add("address_line", scan.addressText())
        .add("answer_line", scan.answerText())
        .add("board_failure", scan.boardFailure())
        .addRaw("devices", "[" + devices + "]");
    out << o.str() << '\n';
}

void printScanTable(std::ostream& out, const Scan& scan) {
    out << "addr\ttype\tcolour\ttooltip\tinfo\tidn\toptions\n";
    for (int16_t a = Scan::kFirstAddress; a <= Scan::kLastAddress; ++a) {
        out << (a < 10 ? "0" : "") << a << '\t' << scan.deviceType(a) << '\t'
            << scanner::LedColourName(scan.led(a).colour) << '\t' << oneLine(scan.led(a).tooltip)
            << '\t' << oneLine(scan.DeviceInfo(a)) << '\t' << oneLine(scan.IDAnswer(a)) << '\t'
            << oneLine(scan.OptionList(a)) << '\n';
    }
    out << "board:\t" << scan.BoardID() << '\n'
        << "Address:\t" << scan.addressText() << '\n'
        << "Answer:\t" << scan.answerText() << '\n';
}

}  // namespace

int cmdScan(CliContext& context, const std::vector<std::string>& args) {
    int start = bus::timeout_codes::T1s;
    int stop = bus::timeout_codes::T3s;
    std::optional<int> board;
    bool json = false;
    std::optional<std::string> timeouts;
    std::optional<std::string> boardText;
    std::optional<std::string> config;
    CommandOptions options("scan");
    options.value("--timeouts", timeouts, "START:STOP", "time-out codes 1..17 to try, in order")
        .value("--board", boardText, "N", "the board GPIB0..GPIB9 to scan")
        .value("--config", config, "DIR", "the folder of your recipes.yaml")
        .flag("--json", json, "print one JSON object");
    if (const std::optional<int> done = options.parse(context.out, context.err, args))
        return *done;
    if (boardText) {
        // The scan looks for boards GPIB0 to GPIB9 only.
        board = parseBoundedInt(*boardText, 0, 9);
        if (!board) {
            context.err << "benchcap-cli scan: --board takes a board index 0..9, not '"
                        << *boardText << "'\n";
            return kExitUsage;
        }
    }
    if (timeouts) {
        const std::optional<std::pair<int, int>> range = parseTimeouts(*timeouts);
        if (!range) {
            context.err << "benchcap-cli scan: --timeouts takes two time-out codes 1..17 as "
                           "START:STOP with START not above STOP (11 = 1 s, 12 = 3 s), not '"
                        << *timeouts << "'\n";
            return kExitUsage;
        }
        start = range->first;
        stop = range->second;
    }
    bus::GpibDriver* driver = context.driver();
    if (!driver)
        return kExitUsage;
    if (board) {
        // With one board the scan takes it without asking: a board asked for that is not
        // there must not turn into a scan of another one.
        const std::string name = "GPIB" + std::to_string(*board);
        if (driver->ibfind(name) < 0) {
            context.err << "benchcap-cli scan: no board " << name << " on this interface ("
                        << bus::boardFailureText(*board, "ibfind", driver->status()) << ")\n";
            return kExitNoAnswer;
        }
        // The board question comes only with two or more boards; the answer waits for it.
        context.ui.queueInput(std::to_string(*board));
    }

    // Instruments of other makers that a screenshot recipe takes show as known.
    const std::optional<recipes::RecipeBook> book = loadRecipes(context, "scan", config);
    if (!book)
        return kExitUsage;
    scanner::ScanController scan(*driver, context.clock(), context.ui);
    scan.setRecipeLookup([&book](std::string_view idn) {
        const recipes::Recipe* row = book->match(idn);
        return row ? row->name : std::string();
    });
    scan.setStartTimeOut(static_cast<int16_t>(start));
    scan.setStopTimeOut(static_cast<int16_t>(stop));
    scan.ScanIECBus();

    if (json)
        printScanJson(context.out, scan);
    else
        printScanTable(context.out, scan);
    if (scan.BoardID() < 0) {
        if (!json) {
            context.err << "benchcap-cli scan: " << scan.addressText() << '\n';
            if (!scan.boardFailure().empty())
                context.err << scan.boardFailure() << '\n';
        }
        return kExitNoAnswer;
    }
    return kExitDone;
}

}  // namespace benchcap::cli
