#include "hardcopy/picture/picture_file.h"

#include <QIODevice>
#include <QImage>
#include <QImageWriter>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSvgGenerator>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <memory>

#include "base/output_file.h"
#include "hardcopy/picture/png_encoder.h"

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

std::string pageFileName(const std::string& fileName, PlotFileFormat format, int page) {
    if (page <= 0 || format == PlotFileFormat::Pdf)
        return fileName;
    // Byte-wise on the name as given: a name that is not UTF-8 keeps its bytes.
    const size_t slash = fileName.rfind('/');
    const size_t dot = fileName.rfind('.');
    const size_t at = dot == std::string::npos || (slash != std::string::npos && dot < slash)
                          ? fileName.size()
                          : dot;
    return fileName.substr(0, at) + "-" + std::to_string(page + 1) + fileName.substr(at);
}

std::vector<std::string> pageFileNames(const std::string& fileName, PlotFileFormat format,
                                       int pages) {
    const int files = format == PlotFileFormat::Pdf ? 1 : std::max(pages, 1);
    std::vector<std::string> names;
    for (int page = 0; page < files; ++page)
        names.push_back(pageFileName(fileName, format, page));
    return names;
}

namespace {

// The Qt writers' output straight into an OutputFile: a full disk is kept by the file
// (sticky) and reported by commit(), so the writers need not check each write.
// The writers' many small pieces are gathered into large writes.
class OutputDevice : public QIODevice {
  public:
    explicit OutputDevice(OutputFile& file) : file_(file) { open(QIODevice::WriteOnly); }
    ~OutputDevice() override { flush(); }
    void flush() {
        if (!buffer_.empty())
            static_cast<void>(file_.write(buffer_));
        buffer_.clear();
    }

  protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override {
        buffer_.append(data, static_cast<size_t>(size));
        if (buffer_.size() >= kChunk)
            flush();
        return size;
    }

  private:
    static constexpr size_t kChunk = 64 * 1024;
    OutputFile& file_;
    std::string buffer_;
};

Status drawOn(QPaintDevice& device, QSize size, int page, const PageDrawing& draw) {
    QPainter painter;
    if (!painter.begin(&device))
        return fail("the picture cannot be drawn on");
    const QRect area(QPoint(0, 0), size);
    painter.fillRect(area, Qt::white);
    Status drawn = draw(painter, area, page);
    painter.end();
    return drawn;
}

Status drawPng(OutputFile& file, QSize size, int page, const PageDrawing& draw) {
    QImage image(size, QImage::Format_RGB32);
    if (image.isNull())
        return fail("no memory for a picture of that size");
    if (Status drawn = drawOn(image, size, page, draw); !drawn)
        return drawn;
    if (const std::optional<std::string> png = encodeRgb32Png(image)) {
        static_cast<void>(file.write(*png));  // a failed write is kept by the file
        return {};
    }
    OutputDevice device(file);
    QImageWriter writer(&device, "PNG");
    if (!writer.write(image))
        return fail("the PNG picture could not be encoded");
    return {};
}

Status drawSvg(OutputFile& file, QSize size, int page, const PageDrawing& draw) {
    OutputDevice device(file);
    QSvgGenerator svg;
    svg.setOutputDevice(&device);
    svg.setSize(size);
    svg.setViewBox(QRect(QPoint(0, 0), size));
    svg.setTitle(QStringLiteral("Benchcap"));
    return drawOn(svg, size, page, draw);
}

// One page of exactly the picture's size per plot page, one device pixel per point.
Status drawPdf(OutputFile& file, QSize size, int pages, const PageDrawing& draw) {
    OutputDevice device(file);
    QPdfWriter pdf(&device);
    pdf.setResolution(72);
    pdf.setPageLayout(
        QPageLayout(QPageSize(QSizeF(size), QPageSize::Point), QPageLayout::Portrait, QMarginsF()));
    pdf.setCreator(QStringLiteral("benchcap-cli"));
    QPainter painter;
    if (!painter.begin(&pdf))
        return fail("the picture cannot be drawn on");
    const QRect area(QPoint(0, 0), size);
    Status drawn;
    for (int page = 0; page < pages && drawn; ++page) {
        if (page > 0 && !pdf.newPage()) {
            drawn = fail("no new page could be started");
            break;
        }
        painter.fillRect(area, Qt::white);
        drawn = draw(painter, area, page);
    }
    painter.end();
    return drawn;
}

}  // namespace

Result<std::vector<std::string>> writePictureFiles(const std::string& fileName,
                                                   PlotFileFormat format, QSize size, int pages,
                                                   const PageDrawing& draw,
                                                   const std::function<bool()>& stopRequested) {
    pages = std::max(pages, 1);
    const auto stopped = [&] { return stopRequested && stopRequested(); };
    const std::vector<std::string> names = pageFileNames(fileName, format, pages);
    std::vector<OutputFile> outputs;
    for (int page = 0; page < static_cast<int>(names.size()); ++page) {
        if (stopped())
            return fail("stopped before the picture was written");
        const std::string& name = names[static_cast<size_t>(page)];
        Result<OutputFile> file = OutputFile::create(std::filesystem::path(name));
        if (!file)
            return file.failure();
        Status drawn = format == PlotFileFormat::Png   ? drawPng(*file, size, page, draw)
                       : format == PlotFileFormat::Svg ? drawSvg(*file, size, page, draw)
                                                       : drawPdf(*file, size, pages, draw);
        if (!drawn)
            return fail("The picture " + name + " was not drawn: " + drawn.error());
        outputs.push_back(std::move(file.value()));
    }
    // The drawing's own checks end with its last shape; encoding the last page and a PDF's
    // closing pages come after them, so the stop is asked once more here.
    if (stopped())
        return fail("stopped before the picture was written");
    // Only now, with every page drawn, do the files take their names.
    for (OutputFile& file : outputs)
        if (Status committed = file.commit(); !committed)
            return committed.failure();
    return names;
}

Status writePictureFile(const std::string& fileName, PlotFileFormat format, QSize size,
                        const PictureDrawing& draw) {
    Result<std::vector<std::string>> written = writePictureFiles(
        fileName, format, size, 1,
        [&](QPainter& painter, const QRect& area, int) { return draw(painter, area); });
    if (!written)
        return Error{written.error()};
    return {};
}

}  // namespace benchcap::picture
