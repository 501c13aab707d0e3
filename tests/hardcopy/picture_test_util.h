#pragma once

#include <QImage>
#include <QSize>
#include <string>

#include "hardcopy/picture/metafile_player.h"

namespace benchcap::picture::test {

// Plays `bytes` onto a white image of `size`, without antialiasing so that pixel
// colours are exact. `result` (when given) receives the play result.
QImage play(const std::string& bytes, QSize size, PlayResult* result = nullptr);

// Pixels that are not `background`.
int countNot(const QImage& image, QRgb background);
// Pixels of exactly `colour` inside `area`.
int countIn(const QImage& image, const QRect& area, QRgb colour);
// Pixels darker than mid-grey inside `area`.
int darkIn(const QImage& image, const QRect& area);
// True when the font database offers at least one family (text can be drawn).
bool haveFonts();

}  // namespace benchcap::picture::test
