#include "app/commands/bus_commands.h"

#include <QApplication>

#include "app/commands/bus_worker.h"
#include "app/commands/window_side.h"

namespace benchcap::app {

bool BusCommands::Claim::run(const std::function<void(WindowView& window)>& job) {
    BusWorker* worker = this->worker();
    WindowView* window = owner_ ? owner_->window_ : nullptr;
    if (!window)
        return false;
    if (!worker) {
        job(*window);
        return true;
    }
    return worker->run([&] {
        WindowSideView windowSide(*window, *worker);
        job(windowSide);
    });
}

Status refuseBusyBus() {
    QApplication::beep();
    return fail("another bus command is running: wait until it has finished and try again");
}

}  // namespace benchcap::app
