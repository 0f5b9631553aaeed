// The search structure for locate on one field: the rows sorted by their
// (case-folded) key, rows with equal keys in the table's active order, so
// the first match found is the first in the table.
#pragma once

#include "data/RowStore.h"
#include "data/SlotSequence.h"

#include <functional>
#include <vector>

namespace qardel {

class SearchIndex {
  public:
    // tableLess: the table's order of two rows, for equal keys
    SearchIndex(const RowStore& rows, int fieldIndex,
                std::function<bool(uint32_t, uint32_t)> tableLess);

    // Built from the rows as the table orders them.
    void build(const std::vector<uint32_t>& rowsInTableOrder);
    void insert(uint32_t slot); // the columns hold its new values
    void remove(uint32_t slot); // the columns still hold its old values

    bool isText() const { return m_text; }
    const SlotSequence& entries() const { return m_entries; }
    const QString& folded(uint32_t slot) const { return m_folded[slot]; }
    // The integer key a row sorts by (null first).
    int64_t intKey(uint32_t slot) const;
    size_t approxBytes() const;

  private:
    bool less(uint32_t a, uint32_t b) const;
    bool countingSort(std::vector<uint32_t>& entries) const;

    const RowStore& m_rows;
    int m_fi;
    bool m_text;
    std::function<bool(uint32_t, uint32_t)> m_tableLess;
    SlotSequence m_entries;
    std::vector<QString> m_folded; // by slot, for text fields
};

} // namespace qardel
