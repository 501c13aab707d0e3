#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "bus/session.h"

namespace benchcap::bus {

// The header of an IEEE 488.2 definite-length block: "#", a digit n from 1 to 9, then n
// decimal digits giving the length of the data that follow. Readers put their own rules
// on top (empty blocks, lengths in whole values) and word their own messages, so these
// pieces only read and take the header apart.

// The count of length digits that a header's first two bytes announce: 1 to 9, or 0
// when they open no definite-length block ("#0" opens an indefinite-length one).
int BlockLengthDigits(std::string_view opening);

// The length that a header's digits give (nine at most, so below 1 GB), or -1 when one
// of them is no decimal digit.
int64_t BlockLengthValue(std::string_view digits);

// Reads a header as it arrives: two bytes, then, when they open a definite-length block,
// as many as they announce. Returns the bytes that came (fewer when the instrument
// stopped, two when the opening is no definite-length one); `status` is the driver
// status of the first read (0, and nothing returned, when the session is not ready).
std::string ReadBlockHeaderBytes(Session& session, int& status);

}  // namespace benchcap::bus
