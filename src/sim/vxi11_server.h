#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

#include "sim/sim_bench.h"

namespace benchcap::sim {

// Knobs for tests: a gateway that behaves badly in one known way.
struct Vxi11ServerOptions {
    // What create_link announces as max_recv_size (the largest device_write piece taken).
    uint32_t maxRecvSize = 64 * 1024;
    // The most data one device_read reply carries (0: as much as was asked for); a smaller
    // value makes every read come back in many pieces.
    uint32_t readPiece = 0;
    // After this many bytes of read data the gateway stops answering on that connection
    // (-1: never), as one that hangs in the middle of a block.
    int64_t silentAfterBytes = -1;
    // A VXI-11 error code every call of a procedure answers with (procedure -> code).
    std::map<uint32_t, uint32_t> forcedErrors;
};

// A VXI-11 LAN/GPIB gateway (core channel, program 0x0607AF version 1, over TCP) in front
// of the simulated bench, with an optional portmapper that names its port: the devices
// "gpibB,N" / "gpibB,N,S" are the bench's instruments at board B, address N; "instN" is the
// instrument at address N of board 0, as a LAN instrument of its own. A link to an address
// where nobody listens is refused with error 3 (device not accessible). Serves any number
// of connections at once, one call at a time, until stop().
class Vxi11Server {
  public:
    explicit Vxi11Server(SimBench& bench, Vxi11ServerOptions options = {});
    ~Vxi11Server();
    Vxi11Server(const Vxi11Server&) = delete;
    Vxi11Server& operator=(const Vxi11Server&) = delete;

    // Serves the core channel on the listening socket `coreFd`, and the portmapper on
    // `portmapFd` when it is not -1 (GETPORT answers `corePort`). Closes neither listener.
    void serve(int coreFd, int portmapFd, int corePort);
    // Makes serve() return within a tenth of a second (from any thread).
    void stop() { stopping_ = true; }

  private:
    struct Peer;
    struct DeviceLink {
        int ud = -1;
        int board = 0;
        int address = 0;
        int owner = -1;  // the connection's socket: its links go when it closes
    };
    bool handleRecord(Peer& peer, const std::string& record);
    std::string coreCall(Peer& peer, uint32_t procedure, const std::string& args, bool& reply);
    uint32_t createLink(const std::string& device, int owner, uint32_t& lid);

    SimBench& bench_;
    Vxi11ServerOptions options_;
    std::atomic<bool> stopping_{false};
    std::map<uint32_t, DeviceLink> links_;
    uint32_t nextLid_ = 1;
    int corePort_ = 0;
};

}  // namespace benchcap::sim
