#include "app/ui/system_report.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtGlobal>

#include <dlfcn.h>
#include <link.h>
#include <sys/utsname.h>

#include "bus/library_driver.h"

namespace benchcap::app {
namespace {

QString typeName(int type) {
    switch (type) {
        case 1:
            return QStringLiteral("Application");
        case 2:
            return QStringLiteral("DLL");
        case 3:
            return QStringLiteral("Device Driver");
        case 5:
            return QStringLiteral("Virtual Device Driver");
        default:
            return QStringLiteral("Unknown");
    }
}

// The path of a loaded library that holds `symbol`.
QString libraryOf(const void* symbol) {
    Dl_info info{};
    if (dladdr(symbol, &info) == 0 || !info.dli_fname)
        return {};
    // Named in its real folder (/lib is often a link to /usr/lib).
    const QFileInfo file(QString::fromLocal8Bit(info.dli_fname));
    const QString folder = QFileInfo(file.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? file.absoluteFilePath() : QDir(folder).filePath(file.fileName());
}

// The full path a library name resolves to when loaded, empty when it does not load.
QString loadedPath(const std::string& name) {
    void* handle = dlopen(name.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (!handle)
        return {};
    QString path;
    link_map* map = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name)
        path = QString::fromLocal8Bit(map->l_name);
    dlclose(handle);
    return path;
}

}  // namespace

QString fileVersionText(const QString& path, bool exists,
                        const std::optional<FixedFileVersion>& version) {
    if (!exists)
        return QStringLiteral("File ") + path.trimmed() + QStringLiteral(" not found!");
    if (!version)
        return path + QStringLiteral(" is not a 32-bit executable!");
    return QStringLiteral("Version: %1.%2.%3.%4 (type: %5)")
        .arg(version->hi >> 16)
        .arg(version->hi & 0xFFFFu)
        .arg(version->lo >> 16)
        .arg(version->lo & 0xFFFFu)
        .arg(typeName(version->type));
}

std::optional<FixedFileVersion> readFileVersion(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray header = file.read(18);
    if (header.size() < 18 || !header.startsWith("\x7f"
                                                 "ELF"))
        return std::nullopt;
    // e_type, in the file's byte order (EI_DATA 1 little, 2 big endian).
    const auto b0 = static_cast<unsigned char>(header[16]);
    const auto b1 = static_cast<unsigned char>(header[17]);
    const int elfType = header[5] == 2 ? (b0 << 8 | b1) : (b1 << 8 | b0);
    const QString realName = QFileInfo(QFileInfo(path).canonicalFilePath()).fileName();
    static const QRegularExpression numbers(
        QStringLiteral(R"(\.so\.(\d+)(?:\.(\d+))?(?:\.(\d+))?(?:\.(\d+))?$)"));
    const QRegularExpressionMatch m = numbers.match(realName);
    if (!m.hasMatch())
        return std::nullopt;
    auto part = [&](int i) { return m.captured(i).toUInt() & 0xFFFFu; };
    FixedFileVersion v;
    v.hi = part(1) << 16 | part(2);
    v.lo = part(3) << 16 | part(4);
    v.type = elfType == 3 ? 2 : elfType == 2 ? 1 : 0;  // ET_DYN: library, ET_EXEC: program
    return v;
}

QString fileVersionText(const QString& path) {
    const bool exists = QFileInfo::exists(path);
    return fileVersionText(path, exists, exists ? readFileVersion(path) : std::nullopt);
}

QString osDescription(const QString& name, const QString& servicePack, long long build) {
    // The service-pack text ends at its first zero character.
    const QString pack = servicePack.left(
        servicePack.indexOf(QChar(0)) >= 0 ? servicePack.indexOf(QChar(0)) : servicePack.size());
    return name + QStringLiteral(", ") + pack + QStringLiteral(", build ") + QString::number(build);
}

QString currentOsDescription() {
    QString name;
    QFile release(QStringLiteral("/etc/os-release"));
    if (release.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : release.readAll().split('\n')) {
            if (line.startsWith("PRETTY_NAME=")) {
                name = QString::fromUtf8(line.mid(12)).trimmed();
                if (name.size() >= 2 && name.startsWith(QLatin1Char('"')) &&
                    name.endsWith(QLatin1Char('"')))
                    name = name.mid(1, name.size() - 2);
            }
        }
    }
    utsname uts{};
    if (uname(&uts) != 0)
        return osDescription(name, {}, 0);
    const QString version = QString::fromLocal8Bit(uts.version);
    static const QRegularExpression buildNumber(QStringLiteral(R"(^#(\d+))"));
    const QRegularExpressionMatch m = buildNumber.match(version);
    return osDescription(name,
                         QString::fromLocal8Bit(uts.sysname) + QLatin1Char(' ') +
                             QString::fromLocal8Bit(uts.release),
                         m.hasMatch() ? m.captured(1).toLongLong() : 0);
}

QString qtLibraryPath() {
    return libraryOf(reinterpret_cast<const void*>(&qVersion));
}

QString systemLibraryFolder() {
    const QString qt = qtLibraryPath();
    return qt.isEmpty() ? QStringLiteral("/usr/lib") : QFileInfo(qt).absolutePath();
}

QString gpibLibraryPath() {
    const std::vector<std::string> candidates = bus::LibraryDriver::defaultLibraries();
    for (const std::string& name : candidates)
        if (const QString path = loadedPath(name); !path.isEmpty())
            return QFileInfo(path).absoluteFilePath();
    const QString first = candidates.empty() ? QStringLiteral("libgpib.so.0")
                                             : QString::fromStdString(candidates.front());
    return QDir::isAbsolutePath(first) ? first : QDir(systemLibraryFolder()).filePath(first);
}

std::vector<ReportRow> systemReportRows() {
    const QDir system(systemLibraryFolder());
    return {
        {QStringLiteral("Operating system"), currentOsDescription()},
        {QStringLiteral("IEEE driver version"), fileVersionText(gpibLibraryPath())},
        {QStringLiteral("Qt runtime version"), fileVersionText(qtLibraryPath())},
        {QStringLiteral("NI analysis version"),
         fileVersionText(system.filePath(QStringLiteral("cwanalysis.ocx")))},
        {QStringLiteral("NI UI version"),
         fileVersionText(system.filePath(QStringLiteral("cwui.ocx")))},
        {QStringLiteral("NI 3D version"),
         fileVersionText(system.filePath(QStringLiteral("cw3dgrph.ocx")))},
    };
}

QString systemReportText(const std::vector<ReportRow>& rows) {
    QString text;
    for (const ReportRow& r : rows)
        text += r.label + QStringLiteral("\t\t") + r.value + QStringLiteral("\r\n");
    return text;
}

}  // namespace benchcap::app
