#pragma once

// The window's office programs: the bridge lives below the window so that benchcap-cli
// pastes the same way.
#include "office/office_bridge.h"

namespace benchcap::app {

using office::NullOfficeBridge;
using office::OfficeBridge;
using office::PasteOutcome;
using office::PasteReport;

}  // namespace benchcap::app
