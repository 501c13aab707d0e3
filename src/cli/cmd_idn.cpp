#include <ostream>

#include "bus/identification.h"
#include "bus/session.h"
#include "cli/cli.h"
#include "cli/json.h"

namespace benchcap::cli {

int cmdIdn(CliContext& context, const std::vector<std::string>& args) {
    std::optional<int> address;
    bool json = false;
    for (const auto& a : args) {
        if (a == "--json") {
            json = true;
        } else if (!address) {
            address = addressArgument(context, "idn", a);
            if (!address)
                return kExitUsage;
        } else {
            context.err << "benchcap-cli idn: unexpected argument '" << a << "'\n";
            return kExitUsage;
        }
    }
    if (!address) {
        context.err << "usage: benchcap-cli idn ADDRESS [--json]\n";
        return kExitUsage;
    }
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
        if (!json)
            context.err << "No device was found on GPIB " << *address << '\n';
        return kExitNoAnswer;
    }
    if (instrument.ModelName == bus::kModelUnknown)
        return kExitNoAnswer;
    return kExitDone;
}

int cmdQuery(CliContext& context, const std::vector<std::string>& args) {
    if (args.size() != 2) {
        context.err << "usage: benchcap-cli query ADDRESS COMMAND\n";
        return kExitUsage;
    }
    const std::optional<int> address = addressArgument(context, "query", args[0]);
    if (!address)
        return kExitUsage;
    bus::GpibDriver* driver = context.driver();
    if (!driver)
        return kExitUsage;
    bus::CurrentInstrument instrument;
    bus::Session session(*driver, instrument);
    bus::SelectInstrument(instrument, 0, static_cast<int16_t>(*address));
    session.OpenDevice();
    // Any instrument, not only a recognised one, may be asked.
    instrument.IsReady = true;
    const std::string answer = withoutNulFilling(session.QueryDevice(args[1]));
    session.GoToLocal();
    if (answer.empty()) {
        context.err << "No answer from GPIB " << *address << " to " << args[1] << '\n';
        return kExitNoAnswer;
    }
    context.out << answer;
    if (answer.back() != '\n')
        context.out << '\n';
    return kExitDone;
}

}  // namespace benchcap::cli
