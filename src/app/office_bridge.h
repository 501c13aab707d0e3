#pragma once

#include "base/result.h"

namespace benchcap::app {

// The office programs the window hands its results to. Only programs that are already
// running are used; none is started.
class OfficeBridge {
  public:
    virtual ~OfficeBridge() = default;
    // Pastes the clipboard into the document open in the running word processor.
    virtual Status PasteInWord() = 0;
};

// No office automation on this desktop: every paste reports that the program is not
// running, so the window shows the "Word" indicator disabled.
class NullOfficeBridge final : public OfficeBridge {
  public:
    Status PasteInWord() override {
        return fail(
            "no word processor is running: start it with a document open and take the "
            "hardcopy again");
    }
};

}  // namespace benchcap::app
