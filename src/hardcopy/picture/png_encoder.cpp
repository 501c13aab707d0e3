#include "hardcopy/picture/png_encoder.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <vector>

namespace benchcap::picture {
namespace {

// Plots are mostly white paper: level 2 takes less than half of the default level's time
// (which was a fifth of a small plot's render) for files at most a fifth larger, or a few
// kilobytes more where the palette makes them small anyway.
constexpr int kDeflateLevel = 2;

// The colours of an image, up to 256, each pixel as its palette index.
class Palette {
  public:
    // False once a 257th colour is met.
    bool add(uint32_t rgb, uint8_t& index) {
        uint32_t slot = (rgb * 0x9E3779B1u) >> (32 - kBits);
        for (;;) {
            const uint32_t key = keys_[slot];
            if (key == rgb + 1) {
                index = indices_[slot];
                return true;
            }
            if (key == 0)
                break;
            slot = (slot + 1) & (kSlots - 1);
        }
        if (colours_.size() == 256)
            return false;
        keys_[slot] = rgb + 1;
        index = indices_[slot] = static_cast<uint8_t>(colours_.size());
        colours_.push_back(rgb);
        return true;
    }
    const std::vector<uint32_t>& colours() const { return colours_; }

  private:
    static constexpr int kBits = 10;
    static constexpr uint32_t kSlots = 1u << kBits;
    std::array<uint32_t, kSlots> keys_{};  // colour + 1; 0 is a free slot
    std::array<uint8_t, kSlots> indices_{};
    std::vector<uint32_t> colours_;
};

// Makes one row's bytes as libpng takes them (one palette index or one RGB triple a pixel).
using RowMaker = void (*)(const QImage& image, int y, Palette* palette, uint8_t* row);

void paletteRow(const QImage& image, int y, Palette* palette, uint8_t* row) {
    const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    uint32_t last = 0xFFFFFFFFu;
    uint8_t index = 0;
    for (int x = 0; x < image.width(); ++x) {
        const uint32_t rgb = line[x] & 0xFFFFFFu;
        if (rgb != last) {
            palette->add(rgb, index);  // present: the count met every colour
            last = rgb;
        }
        row[x] = index;
    }
}

void trueColourRow(const QImage& image, int y, Palette*, uint8_t* row) {
    const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < image.width(); ++x, row += 3) {
        row[0] = static_cast<uint8_t>(qRed(line[x]));
        row[1] = static_cast<uint8_t>(qGreen(line[x]));
        row[2] = static_cast<uint8_t>(qBlue(line[x]));
    }
}

void appendBytes(png_structp png, png_bytep data, png_size_t size) {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<char*>(data), size);
}
void noFlush(png_structp) {}

// libpng reports failures by longjmp; everything this frame owns is released by the caller,
// so nothing with a destructor lives between setjmp and the jump.
bool writePng(png_structp png, png_infop info, const QImage& image, Palette* palette,
              RowMaker makeRow, uint8_t* row, std::string* out) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_write_fn(png, out, appendBytes, noFlush);
    png_set_compression_level(png, kDeflateLevel);
    const auto width = static_cast<png_uint_32>(image.width());
    const auto height = static_cast<png_uint_32>(image.height());
    if (palette) {
        const size_t n = palette->colours().size();
        const int depth = n <= 2 ? 1 : n <= 4 ? 2 : n <= 16 ? 4 : 8;
        png_set_IHDR(png, info, width, height, depth, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_color colours[256];
        for (size_t i = 0; i < n; ++i) {
            const uint32_t c = palette->colours()[i];
            colours[i] = {static_cast<png_byte>(c >> 16), static_cast<png_byte>(c >> 8),
                          static_cast<png_byte>(c)};
        }
        png_set_PLTE(png, info, colours, static_cast<int>(n));
        // Palette indices do not predict each other.
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    } else {
        png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        // "Up": drawings repeat much of the row above, most of all blank paper; trying every
        // filter on every row costs more than it saves.
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    }
    // Qt's writer records the resolution as well; a viewer's print size stays the same.
    if (image.dotsPerMeterX() > 0 || image.dotsPerMeterY() > 0)
        png_set_pHYs(png, info, static_cast<png_uint_32>(std::max(0, image.dotsPerMeterX())),
                     static_cast<png_uint_32>(std::max(0, image.dotsPerMeterY())),
                     PNG_RESOLUTION_METER);
    png_write_info(png, info);
    if (palette)
        png_set_packing(png);  // one index a byte in, 1, 2 or 4 bits a pixel out
    for (int y = 0; y < image.height(); ++y) {
        makeRow(image, y, palette, row);
        png_write_row(png, row);
    }
    png_write_end(png, info);
    return true;
}

std::optional<std::string> encode(const QImage& image, Palette* palette) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png)
        return std::nullopt;
    png_infop info = png_create_info_struct(png);
    std::vector<uint8_t> row(3 * static_cast<size_t>(image.width()));
    std::string out;
    const bool ok = info && writePng(png, info, image, palette,
                                     palette ? paletteRow : trueColourRow, row.data(), &out);
    png_destroy_write_struct(&png, info ? &info : nullptr);
    if (!ok)
        return std::nullopt;
    return out;
}

}  // namespace

std::optional<std::string> encodeRgb32Png(const QImage& image) {
    if (image.format() != QImage::Format_RGB32 || image.isNull())
        return std::nullopt;
    Palette palette;
    const int width = image.width(), height = image.height();
    for (int y = 0; y < height; ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        uint32_t last = 0xFFFFFFFFu;
        uint8_t index = 0;
        for (int x = 0; x < width; ++x) {
            const uint32_t rgb = line[x] & 0xFFFFFFu;
            if (rgb != last) {
                if (!palette.add(rgb, index))
                    return encode(image, nullptr);
                last = rgb;
            }
        }
    }
    return encode(image, &palette);
}

}  // namespace benchcap::picture
