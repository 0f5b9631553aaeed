// ADIF's two forms: what other programs write is read field for field, with
// every repair counted and nothing guessed; what QARDEL writes reads back
// exactly.
#include "adif/Adif.h"

#include <QtTest>

using namespace qardel::adif;

namespace {

// A record as one line: NAME=value|NAME=value …
QString line(const Record& r) {
    QStringList parts;
    for (const Field& f : r.fields)
        parts << f.name + "=" + f.value;
    return parts.join('|');
}

QStringList lines(const ReadResult& r) {
    QStringList out;
    for (const Record& rec : r.records)
        out << QString::number(rec.number) + ": " + line(rec);
    for (const Refusal& f : r.refused)
        out << QString::number(f.number) + " refused: " + f.reason;
    for (auto it = r.repairs.begin(); it != r.repairs.end(); ++it)
        out << it.key() + " x" + QString::number(it.value());
    if (!r.error.isEmpty()) out << "error: " + r.error;
    return out;
}

QByteArray cp1251(const QString& s) {
    QByteArray b;
    for (QChar c : s)
        b += c.unicode() < 0x80   ? char(c.unicode())
             : c == QChar(0x0401) ? char(0xA8)
             : c == QChar(0x0451) ? char(0xB8)
                                  : char(0xC0 + c.unicode() - 0x0410);
    return b;
}

} // namespace

class TestAdif : public QObject {
    Q_OBJECT
  private slots:
    void readsWhatOthersWrite_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("no header, lower-case tags, type indicators, CRLF")
            << QByteArray("<call:6>UA3AAA<qso_date:8:D>20240105\r\n<Time_On:4>1230 <eor>\r\n")
            << QStringList{"1: CALL=UA3AAA|QSO_DATE=20240105|TIME_ON=1230"};
        QTest::newRow("header, no final newline, a comment between fields")
            << QByteArray("exported\n<ADIF_VER:5>3.1.4 <EOH>\n<CALL:5>R1ABC note <BAND:3>20m<EOR>")
            << QStringList{"1: CALL=R1ABC|BAND=20m"};
        QTest::newRow("UTF-8, lengths in bytes")
            << QStringLiteral("<EOH><CALL:5>R1ABC<NAME:8>Иван <QTH:4>Omsk<EOR>").toUtf8()
            << QStringList{"1: CALL=R1ABC|NAME=Иван|QTH=Omsk"};
        QTest::newRow("UTF-8, lengths in characters")
            << QStringLiteral("<EOH><CALL:5>R1ABC<NAME:4>Иван <QTH:4>Омск<EOR>").toUtf8()
            << QStringList{"1: CALL=R1ABC|NAME=Иван|QTH=Омск", "lengths counted in characters x2"};
        QTest::newRow("Windows-1251")
            << QByteArray("<EOH><CALL:5>R1ABC<NAME:4>" + cp1251(QStringLiteral("Пётр")) +
                          "<EOR><CALL:5>R1ABD<EOR>")
            << QStringList{"1: CALL=R1ABC|NAME=Пётр", "2: CALL=R1ABD", "text in Windows-1251 x1"};
        QTest::newRow("both readings fit: bytes, the blanks after it ignored")
            << QStringLiteral("<EOH><NAME:3>Я   <EOR>").toUtf8() << QStringList{"1: NAME=Я "};
        QTest::newRow("neither reading fits: that record refused alone")
            << QStringLiteral("<EOH><CALL:5>R1ABC<NAME:3>ЯЯЯЯ<EOR><CALL:5>R1ABD<EOR>").toUtf8()
            << QStringList{"2: CALL=R1ABD",
                           "1 refused: the length of field NAME fits neither its bytes nor its "
                           "characters"};
        QTest::newRow("a record without its end")
            << QByteArray("<EOH><CALL:5>R1ABC<EOR><CALL:5>R1ABD")
            << QStringList{"1: CALL=R1ABC", "2 refused: the record has no end (<EOR>)"};
        QTest::newRow("a length past the end")
            << QByteArray("<EOH><CALL:50>R1ABC<EOR>")
            << QStringList{"1 refused: the length of field CALL fits neither its bytes nor its "
                           "characters"};
        QTest::newRow("a header that begins with a tag")
            << QByteArray("<ADIF_VER:5>3.1.4<EOH><CALL:5>R1ABC<EOR>")
            << QStringList{"1: CALL=R1ABC"};
        QTest::newRow("a header without its end")
            << QByteArray("header text <ADIF_VER:5>3.1.4")
            << QStringList{"error: the header has no end (<EOH>)"};
        QTest::newRow("ADX with international fields and an application field")
            << QStringLiteral(
                   "<?xml version=\"1.0\"?><ADX><HEADER><ADIF_VER>3.1.4</ADIF_VER></HEADER>"
                   "<RECORDS><RECORD><CALL>R1ABC</CALL><NAME_INTL>Иван</NAME_INTL>"
                   "<APP PROGRAMID=\"x\" FIELDNAME=\"y\" TYPE=\"S\">z</APP></RECORD></RECORDS>"
                   "</ADX>")
                   .toUtf8()
            << QStringList{"1: CALL=R1ABC|NAME=Иван|APP_X_Y=z"};
        QTest::newRow("ADX cut short")
            << QByteArray("<?xml version=\"1.0\"?><ADX><RECORDS><RECORD><CALL>R1ABC</CALL>")
            << QStringList{"error: the XML is not well-formed at line 1, column 61: Premature "
                           "end of document."};
    }
    void readsWhatOthersWrite() {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, expected);
        QCOMPARE(lines(read(file)), expected);
    }

    void roundTripsBothForms() {
        QList<Record> records;
        Record a;
        a.set("CALL", "UA3AAA");
        a.set("NAME", QStringLiteral("Фёдор"));
        a.set("QTH", QStringLiteral("Zürich 😀 <b> & \"q\""));
        a.set("NOTES", QStringLiteral("строка 1\nстрока 2\r\n<EOR> in text"));
        a.set("RST_SENT", "59");
        Record b;
        b.set("CALL", "R9ZZZ");
        b.set("COMMENT", "");
        records << a << b;
        for (int i = 0; i < records.size(); ++i)
            records[i].number = i + 1;
        for (bool adx : {false, true}) {
            const QByteArray file =
                adx ? writeAdx(records, "QARDEL", "1.0") : writeAdi(records, "QARDEL", "1.0");
            QCOMPARE(looksLikeAdx(file), adx);
            const ReadResult r = read(file);
            QCOMPARE(r.error, QString());
            QCOMPARE(r.repairs.size(), 0);
            QCOMPARE(r.records.size(), 2);
            for (int i = 0; i < 2; ++i)
                QCOMPARE(line(r.records[i]), line(records[i]));
        }
        // a reader of ASCII counting bytes finds every field where it is
        const QByteArray adi = writeAdi(records, "QARDEL", "1.0");
        const qsizetype at = adi.indexOf("<RST_SENT:2>");
        QVERIFY(at > 0);
        QCOMPARE(adi.mid(at + 12, 2), QByteArray("59"));
    }
};

QTEST_GUILESS_MAIN(TestAdif)
#include "tst_adif.moc"
