// The DXCC entity of a QSO. Which entity a call sign belongs to is the
// call-sign card's business: the main window hands a provider in, and this
// cache asks it once per station (and once per call sign with a suffix), so
// that a search or the statistics over a million QSOs cost lookups, not
// resolutions.
#pragma once

#include "data/uDM.h"

#include <QHash>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace qardel {

struct Entity {
    QString name; // as the provider names it
    int dxcc = 0; // the DXCC number; 0 when the provider has none
};

// The entity of a call sign with its suffix (empty when none); nullopt when
// the call sign belongs to none the provider knows.
using EntityProvider =
    std::function<std::optional<Entity>(const QString& call, const QString& suffix)>;

class EntityCache {
  public:
    EntityCache(TDM& dm, EntityProvider provider);

    // The entity of the QSO in this slot of the log, as an index into
    // entities(); -1 when unknown.
    int ofSlot(uint32_t slot);
    // Every entity met so far, each once (by DXCC number, else by name).
    const std::vector<Entity>& entities() const { return m_entities; }
    // Forgets every resolution: the next questions ask the provider again.
    void clear();

  private:
    int resolve(const QString& call, const QString& suffix);
    int entityIndex(const Entity& e);

    TDM& m_dm;
    EntityProvider m_provider;
    int m_corCallField, m_logCorIdField, m_logSuffixField;
    std::vector<Entity> m_entities;
    QHash<QString, int> m_byKey; // "#<dxcc>" or the name -> index
    // by correspondent ID: the program never renames a correspondent nor
    // hands its ID out again, so an answer stays true; -2: not asked yet
    std::vector<int> m_byCor;
    QHash<int, int> m_byCorSparse;                    // IDs too far apart for the vector
    QHash<std::pair<int, QString>, int> m_withSuffix; // (correspondent ID, suffix) -> index
};

// A call sign with its suffix as the operator writes it: "UA3AAA/P".
QString callWithSuffix(const QString& call, const QString& suffix);

} // namespace qardel
