#include "sim/backend.h"

#include <cstdlib>

#include "bus/adapter/prologix_driver.h"
#include "bus/lan/lan_driver.h"
#include "bus/library_driver.h"
#include "sim/sim_bench.h"

namespace benchcap::sim {

Result<InterfaceChoice> parseInterfaceChoice(const std::string& text) {
    InterfaceChoice choice;
    if (text == "library")
        return choice;
    if (text == "sim" || text.rfind("sim:", 0) == 0) {
        choice.kind = InterfaceChoice::Kind::Sim;
        choice.benchFile = text.size() > 4 ? text.substr(4) : std::string();
        return choice;
    }
    if (text.rfind("prologix:", 0) == 0) {
        Result<bus::adapter::AdapterAddress> address =
            bus::adapter::parseAdapterAddress(text.substr(9));
        if (!address)
            return fail(address.error());
        choice.kind = InterfaceChoice::Kind::Prologix;
        choice.adapter = std::move(address.value());
        return choice;
    }
    if (text.rfind("replay:", 0) == 0 && text.size() > 7) {
        choice.kind = InterfaceChoice::Kind::Replay;
        choice.replayFile = text.substr(7);
        return choice;
    }
    if (text.rfind("vxi11:", 0) == 0) {
        Result<bus::lan::GatewayAddress> gateway = bus::lan::parseGatewayAddress(text.substr(6));
        if (!gateway)
            return fail(gateway.error());
        choice.kind = InterfaceChoice::Kind::Vxi11;
        choice.gateway = std::move(gateway.value());
        return choice;
    }
    if (text.rfind("lan:", 0) == 0 && text.size() > 4) {
        choice.kind = InterfaceChoice::Kind::Lan;
        choice.lanBusFile = text.substr(4);
        return choice;
    }
    return fail("unknown interface '" + text +
                "': use library, sim, sim:BENCHFILE, prologix:HOST[:PORT], prologix:/dev/tty..., "
                "vxi11:HOST[:PORT][/gpibN], lan:FILE or replay:BUSLOG");
}

Backend makeBackend(const std::string& requested, bool forceVirtualTime) {
    std::string text = requested;
    if (text.empty()) {
        const char* env = std::getenv("BENCHCAP_INTERFACE");
        text = env && *env ? env : "library";
    }
    Result<InterfaceChoice> choice = parseInterfaceChoice(text);
    if (!choice) {
        Backend backend;
        backend.status = fail(choice.error());
        return backend;
    }
    return makeBackend(choice.value(), forceVirtualTime);
}

Backend makeBackend(const InterfaceChoice& choice, bool forceVirtualTime) {
    Backend backend;
    switch (choice.kind) {
        case InterfaceChoice::Kind::Library: {
            auto library = std::make_unique<bus::LibraryDriver>();
            backend.description = "library (" +
                                  (library->libraryName().empty() ? std::string("unavailable")
                                                                  : library->libraryName()) +
                                  ")";
            backend.driver = std::move(library);
            backend.clock = std::make_shared<bus::RealClock>();
            return backend;
        }
        case InterfaceChoice::Kind::Sim: {
            BenchConfig config;
            if (!choice.benchFile.empty()) {
                Result<BenchConfig> loaded = loadBenchFile(choice.benchFile);
                if (!loaded) {
                    backend.status = fail(loaded.error());
                    return backend;
                }
                config = std::move(loaded.value());
            } else {
                config = builtinBench();
            }
            std::shared_ptr<bus::Clock> clock;
            if (config.realTime && !forceVirtualTime) {
                clock = std::make_shared<bus::RealClock>();
            } else {
                clock = std::make_shared<bus::VirtualClock>();
            }
            backend.description = "sim (" + config.source + ")";
            backend.driver = std::make_unique<SimBench>(config, clock);
            backend.clock = std::move(clock);
            return backend;
        }
        case InterfaceChoice::Kind::Prologix:
            backend.description = "prologix (" + choice.adapter.text() + ")";
            backend.driver = std::make_unique<bus::adapter::PrologixDriver>(choice.adapter);
            backend.clock = std::make_shared<bus::RealClock>();
            return backend;
        case InterfaceChoice::Kind::Replay: {
            auto replay = std::make_unique<bus::log::ReplayDriver>(choice.replayFile);
            backend.description = "replay (" + choice.replayFile + ")";
            backend.replay = replay.get();
            backend.driver = std::move(replay);
            backend.clock = std::make_shared<bus::VirtualClock>();  // time-outs cost nothing
            return backend;
        }
        case InterfaceChoice::Kind::Vxi11:
            backend.description = "vxi11 (" + choice.gateway.text() + ")";
            backend.driver = bus::lan::makeGatewayDriver(choice.gateway);
            backend.clock = std::make_shared<bus::RealClock>();
            return backend;
        case InterfaceChoice::Kind::Lan: {
            Result<bus::lan::LanBusMap> map = bus::lan::loadLanBusFile(choice.lanBusFile);
            if (!map) {
                backend.status = fail(map.error());
                return backend;
            }
            backend.description = "lan (" + choice.lanBusFile + ")";
            backend.driver = bus::lan::makeLanBusDriver(std::move(map.value()), choice.lanBusFile);
            backend.clock = std::make_shared<bus::RealClock>();
            return backend;
        }
    }
    backend.status = fail("unknown interface");
    return backend;
}

}  // namespace benchcap::sim

namespace benchcap::sim {

Status addBusLog(Backend& backend, const std::string& file, bool fullData) {
    if (!backend.driver)
        return {};
    auto logged =
        std::make_unique<bus::log::LoggingDriver>(std::move(backend.driver), backend.clock);
    backend.busLog = logged.get();
    backend.driver = std::move(logged);
    if (file.empty())
        return {};
    return backend.busLog->start(file, fullData, backend.description);
}

std::string busLogChoice(const std::string& option) {
    if (!option.empty())
        return option;
    const char* env = std::getenv("BENCHCAP_BUS_LOG");
    return env ? env : "";
}

}  // namespace benchcap::sim
