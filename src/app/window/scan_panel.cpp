#include "app/window/scan_panel.h"
#include "app/ui/qt_text.h"

#include <QMouseEvent>

#include "app/ui/twips.h"

namespace benchcap::app {
namespace {

void setBackground(QWidget* w, const QColor& colour) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, colour);
    w->setPalette(pal);
    w->setAutoFillBackground(true);
}

}  // namespace

ScanIECPanel::ScanIECPanel(scanner::ScanController& core, QWidget* parent)
    : QWidget(parent), core_(core) {
    setObjectName(QStringLiteral("ScanIEC"));
    setMouseTracking(true);
    setBackground(this, palette().color(QPalette::Window));

    rahmen_ = new QFrame(this);
    rahmen_->setObjectName(QStringLiteral("Rahmen"));
    rahmen_->setFrameStyle(QFrame::Box | QFrame::Plain);
    rahmen_->setGeometry(twipsToPixels(*this, 0, 0, kFrameWidth, kFrameHeight));
    rahmen_->setAttribute(Qt::WA_TransparentForMouseEvents);

    auto makeLine = [this](const char* name, int top) {
        auto* line = new QLabel(this);
        line->setObjectName(QString::fromLatin1(name));
        setBackground(line, QColor(192, 192, 192));
        line->setGeometry(twipsToPixels(*this, kLineLeft, top, kLineWidth, kLineHeight));
        QFont f = line->font();
        f.setPixelSize(std::max(8, line->height() - 2));
        line->setFont(f);
        // The pointer over a text line is over the panel (outside the indicators).
        line->setAttribute(Qt::WA_TransparentForMouseEvents);
        return line;
    };
    address_ = makeLine("Address", kAddressTop);
    answer_ = makeLine("Answer", kAnswerTop);

    for (int a = 1; a <= 30; ++a) {
        auto* led = new QWidget(this);
        led->setObjectName(QStringLiteral("LED_%1").arg(a));
        led->setGeometry(
            twipsToPixels(*this, kLineLeft + (a - 1) * kLedPitch, kLedTop, kLedSize, kLedSize));
        // Tracking, so that a pointer resting over an indicator reaches the hover texts:
        // without it the movements over a child are dropped before the panel sees them.
        led->setMouseTracking(true);
        led->installEventFilter(this);
        leds_[static_cast<size_t>(a)] = led;
    }
    refresh();
    // The panel always keeps the frame's size, whatever asks to resize it.
    setFixedSize(rahmen_->x() * 2 + rahmen_->width(), rahmen_->y() * 2 + rahmen_->height());
}

scanner::ScanHooks ScanIECPanel::hooks(std::function<void()> yield) {
    scanner::ScanHooks h;
    h.ledChanged = [this](int16_t address) { refreshLed(address); };
    h.textChanged = [this](scanner::TextLine line) { refreshText(line); };
    h.yield = std::move(yield);
    return h;
}

QWidget* ScanIECPanel::LED(int address) const {
    return address >= 1 && address <= 30 ? leds_[static_cast<size_t>(address)] : nullptr;
}

QColor ScanIECPanel::ledColour(int address) const {
    return LED(address)->palette().color(QPalette::Window);
}

void ScanIECPanel::refresh() {
    for (int a = 1; a <= 30; ++a)
        refreshLed(a);
    refreshText(scanner::TextLine::Address);
    refreshText(scanner::TextLine::Answer);
}

void ScanIECPanel::refreshLed(int address) {
    QWidget* led = LED(address);
    if (!led)
        return;
    const scanner::LedState& state = core_.led(static_cast<int16_t>(address));
    QColor colour;
    switch (state.colour) {
        case scanner::LedColour::None:
            colour = palette().color(QPalette::Window);
            break;
        case scanner::LedColour::Red:
            colour = QColor(255, 0, 0);
            break;
        case scanner::LedColour::Black:
            colour = QColor(0, 0, 0);
            break;
        case scanner::LedColour::Green:
            colour = QColor(0, 255, 0);
            break;
    }
    setBackground(led, colour);
    led->setToolTip(fromLatin1(state.tooltip));
}

void ScanIECPanel::refreshText(scanner::TextLine line) {
    if (line == scanner::TextLine::Address)
        address_->setText(fromLatin1(core_.addressText()));
    else
        answer_->setText(fromLatin1(core_.answerText()));
}

int ScanIECPanel::ledAt(QPoint pos) const {
    // The right-hand neighbour lies on top where two indicators overlap.
    for (int a = 30; a >= 1; --a)
        if (LED(a)->geometry().contains(pos))
            return a;
    return 0;
}

void ScanIECPanel::hoverAt(QPoint pos) {
    if (scanRunning_)
        return;
    // Through the scanner, so its text lines stay the one record of what the panel shows.
    if (const int a = ledAt(pos)) {
        core_.setText(scanner::TextLine::Address, "click to select instrument");
        core_.setText(scanner::TextLine::Answer, core_.DeviceInfo(static_cast<int16_t>(a)));
    } else {
        core_.setText(scanner::TextLine::Address, "move over LED to get more infos");
    }
}

void ScanIECPanel::clickLed(int address) {
    if (address >= 1 && address <= 30)
        emit SelectIEC(static_cast<int16_t>(address));
}

void ScanIECPanel::mouseMoveEvent(QMouseEvent* event) {
    hoverAt(event->position().toPoint());
    QWidget::mouseMoveEvent(event);
}

bool ScanIECPanel::eventFilter(QObject* watched, QEvent* event) {
    if (auto* w = qobject_cast<QWidget*>(watched); w && w->parentWidget() == this) {
        if (event->type() == QEvent::MouseMove) {
            auto* me = static_cast<QMouseEvent*>(event);
            hoverAt(w->mapToParent(me->position().toPoint()));
            return true;
        }
        if (event->type() == QEvent::MouseButtonRelease) {
            auto* me = static_cast<QMouseEvent*>(event);
            if (me->button() == Qt::LeftButton && w->rect().contains(me->position().toPoint()))
                clickLed(ledAt(w->mapToParent(me->position().toPoint())));
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace benchcap::app
