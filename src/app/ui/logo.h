#pragma once

#include <QIcon>
#include <QImage>

namespace benchcap::app {

// The start logo: a stylised instrument screen with a trace and the word Benchcap.
QImage drawStartLogo();
// The window and tray icon: the same screen, small.
QIcon drawWindowIcon();
// The icon as one square picture of `size` pixels (needs no display).
QImage drawIconImage(int size);

}  // namespace benchcap::app
