#include <gtest/gtest.h>

#include "app/output_files.h"

namespace benchcap::app {
namespace {

WallClock fixedClock() {
    return [] { return QDateTime(QDate(2003, 12, 5), QTime(14, 3, 9)); };
}

TEST(GetName, AutomaticNamesCarryStampAndPrefix) {
    OutputFiles win(fixedClock(), QLatin1Char('\\'));
    win.DataPath = QStringLiteral("C:\\Data");
    EXPECT_EQ(win.GetName(QStringLiteral("WMF"), 0, false),
              QStringLiteral("C:\\Data\\HARDCOPY-03.12.05-14.03.09.WMF"));
    EXPECT_EQ(win.GetName(QStringLiteral("TXT"), 2, false),
              QStringLiteral("C:\\Data\\TRACE2-03.12.05-14.03.09.TXT"));
    // Only capital "TXT" names a trace file; the index of other kinds is not used.
    EXPECT_EQ(win.GetName(QStringLiteral("txt"), 2, false),
              QStringLiteral("C:\\Data\\HARDCOPY-03.12.05-14.03.09.txt"));
    EXPECT_EQ(win.GetName(QStringLiteral("BMP"), 3, false),
              QStringLiteral("C:\\Data\\HARDCOPY-03.12.05-14.03.09.BMP"));
    // The data path is used unchanged: a root gives a doubled separator.
    win.DataPath = QStringLiteral("C:\\");
    EXPECT_EQ(win.GetName(QStringLiteral("WMF"), 0, false),
              QStringLiteral("C:\\\\HARDCOPY-03.12.05-14.03.09.WMF"));
}

TEST(GetName, ManualNamesInDataPathOrAsFullPath) {
    OutputFiles win(fixedClock(), QLatin1Char('\\'));
    win.DataPath = QStringLiteral("C:\\Data");
    win.ManualName = QStringLiteral("scope1");
    EXPECT_EQ(win.GetName(QStringLiteral("BMP"), 0, true), QStringLiteral("C:\\Data\\scope1.BMP"));
    win.ManualName = QStringLiteral("  scope1  ");
    EXPECT_EQ(win.GetName(QStringLiteral("BMP"), 0, true), QStringLiteral("C:\\Data\\scope1.BMP"));
    win.ManualName = QStringLiteral(" D:\\lab\\scope1 ");
    EXPECT_EQ(win.GetName(QStringLiteral("BMP"), 0, true), QStringLiteral("D:\\lab\\scope1.BMP"));
    // The trace number is not part of a manual name: two traces share it.
    win.ManualName = QStringLiteral("run");
    EXPECT_EQ(win.GetName(QStringLiteral("TXT"), 1, true),
              win.GetName(QStringLiteral("TXT"), 2, true));
    // An empty manual name still gives a name (data path, separator, dot, extension).
    win.ManualName.clear();
    EXPECT_EQ(win.GetName(QStringLiteral("TXT"), 1, true), QStringLiteral("C:\\Data\\.TXT"));
    // NameMan false ignores the manual name.
    win.ManualName = QStringLiteral("scope1");
    EXPECT_EQ(win.GetName(QStringLiteral("WMF"), 0, false),
              QStringLiteral("C:\\Data\\HARDCOPY-03.12.05-14.03.09.WMF"));
}

TEST(GetName, PlatformSeparator) {
    OutputFiles files(fixedClock(), QLatin1Char('/'));
    files.DataPath = QStringLiteral("/home/lab");
    EXPECT_EQ(files.GetName(QStringLiteral("TXT"), 4, false),
              QStringLiteral("/home/lab/TRACE4-03.12.05-14.03.09.TXT"));
    files.ManualName = QStringLiteral("scope1");
    EXPECT_EQ(files.GetName(QStringLiteral("WMF"), 0, true),
              QStringLiteral("/home/lab/scope1.WMF"));
    files.ManualName = QStringLiteral("/tmp/x/scope1");
    EXPECT_EQ(files.GetName(QStringLiteral("WMF"), 0, true), QStringLiteral("/tmp/x/scope1.WMF"));
    // A backslash is an ordinary character where it is not the separator.
    files.ManualName = QStringLiteral("a\\b");
    EXPECT_EQ(files.GetName(QStringLiteral("WMF"), 0, true), QStringLiteral("/home/lab/a\\b.WMF"));
}

TEST(GetName, StampUsesTwoDigitFieldsAnd24Hours) {
    EXPECT_EQ(OutputFiles::stamp(QDateTime(QDate(2010, 1, 2), QTime(23, 59, 58))),
              QStringLiteral("10.01.02-23.59.58"));
    EXPECT_EQ(OutputFiles::stamp(QDateTime(QDate(1999, 11, 30), QTime(0, 0, 0))),
              QStringLiteral("99.11.30-00.00.00"));
}

TEST(GetName, SameSecondGivesSameName) {
    OutputFiles files(fixedClock(), QLatin1Char('/'));
    files.DataPath = QStringLiteral("/d");
    EXPECT_EQ(files.GetName(QStringLiteral("BMP"), 0, false),
              files.GetName(QStringLiteral("BMP"), 0, false));
}

TEST(TrimBlanks, OnlyBlanks) {
    EXPECT_EQ(trimBlanks(QStringLiteral("  taking hardcopy...  ")),
              QStringLiteral("taking hardcopy..."));
    EXPECT_EQ(trimBlanks(QStringLiteral("\tx ")), QStringLiteral("\tx"));
    EXPECT_EQ(trimBlanks(QStringLiteral("   ")), QString());
}

}  // namespace
}  // namespace benchcap::app
