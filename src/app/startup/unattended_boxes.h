#pragma once

#include <functional>
#include <string>

#include "bus/user_interface.h"

namespace benchcap::app {

// The message and input boxes of a program that may run unattended: while `unattended()`
// says so (a command line running with the window hidden or no display), a box is not
// shown but reported (title, text, whether it is an error) and answered at once with the
// answer that changes and overwrites nothing: No, Cancel, OK, or a cancelled input box.
// Otherwise the box goes to the `shown` service.
class UnattendedBoxes final : public bus::UserInterface {
  public:
    using Report =
        std::function<void(const std::string& title, const std::string& text, bool isError)>;
    UnattendedBoxes(bus::UserInterface& shown, std::function<bool()> unattended, Report report)
        : shown_(shown), unattended_(std::move(unattended)), report_(std::move(report)) {}

    bus::MessageResult messageBox(bus::MessageIcon icon, const std::string& title,
                                  const std::string& text, bus::MessageButtons buttons) override;
    std::optional<std::string> inputBox(const std::string& title, const std::string& prompt,
                                        const std::string& preset) override;

    // While `accepted` says so (/PLOT on the command line), the plotter offer is answered
    // Yes without asking, so the capture waits for the instrument's front-panel key.
    // Declined unattended, it is reported as an error: the instrument only plots.
    void setPlotterOfferAccepted(std::function<bool()> accepted) {
        plotAccepted_ = std::move(accepted);
    }

    // The answer an unattended box gets.
    static bus::MessageResult safeAnswer(bus::MessageButtons buttons);

  private:
    bool unattended() const { return unattended_ && unattended_(); }
    void report(const std::string& title, const std::string& text, bool isError) const {
        if (report_)
            report_(title, text, isError);
    }

    bus::UserInterface& shown_;
    std::function<bool()> unattended_;
    Report report_;
    std::function<bool()> plotAccepted_;
};

}  // namespace benchcap::app
