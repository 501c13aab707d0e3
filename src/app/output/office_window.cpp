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

QString officeStatusText(const Status& pasted) {
    return showsOnStatusLine(pasted) ? QString::fromLatin1(pasted.error()) : QString();
}

}  // namespace benchcap::app
