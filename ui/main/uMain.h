// The main window: the QSO entry panel above the log grid, the status bar below.
#pragma once

#include "data/DataFolder.h"
#include "data/uDM.h"
#include "query/Entity.h"
#include "ui/common/DataGrid.h"
#include "ui/common/IdComboBox.h"
#include "ui/common/TextRules.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolButton>

#include <memory>

namespace qardel {

class TfSearch;
class TfStats;
class CallCard;

class TfMain : public QMainWindow {
    Q_OBJECT
  public:
    explicit TfMain(QWidget* parent = nullptr);
    ~TfMain() override;

    // Set when the program cannot run on its data folder (it cannot be
    // created or locked, or a table file cannot be read): the message to
    // show before the program ends without writing any table file.
    QString fatalError() const { return m_fatal; }

    // The notice preview shows at most this many characters of a notice.
    static constexpr int kPreviewChars = 10000;

    TDM* DM = nullptr;
    bool FEditMode = false;
    int FCompletionMark = 0;
    QChar decimalSeparator; // of the locale, read at start

    // controls, named as the program names them
    QTabWidget* pcMain;
    QWidget* tsEdit;
    QLineEdit* edCallName;
    QLineEdit* edSuffix;
    IdComboBox* cbName;
    IdComboBox* cbCity;
    IdComboBox* cbCountry;
    QLineEdit* edCorPower;
    IdComboBox* cbCorRS;
    IdComboBox* cbMyRS;
    QCheckBox* cbRepeater;
    QGroupBox* gbNotice;
    MemoEdit* mmNotice;
    IdComboBox* cbBand;
    IdComboBox* cbMode;
    QLineEdit* edMyPower;
    QPushButton* btnSave;
    QPushButton* btnClear;
    QToolButton* sbEditBand;
    QToolButton* sbEditMode;
    DataGrid* grMain;
    QMenu* pmGrid;
    QAction* miEdit;
    QAction* miDeleteQSO;
    QLabel* sbPanel0;
    QLabel* sbPanel1;
    CallCard* callCard = nullptr; // right of the panel's controls, and a line in the status bar

    // start-up and shutdown
    void FormCreate();
    void FormShow();
    void FormClose();
    void RestoreLastBandMode();
    void StoreLastBandMode();

    // the entry panel
    void SetEditMode(bool on);
    void ClearEntry();
    void PickSingleChoices();
    void ShowNoticePreview(Table& table);
    void cbBandChange();
    void mmNoticeEnter();
    void btnClearClick();
    bool noticeIsPreview() const { return m_noticePreview; }
    // The record count of the status bar and the delete item, brought up to date.
    void updateRecordCount();

    // typing
    QChar edCallNameKeyPress(QChar ch);
    QChar edCorPowerKeyPress(QLineEdit* edit, QChar ch);
    QChar cbCountryKeyPress(IdComboBox* box, QChar ch);
    void edCallNameTextChanged();
    void edCallNameChange();
    void CompleteCallSign(QLineEdit* edit, int& mark);

    // saving
    void btnSaveClick();

    // correcting and deleting
    void grMainDblClick();
    void grMainKeyPress(QChar ch);
    void grMainKeyDown(int key);
    void miDeleteQSOClick();

    // the reference-list editor
    void sbEditBandClick();
    void sbEditModeClick();

    // the search and statistics windows, opened by keys and from the status bar
    QAction* miSearch;
    QAction* miStats;
    QToolButton* sbSearch;
    QToolButton* sbStats;
    void OpenSearch();
    void OpenStats();
    TfSearch* searchWindow() const;
    TfStats* statsWindow() const;
    // Makes the QSO with this ID the log's current row for the search
    // window; empty when done, else what to tell the operator.
    QString ShowQso(int id);
    // The entity of a call sign, from the call-sign card's resolution: with
    // one, the search and statistics windows show entities.
    void setEntityProvider(EntityProvider provider);

    // A text of the status bar's free space, after the two panels and the
    // texts added before it; the buttons that open windows stay at its end.
    void addStatusText(QWidget* label);

  protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildUi();
    void clearCorrespondentFields();
    void setNoticeColor(const QColor& c);
    auto holdNoticeColor();
    void openEditor(IdComboBox* box, Table* table, int page);
    bool handleDefaultKeys(QObject* watched, QKeyEvent* e);
    void buildLogViews(QStatusBar* sb);
    void closeLogViews();

    int m_statusTexts = 0;
    QString m_fatal;
    std::unique_ptr<DataFolder> m_folder; // held while the window lives
    bool m_noticePreview = false;
    QColor m_noticeColor;      // the notice's text colour, applied unless held
    int m_noticeColorHeld = 0; // by ClearEntry, which sets it twice
    bool m_shown = false;
    bool m_completing = false;
    bool m_upcasing = false;
    QPointer<TfSearch> m_search;
    QPointer<TfStats> m_stats;
    std::unique_ptr<EntityCache> m_entities;
};

} // namespace qardel
