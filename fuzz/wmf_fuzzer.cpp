// Plays arbitrary bytes as a Windows metafile into a small image. The player must
// neither crash, hang nor allocate without bound, whatever the bytes.
#include <QImage>
#include <QPainter>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "hardcopy/picture/dib.h"
#include "hardcopy/picture/metafile_player.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    benchcap::picture::playMetafile(painter, QRectF(0, 0, 64, 48), bytes);
    painter.end();
    static_cast<void>(benchcap::picture::inspectMetafile(bytes));
    // The same bytes as a bare bitmap, for the decoder's own header checks.
    static_cast<void>(benchcap::picture::decodeDib(bytes));
    return 0;
}
