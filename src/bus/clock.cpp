#include "bus/clock.h"

#include <chrono>
#include <thread>

namespace benchcap::bus {

namespace {
int64_t steadyMicros() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}
}  // namespace

RealClock::RealClock() : startMicros_(steadyMicros()) {}

int64_t RealClock::nowMicros() const {
    return steadyMicros() - startMicros_;
}

void RealClock::sleepMicros(int64_t micros) {
    if (micros > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(micros));
}

}  // namespace benchcap::bus
