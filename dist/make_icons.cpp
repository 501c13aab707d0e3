// Build tool: writes the program's icon as PNG files of the desktop's usual sizes,
// hicolor/SIZExSIZE/apps/benchcap.png under the folder given.
#include <QDir>
#include <QImage>

#include <cstdio>

#include "app/ui/logo.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_icons FOLDER\n");
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder = root.filePath(QStringLiteral("%1x%1/apps").arg(size));
        const QString file = folder + QStringLiteral("/benchcap.png");
        if (!QDir().mkpath(folder) || !benchcap::app::drawIconImage(size).save(file)) {
            std::fprintf(stderr, "make_icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
