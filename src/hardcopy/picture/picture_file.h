#pragma once

// Pictures written as PNG, SVG or PDF, chosen by the output name's extension. Vector output
// stays vector: the same drawing goes to a QSvgGenerator or a QPdfWriter. Every file goes
// through OutputFile, written as the writer hands out its bytes (a PDF page by page; Qt's
// SVG writer keeps its document until the end, which the plot painter bounds), and takes
// its name only when the whole drawing succeeded: a failed or stopped drawing leaves no
// file and keeps an earlier one.

#include <QPainter>
#include <QRect>
#include <QSize>

#include <functional>
#include <optional>
#include <string>
#include <vector>

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

// Draws page `page` (0 the first) into `area`.
using PageDrawing = std::function<Status(QPainter& painter, const QRect& area, int page)>;

// The file a page of a multi-page picture goes to: a PDF keeps all pages in `fileName`;
// PNG and SVG pages after the first go beside it as NAME-2.png, NAME-3.png, ...
std::string pageFileName(const std::string& fileName, PlotFileFormat format, int page);
// The files a picture of `pages` pages is written to, in page order.
std::vector<std::string> pageFileNames(const std::string& fileName, PlotFileFormat format,
                                       int pages);

// `pages` pages of `draw`, each at `size`: one PDF of that many pages, or one PNG or SVG
// file per page (pageFileName). All files are written or none: a page that fails leaves
// every earlier file as it was. `stopRequested`, when given, is asked between pages and
// once more after the last file is complete, just before any file takes its name: a stop
// that comes while the last page is drawn or encoded still keeps the earlier files.
// Returns the files written, in page order.
Result<std::vector<std::string>> writePictureFiles(const std::string& fileName,
                                                   PlotFileFormat format, QSize size, int pages,
                                                   const PageDrawing& draw,
                                                   const std::function<bool()>& stopRequested = {});

}  // namespace benchcap::picture
