#pragma once

// The window's edge: instrument texts (8-bit bytes) become Qt strings as Latin-1, and file
// names go to the file system in the platform's own encoding.

#include <QFile>
#include <QString>

#include <filesystem>
#include <string_view>

namespace benchcap::app {

inline QString fromLatin1(std::string_view s) {
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

inline std::filesystem::path localPath(const QString& name) {
    return std::filesystem::path(QFile::encodeName(name).toStdString());
}

}  // namespace benchcap::app
