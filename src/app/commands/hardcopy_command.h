#pragma once

#include <QImage>
#include <QString>

#include <optional>

#include "app/commands/bus_commands.h"
#include "app/output/office_window.h"
#include "base/result.h"
#include "hardcopy/picture/picture.h"

namespace benchcap::bus {
class Clock;
}
namespace benchcap::recipes {
class RecipeBook;
}

namespace benchcap::app {

class InstrumentSession;
class WindowView;
class PrinterFactory;
struct WindowOptions;

// The hardcopy on display: the picture as it came from the instrument (its original bytes,
// so printing and saving work after the file was deleted), and where it came from.
struct HardcopyOnDisplay {
    picture::Picture picture;
    QString format;  // "WMF", "BMP", "HGL" (or a recipe's "PNG", ...): what the bytes are
    QString model;   // the instrument's model name, blanks removed
    QString file;    // the local file of this hardcopy
    bool fileKept = false;
    bool onClipboard = false;  // this hardcopy put the picture on the clipboard
};

// The hardcopy command of the main window ("Start" > "Hardcopy", the tray's "Hardcopy",
// SCREEN on the command line), "Save hardcopy" and "Print hardcopy". Its bus part runs on
// the bus worker while the window goes on; a bus command arriving then is refused. The application
// owns it beside the window and the instrument session.
class HardcopyCommand {
  public:
    HardcopyCommand(WindowView& form, InstrumentSession& instrument, OfficeBridge& office,
                    PrinterFactory& printers);

    // Identifies the instrument at the checked address, takes its screen by the way its
    // model needs (transfer, generator read, plotter capture), shows the picture and runs
    // the "On hardcopy event" options. Ok when a picture (or a plot) was taken;
    // otherwise why not (the user has been told already).
    Status run();
    // "Save hardcopy": the picture on display under a name the user chooses, in its own format.
    void save();
    // "Print hardcopy": the picture on display on one page with the model and file under it.
    void print();

    const std::optional<HardcopyOnDisplay>& onDisplay() const { return onDisplay_; }
    // The local file of the last hardcopy, and whether it came by mass-memory transfer.
    const QString& lastOutputFile() const { return lastOutputFile_; }
    bool cameByTransfer() const { return cameByTransfer_; }

    // "WMF file|*.WMF|all files|*.*" or "BMP file|*.BMP|all files|*.*".
    static QString saveFilter(const QString& format);

    // The screenshot recipes for instruments the model table does not know, and the clock
    // their waits run on; none: such instruments get the unsupported box and the plotter
    // offer. Both outlive the command.
    void setRecipes(const recipes::RecipeBook* book, bus::Clock* clock) {
        recipes_ = book;
        recipeClock_ = clock;
    }

  private:
    Status takeHardcopy(BusCommands::Claim& claim);
    Status showPicture(const QString& file);
    // Nothing shown, nothing to print or save: never an older picture offered as this one.
    void clearShownPicture();
    // "ready." (or the pages of a plot) once the whole command has ended.
    void showReady(const Status& result);
    // "On hardcopy event": the picture to the clipboard and from there into the document.
    void passOn(HardcopyOnDisplay& shown, bool drawnForArea, QImage natural,
                const WindowOptions& options);

    WindowView& form_;
    InstrumentSession& instrument_;
    OfficeBridge& office_;
    PrinterFactory& printers_;
    std::optional<HardcopyOnDisplay> onDisplay_;
    QString lastOutputFile_;
    bool cameByTransfer_ = false;
    const recipes::RecipeBook* recipes_ = nullptr;
    bus::Clock* recipeClock_ = nullptr;
};

}  // namespace benchcap::app
