#include <algorithm>
#include <ostream>
#include <sstream>

#include "bus/identification.h"
#include "bus/session.h"
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
    bus::GpibDriver* driver = context.driver();
    if (!driver)
        return kExitUsage;

    bus::CurrentInstrument instrument;
    bus::Session session(*driver, instrument);
    session.SelectAndIdentify(0, static_cast<int16_t>(*address));
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
    if (instrument.ModelName == bus::kModelNoAnswer) {
        if (!json) {
            context.err << "No device was found on GPIB " << *address << '\n';
            // When the bus layer failed, the instrument was never asked: say why.
            if (!session.busFailure().empty())
                context.err << session.busFailure() << '\n';
        }
        return kExitNoAnswer;
    }
    if (instrument.ModelName == bus::kModelUnknown)
        return kExitNoAnswer;
    return kExitDone;
}

namespace {

// Reads the whole answer, block after block, until the instrument marks its end, the driver
// fails or a read brings nothing; every byte goes to `out` as it came.
void readWholeAnswer(bus::Session& session, std::ostream& out) {
    std::string block(64 * 1024, '\0');
    for (;;) {
        const int16_t sta = session.ReadBlock(block.data(), static_cast<long>(block.size()));
        if (sta == 0)
            return;  // the session kept the read off the bus
        const int32_t got = session.driver().status().ibcntl;
        const size_t n =
            static_cast<size_t>(std::clamp<int64_t>(got, 0, static_cast<int64_t>(block.size())));
        out.write(block.data(), static_cast<std::streamsize>(n));
        if ((sta & (bus::ibsta_bits::ERR | bus::ibsta_bits::END)) != 0 || n == 0)
            return;
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
    bus::GpibDriver* driver = context.driver();
    if (!driver)
        return kExitUsage;
    bus::CurrentInstrument instrument;
    bus::Session session(*driver, instrument);
    bus::SelectInstrument(instrument, 0, static_cast<int16_t>(*address));
    session.OpenDevice();
    if (!session.busFailure().empty()) {
        context.err << "No answer from GPIB " << *address << " to " << command << '\n'
                    << session.busFailure() << '\n';
        return kExitNoAnswer;
    }
    // Any instrument, not only a recognised one, may be asked.
    instrument.IsReady = true;
    if (raw) {
        session.WriteDevice(command);
        std::ostringstream answer;
        readWholeAnswer(session, answer);
        session.GoToLocal();
        if (answer.view().empty()) {
            context.err << "No answer from GPIB " << *address << " to " << command << '\n';
            return kExitNoAnswer;
        }
        context.out << answer.view();
        return kExitDone;
    }
    const std::string answer = withoutNulFilling(session.QueryDevice(command));
    // A full reply buffer without the end mark: the instrument had more to say.
    const bus::DriverStatus read = driver->status();
    const bool cut = read.ibcntl >= static_cast<int32_t>(bus::kReplyLength) &&
                     (read.ibsta & (bus::ibsta_bits::END | bus::ibsta_bits::ERR)) == 0;
    session.GoToLocal();
    if (answer.empty()) {
        context.err << "No answer from GPIB " << *address << " to " << command << '\n';
        return kExitNoAnswer;
    }
    context.out << answer;
    if (answer.back() != '\n')
        context.out << '\n';
    if (cut) {
        context.err << "benchcap-cli query: the answer was cut after " << bus::kReplyLength
                    << " bytes; use --raw to read all of it\n";
    }
    return kExitDone;
}

}  // namespace benchcap::cli
