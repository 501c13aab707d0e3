// benchcap-cli bus-log summary FILE: per bus address what a bus log holds, for a bug report.
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <map>
#include <ostream>

#include "base/input_file.h"
#include "bus/log/bus_log_format.h"
#include "cli/cli.h"
#include "cli/command_options.h"

namespace benchcap::cli {

namespace {

struct AddressSummary {
    std::string identity;
    long calls = 0;
    int64_t written = 0;
    int64_t read = 0;
    long errors = 0;
    long timeouts = 0;
    int64_t slowest = -1;
    std::string slowestCall;
    bool askedIdentity = false;
};

// Every call is keyed as the log's dev= field names its handle ("GPIB 0/7", a board alone
// "GPIB 0"), so a board's calls by handle, by number (SendIFC) and by name (ibfind) are
// counted together.
std::string addressOf(const bus::log::Record& r) {
    if (auto dev = r.givenValue("dev"))
        return "GPIB " + *dev;
    if (r.call == "ibdev") {
        const std::string sad = r.givenValue("sad").value_or("0");
        return "GPIB " + r.givenValue("board").value_or("?") + "/" +
               r.givenValue("pad").value_or("?") + (sad == "0" ? "" : "/" + sad);
    }
    if (auto board = r.givenValue("board"))
        return "GPIB " + *board;
    if (auto name = r.givenValue("name"); name && name->size() >= 2) {
        // ibfind "GPIB1": the board's number follows the letters, as the logging driver reads it.
        const std::optional<std::string> text =
            bus::log::unescapeBytes(std::string_view(*name).substr(1, name->size() - 2));
        const size_t digits = text ? text->find_first_of("0123456789") : std::string::npos;
        int board = 0;
        if (digits != std::string::npos &&
            std::from_chars(text->data() + digits, text->data() + text->size(), board).ec ==
                std::errc())
            return "GPIB " + std::to_string(board);
    }
    return "handle " + r.givenValue("ud").value_or("?");
}

}  // namespace

int cmdBusLog(CliContext& context, const std::vector<std::string>& args) {
    std::string action;
    std::string file;
    CommandOptions options("bus-log");
    options.argument("ACTION", action, "summary").argument("FILE", file, "the bus log to read");
    if (const std::optional<int> done = options.parse(context.out, context.err, args))
        return *done;
    if (action != "summary") {
        context.err << "benchcap-cli bus-log: unknown action '" << action << "': use summary\n";
        return kExitUsage;
    }
    if (Status readable = checkRegularFile(file, "the bus log"); !readable) {
        context.err << "benchcap-cli bus-log: " << readable.error() << '\n';
        return kExitNoAnswer;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        context.err << "benchcap-cli bus-log: cannot read the bus log " << file << ": "
                    << std::strerror(errno) << '\n';
        return kExitNoAnswer;
    }
    std::map<std::string, AddressSummary> addresses;
    bus::log::LogReader reader(in);
    for (;;) {
        Result<std::optional<bus::log::Record>> next = reader.next();
        if (!next) {
            context.err << "benchcap-cli bus-log: " << next.error() << '\n';
            return kExitNoAnswer;
        }
        if (!next->has_value())
            break;
        const bus::log::Record& r = **next;
        AddressSummary& a = addresses[addressOf(r)];
        ++a.calls;
        if (r.status.ibsta & bus::ibsta_bits::ERR)
            ++a.errors;
        if (r.status.ibsta & bus::ibsta_bits::TIMO)
            ++a.timeouts;
        if (r.call == "ibwrt") {
            a.written += r.status.ibcntl;
            const std::string data = r.givenValue("data").value_or("");
            a.askedIdentity =
                data.find("IDN?") != std::string::npos || data.find("ID?") != std::string::npos;
        } else if (r.call == "ibrd" || r.call == "ibrdf") {
            a.read += r.status.ibcntl;
            if (a.askedIdentity && a.identity.empty() && r.fullData && !r.data.empty())
                a.identity =
                    bus::log::escapeBytes(r.data.substr(0, r.data.find_last_not_of("\r\n") + 1));
            a.askedIdentity = false;
        }
        if (r.duration > a.slowest) {
            a.slowest = r.duration;
            a.slowestCall = "line " + std::to_string(r.line) + " " + r.call;
        }
    }
    if (addresses.empty()) {
        context.err << "benchcap-cli bus-log: the bus log " << file
                    << " holds no calls; a run with --bus-log writes one line per driver call\n";
        return kExitNoAnswer;
    }
    for (const auto& [address, a] : addresses) {
        context.out << address << '\n'
                    << "  identity:  " << (a.identity.empty() ? "-" : a.identity) << '\n'
                    << "  calls:     " << a.calls << '\n'
                    << "  written:   " << a.written << " bytes\n"
                    << "  read:      " << a.read << " bytes\n"
                    << "  errors:    " << a.errors << '\n'
                    << "  time-outs: " << a.timeouts << '\n'
                    << "  slowest:   " << a.slowest << " us (" << a.slowestCall << ")\n";
    }
    return kExitDone;
}

}  // namespace benchcap::cli
