#pragma once

// What the LAN emulator commands share: the bench of --bench, the listener of --listen and
// serving until a stop signal.

#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <thread>

#include "cli/cli.h"
#include "cli/interrupt.h"
#include "sim/adapter_server.h"
#include "sim/bench_backend.h"
#include "sim/bench_config.h"

namespace benchcap::cli::lansim {

// The bench of --bench (the built-in one without it); nullopt after saying why not.
inline std::optional<sim::BenchConfig> benchFor(CliContext& context, const char* command,
                                                const std::optional<std::string>& file) {
    if (!file)
        return sim::builtinBench();
    Result<sim::BenchConfig> loaded = sim::loadBenchFile(*file);
    if (!loaded) {
        context.err << "benchcap-cli " << command << ": " << loaded.error() << '\n';
        return std::nullopt;
    }
    return std::move(loaded.value());
}

// "HOST:PORT" as --listen gives it, bound; nullopt after saying why not.
inline std::optional<sim::Listener> listenOn(CliContext& context, const char* command,
                                             const std::string& text, int& exitCode) {
    const size_t colon = text.rfind(':');
    const std::optional<int> port = colon == std::string::npos
                                        ? std::nullopt
                                        : parseBoundedInt(text.substr(colon + 1), 0, 65535);
    if (!port) {
        context.err << "benchcap-cli " << command << ": --listen needs HOST:PORT, not '" << text
                    << "'\n";
        exitCode = kExitUsage;
        return std::nullopt;
    }
    Result<sim::Listener> bound = sim::listenTcp(text.substr(0, colon), *port);
    if (!bound) {
        context.err << "benchcap-cli " << command << ": " << bound.error() << '\n';
        exitCode = kExitNoAnswer;
        return std::nullopt;
    }
    return bound.value();
}

// Runs `serve` until SIGINT, SIGTERM or SIGHUP makes `stop` end it.
template <class Server>
void serveUntilInterrupted(Server& server, const std::function<void()>& serve) {
    installInterruptHandlers();
    std::thread watcher([&] {
        while (!interruptRequested())
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        server.stop();
    });
    serve();
    watcher.join();
}

}  // namespace benchcap::cli::lansim
