#pragma once

namespace benchcap::app {

// Who uses the bus right now. Commands yield to the event loop between their steps, so a
// shortcut, the tray or a scan can arrive while one runs; such a second command is refused
// instead of running nested inside the first on the same instrument.
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

      private:
        friend class BusCommands;
        explicit Claim(BusCommands* owner) : owner_(owner) {}
        BusCommands* owner_;
    };

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
};

}  // namespace benchcap::app
