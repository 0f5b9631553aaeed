// The statistics window: the log at a glance in tables (QSOs by year and
// month, by band and mode, by hour; entities by band and by mode; the most
// worked entities and stations) and charts (QSOs per year, per band, per
// hour). A table saves as CSV, a chart as PNG. The figures are counted
// again, a slice at a time, whenever the log or its lists change.
#pragma once

#include "data/uDM.h"
#include "query/LogStats.h"

#include <QChartView>
#include <QLabel>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QWidget>

#include <memory>

namespace qardel {

class TfStats : public QWidget {
    Q_OBJECT
  public:
    explicit TfStats(TDM* dm, QWidget* parent = nullptr);
    ~TfStats() override;

    // With a cache the DXCC tables and the most worked entities are shown.
    void setEntityCache(EntityCache* cache);
    // Stops following the tables: the data module is about to go.
    void detach();

    // Counts again (in slices); finishNow completes a running count at once.
    void recount();
    void finishNow();
    bool isCounting() const { return m_job != nullptr; }
    const LogStatistics& statistics() const { return m_stats; }

    QTabWidget* pcStats;
    QTableView* grYears;
    QTableView* grBandMode;
    QTableView* grHours;
    QTableView* grDxccBands;
    QTableView* grDxccModes;
    QTableView* grTopStations;
    QTableView* grTopEntities;
    QLabel* lbTopEntities;
    QLabel* lbDxccBands;
    QLabel* lbDxccModes;
    QChartView* chYears;
    QChartView* chBands;
    QChartView* chHours;
    QLabel* lbTotal;
    QLabel* lbStatus;
    QPushButton* btnSaveTable;
    QPushButton* btnSaveChart;

    // What a table shows, titles first, a row per line: for CSV and tests.
    QList<QStringList> tableTexts(const QTableView* table) const;
    // The table and the chart of the page shown (nullptr when it has none).
    QTableView* currentTable() const;
    QChartView* currentChart() const;
    // Write a table as CSV, a chart as PNG; true when written (else the
    // operator was told why).
    bool saveTableCsv(const QTableView* table, const QString& path);
    bool saveChartPng(QChartView* chart, const QString& path);
    // handlers
    void btnSaveTableClick();
    void btnSaveChartClick();

  signals:
    // A count was completed and is shown.
    void counted();

  protected:
    void keyPressEvent(QKeyEvent* e) override;
    void showEvent(QShowEvent* e) override;

  private:
    class Watch;
    void changed();
    void buildUi();
    void runSlice();
    void showStatistics(const LogStatistics& s);
    bool writeFile(const QString& path, const QByteArray& bytes, const QString& what);

    TDM* m_dm;
    EntityCache* m_entities = nullptr;
    std::unique_ptr<StatsJob> m_job;
    LogStatistics m_stats;
    QTimer m_slice, m_later;
    std::vector<std::unique_ptr<Watch>> m_watches;
    QWidget* m_dxccBandsPage = nullptr;
    QWidget* m_dxccModesPage = nullptr;
    QWidget* m_topEntitiesSide = nullptr;
    QWidget* m_topPage = nullptr;
};

} // namespace qardel
