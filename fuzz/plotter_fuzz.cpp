// Feeds arbitrary bytes to the emulated plotter in pieces of a size the first byte
// chooses, as a capture receives them. No crash, no hang, and every answer is one line
// ended by CR LF.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "hardcopy/hpgl/plotter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    using benchcap::hpgl::PlotterModel;
    const size_t piece = 1 + (data[0] & 0x7F);
    benchcap::hpgl::PlotterEmulator plotter((data[0] & 0x80) ? PlotterModel::HP7475A
                                                             : PlotterModel::HP7470A);
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    for (size_t at = 0; at < bytes.size(); at += piece) {
        const std::string answer = plotter.feed(bytes.substr(at, piece));
        if (!answer.empty() &&
            (answer.size() < 3 || answer.find('\n') != answer.size() - 1 || answer.size() > 64))
            std::abort();
    }
    return 0;
}
