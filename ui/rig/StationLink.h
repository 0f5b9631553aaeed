// The radio and WSJT-X as the main window sees them: the band and mode of
// the entry panel follow the radio, QSOs WSJT-X logs land in the log, and
// the status bar's right end shows the frequency, the connection and what
// was last logged, with a button (and Ctrl+Shift+R) for the settings.
#pragma once

#include "rig/QsoLogger.h"
#include "rig/RigControl.h"
#include "rig/WsjtxListener.h"
#include "ui/main/uMain.h"

#include <QLabel>
#include <QShortcut>
#include <QToolButton>

namespace qardel {

class StationLink : public QObject {
    Q_OBJECT
  public:
    // Starts what the settings table asks for.
    explicit StationLink(TfMain* window, QObject* parent = nullptr);
    ~StationLink() override;

    // Reads the settings again and restarts the radio and the listener.
    void applySettings();
    // The settings dialog (button sbStation, Ctrl+Shift+R).
    void openSettings();

    rig::RigControl* radio() const { return m_rig; }
    rig::WsjtxListener* wsjtx() const { return m_listener; }
    rig::QsoLogger* logger() const { return m_logger; }

    // How often the radio is read and tried again; tests shorten the retry.
    int pollMs = 500;
    int retryMs = 3000;

    QLabel* lbRig;    // frequency and mode, or the connection's state
    QLabel* lbNotice; // what WSJT-X last logged, or what went wrong
    QToolButton* sbStation;
    QShortcut* scStation;

  private:
    void onRigState(rig::RigState state, const QString& detail);
    void onReading(double hz, const QString& mode);
    void follow();
    void onLogged(const rig::LogOutcome& o);
    void setNotice(const QString& text);
    void updateCounts();
    bool mayWrite() const;
    void refill(IdComboBox* box, Table* table, const QString& field);

    TfMain* m_w;
    rig::RigControl* m_rig;
    rig::WsjtxListener* m_listener;
    rig::QsoLogger* m_logger;
    double m_hz = 0;
    QString m_mode;
    bool m_haveReading = false;
    int m_bandFollowed = -1; // the band the panel last followed to
    QString m_modeFollowed;  // the radio's mode the panel last followed
    bool m_modeApplied = false;
    int m_logged = 0, m_duplicates = 0, m_refused = 0;
};

} // namespace qardel
