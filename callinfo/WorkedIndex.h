// What the loaded log says about a call sign and its entity: worked before
// (QSOs with this station, its bands and modes, the last QSO) and new one
// (a new entity, a new band or mode for it). A derived index over the data
// module's log and correspondents, kept current by their row notifications;
// it holds no copies of rows, only counts per entity.
#pragma once

#include "callinfo/Cty.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

namespace qardel {
class TDM;
class Table;
} // namespace qardel

namespace qardel::callinfo {

class WorkedIndex {
  public:
    explicit WorkedIndex(TDM& dm);
    ~WorkedIndex();
    WorkedIndex(const WorkedIndex&) = delete;
    WorkedIndex& operator=(const WorkedIndex&) = delete;

    // The country data the entities come from (none: every entity unknown).
    void setCty(std::shared_ptr<const CtyData> cty);
    const CtyData* cty() const { return m_cty.get(); }

    // Works out now what a load or new country data left to do (the first
    // question would do it otherwise).
    void build();

    // The DXCC entity of a QSO with this correspondent and suffix; -1 when
    // unknown, or none (/MM).
    int entityOf(int corId, const QString& suffix);
    // The same for the log row with this ID; -1 also when there is no such row.
    int entityOfQso(int logId);

    struct BandMode {
        int bandId = 0; // 0: none
        int modeId = 0;
        bool operator==(const BandMode&) const = default;
    };
    struct History {
        int corId = 0; // the correspondent with this call sign; 0 when none
        int qsos = 0;
        std::vector<BandMode> bandModes; // each once, in the order first met (newest QSO first)
        QDateTime last;                  // of the newest QSO
    };
    // The QSOs with the correspondent whose call sign this is (ignoring
    // case), leaving out the log row exceptId (the QSO being corrected).
    History history(const QString& call, int exceptId = 0);

    enum class Standing { NewEntity, NewBandAndMode, NewBand, NewMode, Worked };
    // The entity against the log: never worked, or not on this band or in
    // this mode (IDs; 0 = none chosen, not asked), leaving out the row exceptId.
    Standing standing(int entity, int bandId, int modeId, int exceptId = 0);
    // QSOs whose entity is this one.
    int entityQsos(int entity);

    // Called after every change of what the answers above would say.
    std::function<void()> changed;

  private:
    class LogListener;
    class CorsListener;
    struct Row {
        int entity = -1, band = 0, mode = 0;
    };
    // QSOs per entity and band (or mode): the IDs as small indexes, the
    // counts in one block, a row of them per entity
    class Counts {
      public:
        void reset(size_t entities);
        void add(int entity, int id, int delta);
        int get(int entity, int id) const;

      private:
        int indexOf(int id);
        std::vector<int> m_ofId;                // ID -> index + 1, for small IDs
        std::unordered_map<int, int> m_ofBigId; // the others
        int m_ids = 0;                          // indexes handed out
        size_t m_stride = 8;                    // counts per entity
        size_t m_entities = 0;
        std::vector<int> m_counts;
    };

    void invalidate();
    void ensure();
    Row rowAt(int pos);
    Row rowOfSlot(uint32_t slot);
    void count(const Row& r, int delta);
    int corEntity(int corId);
    const QString& corCall(int corId) const;
    void notify();

    TDM& m_dm;
    std::shared_ptr<const CtyData> m_cty;
    std::unique_ptr<LogListener> m_logListener;
    std::unique_ptr<CorsListener> m_corsListener;
    bool m_valid = false;
    std::vector<int16_t> m_corEntity; // by correspondent ID; kNotYet until asked
    std::vector<int> m_entityQsos;    // by entity
    Counts m_bands, m_modes;
    // the field indexes of the tables
    int m_logCor = -1, m_logBand = -1, m_logMode = -1, m_logSuffix = -1, m_logTime = -1,
        m_logId = -1, m_corCall = -1, m_corId = -1;
};

} // namespace qardel::callinfo
