#pragma once

// The LAN emulators for the tests, on loopback ports the system picks, each on its own
// thread with its own fresh built-in bench; they stop when the rig goes.

#include <unistd.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bus/lan/lan_driver.h"
#include "sim/adapter_server.h"
#include "sim/bench_config.h"
#include "sim/socket_server.h"
#include "sim/vxi11_server.h"

namespace benchcap::test {

inline bus::lan::LanOptions loopbackLanOptions() {
    bus::lan::LanOptions o;
    o.connectMillis = 1000;
    o.replySlackMillis = 200;
    return o;
}

class LanRig {
  public:
    // A VXI-11 gateway with a portmapper, and a raw SCPI socket for each of `socketAddresses`.
    explicit LanRig(sim::Vxi11ServerOptions options = {}, std::vector<int> socketAddresses = {})
        : server_(bench_, std::move(options)) {
        core_ = sim::listenTcp("127.0.0.1", 0).value();
        portmapper_ = sim::listenTcp("127.0.0.1", 0).value();
        threads_.emplace_back([this] { server_.serve(core_.fd, portmapper_.fd, core_.port); });
        for (int address : socketAddresses) {
            auto socket = std::make_unique<Socket>(address);
            Socket* s = socket.get();
            threads_.emplace_back([s] { s->server.serve(s->listener.fd); });
            sockets_.push_back(std::move(socket));
        }
    }
    ~LanRig() {
        server_.stop();
        for (auto& s : sockets_)
            s->server.stop();
        for (auto& t : threads_)
            t.join();
        ::close(core_.fd);
        ::close(portmapper_.fd);
    }
    std::string gateway() const { return "127.0.0.1:" + std::to_string(core_.port); }
    int portmapperPort() const { return portmapper_.port; }
    // "socket://127.0.0.1:PORT" of the n-th socket address.
    std::string socket(size_t n) const {
        return "socket://127.0.0.1:" + std::to_string(sockets_[n]->listener.port);
    }
    sim::SimBench& bench() { return bench_; }
    void switchOffFor(int millis) { server_.switchOffFor(millis); }
    std::unique_ptr<bus::lan::LanDriver> gatewayDriver(
        bus::lan::LanOptions options = loopbackLanOptions()) const {
        return bus::lan::makeGatewayDriver(bus::lan::parseGatewayAddress(gateway()).value(),
                                           options);
    }

  private:
    struct Socket {
        explicit Socket(int address) : server(bench, address) {}
        sim::SimBench bench{sim::builtinBench(), std::make_shared<bus::VirtualClock>()};
        sim::SocketServer server;
        sim::Listener listener = sim::listenTcp("127.0.0.1", 0).value();
    };
    sim::SimBench bench_{sim::builtinBench(), std::make_shared<bus::VirtualClock>()};
    sim::Vxi11Server server_;
    sim::Listener core_;
    sim::Listener portmapper_;
    std::vector<std::unique_ptr<Socket>> sockets_;
    std::vector<std::thread> threads_;
};

}  // namespace benchcap::test
