// Writes the QSOs WSJT-X logs into the log, each the way a save on the
// entry panel adds one: its lists and correspondent found or added by the
// data module's own functions, the log row posted, every changed table on
// disk before the QSO counts as logged. What the operator is doing is left
// alone: the log's cursor goes back to its row, and the notice preview is
// not touched.
#pragma once

#include "data/uDM.h"
#include "rig/WsjtxProtocol.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>

namespace qardel::rig {

// One QSO as the log takes it, whichever message told it.
struct IncomingQso {
    QString call;      // a suffix after a slash: "UA3AAA/P"
    QDateTime timeUtc; // the start
    double hz = 0;     // 0 when not told
    QString band;      // ADIF's band, when told
    QString mode;
    QString reportSent, reportReceived, txPower, name, comment;
    bool repeater = false;
};

// The QSO a datagram tells; false (why says why) when it tells none the
// log can hold.
bool incomingFrom(const WsjtxQso& message, IncomingQso* out, QString* why);

struct LogOutcome {
    enum Kind {
        Logged,    // posted and on disk
        Duplicate, // the log holds it already: nothing changed
        Refused,   // not taken (reason): nothing changed
        NotSaved,  // posted, but writing the files failed (reason); the next save writes it
    };
    Kind kind = Logged;
    QString call, band, mode; // as the log holds them
    QDateTime time;           // the log's local time
    QString reason;
    int logId = 0;
    QList<Table*> grown; // the lists that gained rows
};

class QsoLogger : public QObject {
    Q_OBJECT
  public:
    explicit QsoLogger(TDM* dm, QObject* parent = nullptr);

    // Whether the tables may be written now. While it says no (a question
    // or a dialog is open, a row is being edited), QSOs wait in order.
    void setGate(std::function<bool()> gate) { m_gate = std::move(gate); }

    void take(const WsjtxQso& message);
    void take(const IncomingQso& qso);
    int waiting() const { return int(m_queue.size()); }

    // Writes one QSO now, whatever the gate says.
    LogOutcome write(const IncomingQso& qso);

  signals:
    void done(const qardel::rig::LogOutcome& outcome);

  private:
    void drain();
    bool isDuplicate(int corId, const QString& suffix, qint64 minute, int bandId, int modeId);

    TDM* m_dm;
    std::function<bool()> m_gate;
    std::deque<IncomingQso> m_queue;
    QTimer m_retry;
};

} // namespace qardel::rig
