#include "interfaces/interface_table.h"

#include <array>
#include <cstdlib>
#include <utility>

#include "bus/adapter/prologix_driver.h"
#include "bus/lan/lan_driver.h"
#include "bus/library_driver.h"
#include "interfaces/backend.h"
#include "sim/bench_backend.h"

namespace benchcap::interfaces {

namespace {

Backend onRealClock(std::unique_ptr<bus::GpibDriver> driver, std::string description) {
    Backend backend;
    backend.description = std::move(description);
    backend.driver = std::move(driver);
    backend.clock = std::make_shared<bus::RealClock>();
    return backend;
}

Status noArgument(const std::string&, InterfaceChoice&) {
    return {};
}

Backend makeLibrary(const InterfaceChoice&, bool) {
    auto library = std::make_unique<bus::LibraryDriver>();
    const std::string name =
        library->libraryName().empty() ? std::string("unavailable") : library->libraryName();
    return onRealClock(std::move(library), "library (" + name + ")");
}

Status parseSim(const std::string& argument, InterfaceChoice& choice) {
    choice.benchFile = argument;
    return {};
}

Backend makeSim(const InterfaceChoice& choice, bool forceVirtualTime) {
    Backend backend;
    Result<sim::OpenedBench> bench = sim::openBench(choice.benchFile, forceVirtualTime);
    if (!bench) {
        backend.status = fail(bench.error());
        return backend;
    }
    backend.description = "sim (" + bench->source + ")";
    backend.driver = std::move(bench->driver);
    backend.clock = std::move(bench->clock);
    return backend;
}

Status parsePrologix(const std::string& argument, InterfaceChoice& choice) {
    Result<bus::adapter::AdapterAddress> address = bus::adapter::parseAdapterAddress(argument);
    if (!address)
        return fail(address.error());
    choice.adapter = std::move(address.value());
    return {};
}

Backend makePrologix(const InterfaceChoice& choice, bool) {
    return onRealClock(std::make_unique<bus::adapter::PrologixDriver>(choice.adapter),
                       "prologix (" + choice.adapter.text() + ")");
}

// The adapter's version when it answers: the first question of a bug report.
std::string reachPrologix(const InterfaceChoice& choice) {
    bus::adapter::PrologixDriver adapter(choice.adapter);
    Status connected = adapter.connect();
    return connected ? adapter.adapterVersion() : connected.error();
}

Status parseVxi11(const std::string& argument, InterfaceChoice& choice) {
    Result<bus::lan::GatewayAddress> gateway = bus::lan::parseGatewayAddress(argument);
    if (!gateway)
        return fail(gateway.error());
    choice.gateway = std::move(gateway.value());
    return {};
}

Backend makeVxi11(const InterfaceChoice& choice, bool) {
    return onRealClock(bus::lan::makeGatewayDriver(choice.gateway),
                       "vxi11 (" + choice.gateway.text() + ")");
}

// Whether the gateway answers is the first question of a bug report over the LAN.
std::string reachVxi11(const InterfaceChoice& choice) {
    const std::string why = bus::lan::makeGatewayDriver(choice.gateway)->unavailableReason();
    return why.empty() ? std::string("answers") : why;
}

Status parseLan(const std::string& argument, InterfaceChoice& choice) {
    choice.lanBusFile = argument;
    return {};
}

Backend makeLan(const InterfaceChoice& choice, bool) {
    Result<bus::lan::LanBusMap> map = bus::lan::loadLanBusFile(choice.lanBusFile);
    if (!map) {
        Backend backend;
        backend.status = fail(map.error());
        return backend;
    }
    return onRealClock(bus::lan::makeLanBusDriver(std::move(map.value()), choice.lanBusFile),
                       "lan (" + choice.lanBusFile + ")");
}

Status parseReplay(const std::string& argument, InterfaceChoice& choice) {
    choice.replayFile = argument;
    return {};
}

Backend makeReplay(const InterfaceChoice& choice, bool) {
    Backend backend;
    auto replay = std::make_unique<bus::log::ReplayDriver>(choice.replayFile);
    backend.description = "replay (" + choice.replayFile + ")";
    backend.replay = replay.get();
    backend.driver = std::move(replay);
    backend.clock = std::make_shared<bus::VirtualClock>();  // time-outs cost nothing
    return backend;
}

using Kind = InterfaceChoice::Kind;
using Takes = InterfaceKind::Takes;

// In the order every list names them.
const std::array<InterfaceKind, 6> kInterfaces = {{
    {.kind = Kind::Library,
     .name = "library",
     .takes = Takes::Nothing,
     .synopsis = "library",
     .choices = "library",
     .brief = "library",
     .windowHelp = "library (the NI-488.2 driver library, the\ndefault)",
     .parse = noArgument,
     .make = makeLibrary},
    {.kind = Kind::Sim,
     .name = "sim",
     .takes = Takes::OptionalFile,
     .synopsis = "sim[:BENCHFILE]",
     .choices = "sim, sim:BENCHFILE",
     .brief = "sim[:BENCHFILE]",
     .windowHelp = ", sim[:BENCHFILE] (a simulated bench)",
     .parse = parseSim,
     .make = makeSim},
    {.kind = Kind::Prologix,
     .name = "prologix",
     .takes = Takes::Address,
     .synopsis = "prologix:HOST[:PORT]|prologix:/dev/TTY",
     .choices = "prologix:HOST[:PORT], prologix:/dev/tty...",
     .brief = "a \"++\" adapter",
     .windowHelp =
         ", or a \"++\" USB/\nEthernet adapter: prologix:HOST[:PORT] or prologix:/dev/ttyUSB0",
     .parse = parsePrologix,
     .make = makePrologix,
     .reachLabel = "GPIB adapter",
     .reach = reachPrologix},
    {.kind = Kind::Vxi11,
     .name = "vxi11",
     .takes = Takes::Address,
     .synopsis = "vxi11:HOST[:PORT][/gpibN]",
     .choices = "vxi11:HOST[:PORT][/gpibN]",
     .brief = "vxi11:HOST",
     .windowHelp = ",\nover the LAN: vxi11:HOST[:PORT][/gpibN] (a VXI-11 gateway)",
     .parse = parseVxi11,
     .make = makeVxi11,
     .reachLabel = "VXI-11 gateway",
     .reach = reachVxi11},
    {.kind = Kind::Lan,
     .name = "lan",
     .takes = Takes::File,
     .synopsis = "lan:FILE",
     .choices = "lan:FILE",
     .brief = "lan:FILE",
     .windowHelp = " or\nlan:FILE (LAN instruments, see docs/lan.md)",
     .parse = parseLan,
     .make = makeLan},
    // A replay is for reproducing a run; the one-line help leaves it out.
    {.kind = Kind::Replay,
     .name = "replay",
     .takes = Takes::File,
     .synopsis = "replay:BUSLOG",
     .choices = "replay:BUSLOG",
     .brief = "",
     .windowHelp = ", or\nreplay:BUSLOG (answers from a bus log)",
     .parse = parseReplay,
     .make = makeReplay},
}};

// The row `text` is written for and what follows its "NAME:"; none when no row takes it.
const InterfaceKind* rowOf(const std::string& text, std::string& argument) {
    for (const InterfaceKind& row : kInterfaces) {
        const std::string name = row.name;
        if (text == name && (row.takes == Takes::Nothing || row.takes == Takes::OptionalFile)) {
            argument.clear();
            return &row;
        }
        if (row.takes == Takes::Nothing || text.rfind(name + ":", 0) != 0)
            continue;
        argument = text.substr(name.size() + 1);
        if (row.takes != Takes::File || !argument.empty())
            return &row;
    }
    return nullptr;
}

// "a, b or c" of the texts that are not empty.
template <class Field>
std::string listed(Field field) {
    std::string list;
    std::string last;
    for (const InterfaceKind& row : kInterfaces) {
        const std::string text = row.*field;
        if (text.empty())
            continue;
        if (!last.empty())
            list += (list.empty() ? "" : ", ") + last;
        last = text;
    }
    return list.empty() ? last : list + " or " + last;
}

}  // namespace

std::span<const InterfaceKind> interfaceKinds() {
    return kInterfaces;
}

Result<InterfaceChoice> parseInterfaceChoice(const std::string& text) {
    std::string argument;
    const InterfaceKind* row = rowOf(text, argument);
    if (!row)
        return fail("unknown interface '" + text + "': use " + listed(&InterfaceKind::choices));
    InterfaceChoice choice;
    choice.kind = row->kind;
    if (Status read = row->parse(argument, choice); !read)
        return fail(read.error());
    return choice;
}

std::string chosenInterface(const std::string& given) {
    if (!given.empty())
        return given;
    const char* env = std::getenv("BENCHCAP_INTERFACE");
    return env && *env ? env : "library";
}

std::string interfaceSynopsis() {
    std::string synopsis;
    for (const InterfaceKind& row : kInterfaces)
        synopsis += (synopsis.empty() ? "" : "|") + std::string(row.synopsis);
    return synopsis;
}

std::string interfaceBrief() {
    return listed(&InterfaceKind::brief);
}

std::string interfaceWindowHelp(const std::string& indent) {
    std::string help;
    for (const InterfaceKind& row : kInterfaces) {
        for (const char* c = row.windowHelp; *c; ++c)
            help += *c == '\n' ? "\n" + indent : std::string(1, *c);
    }
    return help;
}

std::string reachabilityReport(const std::string& text) {
    std::string argument;
    const InterfaceKind* row = rowOf(text, argument);
    if (!row || !row->reach)
        return {};
    Result<InterfaceChoice> choice = parseInterfaceChoice(text);
    return std::string(row->reachLabel) + ": " + argument + ": " +
           (choice ? row->reach(*choice) : choice.error()) + "\n";
}

}  // namespace benchcap::interfaces
