#pragma once

// A picture told in a few lines for a golden file: the box around everything that is not
// white, the pixels of each colour and a checksum of the whole image, so that a changed
// pixel fails the test and the box and colours say roughly what changed.

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QCryptographicHash>
#include <QImage>
#include <cstdio>
#include <map>
#include <string>

namespace benchcap::test {

// The file bytes of a picture of one colour in `format` ("PNG", "BMP"), as an instrument
// or a file holds them; empty when Qt cannot write that format.
inline std::string plainImageBytes(QSize size, QColor colour, const char* format) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, format))
        return {};
    return bytes.toStdString();
}

inline std::string imageSummary(const QImage& picture) {
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    std::map<QRgb, int> colours;
    QRect ink;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y) | 0xFF000000u;
            ++colours[p];
            if (p != 0xFFFFFFFFu)
                ink |= QRect(x, y, 1, 1);
        }
    }
    char line[64];
    std::snprintf(line, sizeof line, "ink %d,%d %dx%d\n", ink.x(), ink.y(), ink.width(),
                  ink.height());
    std::string out = line;
    for (const auto& [colour, n] : colours) {
        std::snprintf(line, sizeof line, "colour %06x: %d\n", colour & 0xFFFFFFu, n);
        out += line;
    }
    const QByteArray bytes(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes());
    return out + "md5 " +
           QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex().toStdString() + "\n";
}

}  // namespace benchcap::test
