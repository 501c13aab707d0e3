#include "bus/gpib_driver.h"

namespace benchcap::bus {

int64_t timeoutMicros(int code) {
    // NI-488.2 time-out table: TNONE, 10 us, 30 us, 100 us, ... 1000 s.
    static constexpr int64_t kMicros[] = {
        0,         10,         30,         100,         300,         1'000,
        3'000,     10'000,     30'000,     100'000,     300'000,     1'000'000,
        3'000'000, 10'000'000, 30'000'000, 100'000'000, 300'000'000, 1'000'000'000};
    if (code < 0 || code > 17)
        return -1;
    return kMicros[code];
}

int16_t LongToInt16(long value) {
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<unsigned long>(value) & 0xFFFFu));
}

}  // namespace benchcap::bus
