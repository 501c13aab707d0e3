// The window's bus commands on a "++" GPIB adapter that is not there. That files through
// the adapter are the bench's own is ThroughEmulator's (tests/adapter), for the command line
// and the window alike: both run the same commands on the driver they are given.
#include <gtest/gtest.h>

#include <string>

#include "bus/adapter/prologix_driver.h"
#include "support/window_on_driver.h"

namespace benchcap::app {
namespace {

TEST(WindowWithoutAdapter, CommandsNameTheAdapterAndTheReason) {
    const Result<bus::adapter::AdapterAddress> address =
        bus::adapter::parseAdapterAddress("127.0.0.1:1");
    ASSERT_TRUE(address.ok()) << address.error();
    bus::adapter::PrologixDriver driver(address.value());
    bus::RealClock clock;
    test::WindowOnDriver window(driver, clock, "adapter-window");
    for (int command = 0; command < 2; ++command) {
        window.scripted.boxes.clearBoxes();
        EXPECT_TRUE(command == 0 ? window.hardcopyAt(7).empty() : window.traceAt(7, 1).empty());
        const auto texts = window.scripted.boxes.texts();
        ASSERT_EQ(texts.size(), 1u) << command;
        EXPECT_NE(texts[0].find("Prologix adapter at 127.0.0.1:1"), std::string::npos) << texts[0];
        EXPECT_NE(texts[0].find("refused"), std::string::npos) << texts[0];
        EXPECT_EQ(texts[0].find("No device was found"), std::string::npos) << texts[0];
    }
}

}  // namespace
}  // namespace benchcap::app
