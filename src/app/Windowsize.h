#pragma once

#include <QMargins>
#include <QSize>

// The main window's layout is worked out for a client area (below the menu bar) of
// 542 x 526 pixels; the window as the window system draws it, frame included, is
// never smaller than 550 x 540.
inline constexpr QSize designClientSize(542, 526);
inline constexpr QSize minimumOuterSize(550, 540);

// The smallest size of the window's own area (menu bar and client area, without the
// window system's frame): the designed client area under a menu bar of the given
// height, enlarged where the frame is too thin to make up the minimum outer size.
QSize MinimumWindowSize(int menuBarHeight, const QMargins &frame);
