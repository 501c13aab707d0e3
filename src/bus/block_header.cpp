#include "bus/block_header.h"

#include <algorithm>
#include <memory>

namespace benchcap::bus {

namespace sta = ibsta_bits;

namespace {

// Bytes as a reader can see them in a message: printable ones as they are, the others
// as \xNN.
std::string shown(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : bytes.substr(0, 24)) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F) {
            out.push_back(c);
        } else {
            out += "\\x";
            out.push_back(kHex[u >> 4]);
            out.push_back(kHex[u & 15]);
        }
    }
    if (bytes.size() > 24)
        out += "...";
    return "\"" + out + "\"";
}

constexpr char kNoHeader[] = " does not start with a block header ('#' and a digit 1 to 9)";
// The smallest piece a slow link shrinks the reads to: below it, driver calls would cost
// more than the bytes they bring.
constexpr int64_t kSmallestPiece = 64;

constexpr char kOffTheBus[] = "the instrument is not ready, so nothing was read";

// One driver read of up to `count` bytes.
struct Piece {
    int status = 0;  // 0: the session kept the read off the bus
    long got = 0;
    std::string cause;  // why the driver failed (a lost adapter named), for an ERR
};

Piece readPiece(Session& session, char* buffer, long count) {
    Piece p;
    p.status = session.ReadBlock(buffer, count);
    if (p.status == 0)
        return p;  // the driver's counts belong to an earlier call
    const DriverStatus s = session.driver().status();
    p.got = std::clamp<long>(s.ibcntl, 0, count);
    if (p.status & sta::ERR)
        p.cause = driverErrorText(session.driver());
    return p;
}

// Why a read returned less than asked, as the end of a phrase.
std::string reason(const Piece& p) {
    if (p.status & sta::TIMO)
        return " (time-out)";
    if (p.status & sta::ERR)
        return " (" + p.cause + ")";
    return "";
}

// The kind of a read that returned less than asked: silence, a bus failure, or data that
// stopped short.
ErrorKind kindOf(const Piece& p) {
    if (p.status & sta::TIMO)
        return ErrorKind::TimedOut;
    if (p.status & sta::ERR)
        return ErrorKind::BusError;
    return ErrorKind::BadData;
}

}  // namespace

Result<int64_t> ParseBlockHeader(std::string_view header) {
    if (header.empty())
        return fail(ErrorKind::BadData, "no block header arrived");
    if (header.front() != '#')
        return fail(ErrorKind::BadData, "the answer " + shown(header) + kNoHeader);
    if (header.size() < 2)
        return fail(ErrorKind::BadData, "the data ended inside the block header \"#\"");
    if (header[1] == '0') {
        return fail(ErrorKind::BadData,
                    "the instrument sent an indefinite-length block (#0); only a block header with "
                    "a length is supported");
    }
    if (header[1] < '1' || header[1] > '9') {
        return fail(ErrorKind::BadData, "the answer " + shown(header) + kNoHeader);
    }
    const auto digits = static_cast<size_t>(header[1] - '0');
    const std::string_view field = header.substr(2);
    if (field.size() < digits)
        return fail(ErrorKind::BadData, "the data ended inside the block header " + shown(header));
    if (field.size() > digits) {
        return fail(ErrorKind::BadData, "the block header " + shown(header) + " announces " +
                                            std::to_string(digits) + " length digits but carries " +
                                            std::to_string(field.size()));
    }
    int64_t length = 0;
    for (const char c : field) {
        if (c < '0' || c > '9') {
            return fail(ErrorKind::BadData, "the length field of the block header " +
                                                shown(header) + " is not a decimal number");
        }
        length = length * 10 + (c - '0');
    }
    return length;
}

Result<int64_t> ReadBlockHeader(Session& session) {
    if (session.interrupted())
        return interruptedError();
    char bytes[11] = {};
    Piece p = readPiece(session, bytes, 2);
    if (p.status == 0)
        return fail(kOffTheBus);
    if (p.got == 0) {
        if (session.interrupted())
            return interruptedError();
        return fail(kindOf(p), "no block header arrived" + reason(p));
    }
    std::string header(bytes, static_cast<size_t>(p.got));
    if (p.got == 2 && header[0] == '#' && header[1] >= '1' && header[1] <= '9' &&
        !(p.status & (sta::END | sta::ERR))) {
        const long digits = header[1] - '0';
        p = readPiece(session, bytes + 2, digits);
        if (p.status == 0)
            return fail(kOffTheBus);
        header.append(bytes + 2, static_cast<size_t>(p.got));
        if (p.got < digits) {
            return fail(kindOf(p),
                        "the data ended inside the block header " + shown(header) + reason(p));
        }
        if (p.status & sta::END)
            return fail(ErrorKind::BadData,
                        "the block header " + shown(header) + " ended the message");
    }
    return ParseBlockHeader(header);
}

Status ReadBlockData(Session& session, int64_t length, int64_t piece, const BlockSink& sink) {
    piece = std::max<int64_t>(piece, 1);
    const auto size = static_cast<size_t>(std::max<int64_t>(1, std::min(length, piece)));
    const auto buffer = std::make_unique_for_overwrite<char[]>(size);
    int64_t done = 0;
    bool ended = false;
    while (done < length) {
        if (session.interrupted())
            return interruptedError();
        const auto want = static_cast<long>(std::min<int64_t>(length - done, piece));
        session.driver().reportProgress(done, length);
        const Piece p = readPiece(session, buffer.get(), want);
        if (p.status == 0)
            return fail(kOffTheBus);
        if (p.got > 0) {
            if (Status taken = sink(buffer.get(), static_cast<size_t>(p.got)); !taken)
                return taken;
        }
        done += p.got;
        session.driver().reportProgress(done, length);
        ended = (p.status & sta::END) != 0;
        if (p.got > 0 && p.got < want && (p.status & sta::TIMO) && !ended) {
            // A slow link (a serial adapter, an extender): bytes kept coming, the piece was
            // only too long for the time-out. The read lasted the whole time-out, so what it
            // brought is the rate per time-out; the next pieces take about a quarter of it,
            // which keeps stop requests and progress frequent.
            piece = std::clamp<int64_t>(p.got / 4, std::min(kSmallestPiece, piece), piece);
            continue;
        }
        if (p.got < want || (ended && done < length) || (p.status & sta::ERR)) {
            if (session.interrupted())  // the driver ended the read on the stop request
                return interruptedError();
            return fail(kindOf(p), "the block broke off after " + std::to_string(done) + " of " +
                                       std::to_string(length) + " bytes" + reason(p));
        }
    }
    if (ended)
        return {};
    // The message must end here: a line feed with END. Anything else means the header
    // announced less than the instrument sends.
    char after = 0;
    const Piece p = readPiece(session, &after, 1);
    if (p.status == 0)
        return fail(kOffTheBus);
    if (p.got == 1 && after == '\n' && (p.status & sta::END))
        return {};
    if (p.got == 1) {
        return fail(ErrorKind::BadData, "the block header announced " + std::to_string(length) +
                                            " bytes, but more data followed them");
    }
    return fail(kindOf(p), "the block of " + std::to_string(length) +
                               " bytes did not end the message" + reason(p));
}

}  // namespace benchcap::bus
