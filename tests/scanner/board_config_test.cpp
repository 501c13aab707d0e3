#include "scanner/board_config.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "sim/sim_bench.h"
#include "support/bench_rig.h"
#include "support/file_faults.h"
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

// Section name -> key lines, read back from the file text with plain string handling.
std::map<std::string, std::vector<std::string>> keysBySection(const std::string& text) {
    std::map<std::string, std::vector<std::string>> sections;
    std::istringstream in(text);
    std::string line, current;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.starts_with("["))
            sections[current = line.substr(1, line.size() - 2)];
        else if (!line.empty())
            sections[current].push_back(line);
    }
    return sections;
}

TEST_F(BoardConfigTest, SaveAndLoadUnderTheMasterKey) {
    writeBytes(file, "; two benches\n[LAB1_BOARD]\nTimeout_Value=11 \n");
    setAllOptions(3);
    ASSERT_TRUE(SaveBoardStatus(bench, file, "LAB1", 3).ok());
    bench.ibconfig(3, bus::ibc::TMO, 15);
    bench.ibconfig(3, bus::ibc::SAD, -1);
    bench.ibconfig(3, bus::ibc::EOSchar, 70000);  // kept as a 16-bit signed value
    ASSERT_TRUE(SaveBoardStatus(bench, file, "LAB2", 3).ok());

    const std::string text = readFile(file);
    // The old key is replaced in place, the comment kept, the other setup added.
    EXPECT_TRUE(text.starts_with("; two benches\n[LAB1_BOARD]\nTimeout_Value=3\n")) << text;
    const auto sections = keysBySection(text);
    ASSERT_EQ(sections.size(), 11u) << text;  // the comment's unnamed part and 2 x 5
    const std::pair<const char*, size_t> sizes[] = {
        {"_BOARD", 7}, {"_BUS", 6}, {"_EOS", 6}, {"_POLLING", 6}, {"_PCINTEROP", 5}};
    for (const auto& [suffix, count] : sizes)
        EXPECT_EQ(sections.at(std::string("LAB2") + suffix).size(), count) << suffix;
    EXPECT_EQ(sections.at("LAB2_BOARD")[0], "Primary_Address=1");
    EXPECT_EQ(sections.at("LAB2_BOARD")[1], "Secondary_Address=-1");
    EXPECT_EQ(sections.at("LAB2_BOARD")[2], "Timeout_Value=15");
    EXPECT_EQ(sections.at("LAB2_EOS")[4], "EOS_Character=4464");
    EXPECT_EQ(sections.at("LAB2_POLLING")[5], "Seriall_Poll_Status_Byte=25");
    EXPECT_EQ(sections.at("LAB2_PCINTEROP")[0], "Base_IO_Adr=26");

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
    {
        test::FileSizeLimit diskFull(64);
        const Status result = SaveBoardStatus(bench, file, "LAB1", 0);
        EXPECT_NE(result.error().find(file), std::string::npos) << result.error();
    }
    EXPECT_FALSE(SaveBoardStatus(bench, dir.string(), "LAB1", 0).ok());  // a folder
    EXPECT_FALSE(SaveBoardStatus(bench, file, "LAB]1", 0).ok());         // no section name
    EXPECT_EQ(readFile(file), before);
    EXPECT_EQ(test::folderEntries(dir), 1);
}

}  // namespace
}  // namespace benchcap::scanner
