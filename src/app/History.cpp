#include "app/History.h"

#include "app/About.h"
#include "app/Accessibility.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QTextLayout>
#include <QVBoxLayout>

#include <cmath>
#include <iterator>

namespace {

struct Release
{
    const char *version;
    const char *authors; // one name a line
    const char *date;
    const char *changes; // one item a line
};

// Newest first.
const Release releases[] = {
    {"1.12", "J. Hartley", "20-Oct-16",
     "Engineering terminal: five command lines, each with its own choice of logger pass-through, "
     "and a log of everything the sensor sends.\n"
     "Options dialog: the delay between command characters and the headroom added to the sensor "
     "height for the maximum measuring height.\n"
     "The search tries the last sensor connection before any other port."},
    {"1.11", "J. Hartley\nR. Osei", "14-Jun-16",
     "Firmware upgrade from the update files beside the application, with the loader's result "
     "reported.\n"
     "Sensors with firmware older than 1.05 are refused with an explanation instead of being set "
     "up wrongly."},
    {"1.10", "R. Osei", "02-Feb-16",
     "Channel descriptions saved to and loaded from files, so that one set-up serves several "
     "sites.\n"
     "The flow graph shows the flow at the head under the mouse pointer."},
    {"1.09", "R. Osei\nM. Kowalczyk", "21-Sep-15",
     "Constricted rectangular weirs, with the notch width set in millimetres or with the track "
     "bar.\n"
     "The flow table uploaded to the sensor is spaced more closely at small heads, where the "
     "curve bends most."},
    {"1.08", "M. Kowalczyk", "07-May-15",
     "Measurement history graph of the last readings, as water head or as flow.\n"
     "Continuous measurement until the box is unchecked."},
    {"1.07", "M. Kowalczyk", "16-Jan-15",
     "Data loggers at 19200 and 115200 baud are searched as well as at 9600.\n"
     "Longer reply times allowed when the sensor is reached through a logger."},
    {"1.06", "S. Brennan\nM. Kowalczyk", "30-Jul-14",
     "Lost-echo handling: repeat the last value, or report a fixed value in millimetres.\n"
     "The maximum measuring height can follow the sensor height."},
    {"1.05", "S. Brennan", "11-Mar-14",
     "V-notch weirs with any angle from 15 to 150 degrees.\n"
     "The flow-scale exponent is chosen from the largest flow, so that small channels keep their "
     "resolution."},
    {"1.04", "S. Brennan", "25-Oct-13",
     "Rectangular weirs: flow tables computed from the crest height and the channel width and "
     "sent to the sensor with the channel description.\n"
     "The channel drawing follows the dimensions as they are typed."},
    {"1.03", "P. Lindqvist\nS. Brennan", "19-Jun-13",
     "Pass-through mode: the sensor can be set up through a data logger without rewiring.\n"
     "Ports are searched in the order most likely to hold the sensor."},
    {"1.02", "P. Lindqvist", "08-Jan-13",
     "Depth measurement: the sensor height is set with the slider or the up and down buttons and "
     "written to the sensor.\n"
     "Configuration read shows the sensor's serial number and range."},
    {"1.01", "P. Lindqvist", "22-Aug-12",
     "Corrected the search stopping at the first port that could not be opened.\n"
     "Receive and transmit lamps in the status strip."},
    {"1.00", "P. Lindqvist", "03-Apr-12",
     "First release: finds the sensor on any serial port and takes single distance "
     "measurements.\n"
     "Window position and size kept between runs."},
};

constexpr int columnWidths[4] = {77, 150, 90, 500};

} // namespace

// ---------------------------------------------------------------- wrapped text

namespace {

// Lays text out in lines of the given width; a line break in the text is a forced
// break. Returns the height taken.
qreal layOut(QTextLayout &layout, const QString &text, const QFont &font, int width, Qt::Alignment alignment)
{
    QString laidOut = text;
    laidOut.replace(QLatin1Char('\n'), QChar::LineSeparator);
    layout.setText(laidOut);
    layout.setFont(font);
    QTextOption option(alignment & Qt::AlignHorizontal_Mask);
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal y = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(qMax(0, width));
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout.endLayout();
    return y;
}

} // namespace

int wrappedTextHeight(const QString &text, const QFont &font, int width)
{
    QTextLayout layout;
    return int(std::ceil(layOut(layout, text, font, width, Qt::AlignLeft)));
}

void drawWrappedText(QPainter &painter, const QRect &rect, const QString &text, const QFont &font,
                     Qt::Alignment alignment)
{
    QTextLayout layout;
    layOut(layout, text, font, rect.width(), alignment);
    painter.save();
    painter.setClipRect(rect, Qt::IntersectClip);
    layout.draw(&painter, rect.topLeft());
    painter.restore();
}

// ---------------------------------------------------------------- the grid

HistoryGrid::HistoryGrid(QWidget *parent) : QAbstractScrollArea(parent)
{
    installAccessibleInterfaces(); // its rows and cells, for a screen reader
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Always there, so that the rows' wrapping does not change the width it wraps in.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    verticalScrollBar()->setSingleStep(defaultRowHeight());
}

void HistoryGrid::setColumnCount(int count)
{
    colWidths.resize(count, 64);
    for (QStringList &row : cells)
        row.resize(count);
    viewport()->update();
}

void HistoryGrid::setRowCount(int count)
{
    rowHeights.resize(count, defaultRowHeight());
    cells.resize(count, QStringList(columnCount()));
    updateScrollRange();
    viewport()->update();
}

void HistoryGrid::setColumnWidth(int column, int width)
{
    if (colWidths[column] == width)
        return;
    colWidths[column] = width;
    viewport()->update();
}

void HistoryGrid::setRowHeight(int row, int height)
{
    if (rowHeights[row] == height)
        return;
    rowHeights[row] = height;
    updateScrollRange();
    viewport()->update();
}

QString HistoryGrid::cell(int column, int row) const
{
    return cells.at(row).at(column);
}

void HistoryGrid::setCell(int column, int row, const QString &text)
{
    cells[row][column] = text;
    viewport()->update();
}

int HistoryGrid::clientWidth() const
{
    return viewport()->width();
}

QRect HistoryGrid::cellRect(int column, int row) const
{
    const int line = gridLineWidth();
    int x = 0;
    for (int c = 0; c < column; ++c)
        x += colWidths[c] + line;
    int y = 0;
    if (row > 0) {
        y = rowHeights[0] + line - verticalScrollBar()->value();
        for (int r = 1; r < row; ++r)
            y += rowHeights[r] + line;
    }
    return QRect(x, y, colWidths[column], rowHeights[row]);
}

void HistoryGrid::updateScrollRange()
{
    if (rowHeights.isEmpty())
        return;
    const int line = gridLineWidth();
    int body = 0;
    for (int r = 1; r < rowHeights.size(); ++r)
        body += rowHeights[r] + line;
    const int page = viewport()->height() - rowHeights[0] - line;
    verticalScrollBar()->setPageStep(qMax(1, page));
    verticalScrollBar()->setRange(0, qMax(0, body - page));
}

void HistoryGrid::paintCells(QPainter &painter)
{
    const QRect area = viewport()->rect();
    painter.fillRect(area, palette().color(QPalette::Base));
    if (rowHeights.isEmpty())
        return;
    const int line = gridLineWidth();
    const QColor lineColour = palette().color(QPalette::Mid);
    const QRect body(0, rowHeights[0] + line, area.width(), area.height() - rowHeights[0] - line);

    // The rows below the header; a row's height may change as it is drawn, so each
    // row's place is taken only when its turn comes.
    for (int r = 1; r < rowCount(); ++r) {
        if (cellRect(0, r).top() > area.bottom())
            break;
        for (int c = 0; c < columnCount(); ++c) {
            const QRect rect = cellRect(c, r);
            if (rect.bottom() < body.top())
                continue;
            painter.save();
            painter.setClipRect(rect & body);
            if (drawCell)
                drawCell(c, r, rect, painter);
            painter.restore();
        }
        const QRect rect = cellRect(0, r);
        painter.save();
        painter.setClipRect(body);
        painter.fillRect(QRect(0, rect.bottom() + 1, area.width(), line), lineColour);
        painter.restore();
    }
    for (int c = 0; c < columnCount(); ++c) {
        const QRect rect = cellRect(c, 0);
        painter.fillRect(QRect(rect.right() + 1, 0, line, area.height()), lineColour);
    }

    // The header row last, so that nothing scrolled is drawn over it.
    for (int c = 0; c < columnCount(); ++c) {
        const QRect rect = cellRect(c, 0);
        painter.save();
        painter.setClipRect(rect);
        if (drawCell)
            drawCell(c, 0, rect, painter);
        painter.restore();
    }
    painter.fillRect(QRect(0, rowHeights[0], area.width(), line), lineColour);
}

void HistoryGrid::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    paintCells(painter);
}

void HistoryGrid::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRange();
    if (resized)
        resized();
}

void HistoryGrid::scrollContentsBy(int, int)
{
    viewport()->update();
}

// ---------------------------------------------------------------- the dialog

TformHistory::TformHistory(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral(" Version History Information "));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    QFont arial(QStringLiteral("Arial"));
    arial.setPixelSize(13);
    setFont(arial);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(0);

    Panel1 = new QLabel(QStringLiteral("Version History"), this);
    QFont heading(QStringLiteral("Arial"));
    heading.setPixelSize(16);
    heading.setUnderline(true);
    Panel1->setFont(heading);
    Panel1->setAlignment(Qt::AlignCenter);
    Panel1->setFixedHeight(41);
    layout->addWidget(Panel1);

    gridHistory = new HistoryGrid(this);
    gridHistory->setAccessibleName(QStringLiteral("Version History"));
    layout->addWidget(gridHistory, 1);

    Panel2 = new QWidget(this);
    Panel2->setFixedHeight(41);
    btnOk = new QPushButton(QStringLiteral("OK"), Panel2);
    btnOk->setDefault(true);
    btnOk->resize(75, 25);
    layout->addWidget(Panel2);

    resize(719, 362);
    setMinimumSize(600, 360);

    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    gridHistory->drawCell = [this](int column, int row, const QRect &rect, QPainter &canvas) {
        gridHistoryDrawCell(column, row, rect, canvas);
    };
    gridHistory->resized = [this] {
        FormResize();
        placeOkButton();
    };
    FormCreate();
}

void TformHistory::FormCreate()
{
    gridHistory->setColumnCount(4);
    gridHistory->setRowCount(1 + int(std::size(releases)));
    const QStringList header{QStringLiteral("Version"), QStringLiteral("Author"), QStringLiteral("Date"),
                             QStringLiteral("Change Details")};
    for (int c = 0; c < 4; ++c)
        gridHistory->setCell(c, 0, header[c]);
    int row = 1;
    for (const Release &r : releases) {
        gridHistory->setCell(0, row, QLatin1String(r.version));
        gridHistory->setCell(1, row, QLatin1String(r.authors));
        gridHistory->setCell(2, row, QLatin1String(r.date));
        gridHistory->setCell(3, row, QLatin1String(r.changes));
        ++row;
    }
    for (int c = 0; c < 4; ++c)
        gridHistory->setColumnWidth(c, columnWidths[c]);
    gridHistory->setRowCount(1 + int(std::size(releases)));
}

void TformHistory::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    centreOnScreen(this);
}

void TformHistory::placeOkButton()
{
    // It keeps to the middle of the bottom strip as the dialog is resized.
    btnOk->move((Panel2->width() - btnOk->width()) / 2, 16);
}

void TformHistory::FormResize()
{
    FitLastColumn();
    // Rows out of sight are fitted now too, so the scroll bar knows the true length
    // before they are first drawn; drawing fits them the same way.
    const int last = gridHistory->columnCount() - 1;
    const int textWidth = gridHistory->columnWidth(last) - 8;
    for (int r = 1; r < gridHistory->rowCount(); ++r)
        gridHistory->setRowHeight(
            r, wrappedTextHeight(gridHistory->cell(last, r), gridHistory->font(), textWidth) + 4);
}

void TformHistory::FitLastColumn()
{
    const int last = gridHistory->columnCount() - 1;
    int width = gridHistory->clientWidth() - gridHistory->gridLineWidth() * gridHistory->columnCount();
    for (int c = 0; c < last; ++c)
        width -= gridHistory->columnWidth(c);
    gridHistory->setColumnWidth(last, qMax(0, width));
}

void TformHistory::gridHistoryDrawCell(int column, int row, QRect rect, QPainter &canvas)
{
    QFont font = gridHistory->font();
    const QString text = gridHistory->cell(column, row);
    const QPalette colours = gridHistory->palette();
    Qt::Alignment format = Qt::AlignHCenter;

    if (row == 0) {
        font.setPixelSize(font.pixelSize() + 2);
        canvas.fillRect(rect, colours.color(QPalette::Button));
        // A raised frame just inside the cell.
        canvas.setPen(colours.color(QPalette::Light));
        canvas.drawLine(rect.topLeft(), rect.topRight());
        canvas.drawLine(rect.topLeft(), rect.bottomLeft());
        canvas.setPen(colours.color(QPalette::Dark));
        canvas.drawLine(rect.bottomLeft(), rect.bottomRight());
        canvas.drawLine(rect.topRight(), rect.bottomRight());
        rect.setTop(rect.top() + 1);
        canvas.setPen(colours.color(QPalette::ButtonText));
    } else {
        canvas.fillRect(rect, colours.color(QPalette::Base));
        rect.adjust(4, 2, -4, 0);
        canvas.setPen(colours.color(QPalette::Text));
        if (column == gridHistory->columnCount() - 1) {
            format = Qt::AlignLeft;
            // The row takes the height its change text needs at this width.
            const int h = wrappedTextHeight(text, font, rect.width());
            if (gridHistory->rowHeight(row) != h + 4 && !fitting) {
                fitting = true;
                gridHistory->setRowHeight(row, h + 4);
                FitLastColumn();
                fitting = false;
            }
        }
    }
    drawWrappedText(canvas, rect, text, font, format);
}
