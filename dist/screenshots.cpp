// Developer tool: screenshots of the window at a first start, the about box and its system
// report, from the screen (run under xvfb-run): benchcap_screenshots FOLDER
#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include "app/startup/settings_store.h"
#include "app/startup/unattended_boxes.h"
#include "app/ui/qt_ui_services.h"
#include "app/window/about_form.h"
#include "app/window/main_form.h"
#include "interfaces/backend.h"
#include "scanner/scan_iec.h"

using namespace benchcap::app;

static void shoot(QWidget* w, const QString& file) {
    QApplication::processEvents();
    const QRect r = w->frameGeometry();
    QGuiApplication::primaryScreen()->grabWindow(0, r.x(), r.y(), r.width(), r.height()).save(file);
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Benchcap"));
    if (argc != 2)
        return 2;
    const QString out = QString::fromLocal8Bit(argv[1]);
    QtUserInterface boxes;
    QtTrayIcon tray;
    OutputFiles files;
    // Made before the window, which still unhooks the scanner as it goes.
    auto backend = benchcap::interfaces::makeBackend("sim");
    benchcap::scanner::ScanController scanner(*backend.driver, *backend.clock, boxes);
    MainForm form({&boxes, nullptr, nullptr, nullptr, nullptr, &tray}, files);
    boxes.setOwner(&form);
    WindowLinks links;
    links.scanner = &scanner;
    form.link(std::move(links));
    QTemporaryDir tmp;
    IniSettingsStore store(tmp.path());
    StartupContext ctx;
    ctx.settings = &store;
    ctx.version = VersionInfo::current();
    ctx.defaultDataPath = "/home/lab/Documents/Benchcap";
    form.startUp(ctx);
    form.move(40, 40);
    QTimer::singleShot(800, [&] {
        shoot(&form, out + "/main-window.png");
        form.item("About")->trigger();
        AboutForm* about = form.aboutForm();
        about->move(form.x() + 120, form.y() + 120);
        QTimer::singleShot(500, [&, about] {
            shoot(about, out + "/about-box.png");
            QTimer::singleShot(500, [&] {
                QWidget* box = QApplication::activeModalWidget();
                if (box) {
                    shoot(box, out + "/system-report.png");
                    box->close();
                }
                QApplication::quit();
            });
            about->showSystemInformation();
        });
    });
    return app.exec();
}
