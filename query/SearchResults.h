// The QSOs a search found, as an item model for the results grid: the log's
// columns (plus the entity when there is an entity cache, and the notice),
// sortable by any of them. Rows are slots of the log table, read through the
// table when shown. The results follow the log: a QSO saved, corrected or
// deleted in the main window joins, changes in or leaves them at once, and a
// change of the lists it refers to (a correspondent's name, a band's name)
// searches again.
//
// A search runs in slices of a few milliseconds on the event loop, so that
// the operator keeps typing while a million QSOs are looked through; the
// previous results stay until the new ones are complete.
#pragma once

#include "data/uDM.h"
#include "query/LogSearch.h"

#include <QAbstractTableModel>
#include <QTimer>

#include <memory>
#include <vector>

class QCollator;

namespace qardel {

class SearchResults : public QAbstractTableModel {
    Q_OBJECT
  public:
    explicit SearchResults(TDM& dm, QObject* parent = nullptr);
    ~SearchResults() override;

    // How long one slice of a search may take.
    static constexpr qint64 kSliceMs = 8;

    // Starts a search; the results change when it is complete.
    void setCriteria(const SearchCriteria& c);
    const SearchCriteria& criteria() const { return m_criteria; }
    // With a cache the entity becomes a column and a criterion; nullptr: none.
    void setEntityCache(EntityCache* cache);
    EntityCache* entityCache() const { return m_entities; }
    bool isRunning() const { return m_job != nullptr; }
    // Completes a running search now (tests, and a window that needs the
    // results at once).
    void finishNow();
    // Stops following the tables: the data module is about to go.
    void detach();

    int count() const { return int(m_slots.size()); }
    const std::vector<uint32_t>& resultSlots() const { return m_slots; }
    int idAt(int row) const;
    int rowOfId(int id) const; // -1 when not among the results
    // The column of the entity, -1 when none; and of each log field.
    int entityColumn() const;
    int columnOfField(const QString& field) const;
    QString fieldOfColumn(int column) const; // empty for the entity column
    // The whole text of a cell (a notice with its line breaks), for export.
    QString cellText(int row, int column) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;
    // A column and direction; column -1: the log's own order, newest first.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }

  signals:
    // A search was completed and its results are shown.
    void searchFinished();
    // The number of results changed (a search, or a change of the log).
    void countChanged(int count);

  private:
    class Watch;
    friend class Watch;
    struct Col {
        int fi; // field of the log; -1: the entity
    };

    void startJob();
    void runSlice();
    void showResults(std::vector<uint32_t> found);
    void listsChanged();
    void logInserted(int pos);
    void logChanged(int pos);
    void logAboutToBeRemoved(int pos);
    void logAboutToReset();
    void logReset();
    bool jobRestarted();
    void insertSorted(uint32_t slot);
    int indexOfSlot(uint32_t slot) const;
    void buildColumns();
    // order of the shown column: -1, 0, 1 as a < b (ties by ID, newest first)
    bool lessInOrder(uint32_t a, uint32_t b) const;
    int compareColumn(uint32_t a, uint32_t b) const;
    QString textOf(uint32_t slot, int fi) const;
    void sortSlots(std::vector<uint32_t>& order) const;

    TDM& m_dm;
    EntityCache* m_entities = nullptr;
    SearchCriteria m_criteria;
    std::unique_ptr<SearchMatcher> m_matcher; // for rows that change
    std::unique_ptr<SearchJob> m_job;
    QTimer m_slice;
    std::vector<uint32_t> m_slots;
    std::vector<Col> m_columns;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    std::unique_ptr<QCollator> m_collator;
    std::vector<std::unique_ptr<Watch>> m_watches;
    bool m_resetting = false;
};

// Sorting texts as the results do: the locale's order, letter case aside.
int compareTexts(const QString& a, const QString& b, const QCollator& collator);

} // namespace qardel
