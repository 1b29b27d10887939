// The main window's size: its designed client area and its minimum outer size.
#include "app/Windowsize.h"

#include "app/Mainform.h"

#include <QMenuBar>

#include <algorithm>

QSize MinimumWindowSize(int menuBarHeight, const QMargins &frame)
{
    const int width =
        std::max(designClientSize.width(), minimumOuterSize.width() - frame.left() - frame.right());
    const int height = std::max(designClientSize.height() + menuBarHeight,
                                minimumOuterSize.height() - frame.top() - frame.bottom());
    return QSize(width, height);
}

void TformMain::updateMinimumSize()
{
    // The frame is known only once the window system has decorated the window; until
    // then (and where there is none) the window alone makes up the outer size.
    const QRect inner = geometry();
    const QRect outer = frameGeometry();
    const QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(),
                         outer.right() - inner.right(), outer.bottom() - inner.bottom());
    const QSize minimum = MinimumWindowSize(menuBar()->sizeHint().height(), frame);
    if (minimum == minimumSize())
        return;
    setMinimumSize(minimum);
    // A window still at its start size follows the minimum down as well as up, so
    // that a frame learnt late leaves the client area at its designed size.
    if (atStartSize)
        resize(minimum);
}
