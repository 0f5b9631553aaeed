#include "data/SearchIndex.h"

#include <algorithm>

namespace qardel {

SearchIndex::SearchIndex(const RowStore& rows, int fieldIndex,
                         std::function<bool(uint32_t, uint32_t)> tableLess)
    : m_rows(rows), m_fi(fieldIndex), m_text(isTextType(rows.column(fieldIndex).type)),
      m_tableLess(std::move(tableLess)) {}

int64_t SearchIndex::intKey(uint32_t s) const {
    const Column& c = m_rows.column(m_fi);
    return c.nulls[s] ? INT64_MIN : int64_t(c.ints[s]);
}

void SearchIndex::build(const std::vector<uint32_t>& rowsInTableOrder) {
    // a stable sort by key keeps the table's order among equal keys
    std::vector<uint32_t> entries = rowsInTableOrder;
    if (m_text) {
        m_folded.assign(m_rows.slotCount(), QString());
        const Column& c = m_rows.column(m_fi);
        for (uint32_t s : entries)
            m_folded[s] = c.texts[s].toCaseFolded();
        const std::vector<QString>& f = m_folded;
        std::stable_sort(entries.begin(), entries.end(),
                         [&f](uint32_t a, uint32_t b) { return f[a] < f[b]; });
    } else if (!countingSort(entries)) {
        std::vector<std::pair<int64_t, uint32_t>> keyed;
        keyed.reserve(entries.size());
        for (uint32_t s : entries)
            keyed.push_back({intKey(s), s});
        std::stable_sort(keyed.begin(), keyed.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (size_t k = 0; k < keyed.size(); ++k)
            entries[k] = keyed[k].second;
    }
    m_entries.assign(entries);
}

// Integer keys in a range not much wider than the row count (references to
// other tables' IDs) are sorted by counting, which keeps the table's order
// among equal keys as the stable sort does, in linear time.
bool SearchIndex::countingSort(std::vector<uint32_t>& entries) const {
    const size_t n = entries.size();
    if (n < 1024) return false;
    const Column& c = m_rows.column(m_fi);
    int64_t lo = INT64_MAX, hi = INT64_MIN;
    for (uint32_t s : entries) {
        if (c.nulls[s]) continue;
        lo = std::min<int64_t>(lo, c.ints[s]);
        hi = std::max<int64_t>(hi, c.ints[s]);
    }
    if (lo > hi) return false; // all null: the order stays
    if (uint64_t(hi - lo) > 4 * n) return false;
    // bucket 0 holds the nulls, which sort first
    const size_t buckets = size_t(hi - lo) + 2;
    auto bucket = [&](uint32_t s) { return c.nulls[s] ? 0 : size_t(c.ints[s] - lo) + 1; };
    std::vector<uint32_t> start(buckets + 1, 0);
    for (uint32_t s : entries)
        ++start[bucket(s) + 1];
    for (size_t b = 1; b <= buckets; ++b)
        start[b] += start[b - 1];
    std::vector<uint32_t> sorted(n);
    for (uint32_t s : entries)
        sorted[start[bucket(s)]++] = s;
    entries.swap(sorted);
    return true;
}

bool SearchIndex::less(uint32_t a, uint32_t b) const {
    if (m_text) {
        const int r = m_folded[a].compare(m_folded[b]);
        if (r != 0) return r < 0;
    } else {
        const int64_t ka = intKey(a), kb = intKey(b);
        if (ka != kb) return ka < kb;
    }
    return m_tableLess(a, b);
}

void SearchIndex::remove(uint32_t slot) {
    // the sorted position first; a scan when the keys changed under it
    size_t at = m_entries.partitionPoint([&](uint32_t a) { return less(a, slot); });
    if (at >= m_entries.size() || m_entries[at] != slot)
        at = size_t(
            std::distance(m_entries.begin(), std::find(m_entries.begin(), m_entries.end(), slot)));
    if (at < m_entries.size()) m_entries.erase(at);
}

void SearchIndex::insert(uint32_t slot) {
    if (m_text) {
        if (m_folded.size() < m_rows.slotCount()) m_folded.resize(m_rows.slotCount());
        m_folded[slot] = m_rows.column(m_fi).texts[slot].toCaseFolded();
    }
    m_entries.insert(m_entries.partitionPoint([&](uint32_t a) { return less(a, slot); }), slot);
}

size_t SearchIndex::approxBytes() const {
    return m_entries.approxBytes() + m_folded.capacity() * sizeof(QString);
}

} // namespace qardel
