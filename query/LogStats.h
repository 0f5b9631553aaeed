// The log at a glance: QSOs counted by year and month, by hour, by band and
// mode, entities worked by band and by mode, the most worked entities and
// stations. Counted in one pass over the log's columns, a slice at a time,
// so that a window can recount a million QSOs without holding up the
// operator. Bands, modes and stations are held by their row IDs and read
// through their tables when shown.
#pragma once

#include "data/uDM.h"
#include "query/Entity.h"

#include <QElapsedTimer>
#include <QString>

#include <array>
#include <map>
#include <vector>

namespace qardel {

struct LogStatistics {
    int total = 0;
    int withoutTime = 0; // counted in no year, month or hour
    // by the QSO's local time: year -> [0] the year's total, [1..12] its months
    std::map<int, std::array<int, 13>> byYear;
    std::array<int, 24> byHour{};

    // Bands and modes that have QSOs, in the order of the entry panel's lists
    // (bands by their list, modes alphabetically); ID 0 at the end stands for
    // the QSOs without one (none chosen, or one deleted from its list since).
    std::vector<int> bandIds, modeIds;
    std::vector<QString> bandNames, modeNames;
    std::vector<std::vector<int>> bandMode; // [band][mode] QSOs
    std::vector<int> bandTotals, modeTotals;

    // With an entity cache: entities that have QSOs, by name, with their
    // QSOs per band and per mode (same axes as above).
    bool hasEntities = false;
    std::vector<Entity> entities;
    std::vector<int> entityTotals;
    std::vector<std::vector<int>> entityBand, entityMode;
    std::vector<int> entitiesPerBand, entitiesPerMode; // distinct entities
    int withoutEntity = 0;

    // the 20 most worked: (correspondent ID, QSOs) and (entity index, QSOs),
    // most QSOs first, then by call sign or name
    static constexpr int kTop = 20;
    std::vector<std::pair<int, int>> topStations;
    std::vector<std::pair<int, int>> topEntities;
};

// Counts the log a slice at a time. The log must not change between the
// slices: whoever runs it starts again when it does.
class StatsJob {
  public:
    StatsJob(TDM& dm, EntityCache* entities);
    ~StatsJob();
    bool step(const QElapsedTimer& timer, qint64 budgetMs); // true when done
    void runToEnd();
    bool done() const { return m_done; }
    const LogStatistics& result() const { return m_s; }

  private:
    void finish();

    struct Counts;
    TDM& m_dm;
    EntityCache* m_entities;
    std::unique_ptr<Counts> m_c;
    size_t m_next = 0;
    bool m_done = false;
    LogStatistics m_s;
};

// All of it at once.
LogStatistics computeStatistics(TDM& dm, EntityCache* entities = nullptr);

} // namespace qardel
