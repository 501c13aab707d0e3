#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace benchcap::hardcopy {

// Outcome of a step that writes a local file. A failure carries a message that says what
// went wrong; the file then does not exist (an earlier file of that name is left alone).
struct FileResult {
    std::string error;  // empty on success
    int64_t bytes = 0;  // bytes written to the file
    explicit operator bool() const { return error.empty(); }
};

// Status-line texts of a long step (the main window's UpSta; the command line prints them).
using StatusFn = std::function<void(const std::string&)>;

}  // namespace benchcap::hardcopy
