#include "hardcopy/hardcopy_workflow.h"

#include "bus/identification.h"
#include "hardcopy/block_transfer.h"
#include "hardcopy/generator_hardcopy.h"
#include "hardcopy/plotter_capture.h"

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

void runPlotter(HardcopyServices& s, HardcopyOutcome& outcome) {
    outcome.way = HardcopyWay::Plotter;
    outcome.file = s.fileName("HGL");
    const PlotterResult plot =
        Plotter(s.session.driver(), s.ui, s.status, PlotterOfferText(), outcome.file,
                [&session = s.session] { return session.interrupted(); });
    if (!plot.accepted)
        return;
    if (plot.capture) {
        outcome.written = true;
    } else {
        outcome.error = plot.capture.error();
    }
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
        outcome.error = text;
        return outcome;
    }
    if (model == bus::kModelNotSupported) {
        s.ui.messageBox(MessageIcon::Information, "", "device is not supported",
                        MessageButtons::Ok);
        say(s, "device is not supported");
        outcome.error = "device is not supported";
        return outcome;
    }
    if (model == bus::kModelUnknown) {
        s.ui.messageBox(MessageIcon::Information, "", UnsupportedText(), MessageButtons::Ok);
        say(s, "checking firmware...");
        runPlotter(s, outcome);
        return outcome;
    }

    say(s, "checking firmware");
    if (!bus::CheckFirmware(ci, s.hardcopyDrive, s.ui, s.decimalSeparator)) {
        outcome.error = "the firmware of the " + model + " is too old for hardcopies over the bus";
        return outcome;
    }
    if (!ci.IsReady) {
        s.ui.messageBox(MessageIcon::Critical, "ERROR:", UnsupportedText(), MessageButtons::Ok);
        outcome.error = "the instrument is not ready";
    } else if (!ci.FullSupport) {
        runPlotter(s, outcome);
    } else {
        Result<int64_t> got = fail("no hardcopy was taken");
        if (model == "GWPZ") {
            outcome.way = HardcopyWay::Generator;
            outcome.file = s.fileName("BMP");
            got = ReadGeneratorHardcopy(s.session, outcome.file, s.checkPicture);
            outcome.transferFlag = false;
        } else {
            outcome.way = HardcopyWay::Transfer;
            outcome.file = s.fileName(options.format);
            s.session.driver().ibsre(ci.BoardIndex, model.rfind("NQ", 0) == 0 ? 1 : 0);
            say(s, "taking hardcopy...");
            const std::string instrumentFile = s.hardcopyDrive + ":\\HARDCOPY." + options.format;
            StartHardcopy(s.session, instrumentFile, options.color, options.format,
                          options.suppressConfig);
            say(s, "transfering data...");
            got = TransferFile(s.session, instrumentFile, outcome.file, s.checkPicture);
            outcome.transferFlag = true;
        }
        say(s, "data transfered.");
        s.session.GoToLocal();
        if (got) {
            outcome.written = true;
        } else if (got.error() == bus::kInterruptedMessage) {
            outcome.error = got.error();  // the user stopped it: no box to acknowledge
        } else {
            outcome.error = got.error();
            s.ui.messageBox(MessageIcon::Critical, "ERROR:", kTransferErrorText,
                            MessageButtons::Ok);
        }
    }
    say(s, "ready.");
    return outcome;
}

}  // namespace benchcap::hardcopy
