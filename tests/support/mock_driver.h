#pragma once

// A GoogleMock driver for tests that need the driver to fail in ways no simulated bench
// produces (no board, no device handles). Wrap it in StrictMock so any call a test did
// not allow fails it.

#include <gmock/gmock.h>

#include <string>

#include "bus/gpib_driver.h"

namespace benchcap::test {

class MockDriver : public bus::GpibDriver {
  public:
    MOCK_METHOD(int, ibdev, (int, int, int, int, int, int), (override));
    MOCK_METHOD(int, ibfind, (const std::string&), (override));
    MOCK_METHOD(int, ibwrt, (int, const void*, long), (override));
    MOCK_METHOD(int, ibrd, (int, void*, long), (override));
    MOCK_METHOD(int, ibrdf, (int, const std::string&), (override));
    MOCK_METHOD(int, ibonl, (int, int), (override));
    MOCK_METHOD(int, ibpad, (int, int), (override));
    MOCK_METHOD(int, ibrsc, (int, int), (override));
    MOCK_METHOD(int, ibsre, (int, int), (override));
    MOCK_METHOD(int, ibtmo, (int, int), (override));
    MOCK_METHOD(int, ibwait, (int, int), (override));
    MOCK_METHOD(int, ibloc, (int), (override));
    MOCK_METHOD(int, ibclr, (int), (override));
    MOCK_METHOD(int, ibconfig, (int, int, int), (override));
    MOCK_METHOD(int, ibask, (int, int, int*), (override));
    MOCK_METHOD(void, SendIFC, (int), (override));
    MOCK_METHOD(bus::DriverStatus, status, (), (const, override));
};

}  // namespace benchcap::test
