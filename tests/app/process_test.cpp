// The window program as a process: termination signals store the settings, END does not.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <thread>

#include <unistd.h>

#include <string>
#include "bus/adapter/prologix_driver.h"
#include "support/file_faults.h"
#include "support/table_file.h"
#include "support/test_paths.h"
#include "support/window_on_driver.h"

namespace benchcap::app {
namespace {

struct ProgramRun {
    QString configFolder;
    QProcess process;

    QString interface = QStringLiteral("sim");
    QString program = QStringLiteral(BENCHCAP_WINDOW_PROGRAM);

    explicit ProgramRun(const char* hint)
        : configFolder(QString::fromStdString(test::makeTempDir(hint).string())) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configFolder);
        env.insert(QStringLiteral("HOME"), configFolder);
        process.setProcessEnvironment(env);
    }
    void start(const QStringList& arguments) {
        process.start(program, QStringList{QStringLiteral("--interface"), interface} + arguments);
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
    // Waits until `state` holds while the program runs; fails at a deadline only a hang
    // reaches.
    void waitFor(const std::function<bool()>& state, const char* what) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!state()) {
            if (process.state() != QProcess::Running || std::chrono::steady_clock::now() > limit) {
                ADD_FAILURE() << "never came: " << what;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    // Waits until the program catches SIGTERM (its handlers are set), as /proc tells.
    void waitForSignalHandlers() {
        waitFor(
            [this] {
                QFile status(QStringLiteral("/proc/%1/status").arg(process.processId()));
                if (status.open(QIODevice::ReadOnly))
                    for (const QByteArray& line : status.readAll().split('\n'))
                        if (line.startsWith("SigCgt:") &&
                            (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1)) & 1)
                            return true;
                return false;
            },
            "signal handlers");
    }
    // A file in the configuration folder.
    std::filesystem::path file(const char* name) const {
        return std::filesystem::path(configFolder.toStdString()) / name;
    }
    std::string settings() const { return test::readFile(file("BENCHCAP.ini")); }
    // The program linked into a folder of its own, its default data path; returns the folder.
    QString placeProgram() {
        const auto folder = test::makeTempDir("process-program");
        std::error_code linked;  // a copy where linking is not allowed (another owner's file)
        std::filesystem::create_hard_link(program.toStdString(), folder / "benchcap", linked);
        if (linked)
            std::filesystem::copy_file(program.toStdString(), folder / "benchcap");
        program = QString::fromStdString((folder / "benchcap").string());
        return QString::fromStdString(folder.string());
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
    for (const auto& c : test::readTable("app/unattended-runs.tsv")) {
        const std::string& commandLine = c[0];
        const std::string& display = c[4];
        ProgramRun run("process-end");
        const QString data = run.configFolder + QStringLiteral("/data");
        QDir().mkpath(data);
        if (display != "-") {
            QProcessEnvironment env = run.process.processEnvironment();
            for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
                env.remove(QLatin1String(name));
            if (display != "none")
                env.insert(QStringLiteral("DISPLAY"), QString::fromStdString(display));
            run.process.setProcessEnvironment(env);
        }
        run.start({QStringLiteral("--data-path"), data, QString::fromStdString(commandLine)});
        ASSERT_TRUE(run.process.waitForFinished(30000)) << commandLine;
        const std::string err = run.process.readAllStandardError().toStdString();
        EXPECT_EQ(run.process.exitCode(), std::stoi(c[1])) << commandLine << "\n" << err;
        EXPECT_NE(err.find(c[3]), std::string::npos) << commandLine << "\n" << err;
        EXPECT_NE(run.process.readAllStandardOutput().toStdString().find(c[5]), std::string::npos)
            << commandLine;
        const QStringList written = QDir(data).entryList(QDir::Files | QDir::Hidden);
        EXPECT_EQ(written.join(u' ').toStdString(),
                  c[2] == "-" ? "" : written.value(0).toStdString());
        EXPECT_TRUE(c[2] == "-" || QDir::match(QString::fromStdString(c[2]), written.value(0)))
            << commandLine;
        EXPECT_EQ(run.settings(), "") << commandLine;
    }
}

// The default folder in force for an unattended job: one that the stored data path (not
// UTF-8) gave way to is named with the file written; an installed program's (its folder
// read-only) is the user's Pictures/benchcap, made for it. Root writes into any folder, so
// as root the installed program runs as nobody.
TEST(WindowProgram, UnattendedJobInTheDefaultFolder) {
    for (const bool installed : {false, true}) {
        ProgramRun run("process-default");
        const QString bin = run.placeProgram();
        const QString files = installed ? run.configFolder + "/Pictures/benchcap" : bin;
        const auto owner = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther;
        QFile::setPermissions(bin, installed ? owner : owner | QFile::WriteOwner);
        if (installed && ::geteuid() == 0) {
            QFile::setPermissions(run.configFolder, QFileDevice::Permissions(0x7777));
            run.process.setChildProcessModifier([] {
                if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                    ::_exit(126);
            });
        }
        if (!installed)
            test::writeBytes(run.file("BENCHCAP.ini"), "[Settings]\nDataPath=/m\xfc\n");
        run.start({QStringLiteral("/HIDE/20/SCREEN/END")});
        ASSERT_TRUE(run.process.waitForFinished(30000));
        QFile::setPermissions(bin, owner | QFile::WriteOwner);
        const QString err = QString::fromLocal8Bit(run.process.readAllStandardError());
        const QStringList written = QDir(files).entryList({"HARDCOPY-*.WMF"}, QDir::Files);
        EXPECT_EQ(run.process.exitCode(), 0) << err.toStdString();
        ASSERT_EQ(written.size(), 1) << err.toStdString();
        EXPECT_EQ(err.contains(files + '/' + written[0] + " was written to " + files + " instead"),
                  !installed)
            << err.toStdString();
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
        const char* longRead;  // what the bus log shows as the long read begins
    } cases[] = {{SIGTERM, "/HIDE/7/NAME=shot/SCREEN/END", "shot.WMF", "data=\"MMEM:DATA?"},
                 {SIGINT, "/HIDE/12/NAME=shot/TRACE1/END", "shot.TXT", "data=\"TRAC? TRACE1\""}};
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
        // The bus log says when the long read has begun; it lies beside the data path.
        const auto log = test::makeTempDir("process-stop-log") / "bus.log";
        run.start({QStringLiteral("--bus-log"), QString::fromStdString(log.string()),
                   QStringLiteral("--data-path"), run.configFolder, QLatin1String(c.commandLine)});
        run.waitForSignalHandlers();
        run.waitFor([&] { return test::readFile(log).find(c.longRead) != std::string::npos; },
                    c.longRead);
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

// The window's bus commands on a "++" GPIB adapter that is not there. That files through
// the adapter are the bench's own is ThroughEmulator's (tests/adapter), for the command line
// and the window alike: both run the same commands on the driver they are given.
TEST(WindowWithoutAdapter, CommandsNameTheAdapterAndTheReason) {
    const Result<bus::adapter::AdapterAddress> address =
        bus::adapter::parseAdapterAddress("127.0.0.1:1");
    ASSERT_TRUE(address.ok()) << address.error();
    bus::adapter::PrologixDriver driver(address.value());
    bus::RealClock clock;
    test::WindowOnDriver window(driver, clock, "adapter-window");
    for (int command = 0; command < 2; ++command) {
        window.scripted.boxes.clearBoxes();
        EXPECT_TRUE(command == 0 ? window.hardcopyAt(7).empty() : window.traceAt(7, 1).empty());
        const auto texts = window.scripted.boxes.texts();
        ASSERT_EQ(texts.size(), 1u) << command;
        EXPECT_NE(texts[0].find("Prologix adapter at 127.0.0.1:1"), std::string::npos) << texts[0];
        EXPECT_NE(texts[0].find("refused"), std::string::npos) << texts[0];
        EXPECT_EQ(texts[0].find("No device was found"), std::string::npos) << texts[0];
    }
}

}  // namespace
}  // namespace benchcap::app
