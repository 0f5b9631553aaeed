#include "rig/WsjtxListener.h"

#include <QNetworkDatagram>
#include <QNetworkInterface>

namespace qardel::rig {

WsjtxListener::WsjtxListener(QObject* parent) : QObject(parent) {}

QString WsjtxListener::listen(const WsjtxSettings& s) {
    close();
    const QHostAddress address(s.address.trimmed());
    if (address.isNull()) return QStringLiteral("«%1» — не IP-адрес").arg(s.address);
    if (s.port < 0 || s.port > 65535) return QStringLiteral("порт %1 вне 0…65535").arg(s.port);
    m_socket = new QUdpSocket(this);
    const bool v6 = address.protocol() == QAbstractSocket::IPv6Protocol;
    bool ok = false;
    if (address.isMulticast()) {
        // several programs may listen to one group on one port
        ok = m_socket->bind(v6 ? QHostAddress::AnyIPv6 : QHostAddress::AnyIPv4, quint16(s.port),
                            QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint);
        if (ok) {
            bool joined = m_socket->joinMulticastGroup(address);
            // WSJT-X is often told to send on the loopback interface, which
            // need not say it carries multicast
            for (const QNetworkInterface& i : QNetworkInterface::allInterfaces())
                if ((i.flags() & QNetworkInterface::IsUp) &&
                    (i.flags() & (QNetworkInterface::CanMulticast | QNetworkInterface::IsLoopBack)))
                    joined = m_socket->joinMulticastGroup(address, i) || joined;
            if (!joined) {
                const QString why = m_socket->errorString();
                close();
                return QStringLiteral("группа %1 недоступна: %2").arg(s.address, why);
            }
        }
    } else {
        ok = m_socket->bind(address, quint16(s.port));
    }
    if (!ok) {
        const QString why = m_socket->errorString();
        close();
        return QStringLiteral("%1:%2 занят или недоступен: %3").arg(s.address).arg(s.port).arg(why);
    }
    connect(m_socket, &QUdpSocket::readyRead, this, &WsjtxListener::readPending);
    return {};
}

void WsjtxListener::close() {
    if (!m_socket) return;
    m_socket->disconnect(this);
    m_socket->close();
    m_socket->deleteLater();
    m_socket = nullptr;
}

bool WsjtxListener::isListening() const {
    return m_socket && m_socket->state() == QAbstractSocket::BoundState;
}

quint16 WsjtxListener::port() const {
    return m_socket ? m_socket->localPort() : 0;
}

void WsjtxListener::readPending() {
    while (m_socket && m_socket->hasPendingDatagrams()) {
        const QNetworkDatagram d = m_socket->receiveDatagram();
        WsjtxQso q;
        switch (decodeWsjtx(d.data(), &q)) {
        case WsjtxDecode::Qso:
            ++m_qsos;
            emit qsoReceived(q);
            break;
        case WsjtxDecode::Other:
            ++m_others;
            break;
        case WsjtxDecode::Malformed:
        case WsjtxDecode::Foreign:
            ++m_malformed;
            emit datagramIgnored();
            break;
        }
    }
}

} // namespace qardel::rig
