#include "sim/vxi11_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <memory>
#include <optional>
#include <vector>

namespace benchcap::sim {

using namespace bus::ibsta_bits;

namespace {

// The gateway's side of the wire, kept apart from the client's code on purpose: both are
// written from the protocol's definitions, so each checks the other.
constexpr uint32_t kRpcCall = 0;
constexpr uint32_t kRpcReply = 1;
constexpr uint32_t kPortmapper = 100000;
constexpr uint32_t kDeviceCore = 0x0607AF;
constexpr uint32_t kLargestRecord = 8u << 20;

enum : uint32_t {
    kCreateLink = 10,
    kDeviceWrite = 11,
    kDeviceRead = 12,
    kDeviceReadStb = 13,
    kDeviceClear = 15,
    kDeviceRemote = 16,
    kDeviceLocal = 17,
    kDestroyLink = 23,
};
constexpr uint32_t kNoError = 0;
constexpr uint32_t kDeviceNotAccessible = 3;
constexpr uint32_t kInvalidLink = 4;
constexpr uint32_t kOperationNotSupported = 8;
constexpr uint32_t kIoTimeout = 15;
constexpr uint32_t kIoError = 17;

struct Words {
    std::string out;
    Words& put(uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<char>((v >> shift) & 0xFF));
        return *this;
    }
    Words& bytes(const std::string& data) {
        put(static_cast<uint32_t>(data.size()));
        out += data;
        while (out.size() % 4)
            out.push_back('\0');
        return *this;
    }
};

struct Unpack {
    const std::string& in;
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
    std::string bytes() {
        const uint32_t n = get();
        if (!good || n > in.size() - pos) {
            good = false;
            return {};
        }
        std::string s = in.substr(pos, n);
        pos += (n + 3u) / 4u * 4u;
        return s;
    }
};

// The smallest time-out code whose time covers `millis`.
int timeoutCode(uint32_t millis) {
    for (int code = bus::timeout_codes::T300ms; code < bus::timeout_codes::T1000s; ++code)
        if (bus::timeoutMicros(code) / 1000 >= millis)
            return code;
    return bus::timeout_codes::T1000s;
}

std::optional<int> number(std::string_view text) {
    int v = 0;
    const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || p != text.data() + text.size())
        return std::nullopt;
    return v;
}

}  // namespace

struct Vxi11Server::Peer {
    int fd = -1;
    bool portmapper = false;
    std::string in;
    std::string record;
    bool lastFragment = false;
    int64_t readBytes = 0;  // read data sent on this connection
    bool silent = false;
};

Vxi11Server::Vxi11Server(SimBench& bench, Vxi11ServerOptions options)
    : bench_(bench), options_(std::move(options)) {}

Vxi11Server::~Vxi11Server() = default;

uint32_t Vxi11Server::createLink(const std::string& device, int owner, uint32_t& lid) {
    int board = 0;
    std::optional<int> address;
    std::optional<int> secondary;
    if (device.rfind("inst", 0) == 0) {
        address = number(std::string_view(device).substr(4));
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
                    return 21;  // invalid address
            }
        }
    }
    if (!address || *address < 0 || *address > 30 || board < 0 || board > 9)
        return 21;
    SimInstrument* inst = bench_.instrument(board, *address);
    if (!inst || !inst->listens())
        return kDeviceNotAccessible;
    const int ud = bench_.ibdev(board, *address, secondary ? 0x60 + *secondary : 0,
                                bus::timeout_codes::T10s, 1, 0);
    if (ud < 0)
        return kDeviceNotAccessible;
    lid = nextLid_++;
    links_[lid] = DeviceLink{ud, board, *address, owner};
    return kNoError;
}

std::string Vxi11Server::coreCall(Peer& peer, uint32_t procedure, const std::string& args,
                                  bool& reply) {
    Unpack a{args};
    Words r;
    if (procedure == kCreateLink) {
        a.get();  // client id
        a.get();  // lock device
        a.get();  // lock time-out
        const std::string device = a.bytes();
        uint32_t lid = 0;
        const uint32_t error = a.good ? createLink(device, peer.fd, lid) : 5;
        return r.put(error).put(lid).put(0).put(options_.maxRecvSize).out;
    }
    const uint32_t lid = a.get();
    auto link = links_.find(lid);
    if (auto forced = options_.forcedErrors.find(procedure); forced != options_.forcedErrors.end())
        return r.put(forced->second).put(0).put(0).out;
    if (link == links_.end())
        return r.put(kInvalidLink).put(0).put(0).out;
    const int ud = link->second.ud;
    switch (procedure) {
        case kDeviceWrite: {
            const uint32_t ioTimeout = a.get();
            a.get();  // lock time-out
            const uint32_t flags = a.get();
            const std::string data = a.bytes();
            if (data.size() > options_.maxRecvSize)
                return r.put(5).put(0).out;  // larger than this gateway takes
            bench_.ibtmo(ud, timeoutCode(ioTimeout));
            bench_.ibconfig(ud, bus::ibc::EOT, (flags & 8) ? 1 : 0);
            const int sta = bench_.ibwrt(ud, data.data(), static_cast<long>(data.size()));
            if (sta & ERR)
                return r.put((sta & TIMO) ? kIoTimeout : kIoError)
                    .put(static_cast<uint32_t>(std::max(0, bench_.status().ibcntl)))
                    .out;
            return r.put(kNoError).put(static_cast<uint32_t>(data.size())).out;
        }
        case kDeviceRead: {
            uint32_t want = std::min<uint32_t>(a.get(), kLargestRecord - 64);
            const uint32_t ioTimeout = a.get();
            if (options_.readPiece)
                want = std::min(want, options_.readPiece);
            std::string data(want, '\0');
            bench_.ibtmo(ud, timeoutCode(ioTimeout));
            const int sta = bench_.ibrd(ud, data.data(), static_cast<long>(want));
            const auto got = static_cast<uint32_t>(std::max(0, bench_.status().ibcntl));
            data.resize(std::min(got, want));
            uint32_t reason = 0;
            if (sta & END)
                reason |= 4;
            else if (got == want)
                reason |= 1;
            peer.readBytes += got;
            if (options_.silentAfterBytes >= 0 && peer.readBytes > options_.silentAfterBytes) {
                peer.silent = true;
                reply = false;
                return {};
            }
            const uint32_t error = (sta & ERR) ? ((sta & TIMO) ? kIoTimeout : kIoError) : 0;
            return r.put(error).put(error ? 0 : reason).bytes(data).out;
        }
        case kDeviceReadStb:
            return r.put(kNoError).put(0).out;
        case kDeviceClear:
            if (SimInstrument* inst = bench_.instrument(link->second.board, link->second.address))
                inst->output().clear();
            return r.put(kNoError).out;
        case kDeviceRemote:
            return r.put(kNoError).out;
        case kDeviceLocal:
            bench_.ibloc(ud);
            return r.put(kNoError).out;
        case kDestroyLink:
            bench_.ibonl(ud, 0);
            links_.erase(link);
            return r.put(kNoError).out;
        default:
            return r.put(kOperationNotSupported).out;
    }
}

bool Vxi11Server::handleRecord(Peer& peer, const std::string& record) {
    Unpack call{record};
    const uint32_t xid = call.get();
    const uint32_t type = call.get();
    const uint32_t rpcVersion = call.get();
    const uint32_t program = call.get();
    const uint32_t version = call.get();
    const uint32_t procedure = call.get();
    call.get();
    call.bytes();  // credentials
    call.get();
    call.bytes();  // verifier
    if (!call.good || type != kRpcCall)
        return false;
    Words reply;
    reply.put(xid).put(kRpcReply);
    if (rpcVersion != 2) {
        reply.put(1).put(0).put(2).put(2);  // denied: RPC version mismatch
    } else {
        reply.put(0).put(0).put(0);  // accepted, no verifier
        const std::string args = record.substr(call.pos);
        const uint32_t wanted = peer.portmapper ? kPortmapper : kDeviceCore;
        const uint32_t wantedVersion = peer.portmapper ? 2 : 1;
        if (program != wanted) {
            reply.put(1);  // program unavailable
        } else if (version != wantedVersion) {
            reply.put(2).put(wantedVersion).put(wantedVersion);
        } else if (peer.portmapper) {
            Unpack a{args};
            const uint32_t prog = a.get();
            const uint32_t vers = a.get();
            const uint32_t prot = a.get();
            if (procedure == 0) {
                reply.put(0);
            } else if (procedure == 3) {
                const bool ours = a.good && prog == kDeviceCore && vers == 1 && prot == 6;
                reply.put(0).put(ours ? static_cast<uint32_t>(corePort_) : 0);
            } else {
                reply.put(3);
            }
        } else {
            bool answer = true;
            const std::string results = coreCall(peer, procedure, args, answer);
            if (!answer)
                return true;
            reply.put(0);
            reply.out += results;
        }
    }
    Words header;
    header.put(0x80000000u | static_cast<uint32_t>(reply.out.size()));
    const std::string bytes = header.out + reply.out;
    size_t sent = 0;
    while (sent < bytes.size() && !stopping_) {
        const ssize_t n = ::send(peer.fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd p{peer.fd, POLLOUT, 0};
        ::poll(&p, 1, 50);
    }
    return sent == bytes.size();
}

void Vxi11Server::serve(int coreFd, int portmapFd, int corePort) {
    corePort_ = corePort;
    std::vector<std::unique_ptr<Peer>> peers;
    std::vector<char> buffer(1 << 16);
    while (!stopping_) {
        std::vector<pollfd> fds{{coreFd, POLLIN, 0}, {portmapFd, POLLIN, 0}};
        for (const auto& p : peers)
            fds.push_back({p->fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), 50) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[static_cast<size_t>(i)].fd < 0 ||
                !(fds[static_cast<size_t>(i)].revents & POLLIN))
                continue;
            const int fd = ::accept(fds[static_cast<size_t>(i)].fd, nullptr, nullptr);
            if (fd < 0)
                continue;
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
            auto peer = std::make_unique<Peer>();
            peer->fd = fd;
            peer->portmapper = i == 1;
            peers.push_back(std::move(peer));
        }
        for (size_t i = 2; i < fds.size(); ++i) {
            if (!fds[i].revents)
                continue;
            Peer& peer = *peers[i - 2];
            const ssize_t n = ::read(peer.fd, buffer.data(), buffer.size());
            bool keep = n > 0 || (n < 0 && (errno == EAGAIN || errno == EINTR));
            if (n > 0)
                peer.in.append(buffer.data(), static_cast<size_t>(n));
            // Record marking: fragments behind a 4-byte header, the top bit on the last.
            while (keep && peer.in.size() >= 4) {
                Unpack h{peer.in};
                const uint32_t word = h.get();
                const uint32_t length = word & 0x7FFFFFFFu;
                if (length > kLargestRecord || peer.record.size() + length > kLargestRecord) {
                    keep = false;
                    break;
                }
                if (peer.in.size() < 4 + length)
                    break;
                peer.record.append(peer.in, 4, length);
                peer.in.erase(0, 4 + length);
                if (!(word & 0x80000000u))
                    continue;
                const std::string record = std::move(peer.record);
                peer.record.clear();
                if (!peer.silent)
                    keep = handleRecord(peer, record);
            }
            if (!keep) {
                std::erase_if(links_, [&](const auto& entry) {
                    if (entry.second.owner != peer.fd)
                        return false;
                    bench_.ibonl(entry.second.ud, 0);
                    return true;
                });
                ::close(peer.fd);
                peer.fd = -1;
            }
        }
        std::erase_if(peers, [](const auto& p) { return p->fd < 0; });
    }
    for (const auto& p : peers)
        ::close(p->fd);
}

}  // namespace benchcap::sim
