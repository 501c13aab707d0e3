#pragma once

#include <cstdint>
#include <string_view>

#include "base/output_file.h"
#include "base/result.h"
#include "bus/session.h"
#include "hardcopy/hardcopy_types.h"

namespace benchcap::hardcopy {

// Data are read in pieces of at most this size straight into the file, so a hardcopy
// never needs its announced length in memory, and a stop request (Ctrl+C) is seen after
// at most one piece (a quarter of a second at a fast bus's 1 MB/s; on a slow link the
// reader shrinks the pieces to a quarter of the time-out).
inline constexpr int64_t kTransferChunk = int64_t{256} << 10;

// Configures the instrument-side hardcopy and starts it: with the configuration, six
// commands (destination, language, colour, file name, display update, start), without it
// three. Sends nothing to an instrument that did not identify itself. Leaves the handle's
// time-out at 30 s for the transfer that follows.
void StartHardcopy(bus::Session& session, std::string_view instrumentFile, bool color,
                   std::string_view format, bool suppressConfig = false);

// `check` on the file being written, its message naming the file it becomes; a refusal
// without a kind of its own is BadData.
Status checkAsTarget(const PictureCheck& check, const OutputFile& out);

// Asks the instrument for its file with "MMEM:DATA? '<instrumentFile>'" and stores the data
// bytes of the block in `localFile` (surrounding blanks removed from both names); returns
// the byte count. A bad or empty block, a block that ends early, times out or is followed
// by more data than its header announced, a picture that `check` refuses, or a file that
// cannot be written is a failure that leaves no new file and an earlier one untouched.
Result<int64_t> TransferFile(bus::Session& session, std::string_view instrumentFile,
                             std::string_view localFile, const PictureCheck& check = {});

}  // namespace benchcap::hardcopy
