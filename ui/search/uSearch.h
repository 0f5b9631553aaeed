// The search window: criteria combined above, the QSOs found below with
// their count, sortable by any column; a double-click or Enter makes a QSO
// the current row of the log in the main window. The results export to ADI,
// ADX and CSV. Not modal: the operator keeps logging beside it, and the
// results follow the log.
#pragma once

#include "data/uDM.h"
#include "query/SearchResults.h"
#include "ui/common/DataGrid.h"
#include "ui/common/IdComboBox.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include <functional>

namespace qardel {

class TfSearch : public QWidget {
    Q_OBJECT
  public:
    explicit TfSearch(TDM* dm, QWidget* parent = nullptr);
    ~TfSearch() override;

    // The main window's part of a double-click: make the QSO with this ID the
    // current row of its log. Empty when done, else what to tell the operator.
    std::function<QString(int id)> showQso;
    // With a cache the entity becomes a criterion and a column.
    void setEntityCache(EntityCache* cache);
    // Stops following the tables: the data module is about to go.
    void detach();

    enum class Format { Adi, Adx, Csv };

    QLineEdit* edCall;
    IdComboBox* cbBand;
    IdComboBox* cbMode;
    QLineEdit* edName;
    QLineEdit* edCity;
    QLineEdit* edCountry;
    QLineEdit* edNotice;
    QLabel* lbEntity;
    QLineEdit* edEntity;
    QCheckBox* cbFrom;
    QDateTimeEdit* dtFrom;
    QCheckBox* cbTo;
    QDateTimeEdit* dtTo;
    QPushButton* btnClearCriteria;
    DataGrid* grResults;
    QLabel* lbCount;
    QLabel* lbStatus;
    QPushButton* btnAdi;
    QPushButton* btnAdx;
    QPushButton* btnCsv;
    SearchResults* results;

    // The criteria as the controls give them.
    SearchCriteria criteria() const;
    // handlers
    void criteriaChange();
    void btnClearCriteriaClick();
    void grResultsDblClick();
    void btnExportClick(Format f);
    // Writes the results to a file; true when written (else the operator
    // was told why).
    bool exportTo(const QString& path, Format f);
    // Fills the band and mode lists again, keeping what is chosen.
    void fillLists();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

  private:
    void buildUi();
    void showCount();
    QByteArray csvOfResults() const;

    TDM* m_dm;
    int m_currentId = 0; // the QSO the results grid stands on, kept across a new search
};

} // namespace qardel
