// The radio's and WSJT-X's data side: which band of the list holds a
// frequency, which mode entry the radio's mode selects, WSJT-X's wire format
// read and refused, the settings rows, and QSOs written into the log.
#include "TestUtil.h"
#include "data/Fields.h"
#include "data/uDM.h"
#include "rig/BandMode.h"
#include "rig/QsoLogger.h"
#include "rig/Settings.h"
#include "rig/WsjtxProtocol.h"

#include <QDataStream>
#include <QTest>
#include <QTimeZone>

#include <map>

using namespace qardel;
using namespace qardel::rig;

namespace {

int addRow(Table& t, const std::map<QString, QVariant>& values) {
    t.append();
    for (const auto& [k, v] : values)
        t.fieldByName(k).setValue(v);
    t.post();
    return t.fieldByName(fld::ID).asInteger();
}

struct Dm {
    TempDataDir dir;
    TDM dm;
    Dm() {
        dm.DataDir = dir.path();
        dm.OpenTables();
    }
};

// A message of type 5 laid out byte by byte as WSJT-X's network protocol
// describes it, without the encoder: big-endian, texts as UTF-8 byte arrays.
QByteArray handMadeQsoLogged(quint32 schema, qint64 dayOn = 0) {
    QByteArray b;
    auto u32 = [&b](quint32 v) {
        for (int s = 24; s >= 0; s -= 8)
            b.append(char((v >> s) & 0xff));
    };
    auto u64 = [&](quint64 v) {
        u32(quint32(v >> 32));
        u32(quint32(v));
    };
    auto text = [&](const QByteArray& t) {
        u32(quint32(t.size()));
        b.append(t);
    };
    auto dateTime = [&](qint64 julianDay, quint32 ms) {
        u64(quint64(julianDay));
        u32(ms);
        b.append(char(1)); // UTC
    };
    const qint64 day = QDate(2024, 5, 17).toJulianDay();
    u32(0xadbccbda);
    u32(schema);
    u32(5);
    text("WSJT-X");
    dateTime(day, (12 * 3600 + 31 * 60 + 15) * 1000); // off
    text("UA3AAA");
    text("KO85");
    u64(14074000 + 1500);
    text("FT8");
    text("-12");
    text("+03");
    text("100");
    text("tnx");
    text("\xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd");                    // Иван
    dateTime(dayOn ? dayOn : day, (12 * 3600 + 30 * 60) * 1000); // on
    return b;
}

QStringList logDump(TDM& dm) {
    QStringList out;
    Table& log = *dm.dsMain;
    for (log.first(); !log.eof(); log.next()) {
        QStringList r;
        for (const QString& f : {fld::CorCallName, fld::CorSuffix, fld::Band, fld::Mode, fld::CorRS,
                                 fld::MyRS, fld::MyPower, fld::CorName, fld::Notice})
            r << log.fieldByName(f).asString();
        r << log.fieldByName(fld::Time).asDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"));
        out << r.join(QLatin1Char('|'));
    }
    return out;
}

IncomingQso qso(const QString& call, const QString& utc, double hz, const QString& mode) {
    IncomingQso q;
    q.call = call;
    q.timeUtc = QDateTime::fromString(utc, Qt::ISODate);
    q.timeUtc.setTimeZone(QTimeZone::utc());
    q.hz = hz;
    q.mode = mode;
    return q;
}

} // namespace

class TestRigData : public QObject {
    Q_OBJECT
  private slots:
    void planBandOfName_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("band");
        QTest::newRow("adif") << "20m"
                              << "20m";
        QTest::newRow("cyrillic") << "20 м"
                                  << "20m";
        QTest::newRow("upper cyrillic") << "2М"
                                        << "2m";
        QTest::newRow("centimetres") << "70 см"
                                     << "70cm";
        QTest::newRow("comma") << "1,25м"
                               << "1.25m";
        QTest::newRow("bare metres") << "160"
                                     << "160m";
        QTest::newRow("bare 40 is metres") << "40"
                                           << "40m";
        QTest::newRow("bare MHz") << "14"
                                  << "20m";
        QTest::newRow("MHz cyrillic") << "144 МГц"
                                      << "2m";
        QTest::newRow("decimal MHz") << "3,5"
                                     << "80m";
        QTest::newRow("GHz") << "1,3 ГГц"
                             << "23cm";
        QTest::newRow("kHz cyrillic") << "7100 кГц"
                                      << "40m";
        QTest::newRow("kHz") << "14200kHz"
                             << "20m";
        QTest::newRow("not a band") << "КВ"
                                    << "";
        QTest::newRow("no band there") << "20 МГц"
                                       << "";
    }
    void planBandOfName() {
        QFETCH(QString, name);
        QFETCH(QString, band);
        const PlanBand* b = rig::planBandOfName(name);
        QCOMPARE(b ? QString::fromLatin1(b->name) : QString(), band);
    }

    // Begin and End in kHz win over the name; the first band that holds the
    // frequency wins; a band without edges holds its plan band's.
    void bandOfFrequency() {
        Dm d;
        Table& bands = *d.dm.dsBands;
        const int b20 = addRow(bands, {{fld::Name, "20 м"}});
        const int b40 =
            addRow(bands, {{fld::Name, "40m"}, {fld::Begin, 7000.0}, {fld::End, 7050.0}});
        const int cw =
            addRow(bands, {{fld::Name, "CW-участок"}, {fld::Begin, 14000.0}, {fld::End, 14070.0}});
        const int b2 = addRow(bands, {{fld::Name, "144"}});
        addRow(bands, {{fld::Name, "УКВ"}});
        bands.locate(fld::ID, b2);
        const std::pair<double, int> cases[] = {
            {14074000, b20}, {14035000, b20},               // 20 м comes first
            {7000000, b40},  {7050000, b40},  {7100000, 0}, // edges in kHz, both inside
            {145500000, b2}, {3600000, 0},    {0, 0}};
        for (auto [hz, id] : cases)
            QVERIFY2(bandIdOfFrequency(bands, hz) == id, qPrintable(QString::number(hz)));
        QCOMPARE(bands.fieldByName(fld::ID).asInteger(), b2); // the cursor stayed
        Q_UNUSED(cw);
    }

    void modeForRadio_data() {
        QTest::addColumn<QString>("radio");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("expected");
        const QStringList usual = {"AM", "CW", "FM", "FT8", "ssb", "DIGI"};
        QTest::newRow("usb") << "USB" << usual << ""
                             << "ssb";
        QTest::newRow("lsb") << "LSB" << usual << "CW"
                             << "ssb";
        QTest::newRow("usb without ssb") << "USB" << QStringList{"USB", "LSB"} << ""
                                         << "USB";
        QTest::newRow("cwr") << "CWR" << usual << ""
                             << "CW";
        QTest::newRow("wide fm") << "WFM" << usual << ""
                                 << "FM";
        QTest::newRow("sync am") << "SAM" << usual << ""
                                 << "AM";
        QTest::newRow("rtty missing") << "RTTY" << usual << "CW"
                                      << "";
        QTest::newRow("data keeps ft8") << "PKTUSB" << usual << "FT8"
                                        << "";
        QTest::newRow("data after ssb") << "PKTUSB" << usual << "ssb"
                                        << "DIGI";
        QTest::newRow("data, nothing") << "PKTLSB" << QStringList{"CW"} << ""
                                       << "";
        QTest::newRow("unknown") << "ECSSUSB" << usual << ""
                                 << "";
    }
    void modeForRadio() {
        QFETCH(QString, radio);
        QFETCH(QStringList, entries);
        QFETCH(QString, selected);
        QFETCH(QString, expected);
        QCOMPARE(modeEntryForRadio(radio, entries, selected), expected);
    }

    // The decoder reads WSJT-X's own layout, not just what the encoder writes.
    void decodesWsjtxLayout() {
        for (quint32 schema : {2u, 3u}) {
            WsjtxQso q;
            QCOMPARE(decodeWsjtx(handMadeQsoLogged(schema), &q), WsjtxDecode::Qso);
            QCOMPARE(q.type, 5u);
            QCOMPARE(q.id, QStringLiteral("WSJT-X"));
            QCOMPARE(q.call, QStringLiteral("UA3AAA"));
            QCOMPARE(q.txFrequency, quint64(14075500));
            QCOMPARE(q.mode, QStringLiteral("FT8"));
            QCOMPARE(q.name, QStringLiteral("Иван"));
            QCOMPARE(q.timeOn, QDateTime(QDate(2024, 5, 17), QTime(12, 30), QTimeZone::utc()));
            QCOMPARE(q.timeOff, QDateTime(QDate(2024, 5, 17), QTime(12, 31, 15), QTimeZone::utc()));
            // and the encoder writes the same bytes
            QCOMPARE(encodeWsjtx(q, schema).left(handMadeQsoLogged(schema).size()),
                     handMadeQsoLogged(schema));
        }
        // older versions end after the name: the QSO is taken at its end
        WsjtxQso old;
        QCOMPARE(decodeWsjtx(handMadeQsoLogged(2).chopped(13), &old), WsjtxDecode::Qso);
        QCOMPARE(old.timeOn, QDateTime(QDate(2024, 5, 17), QTime(12, 31, 15), QTimeZone::utc()));
        // a logged ADIF record's date and time are UTC (the test runs in Moscow)
        WsjtxQso adif;
        adif.type = kWsjtxLoggedAdif;
        adif.adif = QStringLiteral("<call:5>R1ABC <qso_date:8>20240517 <time_on:4>1230 <eor>");
        IncomingQso in;
        QString why;
        QVERIFY(incomingFrom(adif, &in, &why));
        QCOMPARE(in.timeUtc, QDateTime(QDate(2024, 5, 17), QTime(12, 30), QTimeZone::utc()));
    }

    void decodeRefuses() {
        WsjtxQso q;
        q.type = kWsjtxLoggedAdif;
        q.id = QStringLiteral("WSJT-X");
        q.adif = QStringLiteral("<call:6>R1ABC <eor>");
        const QByteArray adif = encodeWsjtx(q);
        QByteArray otherMagic = adif;
        otherMagic[0] = 0x12;
        QByteArray schema1 = handMadeQsoLogged(2);
        schema1[7] = 1;
        QByteArray bigType = handMadeQsoLogged(3);
        bigType[11] = 99;
        const std::pair<QByteArray, WsjtxDecode> cases[] = {
            {adif, WsjtxDecode::Qso},
            {encodeWsjtxHeartbeat(QStringLiteral("WSJT-X")), WsjtxDecode::Other},
            {QByteArray(), WsjtxDecode::Foreign},
            {QByteArray("hello, world"), WsjtxDecode::Foreign},
            {otherMagic, WsjtxDecode::Foreign},
            {schema1, WsjtxDecode::Foreign},
            {bigType, WsjtxDecode::Malformed},
            {handMadeQsoLogged(3).left(40), WsjtxDecode::Malformed},
            // dates no log holds
            {handMadeQsoLogged(3, QDate(10000, 1, 1).toJulianDay()), WsjtxDecode::Malformed},
            {handMadeQsoLogged(3, QDate(1899, 12, 31).toJulianDay()), WsjtxDecode::Malformed},
            {adif.left(adif.size() - 3), WsjtxDecode::Malformed},
        };
        int i = 0;
        for (const auto& [bytes, expected] : cases) {
            WsjtxQso out;
            QVERIFY2(decodeWsjtx(bytes, &out) == expected, qPrintable(QString::number(i)));
            ++i;
        }
        WsjtxQso out;
        QCOMPARE(decodeWsjtx(adif, &out), WsjtxDecode::Qso);
        QCOMPARE(out.adif, q.adif);
    }

    // Text settings sit beside the numbers; LastBand reads as before.
    void settingsRows() {
        Dm d;
        TDM& dm = d.dm;
        dm.SetIntSetting(setting::LastBand, 7);
        RigSettings r;
        r.enabled = true;
        r.connection = RigSettings::Rigctld;
        r.model = 1035;
        r.device = QStringLiteral("/dev/ttyUSB0");
        r.speed = 38400;
        r.address = QStringLiteral("shack.local:4532");
        WsjtxSettings w{true, QStringLiteral("224.0.0.1"), 2238};
        saveRigSettings(dm, r);
        saveWsjtxSettings(dm, w);
        dm.SaveAll();
        dm.CloseTables();
        TDM again;
        again.DataDir = d.dir.path();
        again.OpenTables();
        QCOMPARE(loadRigSettings(again), r);
        QCOMPARE(loadWsjtxSettings(again), w);
        QCOMPARE(again.GetIntSetting(setting::LastBand, 0), 7);
        QCOMPARE(again.GetTextSetting(QStringLiteral("rigdevice"), {}), r.device);
        // the number a text row does not hold reads as the default
        QCOMPARE(again.GetIntSetting(setting::RigDevice, -1), -1);
        // too long for the field: refused, nothing changed
        QVERIFY_THROWS_EXCEPTION(DbError,
                                 again.SetTextSetting(setting::RigAddress, QString(256, 'x')));
        QCOMPARE(loadRigSettings(again).address, r.address);
        // emptied: the default again
        again.SetTextSetting(setting::RigAddress, QString());
        QCOMPARE(loadRigSettings(again).address, RigSettings().address);
        // numbers no port or speed can be: the defaults, the rest kept
        for (int port : {-1, 65536}) {
            again.SetIntSetting(setting::WsjtxPort, port);
            QCOMPARE(loadWsjtxSettings(again).port, WsjtxSettings().port);
        }
        again.SetIntSetting(setting::RigSpeed, -9600);
        QCOMPARE(loadRigSettings(again).speed, 0);
        again.CloseTables();
    }

    // QSOs written as a save writes them: lists found or added, the
    // correspondent's missing name filled in and a stored one kept, the
    // same QSO (call, minute, band, mode) skipped, the cursor kept.
    void loggerWrites() {
        Dm d;
        TDM& dm = d.dm;
        const int b20 = addRow(*dm.dsBands, {{fld::Name, "20 м"}});
        addRow(*dm.dsModes, {{fld::Name, "ft8"}});
        const int petr = addRow(*dm.dsNames, {{fld::Value, "Пётр"}});
        addRow(*dm.dsCors, {{fld::CallName, "UA3AAA"}, {fld::NameID, petr}});
        addRow(*dm.dsCors, {{fld::CallName, "R1ABC"}});
        const int corB = dm.dsCors->fieldByName(fld::ID).asInteger();
        dm.dsMain->append();
        dm.dsMain->fieldByName(fld::CorID).setAsInteger(corB);
        dm.dsMain->fieldByName(fld::Notice).setAsString(QStringLiteral("old"));
        dm.dsMain->fieldByName(fld::Time).setAsDateTime(QDateTime(QDate(2024, 1, 1), QTime(10, 0)));
        dm.dsMain->post();
        const int oldId = dm.dsMain->fieldByName(fld::ID).asInteger();
        dm.SaveAll();
        int scrolls = 0;
        dm.OnLogScroll = [&](Table&) { ++scrolls; };

        QsoLogger logger(&dm);
        IncomingQso a = qso("UA3AAA", "2024-05-17T12:30:10", 14074500, "FT8");
        a.name = QStringLiteral("Иван");
        a.reportSent = QStringLiteral("-12");
        a.reportReceived = QStringLiteral("+03");
        a.txPower = QStringLiteral("100W");
        a.comment = QStringLiteral("tnx");
        IncomingQso b = qso("r1abc/p", "2024-05-17T12:31:00", 7074000, "FT4");
        b.name = QStringLiteral("Иван");
        IncomingQso c = qso("DL1ABC", "2024-05-17T12:40:00", 0, "CW");
        c.band = QStringLiteral("40m");
        IncomingQso other = qso("UA3AAA", "2024-05-17T12:30:30", 7074000, "FT8");
        other.txPower = QStringLiteral("5,5 Вт");
        using K = LogOutcome::Kind;
        const std::pair<IncomingQso, K> steps[] = {
            {a, K::Logged},
            {qso("UA3AAA", "2024-05-17T12:30:59", 14076000, "ft8"), K::Duplicate},
            {qso("UA3AAA", "2024-05-17T12:31:00", 14074000, "FT8"), K::Logged},
            {b, K::Logged},
            {other, K::Logged}, // the minute of the first, on a band the list has now
            {qso("R1ABC/P", "2024-05-17T12:31:40", 7074000, "FT4"), K::Duplicate},
            {qso("R1ABC", "2024-05-17T12:31:40", 7074000, "FT4"), K::Logged}, // no suffix
            {c, K::Logged},
            {qso("EA8/DL1ABC", "2024-05-17T12:41:00", 0, "CW"), K::Refused},
        };
        QList<K> kinds;
        for (const auto& [q, kind] : steps)
            kinds << logger.write(q).kind;
        QList<K> expected;
        for (const auto& [q, kind] : steps)
            expected << kind;
        QCOMPARE(kinds, expected);
        QCOMPARE(dm.dsMain->fieldByName(fld::ID).asInteger(), oldId); // the cursor is back
        QCOMPARE(scrolls, 0);                                         // no preview moved
        QVERIFY(!dm.IsModified(*dm.dsMain));                          // all written

        // read back from the files
        TDM disk;
        disk.DataDir = d.dir.path();
        disk.OpenTables();
        // Moscow, three hours ahead of UTC (the test runs with TZ=Europe/Moscow)
        auto at = [&](int minutes) {
            return QDateTime(QDate(2024, 5, 17), QTime(15, 30))
                .addSecs(minutes * 60)
                .toString(QStringLiteral("yyyy-MM-dd HH:mm"));
        };
        QCOMPARE(logDump(disk),
                 (QStringList{
                     "DL1ABC||40m|CW||||||" + at(10),
                     "R1ABC||40m|FT4||||Иван||" + at(1),
                     "UA3AAA||40m|ft8|||5" + QLocale().decimalPoint() + "5|Пётр||" + at(0),
                     "R1ABC|P|40m|FT4||||Иван||" + at(1),
                     "UA3AAA||20 м|ft8||||Пётр||" + at(1),
                     "UA3AAA||20 м|ft8|-12|+03|100|Пётр|tnx|" + at(0),
                     "R1ABC|||||||Иван|old|2024-01-01 10:00",
                 }));
        QCOMPARE(disk.dsNames->recordCount(), 2); // Иван once, for R1ABC only
        QCOMPARE(disk.dsBands->recordCount(), 2); // 40m added by its ADIF name
        Q_UNUSED(b20);
        disk.CloseTables();
    }
};

QTEST_GUILESS_MAIN(TestRigData)
#include "tst_rigdata.moc"
