#pragma once

#include <QColor>
#include <QFont>
#include <QList>
#include <QStringList>
#include <QWidget>

#include <functional>

class Dialogs;
class QPainter;
class QToolButton;

// A colour given as one Windows colour value: red in the low byte, then green, then blue.
inline QColor winColor(quint32 value)
{
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

// The windows' font: Arial at 13 pixels, whatever the screen's resolution, since the
// layout is worked out in pixels. Fontconfig gives Liberation Sans, which has Arial's
// metrics.
QFont windowFont();

// A filled shape control (rectangle or circle) with a pen and a brush colour, as
// the sensor picture, the walls and the lamps are drawn.
class Shape : public QWidget
{
    Q_OBJECT

public:
    enum Kind
    {
        Rectangle,
        Circle,
        RoundRect
    };

    explicit Shape(Kind kind, QWidget *parent = nullptr);

    Kind kind() const { return shapeKind; }
    QColor brushColor() const { return brush; }
    void setBrushColor(const QColor &c);
    QColor penColor() const { return pen; }
    void setPenColor(const QColor &c);
    int penWidth() const { return width; }
    void setPenWidth(int w);
    bool brushClear() const { return clearBrush; }
    void setBrushClear(bool on);

protected:
    void paintEvent(QPaintEvent *) override;

private:
    Kind shapeKind;
    QColor brush = Qt::white;
    QColor pen = Qt::black;
    int width = 1;
    bool clearBrush = false;
};

// A surface that its owner paints: the handler draws into whatever painter it is
// given, so a test renders the same drawing into a QImage and reads its pixels.
class PaintBox : public QWidget
{
    Q_OBJECT

public:
    explicit PaintBox(QWidget *parent = nullptr);

    std::function<void(PaintBox *box, QPainter &painter)> onPaint;

    // Renders the drawing at the box's size into an image (background white).
    QImage render();

signals:
    void mouseEntered();
    void mouseLeft();
    void mouseMoved(int x, int y);

protected:
    void paintEvent(QPaintEvent *) override;
    void enterEvent(QEnterEvent *) override;
    void leaveEvent(QEvent *) override;
    void mouseMoveEvent(QMouseEvent *) override;
};

// An up-down spinner with its own position, range and increment, bound to nothing:
// its owner turns a click into a change of the value it stands for.
class UpDown : public QWidget
{
    Q_OBJECT

public:
    enum Direction
    {
        None,
        Up,
        Down
    };

    explicit UpDown(QWidget *parent = nullptr);

    int minimum() const { return min; }
    int maximum() const { return max; }
    int position() const { return pos; }
    int increment() const { return step; }
    void setRange(int minimum, int maximum);
    void setPosition(int position); // clamped to the range
    void setIncrement(int increment) { step = increment; }

    // Asked before a click moves the position; returning false refuses the move.
    std::function<bool(int newValue, Direction direction)> onChangingEx;

    // What a click on the upper (Up) or lower (Down) arrow does.
    void click(Direction direction);

signals:
    void clicked(UpDown::Direction direction);

private:
    QToolButton *upButton;
    QToolButton *downButton;
    int min = 0;
    int max = 100;
    int pos = 0;
    int step = 1;
};

// A read-only table under a line of text, with a Close button: the flow table, the
// registers in which the sensor differs from the window.
struct TableDialogContent
{
    QString title;
    QString summary;
    QString gridName;       // object name of the table, for tests
    QString accessibleName; // what a screen reader calls the table
    QStringList headers;
    QList<QStringList> rows;
    QList<Qt::Alignment> alignments; // by column; right-aligned where none is given
    int minimumHeight = 0;
};

// Runs it modally through the dialog seam, so that a test is never held up by it.
void execTableDialog(Dialogs *dialogs, QWidget *parent, const TableDialogContent &content);
