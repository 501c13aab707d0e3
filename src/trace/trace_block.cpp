#include "trace/trace_block.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "bus/block_header.h"

namespace benchcap::trace {
namespace {

// One piece of a block read: large enough to keep driver calls rare, small enough that
// a block announced far longer than sent never allocates much and that a stop request
// (Ctrl+C) is seen within a quarter of a second at a fast bus's 1 MB/s.
constexpr int64_t kPiece = int64_t{256} << 10;

// Floats reserved before the first piece (4 MiB), and the most a float array holds before
// the block's announced length is taken as true (32 MiB).
constexpr std::size_t kFirstFloats = std::size_t{1} << 20;
constexpr std::size_t kTrustedFloats = std::size_t{8} << 20;

Error traceError(const Error& why) {
    if (why.kind == ErrorKind::Interrupted)
        return why;
    return fail(why.kind, "The trace data cannot be read: " + why.message + ".");
}

// A block whose length is no whole number of values: its bytes are read and dropped (up
// to END, or no byte for a time-out), so that the message can tell how many came and the
// next command does not meet them. A header that announces a huge length over a few
// bytes is then told apart from a trace one byte short.
Error unevenBlock(bus::Session& session, int64_t length) {
    const std::string bytes =
        std::to_string(length) + " bytes, not a whole number of 32-bit values";
    std::size_t came = 0;
    const Status read =
        bus::ReadBlockData(session, length, kPiece, [&came](const char*, std::size_t size) {
            came += size;
            return Status{};
        });
    if (read)
        return fail(ErrorKind::BadData, "The trace block holds " + bytes + ".");
    if (read.errorKind() == ErrorKind::Interrupted)
        return read.failure();
    return fail(ErrorKind::BadData, "The trace block announces " + bytes + "; " +
                                        std::to_string(came) + " came (" + read.error() + ").");
}

}  // namespace

Result<std::vector<float>> ReadReal32Block(bus::Session& session) {
    const Result<int64_t> length = bus::ReadBlockHeader(session);
    if (!length)
        return traceError(length.failure());
    if (*length % 4 != 0)
        return unevenBlock(session, *length);
    // Straight into the float array: the bytes are IEEE 754 singles, least significant
    // byte first, which is the machine's own layout here.
    static_assert(std::endian::native == std::endian::little);
    const auto announced = static_cast<std::size_t>(*length / 4);
    std::vector<float> floats;
    floats.reserve(std::min(announced, kFirstFloats));
    std::size_t have = 0;
    const Status read =
        bus::ReadBlockData(session, *length, kPiece, [&](const char* data, std::size_t size) {
            const std::size_t need = (have + size + 3) / 4;
            if (need > floats.capacity()) {
                // Doubling at most up to kTrustedFloats, then the announced length at
                // once: a long trace is copied to a larger array only while it is small
                // (growing holds the old and the new array together), and its array ends
                // exactly as long as the trace. A header announcing far more than is sent
                // costs address space, not memory, and only after kTrustedFloats arrived.
                floats.reserve(need > kTrustedFloats
                                   ? announced
                                   : std::min(announced, std::max(need, 2 * floats.capacity())));
            }
            floats.resize(need);
            std::memcpy(reinterpret_cast<char*>(floats.data()) + have, data, size);
            have += size;
            return Status{};
        });
    if (!read)
        return traceError(read.failure());
    return floats;
}

Result<std::vector<uint8_t>> ReadByteBlock(bus::Session& session) {
    const Result<int64_t> length = bus::ReadBlockHeader(session);
    if (!length)
        return traceError(length.failure());
    std::vector<uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(std::min(*length, 16 * kPiece)));
    const Status read =
        bus::ReadBlockData(session, *length, kPiece, [&](const char* data, std::size_t size) {
            bytes.insert(bytes.end(), data, data + size);
            return Status{};
        });
    if (!read)
        return traceError(read.failure());
    return bytes;
}

}  // namespace benchcap::trace
