#include "app/trace_window_command.h"
#include "app/qt_text.h"

#include <QApplication>
#include <QFile>
#include <QLocale>
#include <QPainter>

#include <filesystem>

#include "app/instrument_init.h"
#include "app/main_form.h"
#include "app/office_bridge.h"
#include "app/office_window.h"
#include "scanner/scan_iec.h"
#include "trace/plot/trace_plot.h"

namespace benchcap::app {

namespace {

// The normal pointer comes back on every way out of the command.
class BusyPointer {
  public:
    explicit BusyPointer(MainForm& form) : form_(form) { form_.setCursor(Qt::WaitCursor); }
    ~BusyPointer() { form_.unsetCursor(); }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;

  private:
    MainForm& form_;
};

}  // namespace

char localeDecimalSeparator() {
    const QString point = QLocale::system().decimalPoint();
    if (point.size() == 1 && point.at(0).unicode() < 0x80)
        return static_cast<char>(point.at(0).unicode());
    return '.';  // a separator that is not one 8-bit character cannot go into the text
}

TraceWindowCommand::TraceWindowCommand(MainForm& form, InstrumentSession& instrument,
                                       OfficeBridge& office, char decimalSeparator)
    : form_(form),
      formAlive_(&form),
      instrument_(instrument),
      office_(office),
      decimalSeparator_(decimalSeparator) {
    form_.setTraceRedraw([this] { redraw(); });
}

TraceWindowCommand::~TraceWindowCommand() {
    if (formAlive_)
        form_.setTraceRedraw({});
}

QString TraceWindowCommand::saveFilter() {
    return QStringLiteral("TXT file|*.TXT|all files|*.*");
}

Status TraceWindowCommand::run(int n) {
    BusCommands::Claim claim = form_.busCommands().claim();
    if (!claim || (form_.scanner() && form_.scanner()->isScanning())) {
        // The command on the bus goes on undisturbed; this request is dropped.
        QApplication::beep();
        return fail("another bus command is running: wait until it has finished and try again");
    }
    return readAndShow(n);
}

void TraceWindowCommand::reportError(const QString& text) {
    form_.ErrorText = text;
    form_.DispError();
}

Status TraceWindowCommand::readAndShow(int n) {
    bus::UserInterface* boxes = form_.services().boxes;
    if (!boxes)
        return fail("the window has no message boxes to ask the user with");

    // The area becomes the trace's: white, no hardcopy behind it, and no tag, so a resize
    // never paints the last bitmap hardcopy over the trace.
    PictureBox* bild = form_.Bild();
    bild->setTag(QString());
    bild->setPicture(QImage());
    bild->canvas().fill(Qt::white);
    bild->update();
    bild->show();
    // Started by shortcut, tray or command line no menu has opened: the logo and the
    // scanner panel would cover the trace.
    form_.StartLogo()->hide();
    if (QWidget* panel = form_.ScanIEC())
        panel->hide();
    form_.ShowsHardcopy = false;
    form_.ErrorText.clear();
    form_.DispError();

    if (Status selected = InitDevice(form_, instrument_); !selected)
        return selected;
    const bus::CurrentInstrument& ci = instrument_.record();
    if (ci.ModelName == "TMO") {
        const QString text = QStringLiteral("No device was found on GPIB %1").arg(ci.BusAddress);
        reportError(text);
        form_.UpSta(QStringLiteral("no device found"));
        return fail(text.toStdString());
    }
    const QString number = QString::number(n);
    if (n < 1 || n > trace::HighestTraceNumber(ci.ModelName)) {
        const QString text = QStringLiteral("Trace ") + number +
                             QStringLiteral(" is not supported by the instrument!");
        reportError(text);
        return fail(text.toStdString());
    }

    BusyPointer busy(form_);
    form_.setItemEnabled("Drucken", false);
    form_.setItemEnabled("SaveHard", false);
    if (!ci.FullSupport) {
        const std::string text = "Trace data is not supported for " + ci.ModelName;
        boxes->messageBox(bus::MessageIcon::Exclamation, "ERROR:", text, bus::MessageButtons::Ok);
        form_.UpSta(QStringLiteral("trace data not supported."));
        return fail(text);
    }

    // The core reports its steps; "idle" is the window's to say once every output is done.
    const trace::TraceCommandResult result = trace::RunTraceCommand(
        instrument_.session(), *boxes, n, decimalSeparator_, state_, [this](std::string_view t) {
            if (t != "idle")
                form_.UpSta(fromLatin1(t));
        });

    bild->setToolTip(QStringLiteral("trace-values"));
    form_.setItemEnabled("SaveTrace", false);

    Status outcome;
    QString endStatus = QStringLiteral("idle");
    switch (result.outcome) {
        case trace::TraceOutcome::Done:
            break;
        case trace::TraceOutcome::NotActivated:
        case trace::TraceOutcome::NumberNotSupported:
        case trace::TraceOutcome::NotSupported:
            reportError(fromLatin1(result.message));
            outcome = fail(result.message);
            break;
        case trace::TraceOutcome::Failed:
            // Nothing new to draw or tabulate; the previous trace is not passed off as this one.
            reportError(fromLatin1(result.message));
            endStatus = QStringLiteral("trace not read");
            outcome = fail(result.message);
            break;
    }
    if (result.outcome == trace::TraceOutcome::Done && state_.data.Empty()) {
        const QString text = QStringLiteral("The instrument sent no values for trace ") + number +
                             QStringLiteral(
                                 ": nothing to show or save. Check its display and "
                                 "read the trace again.");
        reportError(text);
        endStatus = QStringLiteral("trace not read");
        outcome = fail(text.toStdString());
    } else if (result.outcome == trace::TraceOutcome::Done) {
        form_.UpSta(QStringLiteral("drawing trace..."));
        draw();
        if (form_.isItemChecked("TraceAutoExcel")) {
            const PasteReport pasted = office_.PasteInExcel(state_.field);
            form_.setExcelIndicator(pasted.indicatorOn());
            if (!pasted.statusText().empty())
                endStatus = officeStatusText(pasted);
        }
        outcome = autoOutputs(n);
        form_.setItemEnabled("SaveTrace", true);
    }
    form_.unsetCursor();
    form_.UpSta(endStatus);
    return outcome;
}

Status TraceWindowCommand::autoOutputs(int n) {
    Status result;
    OutputFiles& files = form_.outputFiles();
    if (form_.isItemChecked("TraceAutoSave") || files.UseManualName) {
        QString name = files.GetName(QStringLiteral("TXT"), n, files.UseManualName);
        // A name the user gave is overwritten as asked; automatic ones never replace an
        // earlier trace.
        if (!files.UseManualName)
            name = uniqueFileName(name);
        if (Status written = trace::WriteTraceFile(localPath(name), state_.text); !written) {
            // The trace stays on display and the other outputs still run.
            const QString text = QStringLiteral("The trace data was not saved: ") +
                                 fromLatin1(endSentence(written.error())) +
                                 QStringLiteral(
                                     " Choose a folder you can write to under Setup > Path for "
                                     "auto-save files, or save with Output > Save trace data.");
            reportError(text);
            result = fail(text.toStdString());
        } else {
            lastOutputFile_ = name;
        }
    }
    if (form_.isItemChecked("TraceAutoClip") && form_.services().clipboard) {
        // Without its final line end, so a paste ends on the last value; the stored text
        // stays whole for "Save trace data".
        std::string_view text = state_.text;
        if (text.size() >= 2 && text.substr(text.size() - 2) == "\r\n")
            text.remove_suffix(2);
        form_.services().clipboard->setText(fromLatin1(text));
    }
    return result;
}

void TraceWindowCommand::draw() {
    PictureBox* bild = form_.Bild();
    QImage& canvas = bild->canvas();
    canvas.fill(Qt::white);
    if (state_.hasTrace && !state_.data.Empty()) {
        QPainter painter(&canvas);
        const QRect area = QRect(QPoint(0, 0), bild->size()).intersected(canvas.rect());
        trace::DrawTracePlot(painter, area, state_.data, trace::DefaultPlotStyle());
    }
    bild->update();
}

void TraceWindowCommand::redraw() {
    if (!form_.ShowsHardcopy && state_.hasTrace)
        draw();
}

void TraceWindowCommand::save() {
    SaveFileDialog* dialog = form_.services().saveDialog;
    if (!state_.hasTrace || !dialog)
        return;
    OutputFiles& files = form_.outputFiles();
    const QString name = askSaveName(*dialog, &form_, saveFilter(), files.saveFolder());
    if (name.isEmpty())
        return;
    files.rememberSaveFolder(name);
    Status written;
    {
        BusyPointer busy(form_);
        written = trace::WriteTraceFile(localPath(name), state_.text);
    }
    if (!written && form_.services().boxes) {
        form_.services().boxes->messageBox(
            bus::MessageIcon::Critical, "ERROR:",
            "The trace data was not saved: " + endSentence(written.error()) +
                " Choose a folder you can write to and save again.",
            bus::MessageButtons::Ok);
    }
}

}  // namespace benchcap::app
