// Block headers and plotter pieces come straight from instruments: neither parser may
// crash, read out of bounds or accept a length it should refuse.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "bus/block_header.h"
#include "hardcopy/plotter_capture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto header = benchcap::bus::ParseBlockHeader(bytes);
    if (header && (*header < 0 || *header > 999'999'999 || bytes.size() < 3 || bytes[0] != '#')) {
        std::abort();
    }
    const std::string line = benchcap::hardcopy::CleanPlotLine(bytes);
    if (line.size() > bytes.size())
        std::abort();
    if (!line.empty() && (line.front() == '\r' || line.front() == '\n' || line.back() == '\r' ||
                          line.back() == '\n')) {
        std::abort();
    }
    return 0;
}
