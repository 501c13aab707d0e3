#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "bus/session.h"

namespace benchcap::bus {

// The one reader of IEEE 488.2 definite-length blocks: "#", a digit n from 1 to 9, n
// decimal digits giving the length L, L data bytes, then the end of the message (a line
// feed with END, or END on the last data byte). Nine digits bound L below 1 GB.
// Readers put their own policy on top (an empty block, lengths in whole values) and
// wrap the messages, which are lower-case phrases without a final stop.

// Checks a complete header and returns the length it announces (0 included).
// Everything else is refused as ErrorKind::BadData: an indefinite-length "#0" block, bytes
// before the "#", a digit count that does not match, blanks or letters in the length.
Result<int64_t> ParseBlockHeader(std::string_view header);

// Reads a header as it arrives (two bytes, then as many length digits as they announce)
// and parses it. A read the session kept off the bus, a time-out or a driver error is
// a failure, as is a request to stop (kInterruptedMessage).
Result<int64_t> ReadBlockHeader(Session& session);

// Receives the data of a block piece by piece; a failure stops the read with its error.
using BlockSink = std::function<Status(const char* data, std::size_t size)>;

// Reads the `length` data bytes of the block whose header was just read, in pieces of at
// most `piece` bytes handed to `sink`, then checks that the message ends there. A piece
// that runs into the time-out with some bytes is no failure: the link is slow, and the
// following pieces shrink to about a quarter of what came in one time-out (64 bytes at
// the least). Fails when the instrument stops early (END, no byte for a whole time-out, a
// driver error), when more data follow than the header announced, when the session keeps
// a read off the bus, or when the session is asked to stop between two pieces; a broken
// header or block is ErrorKind::BadData, silence TimedOut. Memory use is one piece
// whatever the header says.
Status ReadBlockData(Session& session, int64_t length, int64_t piece, const BlockSink& sink);

}  // namespace benchcap::bus
