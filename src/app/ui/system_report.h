#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace benchcap::app {

// The about box's system report: the operating system and the versions of the libraries
// the program works with.

// A file's fixed version: four 16-bit parts in two 32-bit words, and its type code
// (1 application, 2 library, 3 device driver, 5 virtual device driver).
struct FixedFileVersion {
    uint32_t hi = 0;
    uint32_t lo = 0;
    int type = 0;
};

// "Version: 2.1.0.207 (type: DLL)" from the version data; the not-found and no-version
// texts when the file is missing or has none.
QString fileVersionText(const QString& path, bool exists,
                        const std::optional<FixedFileVersion>& version);
// The same for a file on disk. On Linux the version data of a shared library are the
// numbers of its real file name (libQt6Core.so.6.4.2 is 6.4.2.0) and its type the ELF
// header's (a shared object is a library, an executable an application).
QString fileVersionText(const QString& path);
std::optional<FixedFileVersion> readFileVersion(const QString& path);

// "name, service pack, build N", e.g. "Debian GNU/Linux 12 (bookworm), Linux 6.1.0-13-amd64, build
// 1".
QString osDescription(const QString& name, const QString& servicePack, long long build);
// From /etc/os-release (PRETTY_NAME) and uname (kernel name and release; the build is the
// kernel's build number, the "#N" of its version).
QString currentOsDescription();

// The folder the system's libraries are found in (the one that holds the Qt library).
QString systemLibraryFolder();
// The GPIB driver library the library backend would load: the full path of the first
// candidate that loads, or of the first candidate in the system folder when none does.
QString gpibLibraryPath();
// The full path of the Qt runtime library in use.
QString qtLibraryPath();

struct ReportRow {
    QString label;
    QString value;
};
std::vector<ReportRow> systemReportRows();
// label + TAB + TAB + value + CR LF for each row.
QString systemReportText(const std::vector<ReportRow>& rows);

}  // namespace benchcap::app
