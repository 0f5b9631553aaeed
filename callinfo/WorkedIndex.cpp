#include "callinfo/WorkedIndex.h"

#include "data/Fields.h"
#include "data/TableColumn.h"
#include "data/uDM.h"

#include <algorithm>

namespace qardel::callinfo {

namespace {
constexpr int16_t kNotYet = -2;
const QString kNone; // no call, no suffix
} // namespace

// The log's rows as they are posted, corrected and deleted: each one leaves
// the counts of its old values and joins those of its new ones.
class WorkedIndex::LogListener : public TableListener {
  public:
    explicit LogListener(WorkedIndex& ix) : m_ix(ix) {}
    void rowsAboutToBeReset() override { m_ix.invalidate(); }
    void rowsReset() override {
        m_ix.invalidate();
        m_ix.notify();
    }
    void rowInserted(int pos) override { change(pos, +1); }
    void rowAboutToBeChanged(int pos) override { change(pos, -1, false); }
    void rowChanged(int pos) override { change(pos, +1); }
    void rowAboutToBeRemoved(int pos) override { change(pos, -1); }

  private:
    void change(int pos, int delta, bool tell = true) {
        if (m_ix.m_valid) m_ix.count(m_ix.rowAt(pos), delta);
        if (tell) m_ix.notify();
    }
    WorkedIndex& m_ix;
};

// A correspondent whose call sign changes, or who goes, changes the entity
// of every QSO with them: everything is worked out again at the next question.
class WorkedIndex::CorsListener : public TableListener {
  public:
    explicit CorsListener(WorkedIndex& ix) : m_ix(ix) {}
    void rowsReset() override { m_ix.invalidate(); }
    void rowAboutToBeChanged(int pos) override {
        m_oldCall = m_ix.m_dm.dsCors->valueAt(pos, m_ix.m_corCall).toString();
    }
    void rowChanged(int pos) override {
        if (m_ix.m_dm.dsCors->valueAt(pos, m_ix.m_corCall).toString() == m_oldCall) return;
        m_ix.invalidate();
        m_ix.notify();
    }
    void rowAboutToBeRemoved(int) override {
        m_ix.invalidate();
        m_ix.notify();
    }

  private:
    WorkedIndex& m_ix;
    QString m_oldCall;
};

void WorkedIndex::Counts::reset(size_t entities) {
    m_ofId.clear();
    m_ofBigId.clear();
    m_ids = 0;
    m_stride = 8;
    m_entities = entities;
    m_counts.assign(entities * m_stride, 0);
}

int WorkedIndex::Counts::indexOf(int id) {
    int k;
    if (id >= 0 && id < (1 << 16)) {
        if (size_t(id) >= m_ofId.size()) m_ofId.resize(size_t(id) + 1, 0);
        int& r = m_ofId[size_t(id)];
        if (r == 0) r = ++m_ids;
        k = r - 1;
    } else {
        auto [it, added] = m_ofBigId.try_emplace(id, m_ids);
        if (added) ++m_ids;
        k = it->second;
    }
    if (size_t(k) >= m_stride) {
        // room for more bands: every entity's row widens
        size_t wider = m_stride * 2;
        while (wider <= size_t(k))
            wider *= 2;
        std::vector<int> counts(m_entities * wider, 0);
        for (size_t e = 0; e < m_entities; ++e)
            std::copy_n(m_counts.begin() + ptrdiff_t(e * m_stride), m_stride,
                        counts.begin() + ptrdiff_t(e * wider));
        m_counts.swap(counts);
        m_stride = wider;
    }
    return k;
}

void WorkedIndex::Counts::add(int entity, int id, int delta) {
    if (id <= 0) return;
    const int k = indexOf(id);
    m_counts[size_t(entity) * m_stride + size_t(k)] += delta;
}

int WorkedIndex::Counts::get(int entity, int id) const {
    int k = -1;
    if (id >= 0 && id < (1 << 16)) {
        if (size_t(id) < m_ofId.size()) k = m_ofId[size_t(id)] - 1;
    } else if (auto it = m_ofBigId.find(id); it != m_ofBigId.end()) {
        k = it->second;
    }
    return k < 0 ? 0 : m_counts[size_t(entity) * m_stride + size_t(k)];
}

WorkedIndex::WorkedIndex(TDM& dm)
    : m_dm(dm), m_logListener(std::make_unique<LogListener>(*this)),
      m_corsListener(std::make_unique<CorsListener>(*this)) {
    Table& log = *dm.dsMain;
    Table& cors = *dm.dsCors;
    m_logCor = log.fieldIndex(fld::CorID);
    m_logBand = log.fieldIndex(fld::BandID);
    m_logMode = log.fieldIndex(fld::ModeID);
    m_logSuffix = log.fieldIndex(fld::CorSuffix);
    m_logTime = log.fieldIndex(fld::Time);
    m_logId = log.fieldIndex(fld::ID);
    m_corCall = cors.fieldIndex(fld::CallName);
    m_corId = cors.fieldIndex(fld::ID);
    log.addListener(m_logListener.get());
    cors.addListener(m_corsListener.get());
}

WorkedIndex::~WorkedIndex() {
    m_dm.dsMain->removeListener(m_logListener.get());
    m_dm.dsCors->removeListener(m_corsListener.get());
}

void WorkedIndex::setCty(std::shared_ptr<const CtyData> cty) {
    m_cty = std::move(cty);
    invalidate();
    notify();
}

void WorkedIndex::invalidate() {
    m_valid = false;
    m_corEntity.clear();
}

void WorkedIndex::notify() {
    if (changed) changed();
}

void WorkedIndex::build() {
    ensure();
}

void WorkedIndex::ensure() {
    if (m_valid) return;
    const size_t entities = m_cty ? m_cty->entities().size() : 0;
    m_entityQsos.assign(entities, 0);
    m_bands.reset(entities);
    m_modes.reset(entities);
    m_valid = true;
    Table& log = *m_dm.dsMain;
    Table& cors = *m_dm.dsCors;
    if (!log.isActive() || !cors.isActive() || entities == 0) return;
    // every correspondent's entity, in one pass over their rows
    const RowStore& cr = cors.rows();
    const Column& calls = cr.column(m_corCall);
    m_corEntity.assign(size_t(cors.lastId()) + 1, -1);
    for (uint32_t s = 0; s < cr.slotCount(); ++s)
        if (cr.isLive(s) && !calls.isNull(s))
            m_corEntity[size_t(cr.idOf(s))] =
                int16_t(m_cty->entityOf(calls.texts[s], QStringView()));
    // then the QSOs, straight from the columns: a million in one pass
    const RowStore& rows = log.rows();
    const Column& cor = rows.column(m_logCor);
    const Column& band = rows.column(m_logBand);
    const Column& mode = rows.column(m_logMode);
    const Column& suffix = rows.column(m_logSuffix);
    const size_t known = m_corEntity.size();
    for (uint32_t s = 0; s < rows.slotCount(); ++s) {
        if (!rows.isLive(s)) continue;
        const int c = cor.isNull(s) ? 0 : cor.ints[s];
        int e;
        if (!suffix.isNull(s) && !suffix.texts[s].isEmpty())
            e = entityOf(c, suffix.texts[s]);
        else
            e = c > 0 && size_t(c) < known ? m_corEntity[size_t(c)] : corEntity(c);
        if (e < 0) continue;
        ++m_entityQsos[size_t(e)];
        if (!band.isNull(s)) m_bands.add(e, band.ints[s], +1);
        if (!mode.isNull(s)) m_modes.add(e, mode.ints[s], +1);
    }
}

const QString& WorkedIndex::corCall(int corId) const {
    const Table& cors = *m_dm.dsCors;
    if (!cors.isActive() || corId <= 0) return kNone;
    const int64_t slot = cors.rows().idSlot(corId);
    if (slot < 0) return kNone;
    const Column& c = cors.rows().column(m_corCall);
    return c.isNull(uint32_t(slot)) ? kNone : c.texts[size_t(slot)];
}

int WorkedIndex::corEntity(int corId) {
    if (!m_cty || corId <= 0) return -1;
    if (size_t(corId) >= m_corEntity.size()) m_corEntity.resize(size_t(corId) + 1, kNotYet);
    int16_t& e = m_corEntity[size_t(corId)];
    if (e == kNotYet) e = int16_t(m_cty->entityOf(corCall(corId), QStringView()));
    return e;
}

int WorkedIndex::entityOf(int corId, const QString& suffix) {
    if (suffix.isEmpty()) return corEntity(corId);
    if (!m_cty) return -1;
    return m_cty->entityOf(corCall(corId), suffix);
}

int WorkedIndex::entityOfQso(int logId) {
    const Table& log = *m_dm.dsMain;
    if (!log.isActive() || logId <= 0) return -1;
    const int64_t slot = log.rows().idSlot(logId);
    return slot < 0 ? -1 : rowOfSlot(uint32_t(slot)).entity;
}

WorkedIndex::Row WorkedIndex::rowOfSlot(uint32_t s) {
    const RowStore& rows = m_dm.dsMain->rows();
    const Column& cor = rows.column(m_logCor);
    const Column& band = rows.column(m_logBand);
    const Column& mode = rows.column(m_logMode);
    const Column& suffix = rows.column(m_logSuffix);
    Row r;
    r.band = band.isNull(s) ? 0 : band.ints[s];
    r.mode = mode.isNull(s) ? 0 : mode.ints[s];
    r.entity =
        entityOf(cor.isNull(s) ? 0 : cor.ints[s], suffix.isNull(s) ? kNone : suffix.texts[s]);
    return r;
}

WorkedIndex::Row WorkedIndex::rowAt(int pos) {
    const Table& log = *m_dm.dsMain;
    Row r;
    r.band = log.valueAt(pos, m_logBand).toInt();
    r.mode = log.valueAt(pos, m_logMode).toInt();
    r.entity =
        entityOf(log.valueAt(pos, m_logCor).toInt(), log.valueAt(pos, m_logSuffix).toString());
    return r;
}

void WorkedIndex::count(const Row& r, int delta) {
    if (r.entity < 0 || size_t(r.entity) >= m_entityQsos.size()) return;
    m_entityQsos[size_t(r.entity)] += delta;
    m_bands.add(r.entity, r.band, delta);
    m_modes.add(r.entity, r.mode, delta);
}

int WorkedIndex::entityQsos(int entity) {
    ensure();
    if (entity < 0 || size_t(entity) >= m_entityQsos.size()) return 0;
    return m_entityQsos[size_t(entity)];
}

WorkedIndex::Standing WorkedIndex::standing(int entity, int bandId, int modeId, int exceptId) {
    ensure();
    if (entity < 0 || size_t(entity) >= m_entityQsos.size()) return Standing::NewEntity;
    // the QSO being corrected does not count for itself
    Row except;
    if (exceptId > 0) {
        const int64_t slot = m_dm.dsMain->isActive() ? m_dm.dsMain->rows().idSlot(exceptId) : -1;
        if (slot >= 0) except = rowOfSlot(uint32_t(slot));
    }
    const bool same = except.entity == entity;
    if (m_entityQsos[size_t(entity)] - (same ? 1 : 0) <= 0) return Standing::NewEntity;
    const bool newBand =
        bandId > 0 && m_bands.get(entity, bandId) - (same && except.band == bandId ? 1 : 0) <= 0;
    const bool newMode =
        modeId > 0 && m_modes.get(entity, modeId) - (same && except.mode == modeId ? 1 : 0) <= 0;
    if (newBand && newMode) return Standing::NewBandAndMode;
    if (newBand) return Standing::NewBand;
    if (newMode) return Standing::NewMode;
    return Standing::Worked;
}

WorkedIndex::History WorkedIndex::history(const QString& call, int exceptId) {
    History h;
    Table& cors = *m_dm.dsCors;
    Table& log = *m_dm.dsMain;
    if (call.isEmpty() || !cors.isActive() || !log.isActive()) return h;
    const int64_t corSlot = cors.find(fld::CallName, call, loCaseInsensitive);
    if (corSlot < 0) return h;
    h.corId = cors.rows().idOf(uint32_t(corSlot));
    const RowStore& rows = log.rows();
    const Column& id = rows.column(m_logId);
    const Column& band = rows.column(m_logBand);
    const Column& mode = rows.column(m_logMode);
    const Column& time = rows.column(m_logTime);
    qint64 last = 0;
    bool any = false;
    // newest first: the log's own order
    for (uint32_t s : log.slotsWhere(fld::CorID, h.corId)) {
        if (id.ints[s] == exceptId) continue;
        ++h.qsos;
        const BandMode bm{band.isNull(s) ? 0 : band.ints[s], mode.isNull(s) ? 0 : mode.ints[s]};
        if (std::find(h.bandModes.begin(), h.bandModes.end(), bm) == h.bandModes.end())
            h.bandModes.push_back(bm);
        if (!time.isNull(s) && (!any || time.times[s] > last)) {
            last = time.times[s];
            any = true;
        }
    }
    if (any) h.last = fromNaive(last);
    return h;
}

} // namespace qardel::callinfo
