#include <algorithm>
#include <ostream>

#include "bus/identification.h"
#include "bus/session.h"
#include "bus/text.h"
#include "cli/cli.h"
#include "cli/command_options.h"
#include "cli/json.h"

namespace benchcap::cli {

int cmdIdn(CliContext& context, const std::vector<std::string>& args) {
    std::string addressText;
    bool json = false;
    CommandOptions options("idn");
    options.argument("ADDRESS", addressText, "the instrument's bus address, 1..30")
        .flag("--json", json, "print one JSON object");
    if (const std::optional<int> done = options.parse(context.out, context.err, args))
        return *done;
    const std::optional<int> address = addressArgument(context, "idn", addressText);
    if (!address)
        return kExitUsage;
    const std::unique_ptr<CliInstrument> device = openInstrument(context, *address);
    if (!device)
        return kExitUsage;
    bus::CurrentInstrument& instrument = device->instrument;
    bus::Session& session = device->session;
    bus::GpibDriver* driver = &session.driver();
    const bool ready = instrument.IsReady;

    std::string hardcopyDrive;
    bool firmwareOk = false;
    std::string message;
    if (instrument.IsReady) {
        context.ui.setQuiet(json);
        firmwareOk = bus::CheckFirmware(instrument, hardcopyDrive, context.ui);
        if (!firmwareOk && !context.ui.shown().empty())
            message = context.ui.shown().back();
    }
    const std::string idn = withoutNulFilling(session.lastReply());
    // A silent or failing instrument has no identity to list: why not, and nothing else.
    if (instrument.ModelName == bus::kModelNoAnswer) {
        const bus::DriverStatus last = driver->status();
        // The bus layer's or the driver's own account first (a gateway names itself), then
        // plain silence.
        const std::string why = !session.opened()                ? session.opened().error()
                                : !driver->lastProblem().empty() ? bus::driverErrorText(*driver)
                                : (last.ibsta & bus::ibsta_bits::TIMO)
                                    ? std::string("no answer to *IDN? within the time-out")
                                : (last.ibsta & bus::ibsta_bits::ERR)
                                    ? bus::driverErrorText(*driver)
                                    : std::string();
        session.GoToLocal();
        if (json) {
            JsonObject o;
            o.add("address", *address)
                .add("error", "No device was found on GPIB " + std::to_string(*address))
                .add("cause", why);
            context.out << o.str() << '\n';
        } else {
            context.err << "No device was found on GPIB " << *address << '\n';
            // When the bus layer failed, the instrument was never asked: say why.
            if (!why.empty())
                context.err << why << '\n';
        }
        return kExitNoAnswer;
    }
    session.GoToLocal();

    if (json) {
        JsonObject o;
        o.add("address", *address)
            .add("idn", idn)
            .add("model", instrument.ModelName)
            .add("full_support", instrument.FullSupport)
            .add("ready", ready)
            .add("firmware", instrument.FirmwareVersion)
            .add("firmware_ok", firmwareOk)
            .add("hardcopy_drive", hardcopyDrive)
            .add("message", message);
        context.out << o.str() << '\n';
    } else {
        context.out << "address:        " << *address << '\n'
                    << "idn:            " << idn << (idn.empty() || idn.back() != '\n' ? "\n" : "")
                    << "model:          " << instrument.ModelName << '\n'
                    << "full support:   " << (instrument.FullSupport ? "yes" : "no") << '\n'
                    << "firmware:       " << instrument.FirmwareVersion << '\n'
                    << "firmware ok:    " << (firmwareOk ? "yes" : "no") << '\n'
                    << "hardcopy drive: " << hardcopyDrive << '\n';
    }
    if (instrument.ModelName == bus::kModelUnknown)
        return kExitNoAnswer;
    return kExitDone;
}

namespace {

namespace sta = bus::ibsta_bits;

// What a failed call says: the driver's cause, with the bytes that came before it.
std::string brokeOff(const bus::GpibDriver& driver, int64_t got) {
    return "the answer broke off after " + std::to_string(got) +
           " bytes: " + bus::driverErrorText(driver);
}

// Streams the whole answer to `out`, read after read, until the instrument marks its end.
// Memory stays flat whatever the instrument sends, and the whole read ends within the
// handle's time-out, as one read on a board does: an answer that never ends is cut there.
// Empty when it ended; otherwise why not. `written` counts the bytes passed on.
std::string streamWholeAnswer(bus::Session& session, bus::Clock& clock, std::ostream& out,
                              int64_t& written) {
    bus::GpibDriver& driver = session.driver();
    int code = 0;
    const int64_t budget =
        driver.ibask(session.instrument().DeviceHandle, bus::ibc::TMO, &code) & sta::ERR
            ? bus::timeoutMicros(bus::timeout_codes::T1s)
            : bus::timeoutMicros(code);
    const int64_t deadline = clock.nowMicros() + budget;
    std::string piece(64 * 1024, '\0');
    for (;;) {
        const int16_t status = session.ReadBlock(piece.data(), static_cast<long>(piece.size()));
        if (status == 0)
            return "the read was kept off the bus";
        const int32_t got = driver.status().ibcntl;
        const auto n =
            static_cast<size_t>(std::clamp<int64_t>(got, 0, static_cast<int64_t>(piece.size())));
        out.write(piece.data(), static_cast<std::streamsize>(n));
        written += static_cast<int64_t>(n);
        if (session.interrupted())
            return "stopped by a signal after " + std::to_string(written) + " bytes";
        // Silence ends an answer that has no end mark; any other failure breaks it off.
        if (status & sta::ERR)
            return (status & sta::TIMO) ? std::string() : brokeOff(driver, written);
        if ((status & sta::END) || n == 0)
            return {};
        if (clock.nowMicros() >= deadline) {
            return "the answer did not end within the handle's time-out (" +
                   std::to_string(budget / 1000) + " ms); " + std::to_string(written) +
                   " bytes were passed on";
        }
    }
}

}  // namespace

int cmdQuery(CliContext& context, const std::vector<std::string>& args) {
    std::string addressText;
    std::string command;
    bool raw = false;
    CommandOptions options("query");
    options.argument("ADDRESS", addressText, "the instrument's bus address, 1..30")
        .argument("COMMAND", command, "the command whose answer is printed")
        .flag("--raw", raw, "read the whole answer, block after block, as it comes");
    if (const std::optional<int> done = options.parse(context.out, context.err, args))
        return *done;
    const std::optional<int> address = addressArgument(context, "query", addressText);
    if (!address)
        return kExitUsage;
    const std::unique_ptr<CliInstrument> device = openInstrument(context, *address, Greeting::Open);
    if (!device)
        return kExitUsage;
    bus::CurrentInstrument& instrument = device->instrument;
    bus::Session& session = device->session;
    bus::GpibDriver* driver = &session.driver();
    const std::string noAnswer =
        "No answer from GPIB " + std::to_string(*address) + " to " + command;
    if (const Status& opened = session.opened(); !opened) {
        context.err << noAnswer << '\n' << opened.error() << '\n';
        return kExitNoAnswer;
    }
    // Any instrument, not only a recognised one, may be asked.
    instrument.IsReady = true;
    // A command the instrument did not take has no answer to wait for.
    session.WriteDevice(command);
    if (driver->status().ibsta & sta::ERR) {
        const std::string why = bus::driverErrorText(*driver);
        session.GoToLocal();
        context.err << noAnswer << '\n' << "the command was not sent: " << why << '\n';
        return kExitNoAnswer;
    }
    if (raw) {
        int64_t written = 0;
        const std::string failed =
            streamWholeAnswer(session, context.clock(), context.out, written);
        session.GoToLocal();
        if (written == 0 && failed.empty()) {
            context.err << noAnswer << '\n';
            return kExitNoAnswer;
        }
        if (!failed.empty()) {
            context.err << "benchcap-cli query: " << failed << '\n';
            return kExitNoAnswer;
        }
        return kExitDone;
    }
    std::string reply(bus::kReplyLength, '\0');
    const int16_t status = session.ReadBlock(reply.data(), static_cast<long>(reply.size()));
    const bus::DriverStatus read = driver->status();
    const std::string answer = withoutNulFilling(std::string(bus::TrimBlanks(reply)));
    session.GoToLocal();
    // A time-out with nothing read is silence; any other failure is the driver's to explain,
    // and what came before it is not passed off as the answer.
    const bool silent = (status & sta::TIMO) && read.ibcntl <= 0;
    if (answer.empty() || silent) {
        context.err << noAnswer << '\n';
        // A gateway or adapter that knows more (it went away, it refused) says so.
        if (!driver->lastProblem().empty())
            context.err << bus::driverErrorText(*driver) << '\n';
        return kExitNoAnswer;
    }
    if (status & sta::ERR) {
        context.err << noAnswer << '\n' << brokeOff(*driver, read.ibcntl) << '\n';
        return kExitNoAnswer;
    }
    context.out << answer;
    if (answer.back() != '\n')
        context.out << '\n';
    // A full reply buffer without the end mark: the instrument had more to say.
    if (read.ibcntl >= static_cast<int32_t>(bus::kReplyLength) && (status & sta::END) == 0) {
        context.err << "benchcap-cli query: the answer was cut after " << bus::kReplyLength
                    << " bytes; use --raw to read all of it\n";
    }
    return kExitDone;
}

}  // namespace benchcap::cli
