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
        // A hardcopy at an empty address reports on stderr once the command line runs, after
        // the handlers are set; the later address is the one stored.
        run.start({QStringLiteral("/29/BW/SCREEN/12")});
        run.waitForError("No device was found on GPIB 29");
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

// An unattended run: the hardcopy lands in the data path, END ends at once without
// writing the settings, and the exit status says whether anything went wrong.
TEST(WindowProgram, UnattendedHardcopyThenEnd) {
    ProgramRun run("process-end");
    const QString data = run.configFolder + QStringLiteral("/data");
    QDir().mkpath(data);
    run.start({QStringLiteral("--data-path"), data, QStringLiteral("/HIDE/20/SCREEN/END")});
    ASSERT_TRUE(run.process.waitForFinished(20000));
    EXPECT_EQ(run.process.exitCode(), 0) << run.process.readAllStandardError().toStdString();
    const QStringList pictures = QDir(data).entryList({QStringLiteral("HARDCOPY-*.WMF")});
    EXPECT_EQ(pictures.size(), 1) << QDir(data).entryList().join(u' ').toStdString();
    EXPECT_TRUE(run.settings().isEmpty());

    // A trace the same way: its text file in the data path.
    ProgramRun traced("process-trace");
    const QString traces = traced.configFolder + QStringLiteral("/traces");
    QDir().mkpath(traces);
    traced.start({QStringLiteral("--data-path"), traces, QStringLiteral("/HIDE/7/TRACE1/END")});
    ASSERT_TRUE(traced.process.waitForFinished(20000));
    EXPECT_EQ(traced.process.exitCode(), 0) << traced.process.readAllStandardError().toStdString();
    EXPECT_EQ(QDir(traces).entryList({QStringLiteral("TRACE1-*.TXT")}).size(), 1);

    ProgramRun silent("process-end-silent");
    silent.start({QStringLiteral("/HIDE/29/SCREEN/END")});
    ASSERT_TRUE(silent.process.waitForFinished(20000));
    EXPECT_EQ(silent.process.exitCode(), 1);
    EXPECT_TRUE(silent.process.readAllStandardError().contains(
        "benchcap: Benchcap: No device was found on GPIB 29\n"));
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
