#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

class QPaintDevice;

namespace benchcap::app {

// Window geometry in twips (1/1440 inch) at the device's real logical resolution.
inline constexpr double kTwipsPerInch = 1440.0;

int twipsToPixelsX(const QPaintDevice& device, double twips);
int twipsToPixelsY(const QPaintDevice& device, double twips);
double pixelsToTwipsX(const QPaintDevice& device, int pixels);
double pixelsToTwipsY(const QPaintDevice& device, int pixels);
QRect twipsToPixels(const QPaintDevice& device, double left, double top, double width,
                    double height);

}  // namespace benchcap::app
