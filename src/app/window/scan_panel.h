#pragma once

#include <QFrame>
#include <QLabel>
#include <QWidget>

#include <array>
#include <functional>

#include "scanner/scan_iec.h"

namespace benchcap::app {

// The scanner panel: frame `Rahmen`, the text lines `Address` and `Answer`, and the thirty
// indicators `LED_1` ... `LED_30`, placed in twips at the screen's real resolution. It
// shows the state of a scanner::ScanController and follows it through the scan hooks.
// Hovering over an indicator tells what was found there; every click raises SelectIEC.
class ScanIECPanel : public QWidget {
    Q_OBJECT
  public:
    // Panel geometry in twips.
    static constexpr int kFrameWidth = 3735;
    static constexpr int kFrameHeight = 915;
    static constexpr int kLineLeft = 60;
    static constexpr int kLineWidth = 3615;
    static constexpr int kLineHeight = 195;
    static constexpr int kAddressTop = 120;
    static constexpr int kAnswerTop = 420;
    static constexpr int kLedTop = 720;
    static constexpr int kLedPitch = 120;
    static constexpr int kLedSize = 135;

    explicit ScanIECPanel(scanner::ScanController& core, QWidget* parent = nullptr);

    // The hooks that keep the panel current during a scan; `yield` lets the window run.
    scanner::ScanHooks hooks(std::function<void()> yield);

    QFrame* Rahmen() const { return rahmen_; }
    QLabel* AddressLine() const { return address_; }
    QLabel* AnswerLine() const { return answer_; }
    QWidget* LED(int address) const;
    // The colour an indicator shows.
    QColor ledColour(int address) const;

    // Everything again from the scanner's state.
    void refresh();
    void refreshLed(int address);
    void refreshText(scanner::TextLine line);

    // Pointer over the panel at `pos` (panel coordinates): the hover texts. Nothing while a
    // scan runs: the scan writes the texts and the table on the bus thread then.
    void hoverAt(QPoint pos);
    void setScanRunning(bool running) { scanRunning_ = running; }
    // A click on the indicator of `address`.
    void clickLed(int address);

  signals:
    void SelectIEC(int16_t address);

  protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    int ledAt(QPoint pos) const;

    scanner::ScanController& core_;
    QFrame* rahmen_;
    QLabel* address_;
    QLabel* answer_;
    std::array<QWidget*, 31> leds_{};  // index 0 unused
    bool scanRunning_ = false;
};

}  // namespace benchcap::app
