#include "trace/trace_block.h"

#include <algorithm>
#include <bit>
#include <string_view>

#include "bus/block_header.h"

namespace benchcap::trace {
namespace {

namespace sta = bus::ibsta_bits;

// One piece of a block read: large enough to keep driver calls rare, small enough that
// a block announced far longer than sent never allocates much.
constexpr int64_t kPiece = int64_t{1} << 20;

// Reads up to `count` bytes; returns how many came. `stopped` tells whether the
// instrument ended the message (EOI) or the read failed (time-out or other error).
long ReadSome(bus::Session& session, char* buffer, long count, bool& timedOut, bool& ended) {
    const int16_t status = session.ReadBlock(buffer, count);
    const bus::DriverStatus s = session.driver().status();
    timedOut = (status & sta::ERR) != 0 || (status & sta::TIMO) != 0 || status == 0;
    ended = (status & sta::END) != 0;
    return std::clamp<long>(s.ibcntl, 0, count);
}

std::string Printable(const char* text, long count) {
    std::string s;
    for (long i = 0; i < count; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        s += c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '?';
    }
    return s;
}

}  // namespace

int64_t ReadBlockHeader(bus::Session& session, std::string& error) {
    int status = 0;
    const std::string header = bus::ReadBlockHeaderBytes(session, status);
    if (header.size() < 2) {
        error = header.empty() ? "The instrument sent no trace data (time-out)."
                               : "The trace data ended inside the block header.";
        return -1;
    }
    const int digits = bus::BlockLengthDigits(header);
    if (digits == 0) {
        error = "The trace data does not start with a block header (\"" +
                Printable(header.data(), 2) + "\" instead of \"#\" and a digit 1 to 9).";
        return -1;
    }
    const std::string_view lengthText = std::string_view(header).substr(2);
    const int64_t length = bus::BlockLengthValue(lengthText);
    if (length < 0) {
        error = "The block header of the trace data holds no length (\"" +
                Printable(lengthText.data(), static_cast<long>(lengthText.size())) + "\").";
        return -1;
    }
    if (lengthText.size() < static_cast<size_t>(digits)) {
        error = "The trace data ended inside the block header.";
        return -1;
    }
    return length;
}

namespace {

// Reads exactly `count` bytes in pieces into storage that `grow(size)` enlarges to `size`
// bytes and returns the start of; a block announced longer than sent costs at most one
// piece more than arrived.
template <class Grow>
bool ReadPieces(bus::Session& session, int64_t count, Grow grow, std::string& error) {
    int64_t have = 0;
    while (have < count) {
        const int64_t want = std::min(kPiece, count - have);
        char* base = grow(have + want);
        bool timedOut = false;
        bool ended = false;
        const long got = ReadSome(session, base + have, static_cast<long>(want), timedOut, ended);
        have += got;
        if (have < count && (timedOut || ended || got == 0)) {
            error = "The trace data broke off after " + std::to_string(have) + " of " +
                    std::to_string(count) + " bytes" + (timedOut ? " (time-out)." : ".");
            return false;
        }
    }
    return true;
}

}  // namespace

bool ReadBlockBytes(bus::Session& session, int64_t count, std::vector<uint8_t>& bytes,
                    std::string& error) {
    bytes.clear();
    bytes.reserve(static_cast<std::size_t>(std::min(count, 16 * kPiece)));
    return ReadPieces(
        session, count,
        [&bytes](int64_t size) {
            bytes.resize(static_cast<std::size_t>(size));
            return reinterpret_cast<char*>(bytes.data());
        },
        error);
}

bool ReadReal32Block(bus::Session& session, std::vector<float>& values, std::string& error) {
    const int64_t length = ReadBlockHeader(session, error);
    if (length < 0) {
        return false;
    }
    if (length % 4 != 0) {
        error = "The trace block holds " + std::to_string(length) +
                " bytes, not a whole number of 32-bit values.";
        return false;
    }
    // Straight into the float array: the bytes are IEEE 754 singles, least significant
    // byte first, which is the machine's own layout here.
    static_assert(std::endian::native == std::endian::little);
    std::vector<float> floats;
    floats.reserve(static_cast<std::size_t>(std::min(length, 16 * kPiece) / 4));
    if (!ReadPieces(
            session, length,
            [&floats](int64_t size) {
                floats.resize(static_cast<std::size_t>(size / 4));
                return reinterpret_cast<char*>(floats.data());
            },
            error)) {
        return false;
    }
    values = std::move(floats);
    return true;
}

}  // namespace benchcap::trace
