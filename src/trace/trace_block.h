#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bus/session.h"

namespace benchcap::trace {

// Reads the header of an IEEE 488.2 definite-length block ("#", digit count d, d digits
// of length) and returns the announced byte count, or -1 with `error` set when the header
// is not a definite-length header (an indefinite-length "#0" block included) or the read
// timed out. Nine length digits at most bound the length below 1 GB.
int64_t ReadBlockHeader(bus::Session& session, std::string& error);

// Reads exactly `count` bytes of block data in bounded pieces, growing `bytes` as they
// arrive (a lying header costs no more than what was sent). False with `error` set when
// the instrument stopped early (time-out or end of message).
bool ReadBlockBytes(bus::Session& session, int64_t count, std::vector<uint8_t>& bytes,
                    std::string& error);

// A whole "FORM REAL,32" block: header, then the floats (least significant byte first).
// Refuses lengths that are not a whole number of floats.
bool ReadReal32Block(bus::Session& session, std::vector<float>& values, std::string& error);

}  // namespace benchcap::trace
