// The call-sign card on the entry panel's free right side: entity, prefix,
// continent, zones, local time there, distance and beam heading, worked
// before, new one and super check partial, for the call sign being typed.
// Its essentials also show as one line in the status bar, right of the two
// panels, for a window of the size it opens with.
#pragma once

#include "callinfo/Cty.h"
#include "callinfo/Scp.h"
#include "callinfo/Sources.h"
#include "callinfo/WorkedIndex.h"

#include <QDialog>
#include <QFrame>
#include <QTimer>

#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;

namespace qardel {

class TfMain;

class CallCard : public QFrame {
    Q_OBJECT
  public:
    // The card's place on the page: right of everything the panel holds.
    static constexpr int kLeft = 800;
    static constexpr int kWidth = 360;

    explicit CallCard(TfMain* main);
    ~CallCard() override;

    // Once the tables are open: reads the country files, the active calls
    // and the own locator, and works out the entity of every logged QSO.
    void attach();
    // Before the data module goes.
    void detach();

    // The card follows the panel at the next turn of the event loop, once
    // for everything that changed meanwhile.
    void scheduleRefresh();
    void refresh();
    void btnMyLocatorClick();

    callinfo::WorkedIndex* index() { return m_index.get(); }
    const callinfo::CtyLoad& ctyLoad() const { return m_cty; }

    QLabel* lbEntity;
    QLabel* lbPlace;
    QLabel* lbTime;
    QLabel* lbBeam;
    QLabel* lbNewOne;
    QLabel* lbWorked;
    QLabel* lbBandsModes;
    QLabel* lbScp;
    QLabel* lbSource;
    QPushButton* btnMyLocator;
    QLabel* sbCallInfo; // the one line in the status bar

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Right of the panel, the card is out of view in a window of the size it
    // opens with: its lines are then brought up to date once it is widened
    // into view, and only the status bar's line follows every keystroke.
    bool inView() const;
    void clear();
    void showTime();
    void setLine(QLabel* l, const QString& text, const QString& tip = {});
    QString bandsModesText(const callinfo::WorkedIndex::History& h) const;

    TfMain* m_main;
    callinfo::CtyLoad m_cty;
    callinfo::ScpLoad m_scp;
    bool m_scpRead = false;
    std::unique_ptr<callinfo::WorkedIndex> m_index;
    QString m_locator;
    bool m_pending = false;
    bool m_inView = false;  // as the running refresh found it
    bool m_stale = false;   // lines skipped while out of view
    double m_utcOffset = 0; // of the station shown, for its local time
    QTimer m_clock;         // the local time there, while an entity is shown
};

// The small dialog that sets the operator's own locator.
class TfMyLocator : public QDialog {
    Q_OBJECT
  public:
    TfMyLocator(const QString& locator, QWidget* parent);
    QString locator() const; // as kept: upper case, empty for none

    QLineEdit* edMyLocator;
    QLabel* lbHint;
    QPushButton* btnOk;
    QPushButton* btnCancel;

  private:
    void edMyLocatorChange();
};

} // namespace qardel
