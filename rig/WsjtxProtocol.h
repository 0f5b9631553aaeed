// WSJT-X's UDP messages: Qt's QDataStream, big-endian, each datagram headed
// by the magic number 0xadbccbda, the schema (2 or 3: the stream's form) and
// the message type. Of its messages the log takes two: "QSO Logged" (5)
// and "Logged ADIF" (12).
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace qardel::rig {

inline constexpr quint32 kWsjtxMagic = 0xadbccbda;
inline constexpr quint32 kWsjtxQsoLogged = 5;
inline constexpr quint32 kWsjtxLoggedAdif = 12;
inline constexpr quint32 kWsjtxLastType = 15; // the highest type WSJT-X sends

// A QSO as WSJT-X tells it; type says which message told it.
struct WsjtxQso {
    quint32 type = kWsjtxQsoLogged;
    QString id; // the sending program's name for itself ("WSJT-X")
    // QSO Logged
    QDateTime timeOff, timeOn; // UTC
    QString call, grid;
    quint64 txFrequency = 0; // Hz
    QString mode, reportSent, reportReceived, txPower, comments, name;
    QString operatorCall, myCall, myGrid, exchangeSent, exchangeReceived, propMode;
    // Logged ADIF: one ADI record
    QString adif;
};

enum class WsjtxDecode {
    Qso,       // a logged QSO: *out holds it
    Other,     // another of WSJT-X's messages, well formed
    Malformed, // WSJT-X's magic number, but the message does not read
    Foreign,   // not WSJT-X's: another magic number or schema, or too short
};

WsjtxDecode decodeWsjtx(const QByteArray& datagram, WsjtxQso* out);

// The datagrams WSJT-X sends, for the tests and the decoder's corpus.
QByteArray encodeWsjtx(const WsjtxQso& qso, quint32 schema = 3);
QByteArray encodeWsjtxHeartbeat(const QString& id, quint32 schema = 3);

} // namespace qardel::rig
