#include "app/Accessibility.h"

#include "app/History.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>

// Qt describes its own item views as tables, but the version history's grid paints
// its cells by hand to keep its layout and wrapping, so it describes them here: one
// interface for the grid, one for each cell, made when first asked for.

namespace {

class GridCell;

class GridTable : public QAccessibleWidget, public QAccessibleTableInterface
{
public:
    explicit GridTable(HistoryGrid *grid) : QAccessibleWidget(grid, QAccessible::Table) {}

    ~GridTable() override
    {
        for (QAccessible::Id id : std::as_const(cells))
            QAccessible::deleteAccessibleInterface(id);
    }

    HistoryGrid *grid() const { return static_cast<HistoryGrid *>(widget()); }

    // Children: the header row's cells, then every row's cells, row by row.
    QAccessibleInterface *cellInterface(int gridRow, int column) const;

    void *interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::TableInterface)
            return static_cast<QAccessibleTableInterface *>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    int childCount() const override { return grid()->rowCount() * grid()->columnCount(); }
    QAccessibleInterface *child(int index) const override
    {
        const int columns = grid()->columnCount();
        if (index < 0 || index >= childCount() || columns == 0)
            return nullptr;
        return cellInterface(index / columns, index % columns);
    }
    int indexOfChild(const QAccessibleInterface *child) const override;
    QAccessibleInterface *childAt(int x, int y) const override
    {
        const QPoint at = grid()->viewport()->mapFromGlobal(QPoint(x, y));
        for (int r = 0; r < grid()->rowCount(); ++r)
            for (int c = 0; c < grid()->columnCount(); ++c)
                if (grid()->cellRect(c, r).contains(at))
                    return cellInterface(r, c);
        return nullptr;
    }

    // The table proper: the rows below the header, which names the columns.
    QAccessibleInterface *caption() const override { return nullptr; }
    QAccessibleInterface *summary() const override { return nullptr; }
    QAccessibleInterface *cellAt(int row, int column) const override
    {
        if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount())
            return nullptr;
        return cellInterface(row + 1, column);
    }
    QString columnDescription(int column) const override
    {
        return grid()->rowCount() > 0 && column >= 0 && column < columnCount() ? grid()->cell(column, 0)
                                                                               : QString();
    }
    QString rowDescription(int) const override { return QString(); }
    int columnCount() const override { return grid()->columnCount(); }
    int rowCount() const override { return qMax(0, grid()->rowCount() - 1); }

    // Nothing in it can be selected.
    int selectedCellCount() const override { return 0; }
    QList<QAccessibleInterface *> selectedCells() const override { return {}; }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return 0; }
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override { return {}; }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int) const override { return false; }
    bool selectRow(int) override { return false; }
    bool selectColumn(int) override { return false; }
    bool unselectRow(int) override { return false; }
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent *) override {}

private:
    mutable QHash<int, QAccessible::Id> cells; // by child index
};

class GridCell : public QAccessibleInterface, public QAccessibleTableCellInterface
{
public:
    GridCell(HistoryGrid *grid, int gridRow, int column) : grid(grid), gridRow(gridRow), column(column) {}

    bool header() const { return gridRow == 0; }

    bool isValid() const override
    {
        return grid && gridRow < grid->rowCount() && column < grid->columnCount();
    }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return parent() ? parent()->window() : nullptr; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessibleInterface *parent() const override { return QAccessible::queryAccessibleInterface(grid); }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }

    QString text(QAccessible::Text t) const override
    {
        if (!isValid() || t != QAccessible::Name)
            return QString();
        return grid->cell(column, gridRow);
    }
    void setText(QAccessible::Text, const QString &) override {}
    QRect rect() const override
    {
        if (!isValid())
            return QRect();
        const QRect r = grid->cellRect(column, gridRow);
        return QRect(grid->viewport()->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::Role role() const override
    {
        return header() ? QAccessible::ColumnHeader : QAccessible::Cell;
    }
    QAccessible::State state() const override
    {
        QAccessible::State s;
        s.readOnly = true;
        // A row scrolled out of the grid, or under its header, is not on screen.
        if (!isValid() || !grid->isVisible()) {
            s.invisible = true;
            return s;
        }
        const QRect r = grid->cellRect(column, gridRow);
        const int top = header() ? 0 : grid->rowHeight(0) + grid->gridLineWidth();
        s.offscreen = r.bottom() < top || r.top() > grid->viewport()->height();
        return s;
    }

    void *interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::TableCellInterface && !header())
            return static_cast<QAccessibleTableCellInterface *>(this);
        return nullptr;
    }

    bool isSelected() const override { return false; }
    QList<QAccessibleInterface *> columnHeaderCells() const override
    {
        auto *table = static_cast<GridTable *>(parent());
        QAccessibleInterface *head = table ? table->cellInterface(0, column) : nullptr;
        return head ? QList<QAccessibleInterface *>{head} : QList<QAccessibleInterface *>{};
    }
    QList<QAccessibleInterface *> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return column; }
    int rowIndex() const override { return gridRow - 1; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface *table() const override { return parent(); }

    QPointer<HistoryGrid> grid;
    const int gridRow;
    const int column;
};

QAccessibleInterface *GridTable::cellInterface(int gridRow, int column) const
{
    const int index = gridRow * grid()->columnCount() + column;
    if (const QAccessible::Id id = cells.value(index, 0))
        return QAccessible::accessibleInterface(id);
    auto *cell = new GridCell(grid(), gridRow, column);
    cells.insert(index, QAccessible::registerAccessibleInterface(cell));
    return cell;
}

int GridTable::indexOfChild(const QAccessibleInterface *child) const
{
    if (!child || child->object() || child->role() == QAccessible::Table)
        return -1;
    for (auto it = cells.cbegin(); it != cells.cend(); ++it)
        if (QAccessible::accessibleInterface(it.value()) == child)
            return it.key();
    return -1;
}

QAccessibleInterface *describe(const QString &className, QObject *object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    if (className == QLatin1String("HistoryGrid"))
        return new GridTable(static_cast<HistoryGrid *>(object));
    // A top-level window of its own, which Qt would describe as a plain client area.
    if (className == QLatin1String("TformManual"))
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
    return nullptr;
}

} // namespace

void installAccessibleInterfaces()
{
    static const bool installed = [] {
        QAccessible::installFactory(describe);
        return true;
    }();
    Q_UNUSED(installed);
}
