#pragma once

// Pictures written as PNG, SVG or PDF, chosen by the output name's extension. Vector output
// stays vector: the same drawing goes to a QSvgGenerator or a QPdfWriter. The picture is
// drawn into memory first, so the file is written whole through OutputFile or not at all.

#include <QPainter>
#include <QRect>
#include <QSize>

#include <functional>
#include <optional>
#include <string>

#include "base/result.h"

namespace benchcap::picture {

enum class PlotFileFormat { Png, Svg, Pdf };

// ".png", ".svg" or ".pdf" in any case; nullopt for anything else.
std::optional<PlotFileFormat> plotFileFormatFor(const std::string& fileName);

// The size a plot is drawn at when none is given.
inline constexpr QSize kDefaultPlotSize{1024, 768};

// Draws into `area` (the whole picture) on the painter it is given.
using PictureDrawing = std::function<Status(QPainter& painter, const QRect& area)>;

// `draw` at `size` (pixels; points for a PDF page) on a white picture, written to
// `fileName`. Needs a QGuiApplication (fonts).
Status writePictureFile(const std::string& fileName, PlotFileFormat format, QSize size,
                        const PictureDrawing& draw);

}  // namespace benchcap::picture
