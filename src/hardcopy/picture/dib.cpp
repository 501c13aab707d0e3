#include "hardcopy/picture/dib.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include <zlib.h>

namespace benchcap::picture {
namespace {

enum Compression : uint32_t {
    BI_RGB = 0,
    BI_RLE8 = 1,
    BI_RLE4 = 2,
    BI_BITFIELDS = 3,
    BI_JPEG = 4,
    BI_PNG = 5
};

uint32_t rd(std::string_view b, size_t at, int size) {
    uint32_t v = 0;
    for (int i = size - 1; i >= 0; --i) {
        const size_t p = at + static_cast<size_t>(i);
        v = (v << 8) | (p < b.size() ? static_cast<unsigned char>(b[p]) : 0u);
    }
    return v;
}

// Scales a masked channel to 8 bits.
int channel(uint32_t pixel, uint32_t mask) {
    if (mask == 0)
        return 0;
    const int shift = std::countr_zero(mask);
    const uint32_t max = mask >> shift;
    return static_cast<int>(((pixel & mask) >> shift) * 255u / max);
}

// Width and height from a BITMAPCOREHEADER or BITMAPINFOHEADER (height made positive).
std::pair<int64_t, int64_t> claimedSize(std::string_view b) {
    const uint32_t size = rd(b, 0, 4);
    if (size == 12 && b.size() >= 12)
        return {rd(b, 4, 2), std::abs(static_cast<int16_t>(rd(b, 6, 2)))};
    if (size >= 40 && b.size() >= 12) {
        const int64_t h = static_cast<int32_t>(rd(b, 8, 4));
        return {static_cast<int32_t>(rd(b, 4, 4)), h < 0 ? -h : h};
    }
    return {0, 0};
}

uint32_t crc32(std::string_view bytes) {
    return static_cast<uint32_t>(
        ::crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

uint32_t be32(std::string_view b, size_t at) {
    return (static_cast<uint32_t>(static_cast<unsigned char>(b[at])) << 24) |
           (static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 16) |
           (static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 8) |
           static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3]));
}

// Checks an embedded PNG's chunk structure (lengths, names, checksums, up to IEND)
// before the decoder sees it: a damaged one is refused with a reason here instead of
// the decoding library reporting on the program's stderr. Empty when sound.
std::string pngDamage(std::string_view png) {
    static constexpr std::string_view kSignature("\x89PNG\r\n\x1a\n", 8);
    if (png.substr(0, 8) != kSignature)
        return "no PNG signature";
    size_t at = 8;
    while (true) {
        if (png.size() - at < 12)
            return "truncated before its end chunk";
        const uint32_t length = be32(png, at);
        const std::string_view type = png.substr(at + 4, 4);
        for (char c : type) {
            if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
                return "invalid chunk name at byte " + std::to_string(at + 4);
        }
        if (length > png.size() - at - 12)
            return "chunk " + std::string(type) + " runs past the end";
        if (crc32(png.substr(at + 4, 4 + length)) != be32(png, at + 8 + length))
            return "checksum of chunk " + std::string(type) + " is wrong";
        if (type == "IEND")
            return {};
        at += 12 + length;
    }
}

// Run-length encoded rows (bottom-up). Pixels not reached stay colour 0.
void decodeRle(std::string_view data, int bits, const std::vector<QRgb>& table, QImage& image) {
    const int w = image.width();
    const int h = image.height();
    auto set = [&](int x, int y, uint32_t index) {
        if (x < 0 || x >= w || y < 0 || y >= h)
            return;
        const QRgb c = index < table.size() ? table[index] : qRgb(0, 0, 0);
        reinterpret_cast<QRgb*>(image.scanLine(h - 1 - y))[x] = c;
    };
    int x = 0;
    int y = 0;
    size_t i = 0;
    while (i + 1 < data.size() && y < h) {
        const unsigned count = static_cast<unsigned char>(data[i]);
        const unsigned value = static_cast<unsigned char>(data[i + 1]);
        i += 2;
        if (count > 0) {
            for (unsigned k = 0; k < count && x < w; ++k, ++x) {
                set(x, y, bits == 8 ? value : ((k & 1) ? value & 0x0F : value >> 4));
            }
        } else if (value == 0) {  // end of line
            x = 0;
            ++y;
        } else if (value == 1) {  // end of bitmap
            break;
        } else if (value == 2) {  // delta
            if (i + 1 >= data.size())
                break;
            x += static_cast<unsigned char>(data[i]);
            y += static_cast<unsigned char>(data[i + 1]);
            i += 2;
        } else {  // absolute run of `value` pixels, padded to a word
            const size_t bytes = bits == 8 ? value : (value + 1) / 2;
            for (unsigned k = 0; k < value && x < w; ++k, ++x) {
                const size_t at = i + (bits == 8 ? k : k / 2);
                if (at >= data.size())
                    break;
                const unsigned b = static_cast<unsigned char>(data[at]);
                set(x, y, bits == 8 ? b : ((k & 1) ? b & 0x0F : b >> 4));
            }
            i += (bytes + 1) & ~size_t{1};
        }
    }
}

// What the header says: BITMAPCOREHEADER (12 bytes) or BITMAPINFOHEADER and its successors.
struct DibHeader {
    uint32_t size = 0;
    int64_t width = 0;
    int64_t height = 0;  // made positive; topDown says which way the rows run
    bool topDown = false;
    int bits = 0;
    uint32_t compression = BI_RGB;
    uint32_t colorsUsed = 0;
    bool core = false;
    bool rle = false;
};

Result<DibHeader> readHeader(std::string_view b) {
    if (b.size() < 12)
        return fail("bitmap header is truncated");
    DibHeader d;
    d.size = rd(b, 0, 4);
    if (d.size == 12) {
        d.core = true;
        d.width = rd(b, 4, 2);
        d.height = static_cast<int16_t>(rd(b, 6, 2));
        d.bits = static_cast<int>(rd(b, 10, 2));
    } else if (d.size >= 40 && d.size <= 124) {
        if (b.size() < d.size)
            return fail("bitmap header is truncated");
        d.width = static_cast<int32_t>(rd(b, 4, 4));
        d.height = static_cast<int32_t>(rd(b, 8, 4));
        d.bits = static_cast<int>(rd(b, 14, 2));
        d.compression = rd(b, 16, 4);
        d.colorsUsed = rd(b, 32, 4);
    } else {
        return fail("unsupported bitmap header");
    }
    d.topDown = d.height < 0;
    d.height = d.height < 0 ? -d.height : d.height;
    if (d.width <= 0 || d.height <= 0)
        return fail("bitmap has no pixels");
    if (d.width * d.height > kMaxDibPixels)
        return fail("bitmap is too large");
    return d;
}

// The pixel data is a complete JPEG or PNG image. biSizeImage is not trusted: the decoder
// finds the image's end itself.
Result<QImage> decodeEmbedded(std::string_view data, uint32_t compression) {
    if (compression == BI_PNG) {
        if (std::string damage = pngDamage(data); !damage.empty())
            return fail("embedded PNG image is damaged (" + damage + ")");
    }
    QImage image =
        QImage::fromData(reinterpret_cast<const uchar*>(data.data()), static_cast<int>(data.size()),
                         compression == BI_PNG ? "PNG" : "JPEG");
    if (image.isNull())
        return fail("embedded JPEG or PNG image cannot be read");
    if (static_cast<int64_t>(image.width()) * image.height() > kMaxDibPixels) {
        return fail("bitmap is too large");
    }
    return image.convertToFormat(QImage::Format_RGB32);
}

// The colour masks of 16- and 32-bit pixels; moves `at` past masks stored after the header.
std::array<uint32_t, 3> readMasks(std::string_view b, const DibHeader& d, size_t& at) {
    std::array<uint32_t, 3> masks = {0x7C00, 0x03E0, 0x001F};
    if (d.bits == 32)
        masks = {0xFF0000, 0x00FF00, 0x0000FF};
    if (d.compression == BI_BITFIELDS && (d.bits == 16 || d.bits == 32)) {
        const size_t maskAt = d.size >= 52 ? 40 : d.size;
        for (int i = 0; i < 3; ++i)
            masks[static_cast<size_t>(i)] = rd(b, maskAt + 4 * static_cast<size_t>(i), 4);
        if (d.size < 52)
            at += 12;
    }
    return masks;
}

// The colour table at `at` (indexed depths always have one; others may carry an unused
// one), padded to the depth's size; moves `at` past it.
Result<std::vector<QRgb>> readColourTable(std::string_view b, const DibHeader& d,
                                          uint64_t pixelBytes, bool paletteIndices,
                                          const std::vector<QRgb>& palette, size_t& at) {
    const size_t maxEntries = d.bits <= 8 ? (size_t{1} << d.bits) : 0;
    size_t entries = d.colorsUsed != 0 ? d.colorsUsed : maxEntries;
    if (d.bits > 8 && d.colorsUsed > 256)
        entries = 0;
    const size_t entrySize = paletteIndices ? 2 : (d.core ? 3 : 4);
    if (!d.rle && d.bits <= 8 && d.colorsUsed == 0 &&
        at + entries * entrySize + pixelBytes > b.size() && at + pixelBytes <= b.size()) {
        // Writers that store fewer colours than the depth allows but leave biClrUsed 0:
        // the pixel rows end the bitmap, so the table is what lies before them.
        entries = (b.size() - at - pixelBytes) / entrySize;
    }
    if (entries > 4096 || at + entries * entrySize > b.size()) {
        return fail("bitmap colour table is truncated");
    }
    std::vector<QRgb> table;
    if (d.bits <= 8) {
        table.reserve(maxEntries);
        for (size_t i = 0; i < std::min(entries, maxEntries); ++i) {
            const size_t e = at + i * entrySize;
            if (paletteIndices) {
                const uint32_t index = rd(b, e, 2);
                table.push_back(index < palette.size()
                                    ? palette[index]
                                    : qRgb(index & 0xFF, index & 0xFF, index & 0xFF));
            } else {
                table.push_back(qRgb(static_cast<int>(rd(b, e + 2, 1)),
                                     static_cast<int>(rd(b, e + 1, 1)),
                                     static_cast<int>(rd(b, e, 1))));
            }
        }
        while (table.size() < maxEntries)
            table.push_back(qRgb(0, 0, 0));
    }
    at += entries * entrySize;
    return table;
}

// One uncompressed row of `w` pixels.
void decodeRow(const unsigned char* src, QRgb* dst, int w, int bits, const std::vector<QRgb>& table,
               const std::array<uint32_t, 3>& masks) {
    switch (bits) {
        case 1:
            for (int x = 0; x < w; ++x)
                dst[x] = table[(src[x >> 3] >> (7 - (x & 7))) & 1];
            break;
        case 4:
            for (int x = 0; x < w; ++x)
                dst[x] = table[(src[x >> 1] >> ((x & 1) ? 0 : 4)) & 15];
            break;
        case 8:
            for (int x = 0; x < w; ++x)
                dst[x] = table[src[x]];
            break;
        case 16:
            for (int x = 0; x < w; ++x) {
                const uint32_t p = src[2 * x] | (src[2 * x + 1] << 8);
                dst[x] = qRgb(channel(p, masks[0]), channel(p, masks[1]), channel(p, masks[2]));
            }
            break;
        case 24:
            for (int x = 0; x < w; ++x) {
                dst[x] = qRgb(src[3 * x + 2], src[3 * x + 1], src[3 * x]);
            }
            break;
        case 32:
            for (int x = 0; x < w; ++x) {
                const uint32_t p = src[4 * x] | (src[4 * x + 1] << 8) | (src[4 * x + 2] << 16) |
                                   (static_cast<uint32_t>(src[4 * x + 3]) << 24);
                dst[x] = qRgb(channel(p, masks[0]), channel(p, masks[1]), channel(p, masks[2]));
            }
            break;
    }
}

}  // namespace

Result<QImage> decodeDib(std::string_view b, bool paletteIndices,
                         const std::vector<QRgb>& palette) {
    Result<DibHeader> header = readHeader(b);
    if (!header)
        return fail(header.error());
    DibHeader& d = header.value();
    if (d.compression == BI_JPEG || d.compression == BI_PNG)
        return decodeEmbedded(b.substr(d.size), d.compression);
    if (d.bits != 1 && d.bits != 4 && d.bits != 8 && d.bits != 16 && d.bits != 24 && d.bits != 32) {
        return fail("unsupported bitmap depth of " + std::to_string(d.bits) + " bits per pixel");
    }
    d.rle = (d.compression == BI_RLE8 && d.bits == 8) || (d.compression == BI_RLE4 && d.bits == 4);
    if (d.compression != BI_RGB && d.compression != BI_BITFIELDS && !d.rle) {
        return fail("unsupported bitmap compression");
    }

    size_t at = d.size;
    const std::array<uint32_t, 3> masks = readMasks(b, d, at);
    const uint64_t stride =
        ((static_cast<uint64_t>(d.width) * static_cast<uint64_t>(d.bits) + 31) / 32) * 4;
    const uint64_t pixelBytes = stride * static_cast<uint64_t>(d.height);
    Result<std::vector<QRgb>> colours =
        readColourTable(b, d, pixelBytes, paletteIndices, palette, at);
    if (!colours)
        return fail(colours.error());
    const std::vector<QRgb>& table = colours.value();
    const std::string_view data = b.substr(std::min(at, b.size()));

    QImage image(static_cast<int>(d.width), static_cast<int>(d.height), QImage::Format_RGB32);
    if (image.isNull())
        return fail("not enough memory for the bitmap");
    const int w = image.width();
    const int h = image.height();
    if (d.rle) {
        if (d.topDown)
            return fail("top-down bitmaps cannot be run-length encoded");
        image.fill(table.empty() ? qRgb(0, 0, 0) : table[0]);
        decodeRle(data, d.bits, table, image);
        return image;
    }

    if (pixelBytes > data.size())
        return fail("bitmap data is truncated");
    for (int row = 0; row < h; ++row) {
        decodeRow(reinterpret_cast<const unsigned char*>(data.data()) + stride * row,
                  reinterpret_cast<QRgb*>(image.scanLine(d.topDown ? row : h - 1 - row)), w, d.bits,
                  table, masks);
    }
    return image;
}

long long dibPixels(std::string_view bytes) {
    // Bitmaps over kMaxDibPixels are refused from their header alone: no work.
    const auto [w, h] = claimedSize(bytes);
    return w > 0 && h > 0 && w * h <= kMaxDibPixels ? static_cast<long long>(w * h) : 0;
}

}  // namespace benchcap::picture
