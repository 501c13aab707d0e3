#include "interfaces/backend.h"

#include <cstdlib>

namespace benchcap::interfaces {

Backend makeBackend(const std::string& requested, bool forceVirtualTime) {
    Result<InterfaceChoice> choice = parseInterfaceChoice(chosenInterface(requested));
    if (!choice) {
        Backend backend;
        backend.status = fail(choice.error());
        return backend;
    }
    return makeBackend(choice.value(), forceVirtualTime);
}

Backend makeBackend(const InterfaceChoice& choice, bool forceVirtualTime) {
    for (const InterfaceKind& kind : interfaceKinds()) {
        if (kind.kind == choice.kind)
            return kind.make(choice, forceVirtualTime);
    }
    Backend backend;
    backend.status = fail("unknown interface");
    return backend;
}

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

}  // namespace benchcap::interfaces
