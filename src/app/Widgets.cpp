#include "app/Widgets.h"

#include "core/Dialogs.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QEnterEvent>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

QFont windowFont()
{
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(13);
    return font;
}

Shape::Shape(Kind kind, QWidget *parent) : QWidget(parent), shapeKind(kind)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void Shape::setBrushColor(const QColor &c)
{
    brush = c;
    update();
}

void Shape::setPenColor(const QColor &c)
{
    pen = c;
    update();
}

void Shape::setPenWidth(int w)
{
    width = w;
    update();
}

void Shape::setBrushClear(bool on)
{
    clearBrush = on;
    update();
}

void Shape::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, shapeKind != Rectangle);
    QPen outline(pen);
    outline.setWidth(width);
    p.setPen(width > 0 ? outline : QPen(Qt::NoPen));
    p.setBrush(clearBrush ? QBrush(Qt::NoBrush) : QBrush(brush));
    const int half = width / 2;
    const QRect r = rect().adjusted(half, half, -(width - half), -(width - half));
    switch (shapeKind) {
    case Rectangle:
        p.drawRect(r);
        break;
    case Circle: {
        const int d = std::min(r.width(), r.height());
        p.drawEllipse(QRect(r.x() + (r.width() - d) / 2, r.y() + (r.height() - d) / 2, d, d));
        break;
    }
    case RoundRect:
        p.drawRoundedRect(r, 3, 3);
        break;
    }
}

PaintBox::PaintBox(QWidget *parent) : QWidget(parent)
{
    setMouseTracking(true);
}

QImage PaintBox::render()
{
    QImage image(size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    if (onPaint)
        onPaint(this, p);
    return image;
}

void PaintBox::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    if (onPaint)
        onPaint(this, p);
}

void PaintBox::enterEvent(QEnterEvent *)
{
    emit mouseEntered();
}

void PaintBox::leaveEvent(QEvent *)
{
    emit mouseLeft();
}

void PaintBox::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint at = event->position().toPoint();
    emit mouseMoved(at.x(), at.y());
}

UpDown::UpDown(QWidget *parent) : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    upButton = new QToolButton(this);
    upButton->setArrowType(Qt::UpArrow);
    downButton = new QToolButton(this);
    downButton->setArrowType(Qt::DownArrow);
    for (QToolButton *b : {upButton, downButton}) {
        b->setAutoRepeat(true);
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        b->setFocusPolicy(Qt::NoFocus);
        layout->addWidget(b);
    }
    connect(upButton, &QToolButton::clicked, this, [this] { click(Up); });
    connect(downButton, &QToolButton::clicked, this, [this] { click(Down); });
}

void UpDown::setRange(int minimum, int maximum)
{
    min = minimum;
    max = std::max(minimum, maximum);
    setPosition(pos);
}

void UpDown::setPosition(int position)
{
    pos = std::clamp(position, min, max);
}

void UpDown::click(Direction direction)
{
    const int wanted = std::clamp(direction == Up ? pos + step : pos - step, min, max);
    if (onChangingEx && !onChangingEx(wanted, direction))
        return;
    pos = wanted;
    emit clicked(direction);
}

void execTableDialog(Dialogs *dialogs, QWidget *parent, const TableDialogContent &c)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(c.title);
    dialog.setFont(windowFont());
    auto *layout = new QVBoxLayout(&dialog);
    auto *about = new QLabel(c.summary, &dialog);
    about->setObjectName(c.gridName + QStringLiteral("Summary"));
    layout->addWidget(about);
    auto *grid = new QTableWidget(int(c.rows.size()), int(c.headers.size()), &dialog);
    grid->setObjectName(c.gridName);
    grid->setAccessibleName(c.accessibleName);
    grid->setHorizontalHeaderLabels(c.headers);
    grid->verticalHeader()->hide();
    grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 4);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (int r = 0; r < c.rows.size(); ++r) {
        for (int col = 0; col < c.rows[r].size() && col < c.headers.size(); ++col) {
            auto *item = new QTableWidgetItem(c.rows[r][col]);
            const Qt::Alignment align = col < c.alignments.size() ? c.alignments[col] : Qt::AlignRight;
            item->setTextAlignment(align | Qt::AlignVCenter);
            grid->setItem(r, col, item);
        }
    }
    grid->resizeColumnsToContents();
    grid->horizontalHeader()->setStretchLastSection(true);
    grid->setMinimumSize(grid->horizontalHeader()->length() + 30, c.minimumHeight);
    layout->addWidget(grid);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialogs->exec(&dialog);
}
