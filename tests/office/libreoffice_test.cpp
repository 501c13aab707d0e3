// The office paste against a real LibreOffice: one headless soffice with its own profile
// for the whole program, documents opened and read back through UNO by a small Python
// fixture (office_fixture.py). Skipped where soffice or LibreOffice's Python bridge is
// missing.
#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "app/output/office_window.h"
#include "cli_runner.h"
#include "office/office_paste.h"
#include "office/uno_office.h"
#include "support/scripted_user_interface.h"
#include "support/skips.h"
#include "support/test_paths.h"
#include "trace/trace_field.h"
#include "trace_table.h"

namespace benchcap::office {
namespace {

using bus::MessageResult;
using bus::testing::ScriptedUserInterface;

const std::string kSource = BENCHCAP_OFFICE_TEST_SOURCE;

std::string python() {
    const char* chosen = std::getenv("BENCHCAP_OFFICE_PYTHON");
    if (chosen && *chosen)
        return chosen;
    return QFileInfo::exists(QStringLiteral("/usr/bin/python3")) ? "/usr/bin/python3" : "python3";
}

// A child process spoken to one JSON line at a time; it ends with this program, even when
// a test crashes.
class LineProcess {
  public:
    LineProcess(const QString& program, const QStringList& arguments) {
        process_.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
        process_.start(program, arguments);
        process_.waitForStarted(10000);
    }
    ~LineProcess() {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(15000))
            process_.kill();
        process_.waitForFinished(1000);
    }
    QJsonObject ask(const QJsonObject& request, int timeoutMs = 30000) {
        process_.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
        QElapsedTimer clock;
        clock.start();
        while (!process_.canReadLine() && clock.elapsed() < timeoutMs &&
               process_.state() == QProcess::Running)
            process_.waitForReadyRead(100);
        if (!process_.canReadLine())
            return {{QStringLiteral("ok"), false},
                    {QStringLiteral("error"),
                     QStringLiteral("no answer: ") +
                         QString::fromLocal8Bit(process_.readAllStandardError())}};
        return QJsonDocument::fromJson(process_.readLine()).object();
    }

  private:
    QProcess process_;
};

// The headless office of this program, started and ended by the fixture
// (office_fixture.py) that also prepares and reads its documents.
struct Office {
    std::string skipReason;
    std::string connection;
    std::unique_ptr<LineProcess> fixture;
};

class OfficeEnvironment final : public ::testing::Environment {
  public:
    Office& office() { return office_; }

    void SetUp() override {
        const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
        if (soffice.isEmpty()) {
            office_.skipReason =
                "soffice is not installed (libreoffice-calc-nogui, "
                "libreoffice-writer-nogui)";
            return;
        }
        office_.fixture = std::make_unique<LineProcess>(
            QString::fromStdString(python()),
            QStringList{QString::fromStdString(kSource + "/tests/office/office_fixture.py")});
        const QJsonObject started = office_.fixture->ask(
            {{QStringLiteral("op"), QStringLiteral("start")}, {QStringLiteral("soffice"), soffice}},
            100000);
        office_.connection = started.value(QStringLiteral("connection")).toString().toStdString();
        if (!started.value(QStringLiteral("ok")).toBool()) {
            office_.skipReason = started.value(QStringLiteral("error")).toString().toStdString();
            office_.fixture.reset();
        }
    }
    // Runs after the last test whatever its outcome.
    void TearDown() override {
        if (office_.fixture)
            office_.fixture->ask({{QStringLiteral("op"), QStringLiteral("terminate")}}, 20000);
        office_.fixture.reset();
    }

  private:
    Office office_;
};

// One office for the whole program: starting one costs seconds.
OfficeEnvironment* const kEnvironment =
    static_cast<OfficeEnvironment*>(::testing::AddGlobalTestEnvironment(new OfficeEnvironment));

// The table these tests paste: y from -50.25 in steps of 0.125 (exact in any format).
struct Table : benchcap::test::Table {
    Table(std::size_t rows, double x0) : benchcap::test::Table(rows, x0, -50.25f, 0.125f) {}
};

class LibreOfficeTest : public ::testing::Test {
  protected:
    void SetUp() override { BENCHCAP_SKIP_UNLESS(office->skipReason.empty(), office->skipReason); }

    QJsonObject ask(QJsonObject request) {
        const QJsonObject answer = office->fixture->ask(request);
        EXPECT_TRUE(answer.value(QStringLiteral("ok")).toBool())
            << QJsonDocument(request).toJson().toStdString()
            << answer.value(QStringLiteral("error")).toString().toStdString();
        return answer;
    }
    // Runs the fixture's request `name` (with one argument when `key` is given) and returns
    // the answer's `field`.
    QJsonValue op(const char* name, const char* key = nullptr, QJsonValue value = {},
                  const char* field = "") {
        QJsonObject request{{QStringLiteral("op"), QLatin1String(name)}};
        if (key)
            request.insert(QLatin1String(key), value);
        return ask(request).value(QLatin1String(field));
    }
    void newSheetAt(const char* cell) {
        op("newSpreadsheet");
        op("select", "cell", QLatin1String(cell));
    }
    void set(const char* cell, QJsonValue value) {
        ask({{QStringLiteral("op"), QStringLiteral("set")},
             {QStringLiteral("cell"), QLatin1String(cell)},
             {QStringLiteral("value"), value}});
    }
    QJsonArray read(const char* range) {
        return op("read", "range", QLatin1String(range), "cells").toArray();
    }
    QString activeCell() { return op("activeCell", nullptr, {}, "cell").toString(); }
    int pictures() { return op("pictures", nullptr, {}, "count").toInt(); }

    UnoOfficeSettings settings(std::string connection = {}) const {
        UnoOfficeSettings s;
        s.connection = connection.empty() ? office->connection : connection;
        s.python = python();
        s.script = kSource + "/src/office/benchcap_office_uno.py";
        s.timeout = std::chrono::milliseconds(20000);
        return s;
    }

    // The cells read back hold the table's numbers, row by row.
    static QJsonArray cellsOf(const Table& table) {
        const std::vector<double> y = columnNumbers(table.field, 1);
        QJsonArray rows;
        for (std::size_t r = 0; r < table.field.rows; ++r)
            rows.append(QJsonArray{table.x[r], y[r]});
        return rows;
    }

    Office* const office = &kEnvironment->office();
    ScriptedUserInterface boxes;
};

TEST_F(LibreOfficeTest, TraceLandsAsNumbers) {
    newSheetAt("C5");
    UnoOffice server(settings());
    OfficePaste paste(server, boxes);
    const Table first(501, 1.0e9);

    const Status one = paste.PasteInExcel(first.field);
    EXPECT_TRUE(one.ok()) << one.error();
    EXPECT_EQ(activeCell(), QStringLiteral("E5"));
    EXPECT_EQ(read("C5:D505"), cellsOf(first));
    EXPECT_TRUE(boxes.texts().empty());
    // Nothing around the blocks.
    for (const char* outside : {"C4:E4", "C506:E506", "B5:B505", "E5:E505"})
        for (const QJsonValue& row : read(outside))
            for (const QJsonValue& cell : row.toArray())
                EXPECT_TRUE(cell.isNull()) << outside;
}

// Which cells a real sheet counts as taken, and which it names first; what the answer
// does is OfficePaste.SpreadsheetCases's, the write after a Yes the free block's above.
TEST_F(LibreOfficeTest, OccupiedCellsAsk) {
    const struct {
        const char* cell;
        QJsonValue value;
    } cases[] = {{"D300", QStringLiteral("note")}, {"C505", 0}, {"D5", QStringLiteral("=1+1")}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cell);
        newSheetAt("C5");
        set(c.cell, c.value);
        ScriptedUserInterface asked;
        asked.queueMessageResult(MessageResult::No);
        UnoOffice server(settings());
        const Status report = OfficePaste(server, asked).PasteInExcel(Table(501, 1.0e9).field);
        EXPECT_EQ(asked.texts(), std::vector<std::string>{kOccupiedQuestion});
        EXPECT_EQ(report.errorKind(), ErrorKind::Declined);
        EXPECT_NE(report.error().find(std::string("the first is ") + c.cell), std::string::npos)
            << report.error();
        EXPECT_EQ(activeCell(), QStringLiteral("C5"));
        EXPECT_TRUE(read("C6:C6")[0].toArray()[0].isNull());  // nothing written
    }
}

TEST_F(LibreOfficeTest, ProtectedSheetIsReportedAndTheActiveCellStays) {
    newSheetAt("C5");
    op("protect");
    UnoOffice server(settings());
    const Status report = OfficePaste(server, boxes).PasteInExcel(Table(20, 0.0).field);
    EXPECT_EQ(report.errorKind(), ErrorKind::Refused);
    EXPECT_NE(report.error().find("protected"), std::string::npos) << report.error();
    EXPECT_EQ(activeCell(), QStringLiteral("C5"));
}

TEST_F(LibreOfficeTest, ValueThatIsNoNumberDoesNotStopThePaste) {
    newSheetAt("C5");
    Table table(3, 0.0);
    table.y[1] = std::numeric_limits<float>::quiet_NaN();
    UnoOffice server(settings());
    const Status report = OfficePaste(server, boxes).PasteInExcel(table.field);
    EXPECT_TRUE(report.ok()) << report.error();
    EXPECT_EQ(read("D7:D7")[0].toArray()[0].toDouble(), columnNumbers(table.field, 1)[2]);
    EXPECT_EQ(activeCell(), QStringLiteral("E5"));
}

TEST_F(LibreOfficeTest, NoOfficeThereLeavesTheIndicatorOffAndSaysHowToStartOne) {
    // Something that is no LibreOffice takes the connection and closes it again.
    const int port = op("listen", "answer", QStringLiteral("close"), "port").toInt();
    for (const std::string& connection : {"pipe,name=benchcap-nobody-" + std::to_string(::getpid()),
                                          "socket,host=127.0.0.1,port=" + std::to_string(port)}) {
        UnoOffice server(settings(connection));
        const Status report = OfficePaste(server, boxes).PasteInExcel(Table(5, 0.0).field);
        EXPECT_EQ(report.errorKind(), ErrorKind::NotReachable);
        EXPECT_EQ(report.error().find("No LibreOffice is running"), 0u) << report.error();
        const std::string command = "soffice --accept=\"" + connection + ";urp;\"";
        EXPECT_EQ(report.error().substr(report.error().size() - command.size()), command);
    }
}

TEST_F(LibreOfficeTest, HungOfficeTimesOut) {
    // A server that takes the connection and never answers.
    const int port = op("listen", "answer", QStringLiteral("never"), "port").toInt();
    UnoOfficeSettings hung = settings("socket,host=127.0.0.1,port=" + std::to_string(port));
    hung.timeout = std::chrono::milliseconds(3000);
    UnoOffice server(hung);
    QElapsedTimer clock;
    clock.start();
    const Status report = OfficePaste(server, boxes).PasteInExcel(Table(5, 0.0).field);
    EXPECT_LT(clock.elapsed(), 8000);
    EXPECT_EQ(report.errorKind(), ErrorKind::TimedOut);
    EXPECT_NE(report.error().find("did not answer within 3 s"), std::string::npos)
        << report.error();
}

// benchcap-cli: the same pastes from scripts, with the unattended safe answer No.
TEST_F(LibreOfficeTest, CommandLinePastes) {
    const test::CliEnvironment env{{"BENCHCAP_OFFICE", office->connection},
                                   {"BENCHCAP_OFFICE_PYTHON", python()}};
    newSheetAt("B2");
    const test::CliResult pasted = test::runCliInProcess(
        {"--interface", "sim", "trace", "20", "1", "--paste-spreadsheet"}, env);
    EXPECT_EQ(pasted.code, 0) << pasted.err;
    const QJsonArray first = read("B2:B2");
    EXPECT_TRUE(first[0].toArray()[0].isDouble());

    op("select", "cell", QStringLiteral("B2"));
    const test::CliResult occupied = test::runCliInProcess(
        {"--interface", "sim", "trace", "20", "1", "--paste-spreadsheet"}, env);
    EXPECT_EQ(occupied.code, 1);
    EXPECT_NE(occupied.err.find(kOccupiedQuestion), std::string::npos) << occupied.err;
    EXPECT_NE(occupied.err.find("not pasted"), std::string::npos) << occupied.err;
    EXPECT_EQ(activeCell(), QStringLiteral("B2"));

    op("newTextDocument");
    const std::filesystem::path dir = benchcap::test::makeTempDir("office-cli");
    const test::CliResult hardcopy =
        test::runCliInProcess({"--interface", "sim", "hardcopy", "28", "-o",
                               (dir / "shot.bmp").string(), "--paste-document"},
                              env);
    EXPECT_EQ(hardcopy.code, 0) << hardcopy.err;
    EXPECT_EQ(pictures(), 1);
}

}  // namespace
}  // namespace benchcap::office
