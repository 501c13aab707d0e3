#pragma once

// The Windows Metafile (WMF) player: plays a metafile onto any QPainter (a window,
// an image, a printer) stretched over a target rectangle.
//
// The player never trusts the file: lengths and counts are checked against the
// bytes present, unknown records are skipped, damaged records end the walk, huge
// bitmaps are refused. What was drawn before a damaged record stays drawn, and the
// problem is reported as a warning. Only a file that cannot be played at all (empty,
// no metafile header) gives an error.
//
// Text needs fonts, hence a QGuiApplication; without one, text records are skipped
// with a warning.

#include <QPainter>
#include <QRectF>
#include <QSize>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace benchcap::picture {

struct PlayOptions {
    bool antialias = true;  // smooth lines and shapes (text is always smoothed)
    // Asked between records: true stops the playing (what is drawn so far stays).
    std::function<bool()> cancelled = {};
};

struct PlayResult {
    Status status;                      // a failure says why nothing could be played
    std::vector<std::string> warnings;  // damage met on the way; the picture was drawn
    size_t records = 0;                 // records played
    // Work the picture cost, in pixel operations (see kWorkPerPixel); playing stops with a
    // warning at the limit.
    double work = 0;
    bool cancelled = false;  // stopped on request before the end
};

struct MetafileInfo {
    bool placeable = false;
    int unitsPerInch = 0;  // placeable files only
    // The picture's area in the player's reference units (placeable bounding box,
    // window of the file, or the extent of what it draws).
    QRectF frame;
    // Size at 96 dpi (placeable) or in the file's own units, at most kMaxNaturalSide
    // per side (larger pictures are scaled down, keeping their shape).
    QSize naturalSize;
};

// Largest natural size reported, per side. Screen hardcopies are about 1000 pixels
// wide and a letter page at 96 dpi is 1056; a header claiming metres of picture must not
// make a caller render tens of millions of pixels.
inline constexpr int kMaxNaturalSide = 2048;

// The work a picture may cost: this many pixel operations (a pixel filled, a pen step
// drawn, a bitmap pixel decoded) per pixel of the target, and at least as much as for a
// 1024 x 768 target. Real pictures need a few full-picture fills at most; hostile ones
// (very wide pens over long lines, thousands of full-picture fills, huge bitmaps) stop
// at the limit, so that any file renders in about a second at 1024 x 768.
inline constexpr double kWorkPerPixel = 256;

Result<MetafileInfo> inspectMetafile(std::string_view bytes);

// Plays `bytes` stretched over `target` (painter coordinates). The painter's state is
// the same afterwards.
PlayResult playMetafile(QPainter& painter, const QRectF& target, std::string_view bytes,
                        const PlayOptions& options = {});

}  // namespace benchcap::picture
