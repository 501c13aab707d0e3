#include "app/twips.h"

#include <QPaintDevice>

#include <cmath>

namespace benchcap::app {

int twipsToPixelsX(const QPaintDevice& device, double twips) {
    return static_cast<int>(std::lround(twips * device.logicalDpiX() / kTwipsPerInch));
}

int twipsToPixelsY(const QPaintDevice& device, double twips) {
    return static_cast<int>(std::lround(twips * device.logicalDpiY() / kTwipsPerInch));
}

double pixelsToTwipsX(const QPaintDevice& device, int pixels) {
    return pixels * kTwipsPerInch / device.logicalDpiX();
}

double pixelsToTwipsY(const QPaintDevice& device, int pixels) {
    return pixels * kTwipsPerInch / device.logicalDpiY();
}

QRect twipsToPixels(const QPaintDevice& device, double left, double top, double width,
                    double height) {
    return {twipsToPixelsX(device, left), twipsToPixelsY(device, top),
            twipsToPixelsX(device, width), twipsToPixelsY(device, height)};
}

}  // namespace benchcap::app
