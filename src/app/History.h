#pragma once

#include <QAbstractScrollArea>
#include <QDialog>
#include <QList>
#include <QStringList>

#include <functional>

class QLabel;
class QPainter;
class QPushButton;
class QWidget;

// ---------------------------------------------------------------- wrapped text

// The height that text needs when broken at word boundaries into lines no wider
// than width; a line break in the text always starts a new line. Laid out by Qt's
// text layout, the same that drawWrappedText draws with, so the two always agree.
int wrappedTextHeight(const QString &text, const QFont &font, int width);

// Draws text broken as wrappedTextHeight measures it, from the top of rect, each line
// aligned within rect's width (left or centred), clipped to rect.
void drawWrappedText(QPainter &painter, const QRect &rect, const QString &text, const QFont &font,
                     Qt::Alignment alignment);

// ---------------------------------------------------------------- the grid

// A grid of text cells with one fixed header row that stays in place while the
// other rows scroll vertically. Every cell is drawn by its owner's drawCell; the
// grid only places the cells and draws the lines between them.
class HistoryGrid : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit HistoryGrid(QWidget *parent = nullptr);

    int columnCount() const { return int(colWidths.size()); }
    void setColumnCount(int count);
    int rowCount() const { return int(rowHeights.size()); }
    void setRowCount(int count);

    int columnWidth(int column) const { return colWidths.at(column); }
    void setColumnWidth(int column, int width);
    int rowHeight(int row) const { return rowHeights.at(row); }
    void setRowHeight(int row, int height);

    QString cell(int column, int row) const;
    void setCell(int column, int row, const QString &text);

    int gridLineWidth() const { return 1; }
    int defaultRowHeight() const { return 24; }
    int clientWidth() const;

    // Where a cell lies in the viewport, scrolled; the header row never scrolls.
    QRect cellRect(int column, int row) const;

    // Paints the visible cells and the grid lines; the viewport paints with it, and a
    // test renders the same into an image.
    void paintCells(QPainter &painter);

    std::function<void(int column, int row, const QRect &rect, QPainter &painter)> drawCell;
    std::function<void()> resized; // after the visible area changed size

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void updateScrollRange();

    QList<int> colWidths;
    QList<int> rowHeights;
    QList<QStringList> cells; // by row
};

// ---------------------------------------------------------------- the dialog

// Every released version with its authors, date and changes.
class TformHistory : public QDialog
{
    Q_OBJECT

public:
    explicit TformHistory(QWidget *parent = nullptr);

    void FormCreate();
    void FormResize();
    void FitLastColumn();
    void gridHistoryDrawCell(int column, int row, QRect rect, QPainter &canvas);

    QLabel *Panel1;
    QWidget *Panel2;
    QPushButton *btnOk;
    HistoryGrid *gridHistory;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void placeOkButton();
    bool fitting = false;
};
