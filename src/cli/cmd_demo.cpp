#include <algorithm>
#include <ostream>

#include "bus/identification.h"
#include "bus/session.h"
#include "cli/cli.h"
#include "sim/bench_config.h"

namespace benchcap::cli {

// The unattended job on a simulated bench: every instrument of the bench is identified
// as an instrument command would do it.
int cmdDemo(CliContext& context, const std::vector<std::string>& args) {
    if (!args.empty()) {
        context.err << "usage: benchcap-cli [--interface sim[:BENCHFILE]] demo\n";
        return kExitUsage;
    }
    const std::string& choice = context.interfaceChoice();
    sim::BenchConfig bench;
    if (choice.rfind("sim:", 0) == 0) {
        sim::BenchLoadResult loaded = sim::loadBenchFile(choice.substr(4));
        if (!loaded.error.empty()) {
            context.err << "benchcap-cli: " << loaded.error << '\n';
            return kExitUsage;
        }
        bench = loaded.config;
    } else if (choice == "sim" || choice.empty()) {
        bench = sim::builtinBench();
    } else {
        context.err
            << "benchcap-cli demo: runs on a simulated bench: --interface sim[:BENCHFILE]\n";
        return kExitUsage;
    }
    bus::GpibDriver* driver = context.driver();
    if (!driver)
        return kExitUsage;

    context.out << "Benchcap demo on " << bench.source << "\n\n";
    context.ui.setQuiet(true);
    bus::CurrentInstrument instrument;
    bus::Session session(*driver, instrument);
    for (const auto& entry : bench.instruments) {
        bus::SelectInstrument(instrument, static_cast<int16_t>(entry.board),
                              static_cast<int16_t>(entry.address));
        session.OpenDevice();
        session.IdentifyDevice();
        std::string drive;
        std::string verdict;
        if (!instrument.IsReady) {
            verdict = instrument.ModelName == "TMO" ? "no answer" : "not recognised";
        } else {
            verdict = bus::CheckFirmware(instrument, drive, context.ui) ? "firmware ok"
                                                                        : "firmware too old";
            verdict += instrument.FullSupport ? ", full support" : ", plotter emulation only";
        }
        session.GoToLocal();
        std::string idn = withoutNulFilling(session.lastReply());
        while (!idn.empty() && (idn.back() == '\n' || idn.back() == '\r'))
            idn.pop_back();
        context.out << "GPIB" << entry.board << " address " << (entry.address < 10 ? " " : "")
                    << entry.address << "  " << entry.kind
                    << std::string(18 - std::min<size_t>(18, entry.kind.size()), ' ')
                    << instrument.ModelName << "  " << verdict;
        if (!idn.empty())
            context.out << "  [" << idn << "]";
        context.out << '\n';
    }
    return kExitDone;
}

}  // namespace benchcap::cli
