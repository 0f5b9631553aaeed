// Listens for WSJT-X's datagrams on a UDP port: its own address, or a
// multicast group joined on every interface that carries multicast. Logged
// QSOs go out as signals; anything else is counted and dropped.
#pragma once

#include "rig/Settings.h"
#include "rig/WsjtxProtocol.h"

#include <QObject>
#include <QUdpSocket>

namespace qardel::rig {

class WsjtxListener : public QObject {
    Q_OBJECT
  public:
    explicit WsjtxListener(QObject* parent = nullptr);

    // Listens as the settings say (port 0: one the system chooses). The
    // reason it cannot, empty when it listens.
    QString listen(const WsjtxSettings& settings);
    void close();
    bool isListening() const;
    quint16 port() const;

    int qsos() const { return m_qsos; }
    int others() const { return m_others; }       // WSJT-X's other messages
    int malformed() const { return m_malformed; } // malformed or foreign: ignored

  signals:
    void qsoReceived(const qardel::rig::WsjtxQso& qso);
    void datagramIgnored();

  private:
    void readPending();

    QUdpSocket* m_socket = nullptr;
    int m_qsos = 0, m_others = 0, m_malformed = 0;
};

} // namespace qardel::rig
