// The window program as a process: termination signals store the settings, END does not.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>

#include <chrono>
#include <csignal>
#include <thread>

#include "support/file_faults.h"
#include "support/test_paths.h"

namespace benchcap::app {
namespace {

struct ProgramRun {
    QString configFolder;
    QProcess process;

    QString interface = QStringLiteral("sim");

    explicit ProgramRun(const char* hint)
        : configFolder(QString::fromStdString(test::makeTempDir(hint).string())) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configFolder);
        process.setProcessEnvironment(env);
    }
    void start(const QStringList& arguments) {
        process.start(QStringLiteral(BENCHCAP_WINDOW_PROGRAM),
                      QStringList{QStringLiteral("--interface"), interface} + arguments);
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
    // Waits until the program catches SIGTERM (its handlers are set), as /proc tells.
    void waitForSignalHandlers() {
        for (int i = 0; i < 200 && process.state() == QProcess::Running; ++i) {
            QFile status(QStringLiteral("/proc/%1/status").arg(process.processId()));
            if (status.open(QIODevice::ReadOnly))
                for (const QByteArray& line : status.readAll().split('\n'))
                    if (line.startsWith("SigCgt:") &&
                        (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1)) & 1)
                        return;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    // A file in the configuration folder.
    std::filesystem::path file(const char* name) const {
        return std::filesystem::path(configFolder.toStdString()) / name;
    }
    std::string settings() const { return test::readFile(file("BENCHCAP.ini")); }
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
        EXPECT_EQ(run.process.exitCode(), 128 + signal) << signal;
        const std::string ini = run.settings();
        size_t at = ini.find("[Settings]");
        ASSERT_NE(at, std::string::npos) << ini;
        // Which keys and in what order is startup_test's; here that the handler stored them.
        for (const char* key : {"Address=12", "Color=False", "GPIBPrinterAdr=5"})
            EXPECT_NE(ini.find(key, at), std::string::npos) << key << "\n" << ini;
    }
}

// Unattended runs: the result lands in the data path, END ends at once without writing the
// settings, and the exit status says whether the job took what it was asked for.
TEST(WindowProgram, UnattendedRunsThenEnd) {
    const struct {
        const char* commandLine;
        int exitCode;
        const char* files;              // the pattern of the one file expected, or nullptr for none
        const char* report;             // part of standard error
        const char* display = nullptr;  // no platform chosen, DISPLAY this ("": none)
        const char* out = "";           // part of standard output
    } cases[] = {
        // Without a display a hidden run goes on offscreen; a window to show says why not.
        {"/HIDE/20/SCREEN/END", 0, "HARDCOPY-*.WMF", "", ""},
        {"/hide/20/SCREEN/END", 0, "HARDCOPY-*.WMF", "", ":97"},
        {"/20/SCREEN/END", 1, nullptr, "benchcap: cannot show the window: no display", ""},
        {"", 1, nullptr,
         "X display \":97\" cannot be opened; start it in a desktop session, or "
         "add /HIDE to run the command line unattended\n",
         ":97"},
        {"/HIDE/7/TRACE1/END", 0, "TRACE1-*.TXT", ""},
        {"/HIDE/29/SCREEN/END", 1, nullptr, "benchcap: Benchcap: No device was found on GPIB 29\n"},
        // An address that is none never lets the job fall to the instrument chosen before.
        {"/HIDE/7/31/TRACE1/END", 1, nullptr, "benchcap: /31 is no bus address"},
        {"/HIDE/20/-5/SCREEN/END", 1, nullptr, "/SCREEN not carried out: /-5 selects no"},
        // A plotter-only instrument: its plot is taken only when /PLOT accepts the offer.
        {"/HIDE/9/SCREEN/END", 1, nullptr, "only plots its screen: add /PLOT"},
        {"/HIDE/9/PLOT/SCREEN/END", 0, "*.HGL", "press the hardcopy key"},
        // Information options answer on stdout and end at once.
        {"--version", 0, nullptr, "", nullptr, "Benchcap 2.3 (built "},
        {"--system-info", 0, nullptr, "", nullptr, "\nNI 3D version\t\t"},
        {"--help", 0, nullptr, "", nullptr, "/PLOT"},
        {"--bogus", 2, nullptr, "benchcap: "},
    };
    for (const auto& c : cases) {
        ProgramRun run("process-end");
        const QString data = run.configFolder + QStringLiteral("/data");
        QDir().mkpath(data);
        if (c.display) {
            QProcessEnvironment env = run.process.processEnvironment();
            for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
                env.remove(QLatin1String(name));
            if (*c.display)
                env.insert(QStringLiteral("DISPLAY"), QLatin1String(c.display));
            run.process.setProcessEnvironment(env);
        }
        run.start({QStringLiteral("--data-path"), data, QLatin1String(c.commandLine)});
        ASSERT_TRUE(run.process.waitForFinished(30000)) << c.commandLine;
        const QByteArray err = run.process.readAllStandardError();
        EXPECT_EQ(run.process.exitCode(), c.exitCode) << c.commandLine << "\n" << err.toStdString();
        EXPECT_TRUE(err.contains(c.report)) << c.commandLine << "\n" << err.toStdString();
        EXPECT_TRUE(run.process.readAllStandardOutput().contains(c.out)) << c.commandLine;
        const QStringList written = QDir(data).entryList(QDir::Files | QDir::Hidden);
        EXPECT_EQ(written.size(), c.files ? 1 : 0) << written.join(u' ').toStdString();
        if (c.files && !written.isEmpty()) {
            EXPECT_TRUE(QDir::match(QLatin1String(c.files), written.front())) << c.commandLine;
        }
        EXPECT_EQ(run.settings(), "") << c.commandLine;
    }
}

// A signal in the middle of an unattended job on a slow bench stops it: the earlier file
// stays, no temporary file is left, END's promise holds (no settings) and the exit status
// names the signal.
TEST(WindowProgram, SignalStopsAnUnattendedJob) {
    const struct {
        int signal;
        const char* commandLine;
        const char* file;
    } cases[] = {{SIGTERM, "/HIDE/7/NAME=shot/SCREEN/END", "shot.WMF"},
                 {SIGINT, "/HIDE/12/NAME=shot/TRACE1/END", "shot.TXT"}};
    for (const auto& c : cases) {
        ProgramRun run("process-stop");
        test::writeBytes(
            run.file("bench.yaml"),
            "clock: real\ninstruments:\n"
            "  - {address: 7, kind: spectrum-analyzer, idn: \"Veltronik,KLT-3,1/1,1.70\","
            " rate_bytes_per_s: 1000}\n"
            "  - {address: 12, kind: spectrum-analyzer, idn: \"Veltronik,KLT-3,1/1,1.70\","
            " points: 500000, rate_bytes_per_s: 100000}\n");
        test::writeBytes(run.file(c.file), "earlier");
        run.interface = QStringLiteral("sim:") + run.configFolder + QStringLiteral("/bench.yaml");
        run.start({QStringLiteral("--data-path"), run.configFolder, QLatin1String(c.commandLine)});
        run.waitForSignalHandlers();
        std::this_thread::sleep_for(std::chrono::seconds(1));  // into the read
        ::kill(static_cast<pid_t>(run.process.processId()), c.signal);
        ASSERT_TRUE(run.process.waitForFinished(10000)) << c.commandLine;
        EXPECT_EQ(run.process.exitCode(), 128 + c.signal)
            << run.process.readAllStandardError().toStdString();
        const QStringList left = QDir(run.configFolder).entryList(QDir::Files | QDir::Hidden);
        EXPECT_EQ(left, QStringList({QStringLiteral("bench.yaml"), QLatin1String(c.file)}))
            << left.join(u' ').toStdString();
        EXPECT_EQ(test::readFile(run.file(c.file)), "earlier");
    }
}

}  // namespace
}  // namespace benchcap::app
