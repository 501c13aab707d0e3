#pragma once

#include <functional>

#include "base/result.h"

namespace benchcap::app {

class BusWorker;
class WindowView;

// Who uses the bus right now, and where bus work runs. The window goes on handling its
// events while a command waits for an instrument, so a shortcut, the tray or a scan can
// arrive while one runs; such a second command is refused instead of running beside the
// first on the same instrument.
class BusCommands {
  public:
    // Held for the length of one command; an empty claim means the bus was busy.
    class Claim {
      public:
        Claim(Claim&& other) noexcept : owner_(other.owner_) { other.owner_ = nullptr; }
        Claim(const Claim&) = delete;
        Claim& operator=(const Claim&) = delete;
        Claim& operator=(Claim&&) = delete;
        ~Claim() {
            if (owner_)
                owner_->busy_ = false;
        }
        explicit operator bool() const { return owner_ != nullptr; }

        // Runs the bus part of the command on the bus worker and returns when it has
        // ended; the window's events run meanwhile. `job` sees the window through a view
        // whose every call is handed to the window thread. Without a worker the job runs
        // here on the window itself. False, and the job not run, for an empty claim or
        // while the worker runs another job: the caller refuses the command as it refuses
        // an empty claim.
        [[nodiscard]] bool run(const std::function<void(WindowView& window)>& job);
        // The worker the bus part runs on; nullptr when it runs here.
        BusWorker* worker() const { return owner_ ? owner_->worker_ : nullptr; }

      private:
        friend class BusCommands;
        explicit Claim(BusCommands* owner) : owner_(owner) {}
        BusCommands* owner_;
    };

    // The worker bus parts run on and the window they report to (nullptr: run in place).
    void setWorker(BusWorker* worker, WindowView* window) {
        worker_ = worker;
        window_ = window;
    }

    [[nodiscard]] Claim claim() {
        if (busy_)
            return Claim(nullptr);
        busy_ = true;
        return Claim(this);
    }
    // A claim that holds nothing: the bus is busy for a reason of the caller's.
    [[nodiscard]] static Claim refused() { return Claim(nullptr); }
    bool busy() const { return busy_; }

  private:
    bool busy_ = false;
    BusWorker* worker_ = nullptr;
    WindowView* window_ = nullptr;
};

// The answer to a command that finds the bus busy: a beep, and why; the command on the bus
// goes on undisturbed.
Status refuseBusyBus();

}  // namespace benchcap::app
