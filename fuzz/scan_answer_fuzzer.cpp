// Identification answers as the bus scan reads them: at most 1000 bytes of anything an
// instrument sends, through the maker test and the whole probe chain.
#include <cstddef>
#include <cstdint>
#include <string>

#include "scanner/model_probes.h"
#include "scanner/scan_iec.h"

using namespace benchcap::scanner;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1000)
        size = 1000;
    std::string buffer(reinterpret_cast<const char*>(data), size);
    buffer.resize(1000, ' ');
    if (!IsMakerAnswer(buffer))
        return 0;
    const std::string answer = DropManufacturer(buffer, 1000);
    DeviceRecord entry;
    std::string tooltip;
    int matches = 0;
    for (const ModelProbe& probe : ModelProbes()) {
        if (RunProbe(probe, answer, 30, entry, tooltip))
            ++matches;
    }
    // At most one probe may recognise an answer.
    if (matches > 1)
        __builtin_trap();
    if (matches == 1 && entry.DeviceInfo.empty())
        __builtin_trap();
    return 0;
}
