#include "hardcopy/block_transfer.h"

#include <algorithm>
#include <memory>

#include "bus/block_header.h"
#include "bus/text.h"
#include "hardcopy/pending_file.h"

namespace benchcap::hardcopy {

namespace sta = bus::ibsta_bits;

namespace {

// Header bytes as a reader can see them in a message: printable ones as they are, the
// others as \xNN.
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

std::string readFailure(int status, int32_t got, int64_t expected) {
    std::string what =
        "after " + std::to_string(got) + " of " + std::to_string(expected) + " bytes";
    if (status & sta::TIMO)
        return "the instrument stopped sending " + what + " (time-out)";
    if (status & sta::END)
        return "the instrument ended its answer " + what;
    return "the read failed " + what;
}

}  // namespace

BlockLength ParseBlockHeader(std::string_view header) {
    BlockLength result;
    if (header.empty()) {
        result.error = "no block header arrived";
        return result;
    }
    if (header.front() != '#') {
        result.error = "the answer " + shown(header) + " is no block: it does not start with '#'";
        return result;
    }
    if (header.size() < 2) {
        result.error = "the block header ended after its '#'";
        return result;
    }
    if (header[1] == '0') {
        result.error =
            "the instrument sent an indefinite-length block (#0), which is not supported";
        return result;
    }
    if (header[1] < '1' || header[1] > '9') {
        result.error = "the block header " + shown(header) + " has no digit count 1 to 9 after '#'";
        return result;
    }
    const size_t digits = static_cast<size_t>(header[1] - '0');
    const std::string_view field = header.substr(2);
    if (field.size() != digits) {
        result.error = "the block header " + shown(header) + " announces " +
                       std::to_string(digits) + " length digits but carries " +
                       std::to_string(field.size());
        return result;
    }
    const int64_t length = bus::BlockLengthValue(field);
    if (length < 0) {
        result.error =
            "the length field of the block header " + shown(header) + " is not a decimal number";
        return result;
    }
    if (length == 0) {
        result.error = "the instrument sent an empty block (length 0)";
        return result;
    }
    if (length > kMaxBlockLength) {
        result.error = "the block header announces " + std::to_string(length) +
                       " bytes, more than the 1 GiB a hardcopy may have";
        return result;
    }
    result.length = length;
    return result;
}

void StartHardcopy(bus::Session& session, std::string_view instrumentFile, bool color,
                   std::string_view format, bool suppressConfig) {
    session.OpenDevice();
    session.IdentifyDevice();
    bus::CurrentInstrument& ci = session.instrument();
    if (!ci.IsReady)
        return;
    if (!suppressConfig) {
        session.WriteDevice("HCOPY:DEST1 'MMEM'");
        session.WriteDevice("HCOPY:DEV:LANG " + std::string(format));
        session.WriteDevice(color ? "HCOPY:DEV:COL ON" : "HCOPY:DEV:COL OFF");
    }
    session.WriteDevice("MMEM:NAME '" + std::string(bus::TrimBlanks(instrumentFile)) + "'");
    session.driver().ibtmo(ci.DeviceHandle, bus::timeout_codes::T30s);
    session.WriteDevice("SYST:DISP:UPD ON");
    session.WriteDevice("HCOPY:IMM1;*WAI");
}

BlockLength ReadBlockLength(bus::Session& session) {
    int status = 0;
    const std::string header = bus::ReadBlockHeaderBytes(session, status);
    if (header.empty()) {
        BlockLength none;
        none.error =
            (status & sta::TIMO) ? "no block header arrived (time-out)" : "no block header arrived";
        return none;
    }
    return ParseBlockHeader(header);
}

FileResult TransferFile(bus::Session& session, std::string_view instrumentFile,
                        std::string_view localFile) {
    FileResult result;
    session.OpenDevice();
    session.IdentifyDevice();
    const bus::CurrentInstrument& ci = session.instrument();
    if (!ci.IsReady) {
        result.error = "the instrument at GPIB " + std::to_string(ci.BusAddress) +
                       " did not identify itself (" + ci.ModelName + "); nothing was transferred";
        return result;
    }
    const std::string name(bus::TrimBlanks(instrumentFile));
    session.WriteDevice("MMEM:DATA? '" + name + "'");
    if (session.driver().status().ibsta & sta::ERR) {
        result.error = "the request for " + name + " did not reach the instrument (driver error " +
                       std::to_string(session.driver().status().iberr) + ")";
        return result;
    }
    const BlockLength block = ReadBlockLength(session);
    if (!block) {
        result.error = "no usable block for " + name + ": " + block.error;
        return result;
    }

    PendingFile out;
    if (!out.open(std::string(bus::TrimBlanks(localFile)), result.error))
        return result;
    const int64_t length = block.length;
    const auto chunk = static_cast<size_t>(std::min(length, kTransferChunk));
    const auto buffer = std::make_unique_for_overwrite<char[]>(chunk);
    int64_t done = 0;
    while (done < length) {
        const auto want = static_cast<long>(std::min<int64_t>(length - done, kTransferChunk));
        const int status = session.ReadBlock(buffer.get(), want);
        const int32_t got =
            std::clamp<int32_t>(session.driver().status().ibcntl, 0, static_cast<int32_t>(want));
        if (!out.write(buffer.get(), static_cast<size_t>(got), result.error))
            return result;
        done += got;
        if (got < want || (done < length && (status & sta::END))) {
            result.error = "the transfer of " + name + " is incomplete: " +
                           readFailure(status, static_cast<int32_t>(done), length);
            return result;
        }
    }
    if (!out.commit(result.error))
        return result;
    result.bytes = done;
    return result;
}

}  // namespace benchcap::hardcopy
