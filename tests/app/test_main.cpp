// The window tests need one QApplication for the whole program (offscreen under ctest).
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Benchcap"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
