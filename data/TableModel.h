// A data source: the table seen as a Qt item model, row for row in the
// table's active order. Row-level changes of the table become row-level
// model changes, so a view never resets on a save.
#pragma once

#include "data/Table.h"

#include <QAbstractTableModel>
#include <QStringList>

namespace qardel {

class TableModel : public QAbstractTableModel, public TableListener {
    Q_OBJECT
  public:
    explicit TableModel(Table* table, QObject* parent = nullptr);
    ~TableModel() override;

    Table* table() const { return m_table; }
    // Columns shown: field names; empty = the table's visible fields.
    void setColumns(const QStringList& fieldNames);
    QStringList columns() const;
    int fieldIndexOfColumn(int column) const { return m_fieldIndexes.value(column, -1); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;

  signals:
    // The table's cursor moved to this row (-1: no row).
    void cursorRowChanged(int row);

  private:
    void rowsAboutToBeReset() override;
    void rowsReset() override;
    void rowAboutToBeInserted(int pos) override;
    void rowInserted(int pos) override;
    void rowAboutToBeRemoved(int pos) override;
    void rowRemoved(int pos) override;
    void rowChanged(int pos) override;
    void rowMoved(int from, int to) override;
    void cursorMoved(int pos) override;

    Table* m_table;
    QList<int> m_fieldIndexes;
    bool m_resetting = false;
};

} // namespace qardel
