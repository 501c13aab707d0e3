#include "app/commands/recorder_window_command.h"

#include <QFile>
#include <QLocale>
#include <QPainter>

#include <cmath>

#include "app/commands/bus_worker.h"
#include "app/commands/instrument_init.h"
#include "app/commands/window_view.h"
#include "app/output/output_files.h"
#include "app/ui/picture_box.h"
#include "app/ui/qt_text.h"
#include "app/ui/ui_services.h"
#include "bus/clock.h"
#include "bus/identification.h"
#include "bus/model_table.h"
#include "recorder/record_files.h"
#include "trace/plot/trace_plot.h"
#include "trace/trace_command.h"
#include "trace/trace_recipe.h"

namespace benchcap::app {

namespace {

// The newest trace takes the upper part of the area, the waterfall the rest.
constexpr int kTracePercent = 40;
// The size of the waterfall pictures written at the end.
constexpr QSize kWaterfallPicture(1200, 800);

// The bus is another command's, found before the recording starts or as it would.
constexpr char kBusBusy[] =
    "Another bus command is running: wait until it has finished and start the recorder again.";

QString itemName(int trace) {
    return trace == 0 ? QStringLiteral("hardcopy") : QStringLiteral("trace %1").arg(trace);
}

}  // namespace

RecorderWindowCommand::RecorderWindowCommand(WindowView& form, InstrumentSession& instrument,
                                             bus::Clock& clock, char decimalSeparator)
    : form_(form), instrument_(instrument), clock_(clock), decimalSeparator_(decimalSeparator) {
    ticker_.setInterval(1000);
    QObject::connect(&ticker_, &QTimer::timeout, &windowSide_,
                     [this] { form_.showStatus(statusText()); });
}

RecorderWindowCommand::~RecorderWindowCommand() = default;

QString RecorderWindowCommand::statusText() const {
    std::lock_guard lock(mutex_);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          nextDue_ - std::chrono::steady_clock::now())
                          .count();
    const int64_t seconds = left > 0 ? (left + 999) / 1000 : 0;
    return QStringLiteral("recording: %1 rows, next %2 in %3 s")
        .arg(QLocale().toString(static_cast<qlonglong>(rows_)), itemName(nextTrace_))
        .arg(seconds);
}

Status RecorderWindowCommand::run(const std::vector<recorder::ScheduleRow>& rows,
                                  std::optional<int64_t> count) {
    // Refused before anything starts; the user pressed a button and hears why.
    const auto refuse = [this](const std::string& text) {
        if (bus::UserInterface* boxes = form_.services().ui.boxes)
            boxes->messageBox(bus::MessageIcon::Exclamation, "trace recorder setup", text,
                              bus::MessageButtons::Ok);
        return fail(ErrorKind::Refused, text);
    };
    if (recording_)
        return refuse("A recording is running already: stop it before starting another.");
    BusCommands::Claim claim = form_.claimBus();
    if (!claim)
        return refuse(kBusBusy);
    recorder::RecorderSettings settings;
    settings.rows = rows;
    settings.count = count;
    settings.decimalSeparator = decimalSeparator_;
    settings.hardcopyFormat =
        form_.options().hardcopyFormat == WindowOptions::HardcopyFormat::Wmf ? "WMF" : "BMP";
    {
        std::lock_guard lock(mutex_);
        waterfalls_.clear();
        newest_ = {};
        newestTrace_ = 0;
        newestHardcopy_.clear();
        rows_ = 0;
        nextTrace_ = rows.empty() ? 0 : rows.front().trace;
        nextDue_ = std::chrono::steady_clock::now();
    }
    shownHardcopyPath_.clear();
    shownHardcopy_.reset();
    folder_.clear();
    stopAsked_ = false;
    recording_ = true;
    if (showRunning_)
        showRunning_(true);

    // The area shows the recording from now on, drawn again after every resize.
    form_.claimPictureArea(WindowView::Content::Trace, WindowView::Cover::Uncover,
                           [this, alive = std::weak_ptr<int>(alive_)] {
                               if (!alive.expired())
                                   redraw();
                           });
    form_.pictureParts().area.setTag(QString());
    form_.pictureParts().area.setPicture(QImage());
    redraw();
    ticker_.start();

    std::optional<recorder::RecordingEnd> end;
    Status refused;
    const bool ran = claim.run(
        [&](WindowView& window) { refused = recordOnBus(window, claim.worker(), settings, end); });
    ticker_.stop();
    recording_ = false;
    if (showRunning_)
        showRunning_(false);
    if (!ran)
        return refuse(kBusBusy);
    if (!end)
        return refused;
    redraw();
    return finish(*end);
}

Status RecorderWindowCommand::recordOnBus(WindowView& window, BusWorker* worker,
                                          const recorder::RecorderSettings& base,
                                          std::optional<recorder::RecordingEnd>& end) {
    if (Status selected = openSelectedInstrument(window, instrument_); !selected)
        return selected;
    const bus::CurrentInstrument& ci = instrument_.record();
    const auto refuse = [&window](const QString& text) {
        window.showError(text);
        window.showStatus(QStringLiteral("recorder not started"));
        return fail(ErrorKind::Refused, text.toStdString());
    };
    if (ci.ModelName == bus::kModelNoAnswer)
        return refuse(QStringLiteral("No device was found on GPIB %1").arg(ci.BusAddress));
    // Rows that could only be refused are said before anything is recorded. An instrument of
    // another maker with a trace recipe is read by it.
    const bus::ModelFamily* family = bus::familyNamed(ci.ModelName);
    const bool byRecipe =
        recipes_ && trace::TraceRecipeFor(*recipes_, ci, instrument_.session().lastReply());
    for (const recorder::ScheduleRow& row : base.rows) {
        if (row.trace == 0 || byRecipe)
            continue;
        if (!ci.FullSupport || (family && family->traces == bus::TraceReadout::None))
            return refuse(fromLatin1("Trace data is not supported for " + ci.ModelName +
                                     ": record its hardcopy only."));
        if (row.trace > trace::HighestTraceNumber(ci.ModelName))
            return refuse(
                QStringLiteral("Trace %1 is not supported by the instrument!").arg(row.trace));
    }

    // The moment and the data path in force now, asked on the window thread, where the
    // user may change the path meanwhile.
    const auto whereAndWhen = [this] {
        const OutputFiles& files = form_.services().files;
        return std::pair(files.now(), files.DataPath);
    };
    const auto [started, dataFolder] =
        worker ? worker->onWindowValue(whereAndWhen) : whereAndWhen();
    const std::filesystem::path dataPath = localPath(dataFolder);
    Result<std::filesystem::path> made = recorder::makeRecordFolder(
        dataPath / ("RECORD-" + OutputFiles::stamp(started).toStdString()), false);
    if (!made)
        return refuse(QStringLiteral("The recording was not started: ") +
                      fromMessage(endSentence(made.error())) +
                      QStringLiteral(" Choose a folder you can write to under Setup > Path for "
                                     "auto-save files."));
    folder_ = *made;

    recorder::RecorderSettings settings = base;
    settings.folder = *made;
    settings.interfaceName = interfaceName_;
    settings.recipes = recipes_;
    // Hardcopies are named in local time, as the folder and every automatic name here.
    settings.stamp = [](int64_t unixMicros) {
        return OutputFiles::stamp(QDateTime::fromMSecsSinceEpoch(unixMicros / 1000)).toStdString();
    };
    recorder::RecorderServices services{instrument_.session(), clock_};
    services.board = window.selection().board;
    services.address = static_cast<int16_t>(ci.BusAddress);
    services.wallStartMicros = started.toMSecsSinceEpoch() * 1000;
    bus::Session& session = instrument_.session();
    // Stop, a termination signal (both through the session's check) and "stop recorder".
    services.stopRequested = [this, &session] { return stopAsked_ || session.interrupted(); };
    services.progress = [this](const recorder::RecorderProgress& p) { takeProgress(p); };
    services.checkPicture = picture::checkPictureFile;
    window.showStatus(statusText());
    end = recorder::Record(services, settings);
    return {};
}

void RecorderWindowCommand::takeProgress(const recorder::RecorderProgress& progress) {
    {
        std::lock_guard lock(mutex_);
        rows_ = progress.rows;
        nextTrace_ = progress.nextTrace;
        nextDue_ = std::chrono::steady_clock::now() +
                   std::chrono::microseconds(progress.nextDueMicros - progress.elapsedMicros);
        waterfalls_.take(progress);
        if (progress.trace) {
            newest_ = *progress.trace;
            newestTrace_ = progress.lastTrace;
        }
        if (!progress.hardcopyFile.empty())
            newestHardcopy_ = progress.hardcopyFile;
    }
    // One redraw waits at a time: at ten rows a second the window draws what is newest.
    if (redrawQueued_.exchange(true))
        return;
    windowSide_.post([this] {
        redrawQueued_ = false;
        redraw();
        form_.showStatus(statusText());
    });
}

void RecorderWindowCommand::redraw() {
    PictureBox& area = form_.pictureParts().area;
    QImage& canvas = area.canvasAtAreaSize();
    canvas.fill(Qt::white);
    const QRect whole = QRect(QPoint(0, 0), area.size()).intersected(canvas.rect());
    QPainter painter(&canvas);
    const trace::PlotStyle style = trace::DefaultPlotStyle();
    std::string hardcopy;
    {
        std::lock_guard lock(mutex_);
        if (newestTrace_ > 0) {
            const int split = whole.height() * kTracePercent / 100;
            const QRect lower(whole.left(), whole.top() + split, whole.width(),
                              whole.height() - split);
            QRect upper(whole.left(), whole.top(), whole.width(), split);
            if (const trace::Waterfall* waterfall = waterfalls_.of(newestTrace_)) {
                waterfall->draw(painter, lower, style);
                // The trace spans the waterfall's columns, so a peak stands over its trail.
                if (const QRect cells = waterfall->cellArea(lower, style); !cells.isEmpty())
                    upper = QRect(cells.left(), whole.top(), cells.width(), split);
            }
            trace::DrawTracePlot(painter, upper, newest_, style);
        } else {
            hardcopy = newestHardcopy_;
        }
    }
    if (!hardcopy.empty()) {
        // Read once per new file, on the window thread, never during the bus's schedule.
        if (hardcopy != shownHardcopyPath_) {
            shownHardcopyPath_ = hardcopy;
            shownHardcopy_.reset();
            QFile file(QString::fromStdString(hardcopy));
            if (file.open(QIODevice::ReadOnly)) {
                const QByteArray bytes = file.readAll();
                if (Result<picture::Picture> read = picture::pictureFromBytes(bytes.toStdString()))
                    shownHardcopy_ = std::move(*read);
            }
        }
        // A bitmap, metafile or plot, stretched over the area as a hardcopy is shown.
        if (shownHardcopy_)
            (void)shownHardcopy_->draw(painter, QRectF(whole));
    }
    painter.end();
    area.update();
}

Status RecorderWindowCommand::finish(const recorder::RecordingEnd& end) {
    Status pictures;
    {
        std::lock_guard lock(mutex_);
        pictures = waterfalls_.save(folder_, kWaterfallPicture, trace::DefaultPlotStyle());
    }
    const QString rows = QLocale().toString(static_cast<qlonglong>(end.rows));
    const QString where = QString::fromStdString(folder_.string());
    if (end.reason == recorder::RecordingEndReason::Failed) {
        const QString text = QStringLiteral("The recording ended after %1 rows: ").arg(rows) +
                             fromMessage(endSentence(end.status.error())) +
                             QStringLiteral(" Every row before is kept in ") + where +
                             QStringLiteral(".");
        form_.showError(text);
        form_.showStatus(QStringLiteral("recording failed"));
        return fail(end.status.errorKind(), text.toStdString());
    }
    if (!pictures) {
        form_.showError(QStringLiteral("The waterfall picture was not written: ") +
                        fromMessage(endSentence(pictures.error())) +
                        QStringLiteral(" The CSV files of the recording are complete."));
        form_.showStatus(QStringLiteral("recorded %1 rows").arg(rows));
        return pictures;
    }
    form_.showStatus(QStringLiteral("recorded %1 rows into %2").arg(rows, where));
    return {};
}

}  // namespace benchcap::app
