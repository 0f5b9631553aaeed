// What assistive technology (a screen reader over AT-SPI) is given of a
// DataGrid: a table, as for a table view, with a title row of column headers
// and then one row per table row in the grid's order; each cell's text, the
// current cell and the selected row.
#pragma once

#include <QAccessibleWidget>
#include <QHash>

namespace qardel {

class DataGrid;

// Gives every DataGrid its table interface; the first call installs the
// factory, later ones do nothing.
void installDataGridAccessibility();

class DataGridAccessible : public QAccessibleWidget, public QAccessibleTableInterface {
  public:
    explicit DataGridAccessible(DataGrid* grid);

    // The index among the table's children of a cell: the titles come first.
    static int childIndex(const DataGrid* grid, int row, int column);

    // the table as an object
    void* interface_cast(QAccessible::InterfaceType t) override;
    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* focusChild() const override;

    // the table
    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override;
    int selectedCellCount() const override;
    QList<QAccessibleInterface*> selectedCells() const override;
    QString columnDescription(int column) const override;
    QString rowDescription(int) const override { return {}; }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override;
    int columnCount() const override;
    int rowCount() const override;
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override;
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override;
    // Selecting a row makes it the current one, as a click on it does; the
    // current row cannot be unselected and columns are not selected.
    bool selectRow(int row) override;
    bool selectColumn(int) override { return false; }
    bool unselectRow(int) override { return false; }
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent* event) override;

  protected:
    ~DataGridAccessible() override;

  private:
    DataGrid* grid() const;
    // The cached interface of a child; made and registered on first use.
    QAccessibleInterface* cachedChild(int index, bool header, int row, int column) const;
    void forgetChildren();

    mutable QHash<int, QAccessible::Id> m_children;
};

} // namespace qardel
