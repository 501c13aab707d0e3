#pragma once

#include "app/commands/window_view.h"
#include "app/ui/ui_services.h"
#include "bus/user_interface.h"

namespace benchcap::app {

class BusWorker;

// Boxes asked from the bus thread and shown on the window thread, which waits for the
// answer as the job does; on the window thread they are shown at once.
class WindowThreadBoxes final : public bus::UserInterface {
  public:
    // Without `target` every box gets the answer that changes nothing.
    WindowThreadBoxes(BusWorker& worker, bus::UserInterface* target)
        : worker_(worker), target_(target) {}
    bus::MessageResult messageBox(bus::MessageIcon icon, const std::string& title,
                                  const std::string& text, bus::MessageButtons buttons) override;
    std::optional<std::string> inputBox(const std::string& title, const std::string& prompt,
                                        const std::string& preset) override;

  private:
    BusWorker& worker_;
    bus::UserInterface* target_;
};

// The window as the bus part of a command sees it: each call is carried out on the window
// thread. Of the desktop services only the boxes are there: dialogs, printing and the
// clipboard belong to the window's part of a command.
class WindowSideView final : public WindowView {
  public:
    WindowSideView(WindowView& window, BusWorker& worker);

    Services services() override;
    WindowOptions options() const override;
    BusCommands::Claim claimBus() override;
    void setBusy(bool busy, Events then) override;
    void showStatus(const QString& text) override;
    void showError(const QString& text) override;
    PictureParts pictureParts() override;
    void claimPictureArea(Content what, Cover cover, std::function<void()> redraw) override;
    Selection selection() const override;
    void showInstrument(int address, const QString& model) override;
    void setOfficeIndicator(OfficeProgram program, bool on) override;
    void enableOutputs(Outputs outputs, bool enabled) override;

  private:
    WindowView& window_;
    BusWorker& worker_;
    WindowThreadBoxes boxes_;
    UiServices ui_;
};

}  // namespace benchcap::app
