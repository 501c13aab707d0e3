#pragma once

#include <QWidget>

#include <vector>

#include "base/result.h"
#include "recorder/schedule.h"

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;

namespace benchcap::app {

// "trace recorder setup": which outputs a recorder takes and how often, a hardcopy and
// traces 1 to 4, each with its interval in seconds, and the button that starts and stops
// the recording (the main window runs it). Not modal; it deletes itself when closed, so the
// next showing starts afresh, and it closes with the window that owns it. Closing it does
// not stop a recording.
//
// Controls carry their names: the frame "ItemFrame", check boxes "RecItem_0" ...
// "RecItem_4", interval boxes "RecTime_0" ... "RecTime_4", the button "StartRecorder".
class RecordForm : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kRows = 5;

    explicit RecordForm(QWidget* owner);

    QGroupBox* ItemFrame() const { return itemFrame_; }
    QCheckBox* RecItem(int index) const;
    QLineEdit* RecTime(int index) const;
    QPushButton* StartRecorder() const { return startRecorder_; }

    // The checked rows with their intervals, or why they cannot be recorded (none checked,
    // an interval that is not a number of seconds).
    Result<std::vector<recorder::ScheduleRow>> choices() const;
    // While a recording runs the button stops it and the rows stay as they are.
    void setRecording(bool recording);

  signals:
    // "start recorder" or "stop recorder" was pressed.
    void recorderButtonPressed();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // A row's interval can be edited exactly while the row is chosen.
    void enableInterval(int index);

    QGroupBox* itemFrame_ = nullptr;
    QCheckBox* recItem_[kRows] = {};
    QLineEdit* recTime_[kRows] = {};
    QPushButton* startRecorder_ = nullptr;
};

}  // namespace benchcap::app
