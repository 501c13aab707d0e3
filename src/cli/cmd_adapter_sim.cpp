#include <unistd.h>

#include <chrono>
#include <memory>
#include <optional>
#include <ostream>
#include <thread>

#include "cli/cli.h"
#include "cli/command_options.h"
#include "cli/interrupt.h"
#include "sim/adapter_server.h"
#include "sim/bench_config.h"
#include "sim/sim_bench.h"

namespace benchcap::cli {

namespace {

// Serves the listener, else the terminal, until SIGINT, SIGTERM or SIGHUP; closes both.
void serveUntilInterrupted(sim::AdapterServer& tcpServer,
                           const std::optional<sim::Listener>& listener,
                           const std::optional<sim::PseudoTerminal>& terminal) {
    installInterruptHandlers();
    std::thread watcher([&] {
        while (!interruptRequested())
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        tcpServer.stop();
    });
    if (listener)
        tcpServer.serveListener(listener->fd);
    else
        tcpServer.serveConnection(terminal->masterFd);
    watcher.join();
    if (listener)
        ::close(listener->fd);
    if (terminal) {
        ::close(terminal->masterFd);
        ::close(terminal->keepSlaveFd);
    }
}

}  // namespace

// benchcap-cli adapter-sim: the simulated bench behind a "++" adapter, over TCP and/or a
// pseudo-terminal, until Ctrl+C.
int cmdAdapterSim(CliContext& context, const std::vector<std::string>& args) {
    std::optional<std::string> listenText;
    std::optional<std::string> benchText;
    bool pty = false;
    CommandOptions options("adapter-sim");
    options.value("--listen", listenText, "127.0.0.1:PORT", "serve the adapter over TCP")
        .flag("--pty", pty, "serve the adapter on a pseudo-terminal")
        .value("--bench", benchText, "FILE", "the bench file (the built-in bench unless given)");
    if (const std::optional<int> done = options.parse(context.out, context.err, args))
        return *done;
    const std::string listen = listenText.value_or("");
    const std::string benchFile = benchText.value_or("");
    if (listen.empty() == !pty) {
        context.err << "benchcap-cli adapter-sim: give either --listen 127.0.0.1:PORT or --pty\n";
        return kExitUsage;
    }
    sim::BenchConfig config = sim::builtinBench();
    if (!benchFile.empty()) {
        Result<sim::BenchConfig> loaded = sim::loadBenchFile(benchFile);
        if (!loaded) {
            context.err << "benchcap-cli adapter-sim: " << loaded.error() << '\n';
            return kExitUsage;
        }
        config = std::move(loaded.value());
    }
    // The adapter's time-outs are real; the instruments behind it answer on their own
    // (virtual) clock, so a silent address costs only the adapter's read time-out.
    sim::SimBench bench(config, std::make_shared<bus::VirtualClock>());
    sim::AdapterServer tcpServer(bench);

    std::optional<sim::Listener> listener;
    if (!listen.empty()) {
        const size_t colon = listen.rfind(':');
        const std::optional<int> port = colon == std::string::npos
                                            ? std::nullopt
                                            : parseBoundedInt(listen.substr(colon + 1), 0, 65535);
        if (!port) {
            context.err << "benchcap-cli adapter-sim: --listen needs HOST:PORT, not '" << listen
                        << "'\n";
            return kExitUsage;
        }
        Result<sim::Listener> bound = sim::listenTcp(listen.substr(0, colon), *port);
        if (!bound) {
            context.err << "benchcap-cli adapter-sim: " << bound.error() << '\n';
            return kExitNoAnswer;
        }
        listener = bound.value();
        context.out << "adapter emulator listening on " << listen.substr(0, colon) << ':'
                    << listener->port << " (use --interface prologix:" << listen.substr(0, colon)
                    << ':' << listener->port << ")\n";
    }
    std::optional<sim::PseudoTerminal> terminal;
    if (pty) {
        Result<sim::PseudoTerminal> opened = sim::openPseudoTerminal();
        if (!opened) {
            context.err << "benchcap-cli adapter-sim: " << opened.error() << '\n';
            return kExitNoAnswer;
        }
        terminal = opened.value();
        context.out << "adapter emulator on serial line " << terminal->slavePath
                    << " (use --interface prologix:" << terminal->slavePath << ")\n";
    }
    context.out.flush();
    serveUntilInterrupted(tcpServer, listener, terminal);
    context.out << "adapter emulator stopped\n";
    return kExitDone;
}

}  // namespace benchcap::cli
