#include "query/LogSearch.h"

#include "data/Fields.h"

#include <algorithm>

namespace qardel {

namespace {

constexpr int kDenseIds = 1 << 22;

const Column& col(Table& t, const QString& field) {
    return t.rows().column(t.fieldIndex(field));
}

bool sameLetter(QChar foldedPattern, QChar c) {
    return foldedPattern == c || foldedPattern == c.toCaseFolded();
}

// The whole of s against a pattern already folded: * any run, ? one character.
bool globMatches(QStringView s, QStringView p) {
    qsizetype si = 0, pi = 0, star = -1, mark = 0;
    while (si < s.size()) {
        if (pi < p.size() && p[pi] == QLatin1Char('*')) {
            star = pi++;
            mark = si;
        } else if (pi < p.size() && (p[pi] == QLatin1Char('?') || sameLetter(p[pi], s[si]))) {
            ++si;
            ++pi;
        } else if (star >= 0) {
            pi = star + 1;
            si = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == QLatin1Char('*'))
        ++pi;
    return pi == p.size();
}

bool containsText(QStringView text, const QString& part) {
    return part.isEmpty() || text.contains(part, Qt::CaseInsensitive);
}

} // namespace

bool SearchCriteria::isEmpty() const {
    return call.trimmed().isEmpty() && !from && !to && bandId <= 0 && modeId <= 0 &&
           entity.trimmed().isEmpty() && name.isEmpty() && city.isEmpty() && country.isEmpty() &&
           notice.isEmpty();
}

bool hasWildcards(QStringView pattern) {
    return pattern.contains(QLatin1Char('*')) || pattern.contains(QLatin1Char('?'));
}

bool callMatches(QStringView call, QStringView pattern) {
    if (pattern.isEmpty()) return true;
    if (!hasWildcards(pattern)) return call.contains(pattern, Qt::CaseInsensitive);
    return globMatches(call, pattern.toString().toCaseFolded());
}

// ---------------------------------------------------------------- SearchMatcher

SearchMatcher::SearchMatcher(TDM& dm, const SearchCriteria& c, EntityCache* entities)
    : m_dm(dm), m_c(c), m_entities(entities) {
    m_call = c.call.trimmed();
    // a wildcard pattern is compared letter by letter, folded once here
    if (hasWildcards(m_call)) m_call = m_call.toCaseFolded();
    m_c.entity = c.entity.trimmed();
    bool isNumber = false;
    m_entityNumber = m_c.entity.toInt(&isNumber);
    m_entityIsNumber = isNumber && m_entityNumber > 0;
    m_hasTime = c.from || c.to;
    m_from = c.from ? toNaive(*c.from) : std::numeric_limits<qint64>::min();
    m_to = c.to ? toNaive(*c.to) : std::numeric_limits<qint64>::max();
    Table& log = *dm.dsMain;
    m_cTime = &col(log, fld::Time);
    m_cBand = &col(log, fld::BandID);
    m_cMode = &col(log, fld::ModeID);
    m_cCorId = &col(log, fld::CorID);
    m_cSuffix = &col(log, fld::CorSuffix);
    m_cCity = &col(log, fld::CorCity);
    m_cCountry = &col(log, fld::CorCountry);
    m_cNotice = &col(log, fld::Notice);
    m_corCall = &col(*dm.dsCors, fld::CallName);
    m_corNameId = &col(*dm.dsCors, fld::NameID);
    m_namesValueField = dm.dsNames->fieldIndex(fld::Value);
}

SearchMatcher::CorFlags& SearchMatcher::corFlags(int corId) {
    if (corId >= 0 && corId < kDenseIds) {
        if (size_t(corId) >= m_cor.size())
            m_cor.resize(std::max(size_t(corId) + 1, m_cor.size() * 3 / 2));
        return m_cor[size_t(corId)];
    }
    return m_corSparse[corId];
}

bool SearchMatcher::corCallMatches(int corId) {
    CorFlags& f = corFlags(corId);
    if (f.call < 0) {
        const int64_t cs = m_dm.dsCors->rows().idSlot(corId);
        const QString call = cs < 0 ? QString() : m_corCall->texts[size_t(cs)];
        f.call = callMatches(call, m_call) ? 1 : 0;
    }
    return f.call != 0;
}

bool SearchMatcher::corNameMatches(int corId) {
    CorFlags& f = corFlags(corId);
    if (f.name < 0) {
        const int64_t cs = m_dm.dsCors->rows().idSlot(corId);
        const int nameId =
            cs < 0 || m_corNameId->isNull(uint32_t(cs)) ? 0 : m_corNameId->ints[size_t(cs)];
        auto it = m_nameIds.constFind(nameId);
        if (it == m_nameIds.constEnd()) {
            const QString name =
                nameId <= 0
                    ? QString()
                    : m_dm.dsNames->lookupValueAt(0, nameId, m_namesValueField, 0).toString();
            it = m_nameIds.insert(nameId, containsText(name, m_c.name));
        }
        f.name = *it ? 1 : 0;
    }
    return f.name != 0;
}

bool SearchMatcher::entityMatches(int entity) {
    if (entity < 0 || !m_entities) return false;
    if (size_t(entity) >= m_entityOk.size()) m_entityOk.resize(size_t(entity) + 1, -1);
    int8_t& ok = m_entityOk[size_t(entity)];
    if (ok < 0) {
        const Entity& e = m_entities->entities()[size_t(entity)];
        ok = (m_entityIsNumber ? e.dxcc == m_entityNumber : containsText(e.name, m_c.entity)) ? 1
                                                                                              : 0;
    }
    return ok != 0;
}

bool SearchMatcher::sharedTextMatches(const Column& c, uint32_t slot, const QString& part,
                                      QHash<const void*, bool>& memo) {
    const QString& text = c.texts[slot];
    // only the shared strings of the column's pool live as long as the table
    if (!c.intern || text.isEmpty() || text.size() > 64) return containsText(text, part);
    const void* key = text.constData();
    auto it = memo.constFind(key);
    if (it == memo.constEnd()) it = memo.insert(key, containsText(text, part));
    return *it;
}

bool SearchMatcher::matches(uint32_t s) {
    if (m_c.bandId > 0 && (m_cBand->isNull(s) || m_cBand->ints[s] != m_c.bandId)) return false;
    if (m_c.modeId > 0 && (m_cMode->isNull(s) || m_cMode->ints[s] != m_c.modeId)) return false;
    if (m_hasTime && (m_cTime->isNull(s) || m_cTime->times[s] < m_from || m_cTime->times[s] > m_to))
        return false;
    const int corId = m_cCorId->isNull(s) ? 0 : m_cCorId->ints[s];
    if (!m_call.isEmpty() && !corCallMatches(corId)) {
        // the call sign alone does not match: with its suffix it may
        const QString& suffix = m_cSuffix->texts[s];
        if (suffix.isEmpty()) return false;
        const int64_t cs = m_dm.dsCors->rows().idSlot(corId);
        const QString call = cs < 0 ? QString() : m_corCall->texts[size_t(cs)];
        if (!callMatches(callWithSuffix(call, suffix), m_call)) return false;
    }
    if (!m_c.name.isEmpty() && !corNameMatches(corId)) return false;
    if (!m_c.city.isEmpty() && !sharedTextMatches(*m_cCity, s, m_c.city, m_cityOk)) return false;
    if (!m_c.country.isEmpty() && !sharedTextMatches(*m_cCountry, s, m_c.country, m_countryOk))
        return false;
    if (!m_c.notice.isEmpty() && !containsText(m_cNotice->texts[s], m_c.notice)) return false;
    if (!m_c.entity.isEmpty() && !entityMatches(m_entities ? m_entities->ofSlot(s) : -1))
        return false;
    return true;
}

// ---------------------------------------------------------------- SearchJob

SearchJob::SearchJob(TDM& dm, const SearchCriteria& c, EntityCache* entities)
    : m_dm(dm), m_matcher(dm, c, entities) {
    if (!dm.dsMain->isActive()) m_done = true;
}

bool SearchJob::step(const QElapsedTimer& timer, qint64 budgetMs) {
    if (m_done) return true;
    const SlotSequence& order = m_dm.dsMain->slotsInActiveOrder();
    constexpr size_t kChunk = 2048;
    while (m_next < order.size()) {
        const size_t end = std::min(order.size(), m_next + kChunk);
        for (auto it = order.at(m_next); m_next < end; ++m_next, ++it)
            if (m_matcher.matches(*it)) m_result.push_back(*it);
        if (m_next < order.size() && timer.isValid() && timer.elapsed() >= budgetMs) return false;
    }
    // the log lists its newest QSO first
    std::reverse(m_result.begin(), m_result.end());
    m_done = true;
    return true;
}

void SearchJob::runToEnd() {
    step(QElapsedTimer(), 0);
}

} // namespace qardel
