#include "ui/common/DataGridAccessible.h"

#include "ui/common/DataGrid.h"

#include <QHeaderView>
#include <QPointer>

#include <algorithm>

namespace qardel {

namespace {

// A part of the grid with no children of its own and no object: a cell or
// a column title, read from the grid each time it is asked.
class GridPart : public QAccessibleInterface {
  public:
    explicit GridPart(DataGrid* grid) : m_grid(grid) {}

    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return m_grid ? m_grid->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override {
        return m_grid ? QAccessible::queryAccessibleInterface(m_grid) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    void setText(QAccessible::Text, const QString&) override {}

  protected:
    QPointer<DataGrid> m_grid;
};

// One cell of the grid: its text, place and state, read from the grid each
// time it is asked (the interface outlives moves of the rows).
class GridCell : public GridPart, public QAccessibleTableCellInterface {
  public:
    GridCell(DataGrid* grid, const QModelIndex& index) : GridPart(grid), m_index(index) {}

    bool isValid() const override { return m_grid && m_index.isValid(); }
    QString text(QAccessible::Text t) const override {
        if (!isValid() || t != QAccessible::Name) return {};
        return m_index.data(Qt::DisplayRole).toString();
    }
    QRect rect() const override {
        if (!isValid()) return {};
        const QRect r = m_grid->visualRect(m_index);
        return QRect(m_grid->viewport()->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::Role role() const override { return QAccessible::Cell; }
    QAccessible::State state() const override {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        s.selectable = true;
        s.focusable = true;
        s.disabled = !m_grid->isEnabled();
        s.selected = m_grid->selectionModel() && m_grid->selectionModel()->isSelected(m_index);
        s.focused = m_grid->hasFocus() && m_grid->currentIndex() == m_index;
        s.invisible = !m_grid->isVisible() ||
                      !m_grid->visualRect(m_index).intersects(m_grid->viewport()->rect());
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType t) override {
        return t == QAccessible::TableCellInterface
                   ? static_cast<QAccessibleTableCellInterface*>(this)
                   : nullptr;
    }

    bool isSelected() const override { return state().selected; }
    QList<QAccessibleInterface*> columnHeaderCells() const override {
        QAccessibleInterface* t = table();
        QAccessibleInterface* title = t && isValid() ? t->child(m_index.column()) : nullptr;
        return title ? QList<QAccessibleInterface*>{title} : QList<QAccessibleInterface*>{};
    }
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return m_index.column(); }
    int rowIndex() const override { return m_index.row(); }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return parent(); }

  private:
    QPersistentModelIndex m_index;
};

// One column title.
class GridTitle : public GridPart {
  public:
    GridTitle(DataGrid* grid, int column) : GridPart(grid), m_column(column) {}

    int column() const { return m_column; }
    bool isValid() const override {
        return m_grid && m_column < m_grid->horizontalHeader()->count();
    }
    QString text(QAccessible::Text t) const override {
        if (!isValid() || t != QAccessible::Name || !m_grid->model()) return {};
        return m_grid->model()->headerData(m_column, Qt::Horizontal).toString();
    }
    QRect rect() const override {
        if (!isValid()) return {};
        const QHeaderView* h = m_grid->horizontalHeader();
        const QRect r(h->sectionViewportPosition(m_column), 0, h->sectionSize(m_column),
                      h->height());
        return QRect(h->viewport()->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::Role role() const override { return QAccessible::ColumnHeader; }
    QAccessible::State state() const override {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        const QHeaderView* h = m_grid->horizontalHeader();
        const int x = h->sectionViewportPosition(m_column);
        s.invisible =
            !h->isVisible() || x + h->sectionSize(m_column) <= 0 || x >= h->viewport()->width();
        return s;
    }

  private:
    int m_column;
};

QAccessibleInterface* gridFactory(const QString& className, QObject* object) {
    if (className != QLatin1String(DataGrid::staticMetaObject.className())) return nullptr;
    auto* grid = qobject_cast<DataGrid*>(object);
    return grid ? new DataGridAccessible(grid) : nullptr;
}

} // namespace

void installDataGridAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(gridFactory);
        return true;
    }();
    (void)installed;
}

DataGridAccessible::DataGridAccessible(DataGrid* grid)
    : QAccessibleWidget(grid, QAccessible::Table) {}

DataGridAccessible::~DataGridAccessible() {
    forgetChildren();
}

DataGrid* DataGridAccessible::grid() const {
    return static_cast<DataGrid*>(widget());
}

int DataGridAccessible::childIndex(const DataGrid* grid, int row, int column) {
    return (row + 1) * grid->horizontalHeader()->count() + column;
}

void* DataGridAccessible::interface_cast(QAccessible::InterfaceType t) {
    if (t == QAccessible::TableInterface) return static_cast<QAccessibleTableInterface*>(this);
    return QAccessibleWidget::interface_cast(t);
}

int DataGridAccessible::rowCount() const {
    return grid()->model() ? grid()->model()->rowCount() : 0;
}

int DataGridAccessible::columnCount() const {
    return grid()->model() ? grid()->horizontalHeader()->count() : 0;
}

int DataGridAccessible::childCount() const {
    return (rowCount() + 1) * columnCount();
}

QAccessibleInterface* DataGridAccessible::child(int index) const {
    const int columns = columnCount();
    if (index < 0 || index >= childCount() || columns == 0) return nullptr;
    if (index < columns) return cachedChild(index, true, -1, index);
    return cachedChild(index, false, index / columns - 1, index % columns);
}

QAccessibleInterface* DataGridAccessible::cellAt(int row, int column) const {
    if (row < 0 || column < 0 || row >= rowCount() || column >= columnCount()) return nullptr;
    return cachedChild(childIndex(grid(), row, column), false, row, column);
}

// A child made for an index stays while it still stands there: rows come
// and go above it, and the cache is checked rather than trusted.
QAccessibleInterface* DataGridAccessible::cachedChild(int index, bool header, int row,
                                                      int column) const {
    auto it = m_children.find(index);
    if (it != m_children.end()) {
        QAccessibleInterface* iface = QAccessible::accessibleInterface(*it);
        if (iface && iface->isValid()) {
            if (header) return iface;
            const QAccessibleTableCellInterface* cell = iface->tableCellInterface();
            if (cell && cell->rowIndex() == row && cell->columnIndex() == column) return iface;
        }
        if (iface) QAccessible::deleteAccessibleInterface(*it);
        m_children.erase(it);
    }
    QAccessibleInterface* made = nullptr;
    if (header)
        made = new GridTitle(grid(), column);
    else
        made = new GridCell(grid(), grid()->model()->index(row, column));
    m_children.insert(index, QAccessible::registerAccessibleInterface(made));
    return made;
}

void DataGridAccessible::forgetChildren() {
    for (const QAccessible::Id id : std::as_const(m_children))
        if (QAccessible::accessibleInterface(id)) QAccessible::deleteAccessibleInterface(id);
    m_children.clear();
}

int DataGridAccessible::indexOfChild(const QAccessibleInterface* child) const {
    if (!child || child->parent() != this) return -1;
    if (const auto* title = dynamic_cast<const GridTitle*>(child)) return title->column();
    if (const auto* cell = dynamic_cast<const GridCell*>(child))
        return cell->isValid() ? childIndex(grid(), cell->rowIndex(), cell->columnIndex()) : -1;
    return -1;
}

QAccessibleInterface* DataGridAccessible::childAt(int x, int y) const {
    const QPoint global(x, y);
    QWidget* viewport = grid()->viewport();
    const QPoint inView = viewport->mapFromGlobal(global);
    if (viewport->rect().contains(inView)) {
        const QModelIndex i = grid()->indexAt(inView);
        return i.isValid() ? cellAt(i.row(), i.column()) : nullptr;
    }
    const QHeaderView* h = grid()->horizontalHeader();
    const QPoint inHeader = h->viewport()->mapFromGlobal(global);
    if (h->isVisible() && h->viewport()->rect().contains(inHeader)) {
        const int column = h->logicalIndexAt(inHeader.x());
        return column >= 0 ? child(column) : nullptr;
    }
    return nullptr;
}

QAccessibleInterface* DataGridAccessible::focusChild() const {
    const QModelIndex current = grid()->currentIndex();
    if (!grid()->hasFocus() || !current.isValid()) return nullptr;
    return cellAt(current.row(), current.column());
}

QString DataGridAccessible::columnDescription(int column) const {
    return grid()->model() ? grid()->model()->headerData(column, Qt::Horizontal).toString()
                           : QString();
}

QList<int> DataGridAccessible::selectedRows() const {
    QList<int> rows;
    if (!grid()->selectionModel()) return rows;
    for (const QModelIndex& i : grid()->selectionModel()->selectedRows())
        rows << i.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

int DataGridAccessible::selectedRowCount() const {
    return int(selectedRows().size());
}

bool DataGridAccessible::isRowSelected(int row) const {
    return grid()->selectionModel() && grid()->selectionModel()->isRowSelected(row, {});
}

QList<QAccessibleInterface*> DataGridAccessible::selectedCells() const {
    QList<QAccessibleInterface*> cells;
    for (int row : selectedRows())
        for (int c = 0; c < columnCount(); ++c)
            if (QAccessibleInterface* cell = cellAt(row, c)) cells << cell;
    return cells;
}

int DataGridAccessible::selectedCellCount() const {
    return selectedRowCount() * columnCount();
}

bool DataGridAccessible::selectRow(int row) {
    if (row < 0 || row >= rowCount() || !grid()->isEnabled()) return false;
    const int column = std::max(0, grid()->currentIndex().column());
    grid()->setCurrentIndex(grid()->model()->index(row, column));
    return true;
}

void DataGridAccessible::modelChange(QAccessibleTableModelChangeEvent* event) {
    // a changed value is read afresh; rows that come or go move the children
    if (event->modelChangeType() != QAccessibleTableModelChangeEvent::DataChanged) forgetChildren();
}

} // namespace qardel
