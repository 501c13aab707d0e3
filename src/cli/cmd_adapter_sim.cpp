#include <unistd.h>

#include <chrono>
#include <memory>
#include <optional>
#include <ostream>
#include <thread>

#include "cli/cli.h"
#include "cli/interrupt.h"
#include "sim/adapter_server.h"
#include "sim/bench_config.h"
#include "sim/sim_bench.h"

namespace benchcap::cli {

// benchcap-cli adapter-sim: the simulated bench behind a "++" adapter, over TCP and/or a
// pseudo-terminal, until Ctrl+C.
int cmdAdapterSim(CliContext& context, const std::vector<std::string>& args) {
    std::string listen;
    std::string benchFile;
    bool pty = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--listen" && i + 1 < args.size()) {
            listen = args[++i];
        } else if (args[i] == "--bench" && i + 1 < args.size()) {
            benchFile = args[++i];
        } else if (args[i] == "--pty") {
            pty = true;
        } else {
            context.err << "usage: benchcap-cli adapter-sim --listen 127.0.0.1:PORT | --pty "
                           "[--bench FILE]\n";
            return kExitUsage;
        }
    }
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
    context.out << "adapter emulator stopped\n";
    return kExitDone;
}

}  // namespace benchcap::cli
