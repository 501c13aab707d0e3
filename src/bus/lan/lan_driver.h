#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "base/result.h"
#include "bus/driver_base.h"
#include "bus/lan/lan_resource.h"
#include "bus/lan/rpc_record.h"

namespace benchcap::bus::lan {

struct LanOptions {
    // The longest a connection (and a portmapper question) may take, within the call's
    // time-out.
    int connectMillis = 3000;
    // Beyond the io_timeout a VXI-11 call carries: how long the reply may take to travel.
    int replySlackMillis = 1000;
    int portmapperPort = 111;
    // The most one device_read asks for; the record reader refuses replies much larger.
    uint32_t maxReadRequest = 1u << 20;
    // The longest message read from a raw socket: the largest block the program accepts.
    int64_t maxMessageBytes = 11 + 999'999'999 + 1;
};

// GPIB over the LAN behind the NI-488.2 call set: every device address stands for a VXI-11
// link (through a LAN/GPIB gateway, or to a LAN instrument) or a raw SCPI socket. Board 0
// ("GPIB0") is the only board; device descriptors start at 32.
//
// A link is created at a handle's first write or read ("create_link"); a refused link is
// an address without a listener (ENOL), as on a board. Writes go out as device_write
// pieces of at most the link's max_recv_size, END on the last one when EOI is on; reads are
// device_read until END or the count; local is device_local; ibclr and ibrsp are
// device_clear and device_readstb. On a raw socket a message ends at LF, or after a
// definite-length block ("#NLLL...") and its LF; clear sends "*CLS", local does nothing.
//
// As on a board the handle's time-out bounds the whole call (connecting and the name
// lookup included), and every wait asks interruptRequested() at least every 100 ms. A
// time-out is ERR|TIMO with EABO; a lost connection EDVR; a VXI-11 error code its nearest
// board error; lastProblem() names the gateway or resource, the call and what went wrong
// ("VXI-11 gateway 10.0.0.5 (gpib0,7): device_read failed: no reply in time"), for every
// failure, a stop request's too. A call that timed out drops its connection (a late reply
// would answer the wrong call); the next call connects again. Closing a handle, changing
// its address and destroying the driver destroy its link, so that a gateway's link table
// does not fill up across programs.
class LanDriver final : public DriverBase {
  public:
    // The resource behind a device address, or none (no instrument at that address).
    using ResourceFor = std::function<std::optional<LanResource>(int pad, int sad)>;

    // `name` is how messages name the bus ("VXI-11 gateway 10.0.0.5", "LAN bus file
    // lab.lan"); `gateway` says whether it is one box (checked by unavailableReason()).
    LanDriver(std::string name, ResourceFor resources, bool gateway, LanOptions options = {});
    ~LanDriver() override;

    int ibdev(int board, int pad, int sad, int tmo, int eot, int eos) override;
    int ibfind(const std::string& name) override;
    int ibwrt(int ud, const void* data, long count) override;
    int ibrd(int ud, void* buffer, long count) override;
    int ibonl(int ud, int online) override;
    int ibsre(int ud, int value) override;
    int ibwait(int ud, int mask) override;
    int ibloc(int ud) override;
    int ibclr(int ud) override;
    int ibconfig(int ud, int option, int value) override;
    void SendIFC(int board) override;
    std::string unavailableReason() const override;

    // Serial poll, which the program's call set does not carry.
    int ibrsp(int ud, char* statusByte);

  private:
    struct Connection;
    struct Link;

    bool isBoard(int ud) const override { return ud == 0; }
    // The last call's status word as calls return it (the bits, not a negative number).
    int lastSta() const { return static_cast<uint16_t>(status().ibsta); }
    int64_t deadlineFor(const DeviceHandle& dev) const;
    Link* linkFor(int ud, const DeviceHandle& dev, int64_t deadline);
    // The connection to host:port, made now if there is none; on failure why, `label` first.
    Result<Connection*> connection(const std::string& host, int port, bool rpc, int64_t deadline,
                                   const std::string& label);
    // A connected socket to host:port by `deadline`; on failure why. The kinds of the
    // failures of the connection's calls say how a call ends (failed()).
    Result<int> dial(const std::string& host, int port, int64_t deadline);
    Status send(Connection& c, const std::string& bytes, int64_t deadline);
    Status receive(Connection& c, int64_t until, const char* peer);
    Result<int> corePort(const LanResource& res, int64_t deadline, const std::string& label);
    // One call and its reply's results; on failure why (without the call's name).
    Result<std::string> rpc(Connection& c, uint32_t program, uint32_t version, uint32_t procedure,
                            const std::string& args, int64_t deadline);
    // A core-channel call on the link's connection, its reply allowed the slack past
    // `deadline`. On failure the connection is dropped and the failure says why (then
    // `context`): the caller ends with failed().
    Result<std::string> coreCall(Link& link, uint32_t procedure, const std::string& args,
                                 int64_t deadline, const char* callName,
                                 const std::string& context = {});
    void drop(const std::string& key);
    // destroy_link for the handle's link when it has one; the link is forgotten either way.
    void destroyLink(int ud, int64_t deadline);
    // Ends the call on a failure of its connection: the message is the call's problem, the
    // kind gives the status (a time-out, a stop, or EDVR for a connection that is gone).
    int failed(const Error& why, long count);
    int vxiError(Link& link, const char* call, uint32_t error, long count);
    std::string genericArgs(const Link& link, int64_t deadline) const;
    int socketRead(Link& link, char* out, long count, int64_t deadline);
    Status socketSend(Link& link, const std::string& bytes, int64_t deadline);
    std::string label(const Link& link) const;
    // Board-level listening (plotter emulation): a gateway is always the controller.
    int noDeviceMode();

    std::string name_;
    ResourceFor resources_;
    bool gateway_;
    LanOptions options_;
    std::map<std::string, std::unique_ptr<Connection>> connections_;  // by endpoint
    std::map<int, std::unique_ptr<Link>> links_;                      // by descriptor
    std::map<std::string, int> corePorts_;  // host -> core channel port from its portmapper
    bool boardOnline_ = true;
};

// The GPIB bus behind a VXI-11 gateway: address N (secondary S) is the device "gpib0,N"
// ("gpib0,N,S"; the gateway's other buses as "/gpibN" names them).
std::unique_ptr<LanDriver> makeGatewayDriver(const GatewayAddress& gateway,
                                             LanOptions options = {});
// The addresses of a LAN bus file; the others have no instrument.
std::unique_ptr<LanDriver> makeLanBusDriver(LanBusMap map, const std::string& fileName,
                                            LanOptions options = {});

}  // namespace benchcap::bus::lan
