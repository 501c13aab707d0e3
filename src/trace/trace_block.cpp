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

Error traceError(const std::string& why) {
    if (why == bus::kInterruptedMessage)
        return fail(why);
    return fail("The trace data cannot be read: " + why + ".");
}

}  // namespace

Result<std::vector<float>> ReadReal32Block(bus::Session& session) {
    const Result<int64_t> length = bus::ReadBlockHeader(session);
    if (!length)
        return traceError(length.error());
    if (*length % 4 != 0) {
        return fail("The trace block holds " + std::to_string(*length) +
                    " bytes, not a whole number of 32-bit values.");
    }
    // Straight into the float array: the bytes are IEEE 754 singles, least significant
    // byte first, which is the machine's own layout here.
    static_assert(std::endian::native == std::endian::little);
    std::vector<float> floats;
    floats.reserve(static_cast<std::size_t>(std::min(*length, 16 * kPiece) / 4));
    std::size_t have = 0;
    const Status read =
        bus::ReadBlockData(session, *length, kPiece, [&](const char* data, std::size_t size) {
            floats.resize((have + size + 3) / 4);
            std::memcpy(reinterpret_cast<char*>(floats.data()) + have, data, size);
            have += size;
            return Status{};
        });
    if (!read)
        return traceError(read.error());
    return floats;
}

Result<std::vector<uint8_t>> ReadByteBlock(bus::Session& session) {
    const Result<int64_t> length = bus::ReadBlockHeader(session);
    if (!length)
        return traceError(length.error());
    std::vector<uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(std::min(*length, 16 * kPiece)));
    const Status read =
        bus::ReadBlockData(session, *length, kPiece, [&](const char* data, std::size_t size) {
            bytes.insert(bytes.end(), data, data + size);
            return Status{};
        });
    if (!read)
        return traceError(read.error());
    return bytes;
}

}  // namespace benchcap::trace
