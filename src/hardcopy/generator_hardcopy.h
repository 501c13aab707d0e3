#pragma once

#include <cstdint>
#include <string_view>

#include "base/result.h"
#include "bus/session.h"
#include "hardcopy/hardcopy_types.h"

namespace benchcap::hardcopy {

// Asks a signal generator for its screen with "HCOP:DATA?" and lets the driver write the
// whole answer (a bitmap file, up to EOI) into `localFile`; returns the byte count. The
// read uses the handle's current time-out. No answer, a read that ends with a driver error,
// a bitmap that stops before the size its own header gives, a picture that `check`
// refuses, or a stop request is a failure that leaves no new file. Its kind tells a
// time-out (TimedOut), a bus failure (BusError), a picture or block that is not what it
// should be (BadData) and a file that cannot be written (File) apart.
Result<int64_t> ReadGeneratorHardcopy(bus::Session& session, std::string_view localFile,
                                      const PictureCheck& check = {});

}  // namespace benchcap::hardcopy
