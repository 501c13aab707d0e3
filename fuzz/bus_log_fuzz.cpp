// Arbitrary bytes as a bus log: reading ends in records or an error naming a line, never a
// crash; a record's data survives escaping; any bytes survive escaping.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "bus/log/bus_log_format.h"

using namespace benchcap::bus::log;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    if (unescapeBytes(escapeBytes(bytes)) != bytes)
        std::abort();
    std::istringstream in(bytes);
    LogReader reader(in);
    for (int records = 0; records < 10000; ++records) {
        auto next = reader.next();
        if (!next) {
            if (next.error().rfind("bus log line ", 0) != 0)
                std::abort();
            break;
        }
        if (!next->has_value())
            break;
        const Record& r = **next;
        if (r.hasData && r.fullData && unescapeBytes(escapeBytes(r.data)) != r.data)
            std::abort();
        (void)r.identity();
    }
    return 0;
}
