#include "sim/vxi11_server.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <memory>
#include <string_view>
#include <vector>

#include "sim/adapter_server.h"

namespace benchcap::sim {

using namespace bus::ibsta_bits;

namespace {

// The gateway's side of the wire, kept apart from the client's code on purpose: both are
// written from the protocols' definitions (ONC RPC, RFC 5531; VXI-11 rev. 1.0, part B), so
// each checks the other.
constexpr uint32_t kRpcCall = 0;
constexpr uint32_t kRpcReply = 1;
constexpr uint32_t kPortmapper = 100000;
constexpr uint32_t kPortmapperVersion = 2;
constexpr uint32_t kDeviceCore = 0x0607AF;
constexpr uint32_t kDeviceCoreVersion = 1;
constexpr uint32_t kIpProtoTcp = 6;
// The largest reply (a device_read's data); a call may carry one device_write piece of at
// most max_recv_size and little else, so what a client sends is held to that, and to so
// many connections at once: memory stays bounded whatever clients send.
constexpr uint32_t kLargestRecord = 8u << 20;
constexpr uint32_t kCallOverhead = 64 * 1024;
constexpr int kMostFragments = 4096;
constexpr size_t kMostConnections = 64;
constexpr uint32_t kLongestAuthBody = 400;  // RFC 5531 8.2: opaque_auth body<400>

// accept_stat and reject_stat (RFC 5531 9).
enum : uint32_t {
    kSuccess = 0,
    kProgUnavail = 1,
    kProgMismatch = 2,
    kProcUnavail = 3,
    kGarbageArgs = 4,
};
constexpr uint32_t kMsgAccepted = 0;
constexpr uint32_t kMsgDenied = 1;
constexpr uint32_t kRpcMismatch = 0;
constexpr uint32_t kAuthError = 1;
constexpr uint32_t kAuthBadCred = 1;

// The core channel's procedures (VXI-11 B.6).
enum : uint32_t {
    kCreateLink = 10,
    kDeviceWrite = 11,
    kDeviceRead = 12,
    kDeviceReadStb = 13,
    kDeviceTrigger = 14,
    kDeviceClear = 15,
    kDeviceRemote = 16,
    kDeviceLocal = 17,
    kDeviceLock = 18,
    kDeviceUnlock = 19,
    kDeviceEnableSrq = 20,
    kDeviceDocmd = 22,
    kDestroyLink = 23,
    kCreateIntrChan = 25,
    kDestroyIntrChan = 26,
};
// Device_ErrorCode (VXI-11 B.5.4).
constexpr uint32_t kNoError = 0;
constexpr uint32_t kDeviceNotAccessible = 3;
constexpr uint32_t kInvalidLink = 4;
constexpr uint32_t kParameterError = 5;
constexpr uint32_t kChannelNotEstablished = 6;
constexpr uint32_t kOperationNotSupported = 8;
constexpr uint32_t kOutOfResources = 9;
constexpr uint32_t kDeviceLocked = 11;
constexpr uint32_t kNoLockHeld = 12;
constexpr uint32_t kIoTimeout = 15;
constexpr uint32_t kIoError = 17;
constexpr uint32_t kInvalidAddress = 21;
constexpr uint32_t kAbort = 23;
// Device_Flags and the reasons a read ends (VXI-11 B.5.3, B.6.4).
constexpr uint32_t kWaitLock = 1;
constexpr uint32_t kFlagEnd = 8;
constexpr uint32_t kTermCharSet = 128;
constexpr uint32_t kReasonReqCnt = 1;
constexpr uint32_t kReasonChr = 2;
constexpr uint32_t kReasonEnd = 4;

struct Words {
    std::string out;
    Words& put(uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<char>((v >> shift) & 0xFF));
        return *this;
    }
    Words& bytes(std::string_view data) {
        put(static_cast<uint32_t>(data.size()));
        out += data;
        while (out.size() % 4)
            out.push_back('\0');
        return *this;
    }
};

struct Unpack {
    std::string_view in;
    size_t pos = 0;
    bool good = true;
    uint32_t get() {
        if (pos + 4 > in.size()) {
            good = false;
            return 0;
        }
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v = (v << 8) | static_cast<unsigned char>(in[pos + static_cast<size_t>(i)]);
        pos += 4;
        return v;
    }
    // Variable-length opaque data of at most `limit` bytes (XDR, RFC 4506 4.10).
    std::string bytes(uint32_t limit = kLargestRecord) {
        const uint32_t n = get();
        const size_t padded = (static_cast<size_t>(n) + 3) / 4 * 4;
        if (!good || n > limit || padded > in.size() - pos) {
            good = false;
            return {};
        }
        std::string s(in.substr(pos, n));
        pos += padded;
        return s;
    }
};

int64_t steadyMillis() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The longest time-out code whose time fits in `micros` (10 us at least: code 0 would
// wait for ever).
int codeWithin(int64_t micros) {
    int code = 1;
    while (code < bus::timeout_codes::T1000s && bus::timeoutMicros(code + 1) <= micros)
        ++code;
    return code;
}

std::optional<int> number(std::string_view text) {
    int v = 0;
    const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || p != text.data() + text.size())
        return std::nullopt;
    return v;
}

bool served(uint32_t procedure) {
    return (procedure >= kCreateLink && procedure <= kDeviceEnableSrq) ||
           procedure == kDeviceDocmd || procedure == kDestroyLink || procedure == kCreateIntrChan ||
           procedure == kDestroyIntrChan;
}

// Calls that wait for, or are refused by, another link's lock (VXI-11 B.6: every call with
// a lock_timeout).
bool honoursLocks(uint32_t procedure) {
    return (procedure >= kDeviceWrite && procedure <= kDeviceLock) || procedure == kDeviceDocmd;
}

// The results of a call that ends with `error` alone, in its procedure's result type:
// Device_Error is one word; the others add their fields, zero or empty.
std::string errorResults(uint32_t procedure, uint32_t error) {
    Words r;
    r.put(error);
    switch (procedure) {
        case kCreateLink:
            return r.put(0).put(0).put(0).out;  // lid, abortPort, maxRecvSize
        case kDeviceWrite:                      // size
        case kDeviceReadStb:                    // stb
        case kDeviceDocmd:                      // empty data_out
            return r.put(0).out;
        case kDeviceRead:
            return r.put(0).put(0).out;  // reason, empty data
        default:
            return r.out;
    }
}

// The bytes the next read may take at once from an instrument's output: up to the end of
// its current message, the term char when one is asked for, and `want`.
struct Take {
    size_t bytes = 0;
    bool messageEnd = false;
    bool termChar = false;
};
Take nextTake(const std::deque<OutputChunk>& queue, size_t want, std::optional<char> term) {
    Take t;
    for (const OutputChunk& chunk : queue) {
        std::string_view rest(chunk.bytes.data() + chunk.offset, chunk.remaining());
        rest = rest.substr(0, want - t.bytes);
        if (term) {
            if (const size_t at = rest.find(*term); at != std::string_view::npos) {
                t.bytes += at + 1;
                t.termChar = true;
                t.messageEnd = chunk.eoi && chunk.offset + at + 1 == chunk.bytes.size();
                return t;
            }
        }
        t.bytes += rest.size();
        if (rest.size() < chunk.remaining())
            return t;  // `want` reached inside the chunk
        if (chunk.eoi) {
            t.messageEnd = true;
            return t;
        }
    }
    return t;
}

}  // namespace

uint8_t statusByte(const SimInstrument& instrument, bool answerWaiting) {
    return static_cast<uint8_t>((answerWaiting ? 0x10 : 0) | (instrument.errors().empty() ? 0 : 4));
}

struct Vxi11Server::Call {
    uint32_t xid = 0;
    uint32_t procedure = 0;
    std::string args;
};

struct Vxi11Server::Outcome {
    enum class When { Now, Garbage, Later, WhenUnlocked, Never };
    Outcome(When w, std::string r = {}, int64_t d = 0) : when(w), results(std::move(r)), due(d) {}
    When when;
    std::string results;
    int64_t due = 0;  // Later: when the reply goes; WhenUnlocked: when the wait gives up
};

struct Vxi11Server::Peer {
    int fd = -1;
    bool portmapper = false;
    std::string in;      // bytes received, not yet taken into a record
    std::string record;  // the fragments of the record being received
    int fragments = 0;
    int64_t readBytes = 0;  // read data sent on this connection
    bool silent = false;
    // A call that waits for a lock (run again when one is freed, or at `due` to fail), or
    // whose reply waits for `due` (a read's time-out). Nothing more is read meanwhile.
    struct Waiting {
        Call call;
        bool forLock = false;
        int64_t due = 0;
        std::string results;
    };
    std::optional<Waiting> waiting;
};

Vxi11Server::Vxi11Server(SimBench& bench, Vxi11ServerOptions options)
    : bench_(bench), options_(std::move(options)) {}

Vxi11Server::~Vxi11Server() = default;

Vxi11Server::Lock Vxi11Server::lockFor(uint32_t lid, const DeviceLink& link, uint32_t flags,
                                       bool waitOver) const {
    const auto held = locks_.find({link.board, link.address});
    if (held == locks_.end() || held->second == lid)
        return Lock::Free;
    // VXI-11 B.6.1: with waitlock set the call waits up to lock_timeout for the lock.
    return (flags & kWaitLock) && !waitOver ? Lock::Wait : Lock::Refused;
}

void Vxi11Server::dropLink(std::map<uint32_t, DeviceLink>::iterator link) {
    const auto held = locks_.find({link->second.board, link->second.address});
    if (held != locks_.end() && held->second == link->first) {
        locks_.erase(held);
        locksChanged_ = true;
    }
    bench_.ibonl(link->second.ud, 0);
    links_.erase(link);
}

Vxi11Server::Outcome Vxi11Server::createLink(Peer& peer, const Call& call, bool lockWaitOver) {
    Unpack a{call.args};
    a.get();  // client id
    const bool lockDevice = a.get() != 0;
    const uint32_t lockTimeout = a.get();
    std::string device = a.bytes();
    if (!a.good)
        return {Outcome::When::Garbage};
    auto refused = [](uint32_t error) {
        return Outcome{Outcome::When::Now, errorResults(kCreateLink, error)};
    };
    if (auto forced = options_.forcedErrors.find(kCreateLink);
        forced != options_.forcedErrors.end())
        return refused(forced->second);
    // Device names as VISA writes them ("GPIB0,7", "inst0") name the same devices.
    std::transform(device.begin(), device.end(), device.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    int board = 0;
    std::optional<int> address;
    std::optional<int> secondary;
    if (device.rfind("inst", 0) == 0) {
        address = number(std::string_view(device).substr(4));
        if (address == 0) {
            // inst0, VISA's default device name: the bench's first instrument.
            for (int a = 1; a <= 30 && address == 0; ++a)
                if (bench_.instrument(0, a))
                    address = a;
        }
    } else if (device.rfind("gpib", 0) == 0) {
        std::vector<std::string_view> parts;
        std::string_view rest = std::string_view(device).substr(4);
        for (size_t comma; (comma = rest.find(',')) != std::string_view::npos;
             rest.remove_prefix(comma + 1))
            parts.push_back(rest.substr(0, comma));
        parts.push_back(rest);
        if (parts.size() >= 2 && parts.size() <= 3) {
            board = number(parts[0]).value_or(-1);
            address = number(parts[1]);
            if (parts.size() == 3) {
                secondary = number(parts[2]);
                if (!secondary || *secondary < 0 || *secondary > 30)
                    return refused(kInvalidAddress);
            }
        }
    }
    if (!address || *address < 0 || *address > 30 || board < 0 || board > 9)
        return refused(kInvalidAddress);
    SimInstrument* inst = bench_.instrument(board, *address);
    if (!inst || !inst->listens())
        return refused(kDeviceNotAccessible);
    // VXI-11 B.6.1: lockDevice waits up to lock_timeout for another link's lock.
    if (lockDevice && locks_.count({board, *address})) {
        if (!lockWaitOver)
            return {Outcome::When::WhenUnlocked, {}, steadyMillis() + lockTimeout};
        return refused(kDeviceLocked);
    }
    if (links_.size() >= options_.maxLinks)
        return refused(kOutOfResources);
    const int ud = bench_.ibdev(board, *address, secondary ? 0x60 + *secondary : 0,
                                bus::timeout_codes::T10s, 1, 0);
    if (ud < 0)
        return refused(kDeviceNotAccessible);
    const uint32_t lid = nextLid_++;
    links_[lid] = DeviceLink{ud, board, *address, peer.fd, false, {}};
    if (lockDevice)
        locks_[{board, *address}] = lid;
    // No abort channel: abortPort 0.
    return {Outcome::When::Now,
            Words().put(kNoError).put(lid).put(0).put(options_.maxRecvSize).out};
}

Vxi11Server::Outcome Vxi11Server::readCall(Peer& peer, DeviceLink& link, uint32_t requestSize,
                                           uint32_t ioTimeout, std::optional<char> termChar) {
    const int64_t due = steadyMillis() + ioTimeout;
    size_t want = std::min<size_t>(requestSize, kLargestRecord - 64);
    if (options_.readPiece)
        want = std::min<size_t>(want, options_.readPiece);
    SimInstrument* inst = bench_.instrument(link.board, link.address);
    // The instrument's data take the bench's time (its rates, on its clock) within the
    // io_timeout; what does not come in that time is not waited for on the bench's clock
    // but in real time, below, as a gateway waits.
    const int64_t budget = int64_t{ioTimeout} * 1000;
    const int64_t start = bench_.clock().nowMicros();
    std::string data;
    uint32_t reason = 0;
    uint32_t error = kNoError;
    bool done = want == 0;
    while (!done && inst) {
        const Take take = nextTake(inst->output(), want - data.size(), termChar);
        const int64_t left = budget - (bench_.clock().nowMicros() - start);
        if (take.bytes == 0 || left <= 0)
            break;
        bench_.ibtmo(link.ud, codeWithin(left));
        std::string piece(take.bytes, '\0');
        const int sta = bench_.ibrd(link.ud, piece.data(), static_cast<long>(piece.size()));
        const auto got =
            std::min(static_cast<size_t>(std::max(0, bench_.status().ibcntl)), take.bytes);
        data.append(piece, 0, got);
        if ((sta & ERR) && !(sta & TIMO)) {
            error = stopping_ ? kAbort : kIoError;  // a bus error, or the gateway stopping
            break;
        }
        if (got == take.bytes) {
            if (take.termChar)
                reason |= kReasonChr;
            if (take.messageEnd)
                reason |= kReasonEnd;
            done = reason != 0 || data.size() == want;
        }
    }
    if (data.size() == requestSize)
        reason |= kReasonReqCnt;
    if (options_.fault == WireFault::LongerThanAsked && options_.faultProcedure == kDeviceRead) {
        data.resize(std::min<size_t>(requestSize, kLargestRecord - 64) + 4, '!');
        done = true;
    }
    peer.readBytes += static_cast<int64_t>(data.size());
    if (options_.silentAfterBytes >= 0 && peer.readBytes > options_.silentAfterBytes)
        return {Outcome::When::Never};
    if (error)
        return {Outcome::When::Now, Words().put(error).put(0).bytes(data).out};
    if (done)
        return {Outcome::When::Now, Words().put(kNoError).put(reason).bytes(data).out};
    // VXI-11 B.6.4: nothing (more) within io_timeout is error 15, with the data that came.
    return {Outcome::When::Later, Words().put(kIoTimeout).put(0).bytes(data).out, due};
}

Vxi11Server::Outcome Vxi11Server::coreCall(Peer& peer, const Call& call, bool lockWaitOver) {
    const uint32_t proc = call.procedure;
    auto now = [](std::string results) { return Outcome{Outcome::When::Now, std::move(results)}; };
    if (proc == kCreateLink)
        return createLink(peer, call, lockWaitOver);
    Unpack a{call.args};
    if (proc == kCreateIntrChan || proc == kDestroyIntrChan) {
        // Device_RemoteFunc: host address, port, program, version, family.
        for (int i = 0; proc == kCreateIntrChan && i < 5; ++i)
            a.get();
        if (!a.good)
            return {Outcome::When::Garbage};
        // The bench raises no service requests: no interrupt channel is made, so none is
        // there to destroy (VXI-11 B.6.14, B.6.15).
        return now(errorResults(
            proc, proc == kCreateIntrChan ? kOperationNotSupported : kChannelNotEstablished));
    }
    const uint32_t lid = a.get();
    uint32_t flags = 0;
    uint32_t ioTimeout = 0;
    uint32_t lockTimeout = 0;
    uint32_t requestSize = 0;
    uint32_t termChar = 0;
    bool enable = false;
    std::string data;
    switch (proc) {
        case kDeviceWrite:
            ioTimeout = a.get();
            lockTimeout = a.get();
            flags = a.get();
            data = a.bytes();
            break;
        case kDeviceRead:
            requestSize = a.get();
            ioTimeout = a.get();
            lockTimeout = a.get();
            flags = a.get();
            termChar = a.get();
            break;
        case kDeviceReadStb:
        case kDeviceTrigger:
        case kDeviceClear:
        case kDeviceRemote:
        case kDeviceLocal:
            flags = a.get();
            lockTimeout = a.get();
            ioTimeout = a.get();
            break;
        case kDeviceLock:
            flags = a.get();
            lockTimeout = a.get();
            break;
        case kDeviceEnableSrq:
            enable = a.get() != 0;
            data = a.bytes(40);  // the handle: opaque<40>
            break;
        case kDeviceDocmd:
            flags = a.get();
            ioTimeout = a.get();
            lockTimeout = a.get();
            a.get();  // cmd
            a.get();  // network order
            a.get();  // data size
            data = a.bytes();
            break;
        default:  // device_unlock, destroy_link: the link alone
            break;
    }
    if (!a.good)
        return {Outcome::When::Garbage};
    if (auto forced = options_.forcedErrors.find(proc); forced != options_.forcedErrors.end())
        return now(errorResults(proc, forced->second));
    const auto it = links_.find(lid);
    if (it == links_.end())
        return now(errorResults(proc, kInvalidLink));
    DeviceLink& link = it->second;
    if (honoursLocks(proc)) {
        const Lock lock = lockFor(lid, link, flags, lockWaitOver);
        if (lock == Lock::Wait)
            return {Outcome::When::WhenUnlocked, {}, steadyMillis() + lockTimeout};
        if (lock == Lock::Refused)
            return now(errorResults(proc, kDeviceLocked));
    }
    SimInstrument* inst = bench_.instrument(link.board, link.address);
    switch (proc) {
        case kDeviceWrite: {
            if (data.size() > options_.maxRecvSize)
                return now(errorResults(proc, kParameterError));  // more than announced
            bench_.ibconfig(link.ud, bus::ibc::EOT, (flags & kFlagEnd) ? 1 : 0);
            const int sta = bench_.ibwrt(link.ud, data.data(), static_cast<long>(data.size()));
            if (sta & ERR)
                return now(Words()
                               .put((sta & TIMO) ? kIoTimeout : kIoError)
                               .put(static_cast<uint32_t>(std::max(0, bench_.status().ibcntl)))
                               .out);
            return now(Words().put(kNoError).put(static_cast<uint32_t>(data.size())).out);
        }
        case kDeviceRead:
            return readCall(peer, link, requestSize, ioTimeout,
                            (flags & kTermCharSet)
                                ? std::optional<char>(static_cast<char>(termChar))
                                : std::nullopt);
        case kDeviceReadStb:
            return now(Words()
                           .put(kNoError)
                           .put(inst ? statusByte(*inst, !inst->output().empty()) : 0)
                           .out);
        case kDeviceClear:
            // The bench's Selected Device Clear: unread and unfinished answers go.
            return now(
                errorResults(proc, (bench_.ibclr(link.ud) & ERR) != 0 ? kIoError : kNoError));
        case kDeviceLocal:
            bench_.ibloc(link.ud);
            return now(errorResults(proc, kNoError));
        case kDeviceLock:
            locks_[{link.board, link.address}] = lid;
            return now(errorResults(proc, kNoError));
        case kDeviceUnlock: {
            const auto held = locks_.find({link.board, link.address});
            if (held == locks_.end() || held->second != lid)
                return now(errorResults(proc, kNoLockHeld));
            locks_.erase(held);
            locksChanged_ = true;
            return now(errorResults(proc, kNoError));
        }
        case kDeviceEnableSrq:
            link.srqEnabled = enable;
            link.srqHandle = enable ? data : std::string();
            return now(errorResults(proc, kNoError));
        case kDeviceDocmd:
            // No VXI-11.2 bus command is carried out on the simulated bus.
            return now(errorResults(proc, kOperationNotSupported));
        case kDestroyLink:
            dropLink(it);
            return now(errorResults(proc, kNoError));
        default:  // device_trigger, device_remote: nothing to do on the simulated bus
            return now(errorResults(proc, kNoError));
    }
}

std::string Vxi11Server::portmapCall(uint32_t procedure, const std::string& args,
                                     uint32_t& accept) const {
    Unpack a{args};
    accept = kSuccess;
    if (procedure < 1 || procedure > 4) {  // CALLIT is not forwarded
        accept = kProcUnavail;
        return {};
    }
    if (procedure == 4) {  // DUMP: the two mappings there are, as a pmaplist
        return Words()
            .put(1)
            .put(kPortmapper)
            .put(kPortmapperVersion)
            .put(kIpProtoTcp)
            .put(static_cast<uint32_t>(portmapPort_))
            .put(1)
            .put(kDeviceCore)
            .put(kDeviceCoreVersion)
            .put(kIpProtoTcp)
            .put(static_cast<uint32_t>(corePort_))
            .put(0)
            .out;
    }
    const uint32_t prog = a.get();
    const uint32_t vers = a.get();
    const uint32_t prot = a.get();
    a.get();  // port
    if (!a.good) {
        accept = kGarbageArgs;
        return {};
    }
    if (procedure != 3)  // SET and UNSET: the table is fixed
        return Words().put(0).out;
    const bool ours = prog == kDeviceCore && vers == kDeviceCoreVersion && prot == kIpProtoTcp;
    return Words().put(ours ? static_cast<uint32_t>(corePort_) : 0).out;
}

bool Vxi11Server::runCall(Peer& peer, const Call& call, std::optional<int64_t> lockDue) {
    const bool waitOver = lockDue && steadyMillis() >= *lockDue;
    Outcome o = coreCall(peer, call, waitOver);
    peer.waiting.reset();
    auto accepted = [](uint32_t accept, const std::string& results) {
        return Words().put(kMsgAccepted).put(0).put(0).put(accept).out + results;
    };
    switch (o.when) {
        case Outcome::When::Now:
            return sendReply(peer, call.xid, call.procedure, accepted(kSuccess, o.results));
        case Outcome::When::Garbage:
            return sendReply(peer, call.xid, call.procedure, accepted(kGarbageArgs, {}));
        case Outcome::When::Never:
            peer.silent = true;
            return true;
        case Outcome::When::Later:
            peer.waiting = Peer::Waiting{call, false, o.due, accepted(kSuccess, o.results)};
            return true;
        case Outcome::When::WhenUnlocked:
            peer.waiting = Peer::Waiting{call, true, lockDue.value_or(o.due), {}};
            return true;
    }
    return false;
}

bool Vxi11Server::handleRecord(Peer& peer, const std::string& record) {
    Unpack h{record};
    Call call;
    call.xid = h.get();
    const uint32_t type = h.get();
    const uint32_t rpcVersion = h.get();
    const uint32_t program = h.get();
    const uint32_t version = h.get();
    call.procedure = h.get();
    h.get();
    const size_t credLength = h.bytes().size();  // credentials: any flavour is let in
    h.get();
    h.bytes();  // verifier
    if (!h.good || type != kRpcCall)
        return false;  // no call to answer: the stream makes no sense
    Words body;
    if (rpcVersion != 2) {
        body.put(kMsgDenied).put(kRpcMismatch).put(2).put(2);  // RFC 5531 9: rpc_mismatch
        return sendReply(peer, call.xid, call.procedure, body.out);
    }
    if (credLength > kLongestAuthBody) {
        body.put(kMsgDenied).put(kAuthError).put(kAuthBadCred);
        return sendReply(peer, call.xid, call.procedure, body.out);
    }
    call.args = record.substr(h.pos);
    body.put(kMsgAccepted).put(0).put(0);  // accepted, AUTH_NONE verifier
    const uint32_t wanted = peer.portmapper ? kPortmapper : kDeviceCore;
    const uint32_t wantedVersion = peer.portmapper ? kPortmapperVersion : kDeviceCoreVersion;
    if (program != wanted) {
        body.put(kProgUnavail);
    } else if (version != wantedVersion) {
        body.put(kProgMismatch).put(wantedVersion).put(wantedVersion);
    } else if (call.procedure == 0) {
        body.put(kSuccess);  // the NULL procedure: no arguments, no results (RFC 5531 12)
    } else if (peer.portmapper) {
        uint32_t accept = kSuccess;
        const std::string results = portmapCall(call.procedure, call.args, accept);
        body.put(accept).out += results;
    } else if (!served(call.procedure)) {
        body.put(kProcUnavail);
    } else {
        return runCall(peer, call, std::nullopt);
    }
    return sendReply(peer, call.xid, call.procedure, body.out);
}

bool Vxi11Server::sendAll(int fd, const std::string& bytes) {
    return sendAllBytes(fd, bytes, stopping_);
}

bool Vxi11Server::sendReply(Peer& peer, uint32_t xid, uint32_t procedure, const std::string& body) {
    const WireFault fault =
        !peer.portmapper && procedure == options_.faultProcedure ? options_.fault : WireFault::None;
    const std::string message =
        Words().put(fault == WireFault::WrongXid ? xid + 1 : xid).put(kRpcReply).out + body;
    switch (fault) {
        case WireFault::Close:
            return false;
        case WireFault::Silent:
            peer.silent = true;
            return true;
        case WireFault::HugeRecord:
            return sendAll(peer.fd, Words().put(0xFFFFFFFFu).out + message);
        case WireFault::EndlessFragments: {
            // More fragments than any client takes, none of them the last.
            std::string fragments;
            for (int i = 0; i < kMostFragments + 100; ++i)
                fragments += Words().put(4).put(xid).out;
            return sendAll(peer.fd, fragments);
        }
        default:
            break;
    }
    // Record marking (RFC 5531 11): one fragment, marked last.
    return sendAll(peer.fd,
                   Words().put(0x80000000u | static_cast<uint32_t>(message.size())).out + message);
}

bool Vxi11Server::readRecords(Peer& peer) {
    size_t used = 0;
    bool keep = true;
    // Record marking: fragments behind a 4-byte header, the top bit on the last.
    while (keep && !peer.waiting && peer.in.size() - used >= 4) {
        Unpack h{std::string_view(peer.in).substr(used, 4)};
        const uint32_t word = h.get();
        const uint32_t length = word & 0x7FFFFFFFu;
        const size_t largest =
            std::min<size_t>(kLargestRecord, size_t{options_.maxRecvSize} + kCallOverhead);
        if (length > largest - peer.record.size() || ++peer.fragments > kMostFragments) {
            keep = false;  // more than any call of ours needs
            break;
        }
        if (peer.in.size() - used - 4 < length) {
            --peer.fragments;
            break;
        }
        peer.record.append(peer.in, used + 4, length);
        used += 4 + length;
        if (!(word & 0x80000000u))
            continue;
        const std::string record = std::move(peer.record);
        peer.record.clear();
        peer.fragments = 0;
        if (!peer.silent)
            keep = handleRecord(peer, record);
    }
    peer.in.erase(0, used);
    return keep;
}

void Vxi11Server::closePeer(Peer& peer) {
    for (auto it = links_.begin(); it != links_.end();) {
        auto next = std::next(it);
        if (it->second.owner == peer.fd) {
            if (options_.keepLinksOfClosedConnections)
                it->second.owner = -1;
            else
                dropLink(it);
        }
        it = next;
    }
    ::close(peer.fd);
    peer.fd = -1;
    peer.waiting.reset();
}

void Vxi11Server::resumeWaiting(std::vector<std::unique_ptr<Peer>>& peers, int& pollMillis) {
    const bool freed = locksChanged_;
    locksChanged_ = false;
    for (auto& p : peers) {
        if (p->fd < 0 || !p->waiting)
            continue;
        const int64_t now = steadyMillis();
        Peer::Waiting& w = *p->waiting;
        if (now < w.due && !(w.forLock && freed)) {
            pollMillis = static_cast<int>(std::min<int64_t>(pollMillis, w.due - now));
            continue;
        }
        Peer::Waiting waiting = std::move(w);
        p->waiting.reset();
        bool keep = waiting.forLock
                        ? runCall(*p, waiting.call, waiting.due)
                        : sendReply(*p, waiting.call.xid, waiting.call.procedure, waiting.results);
        // The calls that came behind it.
        if (keep && !p->waiting)
            keep = readRecords(*p);
        if (!keep)
            closePeer(*p);
    }
}

void Vxi11Server::serve(int coreFd, int portmapFd, int corePort) {
    corePort_ = corePort;
    if (portmapFd >= 0) {
        sockaddr_storage addr{};
        socklen_t len = sizeof addr;
        if (::getsockname(portmapFd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            portmapPort_ =
                ntohs(addr.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port
                                                 : reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
    }
    // A paced transfer on a real-time bench ends when the gateway stops.
    bench_.setInterruptCheck([this] { return stopping_.load(); });
    std::vector<std::unique_ptr<Peer>> peers;
    std::vector<char> buffer(1 << 16);
    while (!stopping_) {
        int pollMillis = 50;
        resumeWaiting(peers, pollMillis);
        if (outage_.active()) {
            for (const auto& p : peers)
                closePeer(*p);
        }
        std::erase_if(peers, [](const auto& p) { return p->fd < 0; });
        std::vector<pollfd> fds{{coreFd, POLLIN, 0}, {portmapFd, POLLIN, 0}};
        // A peer with a waiting call is not read from (it is asked only whether it closed),
        // so what it may send meanwhile stays in the kernel's buffers, not in ours.
        for (const auto& p : peers)
            fds.push_back({p->fd, static_cast<short>(p->waiting ? POLLRDHUP : POLLIN), 0});
        if (::poll(fds.data(), fds.size(), std::max(0, pollMillis)) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[static_cast<size_t>(i)].fd < 0 ||
                !(fds[static_cast<size_t>(i)].revents & POLLIN))
                continue;
            const int fd = ::accept(fds[static_cast<size_t>(i)].fd, nullptr, nullptr);
            if (fd < 0)
                continue;
            if (options_.fault == WireFault::CloseAtAccept || outage_.active() ||
                peers.size() >= kMostConnections) {
                ::close(fd);
                continue;
            }
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
            auto peer = std::make_unique<Peer>();
            peer->fd = fd;
            peer->portmapper = i == 1;
            peers.push_back(std::move(peer));
        }
        for (size_t i = 2; i < fds.size(); ++i) {
            Peer& peer = *peers[i - 2];
            if (!fds[i].revents || peer.fd < 0)
                continue;
            if (peer.waiting) {
                closePeer(peer);  // it hung up on its own call
                continue;
            }
            const ssize_t n = ::read(peer.fd, buffer.data(), buffer.size());
            bool keep = n > 0 || (n < 0 && (errno == EAGAIN || errno == EINTR));
            if (n > 0) {
                peer.in.append(buffer.data(), static_cast<size_t>(n));
                keep = readRecords(peer);
            }
            if (!keep)
                closePeer(peer);
        }
        std::erase_if(peers, [](const auto& p) { return p->fd < 0; });
    }
    for (const auto& p : peers)
        ::close(p->fd);
    bench_.setInterruptCheck({});
}

}  // namespace benchcap::sim
