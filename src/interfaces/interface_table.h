#pragma once

#include <span>
#include <string>

#include "base/result.h"
#include "bus/adapter/transport.h"
#include "bus/lan/lan_resource.h"

namespace benchcap::interfaces {

struct Backend;  // interfaces/backend.h

// Which backend a program runs on, as "library", "sim", "sim:BENCHFILE",
// "prologix:HOST[:PORT]", "prologix:/dev/ttyUSB0", "vxi11:HOST[:PORT][/gpibN]", "lan:FILE" or
// "replay:BUSLOG" name it.
struct InterfaceChoice {
    enum class Kind { Library, Sim, Prologix, Replay, Vxi11, Lan };
    Kind kind = Kind::Library;
    std::string benchFile;                 // Sim: empty for the built-in bench
    bus::adapter::AdapterAddress adapter;  // Prologix
    std::string replayFile;                // Replay: the bus log to answer from
    bus::lan::GatewayAddress gateway;      // Vxi11: "vxi11:HOST[:PORT][/gpibN]"
    std::string lanBusFile;                // Lan: "lan:FILE"
};

// One interface a program can run on: how it is written, read, made, told in the help texts
// and checked by --system-info. Every list of interfaces the programs print comes from the
// table of these, and the manual pages are checked against it.
struct InterfaceKind {
    // What may follow the name: nothing ("library"), an optional ":FILE" ("sim",
    // "sim:FILE"), an address its parser checks, empty or not ("prologix:..."), or a file
    // that must be named ("lan:FILE"; "lan:" is no interface).
    enum class Takes { Nothing, OptionalFile, Address, File };

    InterfaceChoice::Kind kind;
    const char* name;  // "library", "sim", "prologix", ...
    Takes takes;
    // The help texts: the programs' usage lines ("sim[:BENCHFILE]", forms apart by "|");
    // the refusal of an unknown interface ("sim, sim:BENCHFILE"); benchcap-cli's one-line
    // option help (empty: named only in the full lists); benchcap --help, joined to the
    // interface before it, a "\n" starting an indented line.
    const char* synopsis;
    const char* choices;
    const char* brief;
    const char* windowHelp;
    // Reads what follows "NAME:" into the choice; fails with what is wrong with it.
    Status (*parse)(const std::string& argument, InterfaceChoice& choice);
    Backend (*make)(const InterfaceChoice& choice, bool forceVirtualTime);
    // --system-info's line for it ("GPIB adapter: ADDRESS: ..."; none when empty) and what
    // it tells: whether the interface answers, and what it is.
    const char* reachLabel = "";
    std::string (*reach)(const InterfaceChoice& choice) = nullptr;
};

std::span<const InterfaceKind> interfaceKinds();

// The one reading of an interface text; fails with the message a user sees ("unknown
// interface '...': use library, sim, ..."; a bad adapter address says what is wrong with it).
Result<InterfaceChoice> parseInterfaceChoice(const std::string& text);

// The interface a program runs on: `given` (--interface), else the environment variable
// BENCHCAP_INTERFACE, else "library".
std::string chosenInterface(const std::string& given);

// The interfaces as the help texts list them: "library|sim[:BENCHFILE]|...",
// "library, sim[:BENCHFILE], a \"++\" adapter, ..." and benchcap --help's paragraph, its
// lines after the first indented by `indent`.
std::string interfaceSynopsis();
std::string interfaceBrief();
std::string interfaceWindowHelp(const std::string& indent);

// --system-info's line about the interface `text` names when it is one that can be asked
// (a "++" adapter, a VXI-11 gateway), with its answer or why there is none; else empty.
std::string reachabilityReport(const std::string& text);

}  // namespace benchcap::interfaces
