#pragma once

#include <string_view>

#include "bus/session.h"
#include "hardcopy/file_result.h"

namespace benchcap::hardcopy {

// Asks a signal generator for its screen with "HCOP:DATA?" and lets the driver write the
// whole answer (a bitmap file, up to EOI) into `localFile`. The read uses the handle's
// current time-out. No answer at all, or a bitmap that stops before the size its own
// header gives, is a failure that leaves no local file.
FileResult ReadGeneratorHardcopy(bus::Session& session, std::string_view localFile);

}  // namespace benchcap::hardcopy
