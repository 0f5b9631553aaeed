// A read-only grid over a data source: whole-row selection, and the view's
// current row and the table's cursor kept one in both directions.
#pragma once

#include "data/TableModel.h"

#include <QTableView>

namespace qardel {

class DataGrid : public QTableView {
    Q_OBJECT
  public:
    explicit DataGrid(QWidget* parent = nullptr);

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

  signals:
    // A left-button release on a data row (not on the title row).
    void rowClicked(int row);

  protected:
    void mouseReleaseEvent(QMouseEvent* e) override;

  private:
    void followCursor(int row);
    void onCurrentRowChanged(const QModelIndex& current, const QModelIndex& previous);

    TableModel* m_source = nullptr;
    bool m_following = false;
};

} // namespace qardel
