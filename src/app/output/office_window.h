#pragma once

#include <QImage>
#include <QString>

#include <string>

#include "office/office_bridge.h"

namespace benchcap::app {

// The window's office programs: the bridge lives below the window so that benchcap-cli
// pastes the same way.
using office::indicatorOn;
using office::NullOfficeBridge;
using office::OfficeBridge;
using office::showsOnStatusLine;

// The hardcopy as the word processor receives it: the bytes of a PNG file.
std::string officePicture(const QImage& picture);

// The status line's text after a paste: empty when there is nothing to say (pasted, no
// office running, the user declined: see showsOnStatusLine).
QString officeStatusText(const Status& pasted);

}  // namespace benchcap::app
