#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "bus/clock.h"
#include "bus/session.h"
#include "bus/user_interface.h"
#include "hardcopy/hardcopy_types.h"
#include "hardcopy/plotter_capture.h"
#include "recipes/recipe_book.h"

namespace benchcap::hardcopy {

// The two texts the hardcopy command shows, built once from their parts.
std::string UnsupportedText();
std::string PlotterOfferText();

inline constexpr char kTransferErrorText[] =
    "An error occured. Please check instrument and try again!";

// How the picture was (or would have been) obtained.
enum class HardcopyWay { None, Transfer, Generator, Plotter, Recipe };

struct HardcopyOptions {
    std::string format = "BMP";  // "BMP" or "WMF"
    bool color = true;
    bool suppressConfig = false;
    PlotterSettings plotter;  // the plotter the emulation claims to be
};

// What the hardcopy command needs from its owner: the session on the identified
// instrument, the drive letter kept between commands, the boxes, the status line and the
// local file names (by extension: "BMP", "WMF", "HGL").
struct HardcopyServices {
    bus::Session& session;
    std::string& hardcopyDrive;
    bus::UserInterface& ui;
    StatusFn status;
    std::function<std::string(std::string_view extension)> fileName;
    char decimalSeparator = '.';
    // Refuses a picture file that cannot be loaded before it replaces anything (none: every
    // complete file is taken).
    PictureCheck checkPicture = nullptr;
    // Whether a hardcopy that went through ends by saying kReadyText (the window says it
    // itself once the picture is on display).
    bool saysReady = true;
    // Screenshot recipes for instruments the model table does not know; null: none (the
    // unsupported box and the plotter offer, as without recipes).
    const recipes::RecipeBook* recipes = nullptr;
    // The recipe to use by name; empty: the first row matching the identification.
    std::string recipeName = {};
    // Pauses of a recipe's waits; null: the real clock.
    bus::Clock* clock = nullptr;
};

struct HardcopyOutcome {
    HardcopyWay way = HardcopyWay::None;
    bool written = false;       // a picture (or HPGL) file now exists under `file`
    std::string file;           // local file of this hardcopy (LastOutputFile)
    Status status;              // a failure says why nothing was written (ok when written,
                                // or when the command ended on purpose: offer declined,
                                // firmware box)
    bool transferFlag = false;  // True after a mass-memory transfer
    bool completed = false;     // went through to its end (and said kReadyText if asked)
};

// The last status text of a hardcopy that went through.
inline constexpr char kReadyText[] = "ready.";

// The hardcopy "way by model" on an instrument that InitDevice has just identified: the
// answers for silent, unsupported and unknown instruments, the firmware check, then the
// transfer, the generator read or the plotter emulation. An unknown instrument that a
// screenshot recipe matches (or the recipe named in the services) gives its picture by
// that recipe instead of the unsupported box and the plotter offer. A local file that cannot be
// written (missing folder, a file where the folder should be, a name too long) is found
// before the instrument is asked and named in the box with the reason. Failures are shown as the
// command's boxes and returned in the outcome; window matters (pointer, picture area,
// menus, the actions after a hardcopy) stay with the caller.
HardcopyOutcome HardcopyByModel(HardcopyServices& services, const HardcopyOptions& options);

}  // namespace benchcap::hardcopy
