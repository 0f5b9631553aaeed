// A read-only grid over a data source: whole-row selection, and the view's
// current row and the table's cursor kept one in both directions.
//
// The grid lays its rows out by arithmetic (every row has the same height)
// and paints only the visible cells, so that inserting, removing or finding
// a row costs the same with a million rows as with ten: a table view keeps
// per-row bookkeeping in its row header that is walked on each of these.
// It looks and behaves as a table view with a hidden row header, scrolling
// by rows, except that the current row is always the one highlighted row, the
// keyboard focus is drawn around that whole row, typed characters search
// nothing, and columns chosen by the window grow to show their values whole.
#pragma once

#include "data/TableModel.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QHash>
#include <QHeaderView>
#include <QStaticText>

namespace qardel {

class DataGrid : public QAbstractItemView {
    Q_OBJECT
  public:
    explicit DataGrid(QWidget* parent = nullptr);
    ~DataGrid() override;

    void setDataSource(TableModel* source);
    TableModel* dataSource() const { return m_source; }
    // Column widths in pixels; a width of 0 takes the field's display width.
    void setColumnWidths(const QList<int>& widths);
    // Pixels for a field's display width in characters.
    int fieldWidthPixels(int fieldIndex) const;
    // Narrows the columns, down to their titles, so that all fit beside a
    // vertical scroll bar without a horizontal one.
    void fitColumns();
    void setBackground(const QColor& c);
    // Columns whose values must never be shown cut (numbers, call signs):
    // each grows when a value wider than it comes into view. A width the
    // operator gives such a column stays until a still wider value comes.
    void setWholeValueColumns(const QList<int>& columns);

    QHeaderView* horizontalHeader() const { return m_header; }
    int columnWidth(int column) const { return m_header->sectionSize(column); }
    void setColumnWidth(int column, int width) { m_header->resizeSection(column, width); }
    int rowHeight() const { return m_rowHeight; }
    // The row or column at a viewport position, -1 when none.
    int rowAt(int y) const;
    int columnAt(int x) const;
    // Widens a column to its title and the texts of the rows around the
    // visible ones, as a double-click on the column's edge does.
    void resizeColumnToContents(int column);

    void setModel(QAbstractItemModel* model) override;
    void setSelectionModel(QItemSelectionModel* selectionModel) override;
    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;
    void doItemsLayout() override;

    // The run of rows whose whole-value columns were measured, kept through
    // inserts and removals so that a saved QSO costs the measure of its own
    // row, not of the page.
    struct MeasuredRows {
        int first = 0, last = -1;
        bool empty() const { return last < first; }
        void clear() { first = 0, last = -1; }
        void inserted(int start, int end);
        void removed(int start, int end);
        void changed(int start, int end);
    };

    // The grid has no type-ahead: a typed character moves nothing.
    void keyboardSearch(const QString&) override {}

  signals:
    // A left-button release on a data row (not on the title row).
    void rowClicked(int row);
    // A double-click anywhere among the rows, or in the free space below
    // them; a double-click on a row makes it current first.
    void doubleClickedInGrid();

  protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex&) const override { return false; }
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                     const QList<int>& roles) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void initViewItemOption(QStyleOptionViewItem* option) const override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void rowsInserted(const QModelIndex& parent, int start, int end) override;
    void paintEvent(QPaintEvent* e) override;
    bool viewportEvent(QEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void changeEvent(QEvent* e) override;

  private:
    struct ShapedText {
        QStaticText text;
        qreal width = 0;
    };
    static constexpr qsizetype kShapedTexts = 4096;
    const ShapedText& shaped(const QString& text, const QFont& font) const;
    void followCursor(int row);
    void onCurrentRowChanged(const QModelIndex& current, const QModelIndex& previous);
    int rowsInViewport(int height) const;
    int rowY(int row) const { return row * m_rowHeight - verticalOffset(); }
    int columnX(int column) const { return m_header->sectionViewportPosition(column); }
    void paintCell(QPainter& p, QStyleOptionViewItem& o, const QRect& textRect, Qt::Alignment align,
                   const QModelIndex& index) const;
    QRect rowRect(int row) const;
    void tellAccessibility(QAccessible::Event type, const QModelIndex& index);
    void updateRow(int row);
    int textPadding() const;
    void growToShownValues();
    void measureShownValues();
    void measureAfresh();

    TableModel* m_source = nullptr;
    QHeaderView* m_header;
    int m_rowHeight;
    int m_paintedOffset = 0; // the vertical offset the viewport's pixels show
    QPersistentModelIndex m_hover;
    mutable QHash<QString, ShapedText> m_shaped;
    bool m_following = false;
    QList<int> m_wholeColumns;
    QHash<int, int> m_widest; // per whole-value column: the width its widest shown value needs
    MeasuredRows m_measured;
    bool m_growing = false;
    bool m_measureOwed = false;   // the view changed since the whole-value columns were measured
    bool m_cellFocusOwed = false; // the grid got the focus; its current cell is still to be named
};

} // namespace qardel
