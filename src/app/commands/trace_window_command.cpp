#include "app/commands/trace_window_command.h"
#include "app/ui/qt_text.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QPainter>

#include <filesystem>

#include "app/commands/instrument_init.h"
#include "app/commands/window_view.h"
#include "app/output/office_window.h"
#include "app/output/output_files.h"
#include "app/ui/picture_box.h"
#include "app/ui/ui_services.h"
#include "bus/identification.h"
#include "trace/acquisition.h"
#include "trace/plot/trace_plot.h"
#include "trace/touchstone.h"
#include "trace/trace_recipe.h"

namespace benchcap::app {

namespace {

// The normal pointer comes back on every way out of the command.
class BusyPointer {
  public:
    explicit BusyPointer(WindowView& form) : form_(form) {
        form_.setBusy(true, WindowView::Events::Wait);
    }
    ~BusyPointer() { form_.setBusy(false, WindowView::Events::Wait); }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;

  private:
    WindowView& form_;
};

}  // namespace

char localeDecimalSeparator() {
    const QString point = QLocale::system().decimalPoint();
    if (point.size() == 1 && point.at(0).unicode() < 0x80)
        return static_cast<char>(point.at(0).unicode());
    return '.';  // a separator that is not one 8-bit character cannot go into the text
}

TraceWindowCommand::TraceWindowCommand(WindowView& form, InstrumentSession& instrument,
                                       OfficeBridge& office, char decimalSeparator)
    : form_(form), instrument_(instrument), office_(office), decimalSeparator_(decimalSeparator) {}

TraceWindowCommand::~TraceWindowCommand() = default;

QString TraceWindowCommand::saveFilter() {
    return QStringLiteral("TXT file|*.TXT|Touchstone file|*.s1p|all files|*.*");
}

Status TraceWindowCommand::run(int n) {
    BusCommands::Claim claim = form_.claimBus();
    if (!claim)
        return refuseBusyBus();
    return readAndShow(n, claim);
}

Status TraceWindowCommand::readAndShow(int n, BusCommands::Claim& claim) {
    if (!form_.services().ui.boxes)
        return fail("the window has no message boxes to ask the user with");

    claimAreaForTrace();

    // The bus part: on the bus worker, with the window's texts and boxes handed back to it.
    // It reads into a state of its own, taken over here once it has ended: the bus thread
    // never writes what the window reads meanwhile.
    BusRead read;
    read.state.data.BitsPerSymbol = state_.data.BitsPerSymbol;
    Status refused;
    reading_ = true;
    const bool ran = claim.run([&](WindowView& window) { refused = readOnBus(window, n, read); });
    reading_ = false;
    if (!ran)
        return refuseBusyBus();
    if (!read.result)
        return refused;
    const trace::TraceCommandResult& result = *read.result;
    if (result.outcome == trace::TraceOutcome::Done) {
        state_ = std::move(read.state);
        identity_ = std::move(read.identity);
    }

    form_.pictureParts().area.setToolTip(QStringLiteral("trace-values"));
    form_.enableOutputs(WindowView::Outputs::Trace, false);

    return showOutcome(result, n);
}

Status TraceWindowCommand::readOnBus(WindowView& window, int n, BusRead& read) {
    if (Status selected = openSelectedInstrument(window, instrument_); !selected)
        return selected;
    const bus::CurrentInstrument& ci = instrument_.record();
    // The identification's answer names the instrument in a Touchstone file's head.
    read.identity = trace::CutAnswer(instrument_.session().lastReply());
    if (ci.ModelName == bus::kModelNoAnswer) {
        const QString text = QStringLiteral("No device was found on GPIB %1").arg(ci.BusAddress);
        window.showError(text);
        window.showStatus(QStringLiteral("no device found"));
        return fail(text.toStdString());
    }
    // An instrument the model table does not know is read by its trace recipe, if it has one.
    const auto status = [&window](std::string_view t) {
        if (t != "idle")  // "idle" is the window's to say once every output is done
            window.showStatus(fromLatin1(t));
    };
    if (const recipes::Recipe* row =
            recipes_ ? trace::TraceRecipeFor(*recipes_, ci, instrument_.session().lastReply())
                     : nullptr) {
        BusyPointer busy(window);
        window.enableOutputs(WindowView::Outputs::Hardcopy, false);
        read.result = trace::RunTraceRecipe(instrument_.session(), *row, n, decimalSeparator_,
                                            read.state, status);
        return {};
    }
    const QString number = QString::number(n);
    if (n < 1 || n > trace::HighestTraceNumber(ci.ModelName)) {
        const QString text = QStringLiteral("Trace ") + number +
                             QStringLiteral(" is not supported by the instrument!");
        window.showError(text);
        window.showStatus(QStringLiteral("trace not read"));
        return fail(text.toStdString());
    }

    BusyPointer busy(window);
    window.enableOutputs(WindowView::Outputs::Hardcopy, false);
    bus::UserInterface& boxes = *window.services().ui.boxes;
    if (!ci.FullSupport) {
        const std::string text = "Trace data is not supported for " + ci.ModelName;
        boxes.messageBox(bus::MessageIcon::Exclamation, "ERROR:", text, bus::MessageButtons::Ok);
        window.showStatus(QStringLiteral("trace data not supported."));
        return fail(text);
    }

    read.result = trace::RunTraceCommand(instrument_.session(), boxes, n, decimalSeparator_,
                                         read.state, status);
    return {};
}

void TraceWindowCommand::claimAreaForTrace() {
    // The area becomes the trace's: white, no hardcopy behind it, and no tag, so a resize
    // never paints the last bitmap hardcopy over the trace.
    PictureBox* bild = &form_.pictureParts().area;
    bild->setTag(QString());
    bild->setPicture(QImage());
    bild->canvas().fill(Qt::white);
    bild->update();
    // The window may outlive this command (tests rebuild them): its redraw then does nothing.
    form_.claimPictureArea(WindowView::Content::Trace, WindowView::Cover::Uncover,
                           [this, alive = std::weak_ptr<int>(alive_)] {
                               if (!alive.expired())
                                   redraw();
                           });
}

Status TraceWindowCommand::showOutcome(const trace::TraceCommandResult& result, int n) {
    const QString number = QString::number(n);
    Status outcome;
    QString endStatus = QStringLiteral("idle");
    switch (result.outcome) {
        case trace::TraceOutcome::Done:
            break;
        case trace::TraceOutcome::NotActivated:
        case trace::TraceOutcome::NumberNotSupported:
        case trace::TraceOutcome::NotSupported:
            form_.showError(fromLatin1(result.status.error()));
            outcome = result.status;
            break;
        case trace::TraceOutcome::Failed:
            // Nothing new to draw or tabulate; the previous trace is not passed off as this one.
            // A read the user stopped needs no error notice.
            if (result.status.errorKind() == ErrorKind::Interrupted) {
                endStatus = QStringLiteral("trace reading stopped");
            } else {
                form_.showError(fromLatin1(result.status.error()));
                endStatus = QStringLiteral("trace not read");
            }
            outcome = result.status;
            break;
    }
    if (result.outcome == trace::TraceOutcome::Done && state_.data.Empty()) {
        const QString text = QStringLiteral("The instrument sent no values for trace ") + number +
                             QStringLiteral(
                                 ": nothing to show or save. Check its display and "
                                 "read the trace again.");
        form_.showError(text);
        endStatus = QStringLiteral("trace not read");
        outcome = fail(text.toStdString());
    } else if (result.outcome == trace::TraceOutcome::Done) {
        form_.showStatus(QStringLiteral("drawing trace..."));
        draw();
        if (form_.options().traceAutoSheet) {
            const Status pasted = office_.PasteInExcel(state_.field);
            form_.setOfficeIndicator(WindowView::OfficeProgram::Sheet, indicatorOn(pasted));
            if (showsOnStatusLine(pasted))
                endStatus = officeStatusText(pasted);
        }
        outcome = autoOutputs(n);
        shownTrace_ = n;
        form_.enableOutputs(WindowView::Outputs::Trace, true);
    }
    form_.setBusy(false, WindowView::Events::Wait);
    form_.showStatus(endStatus);
    return outcome;
}

Status TraceWindowCommand::autoOutputs(int n) {
    Status result;
    OutputFiles& files = form_.services().files;
    const WindowOptions options = form_.options();
    if (options.traceAutoSave || files.UseManualName) {
        QString name = files.outputFileName(QStringLiteral("TXT"), n, files.UseManualName);
        // A name the user gave is overwritten as asked; automatic ones never replace an
        // earlier trace.
        if (!files.UseManualName)
            name = uniqueFileName(name);
        if (Status written = trace::WriteTraceFile(localPath(name), state_.text); !written) {
            // The trace stays on display and the other outputs still run.
            const QString text = QStringLiteral("The trace data was not saved: ") +
                                 fromMessage(endSentence(written.error())) +
                                 QStringLiteral(
                                     " Choose a folder you can write to under Setup > Path for "
                                     "auto-save files, or save with Output > Save trace data.");
            form_.showError(text);
            result = fail(text.toStdString());
        } else {
            lastOutputFile_ = name;
        }
    }
    if (options.traceAutoClip && form_.services().ui.clipboard) {
        // Without its final line end, so a paste ends on the last value; the stored text
        // stays whole for "Save trace data".
        std::string_view text = state_.text;
        if (text.size() >= 2 && text.substr(text.size() - 2) == "\r\n")
            text.remove_suffix(2);
        form_.services().ui.clipboard->setText(fromLatin1(text));
    }
    return result;
}

void TraceWindowCommand::draw() {
    PictureBox* bild = &form_.pictureParts().area;
    QImage& canvas = bild->canvasAtAreaSize();
    canvas.fill(Qt::white);
    if (state_.hasTrace && !state_.data.Empty()) {
        QPainter painter(&canvas);
        const QRect area = QRect(QPoint(0, 0), bild->size()).intersected(canvas.rect());
        trace::DrawTracePlot(painter, area, state_.data, trace::DefaultPlotStyle());
    }
    bild->update();
}

void TraceWindowCommand::redraw() {
    // The window asks only while a trace is meant to be on display.
    if (state_.hasTrace && !reading_)
        draw();
}

void TraceWindowCommand::save() {
    SaveFileDialog* dialog = form_.services().ui.saveDialog;
    if (!state_.hasTrace || !dialog)
        return;
    OutputFiles& files = form_.services().files;
    // The name an automatic save would give it is offered.
    const QString suggested =
        QFileInfo(files.outputFileName(QStringLiteral("TXT"), shownTrace_, false)).fileName();
    const QString name = askSaveName(*dialog, form_.pictureParts().area.window(), saveFilter(),
                                     files.saveFolder(), suggested);
    if (name.isEmpty())
        return;
    files.rememberSaveFolder(name);
    // A Touchstone name (.s1p, or .ts for version 2.0) saves the channel as S-parameters.
    const QString suffix = QFileInfo(name).suffix().toLower();
    const bool touchstone = suffix == QLatin1String("s1p") || suffix == QLatin1String("ts");
    Status written;
    {
        BusyPointer busy(form_);
        if (touchstone) {
            const trace::TouchstoneChannel channel{&state_.data, shownTrace_, {}};
            trace::TouchstoneOptions options;
            options.identity = identity_;
            if (suffix == QLatin1String("ts"))
                options.version = trace::TouchstoneVersion::V2_0;
            written = trace::WriteTouchstone(localPath(name), {&channel, 1}, options);
        } else {
            written = trace::WriteTraceFile(localPath(name), state_.text);
        }
    }
    if (!written && form_.services().ui.boxes) {
        // A trace the format cannot hold says what to do itself; a file that cannot be
        // written needs another folder.
        const bool refused =
            written.errorKind() == ErrorKind::Refused || written.errorKind() == ErrorKind::Usage;
        form_.services().ui.boxes->messageBox(
            bus::MessageIcon::Critical, "ERROR:",
            "The trace data was not saved: " + endSentence(written.error()) +
                (refused ? "" : " Choose a folder you can write to and save again."),
            bus::MessageButtons::Ok);
    }
}

}  // namespace benchcap::app
