#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/adapter_server.h"
#include "sim/sim_bench.h"

namespace benchcap::sim {

// How a gateway that breaks the wire answers the calls of one procedure (for tests of the
// client's defences).
enum class WireFault {
    None,
    WrongXid,          // the reply carries another call's transaction id
    LongerThanAsked,   // a device_read reply carries more data than requestSize
    HugeRecord,        // a record marker announcing 2 GB, then a few bytes
    EndlessFragments,  // fragment after fragment, none marked last
    Close,             // the connection is closed instead of answered
    Silent,            // no reply, ever, on that connection
    CloseAtAccept,     // every connection is closed as soon as it is accepted
};

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
    // The link table: create_link beyond this many links answers error 9 (out of resources).
    size_t maxLinks = 64;
    // Links stay when their connection closes (freed only by destroy_link), as on gateways
    // that keep a link table of their own.
    bool keepLinksOfClosedConnections = false;
    // The replies to `faultProcedure` broken in this way.
    WireFault fault = WireFault::None;
    uint32_t faultProcedure = 12;  // device_read
};

// The IEEE 488.2 status byte of a simulated instrument, as a serial poll or "*STB?" gives
// it: MAV (bit 4) when it has an answer to send (`answerWaiting`), and bit 2 when its
// error queue is not empty.
uint8_t statusByte(const SimInstrument& instrument, bool answerWaiting);

// A VXI-11 LAN/GPIB gateway (core channel, program 0x0607AF version 1, over TCP) in front
// of the simulated bench, with an optional portmapper that names its port: the devices
// "gpibB,N" / "gpibB,N,S" are the bench's instruments at board B, address N; "instN" is the
// instrument at address N of board 0, as a LAN instrument of its own, and "inst0" (VISA's
// default name) the one at the lowest address. Names are matched without regard to case. A
// link to an address where nobody listens is refused with error 3 (device not accessible).
//
// Reads end at END, at the term char when the call asks for one, or at requestSize; an
// instrument with nothing (more) to send answers error 15 once the call's io_timeout has
// passed in real time, and bulk data flow at the bench's rates on the bench's clock. Locks
// are held per link; a call on a device another link locked waits up to its lock_timeout
// when it sets waitlock, and fails with error 11 otherwise. Serves any number of
// connections at once, one call at a time, until stop(); a call waiting for a lock or its
// time-out does not hold up the others.
class Vxi11Server {
  public:
    explicit Vxi11Server(SimBench& bench, Vxi11ServerOptions options = {});
    ~Vxi11Server();
    Vxi11Server(const Vxi11Server&) = delete;
    Vxi11Server& operator=(const Vxi11Server&) = delete;

    // Serves the core channel on the listening socket `coreFd`, and the portmapper on
    // `portmapFd` when it is not -1 (GETPORT answers `corePort`). Closes neither listener.
    void serve(int coreFd, int portmapFd, int corePort);
    // Makes serve() return within a tenth of a second (from any thread); a paced transfer
    // of the bench stops too.
    void stop() { stopping_ = true; }
    // Switched off for `millis` of real time (a gateway that reboots): its connections
    // and links go within a tenth of a second, connections made meanwhile are closed at once.
    void switchOffFor(int millis) { outage_.begin(millis); }

  private:
    struct Peer;
    struct Call;
    struct Outcome;
    struct DeviceLink {
        int ud = -1;
        int board = 0;
        int address = 0;
        int owner = -1;  // the connection's socket (-1: it closed and the link was kept)
        bool srqEnabled = false;
        std::string srqHandle;
    };
    enum class Lock { Free, Wait, Refused };

    bool readRecords(Peer& peer);
    bool handleRecord(Peer& peer, const std::string& record);
    bool runCall(Peer& peer, const Call& call, std::optional<int64_t> lockDue);
    void resumeWaiting(std::vector<std::unique_ptr<Peer>>& peers, int& pollMillis);
    Outcome coreCall(Peer& peer, const Call& call, bool lockWaitOver);
    Outcome createLink(Peer& peer, const Call& call, bool lockWaitOver);
    Outcome readCall(Peer& peer, DeviceLink& link, uint32_t requestSize, uint32_t ioTimeout,
                     std::optional<char> termChar);
    std::string portmapCall(uint32_t procedure, const std::string& args, uint32_t& accept) const;
    Lock lockFor(uint32_t lid, const DeviceLink& link, uint32_t flags, bool waitOver) const;
    void dropLink(std::map<uint32_t, DeviceLink>::iterator link);
    void closePeer(Peer& peer);
    bool sendReply(Peer& peer, uint32_t xid, uint32_t procedure, const std::string& body);
    bool sendAll(int fd, const std::string& bytes);

    SimBench& bench_;
    Vxi11ServerOptions options_;
    std::atomic<bool> stopping_{false};
    Outage outage_;
    std::map<uint32_t, DeviceLink> links_;
    std::map<std::pair<int, int>, uint32_t> locks_;  // (board, address) -> the holding link
    uint32_t nextLid_ = 1;
    bool locksChanged_ = false;  // a lock was freed: waiting calls may go on
    int corePort_ = 0;
    int portmapPort_ = 0;
};

}  // namespace benchcap::sim
