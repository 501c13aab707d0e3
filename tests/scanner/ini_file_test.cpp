#include "scanner/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <filesystem>
#include <initializer_list>
#include <string>

#include "file_faults.h"
#include "support/test_paths.h"

namespace benchcap::scanner {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeBytes;

class IniFileTest : public ::testing::Test {
  protected:
    fs::path dir = test::makeTempDir("ini");
    std::string file = (dir / "bench.ini").string();
};

TEST_F(IniFileTest, NamesMatchWithoutRegardToCaseOrBlanks) {
    writeBytes(file, "[ Lab1_Board ]\r\n  timeout_value =  13  \r\n[lab1_bus]\r\nTiming=1\r\n");
    EXPECT_EQ(ReadINI(file, "LAB1_BOARD", "Timeout_Value", ""), "13");
    EXPECT_EQ(ReadINI(file, " lab1_board", " TIMEOUT_VALUE ", ""), "13");
    EXPECT_EQ(ReadINI(file, "LAB1_BUS", "timing", ""), "1");
    // A key of another section is not found.
    EXPECT_EQ(ReadINI(file, "LAB1_BUS", "Timeout_Value", "none"), "none");
}

TEST_F(IniFileTest, MissingFileSectionOrKeyGiveTheDefaultText) {
    const std::string missing = (dir / "none.ini").string();
    EXPECT_EQ(ReadINI(missing, "S", "K", 0), " 0");
    EXPECT_EQ(ReadINI(missing, "S", "K", 13), " 13");
    EXPECT_EQ(ReadINI(missing, "S", "K", -5), "-5");
    EXPECT_EQ(ReadINI(missing, "S", "K", 2.5), " 2.5");
    EXPECT_EQ(ReadINI(missing, "S", "K", "text"), "text");
    EXPECT_EQ(ReadINI(missing, "S", "K", true), "True");
    writeBytes(file, "[S]\nK=1\n");
    EXPECT_EQ(ReadINI(file, "T", "K", 7), " 7");
    EXPECT_EQ(ReadINI(file, "S", "L", 7), " 7");
    EXPECT_EQ(ReadINI<int16_t>(file, "S", "L", 7), 7);
    EXPECT_EQ(ReadINI<bool>(file, "S", "L", true), true);
    // A folder is not a profile file.
    EXPECT_EQ(ReadINI(dir.string(), "S", "K", "x"), "x");
}

TEST_F(IniFileTest, TypedReads) {
    writeBytes(file, "[S]\nA=1\nB=wahr\nC= True \nD=-1\nE=yes\nF=12.5 dB\nG=2.5\nH=70000\nI=abc\n");
    EXPECT_TRUE(ReadINI<bool>(file, "S", "A", false));
    EXPECT_TRUE(ReadINI<bool>(file, "S", "B", false));
    EXPECT_TRUE(ReadINI<bool>(file, "S", "C", false));
    EXPECT_FALSE(ReadINI<bool>(file, "S", "D", true));
    EXPECT_FALSE(ReadINI<bool>(file, "S", "E", true));
    EXPECT_DOUBLE_EQ(ReadINI<double>(file, "S", "F", 0), 12.5);
    EXPECT_FLOAT_EQ(ReadINI<float>(file, "S", "F", 0), 12.5f);
    EXPECT_EQ(ReadINI<int16_t>(file, "S", "G", 0), 2);  // half to even
    EXPECT_EQ(ReadINI<int16_t>(file, "S", "H", 0), 32767);
    EXPECT_EQ(ReadINI<int32_t>(file, "S", "H", 0), 70000);
    EXPECT_EQ(ReadINI<int32_t>(file, "S", "I", 9), 0);
    EXPECT_EQ(ReadINI<std::string>(file, "S", "I", ""), "abc");
}

TEST_F(IniFileTest, ValueIsReplacedInPlaceAndEverythingElseKept) {
    const std::string before =
        "; bench setup\r\n"
        "\r\n"
        "[Other]\r\n"
        "Timeout_Value=11\r\n"
        "[LAB1_BOARD]\r\n"
        "Primary_Address=0\r\n"
        "  timeout_value = 10   \r\n"
        "free text without equals\r\n"
        "; comment = not a key\r\n"
        "\r\n"
        "Event_Queue=1\r\n"
        "[LAB1_BUS]\r\n"
        "Timing=1";
    writeBytes(file, before);
    ASSERT_TRUE(WriteINI(file, "lab1_board", "TIMEOUT_VALUE", 13).ok());
    std::string expected = before;
    expected.replace(expected.find("  timeout_value = 10   "), 23, "  timeout_value = 13");
    EXPECT_EQ(readFile(file), expected);
    EXPECT_EQ(ReadINI(file, "Other", "Timeout_Value", ""), "11");

    // Replacing by an empty value and back.
    ASSERT_TRUE(WriteINI(file, "LAB1_BUS", "Timing", "").ok());
    EXPECT_EQ(ReadINI(file, "LAB1_BUS", "Timing", "x"), "");
    ASSERT_TRUE(WriteINI(file, "LAB1_BUS", "Timing", 1).ok());
    EXPECT_EQ(readFile(file), expected);
}

TEST_F(IniFileTest, NewKeyGoesAfterTheLastKeyLineOfItsSection) {
    writeBytes(file, "[A]\nx=1\ny=2\n\n; end of A\n[B]\nz=3\n");
    ASSERT_TRUE(WriteINI(file, "a", "New", "v").ok());
    EXPECT_EQ(readFile(file), "[A]\nx=1\ny=2\nNew=v\n\n; end of A\n[B]\nz=3\n");
    // A section without keys gets it right below its header.
    writeBytes(file, "[A]\n; nothing yet\n[B]\n");
    ASSERT_TRUE(WriteINI(file, "A", "k", "1").ok());
    ASSERT_TRUE(WriteINI(file, "B", "k", "2").ok());
    EXPECT_EQ(readFile(file), "[A]\nk=1\n; nothing yet\n[B]\nk=2\n");
}

TEST_F(IniFileTest, NewSectionGoesAtTheEndWithTheFileLineEnds) {
    writeBytes(file, "[A]\nx=1");  // LF file, last line without end
    ASSERT_TRUE(WriteINI(file, "B", "y", "2").ok());
    EXPECT_EQ(readFile(file), "[A]\nx=1\n[B]\ny=2\n");

    writeBytes(file, "; only a comment\r\n");
    ASSERT_TRUE(WriteINI(file, "B", "y", "2").ok());
    EXPECT_EQ(readFile(file), "; only a comment\r\n[B]\r\ny=2\r\n");

    // Keys before the first section belong to none.
    writeBytes(file, "y=0\n");
    ASSERT_TRUE(WriteINI(file, "B", "y", "2").ok());
    EXPECT_EQ(readFile(file), "y=0\n[B]\ny=2\n");
}

TEST_F(IniFileTest, MissingFileIsCreatedWithCrLf) {
    const std::string fresh = (dir / "fresh.ini").string();
    ASSERT_TRUE(WriteINI(fresh, " LAB1_BOARD ", " Timeout_Value ", 13).ok());
    ASSERT_TRUE(WriteINI(fresh, "LAB1_BOARD", "Flag", true).ok());
    ASSERT_TRUE(WriteINI(fresh, "LAB1_BOARD", "Level", -2.5).ok());
    EXPECT_EQ(readFile(fresh), "[LAB1_BOARD]\r\nTimeout_Value=13\r\nFlag=1\r\nLevel=-2.5\r\n");
    // Only the file itself: no temporary file left over.
    EXPECT_EQ(test::folderEntries(dir).size(), 1u);
}

TEST_F(IniFileTest, ValuesAreCutAt749Characters) {
    const std::string longValue(800, 'x');
    ASSERT_TRUE(WriteINI(file, "S", "K", longValue).ok());
    EXPECT_EQ(ReadINI(file, "S", "K", ""), std::string(749, 'x'));
    EXPECT_EQ(ReadINI(file, "S", "missing", longValue), std::string(749, 'x'));
    // The whole value stays in the file.
    EXPECT_NE(readFile(file).find(longValue), std::string::npos);
    ASSERT_TRUE(WriteINI(file, "S", "K", std::string(749, 'y')).ok());
    EXPECT_EQ(ReadINI(file, "S", "K", ""), std::string(749, 'y'));
}

TEST_F(IniFileTest, EnclosingQuotesAreDropped) {
    writeBytes(file,
               "[S]\nA=\"  padded \"\nB= 'single' \nC=\"open\nD=\"\"\nE=\"mixed'\nF=\"\nG=a \"b\"\n"
               "L=\"" +
                   std::string(760, 'q') + "\"\n");
    EXPECT_EQ(ReadINI(file, "S", "A", ""), "  padded ");
    EXPECT_EQ(ReadINI(file, "S", "B", ""), "single");
    EXPECT_EQ(ReadINI(file, "S", "C", ""), "\"open");
    EXPECT_EQ(ReadINI(file, "S", "D", "x"), "");
    EXPECT_EQ(ReadINI(file, "S", "E", ""), "\"mixed'");
    EXPECT_EQ(ReadINI(file, "S", "F", ""), "\"");
    EXPECT_EQ(ReadINI(file, "S", "G", ""), "a \"b\"");
    EXPECT_EQ(ReadINI(file, "S", "L", ""), std::string(749, 'q'));
}

TEST_F(IniFileTest, LinesThatAreNoKeysAreNeverMatched) {
    writeBytes(file,
               "\xEF\xBB\xBF[S]\n; K=comment\nK\n=orphan\n[broken\nK2=after broken header\n"
               "[T] ; trailing comment\nK=t\n");
    EXPECT_EQ(ReadINI(file, "S", "K", "d"), "d");
    EXPECT_EQ(ReadINI(file, "S", "; K", "d"), "d");
    EXPECT_EQ(ReadINI(file, "S", "K2", "d"), "after broken header");
    EXPECT_EQ(ReadINI(file, "T", "K", "d"), "t");
}

TEST_F(IniFileTest, NamesAndValuesThatWouldBreakTheFileAreRefused) {
    const std::string before = "[S]\r\nK=1\r\n";
    writeBytes(file, before);
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
        const IniResult result = WriteINI(file, section, key, value);
        EXPECT_FALSE(result.ok()) << key;
        EXPECT_NE(result.error.find(file), std::string::npos);
    }
    EXPECT_EQ(readFile(file), before);
}

TEST_F(IniFileTest, FailedWriteKeepsTheOldFile) {
    const std::string before = "[S]\r\nK=1\r\n";
    writeBytes(file, before);
    {
        test::FileSizeLimit diskFull(16);
        const IniResult result = WriteINI(file, "S", "K", std::string(100, 'v'));
        ASSERT_FALSE(result.ok());
        EXPECT_NE(result.error.find(file), std::string::npos) << result.error;
        EXPECT_NE(result.error.find("too large"), std::string::npos) << result.error;
    }
    EXPECT_EQ(readFile(file), before);
    EXPECT_EQ(test::folderEntries(dir).size(), 1u);

    // A folder that does not exist.
    const IniResult nowhere = WriteINI((dir / "no" / "x.ini").string(), "S", "K", 1);
    EXPECT_NE(nowhere.error.find("No such file or directory"), std::string::npos) << nowhere.error;
}

TEST_F(IniFileTest, ReadOnlyFolderGivesAnError) {
    if (!test::readOnlyFoldersStopUs())
        GTEST_SKIP() << "root writes into read-only folders";
    const std::string before = "[S]\nK=1\n";
    writeBytes(file, before);
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
    const IniResult result = WriteINI(file, "S", "K", 2);
    fs::permissions(dir, fs::perms::owner_all);
    EXPECT_NE(result.error.find("Permission denied"), std::string::npos) << result.error;
    EXPECT_EQ(readFile(file), before);
}

TEST_F(IniFileTest, RewriteKeepsPermissionsAndFollowsLinks) {
    writeBytes(file, "[S]\nK=1\n");
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const fs::path link = dir / "link.ini";
    fs::create_symlink(file, link);
    ASSERT_TRUE(WriteINI(link.string(), "S", "K", 2).ok());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readFile(file), "[S]\nK=2\n");
    EXPECT_EQ(fs::status(file).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST(IniDocument, UneditedDocumentGivesBackItsBytes) {
    for (const std::string bytes :
         {"", "\n", "\r\n\r\n", "[a]\rb=c\n", "x=1\n[ s ]\r\nk = v ;c", "\xEF\xBB\xBF[S]\nK=1"}) {
        EXPECT_EQ(IniDocument(bytes).bytes(), bytes);
    }
    EXPECT_EQ(IniDocument("").lineEnd(), "\r\n");
    EXPECT_EQ(IniDocument("a\nb\r\n").lineEnd(), "\n");
    EXPECT_EQ(IniDocument("\xEF\xBB\xBF[S]\nK=1").get("S", "K"), "1");
}

}  // namespace
}  // namespace benchcap::scanner
