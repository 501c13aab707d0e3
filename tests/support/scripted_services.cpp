#include "support/scripted_services.h"

#include <QPrinter>

namespace benchcap::app::testing {

bool ScriptedPrintDialog::exec(QWidget*, QPrinter& printer, PrintOptions& options) {
    presets_.push_back(options);
    std::optional<PrintOptions> answer;  // nothing queued: cancelled
    if (!answers_.empty()) {
        answer = answers_.front();
        answers_.pop_front();
    }
    if (!answer)
        return false;
    options = *answer;
    printer.setCopyCount(options.copies);
    printer.setPageOrientation(options.orientation);
    return true;
}

}  // namespace benchcap::app::testing
