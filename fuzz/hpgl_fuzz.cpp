// Interprets arbitrary bytes as plotter output and draws every page into a small
// image. Neither may crash, hang or allocate without bound, whatever the bytes.
#include <QImage>
#include <QPainter>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "hardcopy/hpgl/hpgl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    benchcap::hpgl::looksLikeHpgl(bytes);
    const benchcap::Result<benchcap::hpgl::Plot> plot = benchcap::hpgl::parseHpgl(bytes);
    if (!plot)
        return 0;
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    for (size_t page = 0; page < plot->pages.size() && page < 4; ++page)
        benchcap::hpgl::draw(painter, QRectF(0, 0, 64, 48), *plot, {true, static_cast<int>(page)});
    return 0;
}
