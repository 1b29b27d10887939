#pragma once

#include <QScrollArea>

#include <functional>

// The scrolling area of the history graph. It holds no child per entry: its owner
// draws the entries in view, and the horizontal scroll range is set from the number
// of entries, so the area's cost does not grow with the history.
class HistoryArea : public QScrollArea
{
    Q_OBJECT

public:
    explicit HistoryArea(QWidget *parent = nullptr);

    // Draws the graph area's content scrolled by scrollX() into the viewport.
    std::function<void(QPainter &painter, const QRect &exposed)> onPaint;
    // The hint of whatever stands under a viewport point; empty for none.
    std::function<QString(const QPoint &at)> onHint;
    std::function<void()> onResize;

    // The width of everything the area scrolls over, in pixels, and of one step of
    // the scroll bar (its arrows, and a third of a wheel notch).
    void setContentWidth(qint64 width);
    void setStepWidth(int width);
    qint64 contentWidth() const { return content; }
    int scrollX() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    void updateRange();
    qint64 content = 0;
};
