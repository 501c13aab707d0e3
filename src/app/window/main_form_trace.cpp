// The trace commands of the main window's menus and tray, and the recorder setup.
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
    if (!recordForm_)
        recordForm_ = new RecordForm(this);
    recordForm_->show();
    recordForm_->raise();
    recordForm_->activateWindow();
}

}  // namespace benchcap::app
