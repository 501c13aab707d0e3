#pragma once

#include <QRectF>
#include <QString>

#include <memory>

#include "base/result.h"
#include "hardcopy/picture/picture.h"

class QPainter;
class QPrinter;
class QWidget;

namespace benchcap::bus {
class UserInterface;
}

namespace benchcap::app {

class PictureBox;
class PrintDialog;

// Where printed pages go: a fresh printer for every job, so the settings chosen in the
// print dialog apply to that job only and never become the desktop's default.
class PrinterFactory {
  public:
    virtual ~PrinterFactory() = default;
    virtual std::unique_ptr<QPrinter> makePrinter() = 0;
};

// The desktop's printers.
class QtPrinterFactory final : public PrinterFactory {
  public:
    std::unique_ptr<QPrinter> makePrinter() override;
};

// Pages into a PDF file (tests, and printing without a printer).
class PdfPrinterFactory final : public PrinterFactory {
  public:
    explicit PdfPrinterFactory(QString file) : file_(std::move(file)) {}
    std::unique_ptr<QPrinter> makePrinter() override;

  private:
    QString file_;
};

// The names of the printing steps, as a failure reports them ("Error while scaling").
namespace print_steps {
inline constexpr char kStarting[] = "starting hardcopy";
inline constexpr char kOptions[] = "setting printer options";
inline constexpr char kScaling[] = "scaling";
inline constexpr char kPicture[] = "printing picture";
inline constexpr char kFinishing[] = "finishing document";
inline constexpr char kDone[] = "document end reached";
}  // namespace print_steps

// Where the parts of a page go, in the painter's coordinates.
struct PageGeometry {
    QRectF picture;  // the picture and its frame: 1/6 to 5/6 of the printable area
    QRectF caption;  // the caption's text box, centred two text heights below the frame
};

// One page: the picture stretched from 1/6 to 5/6 of `printable` in both directions
// (whatever its own proportions), a black frame on its edges and `caption` centred under
// it, two text heights below the frame, in the painter's current font. The picture's size
// sets the units (1.5 picture widths and heights span the printable area), so the caption
// sits where it would on paper of any size. `step` follows the work for error messages.
// A picture without size fails in "scaling".
Result<PageGeometry> paintHardcopyPage(QPainter& painter, const QRectF& printable,
                                       const picture::Picture& picture, const QString& caption,
                                       const char*& step);

enum class PrintOutcome { Printed, Cancelled, Failed };

// "Print hardcopy": the print dialog (one copy, page 1 of 1, landscape), then one page per
// copy. A failure is shown as the box "PRINTING-ERROR" with "Error while " and the step.
// `bild` gets the coordinate system 100 by -100 that printing leaves on the picture area.
PrintOutcome printHardcopy(QWidget* owner, PrintDialog& dialog, PrinterFactory& printers,
                           bus::UserInterface& boxes, PictureBox* bild,
                           const picture::Picture& picture, const QString& caption);

}  // namespace benchcap::app
