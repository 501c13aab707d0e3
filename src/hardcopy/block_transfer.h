#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "bus/session.h"
#include "hardcopy/file_result.h"

namespace benchcap::hardcopy {

// Largest block a transfer accepts. A screen hardcopy is a few MB; a header announcing
// more is taken for a corrupt one rather than a reason to wait for a gigabyte.
inline constexpr int64_t kMaxBlockLength = int64_t{1} << 30;
// Data are read in pieces of at most this size straight into the file, so a hardcopy
// never needs its announced length in memory, and a typical screen is one driver call.
inline constexpr int64_t kTransferChunk = int64_t{4} << 20;

// The length L of an IEEE 488.2 definite-length block header, or why the header is no
// usable one.
struct BlockLength {
    int64_t length = 0;
    std::string error;  // empty when the header is good
    explicit operator bool() const { return error.empty(); }
};

// Checks a complete header: "#", one digit n from 1 to 9, then exactly n decimal digits
// giving a length from 1 to kMaxBlockLength. Anything else is refused with a message
// (indefinite "#0" blocks, empty blocks, stray bytes before the "#", blanks or letters in
// the length).
BlockLength ParseBlockHeader(std::string_view header);

// Configures the instrument-side hardcopy and starts it: with the configuration, six
// commands (destination, language, colour, file name, display update, start), without it
// three. Sends nothing to an instrument that did not identify itself. Leaves the handle's
// time-out at 30 s for the transfer that follows.
void StartHardcopy(bus::Session& session, std::string_view instrumentFile, bool color,
                   std::string_view format, bool suppressConfig = false);

// Reads the header of the block the instrument is sending: two bytes, then as many length
// digits as the second one says.
BlockLength ReadBlockLength(bus::Session& session);

// Asks the instrument for its file with "MMEM:DATA? '<instrumentFile>'" and stores the data
// bytes of the block in `localFile` (surrounding blanks removed from both names). A bad
// header, a block that ends early or times out, or a file that cannot be written is a
// failure that leaves no local file.
FileResult TransferFile(bus::Session& session, std::string_view instrumentFile,
                        std::string_view localFile);

}  // namespace benchcap::hardcopy
