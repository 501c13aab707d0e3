#include <unistd.h>

#include <memory>
#include <optional>
#include <ostream>

#include "cli/cli.h"
#include "cli/command_options.h"
#include "cli/lan_sim_serving.h"
#include "sim/sim_bench.h"
#include "sim/socket_server.h"

namespace benchcap::cli {

using namespace lansim;

// benchcap-cli socket-sim: one instrument of the simulated bench as a raw SCPI socket.
int cmdSocketSim(CliContext& context, const std::vector<std::string>& args) {
    std::optional<std::string> listenText;
    std::optional<std::string> addressText;
    std::optional<std::string> benchText;
    CommandOptions options("socket-sim");
    options.value("--listen", listenText, "127.0.0.1:PORT", "serve the instrument there")
        .value("--address", addressText, "ADDRESS", "the instrument's address on the bench")
        .value("--bench", benchText, "FILE", "the bench file (the built-in bench unless given)");
    if (const std::optional<int> done = options.parse(context.out, context.err, args))
        return *done;
    if (!listenText || !addressText) {
        context.err << "benchcap-cli socket-sim: give --listen 127.0.0.1:PORT and --address N\n";
        return kExitUsage;
    }
    const std::string listen = *listenText;
    const std::optional<int> address = parseBoundedInt(*addressText, 1, 30);
    if (!address) {
        context.err << "benchcap-cli socket-sim: the address must be a number from 1 to 30, not '"
                    << *addressText << "'\n";
        return kExitUsage;
    }
    std::optional<sim::BenchConfig> config = benchFor(context, "socket-sim", benchText);
    if (!config)
        return kExitUsage;
    int code = kExitDone;
    std::optional<sim::Listener> listener = listenOn(context, "socket-sim", listen, code);
    if (!listener)
        return code;
    // As `--interface sim:FILE` runs it: the clock its file chooses.
    sim::SimBench bench(*config, sim::benchClock(*config));
    sim::SocketServer server(bench, *address);
    const std::string host = listen.substr(0, listen.rfind(':'));
    context.out << "SCPI socket emulator for address " << *address << " listening on " << host
                << ':' << listener->port << " (in a LAN bus file: " << *address << " = socket://"
                << host << ':' << listener->port << ")\n";
    context.out.flush();
    serveUntilInterrupted(server, [&] { server.serve(listener->fd); });
    ::close(listener->fd);
    context.out << "SCPI socket emulator stopped\n";
    return kExitDone;
}

}  // namespace benchcap::cli
