#include "query/Entity.h"

#include "data/Fields.h"

namespace qardel {

namespace {
constexpr int kNotAsked = -2;
// Correspondent IDs above this go to a hash instead of the vector.
constexpr int kDenseIds = 1 << 22;
} // namespace

QString callWithSuffix(const QString& call, const QString& suffix) {
    if (suffix.isEmpty()) return call;
    return suffix.startsWith(QLatin1Char('/')) ? call + suffix : call + QLatin1Char('/') + suffix;
}

EntityCache::EntityCache(TDM& dm, EntityProvider provider)
    : m_dm(dm), m_provider(std::move(provider)),
      m_corCallField(dm.dsCors->fieldIndex(fld::CallName)),
      m_logCorIdField(dm.dsMain->fieldIndex(fld::CorID)),
      m_logSuffixField(dm.dsMain->fieldIndex(fld::CorSuffix)) {}

void EntityCache::clear() {
    m_entities.clear();
    m_byKey.clear();
    m_byCor.clear();
    m_byCorSparse.clear();
    m_withSuffix.clear();
}

int EntityCache::entityIndex(const Entity& e) {
    const QString key = e.dxcc > 0 ? QLatin1Char('#') + QString::number(e.dxcc) : e.name;
    auto it = m_byKey.constFind(key);
    if (it != m_byKey.constEnd()) return *it;
    m_entities.push_back(e);
    return *m_byKey.insert(key, int(m_entities.size()) - 1);
}

int EntityCache::resolve(const QString& call, const QString& suffix) {
    if (!m_provider || call.isEmpty()) return -1;
    std::optional<Entity> e;
    try {
        e = m_provider(call, suffix);
    } catch (...) {
        // a call sign the provider cannot take has no entity; the search or
        // count that asked goes on
        return -1;
    }
    if (!e || (e->name.isEmpty() && e->dxcc <= 0)) return -1;
    return entityIndex(*e);
}

int EntityCache::ofSlot(uint32_t slot) {
    const RowStore& log = m_dm.dsMain->rows();
    const Column& corIds = log.column(m_logCorIdField);
    if (corIds.isNull(slot)) return -1;
    const int corId = corIds.ints[slot];
    if (corId <= 0) return -1;
    const QString& suffix = log.column(m_logSuffixField).texts[slot];
    auto callOf = [&]() -> QString {
        const int64_t cs = m_dm.dsCors->rows().idSlot(corId);
        return cs < 0 ? QString() : m_dm.dsCors->rows().column(m_corCallField).texts[size_t(cs)];
    };
    if (!suffix.isEmpty()) {
        const std::pair<int, QString> key{corId, suffix};
        auto it = m_withSuffix.constFind(key);
        if (it != m_withSuffix.constEnd()) return *it;
        return *m_withSuffix.insert(key, resolve(callOf(), suffix));
    }
    if (corId < kDenseIds) {
        if (size_t(corId) >= m_byCor.size())
            m_byCor.resize(std::max(size_t(corId) + 1, m_byCor.size() * 3 / 2), kNotAsked);
        int& e = m_byCor[size_t(corId)];
        if (e == kNotAsked) e = resolve(callOf(), QString());
        return e;
    }
    auto it = m_byCorSparse.constFind(corId);
    if (it != m_byCorSparse.constEnd()) return *it;
    return *m_byCorSparse.insert(corId, resolve(callOf(), QString()));
}

} // namespace qardel
