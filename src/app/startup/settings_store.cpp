#include "app/startup/settings_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QStringList>

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <filesystem>
#include <string>
#include <string_view>

#include "base/output_file.h"
#include "bus/number.h"
#include "scanner/ini_file.h"

namespace benchcap::app {
namespace {

// The name among `names` equal to `wanted` without regard to case; empty when none is.
QString findIgnoringCase(const QStringList& names, const QString& wanted) {
    for (const QString& n : names)
        if (n.compare(wanted, Qt::CaseInsensitive) == 0)
            return n;
    return {};
}

std::string_view bytesOf(const QByteArray& bytes) {
    return std::string_view(bytes.constData(), static_cast<size_t>(bytes.size()));
}

// The settings file as the scanner's byte-keeping profile editor sees it, in the rules of
// the settings library other programs read it with.
scanner::IniDocument settingsDocument(const QByteArray& text) {
    return scanner::IniDocument(bytesOf(text), scanner::IniDialect::settingsFile());
}

QByteArray toBytes(std::string_view bytes) {
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

bool isUtf8(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    [[maybe_unused]] const QString decoded = utf8.decode(bytes);  // decoding is lazy until taken
    return !utf8.hasError();
}

// The bytes of a stored value as iniEscapeValue wrote them: quotes and backslash escapes
// undone, an unquoted ";" starts a comment. The bytes stay in the file's encoding.
QByteArray unescapeValue(const QByteArray& raw) {
    QByteArray out;
    bool quoted = false;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '"') {
            quoted = !quoted;
        } else if (c == ';' && !quoted) {
            break;
        } else if (c == '\\' && i + 1 < raw.size()) {
            const char e = raw[++i];
            if (e == 'x') {
                // \xHHHH: a character by its code, as UTF-8.
                qsizetype j = i + 1;
                uint code = 0;
                while (j < raw.size() && j < i + 5 && std::isxdigit(static_cast<uchar>(raw[j]))) {
                    const char h = raw[j++];
                    code =
                        code * 16 + static_cast<uint>(h <= '9' ? h - '0' : (h | 0x20) - 'a' + 10);
                }
                out += QString(QChar(static_cast<char16_t>(code))).toUtf8();
                i = j - 1;
            } else {
                out += e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e == '0' ? '\0' : e;
            }
        } else {
            out += c;
        }
    }
    // Blanks outside quotes around the value are not part of it.
    return quoted || raw.contains('"') ? out : out.trimmed();
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

QString decodeSettingBytes(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString text = utf8(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

std::optional<QByteArray> iniValue(const QByteArray& text, const QString& section,
                                   const QString& key) {
    const scanner::IniDocument document = settingsDocument(text);
    const auto lines = document.keyLines(bytesOf(section.toUtf8()), bytesOf(key.toUtf8()));
    if (lines.empty())
        return std::nullopt;
    return unescapeValue(toBytes(document.storedValue(lines.front())));
}

QByteArray iniWithValue(const QByteArray& text, const QString& section, const QString& key,
                        const QString& value) {
    scanner::IniDocument document = settingsDocument(text);
    const QByteArray sectionName = section.toUtf8();
    const QByteArray keyName = key.toUtf8();
    auto keyLine = [&](const std::optional<QByteArray>& was) {
        const QString escaped = iniEscapeValue(value);
        // A value read as Latin-1 is written back as Latin-1 while it fits, and reads back
        // as Latin-1, which bytes that happen to be UTF-8 would not.
        const bool latin1 = was && !isUtf8(*was) &&
                            QString::fromLatin1(value.toLatin1()) == value &&
                            !isUtf8(escaped.toLatin1());
        return (keyName + '=' + (latin1 ? escaped.toLatin1() : escaped.toUtf8())).toStdString();
    };

    // The key's lines in every section of that name, as the reader sees them.
    const auto lines = document.keyLines(bytesOf(sectionName), bytesOf(keyName));
    if (lines.empty()) {
        document.addKeyLine(bytesOf(sectionName), keyLine(std::nullopt));
        return QByteArray::fromStdString(document.bytes());
    }
    // A value that did not change keeps its line as it was written; later duplicates go.
    const QByteArray was = unescapeValue(toBytes(document.storedValue(lines.front())));
    if (decodeSettingBytes(was) != value)
        document.replaceLine(lines.front(), keyLine(was));
    for (auto it = lines.rbegin(); it + 1 != lines.rend(); ++it)
        document.removeLine(*it);
    return QByteArray::fromStdString(document.bytes());
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

Result<QByteArray> IniSettingsStore::load(const QString& file) const {
    const QFileInfo info(file);
    if (!info.exists())
        return QByteArray();
    // A pipe or a device would never end; a huge file is no settings file of ours.
    if (!info.isFile())
        return fail(file.toStdString() + " is no regular file");
    if (info.size() > kMaxSettingsBytes)
        return fail(file.toStdString() + " is larger than " +
                    std::to_string(kMaxSettingsBytes >> 20) + " MB");
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return fail("cannot read " + file.toStdString() + ": " + in.errorString().toStdString());
    return in.read(kMaxSettingsBytes);
}

QString IniSettingsStore::read(const QString& application, const QString& section,
                               const QString& key, const QString& fallback) {
    const QString file = fileFor(application);
    if (file != cachedFile_) {
        Result<QByteArray> text = load(file);
        cached_ = text ? *text : QByteArray();
        cachedFile_ = file;
    }
    const std::optional<QByteArray> value = iniValue(cached_, section, key);
    return value ? decodeSettingBytes(*value) : fallback;
}

bool IniSettingsStore::readAsLatin1(const QString& application, const QString& section,
                                    const QString& key) {
    (void)read(application, section, key, {});  // the file's bytes, as read() caches them
    const std::optional<QByteArray> value = iniValue(cached_, section, key);
    return value && !isUtf8(*value);
}

void IniSettingsStore::write(const QString& application, const QString& section, const QString& key,
                             const QString& value) {
    pending_.push_back({application, section, key, value});
}

namespace {

// Where a settings file that is a symbolic link (dotfiles kept elsewhere) really is, so the
// link stays and its target is updated.
std::filesystem::path followLinks(std::filesystem::path path) {
    std::error_code error;
    for (int hops = 0; hops < 40 && std::filesystem::is_symlink(path, error); ++hops) {
        const std::filesystem::path target = std::filesystem::read_symlink(path, error);
        if (error)
            break;
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    // The folders on the way as they really are, so messages name the file plainly.
    const std::filesystem::path real = std::filesystem::weakly_canonical(path, error);
    return error ? path : real;
}

bool isReadOnly(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;  // a new file: the folder decides
    // The mode bits as well, since the superuser may write anything.
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.c_str(), W_OK) != 0;
}

}  // namespace

Status IniSettingsStore::flush() {
    // One file per application, written once with all its values.
    while (!pending_.empty()) {
        const QString application = pending_.front().application;
        const QString file = fileFor(application);
        const std::filesystem::path target = followLinks(QFile::encodeName(file).toStdString());
        if (isReadOnly(target))
            return fail(target.string() + " is read-only");
        Result<QByteArray> text = load(QFile::decodeName(target.c_str()));
        if (!text)
            return fail(text.error());
        QByteArray bytes = *text;
        std::vector<Pending> rest;
        for (const Pending& p : pending_) {
            if (p.application.compare(application, Qt::CaseInsensitive) == 0)
                bytes = iniWithValue(bytes, p.section, p.key, p.value);
            else
                rest.push_back(p);
        }
        pending_ = std::move(rest);
        if (!QDir().mkpath(QFile::decodeName(target.parent_path().c_str())))
            return fail("Cannot create the settings folder " + target.parent_path().string() +
                        "; check its permissions.");
        if (Status s = writeOutputFile(
                target, std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
            !s)
            return s;
        if (file == cachedFile_)
            cached_ = bytes;
    }
    return {};
}

}  // namespace benchcap::app
