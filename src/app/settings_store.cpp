#include "app/settings_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

#include <cmath>

#include "base/output_file.h"
#include "bus/number.h"

namespace benchcap::app {
namespace {

// The name among `names` equal to `wanted` without regard to case; empty when none is.
QString findIgnoringCase(const QStringList& names, const QString& wanted) {
    for (const QString& n : names)
        if (n.compare(wanted, Qt::CaseInsensitive) == 0)
            return n;
    return {};
}

bool isSectionLine(const QString& line, QString* name = nullptr) {
    const QString t = line.trimmed();
    if (!t.startsWith(QLatin1Char('[')) || !t.endsWith(QLatin1Char(']')))
        return false;
    if (name)
        *name = t.mid(1, t.size() - 2).trimmed();
    return true;
}

// The key of a `key=value` line, empty for comments, blank lines and sections.
QString lineKey(const QString& line) {
    const QString t = line.trimmed();
    if (t.isEmpty() || t.startsWith(QLatin1Char(';')) || t.startsWith(QLatin1Char('#')) ||
        t.startsWith(QLatin1Char('[')))
        return {};
    const qsizetype eq = t.indexOf(QLatin1Char('='));
    return eq > 0 ? t.left(eq).trimmed() : QString();
}

}  // namespace

QString encodeBool(bool value) {
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

std::optional<bool> decodeBool(const QString& text) {
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    // A number counts only when the whole text is one (the leading-number rule would make
    // "yes" a 0, which is a guess, not a stored value).
    bool isNumber = false;
    const double v = t.toDouble(&isNumber);
    if (!isNumber)
        return std::nullopt;
    return v != 0;
}

QString encodeNumber(double value) {
    if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 1e15)
        return QString::number(static_cast<long long>(value));
    // 'f' never writes an exponent or a locale's decimal comma.
    QString s = QString::number(value, 'f', 6);
    while (s.endsWith(QLatin1Char('0')))
        s.chop(1);
    if (s.endsWith(QLatin1Char('.')))
        s.chop(1);
    return s;
}

double decodeNumber(const QString& text) {
    const QByteArray bytes = text.toLatin1();
    return bus::ParseNumber(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
}

int decodeInteger(const QString& text) {
    const QByteArray bytes = text.toLatin1();
    return bus::ParseInt32(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
}

QString iniEscapeValue(const QString& value) {
    bool quote = value.isEmpty() ? false : (value.front().isSpace() || value.back().isSpace());
    QString body;
    for (QChar c : value) {
        switch (c.unicode()) {
            case '\\':
                body += QStringLiteral("\\\\");
                quote = true;
                break;
            case '"':
                body += QStringLiteral("\\\"");
                quote = true;
                break;
            case '\n':
                body += QStringLiteral("\\n");
                break;
            case '\r':
                body += QStringLiteral("\\r");
                break;
            case '\t':
                body += QStringLiteral("\\t");
                break;
            case ';':
            case ',':
            case '=':
            case '#':
                body += c;
                quote = true;
                break;
            default:
                body += c;
        }
    }
    return quote ? QLatin1Char('"') + body + QLatin1Char('"') : body;
}

QString iniWithValue(const QString& text, const QString& section, const QString& key,
                     const QString& value) {
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.back().isEmpty())
        lines.removeLast();
    for (QString& l : lines)
        if (l.endsWith(QLatin1Char('\r')))
            l.chop(1);
    const QString newLine = key + QLatin1Char('=') + iniEscapeValue(value);

    // The section's lines: after its header up to the next header.
    qsizetype start = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString name;
        if (isSectionLine(lines[i], &name) && name.compare(section, Qt::CaseInsensitive) == 0) {
            start = i + 1;
            break;
        }
    }
    if (start < 0) {
        if (!lines.isEmpty() && !lines.back().trimmed().isEmpty())
            lines << QString();
        lines << QLatin1Char('[') + section + QLatin1Char(']') << newLine;
        return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    }
    qsizetype end = start;
    while (end < lines.size() && !isSectionLine(lines[end]))
        ++end;
    bool replaced = false;
    for (qsizetype i = start; i < end;) {
        if (lineKey(lines[i]).compare(key, Qt::CaseInsensitive) == 0) {
            if (!replaced) {
                lines[i] = newLine;
                replaced = true;
            } else {
                lines.removeAt(i);
                --end;
                continue;
            }
        }
        ++i;
    }
    if (!replaced) {
        qsizetype at = end;
        while (at > start && lines[at - 1].trimmed().isEmpty())
            --at;
        lines.insert(at, newLine);
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void MemorySettingsStore::set(const QString& key, const QString& value, const QString& section,
                              const QString& application) {
    if (Entry* e = find(application, section, key))
        e->value = value;
    else
        entries_.push_back({application, section, key, value});
}

std::optional<QString> MemorySettingsStore::get(const QString& key) const {
    for (const Entry& e : entries_)
        if (e.key.compare(key, Qt::CaseInsensitive) == 0)
            return e.value;
    return std::nullopt;
}

MemorySettingsStore::Entry* MemorySettingsStore::find(const QString& application,
                                                      const QString& section, const QString& key) {
    for (Entry& e : entries_)
        if (e.application.compare(application, Qt::CaseInsensitive) == 0 &&
            e.section.compare(section, Qt::CaseInsensitive) == 0 &&
            e.key.compare(key, Qt::CaseInsensitive) == 0)
            return &e;
    return nullptr;
}

QString MemorySettingsStore::read(const QString& application, const QString& section,
                                  const QString& key, const QString& fallback) {
    const Entry* e = find(application, section, key);
    const QString value = e ? e->value : fallback;
    accesses_.push_back({false, key, value});
    return value;
}

void MemorySettingsStore::write(const QString& application, const QString& section,
                                const QString& key, const QString& value) {
    accesses_.push_back({true, key, value});
    set(key, value, section, application);
}

IniSettingsStore::IniSettingsStore(QString folder) : folder_(std::move(folder)) {}

QString IniSettingsStore::defaultFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

QString IniSettingsStore::fileFor(const QString& application) const {
    const QString wanted = application + QStringLiteral(".ini");
    const QString found =
        findIgnoringCase(QDir(folder_).entryList(QDir::Files | QDir::Hidden), wanted);
    return QDir(folder_).filePath(found.isEmpty() ? wanted : found);
}

QString IniSettingsStore::read(const QString& application, const QString& section,
                               const QString& key, const QString& fallback) {
    const QString file = fileFor(application);
    if (!QFileInfo(file).isReadable())
        return fallback;
    QSettings ini(file, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError)
        return fallback;
    const QString group = findIgnoringCase(ini.childGroups(), section);
    if (group.isEmpty())
        return fallback;
    ini.beginGroup(group);
    const QString name = findIgnoringCase(ini.childKeys(), key);
    if (name.isEmpty())
        return fallback;
    const QVariant v = ini.value(name);
    // An unquoted comma makes QSettings read a list; the text is what the user meant.
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(QLatin1Char(','));
    return v.toString();
}

void IniSettingsStore::write(const QString& application, const QString& section, const QString& key,
                             const QString& value) {
    pending_.push_back({application, section, key, value});
}

Status IniSettingsStore::flush() {
    // One file per application, written once with all its values.
    while (!pending_.empty()) {
        const QString application = pending_.front().application;
        const QString file = fileFor(application);
        QString text;
        if (QFile in(file); in.exists()) {
            if (!in.open(QIODevice::ReadOnly))
                return fail("Cannot read the settings file " + file.toStdString() + ": " +
                            in.errorString().toStdString());
            text = QString::fromUtf8(in.readAll());
        }
        std::vector<Pending> rest;
        for (const Pending& p : pending_) {
            if (p.application.compare(application, Qt::CaseInsensitive) == 0)
                text = iniWithValue(text, p.section, p.key, p.value);
            else
                rest.push_back(p);
        }
        pending_ = std::move(rest);
        if (!QDir().mkpath(folder_))
            return fail("Cannot create the settings folder " + folder_.toStdString() +
                        "; check its permissions.");
        const QByteArray bytes = text.toUtf8();
        if (Status s = writeOutputFile(
                file.toStdString(),
                std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
            !s)
            return s;
    }
    return {};
}

}  // namespace benchcap::app
