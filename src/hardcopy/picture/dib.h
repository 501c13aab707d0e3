#pragma once

// Decoding of device-independent bitmaps (DIB: BITMAPINFOHEADER or BITMAPCOREHEADER,
// colour table, pixel rows) as the metafile bitmap records carry them.

#include <QImage>
#include <QRgb>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace benchcap::picture {

// Largest bitmap the player decodes (pixels); larger ones are refused, not allocated.
inline constexpr long long kMaxDibPixels = 64LL * 1024 * 1024;

// `bytes`: the DIB from its header on. `paletteIndices`: the colour table holds 16-bit
// indices into `palette` (DIB_PAL_COLORS) instead of RGB entries. Uncompressed 1, 4,
// 8, 16, 24 and 32 bits per pixel, BI_BITFIELDS, RLE4/RLE8 and embedded JPEG/PNG.
// The image is Format_RGB32, top row first; the error says why it was not decoded.
Result<QImage> decodeDib(std::string_view bytes, bool paletteIndices = false,
                         const std::vector<QRgb>& palette = {});

// Pixels the bitmap's header claims (width x height), without decoding it: what decoding
// it would cost. 0 when the header is unreadable or the bitmap too large to be decoded.
long long dibPixels(std::string_view bytes);

}  // namespace benchcap::picture
