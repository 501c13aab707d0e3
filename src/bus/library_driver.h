#pragma once

#include <string>
#include <vector>

#include "bus/gpib_driver.h"

namespace benchcap::bus {

// Placeholder until the run-time loading lands: a bus without boards.
class LibraryDriver final : public GpibDriver {
  public:
    LibraryDriver() = default;
    explicit LibraryDriver(std::vector<std::string>) {}

    int ibdev(int, int, int, int, int, int) override { return none(); }
    int ibfind(const std::string&) override { return none(); }
    int ibwrt(int, const void*, long) override { return none(); }
    int ibrd(int, void*, long) override { return none(); }
    int ibrdf(int, const std::string&) override { return none(); }
    int ibonl(int, int) override { return none(); }
    int ibpad(int, int) override { return none(); }
    int ibrsc(int, int) override { return none(); }
    int ibsre(int, int) override { return none(); }
    int ibtmo(int, int) override { return none(); }
    int ibwait(int, int) override { return none(); }
    int ibloc(int) override { return none(); }
    int ibconfig(int, int, int) override { return none(); }
    int ibask(int, int, int*) override { return none(); }
    void SendIFC(int) override { none(); }
    DriverStatus status() const override { return status_; }
    std::string unavailableReason() const override {
        return "GPIB driver library not found: libgpib.so.0";
    }

  private:
    int none() {
        status_ = DriverStatus{static_cast<int16_t>(ibsta_bits::ERR), iberr_codes::ENEB, 0, 0};
        return -1;
    }
    DriverStatus status_;
};

}  // namespace benchcap::bus
