#include "hardcopy/hardcopy_workflow.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "base/output_file.h"
#include "bus/identification.h"
#include "bus/model_table.h"
#include "bus/text.h"
#include "hardcopy/block_transfer.h"
#include "hardcopy/generator_hardcopy.h"
#include "hardcopy/plotter_capture.h"
#include "hardcopy/recipes/recipe_runner.h"

namespace benchcap::hardcopy {

using bus::MessageButtons;
using bus::MessageIcon;

std::string UnsupportedText() {
    return "The selected device is not supported from Benchcap\n"
           "Benchcap only supports the following devices:\n"
           "KLRx, KLVZ, KLT, NQD, NQSx, RVMx, RVFE, GWPZ: full supported\n"
           "KLD, KLG, KLN, RVHE, RVCE and others: GPIB printer slave (onle VTK devices tested)";
}

std::string PlotterOfferText() {
    return "The selectes device is unknown or does not support screencopies.\n"
           "But you can create a HPGL-file\n"
           "Please press the HARDCOPY-button at the frontpanel after pressing YES\n"
           "Please select YES to create a HPGL-File or NO to cancel.";
}

namespace {

void say(const HardcopyServices& s, const std::string& text) {
    if (s.status)
        s.status(text);
}

// Whether the local file can take the picture: its folder is there and takes new files,
// and its name fits the file system (the temporary file is named to fit, so only the final
// rename would find out). Checked before the instrument is asked for anything, so a broken
// data path costs neither a hardcopy on the instrument nor a transfer.
Status checkLocalFile(const std::string& file) {
    const std::filesystem::path target{std::string(bus::TrimBlanks(file))};
    if (Result<OutputFile> probe = OutputFile::create(target); !probe)
        return probe.failure();
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    const long limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    if (limit > 0 && target.filename().string().size() > static_cast<std::size_t>(limit)) {
        return fail("Cannot write \"" + target.string() + "\": " + std::strerror(ENAMETOOLONG) +
                    ". Choose a shorter name.");
    }
    return {};
}

// The box and status of a local file that cannot be written; the instrument was not asked.
bool localFileWritable(HardcopyServices& s, HardcopyOutcome& outcome) {
    const Status writable = checkLocalFile(outcome.file);
    if (writable)
        return true;
    const std::string text = "No hardcopy was taken. " + writable.error();
    outcome.status = fail(writable.errorKind(), text);
    s.ui.messageBox(MessageIcon::Critical, "ERROR:", text, MessageButtons::Ok);
    say(s, "no hardcopy taken");
    return false;
}

void runPlotter(HardcopyServices& s, const HardcopyOptions& options, HardcopyOutcome& outcome) {
    outcome.way = HardcopyWay::Plotter;
    outcome.file = s.fileName("HGL");
    if (!localFileWritable(s, outcome))
        return;
    const PlotterResult plot = Plotter(
        s.session.driver(), s.ui, s.status, PlotterOfferText(), outcome.file,
        [&session = s.session] { return session.interrupted(); }, options.plotter);
    if (!plot.accepted) {
        // Declined: the status line tells the outcome, not the step before the offer.
        say(s, "no hardcopy taken");
        return;
    }
    if (plot.capture) {
        outcome.written = true;
    } else {
        outcome.status = plot.capture.failure();
    }
}

// The box of a failed transfer: the fixed text, and below it the cause, so that the user
// can act on it.
void transferFailed(HardcopyServices& s, const Error& failure) {
    if (failure.kind == ErrorKind::Interrupted) {
        say(s, "transfer stopped");  // the user stopped it: no box to acknowledge
        return;
    }
    say(s, "transfer failed");
    std::string cause = endSentence(failure.message);
    if (!cause.empty())
        cause[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(cause[0])));
    s.ui.messageBox(MessageIcon::Critical, "ERROR:", std::string(kTransferErrorText) + "\n" + cause,
                    MessageButtons::Ok);
}

// The recipe for an instrument the model table does not know: the one named in the
// services, or the first matching its identification; null when there is none (or the
// named one does not exist, which `outcome` then says).
const recipes::Recipe* chosenRecipe(HardcopyServices& s, HardcopyOutcome& outcome) {
    if (!s.recipes)
        return nullptr;
    if (s.recipeName.empty())
        return s.recipes->match(s.session.lastReply());
    const recipes::Recipe* named = s.recipes->named(s.recipeName);
    if (!named) {
        const std::string text = "There is no screenshot recipe named \"" + s.recipeName +
                                 "\". List the recipes with \"benchcap-cli recipes\".";
        outcome.status = fail(ErrorKind::Usage, text);
        s.ui.messageBox(MessageIcon::Critical, "ERROR:", text, MessageButtons::Ok);
        say(s, "no hardcopy taken");
    }
    return named;
}

void runRecipe(HardcopyServices& s, const recipes::Recipe& recipe, HardcopyOutcome& outcome) {
    outcome.way = HardcopyWay::Recipe;
    outcome.file = s.fileName(recipes::pictureTypeName(recipe.screen.format));
    if (!localFileWritable(s, outcome))
        return;
    say(s, "taking hardcopy by recipe " + recipe.name + "...");
    const Result<int64_t> got =
        recipes::RunScreenRecipe(s.session, recipe, std::string(bus::TrimBlanks(outcome.file)),
                                 recipes::RunOptions{s.clock, s.checkPicture});
    s.session.GoToLocal();
    if (!got) {
        outcome.status = got.failure();
        transferFailed(s, got.failure());
        return;
    }
    say(s, "data transfered.");
    outcome.written = true;
    outcome.completed = true;
    if (s.saysReady)
        say(s, kReadyText);
}

}  // namespace

namespace {

// The screen of a fully supported instrument, by mass-memory transfer or the generator's
// read; false when the command ends here (said why already).
bool TakeScreen(HardcopyServices& s, const HardcopyOptions& options, HardcopyOutcome& outcome) {
    bus::CurrentInstrument& ci = s.session.instrument();
    const bus::ModelFamily* family = bus::familyNamed(ci.ModelName);
    Result<int64_t> got = fail("no hardcopy was taken");
    if (family && family->generatorHardcopy) {
        outcome.way = HardcopyWay::Generator;
        outcome.file = s.fileName("BMP");
        if (!localFileWritable(s, outcome)) {
            s.session.GoToLocal();
            return false;
        }
        got = ReadGeneratorHardcopy(s.session, outcome.file, s.checkPicture);
        outcome.transferFlag = false;
    } else {
        outcome.way = HardcopyWay::Transfer;
        outcome.file = s.fileName(options.format);
        if (!localFileWritable(s, outcome)) {
            s.session.GoToLocal();
            return false;
        }
        s.session.driver().ibsre(ci.BoardIndex, family && family->remoteEnableForHardcopy ? 1 : 0);
        say(s, "taking hardcopy...");
        const std::string instrumentFile = s.hardcopyDrive + ":\\HARDCOPY." + options.format;
        StartHardcopy(s.session, instrumentFile, options.color, options.format,
                      options.suppressConfig);
        say(s, "transfering data...");
        got = TransferFile(s.session, instrumentFile, outcome.file, s.checkPicture);
        outcome.transferFlag = true;
    }
    if (got) {
        say(s, "data transfered.");
        s.session.GoToLocal();
        outcome.written = true;
    } else {
        // The status line never claims a transfer or the end of a command that failed.
        s.session.GoToLocal();
        outcome.status = got.failure();
        transferFailed(s, got.failure());
        return false;
    }
    return true;
}

}  // namespace

HardcopyOutcome HardcopyByModel(HardcopyServices& s, const HardcopyOptions& options) {
    HardcopyOutcome outcome;
    bus::CurrentInstrument& ci = s.session.instrument();
    const std::string& model = ci.ModelName;

    if (model == bus::kModelNoAnswer) {
        const std::string text = "No device was found on GPIB " + std::to_string(ci.BusAddress);
        s.ui.messageBox(MessageIcon::Critical, "", text + "\n", MessageButtons::Ok);
        say(s, "no device found");
        outcome.status = fail(text);
        return outcome;
    }
    if (model == bus::kModelNotSupported) {
        s.ui.messageBox(MessageIcon::Information, "", "device is not supported",
                        MessageButtons::Ok);
        say(s, "device is not supported");
        outcome.status = fail("device is not supported");
        return outcome;
    }
    if (model == bus::kModelUnknown) {
        if (const recipes::Recipe* recipe = chosenRecipe(s, outcome)) {
            runRecipe(s, *recipe, outcome);
            return outcome;
        }
        if (!outcome.status)
            return outcome;
        s.ui.messageBox(MessageIcon::Information, "", UnsupportedText(), MessageButtons::Ok);
        say(s, "checking firmware...");
        runPlotter(s, options, outcome);
        return outcome;
    }

    say(s, "checking firmware");
    if (!bus::CheckFirmware(ci, s.hardcopyDrive, s.ui, s.decimalSeparator)) {
        outcome.status =
            fail("the firmware of the " + model + " is too old for hardcopies over the bus");
        say(s, "no hardcopy taken");
        return outcome;
    }
    if (!ci.IsReady) {
        s.ui.messageBox(MessageIcon::Critical, "ERROR:", UnsupportedText(), MessageButtons::Ok);
        outcome.status = fail("the instrument is not ready");
        say(s, "no hardcopy taken");
    } else if (!ci.FullSupport) {
        runPlotter(s, options, outcome);
        if (!outcome.status)
            return outcome;  // said why already; "ready." is for a command that went through
    } else if (!TakeScreen(s, options, outcome)) {
        return outcome;
    }
    outcome.completed = true;
    if (s.saysReady)
        say(s, kReadyText);
    return outcome;
}

}  // namespace benchcap::hardcopy
