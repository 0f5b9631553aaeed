// Finding QSOs in the log: the criteria the operator combines, what each of
// them means, and a search that runs in slices so that typing never waits
// for a million QSOs. Results are slots of the log table, read through the
// table when shown.
#pragma once

#include "data/uDM.h"
#include "query/Entity.h"

#include <QDateTime>
#include <QElapsedTimer>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace qardel {

// Every criterion that is set must hold; an empty text, a band or mode of 0
// and an unset time are no criterion.
struct SearchCriteria {
    // A part of the call sign ("3AA"), or a pattern of the whole call sign
    // where * stands for any characters and ? for one ("UA3*", "R?1ABC").
    // Either is matched against the call sign alone and against the call
    // sign with its suffix ("UA3AAA/P"); letter case aside.
    QString call;
    // The QSO's time, both ends included.
    std::optional<QDateTime> from, to;
    int bandId = 0; // the ID in the band list; 0: any
    int modeId = 0;
    // A part of the entity's name, or its DXCC number; needs an entity cache.
    QString entity;
    // Parts of the correspondent's name, of the QSO's city, country and
    // notice, letter case aside (Cyrillic too: "МОСК" finds "Москва").
    QString name, city, country, notice;

    bool isEmpty() const;
};

// Whether a call sign matches a pattern with * and ? (the whole of it), or
// contains the text when it has neither; letter case aside.
bool callMatches(QStringView call, QStringView pattern);
bool hasWildcards(QStringView pattern);

// The criteria made ready to test rows: texts folded once, what depends on
// a correspondent, a name or an entity worked out once for each.
class SearchMatcher {
  public:
    SearchMatcher(TDM& dm, const SearchCriteria& c, EntityCache* entities);
    const SearchCriteria& criteria() const { return m_c; }
    // Whether the QSO in this slot of the log meets every criterion.
    bool matches(uint32_t slot);

  private:
    struct CorFlags {
        int8_t call = -1; // -1: not worked out yet
        int8_t name = -1;
    };
    CorFlags& corFlags(int corId);
    bool corCallMatches(int corId);
    bool corNameMatches(int corId);
    bool entityMatches(int entity);
    // a text of a list-like column (city, country): most rows share one of
    // a few thousand strings, so each string is tested once
    bool sharedTextMatches(const Column& c, uint32_t slot, const QString& part,
                           QHash<const void*, bool>& memo);

    TDM& m_dm;
    SearchCriteria m_c;
    EntityCache* m_entities;
    QString m_call; // trimmed
    bool m_hasTime = false;
    qint64 m_from = 0, m_to = 0; // the log's wall-clock milliseconds
    bool m_entityIsNumber = false;
    int m_entityNumber = 0;
    const Column *m_cTime, *m_cBand, *m_cMode, *m_cCorId, *m_cSuffix, *m_cCity, *m_cCountry,
        *m_cNotice;
    const Column *m_corCall, *m_corNameId;
    int m_namesValueField;
    std::vector<CorFlags> m_cor; // by correspondent ID
    QHash<int, CorFlags> m_corSparse;
    QHash<int, bool> m_nameIds;
    std::vector<int8_t> m_entityOk; // by entity index; -1: not worked out yet
    QHash<const void*, bool> m_cityOk, m_countryOk;
};

// One search over the whole log, done a slice at a time. The log must not
// change between the slices: whoever runs it starts again when it does.
class SearchJob {
  public:
    SearchJob(TDM& dm, const SearchCriteria& c, EntityCache* entities);
    // Works until done or until the timer passes budgetMs; true when done.
    bool step(const QElapsedTimer& timer, qint64 budgetMs);
    void runToEnd();
    bool done() const { return m_done; }
    // The matching slots, newest QSO first (the log's order); valid when done.
    std::vector<uint32_t>& result() { return m_result; }
    SearchMatcher& matcher() { return m_matcher; }

  private:
    TDM& m_dm;
    SearchMatcher m_matcher;
    size_t m_next = 0; // position in the log's ascending order
    bool m_done = false;
    std::vector<uint32_t> m_result;
};

} // namespace qardel
