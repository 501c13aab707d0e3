#include "app/output/print_hardcopy.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>

#include <algorithm>

#include "app/ui/picture_box.h"
#include "app/ui/ui_services.h"
#include "bus/user_interface.h"

namespace benchcap::app {

namespace {

// The picture's natural size counts at screen resolution; printed, a point is 1/72 inch.
constexpr double kPointsPerPixel = 72.0 / 96.0;

// The picture's size in points, or nothing when it has no size.
std::optional<QSizeF> pictureSizeInPoints(const picture::Picture& picture) {
    const QSize natural = picture.naturalSize();
    if (natural.width() <= 0 || natural.height() <= 0)
        return std::nullopt;
    return QSizeF(natural.width() * kPointsPerPixel, natural.height() * kPointsPerPixel);
}

// Whether the pages can go anywhere: a file named for PDF output, or an installed printer.
// Qt takes an unknown printer name for PDF output without a file.
bool hasDestination(const QPrinter& printer) {
    if (printer.outputFormat() == QPrinter::PdfFormat)
        return !printer.outputFileName().isEmpty();
    return printer.isValid() && !QPrinterInfo::printerInfo(printer.printerName()).isNull();
}

}  // namespace

std::unique_ptr<QPrinter> QtPrinterFactory::makePrinter() {
    return std::make_unique<QPrinter>(QPrinter::HighResolution);
}

std::unique_ptr<QPrinter> PdfPrinterFactory::makePrinter() {
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(file_);
    return printer;
}

Result<PageGeometry> paintHardcopyPage(QPainter& painter, const QRectF& printable,
                                       const picture::Picture& picture, const QString& caption,
                                       const char*& step) {
    step = print_steps::kScaling;
    const std::optional<QSizeF> size = pictureSizeInPoints(picture);
    if (!size || printable.width() <= 0 || printable.height() <= 0)
        return fail(std::string("Error while ") + step);
    // 1.5 picture widths and heights span the printable area, each direction on its own.
    const double w = size->width();
    const double h = size->height();
    const double sx = printable.width() / (1.5 * w);
    const double sy = printable.height() / (1.5 * h);
    auto at = [&](double x, double y) {
        return QPointF(printable.left() + x * sx, printable.top() + y * sy);
    };
    const QPointF topLeft = at(0.25 * w, 0.25 * h);
    const QPointF bottomRight = at(1.25 * w, 1.25 * h);

    step = print_steps::kPicture;
    PageGeometry page;
    page.picture = QRectF(topLeft, bottomRight);
    const picture::PlayResult played = picture.draw(painter, page.picture);
    if (!played.status)
        return fail(std::string("Error while ") + step + ": " + played.status.error());

    painter.save();
    // A thin line of paper, but never thinner than one dot.
    QPen pen(Qt::black, std::max(1.0, printable.width() / 1200.0));
    pen.setCapStyle(Qt::SquareCap);
    painter.setPen(pen);
    const QPointF corners[] = {topLeft,
                               {topLeft.x(), bottomRight.y()},
                               bottomRight,
                               {bottomRight.x(), topLeft.y()},
                               topLeft};
    painter.drawPolyline(corners, 5);

    // Centred under the picture; a caption wider than the page runs past both sides.
    const QFontMetricsF metrics(painter.font(), painter.device());
    const double textWidth = metrics.horizontalAdvance(caption);
    const double textHeight = metrics.height();
    const double x = page.picture.center().x() - textWidth / 2;
    const double y = page.picture.bottom() + 2 * textHeight;
    page.caption = QRectF(x, y, textWidth, textHeight);
    painter.drawText(QPointF(x, y + metrics.ascent()), caption);
    painter.restore();
    return page;
}

PrintOutcome printHardcopy(QWidget* owner, PrintDialog& dialog, PrinterFactory& printers,
                           bus::UserInterface& boxes, PictureBox* bild,
                           const picture::Picture& picture, const QString& caption) {
    std::unique_ptr<QPrinter> printer = printers.makePrinter();
    PrintOptions options;  // one copy, page 1 of 1, landscape
    if (!printer || !dialog.exec(owner, *printer, options))
        return PrintOutcome::Cancelled;

    const char* step = print_steps::kStarting;
    auto failed = [&](const char* at) {
        boxes.messageBox(bus::MessageIcon::Critical, "PRINTING-ERROR",
                         std::string("Error while ") + at, bus::MessageButtons::Ok);
        return PrintOutcome::Failed;
    };
    if (bild)
        bild->setScale(100, -100);

    step = print_steps::kOptions;
    // No printer at all shows here: there is nothing to set the options on.
    if (!hasDestination(*printer))
        return failed(step);
    printer->setPageOrientation(options.orientation);
    printer->setCopyCount(std::max(1, options.copies));

    step = print_steps::kScaling;
    // Checked before the document starts, so a picture without size prints no empty page.
    if (!pictureSizeInPoints(picture))
        return failed(step);

    step = print_steps::kPicture;
    QPainter painter;
    if (!painter.begin(printer.get()))
        return failed(step);
    const QRectF printable(QPointF(0, 0), printer->pageRect(QPrinter::DevicePixel).size());
    // Printers that cannot make copies themselves (PDF files) get the page once per copy.
    const int pages = printer->supportsMultipleCopies() ? 1 : printer->copyCount();
    for (int copy = 0; copy < pages; ++copy) {
        if (copy > 0 && !printer->newPage()) {
            painter.end();
            return failed(step);
        }
        if (!paintHardcopyPage(painter, printable, picture, caption, step)) {
            painter.end();
            return failed(step);
        }
    }

    step = print_steps::kFinishing;
    if (!painter.end())
        return failed(step);
    step = print_steps::kDone;
    return PrintOutcome::Printed;
}

}  // namespace benchcap::app
