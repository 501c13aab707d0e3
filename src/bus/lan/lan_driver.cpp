#include "bus/lan/lan_driver.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "bus/adapter/transport.h"

namespace benchcap::bus::lan {

using namespace ibsta_bits;
namespace err = iberr_codes;

namespace {

constexpr uint32_t kCoreProgram = 0x0607AF;
constexpr uint32_t kCoreVersion = 1;
enum Procedure : uint32_t {
    kCreateLink = 10,
    kDeviceWrite = 11,
    kDeviceRead = 12,
    kDeviceReadStb = 13,
    kDeviceClear = 15,
    kDeviceLocal = 17,
    kDestroyLink = 23,
};
constexpr uint32_t kFlagEnd = 8;
constexpr uint32_t kReasonChr = 2;
constexpr uint32_t kReasonEnd = 4;
constexpr uint32_t kErrIoTimeout = 15;
constexpr uint32_t kErrInvalidLink = 4;
// A write piece is kept between these, whatever max_recv_size a gateway announces.
constexpr uint32_t kMinPiece = 16;
constexpr uint32_t kMaxPiece = 4u << 20;
constexpr int kSliceMillis = 100;

int64_t nowMillis() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int sliceUntil(int64_t deadline) {
    return static_cast<int>(std::clamp<int64_t>(deadline - nowMillis(), 0, kSliceMillis));
}

uint32_t millisLeft(int64_t deadline) {
    return static_cast<uint32_t>(std::clamp<int64_t>(deadline - nowMillis(), 0, 1'000'000));
}

// How a message starting with `incoming` is read: "#NL..." is a definite-length block of L
// bytes (N digits of length) and LF, whose whole length this is; -1 for a message ended by
// LF; nothing while the block's header has not all arrived.
std::optional<int64_t> blockLength(const std::string& incoming) {
    if (incoming[0] != '#')
        return -1;
    if (incoming.size() < 2)
        return std::nullopt;
    const char d = incoming[1];
    if (d < '1' || d > '9')
        return -1;
    const size_t digits = static_cast<size_t>(d - '0');
    if (incoming.size() < 2 + digits)
        return std::nullopt;
    int64_t length = 0;
    bool number = true;
    for (size_t i = 0; i < digits; ++i) {
        const char ch = incoming[2 + i];
        number = number && ch >= '0' && ch <= '9';
        length = length * 10 + (ch - '0');
    }
    return number ? static_cast<int64_t>(2 + digits) + length : -1;
}

std::string vxiErrorName(uint32_t code) {
    switch (code) {
        case 1:
            return "syntax error";
        case 3:
            return "device not accessible";
        case 4:
            return "invalid link identifier";
        case 5:
            return "parameter error";
        case 6:
            return "channel not established";
        case 8:
            return "operation not supported";
        case 9:
            return "out of resources";
        case 11:
            return "device locked by another link";
        case 12:
            return "no lock held by this link";
        case 15:
            return "I/O timeout";
        case 17:
            return "I/O error";
        case 21:
            return "invalid address";
        case 23:
            return "abort";
        case 29:
            return "channel already established";
        default:
            return "unknown error";
    }
}

// The board error nearest to a VXI-11 error code.
int boardError(uint32_t code) {
    switch (code) {
        case 1:
        case 5:
            return err::EARG;
        case 3:
        case 21:
            return err::ENOL;
        case 8:
            return err::ECAP;
        case 15:
        case 23:
            return err::EABO;
        case 17:
            return err::EBUS;
        default:
            return err::EDVR;
    }
}

}  // namespace

struct LanDriver::Connection {
    int fd = -1;
    std::string incoming;
    RecordReader records;
    uint32_t nextXid = 1;
    // A raw socket's message being read: the bytes still due of a definite-length block
    // (-1: text up to LF), and the bytes handed over so far.
    bool inMessage = false;
    int64_t blockLeft = -1;
    int64_t messageBytes = 0;
    Connection(int socket, uint32_t maxRecord) : fd(socket), records(maxRecord) {}
    ~Connection() { ::close(fd); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    // Throws away what arrived and nobody read (answers to an abandoned command).
    void drain() {
        char junk[4096];
        for (int i = 0; i < 256 && ::recv(fd, junk, sizeof junk, MSG_DONTWAIT) > 0; ++i) {
        }
        incoming.clear();
        inMessage = false;
    }
};

struct LanDriver::Link {
    LanResource resource;
    std::string key;  // the connection's endpoint
    bool linked = false;
    uint32_t lid = 0;
    uint32_t maxRecv = 1024;
};

LanDriver::LanDriver(std::string name, ResourceFor resources, bool gateway, LanOptions options)
    : name_(std::move(name)),
      resources_(std::move(resources)),
      gateway_(gateway),
      options_(options) {}

LanDriver::~LanDriver() {
    // A gateway keeps a link until destroy_link, perhaps past its connection: every link
    // goes, within half a second in all, also after a stop request (which would otherwise
    // end each call before it is sent).
    setInterruptCheck({});
    const int64_t deadline = nowMillis() + std::min(options_.connectMillis, 500);
    while (!links_.empty())
        destroyLink(links_.begin()->first, deadline);
}

std::string LanDriver::label(const Link& link) const {
    if (gateway_)
        return name_ + " (" + link.resource.device + ")";
    return "LAN instrument " + link.resource.text();
}

int64_t LanDriver::deadlineFor(const DeviceHandle& dev) const {
    const int64_t micros = timeoutMicros(dev.tmo);
    return micros > 0 ? nowMillis() + micros / 1000 : INT64_MAX;
}

int LanDriver::failed(const Error& why, long count) {
    note_ = why.message;
    switch (why.kind) {
        case ErrorKind::TimedOut:
            return finish(ERR | TIMO | CMPL, err::EABO, count);
        case ErrorKind::Interrupted:
            return finish(ERR, err::EABO, count);
        default:
            break;
    }
    return finish(ERR, err::EDVR, count);
}

Result<std::string> LanDriver::coreCall(Link& link, uint32_t procedure, const std::string& args,
                                        int64_t deadline, const char* callName,
                                        const std::string& context) {
    Result<std::string> reply =
        rpc(*connections_[link.key], kCoreProgram, kCoreVersion, procedure, args,
            deadline == INT64_MAX ? INT64_MAX : deadline + options_.replySlackMillis);
    if (reply)
        return reply;
    drop(link.key);
    return benchcap::fail(reply.errorKind(),
                          label(link) + ": " + callName + " failed: " + reply.error() + context);
}

void LanDriver::drop(const std::string& key) {
    connections_.erase(key);
    for (auto& [ud, link] : links_)
        if (link->key == key)
            link->linked = false;
}

void LanDriver::destroyLink(int ud, int64_t deadline) {
    auto it = links_.find(ud);
    if (it == links_.end())
        return;
    Link& link = *it->second;
    if (link.linked && link.resource.kind == LanResource::Kind::Vxi11 &&
        connections_.count(link.key)) {
        XdrWriter args;
        args.u32(link.lid);
        if (!rpc(*connections_[link.key], kCoreProgram, kCoreVersion, kDestroyLink, args.bytes(),
                 deadline))
            drop(link.key);
    }
    links_.erase(it);
}

namespace {

// A name lookup may take long (a name server that does not answer) and cannot be
// interrupted, so it runs on a thread of its own; the caller waits for it only until its
// deadline or a stop request, and a lookup left behind frees its own result.
struct Lookup {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool abandoned = false;
    int rc = 0;
    addrinfo* list = nullptr;
};

struct AddressList {
    addrinfo* list = nullptr;
    ~AddressList() {
        if (list)
            ::freeaddrinfo(list);
    }
};

}  // namespace

Result<int> LanDriver::dial(const std::string& host, int port, int64_t deadline) {
    const std::string where = LanResource{LanResource::Kind::Socket, host, port, {}}.endpoint();
    const int64_t end = std::min(deadline, nowMillis() + options_.connectMillis);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    AddressList addresses;
    const std::string service = std::to_string(port);
    int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &addresses.list);
    if (rc == EAI_NONAME) {
        // A name, not an address literal: looked up on the side.
        auto lookup = std::make_shared<Lookup>();
        std::thread([lookup, host, service] {
            addrinfo hints{};
            hints.ai_family = AF_UNSPEC;
            hints.ai_socktype = SOCK_STREAM;
            hints.ai_flags = AI_NUMERICSERV;
            addrinfo* list = nullptr;
            const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
            std::lock_guard<std::mutex> lock(lookup->mutex);
            if (lookup->abandoned) {
                if (rc == 0)
                    ::freeaddrinfo(list);
                return;
            }
            lookup->rc = rc;
            lookup->list = rc == 0 ? list : nullptr;
            lookup->done = true;
            lookup->finished.notify_all();
        }).detach();
        std::unique_lock<std::mutex> lock(lookup->mutex);
        while (!lookup->done && !interruptRequested() && nowMillis() < end)
            lookup->finished.wait_for(lock, std::chrono::milliseconds(sliceUntil(end) + 1));
        if (!lookup->done) {
            lookup->abandoned = true;
            const bool stopped = interruptRequested();
            return benchcap::fail(stopped ? ErrorKind::Interrupted : ErrorKind::TimedOut,
                                  "cannot resolve " + host +
                                      (stopped ? ": interrupted by a stop request"
                                               : ": no answer from the name service in time"));
        }
        rc = lookup->rc;
        addresses.list = lookup->list;
    }
    if (rc != 0)
        return benchcap::fail(ErrorKind::NotReachable,
                              "cannot resolve " + host + ": " + ::gai_strerror(rc));
    // The shared connection loop, each attempt bounded by the deadline and the stop request.
    return adapter::connectFirst(addresses.list, where, [&](int fd) {
        pollfd p{fd, POLLOUT, 0};
        int ready = 0;
        while ((ready = ::poll(&p, 1, sliceUntil(end))) == 0 && nowMillis() < end &&
               !interruptRequested()) {
        }
        if (ready > 0)
            return Status();
        return Status(interruptRequested()
                          ? benchcap::fail(ErrorKind::Interrupted, "interrupted by a stop request")
                          : benchcap::fail(ErrorKind::TimedOut, "no answer in time"));
    });
}

Status LanDriver::send(Connection& c, const std::string& bytes, int64_t deadline) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(c.fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            return benchcap::fail(ErrorKind::NotReachable,
                                  std::string("the connection broke: ") + std::strerror(errno));
        }
        if (interruptRequested())
            return benchcap::fail(ErrorKind::Interrupted,
                                  "interrupted by a stop request while sending");
        if (nowMillis() >= deadline)
            return benchcap::fail(ErrorKind::TimedOut, "the other end took no more data in time");
        pollfd p{c.fd, POLLOUT, 0};
        ::poll(&p, 1, sliceUntil(deadline));
    }
    return {};
}

Status LanDriver::receive(Connection& c, int64_t until, const char* peer) {
    pollfd p{c.fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, sliceUntil(until));
    if (ready <= 0)
        return {};
    char buffer[65536];
    const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0) {
        c.incoming.append(buffer, static_cast<size_t>(n));
        return {};
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return {};
    return benchcap::fail(ErrorKind::NotReachable,
                          n == 0 ? std::string("the ") + peer + " closed the connection"
                                 : std::string("the connection broke: ") + std::strerror(errno));
}

Result<LanDriver::Connection*> LanDriver::connection(const std::string& host, int port, bool rpc,
                                                     int64_t deadline, const std::string& label) {
    const std::string key = LanResource{LanResource::Kind::Socket, host, port, {}}.endpoint();
    auto it = connections_.find(key);
    if (it != connections_.end())
        return it->second.get();
    Result<int> fd = dial(host, port, deadline);
    if (!fd)
        return benchcap::fail(fd.errorKind(), label + ": " + fd.error());
    // A reply carries at most one read request's data and a few words around it.
    auto c = std::make_unique<Connection>(fd.value(), rpc ? options_.maxReadRequest + 4096 : 0);
    return connections_.emplace(key, std::move(c)).first->second.get();
}

Result<std::string> LanDriver::rpc(Connection& c, uint32_t program, uint32_t version,
                                   uint32_t procedure, const std::string& args, int64_t deadline) {
    const uint32_t xid = c.nextXid++;
    const std::string bytes = markRecord(rpcCall(xid, program, version, procedure, args));
    if (Status s = send(c, bytes, deadline); !s)
        return benchcap::fail(s.errorKind(), "the call could not be sent: " + s.error());
    for (;;) {
        const Result<RecordReader::State> state = c.records.feed(c.incoming);
        if (!state)
            return benchcap::fail(state.errorKind(), "the reply is unusable: " + state.error());
        if (*state == RecordReader::State::Complete) {
            const std::string record = c.records.takeRecord();
            Result<std::string_view> results = rpcReplyResults(record, xid);
            if (!results)
                return benchcap::fail(ErrorKind::BadData,
                                      "the reply is unusable: " + results.error());
            return std::string(results.value());
        }
        if (interruptRequested())
            return benchcap::fail(ErrorKind::Interrupted,
                                  "interrupted by a stop request while waiting for the reply");
        if (nowMillis() >= deadline)
            return benchcap::fail(ErrorKind::TimedOut, "no reply in time");
        if (Status s = receive(c, deadline, gateway_ ? "gateway" : "instrument"); !s)
            return benchcap::fail(s.errorKind(),
                                  "connection lost while waiting for the reply: " + s.error());
    }
}

Result<int> LanDriver::corePort(const LanResource& res, int64_t deadline,
                                const std::string& label) {
    if (res.port)
        return res.port;
    if (auto it = corePorts_.find(res.host); it != corePorts_.end())
        return it->second;
    const Result<Connection*> pm =
        connection(res.host, options_.portmapperPort, true, deadline, label + ", portmapper");
    if (!pm)
        return pm.failure();
    const std::string key =
        LanResource{LanResource::Kind::Socket, res.host, options_.portmapperPort, {}}.endpoint();
    XdrWriter args;
    args.u32(kCoreProgram).u32(kCoreVersion).u32(kIpProtoTcp).u32(0);
    Result<std::string> reply =
        rpc(**pm, kPortmapProgram, kPortmapVersion, kPortmapGetPort, args.bytes(),
            std::min(deadline, nowMillis() + options_.connectMillis));
    drop(key);  // one question: the portmapper's connection is not kept
    if (!reply)
        return benchcap::fail(reply.errorKind(),
                              label + ", portmapper: GETPORT failed: " + reply.error());
    XdrReader r(reply.value());
    const uint32_t port = r.u32();
    if (!r.ok() || port == 0 || port > 65535) {
        return benchcap::fail(ErrorKind::NotReachable,
                              label +
                                  ": the portmapper knows no VXI-11 core channel there (no VXI-11 "
                                  "service); give the port as HOST:PORT if it is known");
    }
    corePorts_[res.host] = static_cast<int>(port);
    return static_cast<int>(port);
}

LanDriver::Link* LanDriver::linkFor(int ud, const DeviceHandle& dev, int64_t deadline) {
    auto it = links_.find(ud);
    if (it == links_.end()) {
        std::optional<LanResource> res = resources_ ? resources_(dev.pad, dev.sad) : std::nullopt;
        if (!res) {
            note_ = name_ + " maps no instrument to address " + std::to_string(dev.pad);
            fail(err::ENOL);
            return nullptr;
        }
        auto link = std::make_unique<Link>();
        link->resource = std::move(*res);
        it = links_.emplace(ud, std::move(link)).first;
    }
    Link& link = *it->second;
    if (link.linked && connections_.count(link.key))
        return &link;
    const LanResource& res = link.resource;
    const bool vxi = res.kind == LanResource::Kind::Vxi11;
    const Result<int> port = vxi ? corePort(res, deadline, label(link)) : Result<int>(res.port);
    if (!port) {
        failed(port.failure(), 0);
        return nullptr;
    }
    const Result<Connection*> c = connection(res.host, *port, vxi, deadline, label(link));
    if (!c) {
        failed(c.failure(), 0);
        return nullptr;
    }
    link.key = LanResource{LanResource::Kind::Socket, res.host, *port, {}}.endpoint();
    if (!vxi) {
        link.linked = true;
        return &link;
    }
    XdrWriter args;
    args.u32(static_cast<uint32_t>(ud)).u32(0).u32(0).opaque(res.device);
    Result<std::string> reply = rpc(**c, kCoreProgram, kCoreVersion, kCreateLink, args.bytes(),
                                    std::min(deadline, nowMillis() + options_.connectMillis));
    if (!reply) {
        drop(link.key);
        failed(benchcap::fail(reply.errorKind(),
                              label(link) + ": create_link failed: " + reply.error()),
               0);
        return nullptr;
    }
    XdrReader r(reply.value());
    const uint32_t error = r.u32();
    const uint32_t lid = r.u32();
    r.u32();  // abort channel port: not used
    const uint32_t maxRecv = r.u32();
    if (!r.ok()) {
        note_ = label(link) + ": create_link failed: the reply is too short";
        drop(link.key);
        fail(err::EDVR);
        return nullptr;
    }
    if (error != 0) {
        // As a board finds nobody listening at an empty address.
        note_ = label(link) + " refused a link: VXI-11 error " + std::to_string(error) + " (" +
                vxiErrorName(error) + ")";
        fail(err::ENOL);
        return nullptr;
    }
    link.linked = true;
    link.lid = lid;
    link.maxRecv = std::clamp(maxRecv, kMinPiece, kMaxPiece);
    return &link;
}

int LanDriver::vxiError(Link& link, const char* call, uint32_t error, long count) {
    note_ = label(link) + ": " + call + " failed with VXI-11 error " + std::to_string(error) +
            " (" + vxiErrorName(error) + ")";
    if (error == kErrInvalidLink)
        link.linked = false;  // the gateway forgot it: the next call links again
    if (error == kErrIoTimeout)
        return finish(ERR | TIMO | CMPL, err::EABO, count);
    return finish(ERR, boardError(error), count);
}

std::string LanDriver::genericArgs(const Link& link, int64_t deadline) const {
    XdrWriter args;
    args.u32(link.lid).u32(0).u32(0).u32(millisLeft(deadline));
    return args.bytes();
}

int LanDriver::ibfind(const std::string& name) {
    return findOnlyBoard(name, boardOnline_);
}

int LanDriver::ibdev(int board, int pad, int sad, int tmo, int eot, int eos) {
    return openOnOnlyBoard(DeviceHandle{board, pad, sad, tmo, eot, eos});
}

Status LanDriver::socketSend(Link& link, const std::string& bytes, int64_t deadline) {
    if (Status s = send(*connections_[link.key], bytes, deadline); !s) {
        drop(link.key);
        return benchcap::fail(s.errorKind(),
                              label(link) + ": the command could not be sent: " + s.error());
    }
    return {};
}

int LanDriver::ibwrt(int ud, const void* data, long count) {
    DeviceHandle* dev = device(ud);
    if (!dev || count < 0 || !boardOnline_)
        return fail(err::EDVR);
    const int64_t deadline = deadlineFor(*dev);
    Link* link = linkFor(ud, *dev, deadline);
    if (!link)
        return lastSta();
    const std::string_view bytes(static_cast<const char*>(data), static_cast<size_t>(count));
    if (link->resource.kind == LanResource::Kind::Socket) {
        // A new command discards what the instrument said before and nobody read.
        connections_[link->key]->drain();
        std::string line(bytes);
        if (line.empty() || line.back() != '\n')
            line += '\n';  // a socket has no EOI: LF ends the message
        if (Status sent = socketSend(*link, line, deadline); !sent)
            return failed(sent.failure(), 0);
        return finish(CMPL | CIC, 0, count);
    }
    long done = 0;
    do {
        const long piece = std::min<long>(count - done, link->maxRecv);
        const bool last = done + piece == count;
        XdrWriter args;
        args.u32(link->lid)
            .u32(millisLeft(deadline))
            .u32(0)
            .u32(last && dev->eot ? kFlagEnd : 0)
            .opaque(bytes.substr(static_cast<size_t>(done), static_cast<size_t>(piece)));
        Result<std::string> reply = coreCall(
            *link, kDeviceWrite, args.bytes(), deadline, "device_write",
            " (after " + std::to_string(done) + " of " + std::to_string(count) + " bytes)");
        if (!reply)
            return failed(reply.failure(), done);
        XdrReader r(*reply);
        const uint32_t error = r.u32();
        const uint32_t size = r.u32();
        if (!r.ok() || size > static_cast<uint32_t>(piece)) {
            note_ = label(*link) + ": device_write failed: the reply is malformed";
            drop(link->key);
            return finish(ERR, err::EDVR, done);
        }
        done += size;
        if (error != 0)
            return vxiError(*link, "device_write", error, done);
        if (size == 0 && piece > 0) {
            note_ = label(*link) + ": device_write failed: none of the bytes offered was taken";
            return finish(ERR, err::EBUS, done);
        }
    } while (done < count);
    return finish(CMPL | CIC, 0, count);
}

int LanDriver::ibrd(int ud, void* buffer, long count) {
    if (count < 0)
        return fail(err::EARG);
    if (isBoard(ud)) {
        return noDeviceMode();
    }
    DeviceHandle* dev = device(ud);
    if (!dev || !boardOnline_)
        return fail(err::EDVR);
    const int64_t deadline = deadlineFor(*dev);
    Link* link = linkFor(ud, *dev, deadline);
    if (!link)
        return lastSta();
    char* out = static_cast<char*>(buffer);
    if (link->resource.kind == LanResource::Kind::Socket)
        return socketRead(*link, out, count, deadline);
    long n = 0;
    while (n < count) {
        const std::string after = " (after " + std::to_string(n) + " bytes of the answer)";
        if (interruptRequested()) {
            note_ = label(*link) + ": device_read failed: interrupted by a stop request" + after;
            return finish(ERR, err::EABO, n);
        }
        if (nowMillis() >= deadline) {
            note_ = label(*link) + ": device_read failed: the time-out ran out before the end" +
                    " of the answer" + after;
            return finish(ERR | TIMO | CMPL, err::EABO, n);
        }
        const uint32_t request =
            static_cast<uint32_t>(std::min<long>(count - n, options_.maxReadRequest));
        XdrWriter args;
        args.u32(link->lid).u32(request).u32(millisLeft(deadline)).u32(0).u32(0).u32(0);
        Result<std::string> reply =
            coreCall(*link, kDeviceRead, args.bytes(), deadline, "device_read", after);
        if (!reply)
            return failed(reply.failure(), n);
        XdrReader r(*reply);
        const uint32_t error = r.u32();
        const uint32_t reason = r.u32();
        const std::string_view data = r.opaque(request);
        if (!r.ok()) {
            note_ = label(*link) +
                    ": device_read failed: the reply is malformed (more data than asked for, "
                    "or cut short)" +
                    after;
            drop(link->key);
            return finish(ERR, err::EDVR, n);
        }
        if (out && !data.empty())
            std::memcpy(out + n, data.data(), data.size());
        n += static_cast<long>(data.size());
        if (error != 0)
            return vxiError(*link, "device_read", error, n);
        if (reason & (kReasonEnd | kReasonChr))
            return finish(CMPL | END, 0, n);
    }
    return finish(CMPL, 0, n);
}

int LanDriver::socketRead(Link& link, char* out, long count, int64_t deadline) {
    Connection& c = *connections_[link.key];
    long n = 0;
    auto give = [&](size_t bytes) {
        if (out)
            std::memcpy(out + n, c.incoming.data(), bytes);
        c.incoming.erase(0, bytes);
        n += static_cast<long>(bytes);
        c.messageBytes += static_cast<int64_t>(bytes);
    };
    auto end = [&]() {
        c.inMessage = false;
        return finish(CMPL | END, 0, n);
    };
    for (;;) {
        while (n < count && !c.incoming.empty()) {
            if (!c.inMessage) {
                c.blockLeft = -1;
                c.messageBytes = 0;
                const std::optional<int64_t> length = blockLength(c.incoming);
                if (!length)
                    break;
                c.blockLeft = *length;
                c.inMessage = true;
            }
            if (c.blockLeft > 0) {
                const int64_t take = std::min<int64_t>(
                    {c.blockLeft, static_cast<int64_t>(c.incoming.size()), count - n});
                give(static_cast<size_t>(take));
                c.blockLeft -= take;
                continue;
            }
            if (c.blockLeft == 0) {
                if (c.incoming[0] == '\n')
                    give(1);
                return end();
            }
            const size_t lf = c.incoming.find('\n');
            const size_t room = static_cast<size_t>(count - n);
            if (lf != std::string::npos && lf < room) {
                give(lf + 1);
                return end();
            }
            give(std::min(room, c.incoming.size()));
            if (c.messageBytes > options_.maxMessageBytes) {
                c.inMessage = false;
                note_ = label(link) + " sent more than " +
                        std::to_string(options_.maxMessageBytes) +
                        " bytes without ending its message; the read was stopped";
                return finish(ERR, err::EABO, n);
            }
        }
        if (n == count)
            return finish(CMPL, 0, n);
        const std::string after =
            " (after " + std::to_string(c.messageBytes) + " bytes of the answer)";
        if (interruptRequested()) {
            note_ = label(link) + ": the read was interrupted by a stop request" + after;
            return finish(ERR, err::EABO, n);
        }
        int64_t until = deadline;
        // A block was read whole: its LF follows at once or not at all.
        if (c.inMessage && c.blockLeft == 0)
            until = std::min(deadline, nowMillis() + kSliceMillis);
        if (nowMillis() >= until) {
            if (c.inMessage && c.blockLeft == 0)
                return end();
            note_ = label(link) + ": no end of the answer within the time-out" + after;
            return finish(ERR | TIMO | CMPL, err::EABO, n);
        }
        if (Status s = receive(c, until, "instrument"); !s) {
            note_ = label(link) + ": connection lost" + after + ": " + s.error();
            drop(link.key);
            return finish(ERR, err::EDVR, n);
        }
    }
}

int LanDriver::ibclr(int ud) {
    DeviceHandle* dev = device(ud);
    if (!dev)
        return fail(isBoard(ud) ? err::EARG : err::EDVR);
    const int64_t deadline = deadlineFor(*dev);
    Link* link = linkFor(ud, *dev, deadline);
    if (!link)
        return lastSta();
    if (link->resource.kind == LanResource::Kind::Socket) {
        // A socket has no device clear: the status is cleared and unread output dropped.
        connections_[link->key]->drain();
        const Status sent = socketSend(*link, "*CLS\n", deadline);
        return sent ? finish(CMPL, 0, 0) : failed(sent.failure(), 0);
    }
    Result<std::string> reply =
        coreCall(*link, kDeviceClear, genericArgs(*link, deadline), deadline, "device_clear");
    if (!reply)
        return failed(reply.failure(), 0);
    XdrReader r(*reply);
    const uint32_t error = r.u32();
    return error ? vxiError(*link, "device_clear", error, 0) : finish(CMPL, 0, 0);
}

int LanDriver::ibrsp(int ud, char* statusByte) {
    DeviceHandle* dev = device(ud);
    if (!dev || !statusByte)
        return fail(dev ? err::EARG : err::EDVR);
    const int64_t deadline = deadlineFor(*dev);
    Link* link = linkFor(ud, *dev, deadline);
    if (!link)
        return lastSta();
    if (link->resource.kind == LanResource::Kind::Socket) {
        note_ = label(*link) + ": a raw socket has no serial poll";
        return fail(err::ECAP);
    }
    Result<std::string> reply =
        coreCall(*link, kDeviceReadStb, genericArgs(*link, deadline), deadline, "device_readstb");
    if (!reply)
        return failed(reply.failure(), 0);
    XdrReader r(*reply);
    const uint32_t error = r.u32();
    const uint32_t stb = r.u32();
    if (error)
        return vxiError(*link, "device_readstb", error, 0);
    *statusByte = static_cast<char>(stb & 0xFF);
    return finish(CMPL, 0, 0);
}

int LanDriver::ibloc(int ud) {
    if (isBoard(ud))
        return finish(CMPL, 0, 0);
    DeviceHandle* dev = device(ud);
    if (!dev)
        return fail(err::EDVR);
    auto it = links_.find(ud);
    // Never talked to: the instrument is still local. A socket has no local state to set.
    if (it == links_.end() || !it->second->linked ||
        it->second->resource.kind == LanResource::Kind::Socket ||
        !connections_.count(it->second->key))
        return finish(CMPL, 0, 0);
    Link& link = *it->second;
    const int64_t deadline = deadlineFor(*dev);
    Result<std::string> reply =
        coreCall(link, kDeviceLocal, genericArgs(link, deadline), deadline, "device_local");
    if (!reply)
        return failed(reply.failure(), 0);
    XdrReader r(*reply);
    const uint32_t error = r.u32();
    return error ? vxiError(link, "device_local", error, 0) : finish(CMPL, 0, 0);
}

int LanDriver::ibonl(int ud, int online) {
    if (device(ud)) {
        if (!online) {
            destroyLink(ud, nowMillis() + options_.connectMillis);
            closeDevice(ud);
        }
        return finish(CMPL, 0, 0);
    }
    if (isBoard(ud)) {
        boardOnline_ = online != 0;
        return finish(CMPL, 0, 0);
    }
    return fail(err::EDVR);
}

int LanDriver::ibconfig(int ud, int option, int value) {
    if (DeviceHandle* dev = device(ud)) {
        const int pad = dev->pad;
        if (!configureDevice(*dev, option, value))
            return lastSta();
        if (dev->pad != pad)
            // Another address is another link.
            destroyLink(ud, std::min(deadlineFor(*dev), nowMillis() + options_.connectMillis));
        return finish(CMPL, 0, 0);
    }
    if (isBoard(ud)) {
        if (option == ibc::SC && value == 0)
            return noDeviceMode();
        if (!configureBoard(0, option, value))
            return lastSta();
        return finish(CMPL, 0, 0);
    }
    return fail(err::EDVR);
}

int LanDriver::noDeviceMode() {
    note_ = name_ +
            " cannot make the computer a GPIB device, which plotter emulation needs: use a GPIB "
            "board or a \"++\" adapter for it";
    return fail(err::ECAP);
}

int LanDriver::ibsre(int ud, int /*value*/) {
    // The gateway or instrument holds Remote Enable itself.
    return isBoard(ud) ? finish(CMPL, 0, 0) : fail(err::EARG);
}

int LanDriver::ibwait(int ud, int mask) {
    if (device(ud))
        return finish(CMPL, 0, 0);
    if (!isBoard(ud))
        return fail(err::EDVR);
    if (mask & LACS)
        return noDeviceMode();
    if (!(mask & TIMO) || timeoutMicros(boardOption(0, ibc::TMO)) == 0)
        return fail(err::EARG);
    return finish(TIMO, 0, 0);
}

void LanDriver::SendIFC(int board) {
    if (board != 0) {
        fail(err::ENEB);
        return;
    }
    // The gateway is the controller in charge of its bus and clears it itself.
    finish(CMPL | CIC, 0, 0);
}

std::string LanDriver::unavailableReason() const {
    if (!gateway_ || !connections_.empty())
        return {};
    // The first look connects: a program learns at once that no gateway answers.
    auto* self = const_cast<LanDriver*>(this);
    const std::optional<LanResource> res = resources_ ? resources_(1, 0) : std::nullopt;
    if (!res)
        return {};
    const int64_t deadline = nowMillis() + options_.connectMillis;
    const Result<int> port = self->corePort(*res, deadline, name_);
    if (!port)
        return "no " + port.error() +
               ". Check the host name or address and that the gateway is on the network";
    const Result<Connection*> c = self->connection(res->host, *port, true, deadline, name_);
    if (c)
        return {};
    const std::string why = c.error();
    return "no " + why + ". Check the host name or address and that the gateway is on the network";
}

std::unique_ptr<LanDriver> makeGatewayDriver(const GatewayAddress& gateway, LanOptions options) {
    auto resources = [gateway](int pad, int sad) -> std::optional<LanResource> {
        LanResource r{LanResource::Kind::Vxi11, gateway.host, gateway.port,
                      gateway.bus + "," + std::to_string(pad)};
        if (sad >= 0x60)
            r.device += "," + std::to_string(sad - 0x60);
        return r;
    };
    return std::make_unique<LanDriver>("VXI-11 gateway " + gateway.text(), resources, true,
                                       options);
}

std::unique_ptr<LanDriver> makeLanBusDriver(LanBusMap map, const std::string& fileName,
                                            LanOptions options) {
    auto resources = [map = std::move(map)](int pad, int) -> std::optional<LanResource> {
        auto it = map.find(pad);
        if (it == map.end())
            return std::nullopt;
        return it->second;
    };
    return std::make_unique<LanDriver>("LAN bus file " + fileName, resources, false, options);
}

}  // namespace benchcap::bus::lan
