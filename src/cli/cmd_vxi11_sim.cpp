#include <unistd.h>

#include <memory>
#include <optional>
#include <ostream>

#include "cli/cli.h"
#include "cli/command_options.h"
#include "cli/lan_sim_serving.h"
#include "sim/sim_bench.h"
#include "sim/vxi11_server.h"

namespace benchcap::cli {

using namespace lansim;

// benchcap-cli vxi11-sim: the simulated bench as a VXI-11 LAN/GPIB gateway until Ctrl+C.
int cmdVxi11Sim(CliContext& context, const std::vector<std::string>& args) {
    std::optional<std::string> listenText;
    std::optional<std::string> portmapperText;
    std::optional<std::string> benchText;
    std::optional<std::string> maxLinksText;
    bool keepLinks = false;
    CommandOptions options("vxi11-sim");
    options.value("--listen", listenText, "127.0.0.1:PORT", "serve the core channel there")
        .value("--portmapper", portmapperText, "PORT",
               "also answer as the portmapper on this port (111 is the standard one, where "
               "VISA clients ask)")
        .value("--bench", benchText, "FILE", "the bench file (the built-in bench unless given)")
        .value("--max-links", maxLinksText, "N",
               "the link table's size (default 64): create_link beyond it answers error 9, out "
               "of resources")
        .flag("--keep-links", keepLinks,
              "keep a connection's links when it closes, until destroy_link frees them, as a "
              "gateway with a link table of its own does");
    if (const std::optional<int> done = options.parse(context.out, context.err, args))
        return *done;
    std::optional<sim::BenchConfig> config = benchFor(context, "vxi11-sim", benchText);
    if (!config)
        return kExitUsage;
    if (!listenText) {
        context.err << "benchcap-cli vxi11-sim: give --listen 127.0.0.1:PORT\n";
        return kExitUsage;
    }
    const std::string listen = *listenText;
    std::optional<int> portmapper;
    if (portmapperText) {
        portmapper = parseBoundedInt(*portmapperText, 0, 65535);
        if (!portmapper) {
            context.err << "benchcap-cli vxi11-sim: --portmapper needs a port from 0 to 65535, "
                           "not '"
                        << *portmapperText << "'\n";
            return kExitUsage;
        }
    }
    sim::Vxi11ServerOptions serverOptions;
    serverOptions.keepLinksOfClosedConnections = keepLinks;
    if (maxLinksText) {
        const std::optional<int> maxLinks = parseBoundedInt(*maxLinksText, 1, 4096);
        if (!maxLinks) {
            context.err << "benchcap-cli vxi11-sim: --max-links needs a number from 1 to 4096, "
                           "not '"
                        << *maxLinksText << "'\n";
            return kExitUsage;
        }
        serverOptions.maxLinks = static_cast<size_t>(*maxLinks);
    }
    int code = kExitDone;
    std::optional<sim::Listener> core = listenOn(context, "vxi11-sim", listen, code);
    if (!core)
        return code;
    const std::string host = listen.substr(0, listen.rfind(':'));
    std::optional<sim::Listener> pm;
    if (portmapper) {
        pm = listenOn(context, "vxi11-sim", host + ":" + std::to_string(*portmapper), code);
        if (!pm) {
            ::close(core->fd);
            return code;
        }
    }
    // The gateway's time-outs are real; the instruments run on the bench file's clock.
    sim::SimBench bench(*config, sim::benchClock(*config));
    sim::Vxi11Server server(bench, serverOptions);
    context.out << "VXI-11 gateway emulator listening on " << host << ':' << core->port;
    if (pm)
        context.out << ", portmapper on port " << pm->port;
    context.out << " (use --interface vxi11:" << host << ':' << core->port
                << "; LAN instruments are vxi11://" << host << ':' << core->port << "/instN)\n";
    context.out.flush();
    serveUntilInterrupted(server, [&] { server.serve(core->fd, pm ? pm->fd : -1, core->port); });
    ::close(core->fd);
    if (pm)
        ::close(pm->fd);
    context.out << "VXI-11 gateway emulator stopped\n";
    return kExitDone;
}

}  // namespace benchcap::cli
