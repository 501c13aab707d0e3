#include "sim/backend.h"

#include <cstdlib>

#include "bus/adapter/prologix_driver.h"
#include "bus/library_driver.h"
#include "sim/sim_bench.h"

namespace benchcap::sim {

Backend makeBackend(const std::string& requested, bool forceVirtualTime) {
    std::string choice = requested;
    if (choice.empty()) {
        const char* env = std::getenv("BENCHCAP_INTERFACE");
        choice = env && *env ? env : "library";
    }
    Backend backend;
    if (choice == "library") {
        auto library = std::make_unique<bus::LibraryDriver>();
        backend.description =
            "library (" +
            (library->libraryName().empty() ? std::string("unavailable") : library->libraryName()) +
            ")";
        backend.driver = std::move(library);
        backend.clock = std::make_shared<bus::RealClock>();
        return backend;
    }
    if (choice == "sim" || choice.rfind("sim:", 0) == 0) {
        BenchConfig config;
        if (choice.size() > 4) {
            BenchLoadResult loaded = loadBenchFile(choice.substr(4));
            if (!loaded.error.empty()) {
                backend.error = loaded.error;
                return backend;
            }
            config = std::move(loaded.config);
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
    if (choice.rfind("prologix:", 0) == 0) {
        Result<bus::adapter::AdapterAddress> address =
            bus::adapter::parseAdapterAddress(choice.substr(9));
        if (!address) {
            backend.error = address.error();
            return backend;
        }
        backend.description = "prologix (" + address->text() + ")";
        backend.driver = std::make_unique<bus::adapter::PrologixDriver>(address.value());
        backend.clock = std::make_shared<bus::RealClock>();
        return backend;
    }
    backend.error =
        "unknown interface '" + choice +
        "': use library, sim, sim:BENCHFILE, prologix:HOST[:PORT] or prologix:/dev/tty...";
    return backend;
}

}  // namespace benchcap::sim
