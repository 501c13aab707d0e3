#include "app/ui/twips.h"

#include <QPaintDevice>

#include <algorithm>
#include <cmath>

namespace benchcap::app {
namespace {

// A stored geometry can hold any number; beyond Qt's largest widget size it means nothing.
int toPixels(double pixels) {
    constexpr double kLimit = 16777215;
    if (std::isnan(pixels))
        return 0;
    return static_cast<int>(std::lround(std::clamp(pixels, -kLimit, kLimit)));
}

}  // namespace

int twipsToPixelsX(const QPaintDevice& device, double twips) {
    return toPixels(twips * device.logicalDpiX() / kTwipsPerInch);
}

int twipsToPixelsY(const QPaintDevice& device, double twips) {
    return toPixels(twips * device.logicalDpiY() / kTwipsPerInch);
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
