#include "app/commands/bus_commands.h"

#include "app/commands/bus_worker.h"
#include "app/commands/window_side.h"

namespace benchcap::app {

void BusCommands::Claim::run(const std::function<void(WindowView& window)>& job) {
    BusWorker* worker = this->worker();
    WindowView* window = owner_ ? owner_->window_ : nullptr;
    if (!worker || !window) {
        if (window)
            job(*window);
        return;
    }
    worker->run([&] {
        WindowSideView windowSide(*window, *worker);
        job(windowSide);
    });
}

}  // namespace benchcap::app
