#include "bus/clock.h"

#include <chrono>
#include <thread>

namespace benchcap::bus {

int64_t RealClock::nowMicros() const {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void RealClock::sleepMicros(int64_t micros) {
    if (micros > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(micros));
}

}  // namespace benchcap::bus
