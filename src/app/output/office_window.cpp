#include "app/output/office_window.h"

#include <QBuffer>

namespace benchcap::app {

std::string officePicture(const QImage& picture) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    return bytes.toStdString();
}

QString officeStatusText(const office::PasteReport& report) {
    return QString::fromLatin1(report.statusText());
}

}  // namespace benchcap::app
