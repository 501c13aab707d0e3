#include "hardcopy/picture/picture.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QSaveFile>
#include <algorithm>
#include <fstream>

#include "hardcopy/picture/metafile_reader.h"

namespace benchcap::picture {
namespace {

// Screen hardcopies are a few hundred kilobytes; anything this large is no picture
// an instrument sent.
constexpr std::uintmax_t kMaxPictureFileBytes = 256u * 1024 * 1024;
constexpr int kImageReaderLimitMb = 512;

QString qtPath(const std::filesystem::path& path) {
    return QString::fromStdString(path.string());
}

bool allZero(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == 0; });
}

Result<QSize> checkedSize(QSize wanted, QSize natural) {
    const QSize size = wanted.isEmpty() ? natural : wanted;
    if (size.width() < 1 || size.height() < 1 || size.width() > kMaxRenderSide ||
        size.height() > kMaxRenderSide) {
        return Result<QSize>::failure("picture size " + std::to_string(size.width()) + " x " +
                                      std::to_string(size.height()) + " is out of range (1 to " +
                                      std::to_string(kMaxRenderSide) + " per side)");
    }
    return size;
}

}  // namespace

Result<Picture> pictureFromBytes(std::string bytes) {
    if (bytes.empty())
        return Result<Picture>::failure("file is empty");
    Picture picture;
    if (looksLikeMetafile(bytes)) {
        MetafileInspection inspection = inspectMetafile(bytes);
        if (!inspection.info)
            return Result<Picture>::failure(inspection.error);
        picture.format_ = PictureFormat::Metafile;
        picture.naturalSize_ = inspection.info->naturalSize;
    } else {
        if (allZero(bytes)) {
            return Result<Picture>::failure(
                "file holds only zero bytes (the transfer from the instrument probably failed)");
        }
        QByteArray data =
            QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
        QBuffer buffer(&data);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        reader.setAllocationLimit(kImageReaderLimitMb);
        if (reader.format().isEmpty()) {
            return Result<Picture>::failure(
                "not a picture: neither a bitmap (BMP) nor a Windows metafile (WMF)");
        }
        QImage image = reader.read();
        if (image.isNull()) {
            return Result<Picture>::failure("bitmap cannot be read: " +
                                            reader.errorString().toStdString());
        }
        picture.format_ = PictureFormat::Bitmap;
        picture.naturalSize_ = image.size();
        picture.bitmap_ = std::move(image);
    }
    picture.bytes_ = std::make_shared<const std::string>(std::move(bytes));
    return picture;
}

Result<Picture> loadPicture(const std::filesystem::path& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec)
        return Result<Picture>::failure("cannot open " + path.string() + ": " + ec.message());
    if (size > kMaxPictureFileBytes) {
        return Result<Picture>::failure(path.string() + " is too large for a picture");
    }
    std::ifstream in(path, std::ios::binary);
    std::string bytes(static_cast<size_t>(size), '\0');
    if (!in || !in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
        return Result<Picture>::failure("cannot read " + path.string());
    }
    auto picture = pictureFromBytes(std::move(bytes));
    if (!picture)
        return Result<Picture>::failure(path.string() + ": " + picture.error());
    return picture;
}

PlayResult Picture::draw(QPainter& painter, const QRectF& target) const {
    if (format_ == PictureFormat::Metafile)
        return playMetafile(painter, target, *bytes_);
    PlayResult result;
    result.ok = true;
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform,
                          target.width() < bitmap_.width() || target.height() < bitmap_.height());
    painter.drawImage(target, bitmap_);
    painter.restore();
    return result;
}

Result<QImage> Picture::render(QSize wanted) const {
    const auto size = checkedSize(wanted, naturalSize_);
    if (!size)
        return Result<QImage>::failure(size.error());
    QImage image(size.value(), QImage::Format_RGB32);
    if (image.isNull())
        return Result<QImage>::failure("not enough memory for the picture");
    image.fill(Qt::white);
    QPainter painter(&image);
    const PlayResult played = draw(painter, QRectF(QPointF(0, 0), QSizeF(size.value())));
    painter.end();
    if (!played.ok)
        return Result<QImage>::failure(played.error);
    return image;
}

Result<QImage> renderPictureBytes(std::string_view bytes, QSize size) {
    auto picture = pictureFromBytes(std::string(bytes));
    if (!picture)
        return Result<QImage>::failure(picture.error());
    return picture->render(size);
}

Result<QImage> renderPicture(const std::filesystem::path& path, QSize size) {
    auto picture = loadPicture(path);
    if (!picture)
        return Result<QImage>::failure(picture.error());
    return picture->render(size);
}

Result<QSize> renderToPng(const std::filesystem::path& in, const std::filesystem::path& out,
                          QSize size) {
    auto image = renderPicture(in, size);
    if (!image)
        return Result<QSize>::failure(image.error());
    QSaveFile file(qtPath(out));
    if (!file.open(QIODevice::WriteOnly)) {
        return Result<QSize>::failure("cannot write " + out.string() + ": " +
                                      file.errorString().toStdString());
    }
    if (!image->save(&file, "PNG") || !file.commit()) {
        return Result<QSize>::failure("cannot write " + out.string() + ": " +
                                      file.errorString().toStdString());
    }
    return image->size();
}

}  // namespace benchcap::picture
