#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "base/result.h"

namespace benchcap::hardcopy {

// Status-line texts of a long step (the main window's status line; the command line prints them).
using StatusFn = std::function<void(const std::string&)>;

// Checks a finished picture file (still under its temporary name) before it replaces
// anything: a file that no picture reader can load is refused with the reason. The
// picture readers need Qt, which this library does not use, so the owner passes them in.
using PictureCheck = std::function<Status(const std::filesystem::path& file)>;

}  // namespace benchcap::hardcopy
