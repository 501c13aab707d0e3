#include "scanner/board_config.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "file_faults.h"
#include "support/test_paths.h"

namespace benchcap::scanner {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeBytes;

// A board that is nothing but its option values; ibconfig calls are kept so tests can see
// which options were set at all.
class FakeBoard final : public bus::GpibDriver {
  public:
    std::map<int, int> options;
    std::set<int> configured;
    int expectedBoard = 0;

    int ibask(int ud, int option, int* value) override {
        if (ud != expectedBoard)
            return bus::ibsta_bits::ERR;
        if (auto it = options.find(option); it != options.end())
            *value = it->second;
        return 0;
    }
    int ibconfig(int ud, int option, int value) override {
        if (ud != expectedBoard)
            return bus::ibsta_bits::ERR;
        options[option] = value;
        configured.insert(option);
        return 0;
    }
    int ibdev(int, int, int, int, int, int) override { return -1; }
    int ibfind(const std::string&) override { return -1; }
    int ibwrt(int, const void*, long) override { return bus::ibsta_bits::ERR; }
    int ibrd(int, void*, long) override { return bus::ibsta_bits::ERR; }
    int ibrdf(int, const std::string&) override { return bus::ibsta_bits::ERR; }
    int ibonl(int, int) override { return 0; }
    int ibpad(int, int) override { return 0; }
    int ibrsc(int, int) override { return 0; }
    int ibsre(int, int) override { return 0; }
    int ibtmo(int, int) override { return 0; }
    int ibwait(int, int) override { return 0; }
    int ibloc(int) override { return 0; }
    void SendIFC(int) override {}
    bus::DriverStatus status() const override { return {}; }
};

// Every option of the table set to a distinct value.
FakeBoard boardWithAllOptions(int board) {
    FakeBoard fake;
    fake.expectedBoard = board;
    int value = 1;
    for (const BoardOption& row : BoardOptions())
        fake.options[row.option] = value++;
    return fake;
}

// Section name -> key lines, read back from the file text with plain string handling.
std::map<std::string, std::vector<std::string>> keysBySection(const std::string& text) {
    std::map<std::string, std::vector<std::string>> sections;
    std::istringstream in(text);
    std::string line, current;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.starts_with("[")) {
            current = line.substr(1, line.size() - 2);
            sections[current];
        } else if (!line.empty()) {
            sections[current].push_back(line);
        }
    }
    return sections;
}

class BoardConfigTest : public ::testing::Test {
  protected:
    fs::path dir = test::makeTempDir("boardcfg");
    std::string file = (dir / "gpib.ini").string();
};

TEST_F(BoardConfigTest, SaveWritesFiveSectionsUnderTheMasterKey) {
    FakeBoard board = boardWithAllOptions(3);
    board.options[bus::ibc::TMO] = 13;
    board.options[bus::ibc::SAD] = -1;
    board.options[bus::ibc::EOSchar] = 70000;  // kept as a 16-bit signed value
    ASSERT_TRUE(SaveBoardStatus(board, file, "LAB1", 3).ok());

    const std::string text = readFile(file);
    const auto sections = keysBySection(text);
    ASSERT_EQ(sections.size(), 5u) << text;
    EXPECT_EQ(sections.at("LAB1_BOARD").size(), 7u);
    EXPECT_EQ(sections.at("LAB1_BUS").size(), 6u);
    EXPECT_EQ(sections.at("LAB1_EOS").size(), 6u);
    EXPECT_EQ(sections.at("LAB1_POLLING").size(), 6u);
    EXPECT_EQ(sections.at("LAB1_PCINTEROP").size(), 5u);
    EXPECT_EQ(sections.at("LAB1_BOARD")[2], "Timeout_Value=13");
    EXPECT_EQ(sections.at("LAB1_BOARD")[1], "Secondary_Address=-1");
    EXPECT_EQ(sections.at("LAB1_EOS")[4], "EOS_Character=4464");
    EXPECT_EQ(sections.at("LAB1_POLLING")[5], "Seriall_Poll_Status_Byte=25");
    EXPECT_EQ(sections.at("LAB1_PCINTEROP")[0], "Base_IO_Adr=26");
    EXPECT_TRUE(text.starts_with("[LAB1_BOARD]\r\nPrimary_Address=1\r\n")) << text;
}

TEST_F(BoardConfigTest, SetupsShareOneFile) {
    writeBytes(file, "; two benches\n[LAB1_BOARD]\nTimeout_Value=11 \n");
    FakeBoard lab1 = boardWithAllOptions(0);
    FakeBoard lab2 = boardWithAllOptions(0);
    lab2.options[bus::ibc::TMO] = 15;
    ASSERT_TRUE(SaveBoardStatus(lab1, file, "LAB1", 0).ok());
    ASSERT_TRUE(SaveBoardStatus(lab2, file, "LAB2", 0).ok());
    const std::string text = readFile(file);
    EXPECT_TRUE(text.starts_with("; two benches\n[LAB1_BOARD]\nTimeout_Value=3\n")) << text;
    EXPECT_EQ(keysBySection(text).size(), 11u);  // the comment's unnamed part and 2 x 5

    FakeBoard target;
    ASSERT_TRUE(LoadBoardStatus(target, file, "lab2", 0).ok());
    EXPECT_EQ(target.options[bus::ibc::TMO], 15);
    ASSERT_TRUE(LoadBoardStatus(target, file, "LAB1", 0).ok());
    EXPECT_EQ(target.options[bus::ibc::TMO], 3);
}

TEST_F(BoardConfigTest, LoadSetsTheSavedOptionsButNeverThePcInterop) {
    const FakeBoard source = [] {
        FakeBoard b = boardWithAllOptions(1);
        b.options[bus::ibc::PAD] = -7;
        return b;
    }();
    FakeBoard copy = source;
    ASSERT_TRUE(SaveBoardStatus(copy, file, "LAB1", 1).ok());

    FakeBoard target;
    target.expectedBoard = 2;
    for (const BoardOption& row : BoardOptions())
        target.options[row.option] = 999;
    ASSERT_TRUE(LoadBoardStatus(target, file, "LAB1", 2).ok());
    for (const BoardOption& row : BoardOptions()) {
        SCOPED_TRACE(row.key);
        if (row.loadedBack) {
            EXPECT_EQ(target.options[row.option], source.options.at(row.option));
        } else {
            EXPECT_EQ(target.options[row.option], 999);
            EXPECT_FALSE(target.configured.contains(row.option));
        }
    }
    EXPECT_EQ(target.configured.size(), 25u);
}

TEST_F(BoardConfigTest, MissingSectionOrKeyLoadsZero) {
    writeBytes(file,
               "[LAB1_BOARD]\r\nTimeout_Value=13\r\nPrimary_Address= 4.6 \r\n"
               "Secondary_Address=abc\r\n"
               "[LAB1_BUS]\r\nTiming=2\r\n[LAB1_POLLING]\r\nSPOLL_Bit=1\r\n"
               "[LAB1_PCINTEROP]\r\nBase_IO_Adr=704\r\n");
    FakeBoard board;
    for (const BoardOption& row : BoardOptions())
        board.options[row.option] = 9;
    ASSERT_TRUE(LoadBoardStatus(board, file, "LAB1", 0).ok());
    EXPECT_EQ(board.options[bus::ibc::TMO], 13);
    EXPECT_EQ(board.options[bus::ibc::PAD], 5);  // rounded
    EXPECT_EQ(board.options[bus::ibc::SAD], 0);
    EXPECT_EQ(board.options[bus::ibc::TIMING], 2);
    EXPECT_EQ(board.options[22], 1);
    for (int eosOption : {4, 12, 13, 14, 15, 26}) {
        EXPECT_EQ(board.options[eosOption], 0) << eosOption;
        EXPECT_TRUE(board.configured.contains(eosOption)) << eosOption;
    }
    EXPECT_EQ(board.options[513], 9);
}

TEST_F(BoardConfigTest, MissingFileLeavesTheBoardAlone) {
    FakeBoard board = boardWithAllOptions(0);
    const IniResult result = LoadBoardStatus(board, (dir / "typo.ini").string(), "LAB1", 0);
    EXPECT_FALSE(result.ok());
    EXPECT_NE(result.error.find("typo.ini"), std::string::npos) << result.error;
    EXPECT_TRUE(board.configured.empty());
}

TEST_F(BoardConfigTest, FailedSaveKeepsTheOldFile) {
    const std::string before = "[LAB1_BOARD]\r\nTimeout_Value=11\r\n";
    writeBytes(file, before);
    FakeBoard board = boardWithAllOptions(0);
    {
        test::FileSizeLimit diskFull(64);
        const IniResult result = SaveBoardStatus(board, file, "LAB1", 0);
        ASSERT_FALSE(result.ok());
        EXPECT_NE(result.error.find(file), std::string::npos) << result.error;
    }
    EXPECT_EQ(readFile(file), before);
    EXPECT_EQ(test::folderEntries(dir).size(), 1u);

    // A folder in place of the file.
    const IniResult folder = SaveBoardStatus(board, dir.string(), "LAB1", 0);
    EXPECT_FALSE(folder.ok());

    // A master key that cannot be a section name.
    const IniResult badKey = SaveBoardStatus(board, file, "LAB]1", 0);
    EXPECT_FALSE(badKey.ok());
    EXPECT_EQ(readFile(file), before);
}

}  // namespace
}  // namespace benchcap::scanner
