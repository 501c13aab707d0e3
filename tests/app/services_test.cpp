#include <gtest/gtest.h>

#include "app/testing/scripted_services.h"

namespace benchcap::app {
namespace {

TEST(UiServices, FolderBrowserTextAndFilters) {
    EXPECT_EQ(folderBrowserText(QStringLiteral("Path to store hardcopies and trace data"),
                                QStringLiteral("C:\\Data")),
              QStringLiteral("Path to store hardcopies and trace data\r\nCurrent Path: C:\\Data"));
    EXPECT_EQ(qtNameFilter(QStringLiteral("WMF file|*.WMF|all files|*.*")),
              QStringLiteral("WMF file (*.WMF);;all files (*.*)"));
    EXPECT_EQ(qtNameFilter(QStringLiteral("text|*.TXT;*.CSV")),
              QStringLiteral("text (*.TXT *.CSV)"));
    // A dangling description without pattern is dropped rather than producing a bad filter.
    EXPECT_EQ(qtNameFilter(QStringLiteral("BMP file|*.BMP|odd")),
              QStringLiteral("BMP file (*.BMP)"));
}

}  // namespace
}  // namespace benchcap::app
