#include "app/window/recorder_setup.h"

#include <QCheckBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cmath>

#include "app/ui/twips.h"

namespace benchcap::app {

namespace {

// Layout in twips. Rows 300 apart from 300 below the frame's top; the columns of check
// box, "every", interval and "s" as the form has always placed them.
constexpr double kFrameLeft = 120;
constexpr double kFrameTop = 120;
constexpr double kFrameWidth = 2880;
constexpr double kFrameHeight = 1860;
constexpr double kRowTop = 300;
constexpr double kRowStep = 300;
constexpr double kRowHeight = 285;
constexpr double kItemLeft = 120;
constexpr double kItemWidth = 1215;
constexpr double kEveryLeft = 1380;
constexpr double kEveryWidth = 495;
constexpr double kTimeLeft = 1920;
constexpr double kTimeWidth = 495;
constexpr double kUnitLeft = 2460;
constexpr double kUnitWidth = 255;
constexpr double kButtonTop = 2100;
constexpr double kButtonWidth = 1695;
constexpr double kButtonHeight = 375;
constexpr double kFormWidth = 3120;
constexpr double kFormHeight = 2595;

const char* const kItemCaptions[RecordForm::kRows] = {"hardcopy", "trace 1", "trace 2", "trace 3",
                                                      "trace 4"};

}  // namespace

RecordForm::RecordForm(QWidget* owner) : QWidget(owner, Qt::Window) {
    setObjectName(QStringLiteral("RecordForm"));
    setWindowTitle(QStringLiteral("trace recorder setup"));
    setAttribute(Qt::WA_DeleteOnClose);
    // Child widgets inherit the font.
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    setFont(font);

    const auto place = [this](QWidget* w, double left, double top, double width, double height) {
        w->setGeometry(twipsToPixels(*this, left, top, width, height));
    };

    itemFrame_ = new QGroupBox(QStringLiteral("items to record"), this);
    itemFrame_->setObjectName(QStringLiteral("ItemFrame"));
    place(itemFrame_, kFrameLeft, kFrameTop, kFrameWidth, kFrameHeight);
    for (int i = 0; i < kRows; ++i) {
        const double top = kRowTop + i * kRowStep;
        auto* item = new QCheckBox(QString::fromLatin1(kItemCaptions[i]), itemFrame_);
        item->setObjectName(QStringLiteral("RecItem_%1").arg(i));
        place(item, kItemLeft, top, kItemWidth, kRowHeight);
        auto* every = new QLabel(QStringLiteral("every"), itemFrame_);
        every->setObjectName(QStringLiteral("Every_%1").arg(i));
        place(every, kEveryLeft, top, kEveryWidth, kRowHeight);
        auto* time = new QLineEdit(QStringLiteral("10"), itemFrame_);
        time->setObjectName(QStringLiteral("RecTime_%1").arg(i));
        time->setEnabled(false);
        place(time, kTimeLeft, top, kTimeWidth, kRowHeight);
        auto* unit = new QLabel(QStringLiteral("s"), itemFrame_);
        unit->setObjectName(QStringLiteral("Unit_%1").arg(i));
        place(unit, kUnitLeft, top, kUnitWidth, kRowHeight);
        recItem_[i] = item;
        recTime_[i] = time;
        connect(item, &QCheckBox::clicked, this, [this, i] { enableInterval(i); });
    }

    startRecorder_ = new QPushButton(QStringLiteral("start recorder"), this);
    startRecorder_->setObjectName(QStringLiteral("StartRecorder"));
    place(startRecorder_, kFrameLeft, kButtonTop, kButtonWidth, kButtonHeight);
    connect(startRecorder_, &QPushButton::clicked, this, &RecordForm::recorderButtonPressed);

    setFixedSize(twipsToPixelsX(*this, kFormWidth), twipsToPixelsY(*this, kFormHeight));
    // Closed with the owner, though it is a window of its own.
    if (owner)
        owner->installEventFilter(this);
}

QCheckBox* RecordForm::RecItem(int index) const {
    return index >= 0 && index < kRows ? recItem_[index] : nullptr;
}

QLineEdit* RecordForm::RecTime(int index) const {
    return index >= 0 && index < kRows ? recTime_[index] : nullptr;
}

void RecordForm::enableInterval(int index) {
    recTime_[index]->setEnabled(recItem_[index]->isChecked());
}

Result<std::vector<recorder::ScheduleRow>> RecordForm::choices() const {
    std::vector<recorder::ScheduleRow> rows;
    for (int i = 0; i < kRows; ++i) {
        if (!recItem_[i]->isChecked())
            continue;
        // A decimal comma is read as the point it means.
        QString text = recTime_[i]->text().trimmed();
        text.replace(QLatin1Char(','), QLatin1Char('.'));
        bool ok = false;
        const double seconds = text.toDouble(&ok);
        if (!ok || !std::isfinite(seconds) || seconds < 0.001 || seconds > 366 * 86400.0)
            return fail(std::string("The interval of ") + kItemCaptions[i] +
                        " must be a number of seconds from 0.001 up to a year, not '" +
                        recTime_[i]->text().toStdString() + "'.");
        rows.push_back({i, std::llround(seconds * 1e6)});
    }
    if (rows.empty())
        return fail(
            "Nothing is chosen to record: check the hardcopy or a trace, give its interval in "
            "seconds and start the recorder again.");
    return rows;
}

void RecordForm::setRecording(bool recording) {
    startRecorder_->setText(recording ? QStringLiteral("stop recorder")
                                      : QStringLiteral("start recorder"));
    itemFrame_->setEnabled(!recording);
}

bool RecordForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parent() && event->type() == QEvent::Close)
        close();
    return QWidget::eventFilter(watched, event);
}

}  // namespace benchcap::app
