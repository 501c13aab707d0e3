// The window's hardcopy and trace through the VXI-11 gateway emulator are the direct bench's.
#include <gtest/gtest.h>

#include "lan_rig.h"
#include "support/window_on_driver.h"

namespace benchcap::app {
namespace {

// The metafile hardcopy of 20 and trace 1 of 7, as the window shows them.
std::pair<std::string, std::string> results(test::WindowOnDriver& window) {
    return {window.hardcopyAt(20), window.traceAt(7, 1)};
}

TEST(LanWindow, HardcopyAndTraceThroughGatewayAreTheBenchs) {
    test::LanRig rig;
    auto gateway = rig.gatewayDriver();
    sim::SimBench direct(sim::builtinBench(), std::make_shared<bus::VirtualClock>());
    bus::VirtualClock clock;
    test::WindowOnDriver viaGateway(*gateway, clock, "lan-window");
    test::WindowOnDriver onBench(direct, clock, "lan-window");
    const auto [picture, trace] = results(viaGateway);
    const auto [benchPicture, benchTrace] = results(onBench);
    EXPECT_FALSE(picture.empty()) << viaGateway.scripted.boxes.texts().size();
    EXPECT_TRUE(picture == benchPicture);
    EXPECT_FALSE(trace.empty());
    EXPECT_EQ(trace, benchTrace);
}

}  // namespace
}  // namespace benchcap::app
