// The start of fuzz targets that draw text: a QGuiApplication for the fonts, filled font
// caches, and the font libraries' process-long caches kept out of the leak report.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

// Fontconfig keeps its pattern caches for the life of the process, out of sight of
// the leak checker.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libfreetype.so\n";
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // Text needs fonts, fonts need a QGuiApplication; it lives as long as the process.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QGuiApplication(*argc, *argv);
    // Fill the font caches once, so that they do not count against the first input.
    QImage image(16, 16, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.drawText(QPointF(0, 10), QStringLiteral("Hg"));
    return 0;
}
