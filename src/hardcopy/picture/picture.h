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
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/result.h"
#include "hardcopy/hpgl/hpgl.h"
#include "hardcopy/picture/metafile_player.h"

namespace benchcap::picture {

// Bitmaps and metafiles come from instruments' screens; plots are the HP-GL an
// instrument sent to the emulated plotter.
enum class PictureFormat { Bitmap, Metafile, Plot };

// Largest image rendered on request, per side.
inline constexpr int kMaxRenderSide = 16384;

// How Picture::draw() draws: which page of a plot, and when to stop early.
struct DrawRequest {
    int page = -1;  // plot page, 0 the first; -1 the last (what the plotter's paper shows)
    // Asked while drawing: true stops it (PlayResult::cancelled).
    std::function<bool()> cancelled = {};
};

class Picture {
  public:
    PictureFormat format() const { return format_; }
    // Pixel size of a bitmap; for a metafile its size at 96 dpi or in its own units; for a
    // plot 1024 pixels wide with the aspect of its last page.
    QSize naturalSize() const { return naturalSize_; }
    const std::string& bytes() const { return *bytes_; }
    // Pages of a plot (PG and FR start new ones); 1 for bitmaps and metafiles.
    int pageCount() const;
    // Whether drawing it may draw text, which needs fonts and so a QGuiApplication: a
    // plot with labels, a metafile with text records.
    bool drawsText() const;

    // Draws the picture (a plot: the requested page) stretched over `target`. Damage met
    // in a metafile or plot is returned as warnings; the rest of the picture is drawn.
    PlayResult draw(QPainter& painter, const QRectF& target, const DrawRequest& request = {}) const;

    // The picture on a white image of `size` (natural size when empty). Damage met in a
    // metafile goes to `warnings` when given.
    Result<QImage> render(QSize size = {}, std::vector<std::string>* warnings = nullptr,
                          const DrawRequest& request = {}) const;

  private:
    friend Result<Picture> pictureFromBytes(std::string bytes);
    PictureFormat format_ = PictureFormat::Bitmap;
    std::shared_ptr<const std::string> bytes_;
    QImage bitmap_;
    std::shared_ptr<const hpgl::Plot> plot_;
    QSize naturalSize_;
};

Result<Picture> pictureFromBytes(std::string bytes);
Result<Picture> loadPicture(const std::filesystem::path& path);

// Whether pictureFromBytes() and drawing may need fonts for these bytes, told before a
// picture is made of them (a metafile without a window is measured, text and all, when
// it is loaded): false only for plots and for metafiles without text records. A plot is
// parsed first; Picture::drawsText() tells the rest.
bool mayNeedFontsToLoad(std::string_view bytes);

// The hardcopy command's check of a received file before it replaces anything: a file no
// viewer could show (a block of zeros, a cut metafile) is refused with the reason.
Status checkPictureFile(const std::filesystem::path& path);

Result<QImage> renderPictureBytes(std::string_view bytes, QSize size = {},
                                  std::vector<std::string>* warnings = nullptr);
Result<QImage> renderPicture(const std::filesystem::path& path, QSize size = {},
                             std::vector<std::string>* warnings = nullptr);

// The image as PNG file bytes.
Result<std::string> encodePng(const QImage& image);

struct RenderedFile {
    QSize size;
    std::vector<std::string> warnings;  // damage met in the picture; it was drawn anyway
};

// Renders `in` to a PNG file `out` (through OutputFile: complete or not at all). With
// `strict`, damage in the picture is an error and nothing is written.
Result<RenderedFile> renderToPng(const std::filesystem::path& in, const std::filesystem::path& out,
                                 QSize size = {}, bool strict = false);

}  // namespace benchcap::picture
