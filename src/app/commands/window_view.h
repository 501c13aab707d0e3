#pragma once

#include <QString>

#include <cstdint>
#include <functional>

#include "app/commands/bus_commands.h"
#include "app/ui/window_options.h"

namespace benchcap::app {

class OutputFiles;
class PictureBox;
class PictureHolder;
struct UiServices;

// What the instrument commands (hardcopy, trace, initialisation) see of the main window:
// the status line, the error label, the picture area, the boxes and the office indicators.
// The window implements it; tests may drive a command through a fake.
class WindowView {
  public:
    // What the picture area shows.
    enum class Content { Hardcopy, Trace };
    // The menu items that act on what is on display.
    enum class Outputs { Hardcopy, Trace };
    enum class OfficeProgram { Sheet, Document };
    // The checked bus address (0: none) and the board it is on.
    struct Selection {
        int address = 0;
        int16_t board = 0;
    };

    // The application's boxes, dialogs and clipboard, and where output files go.
    struct Services {
        const UiServices& ui;
        OutputFiles& files;
    };
    // The picture area and the hidden holder of its bitmap, redrawn stretched on resize.
    struct PictureParts {
        PictureBox& area;
        PictureHolder& bitmap;
    };
    // Whether a command taking the picture area brings it in front of the start logo and
    // the scanner panel.
    enum class Cover { Keep, Uncover };

    virtual ~WindowView() = default;

    virtual Services services() = 0;
    virtual WindowOptions options() const = 0;
    // The bus for one command; an empty claim while another command or a scan uses it.
    virtual BusCommands::Claim claimBus() = 0;
    // The busy pointer; with Events::LetIn, pending window events run right after it changed.
    enum class Events { Wait, LetIn };
    virtual void setBusy(bool busy, Events then) = 0;
    // The status line (lets events in afterwards) and the error label (empty hides it).
    virtual void showStatus(const QString& text) = 0;
    virtual void showError(const QString& text) = 0;
    virtual PictureParts pictureParts() = 0;
    // A command takes the area for `what`: the error label goes. A trace is drawn again by
    // `redraw` after each resize while it is on display and no error covers it.
    virtual void claimPictureArea(Content what, Cover cover = Cover::Keep,
                                  std::function<void()> redraw = {}) = 0;
    // The instrument: which one is chosen, and naming it at its address and in the status.
    virtual Selection selection() const = 0;
    virtual void showInstrument(int address, const QString& model) = 0;
    virtual void setOfficeIndicator(OfficeProgram program, bool on) = 0;
    virtual void enableOutputs(Outputs outputs, bool enabled) = 0;
};

}  // namespace benchcap::app
