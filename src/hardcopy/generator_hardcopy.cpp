#include "hardcopy/generator_hardcopy.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>
#include <utility>

#include "base/output_file.h"
#include "bus/block_header.h"
#include "bus/identification.h"
#include "bus/text.h"
#include "hardcopy/block_transfer.h"

namespace benchcap::hardcopy {

namespace {

// The file size a bitmap file header announces ("BM" and a 32-bit little-endian size),
// or -1 when the file does not start like a bitmap.
int64_t announcedBitmapSize(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char head[6] = {};
    if (!in.read(reinterpret_cast<char*>(head), sizeof head))
        return -1;
    if (head[0] != 'B' || head[1] != 'M')
        return -1;
    return int64_t{head[2]} | (int64_t{head[3]} << 8) | (int64_t{head[4]} << 16) |
           (int64_t{head[5]} << 24);
}

// Where the picture lies in the file the driver wrote: a LAN instrument frames its answer
// as an IEEE 488.2 definite-length block (#NL...L, then the bytes and LF), a GPIB generator
// sends the bitmap bare. The offset and length the block's header gives (the data may
// have stopped short of them), or nothing.
std::optional<std::pair<int64_t, int64_t>> blockData(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char head[11] = {};
    in.read(head, sizeof head);
    const auto n = in.gcount();
    if (n < 3 || head[0] != '#' || head[1] < '1' || head[1] > '9' || n < 2 + (head[1] - '0'))
        return std::nullopt;
    const int64_t headerSize = 2 + (head[1] - '0');
    const Result<int64_t> length =
        bus::ParseBlockHeader(std::string_view(head, static_cast<size_t>(headerSize)));
    if (!length)
        return std::nullopt;
    return std::pair<int64_t, int64_t>{headerSize, *length};
}

// The block's data alone, in a new temporary file for the same target.
Result<OutputFile> unframed(const OutputFile& framed, int64_t offset, int64_t length) {
    Result<OutputFile> bare = OutputFile::create(framed.target());
    if (!bare)
        return bare;
    std::ifstream in(framed.temporaryPath(), std::ios::binary);
    in.seekg(offset);
    std::string piece(64 * 1024, '\0');
    for (int64_t left = length; left > 0;) {
        const auto want = static_cast<std::streamsize>(
            std::min<int64_t>(left, static_cast<int64_t>(piece.size())));
        if (!in.read(piece.data(), want))
            return fail(ErrorKind::File,
                        "cannot read back '" + framed.temporaryPath().string() + "'");
        if (Status written = bare->write(piece.data(), static_cast<size_t>(want)); !written)
            return written.failure();
        left -= want;
    }
    return bare;
}

// Why the driver could not write the picture's file: the driver says only that it failed,
// and a full device is by far the most common cause, told by the free space left beside it.
std::string whyNotWritten(const OutputFile& out) {
    std::error_code ec;
    const std::filesystem::space_info room =
        std::filesystem::space(out.temporaryPath().parent_path(), ec);
    if (!ec && room.available == 0)
        return "no space left on the device";
    return "the file system refused the data";
}

}  // namespace

Result<int64_t> ReadGeneratorHardcopy(bus::Session& session, std::string_view localFile,
                                      const PictureCheck& check) {
    session.OpenDevice();
    session.IdentifyDevice();
    const bus::CurrentInstrument& ci = session.instrument();
    if (!ci.IsReady || !ci.BusEnabled) {
        // No answer to *IDN? is the generator's silence; anything else is not a generator
        // Benchcap reads.
        return fail(ci.ModelName == bus::kModelNoAnswer ? ErrorKind::TimedOut : ErrorKind::Refused,
                    "the generator at GPIB " + std::to_string(ci.BusAddress) +
                        " did not identify itself (" + ci.ModelName + "); nothing was read");
    }
    if (session.interrupted())
        return bus::interruptedError();
    session.WriteDevice("HCOP:DATA?");

    Result<OutputFile> out = OutputFile::create(std::string(bus::TrimBlanks(localFile)));
    if (!out)
        return out.failure();
    out->closeForOtherWriter();
    bus::GpibDriver& driver = session.driver();
    // One driver call reads the whole picture; a stop request ends it (ERR with EABO).
    const int status = driver.ibrdf(ci.DeviceHandle, out->temporaryPath().string());
    const bus::DriverStatus after = driver.status();
    int32_t got = after.ibcntl;
    if (session.interrupted())
        return bus::interruptedError();
    if ((status & bus::ibsta_bits::ERR) && after.iberr == bus::iberr_codes::EFSO) {
        return fail(ErrorKind::File,
                    "cannot write '" + out->target().string() + "': " + whyNotWritten(*out));
    }
    if (!(status & bus::ibsta_bits::ERR)) {
        if (const auto block = blockData(out->temporaryPath().string())) {
            if (block->first + block->second > got) {
                // The answer ended (END) before the length its block header gives.
                return fail(ErrorKind::BadData, "the generator's picture block broke off after " +
                                                    std::to_string(got - block->first) + " of " +
                                                    std::to_string(block->second) + " bytes");
            }
            Result<OutputFile> bare = unframed(*out, block->first, block->second);
            if (!bare)
                return bare.failure();
            out = std::move(bare);
            got = static_cast<int32_t>(block->second);
        }
    }
    if (got <= 0) {
        if (status & bus::ibsta_bits::TIMO)
            return fail(ErrorKind::TimedOut, "the generator sent no screen picture (time-out)");
        if (status & bus::ibsta_bits::ERR)
            return fail(ErrorKind::BusError, "the generator sent no screen picture (" +
                                                 bus::driverErrorText(driver) + ")");
        return fail(ErrorKind::BadData, "the generator sent no screen picture");
    }
    if (status & bus::ibsta_bits::TIMO) {
        // An answer cut off by the time-out is kept only when it is a whole bitmap.
        const int64_t announced = announcedBitmapSize(out->temporaryPath().string());
        if (announced < 0 || announced > got) {
            return fail(ErrorKind::TimedOut,
                        "the generator stopped sending its screen picture after " +
                            std::to_string(got) + " bytes (time-out)");
        }
    } else if (status & bus::ibsta_bits::ERR) {
        return fail(ErrorKind::BusError,
                    "the read of the generator's screen picture failed after " +
                        std::to_string(got) + " bytes (" + bus::driverErrorText(driver) + ")");
    }
    if (check) {
        if (const Status picture = checkAsTarget(check, *out); !picture)
            return fail(picture.errorKind(),
                        "the generator's screen picture is refused: " + picture.error());
    }
    if (session.interrupted())
        return bus::interruptedError();
    if (Status committed = out->commit(); !committed)
        return committed.failure();
    return int64_t{got};
}

}  // namespace benchcap::hardcopy
