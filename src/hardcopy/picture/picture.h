#pragma once

// Hardcopy pictures: loading a screen picture file (BMP through Qt's image reader,
// WMF through our metafile player), drawing it stretched over an area (window,
// printer), rendering it to an image (clipboard) or to a PNG file.
//
// The kind of picture is told by its content, not its name: a generator's bitmap may
// arrive under a .WMF name. A file that is no picture at all (empty, all zero bytes
// after a failed transfer) gives an error result with the reason.

#include <QImage>
#include <QPainter>
#include <QRectF>
#include <QSize>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "hardcopy/picture/metafile_player.h"

namespace benchcap::picture {

// A value or the reason there is none.
template <class T>
class Result {
  public:
    Result(T value) : value_(std::move(value)) {}
    static Result failure(std::string why) {
        Result r;
        r.error_ = std::move(why);
        return r;
    }
    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    const T& value() const { return *value_; }
    T& value() { return *value_; }
    const T* operator->() const { return &*value_; }
    const std::string& error() const { return error_; }

  private:
    Result() = default;
    std::optional<T> value_;
    std::string error_;
};

enum class PictureFormat { Bitmap, Metafile };

// Largest image rendered on request, per side.
inline constexpr int kMaxRenderSide = 16384;

class Picture {
  public:
    PictureFormat format() const { return format_; }
    // Pixel size of a bitmap; for a metafile its size at 96 dpi or in its own units.
    QSize naturalSize() const { return naturalSize_; }
    const std::string& bytes() const { return *bytes_; }

    // Draws the picture stretched over `target`. Damage met in a metafile is returned
    // as warnings; the rest of the picture is drawn.
    PlayResult draw(QPainter& painter, const QRectF& target) const;

    // The picture on a white image of `size` (natural size when empty).
    Result<QImage> render(QSize size = {}) const;

  private:
    friend Result<Picture> pictureFromBytes(std::string bytes);
    PictureFormat format_ = PictureFormat::Bitmap;
    std::shared_ptr<const std::string> bytes_;
    QImage bitmap_;
    QSize naturalSize_;
};

Result<Picture> pictureFromBytes(std::string bytes);
Result<Picture> loadPicture(const std::filesystem::path& path);

Result<QImage> renderPictureBytes(std::string_view bytes, QSize size = {});
Result<QImage> renderPicture(const std::filesystem::path& path, QSize size = {});

// Renders `in` to a PNG file `out` (written under a temporary name, then renamed).
// Returns the size written.
Result<QSize> renderToPng(const std::filesystem::path& in, const std::filesystem::path& out,
                          QSize size = {});

}  // namespace benchcap::picture
