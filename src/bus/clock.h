#pragma once

#include <cstdint>

namespace benchcap::bus {

// Time source for pauses and time-outs. The real clock sleeps; the simulated bench's
// virtual clock only moves its counter, so tests wait for no real second.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual int64_t nowMicros() const = 0;
    virtual void sleepMicros(int64_t micros) = 0;
    void sleepMillis(int64_t millis) { sleepMicros(millis * 1000); }
};

class RealClock final : public Clock {
  public:
    int64_t nowMicros() const override;
    void sleepMicros(int64_t micros) override;
};

class VirtualClock final : public Clock {
  public:
    int64_t nowMicros() const override { return now_; }
    void sleepMicros(int64_t micros) override {
        if (micros > 0)
            now_ += micros;
    }

  private:
    int64_t now_ = 0;
};

}  // namespace benchcap::bus
