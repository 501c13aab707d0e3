#include "app/commands/instrument_init.h"

#include "app/commands/window_view.h"
#include "app/output/output_files.h"
#include "app/ui/qt_text.h"
#include "app/ui/ui_services.h"
#include "bus/identification.h"

namespace benchcap::app {

namespace {
constexpr char kNoAddressText[] =
    "No bus address is selected. Choose the instrument under Setup > Address (or find it with "
    "Setup > Search instruments) and try again.";
}

Status openSelectedInstrument(WindowView& form, InstrumentSession& instrument) {
    form.showStatus(QStringLiteral("No device was found on the IEEE bus"));
    const WindowView::Selection chosen = form.selection();
    const int address = chosen.address;
    if (address == 0) {
        if (bus::UserInterface* boxes = form.services().ui.boxes)
            boxes->messageBox(bus::MessageIcon::Critical, "ERROR:", kNoAddressText,
                              bus::MessageButtons::Ok);
        form.showStatus(QStringLiteral("no address selected"));
        return fail(kNoAddressText);
    }
    const int16_t board = chosen.board;
    bus::Session& session = instrument.session();
    session.SelectAndIdentify(board, static_cast<int16_t>(address));
    if (instrument.record().ModelName == bus::kModelNoAnswer) {
        // Silence may be the bus's, not the instrument's: an adapter that cannot be reached
        // or a board that is not there is named with its reason instead.
        const std::string reason =
            !session.opened() ? session.opened().error() : session.driver().unavailableReason();
        if (!reason.empty()) {
            const std::string text =
                "The instrument bus cannot be reached: " + endSentence(reason) +
                " Check the GPIB interface and its connection, then try "
                "again.";
            if (bus::UserInterface* boxes = form.services().ui.boxes)
                boxes->messageBox(bus::MessageIcon::Critical, "ERROR:", text,
                                  bus::MessageButtons::Ok);
            form.showStatus(QStringLiteral("bus not reachable"));
            return fail(text);
        }
    }

    const std::string& model = instrument.record().ModelName;
    const QString name =
        trimBlanks(QString::fromLatin1(model.data(), static_cast<qsizetype>(model.size())));
    form.showInstrument(address, name);
    return {};
}

}  // namespace benchcap::app
