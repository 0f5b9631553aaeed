// The radio through Hamlib: its frequency and mode read on a thread of
// their own, so that a slow or lost radio never holds up the window. What is
// read arrives as signals on the thread that owns the RigControl.
#pragma once

#include "rig/Settings.h"

#include <QObject>
#include <QPointer>
#include <QThread>

namespace qardel::rig {

struct RigModelInfo {
    int model = 0;
    QString manufacturer;
    QString name;
    QString status; // Hamlib's word for how far the model's driver is ("Stable", "Beta")
};

// Every radio model Hamlib knows, by manufacturer and name.
QList<RigModelInfo> hamlibModels();
// Hamlib's model number of its network radio: a rigctld reached over TCP.
int rigctldModel();

enum class RigState {
    Off,        // not started
    Connecting, // the first attempt is under way
    Connected,  // readings arrive
    Lost,       // no answer; attempts go on quietly
};

class RigWorker;

class RigControl : public QObject {
    Q_OBJECT
  public:
    explicit RigControl(QObject* parent = nullptr);
    ~RigControl() override;

    // Starts (or restarts) reading the radio the settings describe: every
    // pollMs while it answers, a new attempt every retryMs while it does not.
    void start(const RigSettings& settings, int pollMs = 500, int retryMs = 3000);
    void stop();
    RigState state() const { return m_state; }
    QString detail() const { return m_detail; }

  signals:
    // Said once per change of state; detail is Hamlib's reason for a loss.
    void stateChanged(qardel::rig::RigState state, const QString& detail);
    // Each reading: the frequency of the current VFO in Hz, its mode as
    // Hamlib names it ("USB", "CW", "PKTUSB"; empty when not read).
    void reading(double hz, const QString& mode);
    // An attempt to reach the radio has begun (one per retry).
    void attempted();

  private:
    void onState(int state, const QString& detail);

    QPointer<QThread> m_thread;
    RigWorker* m_worker = nullptr;
    RigState m_state = RigState::Off;
    QString m_detail;
};

} // namespace qardel::rig
