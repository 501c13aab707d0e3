#include "hardcopy/picture/picture.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QImageWriter>
#include <algorithm>
#include <fstream>

#include "base/output_file.h"
#include "hardcopy/picture/metafile_reader.h"
#include "hardcopy/picture/png_encoder.h"

namespace benchcap::picture {
namespace {

// Screen hardcopies are a few hundred kilobytes; anything this large is no picture
// an instrument sent.
constexpr std::uintmax_t kMaxPictureFileBytes = 256u * 1024 * 1024;
constexpr int kImageReaderLimitMb = 512;
// A plot has no size of its own; this width shows a plotter page's detail on screen.
constexpr int kPlotWidth = 1024;

bool allZero(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == 0; });
}

Result<QSize> checkedSize(QSize wanted, QSize natural) {
    const QSize size = wanted.isEmpty() ? natural : wanted;
    if (size.width() < 1 || size.height() < 1 || size.width() > kMaxRenderSide ||
        size.height() > kMaxRenderSide) {
        return fail("picture size " + std::to_string(size.width()) + " x " +
                    std::to_string(size.height()) + " is out of range (1 to " +
                    std::to_string(kMaxRenderSide) + " per side)");
    }
    return size;
}

}  // namespace

Result<Picture> pictureFromBytes(std::string bytes) {
    if (bytes.empty())
        return fail("file is empty");
    Picture picture;
    if (looksLikeMetafile(bytes)) {
        const Result<MetafileInfo> info = inspectMetafile(bytes);
        if (!info)
            return fail(info.error());
        picture.format_ = PictureFormat::Metafile;
        picture.naturalSize_ = info->naturalSize;
    } else if (hpgl::looksLikeHpgl(bytes)) {
        Result<hpgl::Plot> plot = hpgl::parseHpgl(bytes);
        if (!plot)
            return fail("plot cannot be read: " + plot.error());
        picture.format_ = PictureFormat::Plot;
        const QRectF extent = plot->pages.back().extent;  // the page shown by default
        const double aspect =
            extent.width() > 0 && extent.height() > 0 ? extent.height() / extent.width() : 0.75;
        picture.naturalSize_ =
            QSize(kPlotWidth, std::clamp(static_cast<int>(kPlotWidth * aspect), 1, kMaxRenderSide));
        picture.plot_ = std::make_shared<const hpgl::Plot>(std::move(plot.value()));
    } else {
        if (allZero(bytes)) {
            return fail(
                "file holds only zero bytes (the transfer from the instrument probably failed)");
        }
        QByteArray data =
            QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
        QBuffer buffer(&data);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        reader.setAllocationLimit(kImageReaderLimitMb);
        if (reader.format().isEmpty()) {
            return fail(
                "not a picture: neither a bitmap (BMP), a Windows metafile (WMF) nor an HP-GL "
                "plot");
        }
        QImage image = reader.read();
        if (image.isNull()) {
            return fail("bitmap cannot be read: " + reader.errorString().toStdString());
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
        return fail("cannot open " + path.string() + ": " + ec.message());
    if (size > kMaxPictureFileBytes) {
        return fail(path.string() + " is too large for a picture");
    }
    std::ifstream in(path, std::ios::binary);
    std::string bytes(static_cast<size_t>(size), '\0');
    if (!in || !in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
        return fail("cannot read " + path.string());
    }
    auto picture = pictureFromBytes(std::move(bytes));
    if (!picture)
        return fail(path.string() + ": " + picture.error());
    return picture;
}

Status checkPictureFile(const std::filesystem::path& path) {
    const Result<Picture> picture = loadPicture(path);
    if (!picture)
        return Error{picture.error()};
    return {};
}

bool mayNeedFontsToLoad(std::string_view bytes) {
    if (looksLikeMetafile(bytes))
        return metafileDrawsText(bytes);
    return !hpgl::looksLikeHpgl(bytes);
}

bool Picture::drawsText() const {
    if (format_ == PictureFormat::Metafile)
        return metafileDrawsText(*bytes_);
    if (format_ == PictureFormat::Plot)
        for (const hpgl::Page& page : plot_->pages)
            for (const hpgl::Item& item : page.items)
                if (item.kind == hpgl::LineKind::Text)
                    return true;
    return false;
}

int Picture::pageCount() const {
    return plot_ ? static_cast<int>(plot_->pages.size()) : 1;
}

PlayResult Picture::draw(QPainter& painter, const QRectF& target,
                         const DrawRequest& request) const {
    const auto stopped = [&] { return request.cancelled && request.cancelled(); };
    if (format_ == PictureFormat::Metafile) {
        PlayOptions options;
        options.cancelled = request.cancelled;
        PlayResult played = playMetafile(painter, target, *bytes_, options);
        played.cancelled = stopped();
        return played;
    }
    PlayResult result;
    if (format_ == PictureFormat::Plot) {
        result.warnings = plot_->warnings;
        hpgl::DrawOptions options;
        options.page = request.page < 0 ? pageCount() - 1 : request.page;
        options.cancelled = request.cancelled;
        for (std::string& warning : hpgl::draw(painter, target, *plot_, options))
            result.warnings.push_back(std::move(warning));
        result.cancelled = stopped();
        return result;
    }
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform,
                          target.width() < bitmap_.width() || target.height() < bitmap_.height());
    painter.drawImage(target, bitmap_);
    painter.restore();
    return result;
}

Result<QImage> Picture::render(QSize wanted, std::vector<std::string>* warnings,
                               const DrawRequest& request) const {
    const auto size = checkedSize(wanted, naturalSize_);
    if (!size)
        return fail(size.error());
    QImage image(size.value(), QImage::Format_RGB32);
    if (image.isNull())
        return fail("not enough memory for the picture");
    image.fill(Qt::white);
    QPainter painter(&image);
    const PlayResult played = draw(painter, QRectF(QPointF(0, 0), QSizeF(size.value())), request);
    painter.end();
    if (!played.status)
        return fail(played.status.error());
    if (warnings)
        *warnings = played.warnings;
    return image;
}

Result<QImage> renderPictureBytes(std::string_view bytes, QSize size,
                                  std::vector<std::string>* warnings) {
    auto picture = pictureFromBytes(std::string(bytes));
    if (!picture)
        return fail(picture.error());
    return picture->render(size, warnings);
}

Result<QImage> renderPicture(const std::filesystem::path& path, QSize size,
                             std::vector<std::string>* warnings) {
    auto picture = loadPicture(path);
    if (!picture)
        return fail(picture.error());
    auto image = picture->render(size, warnings);
    if (!image)
        return fail(path.string() + ": " + image.error());
    return image;
}

Result<std::string> encodePng(const QImage& image) {
    if (std::optional<std::string> png = encodeRgb32Png(image))
        return std::move(*png);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "PNG");
    if (!writer.write(image))
        return fail("cannot encode the picture as PNG: " + writer.errorString().toStdString());
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

Result<RenderedFile> renderToPng(const std::filesystem::path& in, const std::filesystem::path& out,
                                 QSize size, bool strict) {
    RenderedFile rendered;
    auto image = renderPicture(in, size, &rendered.warnings);
    if (!image)
        return fail(image.error());
    if (strict && !rendered.warnings.empty()) {
        return fail(in.string() + " is damaged: " + rendered.warnings.front() +
                    (rendered.warnings.size() > 1 ? " (and more)" : "") + "; no picture written");
    }
    auto png = encodePng(*image);
    if (!png)
        return fail(png.error());
    if (Status written = writeOutputFile(out, *png); !written)
        return written.failure();
    rendered.size = image->size();
    return rendered;
}

}  // namespace benchcap::picture
