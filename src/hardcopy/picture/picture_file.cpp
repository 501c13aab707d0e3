#include "hardcopy/picture/picture_file.h"

#include <QBuffer>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSvgGenerator>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "base/output_file.h"

namespace benchcap::picture {

std::optional<PlotFileFormat> plotFileFormatFor(const std::string& fileName) {
    std::string ext = std::filesystem::path(fileName).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == ".png")
        return PlotFileFormat::Png;
    if (ext == ".svg")
        return PlotFileFormat::Svg;
    if (ext == ".pdf")
        return PlotFileFormat::Pdf;
    return std::nullopt;
}

namespace {

Status drawOn(QPaintDevice& device, QSize size, const PictureDrawing& draw) {
    QPainter painter;
    if (!painter.begin(&device))
        return fail("the picture cannot be drawn on");
    const QRect area(QPoint(0, 0), size);
    painter.fillRect(area, Qt::white);
    Status drawn = draw(painter, area);
    painter.end();
    return drawn;
}

Result<QByteArray> drawPicture(PlotFileFormat format, QSize size, const PictureDrawing& draw) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    switch (format) {
        case PlotFileFormat::Png: {
            QImage image(size, QImage::Format_RGB32);
            if (image.isNull())
                return fail("no memory for a picture of that size");
            if (Status drawn = drawOn(image, size, draw); !drawn)
                return Error{drawn.error()};
            if (!image.save(&buffer, "PNG"))
                return fail("the PNG picture could not be encoded");
            break;
        }
        case PlotFileFormat::Svg: {
            QSvgGenerator svg;
            svg.setOutputDevice(&buffer);
            svg.setSize(size);
            svg.setViewBox(QRect(QPoint(0, 0), size));
            svg.setTitle(QStringLiteral("Benchcap"));
            if (Status drawn = drawOn(svg, size, draw); !drawn)
                return Error{drawn.error()};
            break;
        }
        case PlotFileFormat::Pdf: {
            // One page of exactly the picture's size, one device pixel per point.
            QPdfWriter pdf(&buffer);
            pdf.setResolution(72);
            pdf.setPageLayout(QPageLayout(QPageSize(QSizeF(size), QPageSize::Point),
                                          QPageLayout::Portrait, QMarginsF()));
            pdf.setCreator(QStringLiteral("benchcap-cli"));
            if (Status drawn = drawOn(pdf, size, draw); !drawn)
                return Error{drawn.error()};
            break;
        }
    }
    buffer.close();
    return bytes;
}

}  // namespace

Status writePictureFile(const std::string& fileName, PlotFileFormat format, QSize size,
                        const PictureDrawing& draw) {
    Result<QByteArray> bytes = drawPicture(format, size, draw);
    if (!bytes)
        return fail("The picture " + fileName + " was not drawn: " + bytes.error());
    return writeOutputFile(
        std::filesystem::path(fileName),
        std::string_view(bytes->constData(), static_cast<size_t>(bytes->size())));
}

}  // namespace benchcap::picture
