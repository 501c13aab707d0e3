#include <algorithm>
#include <filesystem>
#include <ostream>

#include "bus/identification.h"
#include "bus/session.h"
#include "cli/cli.h"
#include "cli/command_options.h"
#include "interfaces/interface_table.h"
#include "sim/bench_config.h"

namespace benchcap::cli {
namespace {

// Identifies every instrument of the bench as an instrument command would.
void identifyAll(CliContext& context, bus::GpibDriver& driver, const sim::BenchConfig& bench) {
    context.ui.setQuiet(true);
    bus::CurrentInstrument instrument;
    bus::Session session(driver, instrument);
    for (const auto& entry : bench.instruments) {
        session.SelectAndIdentify(static_cast<int16_t>(entry.board),
                                  static_cast<int16_t>(entry.address));
        std::string drive;
        std::string verdict;
        if (!instrument.IsReady) {
            verdict = instrument.ModelName == bus::kModelNoAnswer ? "no answer" : "not recognised";
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
    context.ui.setQuiet(false);
}

const sim::InstrumentConfig* firstOfKind(const sim::BenchConfig& bench, const std::string& kind) {
    for (const auto& entry : bench.instruments) {
        if (entry.kind == kind && entry.board == 0)
            return &entry;
    }
    return nullptr;
}

// The demo's jobs, below; each returns the number that failed.
int takeHardcopies(CliContext& context, const sim::BenchConfig& bench,
                   const std::filesystem::path& outDir);
int readTraces(CliContext& context, const sim::BenchConfig& bench,
               const std::filesystem::path& outDir);

}  // namespace

// The unattended job on a simulated bench: every instrument is identified, then screen
// hardcopies are taken from an analyzer, a network analyzer and a generator, a plot is
// captured from a plotter-only instrument, each picture is rendered to PNG, and trace 1
// of the analyzers is written as text, all into one output folder.
int cmdDemo(CliContext& context, const std::vector<std::string>& args) {
    std::optional<std::string> outText;
    CommandOptions options("demo");
    options.value("--out", outText, "DIR", "the output folder (benchcap-demo unless given)");
    if (const std::optional<int> done = options.parse(context.out, context.err, args))
        return *done;
    const std::filesystem::path outDir = outText.value_or("benchcap-demo");
    using Kind = interfaces::InterfaceChoice::Kind;
    const Result<interfaces::InterfaceChoice> choice =
        interfaces::parseInterfaceChoice(context.interfaceChoice());
    sim::BenchConfig bench;
    if (choice && choice->kind == Kind::Sim && !choice->benchFile.empty()) {
        Result<sim::BenchConfig> loaded = sim::loadBenchFile(choice->benchFile);
        if (!loaded) {
            context.err << "benchcap-cli: " << loaded.error() << '\n';
            return kExitUsage;
        }
        bench = std::move(loaded.value());
    } else if (choice && choice->kind == Kind::Sim) {
        bench = sim::builtinBench();
    } else {
        context.err
            << "benchcap-cli demo: runs on a simulated bench: --interface sim[:BENCHFILE]\n";
        return kExitUsage;
    }
    bus::GpibDriver* driver = context.driver();
    if (!driver)
        return kExitUsage;
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    if (ec) {
        context.err << "benchcap-cli demo: cannot create " << outDir.string() << ": "
                    << ec.message() << '\n';
        return kExitUsage;
    }

    context.out << "== Benchcap on the " << bench.source << "\n";
    identifyAll(context, *driver, bench);

    const int failures =
        takeHardcopies(context, bench, outDir) + readTraces(context, bench, outDir);
    context.out << "\n== "
                << (failures ? std::to_string(failures) + " job(s) failed" : "all jobs done")
                << "; files in " << outDir.string() << '\n';
    return failures ? kExitNoAnswer : kExitDone;
}

namespace {

// A hardcopy of one instrument of each kind, rendered to PNG; the number that failed.
int takeHardcopies(CliContext& context, const sim::BenchConfig& bench,
                   const std::filesystem::path& outDir) {
    int failures = 0;
    struct Job {
        const char* kind;
        std::vector<std::string> extra;
        const char* ext;
    };
    const Job jobs[] = {
        {"vector-analyzer", {"--format", "WMF"}, "wmf"},
        {"spectrum-analyzer", {"--format", "BMP", "--bw"}, "bmp"},
        {"network-analyzer", {"--format", "WMF"}, "wmf"},
        {"signal-generator", {}, "bmp"},
        {"plotter-only", {"--plotter"}, "hgl"},
    };
    for (const Job& job : jobs) {
        const sim::InstrumentConfig* entry = firstOfKind(bench, job.kind);
        if (!entry)
            continue;
        const std::string address = std::to_string(entry->address);
        const std::filesystem::path file =
            outDir / ("address" + address + "-" + job.kind + "." + job.ext);
        context.out << "\n== hardcopy of address " << address << " (" << job.kind << ") -> "
                    << file.string() << '\n';
        std::vector<std::string> hardcopyArgs = {address};
        hardcopyArgs.insert(hardcopyArgs.end(), job.extra.begin(), job.extra.end());
        hardcopyArgs.insert(hardcopyArgs.end(), {"-o", file.string()});
        if (cmdHardcopy(context, hardcopyArgs) != kExitDone) {
            ++failures;
            continue;
        }
        // Screens and plots alike become pictures anyone can open.
        std::filesystem::path png = file;
        png.replace_extension(".png");
        if (cmdRender(context, {file.string(), "-o", png.string()}) != kExitDone)
            ++failures;
    }
    return failures;
}

// Trace 1 of the first analyzer of each family, as TXT files; the number that failed.
int readTraces(CliContext& context, const sim::BenchConfig& bench,
               const std::filesystem::path& outDir) {
    int failures = 0;
    for (const char* kind : {"vector-analyzer", "network-analyzer"}) {
        const sim::InstrumentConfig* entry = firstOfKind(bench, kind);
        if (!entry)
            continue;
        const std::string address = std::to_string(entry->address);
        const std::filesystem::path file = outDir / ("address" + address + "-trace1.txt");
        context.out << "\n== trace 1 of address " << address << " (" << kind << ") -> "
                    << file.string() << '\n';
        if (cmdTrace(context, {address, "1", "-o", file.string()}) != kExitDone)
            ++failures;
    }
    return failures;
}

}  // namespace

}  // namespace benchcap::cli
