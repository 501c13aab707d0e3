#include "app/commands/window_side.h"

#include "app/commands/bus_worker.h"

namespace benchcap::app {

bus::MessageResult WindowThreadBoxes::messageBox(bus::MessageIcon icon, const std::string& title,
                                                 const std::string& text,
                                                 bus::MessageButtons buttons) {
    if (!target_)
        return bus::SafeAnswer(buttons);
    return worker_.onWindowValue([&] { return target_->messageBox(icon, title, text, buttons); });
}

std::optional<std::string> WindowThreadBoxes::inputBox(const std::string& title,
                                                       const std::string& prompt,
                                                       const std::string& preset) {
    if (!target_)
        return std::nullopt;
    return worker_.onWindowValue([&] { return target_->inputBox(title, prompt, preset); });
}

WindowSideView::WindowSideView(WindowView& window, BusWorker& worker)
    : window_(window),
      worker_(worker),
      boxes_(worker, worker.onWindowValue([&] { return window.services().ui.boxes; })) {
    ui_.boxes = &boxes_;
}

WindowView::Services WindowSideView::services() {
    return {ui_, window_.services().files};
}

WindowOptions WindowSideView::options() const {
    return worker_.onWindowValue([this] { return window_.options(); });
}

BusCommands::Claim WindowSideView::claimBus() {
    // The job runs under its command's claim already.
    return BusCommands::refused();
}

void WindowSideView::setBusy(bool busy, Events then) {
    worker_.onWindow([&] { window_.setBusy(busy, then); });
}

void WindowSideView::showStatus(const QString& text) {
    worker_.onWindow([&] { window_.showStatus(text); });
}

void WindowSideView::showError(const QString& text) {
    worker_.onWindow([&] { window_.showError(text); });
}

WindowView::PictureParts WindowSideView::pictureParts() {
    // The references only: the bus part never draws, the window's part does.
    return window_.pictureParts();
}

void WindowSideView::claimPictureArea(Content what, Cover cover, std::function<void()> redraw) {
    worker_.onWindow([&] { window_.claimPictureArea(what, cover, std::move(redraw)); });
}

WindowView::Selection WindowSideView::selection() const {
    return worker_.onWindowValue([this] { return window_.selection(); });
}

void WindowSideView::showInstrument(int address, const QString& model) {
    worker_.onWindow([&] { window_.showInstrument(address, model); });
}

void WindowSideView::setOfficeIndicator(OfficeProgram program, bool on) {
    worker_.onWindow([&] { window_.setOfficeIndicator(program, on); });
}

void WindowSideView::enableOutputs(Outputs outputs, bool enabled) {
    worker_.onWindow([&] { window_.enableOutputs(outputs, enabled); });
}

}  // namespace benchcap::app
