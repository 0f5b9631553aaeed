#include "query/LogStats.h"

#include "data/Fields.h"

#include <QCollator>
#include <QDate>
#include <QHash>

#include <algorithm>

namespace qardel {

namespace {

constexpr int kDenseIds = 1 << 22;

const Column& col(Table& t, const QString& field) {
    return t.rows().column(t.fieldIndex(field));
}

// Row IDs to small consecutive numbers, in the order they are first met.
class IdIndex {
  public:
    int of(int id) {
        if (id >= 0 && id < kDenseIds) {
            if (size_t(id) >= m_dense.size())
                m_dense.resize(std::max(size_t(id) + 1, m_dense.size() * 3 / 2), -1);
            int& i = m_dense[size_t(id)];
            if (i < 0) i = add(id);
            return i;
        }
        auto it = m_sparse.constFind(id);
        return it != m_sparse.constEnd() ? *it : *m_sparse.insert(id, add(id));
    }
    const std::vector<int>& ids() const { return m_ids; }

  private:
    int add(int id) {
        m_ids.push_back(id);
        return int(m_ids.size()) - 1;
    }
    std::vector<int> m_dense;
    QHash<int, int> m_sparse;
    std::vector<int> m_ids;
};

// A small growing matrix of counts.
struct Grid {
    std::vector<std::vector<int>> rows;
    void add(int r, int c) {
        if (size_t(r) >= rows.size()) rows.resize(size_t(r) + 1);
        std::vector<int>& row = rows[size_t(r)];
        if (size_t(c) >= row.size()) row.resize(size_t(c) + 1, 0);
        ++row[size_t(c)];
    }
    int at(int r, int c) const {
        if (size_t(r) >= rows.size()) return 0;
        const std::vector<int>& row = rows[size_t(r)];
        return size_t(c) < row.size() ? row[size_t(c)] : 0;
    }
};

} // namespace

struct StatsJob::Counts {
    const Column *time, *band, *mode, *corId;
    IdIndex bands, modes, stations;
    Grid bandMode, entityBand, entityMode;
    std::vector<int> perStation; // by station index
    // the year and month of the last day met: rows come in time order
    qint64 lastDay = std::numeric_limits<qint64>::min();
    std::array<int, 13>* lastYear = nullptr;
    int lastMonth = 0;
};

StatsJob::StatsJob(TDM& dm, EntityCache* entities)
    : m_dm(dm), m_entities(entities), m_c(std::make_unique<Counts>()) {
    if (!dm.dsMain->isActive()) {
        m_done = true;
        return;
    }
    Table& log = *dm.dsMain;
    m_c->time = &col(log, fld::Time);
    m_c->band = &col(log, fld::BandID);
    m_c->mode = &col(log, fld::ModeID);
    m_c->corId = &col(log, fld::CorID);
    m_s.hasEntities = entities != nullptr;
}

StatsJob::~StatsJob() = default;

bool StatsJob::step(const QElapsedTimer& timer, qint64 budgetMs) {
    if (m_done) return true;
    const SlotSequence& order = m_dm.dsMain->slotsInActiveOrder();
    Counts& c = *m_c;
    constexpr size_t kChunk = 4096;
    while (m_next < order.size()) {
        const size_t end = std::min(order.size(), m_next + kChunk);
        for (auto it = order.at(m_next); m_next < end; ++m_next, ++it) {
            const uint32_t s = *it;
            ++m_s.total;
            if (c.time->isNull(s)) {
                ++m_s.withoutTime;
            } else {
                const qint64 t = c.time->times[s];
                qint64 day = t / kMsPerDay, rest = t % kMsPerDay;
                if (rest < 0) rest += kMsPerDay, --day;
                if (day != c.lastDay) {
                    int y = 0, m = 0, d = 0;
                    QDate::fromJulianDay(day).getDate(&y, &m, &d);
                    c.lastDay = day;
                    c.lastYear = &m_s.byYear.try_emplace(y).first->second;
                    c.lastMonth = m;
                }
                ++(*c.lastYear)[0];
                ++(*c.lastYear)[size_t(c.lastMonth)];
                ++m_s.byHour[size_t(rest / 3600000)];
            }
            const int b = c.bands.of(c.band->isNull(s) ? 0 : c.band->ints[s]);
            const int m = c.modes.of(c.mode->isNull(s) ? 0 : c.mode->ints[s]);
            c.bandMode.add(b, m);
            const int st = c.stations.of(c.corId->isNull(s) ? 0 : c.corId->ints[s]);
            if (size_t(st) >= c.perStation.size()) c.perStation.resize(size_t(st) + 1, 0);
            ++c.perStation[size_t(st)];
            if (m_entities) {
                const int e = m_entities->ofSlot(s);
                if (e < 0) {
                    ++m_s.withoutEntity;
                } else {
                    c.entityBand.add(e, b);
                    c.entityMode.add(e, m);
                }
            }
        }
        if (m_next < order.size() && timer.isValid() && timer.elapsed() >= budgetMs) return false;
    }
    finish();
    m_done = true;
    return true;
}

void StatsJob::runToEnd() {
    step(QElapsedTimer(), 0);
}

void StatsJob::finish() {
    Counts& c = *m_c;
    QCollator collator{QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    const int bandName = m_dm.dsBands->fieldIndex(fld::Name);
    const int modeName = m_dm.dsModes->fieldIndex(fld::Name);

    // An axis: the IDs met, those still in their list in the list's order,
    // then 0 for the rest. axisOf maps the met index to the axis position.
    auto makeAxis = [&](const IdIndex& met, Table& list, int nameField, bool byName,
                        std::vector<int>* ids, std::vector<QString>* names,
                        std::vector<int>* axisOf) {
        std::vector<std::pair<int, QString>> known;
        bool hasNone = false;
        for (int id : met.ids()) {
            const int64_t slot = id > 0 ? list.rows().idSlot(id) : -1;
            if (slot < 0) {
                hasNone = true;
                continue;
            }
            known.push_back({id, list.valueOfSlot(uint32_t(slot), nameField).toString()});
        }
        std::sort(known.begin(), known.end(), [&](const auto& a, const auto& b) {
            if (byName) {
                const int r = collator.compare(a.second, b.second);
                if (r != 0) return r < 0;
            }
            return a.first < b.first;
        });
        QHash<int, int> pos;
        for (const auto& [id, name] : known) {
            pos.insert(id, int(ids->size()));
            ids->push_back(id);
            names->push_back(name);
        }
        if (hasNone) {
            ids->push_back(0);
            names->push_back(QString());
        }
        for (int id : met.ids())
            axisOf->push_back(pos.value(id, int(ids->size()) - 1));
    };
    std::vector<int> bandAxis, modeAxis;
    makeAxis(c.bands, *m_dm.dsBands, bandName, false, &m_s.bandIds, &m_s.bandNames, &bandAxis);
    makeAxis(c.modes, *m_dm.dsModes, modeName, true, &m_s.modeIds, &m_s.modeNames, &modeAxis);
    const size_t nb = m_s.bandIds.size(), nm = m_s.modeIds.size();
    m_s.bandMode.assign(nb, std::vector<int>(nm, 0));
    m_s.bandTotals.assign(nb, 0);
    m_s.modeTotals.assign(nm, 0);
    for (size_t b = 0; b < c.bandMode.rows.size(); ++b)
        for (size_t m = 0; m < c.bandMode.rows[b].size(); ++m) {
            const int n = c.bandMode.rows[b][m];
            m_s.bandMode[size_t(bandAxis[b])][size_t(modeAxis[m])] += n;
            m_s.bandTotals[size_t(bandAxis[b])] += n;
            m_s.modeTotals[size_t(modeAxis[m])] += n;
        }

    // stations: the most QSOs first, then by call sign
    const Column& callColumn = col(*m_dm.dsCors, fld::CallName);
    auto callOf = [&](int corId) {
        const int64_t slot = corId > 0 ? m_dm.dsCors->rows().idSlot(corId) : -1;
        return slot < 0 ? QString() : callColumn.texts[size_t(slot)];
    };
    // the counts the top reaches down to first, then only the stations with
    // as many QSOs are ordered by call sign
    std::vector<int> counts;
    for (size_t i = 0; i < c.perStation.size(); ++i)
        if (c.stations.ids()[i] > 0) counts.push_back(c.perStation[i]);
    const size_t top = std::min(counts.size(), size_t(LogStatistics::kTop));
    if (top > 0) {
        std::nth_element(counts.begin(), counts.begin() + ptrdiff_t(top - 1), counts.end(),
                         std::greater<int>());
        const int least = counts[top - 1];
        std::vector<std::pair<int, int>> stations;
        for (size_t i = 0; i < c.perStation.size(); ++i)
            if (c.stations.ids()[i] > 0 && c.perStation[i] >= least)
                stations.push_back({c.stations.ids()[i], c.perStation[i]});
        std::vector<QString> calls;
        for (const auto& st : stations)
            calls.push_back(callOf(st.first));
        std::vector<size_t> order(stations.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            if (stations[a].second != stations[b].second)
                return stations[a].second > stations[b].second;
            return calls[a] < calls[b];
        });
        for (size_t i = 0; i < top; ++i)
            m_s.topStations.push_back(stations[order[i]]);
    }

    if (!m_entities) return;
    // entities by name, each with its QSOs per band and per mode
    std::vector<int> order;
    for (size_t e = 0; e < c.entityBand.rows.size(); ++e)
        if (!c.entityBand.rows[e].empty()) order.push_back(int(e));
    const std::vector<Entity>& all = m_entities->entities();
    std::sort(order.begin(), order.end(), [&](int a, int b) {
        const int r = collator.compare(all[size_t(a)].name, all[size_t(b)].name);
        return r != 0 ? r < 0 : all[size_t(a)].dxcc < all[size_t(b)].dxcc;
    });
    m_s.entitiesPerBand.assign(nb, 0);
    m_s.entitiesPerMode.assign(nm, 0);
    for (int e : order) {
        m_s.entities.push_back(all[size_t(e)]);
        std::vector<int> perBand(nb, 0), perMode(nm, 0);
        int total = 0;
        for (size_t b = 0; b < c.entityBand.rows[size_t(e)].size(); ++b) {
            const int n = c.entityBand.at(e, int(b));
            perBand[size_t(bandAxis[b])] += n;
            total += n;
        }
        for (size_t m = 0; m < c.entityMode.rows[size_t(e)].size(); ++m)
            perMode[size_t(modeAxis[m])] += c.entityMode.at(e, int(m));
        for (size_t b = 0; b < nb; ++b)
            if (perBand[b] > 0) ++m_s.entitiesPerBand[b];
        for (size_t m = 0; m < nm; ++m)
            if (perMode[m] > 0) ++m_s.entitiesPerMode[m];
        m_s.entityBand.push_back(std::move(perBand));
        m_s.entityMode.push_back(std::move(perMode));
        m_s.entityTotals.push_back(total);
    }
    std::vector<std::pair<int, int>> ents;
    for (size_t i = 0; i < m_s.entities.size(); ++i)
        ents.push_back({int(i), m_s.entityTotals[i]});
    const size_t topE = std::min(ents.size(), size_t(LogStatistics::kTop));
    std::partial_sort(ents.begin(), ents.begin() + ptrdiff_t(topE), ents.end(),
                      [](const auto& a, const auto& b) {
                          return a.second != b.second ? a.second > b.second : a.first < b.first;
                      });
    m_s.topEntities.assign(ents.begin(), ents.begin() + ptrdiff_t(topE));
}

LogStatistics computeStatistics(TDM& dm, EntityCache* entities) {
    StatsJob job(dm, entities);
    job.runToEnd();
    return job.result();
}

} // namespace qardel
