#pragma once

// PNG encoding of rendered pictures without Qt's image writer, which opens every image
// format plugin it finds before it takes its own PNG handler (a third of the time of a
// small plot's render went there) and filters and packs every image as true colour.

#include <QImage>
#include <optional>
#include <string>

namespace benchcap::picture {

// The image as PNG file bytes: a palette of at most 256 colours where the picture has no
// more (plots and instrument screens nearly always), true colour otherwise; the pixels
// read back are the image's. Nothing for formats other than RGB32 (the caller's own
// images are), which Qt's writer then takes as before.
std::optional<std::string> encodeRgb32Png(const QImage& image);

}  // namespace benchcap::picture
