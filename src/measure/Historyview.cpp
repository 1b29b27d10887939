#include "measure/Historyview.h"

#include <QCoreApplication>
#include <QHelpEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <limits>

HistoryArea::HistoryArea(QWidget *parent) : QScrollArea(parent)
{
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    horizontalScrollBar()->setSingleStep(1);
    horizontalScrollBar()->setTracking(true);
    viewport()->setMouseTracking(true);
}

void HistoryArea::setContentWidth(qint64 width)
{
    content = std::max<qint64>(width, 0);
    updateRange();
}

void HistoryArea::setStepWidth(int width)
{
    horizontalScrollBar()->setSingleStep(std::max(width, 1));
}

int HistoryArea::scrollX() const
{
    return horizontalScrollBar()->value();
}

void HistoryArea::updateRange()
{
    QScrollBar *bar = horizontalScrollBar();
    const int max =
        int(std::clamp<qint64>(content - viewport()->width(), 0, std::numeric_limits<int>::max()));
    bar->setPageStep(std::max(viewport()->width(), 1));
    if (max == bar->maximum())
        return;
    // The area answers every range change with a queued call that shows or hides the
    // scroll bar: one posted event per added entry, held until the window gets back to
    // its event loop. While the bar stays needed and its position stays in range,
    // that call has nothing to do, so the change goes by without it.
    const bool stillNeeded = max > 0 && bar->maximum() > 0;
    if (stillNeeded && bar->value() <= max) {
        const QSignalBlocker quiet(bar);
        bar->setRange(0, max);
        return;
    }
    bar->setRange(0, max);
}

void HistoryArea::paintEvent(QPaintEvent *event)
{
    QPainter p(viewport());
    if (onPaint)
        onPaint(p, event->rect());
}

bool HistoryArea::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(event);
        const QString hint = onHint ? onHint(help->pos()) : QString();
        if (hint.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            QToolTip::showText(help->globalPos(), hint, viewport());
        }
        return true;
    }
    return QScrollArea::viewportEvent(event);
}

void HistoryArea::resizeEvent(QResizeEvent *event)
{
    // QScrollArea would size the range by a content widget; there is none.
    QAbstractScrollArea::resizeEvent(event);
    updateRange();
    if (onResize)
        onResize();
}

void HistoryArea::scrollContentsBy(int, int)
{
    viewport()->update();
}

void HistoryArea::wheelEvent(QWheelEvent *event)
{
    // The area scrolls only sideways, so the ordinary wheel moves it along the
    // history as well as a sideways one does.
    QCoreApplication::sendEvent(horizontalScrollBar(), event);
}
