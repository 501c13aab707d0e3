#include <gtest/gtest.h>

#include <QFile>

#include "app/output/output_files.h"
#include "support/table_file.h"
#include "support/test_paths.h"

namespace benchcap::app {
namespace {

TEST(outputFileName, Examples) {
    for (const auto& c : test::readTable("app/output-names.tsv")) {
        OutputFiles files([] { return QDateTime(QDate(2003, 12, 5), QTime(14, 3, 9)); },
                          QLatin1Char(c[0][0]));
        files.DataPath = QString::fromStdString(c[1]);
        const bool manual = c[2] != "auto";
        files.ManualName = QString::fromStdString(c[2]);
        EXPECT_EQ(files.outputFileName(QString::fromStdString(c[3]), std::stoi(c[4]), manual)
                      .toStdString(),
                  c[5]);
    }
}

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
