#include "office/uno_office.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <charconv>
#include <cstdlib>
#include <string_view>

namespace benchcap::office {

namespace {

constexpr const char* kScriptName = "benchcap_office_uno.py";

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

QString programFolder() {
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(u'/', 0, -2);
}

std::string seconds(std::chrono::milliseconds time) {
    const long long ms = time.count();
    return std::to_string(ms / 1000) + (ms % 1000 ? "." + std::to_string(ms % 1000 / 100) : "") +
           " s";
}

// The last line the helper wrote on stderr: the reason a Python program ends.
std::string lastLine(const QByteArray& text) {
    const QList<QByteArray> lines = text.trimmed().split('\n');
    return lines.isEmpty() ? std::string() : lines.last().trimmed().toStdString();
}

class UnoConnection final : public OfficeConnection {
  public:
    UnoConnection(std::unique_ptr<QProcess> process, const UnoOfficeSettings& settings)
        : process_(std::move(process)), settings_(settings) {}

    ~UnoConnection() override {
        // End of input ends the helper, which lets go of the office; one that hangs goes.
        process_->closeWriteChannel();
        if (!process_->waitForFinished(1000)) {
            process_->kill();
            process_->waitForFinished(1000);
        }
    }

    Result<QJsonObject> request(const QJsonObject& message) {
        if (lost_)
            return fail(ErrorKind::TimedOut, "LibreOffice stopped answering");
        if (process_->state() != QProcess::Running)
            return fail(ended());
        process_->write(QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n');
        QElapsedTimer clock;
        clock.start();
        while (!process_->canReadLine()) {
            const qint64 left = settings_.timeout.count() - clock.elapsed();
            if (process_->state() != QProcess::Running)
                return fail(ended());
            if (left <= 0) {
                // A hung office must not hang Benchcap: the helper goes, and with it the call.
                lost_ = true;
                process_->kill();
                process_->waitForFinished(1000);
                return fail(ErrorKind::TimedOut,
                            "LibreOffice at " + settings_.connection + " did not answer within " +
                                seconds(settings_.timeout) +
                                ": check that it is not showing a dialog or busy, and try again");
            }
            process_->waitForReadyRead(static_cast<int>(left));
        }
        QJsonParseError parseError{};
        const QJsonDocument answer =
            QJsonDocument::fromJson(process_->readLine().trimmed(), &parseError);
        if (parseError.error != QJsonParseError::NoError || !answer.isObject())
            return fail("the office helper answered something unreadable");
        QJsonObject object = answer.object();
        if (!object.value(QStringLiteral("ok")).toBool())
            // The helper marks an attach that found no office listening.
            return fail(object.value(QStringLiteral("notRunning")).toBool()
                            ? ErrorKind::NotReachable
                            : ErrorKind::Refused,
                        object.value(QStringLiteral("error")).toString().toStdString());
        return object;
    }

    Status plain(const QJsonObject& message) {
        Result<QJsonObject> answer = request(message);
        if (!answer)
            return fail(answer.error());
        return {};
    }

    Status pastePicture(std::string_view pictureFile) override {
        const QByteArray data(pictureFile.data(), static_cast<qsizetype>(pictureFile.size()));
        return plain({{QStringLiteral("op"), QStringLiteral("pastePicture")},
                      {QStringLiteral("data"), QString::fromLatin1(data.toBase64())}});
    }

    Result<CellAddress> activeCell() override {
        Result<QJsonObject> answer =
            request({{QStringLiteral("op"), QStringLiteral("activeCell")}});
        if (!answer)
            return fail(answer.error());
        return CellAddress{answer->value(QStringLiteral("row")).toInteger(),
                           answer->value(QStringLiteral("column")).toInteger()};
    }

    Result<Occupancy> occupiedCells(CellAddress first, std::size_t rows,
                                    std::size_t columns) override {
        Result<QJsonObject> answer = request({{QStringLiteral("op"), QStringLiteral("occupied")},
                                              {QStringLiteral("row"), qint64(first.row)},
                                              {QStringLiteral("column"), qint64(first.column)},
                                              {QStringLiteral("rows"), qint64(rows)},
                                              {QStringLiteral("columns"), qint64(columns)}});
        if (!answer)
            return fail(answer.error());
        return Occupancy{
            static_cast<std::size_t>(answer->value(QStringLiteral("count")).toInteger()),
            answer->value(QStringLiteral("first")).toString().toStdString()};
    }

    Status writeColumn(CellAddress first, const std::vector<double>& values) override {
        QJsonArray numbers;
        for (double v : values)
            numbers.append(v);
        return plain({{QStringLiteral("op"), QStringLiteral("writeColumn")},
                      {QStringLiteral("row"), qint64(first.row)},
                      {QStringLiteral("column"), qint64(first.column)},
                      {QStringLiteral("values"), numbers}});
    }

    Status moveActiveCell(long rows, long columns) override {
        return plain({{QStringLiteral("op"), QStringLiteral("moveActiveCell")},
                      {QStringLiteral("rows"), qint64(rows)},
                      {QStringLiteral("columns"), qint64(columns)}});
    }

    bool lost() const override { return lost_; }

    // Why the helper is gone, from what it left on stderr.
    std::string ended() {
        process_->waitForFinished(1000);
        const std::string reason = lastLine(process_->readAllStandardError());
        if (reason.find("No module named 'uno'") != std::string::npos)
            return settings_.python +
                   " has no LibreOffice UNO module: install python3-uno, or set "
                   "BENCHCAP_OFFICE_PYTHON to the python that comes with LibreOffice";
        return "the office helper " + settings_.script + " ended" +
               (reason.empty() ? std::string() : ": " + reason);
    }

  private:
    std::unique_ptr<QProcess> process_;
    const UnoOfficeSettings& settings_;
    bool lost_ = false;
};

}  // namespace

std::string shellQuoted(const std::string& text) {
    // Double quotes keep the semicolons together; text they would not keep as it is goes
    // into single quotes, each single quote of it written as '\''.
    if (text.find_first_of("\"$`\\!") == std::string::npos)
        return "\"" + text + "\"";
    std::string quoted = "'";
    for (const char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

UnoOfficeSettings UnoOfficeSettings::fromEnvironment() {
    UnoOfficeSettings settings;
    if (std::string connection = environment("BENCHCAP_OFFICE"); !connection.empty()) {
        // The protocol part is Benchcap's to add; a connection copied from an --accept
        // option brings its own.
        for (const std::string_view protocol : {";urp;", ";urp"}) {
            if (connection.size() > protocol.size() && connection.ends_with(protocol)) {
                connection.resize(connection.size() - protocol.size());
                break;
            }
        }
        settings.connection = connection;
    }
    if (std::string python = environment("BENCHCAP_OFFICE_PYTHON"); !python.empty())
        settings.python = python;
    else if (QFileInfo::exists(QStringLiteral("/usr/bin/python3")))
        settings.python = "/usr/bin/python3";  // a python on the PATH (pyenv, venv) lacks uno
    if (std::string ms = environment("BENCHCAP_OFFICE_TIMEOUT_MS"); !ms.empty()) {
        long long value = 0;
        const auto [end, ec] = std::from_chars(ms.data(), ms.data() + ms.size(), value);
        if (ec == std::errc() && end == ms.data() + ms.size() && value > 0)
            settings.timeout = std::chrono::milliseconds(value);
    }
    const QString folder = programFolder();
    const QString candidates[] = {
        folder + u'/' + QLatin1String(kScriptName),
        folder + QStringLiteral("/../share/benchcap/") + QLatin1String(kScriptName),
        QStringLiteral(BENCHCAP_OFFICE_SCRIPT_SOURCE),
    };
    settings.script = QDir::cleanPath(candidates[0]).toStdString();
    for (const QString& candidate : candidates) {
        if (QFileInfo::exists(candidate)) {
            settings.script = QDir::cleanPath(candidate).toStdString();
            break;
        }
    }
    return settings;
}

Attachment UnoOffice::attach() {
    const std::string setUp = " (see docs/office.md)";
    if (!QFileInfo::exists(QString::fromStdString(settings_.script)))
        return fail(ErrorKind::NotReachable,
                    "the office helper " + settings_.script + " is missing: reinstall Benchcap");
    auto process = std::make_unique<QProcess>();
    process->setProgram(QString::fromStdString(settings_.python));
    process->setArguments(
        {QString::fromStdString(settings_.script), QString::fromStdString(settings_.connection)});
    process->start();
    if (!process->waitForStarted(static_cast<int>(settings_.timeout.count())))
        return fail(ErrorKind::NotReachable,
                    "cannot run " + settings_.python +
                        " for the office helper: " + process->errorString().toStdString() +
                        ". Install python3-uno, or set BENCHCAP_OFFICE_PYTHON" + setUp);

    auto connection = std::make_unique<UnoConnection>(std::move(process), settings_);
    Result<QJsonObject> attached =
        connection->request({{QStringLiteral("op"), QStringLiteral("attach")}});
    if (attached)
        return std::unique_ptr<OfficeConnection>(std::move(connection));
    if (connection->lost())
        return fail(ErrorKind::TimedOut, attached.error());
    if (attached.errorKind() != ErrorKind::NotReachable)
        return fail(ErrorKind::NotReachable, attached.error());
    // The command comes last, whole, so that it can be pasted into a shell as it stands.
    return fail(ErrorKind::NotReachable,
                "No LibreOffice is running and listening at " + settings_.connection +
                    ". Start it listening (once for all: see docs/office.md), open a document in "
                    "it and try again. To start it: soffice --accept=" +
                    shellQuoted(settings_.connection + ";urp;"));
}

}  // namespace benchcap::office
