// The hardcopy commands of the main window's menus and tray.
#include "app/commands/hardcopy_command.h"
#include "app/window/main_form.h"

namespace benchcap::app {

benchcap::Status MainForm::runHardcopy() {
    if (!hardcopy_)
        return fail("the window has no instrument bus to take a hardcopy from");
    return hardcopy_->run();
}

void MainForm::takeHardcopy() {
    (void)runHardcopy();  // the command has told the user itself
}

void MainForm::printHardcopy() {
    if (hardcopy_)
        hardcopy_->print();
}

void MainForm::saveHardcopy() {
    if (hardcopy_)
        hardcopy_->save();
}

}  // namespace benchcap::app
