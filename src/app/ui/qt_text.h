#pragma once

// The window's edge: instrument texts (8-bit bytes) become Qt strings as Latin-1, and file
// names go to the file system in the platform's own encoding.

#include <QFile>
#include <QString>
#include <QStringDecoder>

#include <filesystem>
#include <string_view>

namespace benchcap::app {

inline QString fromLatin1(std::string_view s) {
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

// A message that may name files: their names are the file system's bytes (UTF-8), the rest
// is plain text, so valid UTF-8 is read as such and anything else as Latin-1.
inline QString fromMessage(std::string_view s) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(QByteArrayView(s.data(), static_cast<qsizetype>(s.size())));
    return utf8.hasError() ? fromLatin1(s) : text;
}

// Blanks removed at both ends (blanks only: tabs and line ends are part of the text).
inline QString trimBlanks(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == QLatin1Char(' '))
        ++begin;
    while (end > begin && text[end - 1] == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

inline std::filesystem::path localPath(const QString& name) {
    return std::filesystem::path(QFile::encodeName(name).toStdString());
}

}  // namespace benchcap::app
