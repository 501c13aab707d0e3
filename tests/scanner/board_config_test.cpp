#include "scanner/board_config.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "sim/sim_bench.h"
#include "support/bench_rig.h"
#include "support/file_faults.h"
#include "support/golden.h"
#include "support/test_paths.h"

namespace benchcap::scanner {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeBytes;

class BoardConfigTest : public ::testing::Test {
  protected:
    // Every option of the table set to a distinct value (1, 2, ...) on a board.
    void setAllOptions(int board) {
        int value = 1;
        for (const BoardOption& row : BoardOptions())
            bench.ibconfig(board, row.option, value++);
        bench.clearTraffic();
    }
    int option(int board, int option) {
        int value = -12345;
        bench.ibask(board, option, &value);
        return value;
    }
    // The options set on the board since the last clearTraffic.
    std::set<int> configured(int board) {
        std::set<int> options;
        for (const sim::TrafficEntry& e : bench.traffic()) {
            if (e.board == board && e.kind == sim::Traffic::SetTimeout)
                options.insert(bus::ibc::TMO);
            else if (e.board == board && e.kind == sim::Traffic::Config)
                options.insert(std::stoi(e.data));
        }
        return options;
    }

    sim::SimBench bench{test::benchConfig("boards: [0, 2, 3]\n"),
                        std::make_shared<bus::VirtualClock>()};
    fs::path dir = test::makeTempDir("boardcfg");
    std::string file = (dir / "gpib.ini").string();
};

TEST_F(BoardConfigTest, SaveAndLoadUnderTheMasterKey) {
    // Saved into a file that holds another setup: the old key is replaced in place, the
    // comment kept, the other setup added (tests/data/golden/board-config.txt).
    test::checkGolden("golden/board-config.txt", [&](const std::string& before) {
        writeBytes(file, before);
        setAllOptions(3);
        EXPECT_TRUE(SaveBoardStatus(bench, file, "LAB1", 3).ok());
        bench.ibconfig(3, bus::ibc::TMO, 15);
        bench.ibconfig(3, bus::ibc::SAD, -1);
        bench.ibconfig(3, bus::ibc::EOSchar, 70000);  // kept as a 16-bit signed value
        EXPECT_TRUE(SaveBoardStatus(bench, file, "LAB2", 3).ok());
        return readFile(file);
    });
    ASSERT_TRUE(LoadBoardStatus(bench, file, "lab2", 2).ok());
    for (const BoardOption& row : BoardOptions()) {
        SCOPED_TRACE(row.key);
        // Everything comes back but the PC interface settings, which are never set.
        const int16_t saved = static_cast<int16_t>(option(3, row.option));
        EXPECT_EQ(option(2, row.option), row.loadedBack ? saved : 0);
        EXPECT_EQ(configured(2).contains(row.option), row.loadedBack);
    }
    EXPECT_EQ(configured(2).size(), 25u);
    ASSERT_TRUE(LoadBoardStatus(bench, file, "LAB1", 2).ok());
    EXPECT_EQ(option(2, bus::ibc::TMO), 3);
}

TEST_F(BoardConfigTest, MissingSectionOrKeyLoadsZero) {
    writeBytes(file,
               "[LAB1_BOARD]\r\nTimeout_Value=13\r\nPrimary_Address= 4.6 \r\n"
               "Secondary_Address=abc\r\n[LAB1_BUS]\r\nTiming=2\r\n"
               "[LAB1_PCINTEROP]\r\nBase_IO_Adr=704\r\n");
    setAllOptions(0);
    ASSERT_TRUE(LoadBoardStatus(bench, file, "LAB1", 0).ok());
    EXPECT_EQ(option(0, bus::ibc::TMO), 13);
    EXPECT_EQ(option(0, bus::ibc::PAD), 5);  // rounded
    EXPECT_EQ(option(0, bus::ibc::SAD), 0);
    EXPECT_EQ(option(0, bus::ibc::TIMING), 2);
    for (int missing : {4, 12, 13, 14, 15, 26, 22}) {  // no _EOS, no _POLLING section
        EXPECT_EQ(option(0, missing), 0) << missing;
        EXPECT_TRUE(configured(0).contains(missing)) << missing;
    }
    EXPECT_EQ(option(0, 513), 26);  // _PCINTEROP untouched
}

TEST_F(BoardConfigTest, FailuresLeaveBoardAndFileAlone) {
    const Status missing = LoadBoardStatus(bench, (dir / "typo.ini").string(), "LAB1", 0);
    EXPECT_NE(missing.error().find("typo.ini"), std::string::npos) << missing.error();
    EXPECT_TRUE(configured(0).empty());

    const std::string before = "[LAB1_BOARD]\r\nTimeout_Value=11\r\n";
    writeBytes(file, before);
    EXPECT_FALSE(SaveBoardStatus(bench, file, "LAB]1", 0).ok());  // no section name
    EXPECT_EQ(readFile(file), before);
    EXPECT_EQ(test::folderEntries(dir), 1);
}

}  // namespace
}  // namespace benchcap::scanner
