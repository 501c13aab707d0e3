#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/result.h"
#include "bus/session.h"

namespace benchcap::trace {

// Trace blocks through the bus layer's block reader. Messages are whole sentences for the
// trace command ("The trace data cannot be read: the block broke off after ...").

// A whole "FORM REAL,32" block: the floats, least significant byte first. Refuses lengths
// that are not a whole number of floats. Memory grows with the data that arrive and the
// raw bytes pass through one piece of 256 KiB; the array, once 32 MiB have arrived, takes
// the announced length at once, so it is never copied while long and ends exactly as long
// as the block (at most the block + 32 MiB at any time). A header announcing more than is
// sent costs address space beyond that, not memory.
Result<std::vector<float>> ReadReal32Block(bus::Session& session);

// A whole "FORM UINT,8" block: its bytes.
Result<std::vector<uint8_t>> ReadByteBlock(bus::Session& session);

}  // namespace benchcap::trace
