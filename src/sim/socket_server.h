#pragma once

#include <atomic>

#include "sim/sim_bench.h"

namespace benchcap::sim {

// One instrument of the simulated bench as a LAN instrument with a raw SCPI socket (as on
// port 5025): every line the client sends (up to LF) is one message to the instrument;
// after a query (a message with '?') the instrument's whole answer goes back as it is (it
// ends with LF, a block with its LF). Serves any number of connections, one message at a
// time, until stop().
class SocketServer {
  public:
    SocketServer(SimBench& bench, int address);
    // Serves on the listening socket `listenFd` (not closed).
    void serve(int listenFd);
    void stop() { stopping_ = true; }

  private:
    bool message(int fd, const std::string& line);

    SimBench& bench_;
    int address_;
    int ud_ = -1;
    std::atomic<bool> stopping_{false};
};

}  // namespace benchcap::sim
