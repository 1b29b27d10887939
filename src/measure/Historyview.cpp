#include "measure/Historyview.h"

#include <QHelpEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QToolTip>

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

int HistoryArea::scrollX() const
{
    return horizontalScrollBar()->value();
}

void HistoryArea::updateRange()
{
    const qint64 max = std::clamp<qint64>(content - viewport()->width(), 0, std::numeric_limits<int>::max());
    horizontalScrollBar()->setRange(0, int(max));
    horizontalScrollBar()->setPageStep(std::max(viewport()->width(), 1));
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
