#include "scanner/ini_file.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <initializer_list>
#include <string>

#include <vector>
#include "scanner/board_config.h"
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

class IniFileTest : public ::testing::Test {
  protected:
    // Reads key K of section S from a file holding `bytes`.
    std::string read(const std::string& bytes, const std::string& section, const std::string& key,
                     const std::string& fallback = "default") {
        writeBytes(file, bytes);
        return ReadINI(file, section, key, fallback);
    }
    // Writes one value into a file holding `bytes` and gives back the whole new file.
    std::string write(const std::string& bytes, const std::string& section, const std::string& key,
                      const std::string& value) {
        writeBytes(file, bytes);
        EXPECT_TRUE(WriteINI(file, section, key, value).ok());
        return readFile(file);
    }

    fs::path dir = test::makeTempDir("ini");
    std::string file = (dir / "bench.ini").string();
};

// "SECTION|KEY|FILE": the value read (quoted), "default" when there is none.
TEST_F(IniFileTest, Reading) {
    test::checkGolden("golden/ini-reading.txt", [this](const std::string& input) {
        const size_t bar = input.find('|'), second = input.find('|', bar + 1);
        return "\"" +
               read(input.substr(second + 1), input.substr(0, bar),
                    input.substr(bar + 1, second - bar - 1)) +
               "\"\n";
    });
    const std::string q760(760, 'q');  // the value is cut at 749 characters
    EXPECT_EQ(read("[S]\nL=\"" + q760 + "\"\n", "S", "L"), std::string(749, 'q'));
    // Defaults: numbers get a leading blank when not negative; long ones are cut too.
    const std::string missing = (dir / "none.ini").string();
    EXPECT_EQ(ReadINI(missing, "S", "K", 13), " 13");
    EXPECT_EQ(ReadINI(missing, "S", "K", -5), "-5");
    EXPECT_EQ(ReadINI(missing, "S", "K", 2.5), " 2.5");
    EXPECT_EQ(ReadINI(missing, "S", "K", true), "True");
    EXPECT_EQ(ReadINI(missing, "S", "K", std::string(800, 'x')), std::string(749, 'x'));
    EXPECT_EQ(ReadINI(dir.string(), "S", "K", "x"), "x");  // a folder is no profile file
}

TEST_F(IniFileTest, TypedReads) {
    writeBytes(file, "[S]\nA=1\nB=wahr\nC= True \nD=-1\nE=yes\nF=12.5 dB\nG=2.5\nH=70000\nI=abc\n");
    for (const char* key : {"A", "B", "C"})
        EXPECT_TRUE(ReadINI<bool>(file, "S", key, false)) << key;
    for (const char* key : {"D", "E"})
        EXPECT_FALSE(ReadINI<bool>(file, "S", key, true)) << key;
    EXPECT_DOUBLE_EQ(ReadINI<double>(file, "S", "F", 0), 12.5);
    EXPECT_EQ(ReadINI<int16_t>(file, "S", "G", 0), 2);  // half to even
    EXPECT_EQ(ReadINI<int16_t>(file, "S", "H", 0), 32767);
    EXPECT_EQ(ReadINI<int32_t>(file, "S", "H", 0), 70000);
    EXPECT_EQ(ReadINI<int32_t>(file, "S", "I", 9), 0);
    EXPECT_EQ(ReadINI<int16_t>(file, "S", "missing", 7), 7);
}

TEST_F(IniFileTest, ValueIsReplacedInPlaceAndEverythingElseKept) {
    const std::string before =
        "; bench setup\r\n\r\n[Other]\r\nTimeout_Value=11\r\n[LAB1_BOARD]\r\nPrimary_Address=0\r\n"
        "  timeout_value = 10   \r\nfree text without equals\r\n; comment = not a key\r\n\r\n"
        "Event_Queue=1\r\n[LAB1_BUS]\r\nTiming=1";
    std::string expected = before;
    expected.replace(expected.find("  timeout_value = 10   "), 23, "  timeout_value = 13");
    EXPECT_EQ(write(before, "lab1_board", "TIMEOUT_VALUE", "13"), expected);
    // Replacing by an empty value and back.
    ASSERT_TRUE(WriteINI(file, "LAB1_BUS", "Timing", "").ok());
    EXPECT_EQ(ReadINI(file, "LAB1_BUS", "Timing", "x"), "");
    ASSERT_TRUE(WriteINI(file, "LAB1_BUS", "Timing", 1).ok());
    EXPECT_EQ(readFile(file), expected);
    // The whole of a long value goes into the file.
    EXPECT_NE(write("", "S", "K", std::string(800, 'x')).find(std::string(800, 'x')),
              std::string::npos);
}

TEST_F(IniFileTest, NewKeysAndSectionsFollowTheFile) {
    // After the last key line of the section, or right below a header without keys.
    EXPECT_EQ(write("[A]\nx=1\ny=2\n\n; end of A\n[B]\nz=3\n", "a", "New", "v"),
              "[A]\nx=1\ny=2\nNew=v\n\n; end of A\n[B]\nz=3\n");
    EXPECT_EQ(write("[A]\n; nothing yet\n[B]\n", "B", "k", "2"), "[A]\n; nothing yet\n[B]\nk=2\n");
    // A new section goes at the end with the file's line ends; keys before any section
    // belong to none.
    EXPECT_EQ(write("[A]\nx=1", "B", "y", "2"), "[A]\nx=1\n[B]\ny=2\n");
    EXPECT_EQ(write("; only a comment\r\n", "B", "y", "2"), "; only a comment\r\n[B]\r\ny=2\r\n");
    EXPECT_EQ(write("y=0\n", "B", "y", "2"), "y=0\n[B]\ny=2\n");
    // A missing file is created with CR LF, and no temporary file is left.
    const std::string fresh = (dir / "fresh.ini").string();
    ASSERT_TRUE(WriteINI(fresh, " LAB1_BOARD ", " Timeout_Value ", 13).ok());
    ASSERT_TRUE(WriteINI(fresh, "LAB1_BOARD", "Flag", true).ok());
    ASSERT_TRUE(WriteINI(fresh, "LAB1_BOARD", "Level", -2.5).ok());
    EXPECT_EQ(readFile(fresh), "[LAB1_BOARD]\r\nTimeout_Value=13\r\nFlag=1\r\nLevel=-2.5\r\n");
    EXPECT_EQ(test::folderEntries(dir), 2);
}

TEST_F(IniFileTest, RefusedOrFailedWritesKeepTheOldFile) {
    const std::string before = "[S]\r\nK=1\r\n";
    writeBytes(file, before);
    // Names and values that would break the file.
    for (const auto& [section, key, value] : std::initializer_list<std::array<std::string, 3>>{
             {"S", "K", "1\r\n[T]"},
             {"S", "K\n", "1"},
             {"S", "K=L", "1"},
             {"S", "; K", "1"},
             {"S", "[K]", "1"},
             {"S", "  ", "1"},
             {"", "K", "1"},
             {"S]x", "K", "1"},
         }) {
        const Status result = WriteINI(file, section, key, value);
        EXPECT_FALSE(result.ok()) << section << "/" << key << "/" << value;
        EXPECT_NE(result.error().find(file), std::string::npos);
    }
    // How the disk refuses is OutputFile's (tests/base); a failure through a link below.
    EXPECT_EQ(readFile(file), before);
    EXPECT_EQ(test::folderEntries(dir), 1);
}

TEST_F(IniFileTest, ALinkIsWrittenThroughOnlyWhenItLeadsToAFile) {
    // Through a link to a file, which keeps its permissions.
    writeBytes(file, "[S]\nK=1\n");
    const auto perms = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(file, perms);
    const fs::path link = dir / "link.ini";
    fs::create_symlink(file, link);
    ASSERT_TRUE(WriteINI(link.string(), "S", "K", 2).ok());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readFile(file), "[S]\nK=2\n");
    EXPECT_EQ(fs::status(file).permissions(), perms);
    // (A dangling link is replaced, as OutputFile replaces any link it does not follow.)
    // A failure through a link names both the link and the file it leads to.
    test::FileSizeLimit diskFull(4);
    const Status result = WriteINI(link.string(), "S", "K", 3);
    EXPECT_NE(result.error().find("\"" + fs::canonical(file).string() + "\""), std::string::npos)
        << result.error();
    EXPECT_NE(result.error().find(link.string()), std::string::npos) << result.error();
    EXPECT_EQ(readFile(file), "[S]\nK=2\n");
}

}  // namespace
}  // namespace benchcap::scanner
