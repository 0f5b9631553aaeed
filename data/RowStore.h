// The rows of a table, column by column, by slot: which slots hold a row,
// the ID of each row to its slot, and the exact texts of unique fields. The
// engine (Table) and its file form (TableFile) meet here and nowhere else.
#pragma once

#include "data/FieldDef.h"
#include "data/TableColumn.h"

#include <QHash>

#include <cstdint>
#include <memory>
#include <vector>

namespace qardel {

class RowStore {
  public:
    RowStore(const std::vector<FieldDef>& fields, const std::vector<IndexDef>& indexes,
             int idField);

    void reset(); // no rows, fresh columns

    // --- columns (null for lookup fields)
    bool hasColumn(int fi) const { return bool(m_columns[size_t(fi)]); }
    Column& column(int fi) { return *m_columns[size_t(fi)]; }
    const Column& column(int fi) const { return *m_columns[size_t(fi)]; }

    // --- slots
    size_t slotCount() const { return m_live.size(); }
    bool isLive(uint32_t s) const { return m_live[s] != 0; }
    uint32_t newSlot();
    void freeSlot(uint32_t s);
    // Loading: n live slots made at once; those not read after all are
    // dropped again.
    void reserveSlots(size_t n);
    void dropSlotsFrom(size_t n);

    // --- IDs
    int idOf(uint32_t s) const { return m_columns[size_t(m_idField)]->ints[s]; }
    int64_t idSlot(int id) const; // -1 when no row has it
    void idInsert(int id, uint32_t s);
    void idRemove(int id);

    // --- unique texts (exact)
    // The slot other than ownSlot whose unique field fi holds text; -1 when none.
    int64_t uniqueHolder(int fi, const QString& text, int64_t ownSlot) const;
    const std::vector<int>& uniqueFields() const { return m_uniqueFields; }
    void uniqueInsert(uint32_t s);
    void uniqueRemove(uint32_t s);

    // A row the loader filled into slot s joins the ID map and the unique
    // texts; the reason when it cannot (an ID or a unique text used twice).
    QString admitLoaded(uint32_t s);
    void finishLoad(); // drops what only loading needed

    size_t approxBytes() const;

  private:
    const std::vector<FieldDef>& m_fields;
    const std::vector<IndexDef>& m_indexes;
    int m_idField;
    std::vector<std::unique_ptr<Column>> m_columns; // by field index
    BigVector<uint8_t> m_live;                      // slot holds a row
    std::vector<uint32_t> m_freeSlots;
    // ID -> slot: a plain array while IDs stay dense (they are handed out
    // one by one), a hash for the few that do not
    std::vector<uint32_t> m_idDense; // slot + 1; 0 = no row
    QHash<int, uint32_t> m_idSparse;
    std::vector<int> m_uniqueFields;                    // text fields with a unique index
    std::vector<QHash<QString, uint32_t>> m_uniqueText; // by position in m_uniqueFields
};

} // namespace qardel
