#include "app/instrument_init.h"

#include <QAction>

#include "app/main_form.h"
#include "bus/identification.h"
#include "scanner/scan_iec.h"

namespace benchcap::app {

namespace {
constexpr char kNoAddressText[] =
    "No bus address is selected. Choose the instrument under Setup > Address (or find it with "
    "Setup > Search instruments) and try again.";
}

Status InitDevice(MainForm& form, InstrumentSession& instrument) {
    form.UpSta(QStringLiteral("No device was found on the IEEE bus"));
    const int address = form.selectedAddress();
    if (address == 0) {
        if (bus::UserInterface* boxes = form.services().boxes)
            boxes->messageBox(bus::MessageIcon::Critical, "ERROR:", kNoAddressText,
                              bus::MessageButtons::Ok);
        form.UpSta(QStringLiteral("no address selected"));
        return fail(kNoAddressText);
    }
    const int16_t board = form.scanner() ? form.scanner()->BoardID() : int16_t{0};
    bus::Session& session = instrument.session();
    session.SelectAndIdentify(board, static_cast<int16_t>(address));
    if (instrument.record().ModelName == bus::kModelNoAnswer) {
        // Silence may be the bus's, not the instrument's: an adapter that cannot be reached
        // or a board that is not there is named with its reason instead.
        std::string reason = session.busFailure();
        if (reason.empty())
            reason = session.driver().unavailableReason();
        if (!reason.empty()) {
            const std::string text =
                "The instrument bus cannot be reached: " + endSentence(reason) +
                " Check the GPIB interface and its connection, then try "
                "again.";
            if (bus::UserInterface* boxes = form.services().boxes)
                boxes->messageBox(bus::MessageIcon::Critical, "ERROR:", text,
                                  bus::MessageButtons::Ok);
            form.UpSta(QStringLiteral("bus not reachable"));
            return fail(text);
        }
    }

    const std::string& model = instrument.record().ModelName;
    const QString name =
        trimBlanks(QString::fromLatin1(model.data(), static_cast<qsizetype>(model.size())));
    QAction* item = form.Adr(address);
    const QString bare = QStringLiteral("%1").arg(address, 2, 10, QLatin1Char('0'));
    // A caption that already names a model (after a scan or an earlier command) stays.
    if (item->text() == bare) {
        item->setText(bare + QStringLiteral(": ") + name);
        form.yieldEvents();
    }
    form.setModelName(name);
    form.yieldEvents();
    return {};
}

}  // namespace benchcap::app
