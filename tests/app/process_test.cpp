// The window program as a process: termination signals store the settings, END does not.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>

#include <csignal>

#include "support/test_paths.h"

namespace benchcap::app {
namespace {

struct ProgramRun {
    QString configFolder;
    QProcess process;

    explicit ProgramRun(const char* hint)
        : configFolder(QString::fromStdString(test::makeTempDir(hint).string())) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configFolder);
        process.setProcessEnvironment(env);
    }
    void start(const QStringList& arguments) {
        process.start(
            QStringLiteral(BENCHCAP_WINDOW_PROGRAM),
            QStringList{QStringLiteral("--interface"), QStringLiteral("sim")} + arguments);
        ASSERT_TRUE(process.waitForStarted(10000));
    }
    // Waits until standard error holds `text` (or the program ends).
    QByteArray waitForError(const QByteArray& text) {
        QByteArray err;
        while (!err.contains(text) && process.state() == QProcess::Running) {
            process.waitForReadyRead(200);
            err += process.readAllStandardError();
        }
        return err;
    }
    QByteArray settings() const {
        QFile f(configFolder + QStringLiteral("/BENCHCAP.ini"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

TEST(WindowProgram, TerminationSignalsStoreTheSettings) {
    for (int signal : {SIGTERM, SIGINT}) {
        ProgramRun run("process-signal");
        // /SCREEN reports on stderr once the command line runs, after the handlers are set.
        run.start({QStringLiteral("/12/BW/SCREEN")});
        run.waitForError("not available yet");
        ::kill(static_cast<pid_t>(run.process.processId()), signal);
        ASSERT_TRUE(run.process.waitForFinished(20000));
        EXPECT_EQ(run.process.exitStatus(), QProcess::NormalExit) << signal;
        EXPECT_EQ(run.process.exitCode(), 0) << signal;
        const QByteArray ini = run.settings();
        const char* keys[] = {"Left",
                              "Width",
                              "Top",
                              "Height",
                              "Address=12",
                              "Color=False",
                              "SupressConfigRMX",
                              "DataPath",
                              "GPIBPrinterAdr=5",
                              "HardAutoSave",
                              "HardAutoClip",
                              "HardAutoExcel",
                              "TraceAutoSave",
                              "TraceAutoClip",
                              "TraceAutoExcel"};
        qsizetype at = ini.indexOf("[Settings]");
        ASSERT_GE(at, 0) << ini.toStdString();
        for (const char* key : keys) {
            const qsizetype next = ini.indexOf(key, at);
            EXPECT_GT(next, at) << key << "\n" << ini.toStdString();
            at = std::max(at, next);
        }
    }
}

TEST(WindowProgram, EndEndsAtOnceWithoutWriting) {
    ProgramRun run("process-end");
    run.start({QStringLiteral("/HIDE/20/SCREEN/END")});
    ASSERT_TRUE(run.process.waitForFinished(20000));
    EXPECT_EQ(run.process.exitCode(), 0);
    EXPECT_TRUE(
        run.process.readAllStandardError().contains("benchcap: Hardcopy is not available yet"));
    EXPECT_TRUE(run.settings().isEmpty());
}

TEST(WindowProgram, InformationOptions) {
    ProgramRun run("process-info");
    run.start({QStringLiteral("--version")});
    ASSERT_TRUE(run.process.waitForFinished(20000));
    EXPECT_TRUE(run.process.readAllStandardOutput().startsWith("Benchcap 2.3 (built "));
    run.start({QStringLiteral("--system-info")});
    ASSERT_TRUE(run.process.waitForFinished(20000));
    const QByteArray report = run.process.readAllStandardOutput();
    EXPECT_TRUE(report.startsWith("Operating system\t\t")) << report.toStdString();
    EXPECT_EQ(report.count('\n'), 6);
    run.start({QStringLiteral("--bogus")});
    ASSERT_TRUE(run.process.waitForFinished(20000));
    EXPECT_EQ(run.process.exitCode(), 2);
}

}  // namespace
}  // namespace benchcap::app
