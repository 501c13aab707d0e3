#include "app/commands/hardcopy_command.h"
#include "app/ui/qt_text.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <filesystem>

#include "app/commands/bus_worker.h"
#include "app/commands/instrument_init.h"
#include "app/commands/window_view.h"
#include "app/output/office_window.h"
#include "app/output/output_files.h"
#include "app/output/print_hardcopy.h"
#include "app/ui/picture_box.h"
#include "app/ui/ui_services.h"
#include "base/output_file.h"
#include "bus/identification.h"
#include "hardcopy/hardcopy_workflow.h"
#include "hardcopy/picture/picture_file.h"

namespace benchcap::app {

namespace {

// The drive instruments keep their hardcopy files on when identification names none.
constexpr char kDefaultHardcopyDrive[] = "C";

// Every way out gives the instrument its front panel back. The session's GoToLocal does so
// only for an instrument it took as ready; an unknown instrument that answered is in remote
// all the same.
void giveBackFrontPanel(InstrumentSession& instrument) {
    bus::CurrentInstrument& ci = instrument.record();
    if (!ci.IsOpen || !ci.BusEnabled || ci.ModelName == bus::kModelNoAnswer)
        return;
    if (ci.IsReady)
        instrument.session().GoToLocal();
    else
        instrument.session().driver().ibloc(ci.DeviceHandle);
}

// The largest size of `natural` that fits into `area` with its proportions kept; a picture
// that fits already keeps its own size.
QSize fitted(QSize natural, QSize area) {
    if (area.width() < 1 || area.height() < 1)
        return natural;
    if (natural.width() <= area.width() && natural.height() <= area.height())
        return natural;
    return natural.scaled(area, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

// What the window's options ask of the hardcopy.
hardcopy::HardcopyOptions hardcopyOptions(const WindowOptions& chosen) {
    hardcopy::HardcopyOptions options;
    options.format = chosen.hardcopyFormat == WindowOptions::HardcopyFormat::Wmf ? "WMF" : "BMP";
    options.color = chosen.color;
    options.suppressConfig = chosen.suppressConfig;
    options.plotter.model =
        chosen.plotter7475 ? hpgl::PlotterModel::HP7475A : hpgl::PlotterModel::HP7470A;
    options.plotter.listenOnly = chosen.plotterListenOnly;
    return options;
}

// Draws a metafile or plot into the area: a metafile is the area's own picture, at its size
// or fitted into the area; a plot fills the area as far as its aspect allows, as on the
// plotter's page. Both are drawn anew when the area changes size (the window may not be
// shown yet). Fails when it cannot be drawn.
Status drawIntoArea(PictureBox& area, const picture::Picture& loaded) {
    const bool plot = loaded.format() == picture::PictureFormat::Plot;
    area.setPictureRenderer([picture = loaded, plot](QSize size) {
        const QSize own = picture.naturalSize();
        QSize drawn = own;
        if (!size.isEmpty())
            drawn = plot ? own.scaled(size, Qt::KeepAspectRatio) : fitted(own, size);
        Result<QImage> image = picture.render(drawn);
        return image ? image.value() : QImage();
    });
    if (!area.picture().isNull())
        return {};
    area.setPicture(QImage());
    Result<QImage> natural = loaded.render();  // the reason it cannot be drawn
    if (!natural)
        return fail(natural.error());
    return fail("the picture cannot be drawn at the size of the window");
}

}  // namespace

HardcopyCommand::HardcopyCommand(WindowView& form, InstrumentSession& instrument,
                                 OfficeBridge& office, PrinterFactory& printers)
    : form_(form), instrument_(instrument), office_(office), printers_(printers) {}

QString HardcopyCommand::saveFilter(const QString& format) {
    // A plot is offered as the plotter's own text and as pictures to show elsewhere.
    if (format == QLatin1String("HGL"))
        return QStringLiteral(
            "HGL file|*.HGL|PNG file|*.PNG|SVG file|*.SVG|PDF file|*.PDF|all files|*.*");
    return format + QStringLiteral(" file|*.") + format + QStringLiteral("|all files|*.*");
}

Status HardcopyCommand::run() {
    BusCommands::Claim claim = form_.claimBus();
    if (!claim)
        return refuseBusyBus();
    form_.setBusy(true, WindowView::Events::LetIn);
    Status result = takeHardcopy(claim);
    form_.setBusy(false, WindowView::Events::Wait);
    return result;
}

Status HardcopyCommand::takeHardcopy(BusCommands::Claim& claim) {
    if (!form_.services().ui.boxes)
        return fail("the window has no message boxes to ask the user with");
    form_.claimPictureArea(WindowView::Content::Hardcopy);

    const hardcopy::HardcopyOptions options = hardcopyOptions(form_.options());
    if (instrument_.HardcopyDrive.empty())
        instrument_.HardcopyDrive = kDefaultHardcopyDrive;
    const QString decimalPoint = QLocale::system().decimalPoint();

    // The bus part: on the bus worker, with the window's texts and boxes handed back to it.
    Status selected;
    hardcopy::HardcopyOutcome outcome;
    const bool ran = claim.run([&](WindowView& window) {
        selected = openSelectedInstrument(window, instrument_);
        if (!selected)
            return;
        OutputFiles& files = window.services().files;
        hardcopy::HardcopyServices services{
            instrument_.session(),
            instrument_.HardcopyDrive,
            *window.services().ui.boxes,
            [&](const std::string& text) { window.showStatus(fromLatin1(text)); },
            [&](std::string_view extension) {
                const QString ext =
                    QString::fromLatin1(extension.data(), static_cast<qsizetype>(extension.size()));
                // Named on the window thread, where the data path may change meanwhile.
                auto name = [&] {
                    QString chosen = files.outputFileName(ext, 0, files.UseManualName);
                    // A name the user gave is overwritten as asked; automatic ones never
                    // replace an earlier picture.
                    if (!files.UseManualName)
                        chosen = uniqueFileName(chosen);
                    return QFile::encodeName(chosen).toStdString();
                };
                BusWorker* worker = claim.worker();
                return worker ? worker->onWindowValue(name) : name();
            },
            decimalPoint.size() == 1 ? decimalPoint.at(0).toLatin1() : '.',
            picture::checkPictureFile,
            // "ready." ends the whole command, after the picture is on display (below).
            false,
        };
        // Instruments the model table does not know give their picture by recipe.
        services.recipes = recipes_;
        services.clock = recipeClock_;
        outcome = hardcopy::HardcopyByModel(services, options);
        if (outcome.way != hardcopy::HardcopyWay::Transfer &&
            outcome.way != hardcopy::HardcopyWay::Generator)
            giveBackFrontPanel(instrument_);
    });
    if (!ran)
        return refuseBusyBus();
    if (!selected)
        return selected;

    const bool pictureWay = outcome.way == hardcopy::HardcopyWay::Transfer ||
                            outcome.way == hardcopy::HardcopyWay::Generator ||
                            outcome.way == hardcopy::HardcopyWay::Recipe;
    Status result;
    const bool plotTaken = outcome.way == hardcopy::HardcopyWay::Plotter && outcome.written;
    if (pictureWay || plotTaken) {
        lastOutputFile_ = QFile::decodeName(QByteArray::fromStdString(outcome.file));
        if (pictureWay)
            cameByTransfer_ = outcome.transferFlag;
        // What was shown goes: print and save never offer an older picture as this one.
        clearShownPicture();
        // A failed transfer has been reported with its box already.
        result = outcome.written ? showPicture(lastOutputFile_) : Status(outcome.status);
    } else {
        result =
            fail(outcome.status ? std::string("no hardcopy was taken") : outcome.status.error());
        // A plot that did not come says why where the capture's progress stood.
        if (outcome.way == hardcopy::HardcopyWay::Plotter && !outcome.status)
            form_.showStatus(outcome.status.errorKind() == ErrorKind::Interrupted
                                 ? QStringLiteral("plot wait stopped")
                                 : fromMessage(outcome.status.error()));
    }

    if (outcome.completed)
        showReady(result);
    return result;
}

void HardcopyCommand::clearShownPicture() {
    PictureBox& area = form_.pictureParts().area;
    form_.claimPictureArea(WindowView::Content::Hardcopy, WindowView::Cover::Uncover);
    area.setTag(QString());
    area.setPicture(QImage());
    area.cls();
    form_.pictureParts().bitmap.setPicture(QImage());
    onDisplay_.reset();
    form_.enableOutputs(WindowView::Outputs::Hardcopy, false);
}

void HardcopyCommand::showReady(const Status& result) {
    form_.setBusy(false, WindowView::Events::LetIn);
    // A plot of several pages shows its last, as the plotter's paper would; say so.
    const int pages = onDisplay_ && result ? onDisplay_->picture.pageCount() : 1;
    form_.showStatus(pages > 1 ? QStringLiteral("ready. The plot has %1 pages; the last is shown, "
                                                "\"Save hardcopy\" as PDF keeps them all.")
                                     .arg(pages)
                               : QString::fromLatin1(hardcopy::kReadyText));
}

Status HardcopyCommand::showPicture(const QString& file) {
    form_.showStatus(QStringLiteral("loading image..."));
    PictureBox* bild = &form_.pictureParts().area;
    bild->setToolTip(QStringLiteral("screenshot from selected device"));

    OutputFiles& files = form_.services().files;
    // A plot capture is the plotter's paper: it stays whatever "save" says.
    const WindowOptions options = form_.options();
    const bool keep = files.UseManualName || options.hardcopyAutoSave ||
                      file.endsWith(QLatin1String(".HGL"), Qt::CaseInsensitive);
    auto removeUnlessKept = [&] {
        std::error_code ec;
        return keep || !std::filesystem::remove(localPath(file), ec);
    };

    Result<picture::Picture> loaded = picture::loadPicture(localPath(file));
    // A metafile or a plot is drawn once, for the area (below); a bitmap is decoded already.
    const bool drawnForArea = loaded && loaded->format() != picture::PictureFormat::Bitmap;
    Result<QImage> natural = !loaded        ? Result<QImage>(Error{loaded.error()})
                             : drawnForArea ? Result<QImage>(QImage())
                                            : loaded->render();
    if (natural && drawnForArea) {
        if (Status drawn = drawIntoArea(*bild, loaded.value()); !drawn)
            natural = fail(drawn.error());
    }
    if (!natural) {
        const std::string text =
            "The hardcopy file " + QFile::encodeName(file).toStdString() +
            " holds no picture that can be shown: " + endSentence(natural.error()) +
            " Please check the instrument and try again.";
        form_.services().ui.boxes->messageBox(bus::MessageIcon::Critical, "ERROR:", text,
                                              bus::MessageButtons::Ok);
        removeUnlessKept();
        return fail(text);
    }

    HardcopyOnDisplay shown{loaded.value(), {}, {}, file, false, false};
    const std::string& model = instrument_.record().ModelName;
    shown.model = trimBlanks(fromLatin1(model));
    if (drawnForArea) {
        shown.format = loaded->format() == picture::PictureFormat::Plot ? QStringLiteral("HGL")
                                                                        : QStringLiteral("WMF");
    } else {
        // The bitmap is kept aside and stretched over the whole area, now and on resize. A
        // recipe's picture keeps its own type (PNG, GIF, ...), which its file is named by.
        const QString suffix = QFileInfo(file).suffix().toUpper();
        shown.format = suffix == QLatin1String("PNG") || suffix == QLatin1String("GIF") ||
                               suffix == QLatin1String("JPEG") || suffix == QLatin1String("TIFF")
                           ? suffix
                           : QStringLiteral("BMP");
        form_.pictureParts().bitmap.setPicture(natural.value());
        bild->cls();
        bild->paintStretched(natural.value());
    }
    shown.fileKept = removeUnlessKept();
    // The tag says how the area redraws: every bitmap is stretched from its holder.
    bild->setTag(drawnForArea ? shown.format : QStringLiteral("BMP"));

    passOn(shown, drawnForArea, natural.value(), options);
    onDisplay_ = std::move(shown);
    form_.enableOutputs(WindowView::Outputs::Hardcopy, true);
    return {};
}

void HardcopyCommand::passOn(HardcopyOnDisplay& shown, bool drawnForArea, QImage natural,
                             const WindowOptions& options) {
    if (!options.hardcopyAutoClip || !form_.services().ui.clipboard) {
        // Nothing on the clipboard: nothing this hardcopy could put into the document.
        return;
    }
    // The clipboard (and from it a document) takes the picture at its own size: the area's
    // picture when it has that size, else drawn for the clipboard alone.
    if (drawnForArea) {
        const PictureBox& area = form_.pictureParts().area;
        if (area.picture().size() == shown.picture.naturalSize()) {
            natural = area.picture();
        } else if (Result<QImage> own = shown.picture.render()) {
            natural = std::move(own.value());
        } else {
            natural = area.picture();
        }
    }
    form_.services().ui.clipboard->setImage(natural);
    shown.onClipboard = true;
    // Only a picture this hardcopy put on the clipboard goes into the document.
    if (options.hardcopyAutoDocument) {
        const Status pasted = office_.PasteInWord(officePicture(natural));
        form_.setOfficeIndicator(WindowView::OfficeProgram::Document, indicatorOn(pasted));
        if (showsOnStatusLine(pasted))
            form_.showStatus(officeStatusText(pasted));
    }
}

void HardcopyCommand::save() {
    SaveFileDialog* dialog = form_.services().ui.saveDialog;
    if (!onDisplay_ || !dialog)
        return;
    OutputFiles& files = form_.services().files;
    // The name an automatic save would give it is offered.
    const QString suggested =
        QFileInfo(files.outputFileName(onDisplay_->format, 0, false)).fileName();
    const QString name = askSaveName(*dialog, form_.pictureParts().area.window(),
                                     saveFilter(onDisplay_->format), files.saveFolder(), suggested);
    if (name.isEmpty())
        return;
    files.rememberSaveFolder(name);
    form_.setBusy(true, WindowView::Events::Wait);
    // A plot saved under a picture's extension is drawn into that format; everything else
    // is written as the bytes that came from the instrument.
    const std::optional<picture::PlotFileFormat> drawAs =
        onDisplay_->picture.format() == picture::PictureFormat::Plot
            ? picture::plotFileFormatFor(QFile::encodeName(name).toStdString())
            : std::nullopt;
    const picture::Picture shown = onDisplay_->picture;
    // Every page of a plot goes out: a PDF of all pages, or NAME-2.png ... beside the name.
    Status written;
    if (drawAs) {
        const auto files = picture::writePictureFiles(
            QFile::encodeName(name).toStdString(), *drawAs, shown.naturalSize(), shown.pageCount(),
            [&](QPainter& painter, const QRect& area, int page) -> Status {
                shown.draw(painter, area, {page, {}});
                return {};
            });
        if (!files)
            written = fail(files.error());
    } else {
        written = writeOutputFile(localPath(name), shown.bytes());
    }
    form_.setBusy(false, WindowView::Events::Wait);
    if (!written && form_.services().ui.boxes) {
        form_.services().ui.boxes->messageBox(
            bus::MessageIcon::Critical, "ERROR:",
            "The hardcopy was not saved: " + endSentence(written.error()) +
                " Choose a folder you can write to and save again.",
            bus::MessageButtons::Ok);
    }
}

void HardcopyCommand::print() {
    const UiServices& services = form_.services().ui;
    if (!onDisplay_ || !services.printDialog || !services.boxes)
        return;
    // The file is named only when it is still there to be found.
    QString caption = onDisplay_->model;
    if (onDisplay_->fileKept)
        caption += QStringLiteral(", saved to ") + onDisplay_->file;
    const picture::Picture picture = onDisplay_->picture;  // a hardcopy may replace it meanwhile
    PictureBox& area = form_.pictureParts().area;
    printHardcopy(area.window(), *services.printDialog, printers_, *services.boxes, &area, picture,
                  caption);
}

}  // namespace benchcap::app
