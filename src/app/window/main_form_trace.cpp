// The trace commands of the main window's menus and tray, and the trace recorder.
#include <QTimer>

#include "app/commands/recorder_window_command.h"
#include "app/commands/trace_window_command.h"
#include "app/window/main_form.h"
#include "app/window/recorder_setup.h"

namespace benchcap::app {

benchcap::Status MainForm::runTrace(int n) {
    if (!trace_)
        return fail("the window has no instrument bus to read a trace from");
    return trace_->run(n);
}

void MainForm::readTrace(int index) {
    (void)runTrace(index);  // the command has told the user itself
}

void MainForm::saveTrace() {
    if (trace_)
        trace_->save();
}

void MainForm::openTraceRecorder() {
    // One setup window at a time; a closed one is gone with its choices.
    if (!recordForm_) {
        auto* setup = new RecordForm(this);
        connect(setup, &RecordForm::recorderButtonPressed, this, &MainForm::recorderButtonPressed);
        // A recording outlives the setup window that started it; a new one can stop it.
        setup->setRecording(recorder_ && recorder_->recording());
        recordForm_ = setup;
    }
    recordForm_->show();
    recordForm_->raise();
    recordForm_->activateWindow();
}

void MainForm::recorderButtonPressed() {
    auto* setup = qobject_cast<RecordForm*>(recordForm_.data());
    if (!setup)
        return;
    if (recorder_ && recorder_->recording()) {
        recorder_->stop();
        return;
    }
    const auto warn = [this](const std::string& text) {
        if (services_.boxes)
            services_.boxes->messageBox(bus::MessageIcon::Exclamation, "trace recorder setup", text,
                                        bus::MessageButtons::Ok);
    };
    if (!recorder_) {
        warn("This window has no instrument bus to record from.");
        return;
    }
    Result<std::vector<recorder::ScheduleRow>> rows = setup->choices();
    if (!rows) {
        warn(rows.error());
        return;
    }
    // Started from the event loop, not from inside the button's click: the setup window may
    // close while the recording runs.
    QTimer::singleShot(0, this, [this, chosen = std::move(*rows)] {
        if (recorder_ && !shutDown_)
            (void)recorder_->run(chosen);  // the recorder has told the user itself
    });
}

}  // namespace benchcap::app
