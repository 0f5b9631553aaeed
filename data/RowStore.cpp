#include "data/RowStore.h"

namespace qardel {

RowStore::RowStore(const std::vector<FieldDef>& fields, const std::vector<IndexDef>& indexes,
                   int idField)
    : m_fields(fields), m_indexes(indexes), m_idField(idField) {
    for (const IndexDef& ix : m_indexes)
        for (int fi = 0; fi < int(m_fields.size()); ++fi)
            if (ix.unique &&
                m_fields[size_t(fi)].name.compare(ix.field, Qt::CaseInsensitive) == 0 &&
                m_fields[size_t(fi)].type == FieldType::String)
                m_uniqueFields.push_back(fi);
    m_uniqueText.resize(m_uniqueFields.size());
    reset();
}

void RowStore::reset() {
    m_columns.clear();
    m_columns.resize(m_fields.size());
    for (size_t i = 0; i < m_fields.size(); ++i) {
        if (!m_fields[i].isStored()) continue;
        m_columns[i] = std::make_unique<Column>(m_fields[i].type);
        bool uniqueField = false;
        for (const IndexDef& ix : m_indexes)
            if (ix.unique && m_fields[i].name.compare(ix.field, Qt::CaseInsensitive) == 0)
                uniqueField = true;
        // repetitive texts share their storage; unique ones cannot repeat
        m_columns[i]->intern = m_fields[i].type == FieldType::String && !uniqueField;
    }
    m_live.clear();
    m_freeSlots.clear();
    m_idDense = {};
    m_idSparse.clear();
    for (auto& u : m_uniqueText)
        u.clear();
}

uint32_t RowStore::newSlot() {
    if (!m_freeSlots.empty()) {
        const uint32_t s = m_freeSlots.back();
        m_freeSlots.pop_back();
        m_live[s] = 1;
        return s;
    }
    const uint32_t s = uint32_t(m_live.size());
    m_live.push_back(1);
    for (auto& c : m_columns)
        if (c) c->resize(m_live.size());
    return s;
}

void RowStore::freeSlot(uint32_t s) {
    m_live[s] = 0;
    for (auto& c : m_columns)
        if (c) c->setNull(s);
    m_freeSlots.push_back(s);
}

void RowStore::reserveSlots(size_t n) {
    // room beyond the loaded rows, so the first new row does not copy them all
    const size_t room = n + n / 8 + 1024;
    m_live.reserve(room);
    m_live.assign(n, 1);
    for (auto& c : m_columns)
        if (c) {
            c->reserve(room);
            c->resize(n);
        }
    m_idDense.reserve(room);
    for (auto& u : m_uniqueText)
        u.reserve(qsizetype(n));
}

void RowStore::dropSlotsFrom(size_t n) {
    m_live.resize(n);
    for (auto& c : m_columns)
        if (c) c->resize(n);
}

int64_t RowStore::idSlot(int id) const {
    if (id > 0 && size_t(id) < m_idDense.size() && m_idDense[size_t(id)])
        return int64_t(m_idDense[size_t(id)]) - 1;
    auto it = m_idSparse.constFind(id);
    return it == m_idSparse.constEnd() ? -1 : int64_t(*it);
}

void RowStore::idInsert(int id, uint32_t s) {
    const size_t limit = 2 * m_live.size() + 65536;
    if (id > 0 && size_t(id) <= limit) {
        if (size_t(id) >= m_idDense.size())
            m_idDense.resize(std::max(size_t(id) + 1, m_idDense.size() * 3 / 2), 0);
        m_idDense[size_t(id)] = s + 1;
    } else {
        m_idSparse.insert(id, s);
    }
}

void RowStore::idRemove(int id) {
    if (id > 0 && size_t(id) < m_idDense.size() && m_idDense[size_t(id)])
        m_idDense[size_t(id)] = 0;
    else
        m_idSparse.remove(id);
}

int64_t RowStore::uniqueHolder(int fi, const QString& text, int64_t ownSlot) const {
    for (size_t u = 0; u < m_uniqueFields.size(); ++u) {
        if (m_uniqueFields[u] != fi) continue;
        auto it = m_uniqueText[u].constFind(text);
        if (it != m_uniqueText[u].constEnd() && int64_t(*it) != ownSlot) return int64_t(*it);
    }
    return -1;
}

void RowStore::uniqueInsert(uint32_t s) {
    for (size_t u = 0; u < m_uniqueFields.size(); ++u) {
        const Column& c = *m_columns[size_t(m_uniqueFields[u])];
        if (!c.isNull(s)) m_uniqueText[u].insert(c.texts[s], s);
    }
}

void RowStore::uniqueRemove(uint32_t s) {
    for (size_t u = 0; u < m_uniqueFields.size(); ++u) {
        const Column& c = *m_columns[size_t(m_uniqueFields[u])];
        if (!c.isNull(s)) m_uniqueText[u].remove(c.texts[s]);
    }
}

QString RowStore::admitLoaded(uint32_t s) {
    const int id = idOf(s);
    if (id <= 0) return QStringLiteral("a row has the invalid ID %1").arg(id);
    if (idSlot(id) >= 0) return QStringLiteral("the ID %1 is used twice").arg(id);
    idInsert(id, s);
    for (size_t u = 0; u < m_uniqueFields.size(); ++u) {
        const Column& c = *m_columns[size_t(m_uniqueFields[u])];
        if (c.isNull(s)) continue;
        // one hashing: a text seen before does not grow the map
        QHash<QString, uint32_t>& seen = m_uniqueText[u];
        const qsizetype before = seen.size();
        uint32_t& holder = seen[c.texts[s]];
        if (seen.size() == before)
            return QStringLiteral("the value '%1' of field '%2' is used twice")
                .arg(c.texts[s], m_fields[size_t(m_uniqueFields[u])].name);
        holder = s;
    }
    return {};
}

void RowStore::finishLoad() {
    for (auto& c : m_columns)
        if (c) c->loadPool = {};
}

size_t RowStore::approxBytes() const {
    size_t b = m_live.capacity() + m_freeSlots.capacity() * 4;
    for (const auto& c : m_columns)
        if (c) b += c->bytes();
    return b;
}

} // namespace qardel
