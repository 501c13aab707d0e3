#include <gtest/gtest.h>

#include <unistd.h>

#include <thread>

#include "adapter/adapter_fixtures.h"
#include "bus/lan/lan_driver.h"
#include "lan/lan_rig.h"
#include "recipe_rig.h"

namespace benchcap::test {
namespace {

// Every shipped row on one bench (addresses 1..30) behind the "++" adapter emulator and
// behind the VXI-11 emulator: the transports split, pace and frame the reads differently
// from the bench's own driver, and the picture must still arrive byte for byte.
std::vector<const recipes::Recipe*> rowsOnOneBus() {
    std::vector<const recipes::Recipe*> rows = shippedRows();
    rows.resize(std::min<std::size_t>(rows.size(), 30));
    return rows;
}

void takeAll(bus::GpibDriver& driver, const char* transport) {
    const auto rows = rowsOnOneBus();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const RecipeShot shot = takeRecipeShot(driver, static_cast<int>(i + 1));
        EXPECT_EQ(shotSummary(shot, servedPicture(*rows[i])),
                  "recipe, written, same picture, files 1, instrument: 0,\"No error\"")
            << rows[i]->name << " through " << transport;
    }
}

TEST(RecipeTransports, ThroughTheAdapterEmulator) {
    Emulator emulator(Emulator::Path::Tcp, benchConfig(recipeBench(rowsOnOneBus())));
    takeAll(*emulator.driver(), "the adapter");
}

TEST(RecipeTransports, ThroughTheVxi11Emulator) {
    sim::SimBench bench(benchConfig(recipeBench(rowsOnOneBus())),
                        std::make_shared<bus::VirtualClock>());
    sim::Vxi11Server server(bench, {});
    const sim::Listener core = sim::listenTcp("127.0.0.1", 0).value();
    std::thread serving([&server, &core] { server.serve(core.fd, -1, core.port); });
    {
        const auto driver = bus::lan::makeGatewayDriver(
            bus::lan::parseGatewayAddress("127.0.0.1:" + std::to_string(core.port)).value(),
            loopbackLanOptions());
        takeAll(*driver, "VXI-11");
    }
    server.stop();
    serving.join();
    ::close(core.fd);
}

}  // namespace
}  // namespace benchcap::test
