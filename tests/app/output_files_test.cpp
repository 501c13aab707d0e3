#include <gtest/gtest.h>

#include "app/output/output_files.h"

namespace benchcap::app {
namespace {

TEST(outputFileName, Examples) {
    const struct {
        char sep;
        const char* dataPath;
        const char* manual;  // nullptr: automatic name
        const char* ext;
        int index;
        const char* expected;
    } cases[] = {
        {'\\', "C:\\Data", nullptr, "WMF", 0, "C:\\Data\\HARDCOPY-03.12.05-14.03.09.WMF"},
        {'\\', "C:\\Data", nullptr, "TXT", 2, "C:\\Data\\TRACE2-03.12.05-14.03.09.TXT"},
        // Only capital "TXT" names a trace file; the index of other kinds is not used.
        {'\\', "C:\\Data", nullptr, "txt", 2, "C:\\Data\\HARDCOPY-03.12.05-14.03.09.txt"},
        {'\\', "C:\\Data", nullptr, "BMP", 3, "C:\\Data\\HARDCOPY-03.12.05-14.03.09.BMP"},
        // The data path is used unchanged: a root gives a doubled separator.
        {'\\', "C:\\", nullptr, "WMF", 0, "C:\\\\HARDCOPY-03.12.05-14.03.09.WMF"},
        {'\\', "C:\\Data", "  scope1  ", "BMP", 0, "C:\\Data\\scope1.BMP"},
        {'\\', "C:\\Data", " D:\\lab\\scope1 ", "BMP", 0, "D:\\lab\\scope1.BMP"},
        // The trace number is not part of a manual name: two traces share it.
        {'\\', "C:\\Data", "run", "TXT", 2, "C:\\Data\\run.TXT"},
        {'\\', "C:\\Data", "", "TXT", 1, "C:\\Data\\.TXT"},
        {'/', "/home/lab", nullptr, "TXT", 4, "/home/lab/TRACE4-03.12.05-14.03.09.TXT"},
        {'/', "/home/lab", "/tmp/x/scope1", "WMF", 0, "/tmp/x/scope1.WMF"},
        // A backslash is an ordinary character where it is not the separator.
        {'/', "/home/lab", "a\\b", "WMF", 0, "/home/lab/a\\b.WMF"},
    };
    for (const auto& c : cases) {
        OutputFiles files([] { return QDateTime(QDate(2003, 12, 5), QTime(14, 3, 9)); },
                          QLatin1Char(c.sep));
        files.DataPath = QString::fromLatin1(c.dataPath);
        // An automatic name ignores a manual name that is set.
        files.ManualName = QString::fromLatin1(c.manual ? c.manual : "ignored");
        EXPECT_EQ(files.outputFileName(QString::fromLatin1(c.ext), c.index, c.manual != nullptr),
                  QString::fromLatin1(c.expected))
            << c.expected;
    }
}

}  // namespace
}  // namespace benchcap::app

#include <QFile>

#include "support/test_paths.h"

namespace benchcap::app {
namespace {

TEST(OutputFolder, MissingDataPathIsCreatedOrReported) {
    const QString root = QString::fromStdString(test::makeTempDir("output-folder").string());
    const QString file = root + QStringLiteral("/Documents/Benchcap/HARDCOPY.WMF");
    ASSERT_TRUE(OutputFiles::makeFolderFor(file));
    EXPECT_TRUE(QFileInfo(root + QStringLiteral("/Documents/Benchcap")).isDir());
    ASSERT_TRUE(OutputFiles::makeFolderFor(file));  // there already

    QFile blocker(root + QStringLiteral("/plain"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    const Status s = OutputFiles::makeFolderFor(root + QStringLiteral("/plain/sub/x.TXT"));
    ASSERT_FALSE(s);
    EXPECT_NE(s.error().find("plain/sub"), std::string::npos) << s.error();
}

}  // namespace
}  // namespace benchcap::app
