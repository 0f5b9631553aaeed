#include "rig/WsjtxProtocol.h"

#include <QDataStream>
#include <QIODevice>

namespace qardel::rig {

namespace {

// The stream's form for a schema, as WSJT-X sets it.
QDataStream::Version versionOf(quint32 schema) {
    return schema <= 1 ? QDataStream::Qt_5_0
                       : (schema == 2 ? QDataStream::Qt_5_2 : QDataStream::Qt_5_4);
}

// WSJT-X's texts: UTF-8 bytes as a QByteArray (length first; a null one
// has the length 0xffffffff).
QString readUtf8(QDataStream& in) {
    QByteArray b;
    in >> b;
    return QString::fromUtf8(b);
}

void writeUtf8(QDataStream& out, const QString& s) {
    out << s.toUtf8();
}

} // namespace

WsjtxDecode decodeWsjtx(const QByteArray& datagram, WsjtxQso* out) {
    QDataStream in(datagram);
    in.setByteOrder(QDataStream::BigEndian);
    quint32 magic = 0, schema = 0, type = 0;
    in >> magic >> schema;
    if (in.status() != QDataStream::Ok || magic != kWsjtxMagic || (schema != 2 && schema != 3))
        return WsjtxDecode::Foreign;
    in.setVersion(versionOf(schema));
    in >> type;
    WsjtxQso q;
    q.type = type;
    q.id = readUtf8(in);
    if (in.status() != QDataStream::Ok) return WsjtxDecode::Malformed;
    if (type == kWsjtxQsoLogged) {
        in >> q.timeOff;
        q.call = readUtf8(in);
        q.grid = readUtf8(in);
        in >> q.txFrequency;
        q.mode = readUtf8(in);
        q.reportSent = readUtf8(in);
        q.reportReceived = readUtf8(in);
        q.txPower = readUtf8(in);
        q.comments = readUtf8(in);
        q.name = readUtf8(in);
        if (in.status() != QDataStream::Ok) return WsjtxDecode::Malformed;
        // later versions of WSJT-X add fields at the end
        if (!in.atEnd()) in >> q.timeOn;
        for (QString* s : {&q.operatorCall, &q.myCall, &q.myGrid, &q.exchangeSent,
                           &q.exchangeReceived, &q.propMode})
            if (!in.atEnd()) *s = readUtf8(in);
        if (in.status() != QDataStream::Ok) return WsjtxDecode::Malformed;
        // times as UTC, and only those a log can hold
        for (QDateTime* t : {&q.timeOff, &q.timeOn}) {
            *t = t->toUTC();
            if (t->isValid() && (t->date().year() < 1900 || t->date().year() > 9999))
                return WsjtxDecode::Malformed;
        }
        if (!q.timeOn.isValid()) q.timeOn = q.timeOff;
        if (!q.timeOn.isValid()) return WsjtxDecode::Malformed;
        *out = q;
        return WsjtxDecode::Qso;
    }
    if (type == kWsjtxLoggedAdif) {
        q.adif = readUtf8(in);
        if (in.status() != QDataStream::Ok) return WsjtxDecode::Malformed;
        *out = q;
        return WsjtxDecode::Qso;
    }
    // WSJT-X's other messages (heartbeat, status, decodes, ...) go by
    return type <= kWsjtxLastType ? WsjtxDecode::Other : WsjtxDecode::Malformed;
}

QByteArray encodeWsjtx(const WsjtxQso& q, quint32 schema) {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::BigEndian);
    out.setVersion(versionOf(schema));
    out << kWsjtxMagic << schema << q.type;
    writeUtf8(out, q.id);
    if (q.type == kWsjtxLoggedAdif) {
        writeUtf8(out, q.adif);
        return bytes;
    }
    out << q.timeOff;
    writeUtf8(out, q.call);
    writeUtf8(out, q.grid);
    out << q.txFrequency;
    for (const QString* s :
         {&q.mode, &q.reportSent, &q.reportReceived, &q.txPower, &q.comments, &q.name})
        writeUtf8(out, *s);
    out << q.timeOn;
    for (const QString* s :
         {&q.operatorCall, &q.myCall, &q.myGrid, &q.exchangeSent, &q.exchangeReceived, &q.propMode})
        writeUtf8(out, *s);
    return bytes;
}

QByteArray encodeWsjtxHeartbeat(const QString& id, quint32 schema) {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(versionOf(schema));
    out << kWsjtxMagic << schema << quint32(0);
    writeUtf8(out, id);
    out << quint32(3); // the highest schema it speaks
    writeUtf8(out, QStringLiteral("2.6.1"));
    writeUtf8(out, QStringLiteral("abcdef"));
    return bytes;
}

} // namespace qardel::rig
