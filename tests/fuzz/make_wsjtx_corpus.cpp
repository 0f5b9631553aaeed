// Writes datagrams as WSJT-X sends them into a folder: the decoder fuzzer's
// starting corpus.
#include "rig/WsjtxProtocol.h"

#include <QDir>
#include <QFile>
#include <QTimeZone>

using namespace qardel::rig;

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    int n = 0;
    auto put = [&](const QByteArray& b) {
        QFile f(dir.filePath(QStringLiteral("w%1").arg(n++)));
        return f.open(QIODevice::WriteOnly) && f.write(b) == b.size();
    };
    WsjtxQso q;
    q.id = QStringLiteral("WSJT-X");
    q.timeOn = QDateTime(QDate(2024, 5, 17), QTime(12, 30), QTimeZone::utc());
    q.timeOff = q.timeOn.addSecs(75);
    q.call = QStringLiteral("UA3AAA/P");
    q.grid = QStringLiteral("KO85");
    q.txFrequency = 14075500;
    q.mode = QStringLiteral("FT8");
    q.reportSent = QStringLiteral("-12");
    q.reportReceived = QStringLiteral("+03");
    q.txPower = QStringLiteral("100");
    q.name = QStringLiteral("Иван");
    q.comments = QStringLiteral("tnx");
    bool ok = true;
    for (quint32 schema : {2u, 3u}) {
        ok = put(encodeWsjtx(q, schema)) && ok;
        ok = put(encodeWsjtxHeartbeat(q.id, schema)) && ok;
    }
    WsjtxQso a;
    a.type = kWsjtxLoggedAdif;
    a.id = q.id;
    a.adif = QStringLiteral("<call:6>R1ABC0 <mode:4>MFSK <submode:3>FT4 <qso_date:8>20240517 "
                            "<time_on:6>123000 <freq:9>14.080000 <eor>");
    ok = put(encodeWsjtx(a, 3)) && ok;
    return ok ? 0 : 1;
}
