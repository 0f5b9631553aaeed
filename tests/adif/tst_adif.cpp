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
    for (auto it = r.encodings.begin(); it != r.encodings.end(); ++it)
        out << it.key() + ": " + QString::number(it.value());
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

QByteArray utf16(const QString& s, bool littleEndian, bool mark) {
    QByteArray b;
    if (mark) b += littleEndian ? "\xFF\xFE" : "\xFE\xFF";
    for (QChar c : s) {
        const char lo = char(c.unicode() & 0xFF), hi = char(c.unicode() >> 8);
        b.append(littleEndian ? lo : hi).append(littleEndian ? hi : lo);
    }
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
            << QStringList{"1: CALL=R1ABC|NAME=Иван|QTH=Omsk", "UTF-8: 1"};
        QTest::newRow("UTF-8, lengths in characters")
            << QStringLiteral("<EOH><CALL:5>R1ABC<NAME:4>Иван <QTH:4>Омск<EOR>").toUtf8()
            << QStringList{"1: CALL=R1ABC|NAME=Иван|QTH=Омск", "lengths counted in characters x2",
                           "UTF-8: 2"};
        QTest::newRow("Windows-1251")
            << QByteArray("<EOH><CALL:5>R1ABC<NAME:4>" + cp1251(QStringLiteral("Пётр")) +
                          "<EOR><CALL:5>R1ABD<EOR>")
            << QStringList{"1: CALL=R1ABC|NAME=Пётр", "2: CALL=R1ABD", "Windows-1251: 1"};
        QTest::newRow("both readings fit: bytes, the blanks after it ignored")
            << QStringLiteral("<EOH><NAME:3>Я   <EOR>").toUtf8()
            << QStringList{"1: NAME=Я ", "UTF-8: 1"};
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
            << QStringList{"1: CALL=R1ABC|NAME=Иван|APP_X_Y=z", "UTF-8: 1"};
        QTest::newRow("ADX cut short")
            << QByteArray("<?xml version=\"1.0\"?><ADX><RECORDS><RECORD><CALL>R1ABC</CALL>")
            << QStringList{"error: the XML is not well-formed at line 1, column 61: Premature "
                           "end of document."};
    }
    void readsWhatOthersWrite() {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, expected);
        QCOMPARE(lines(read(file)).join("\n"), expected.join("\n"));
    }

    // Each field's text as its writer meant it, whatever the file's
    // encoding; told per field and counted.
    void readsTextInEveryEncoding_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("forced");
        QTest::addColumn<QStringList>("expected");
        const int none = int(Encoding::Auto);
        const QString adi = QStringLiteral("<CALL:5>R1ABC<NAME:4>Пётр<QTH:5>Zürch<EOR>");
        QTest::newRow("UTF-8 with a mark, no header")
            << "\xEF\xBB\xBF" + adi.toUtf8() << none
            << QStringList{"1: CALL=R1ABC|NAME=Пётр|QTH=Zürch", "lengths counted in characters x2",
                           "UTF-8: 2"};
        QTest::newRow("UTF-16LE with a mark")
            << utf16(adi, true, true) << none
            << QStringList{"1: CALL=R1ABC|NAME=Пётр|QTH=Zürch", "UTF-16LE: 2"};
        QTest::newRow("UTF-16BE with a mark")
            << utf16(adi, false, true) << none
            << QStringList{"1: CALL=R1ABC|NAME=Пётр|QTH=Zürch", "UTF-16BE: 2"};
        QTest::newRow("UTF-16LE known by its zero bytes")
            << utf16("<EOH>" + adi, true, false) << none
            << QStringList{"1: CALL=R1ABC|NAME=Пётр|QTH=Zürch", "UTF-16LE: 2"};
        // one file, a field of each kind: no field decides for another
        QTest::newRow("UTF-8, Windows-1251 and Windows-1252 fields in one file")
            << QByteArray("<EOH><CALL:5>R1ABC<NAME:8>" + QStringLiteral("Пётр").toUtf8() +
                          "<EOR><CALL:5>R1ABD<NAME:4>" + cp1251(QStringLiteral("Иван")) +
                          "<QTH:6>" + cp1251(QStringLiteral("Москва")) + "<EOR><CALL:5>EA1AB" +
                          "<NAME:10>" + QStringLiteral("Juán Muñoz").toLatin1() + "<QTH:6>" +
                          QStringLiteral("Málaga").toLatin1() + "<EOR>")
            << none
            << QStringList{"1: CALL=R1ABC|NAME=Пётр",
                           "2: CALL=R1ABD|NAME=Иван|QTH=Москва",
                           "3: CALL=EA1AB|NAME=Juán Muñoz|QTH=Málaga",
                           "UTF-8: 1",
                           "Windows-1251: 2",
                           "Windows-1252: 2"};
        // "№5" reads "¹5" in Windows-1252: nothing in it tells which
        const QByteArray number("\xB9"
                                "5");
        QTest::newRow("an undecided field takes what the file's other fields show")
            << QByteArray("<EOH><CALL:5>R1ABC<QTH:6>" + cp1251(QStringLiteral("Москва")) +
                          "<EOR><CALL:5>R1ABD<QTH:2>" + number + "<EOR>")
            << none
            << QStringList{"1: CALL=R1ABC|QTH=Москва", "2: CALL=R1ABD|QTH=№5", "Windows-1251: 2"};
        QTest::newRow("an undecided field in a file of both code pages: refused")
            << QByteArray("<EOH><CALL:5>R1ABC<QTH:6>" + cp1251(QStringLiteral("Москва")) +
                          "<EOR><CALL:5>EA1AB<QTH:6>" + QStringLiteral("Málaga").toLatin1() +
                          "<EOR><CALL:5>R1ABD<QTH:2>" + number + "<EOR>")
            << none
            << QStringList{"1: CALL=R1ABC|QTH=Москва", "2: CALL=EA1AB|QTH=Málaga",
                           "3 refused: the text of field QTH is neither UTF-8 nor clearly "
                           "Windows-1251 or Windows-1252",
                           "Windows-1251: 1", "Windows-1252: 1"};
        QTest::newRow("an undecided field and nothing else: refused with the reason")
            << QByteArray("<EOH><CALL:5>R1ABC<QTH:2>" + number + "<EOR><CALL:5>R1ABD<EOR>") << none
            << QStringList{"2: CALL=R1ABD",
                           "1 refused: the text of field QTH is neither UTF-8 nor clearly "
                           "Windows-1251 or Windows-1252"};
        QTest::newRow("forced: Windows-1252 read as told")
            << QByteArray("<EOH><CALL:5>R1ABC<NAME:4>" + cp1251(QStringLiteral("Иван")) + "<EOR>")
            << int(Encoding::Cp1252) << QStringList{"1: CALL=R1ABC|NAME=Èâàí", "Windows-1252: 1"};
        QTest::newRow("forced: UTF-8, a field that is not: refused")
            << QByteArray("<EOH><CALL:5>R1ABC<NAME:4>" + cp1251(QStringLiteral("Иван")) +
                          "<EOR><CALL:5>R1ABD<NAME:2>Ян<EOR>")
            << int(Encoding::Utf8)
            << QStringList{"2: CALL=R1ABD|NAME=Ян", "1 refused: field NAME is not valid UTF-8",
                           "lengths counted in characters x1", "UTF-8: 1"};
        // a surrogate and an overlong form are not UTF-8: Windows-1251 then
        QTest::newRow("UTF-8 lookalikes")
            << QByteArray("<EOH><CALL:5>R1ABC<QTH:6>\xED\xA0\x80\xEF\xF0\xE5<EOR>"
                          "<CALL:5>R1ABD<QTH:6>\xC0\x80\xEF\xF0\xE5\xEB<EOR>")
            << none
            << QStringList{"1: CALL=R1ABC|QTH=н\u00A0Ђпре", "2: CALL=R1ABD|QTH=АЂпрел",
                           "Windows-1251: 2"};
        // ё and № lie below the code page's capital letters
        QTest::newRow("Windows-1251 below its capital letters")
            << QByteArray("<EOH><CALL:5>R1ABC<QTH:5>\xB8\xE6 \xB9"
                          "5<EOR>")
            << none << QStringList{"1: CALL=R1ABC|QTH=ёж №5", "Windows-1251: 1"};
        // the whole field is checked, however long
        const QString longAscii(1100, u'a');
        QTest::newRow("a field that is not UTF-8 only after its first kibibyte")
            << QByteArray("<EOH><CALL:5>R1ABC<QTH:1107>" + longAscii.toLatin1() + " " +
                          cp1251(QStringLiteral("Москва")) + "<EOR>")
            << none
            << QStringList{"1: CALL=R1ABC|QTH=" + longAscii + QStringLiteral(" Москва"),
                           "Windows-1251: 1"};
        // ADX: the mark, then the declaration, then each field as in ADI
        const QString adx = QStringLiteral(
            "<ADX><RECORDS><RECORD><CALL>R1ABC</CALL><NAME>Иван</NAME></RECORD></RECORDS></ADX>");
        QTest::newRow("ADX in UTF-16LE with a mark")
            << utf16("<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + adx, true, true) << none
            << QStringList{"1: CALL=R1ABC|NAME=Иван", "UTF-16LE: 1"};
        QTest::newRow("ADX in UTF-8 with a mark")
            << "\xEF\xBB\xBF<?xml version=\"1.0\"?>" + adx.toUtf8() << none
            << QStringList{"1: CALL=R1ABC|NAME=Иван", "UTF-8: 1"};
        QTest::newRow("ADX declared Windows-1251")
            << "<?xml version=\"1.0\" encoding=\"windows-1251\"?>" + cp1251(adx) << none
            << QStringList{"1: CALL=R1ABC|NAME=Иван", "Windows-1251: 1"};
        QTest::newRow("ADX declared UTF-8 holding Windows-1251 and -1252 fields")
            << "<?xml version=\"1.0\"?>" +
                   cp1251(adx).replace("</RECORDS>", "<RECORD><CALL>EA1A</CALL><NAME>" +
                                                         QStringLiteral("Muñoz").toLatin1() +
                                                         "</NAME></RECORD></RECORDS>")
            << none
            << QStringList{"1: CALL=R1ABC|NAME=Иван", "2: CALL=EA1A|NAME=Muñoz", "Windows-1251: 1",
                           "Windows-1252: 1"};
        QTest::newRow("ADX in an encoding QARDEL does not read")
            << QByteArray("<?xml version=\"1.0\" encoding=\"koi8-r\"?><ADX></ADX>") << none
            << QStringList{"error: the file's encoding 'koi8-r' is not supported"};
    }
    void readsTextInEveryEncoding() {
        QFETCH(QByteArray, file);
        QFETCH(int, forced);
        QFETCH(QStringList, expected);
        QCOMPARE(lines(read(file, Encoding(forced))).join("\n"), expected.join("\n"));
    }

    // The international form of a field is its whole text, whichever comes
    // first; hostile files cost bounded work and refuse only what they spoil.
    void internationalFieldsAndHostileInput_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("expected");
        for (bool intlFirst : {false, true}) {
            const QString plain = "<NAME>Ivan</NAME><QTH>Moskva</QTH>",
                          intl = "<NAME_INTL>Иван</NAME_INTL><QTH_INTL>Москва</QTH_INTL>";
            QTest::addRow("ADX, _INTL %s", intlFirst ? "first" : "last")
                << ("<ADX><RECORDS><RECORD><CALL>R1ABC</CALL>" +
                    (intlFirst ? intl + plain : plain + intl) + "</RECORD></RECORDS></ADX>")
                       .toUtf8()
                << QStringList{intlFirst ? "1: CALL=R1ABC|NAME=Иван|QTH=Москва"
                                         : "1: CALL=R1ABC|NAME=Иван|QTH=Москва",
                               "UTF-8: 2"};
        }
        QTest::newRow("ADI, _INTL first")
            << QStringLiteral("<EOH><NAME_INTL:8>Иван<NAME:4>Ivan<CALL:5>R1ABC<EOR>").toUtf8()
            << QStringList{"1: NAME=Иван|CALL=R1ABC", "UTF-8: 1"};
        QTest::newRow("a field given twice: the last one holds")
            << QByteArray("<EOH><CALL:3>R1A<NAME:4>Ivan<QTH:1>X<NAME:4>Petr<EOR>")
            << QStringList{"1: CALL=R1A|NAME=Petr|QTH=X"};
        QTest::newRow("an _INTL that ADIF does not define stays as it is")
            << QByteArray("<EOH><CALL_INTL:5>R1ABC<EOR>") << QStringList{"1: CALL_INTL=R1ABC"};
        const QByteArray deep = QByteArray("<a>").repeated(100000);
        QTest::newRow("ADX nested 100 000 deep inside a record")
            << "<ADX><RECORDS><RECORD><CALL>R1A</CALL><X>" + deep +
                   QByteArray("</a>").repeated(100000) +
                   "</X></RECORD><RECORD><CALL>R1B</CALL></RECORD></RECORDS></ADX>"
            << QStringList{"2: CALL=R1B", "1 refused: elements nest deeper than 8 in the record"};
        const QByteArray huge(kMaxRecordBytes + 10, 'x');
        QTest::newRow("ADI record over the cap")
            << "<EOH><CALL:3>R1A<NOTES:" + QByteArray::number(huge.size()) + ">" + huge +
                   "<EOR><CALL:3>R1B<EOR>"
            << QStringList{"2: CALL=R1B", "1 refused: the record is larger than 1 MiB"};
        QTest::newRow("ADX record over the cap")
            << "<ADX><RECORDS><RECORD><CALL>R1A</CALL><NOTES>" + huge +
                   "</NOTES></RECORD><RECORD><CALL>R1B</CALL></RECORD></RECORDS></ADX>"
            << QStringList{"2: CALL=R1B", "1 refused: the record is larger than 1 MiB"};
        QTest::newRow("lengths with too many digits or none are no tags")
            << QByteArray("<EOH><CALL:3>R1A<NAME:99999999999999999999>X<QTH:>Y<EOR>")
            << QStringList{"1: CALL=R1A"};
        QTest::newRow("a length that counts a 4-byte character as one")
            << QStringLiteral("<EOH><CALL:3>R1A<NAME:2>😀я<EOR>").toUtf8()
            << QStringList{"1: CALL=R1A|NAME=😀я", "lengths counted in characters x1", "UTF-8: 1"};
    }
    void internationalFieldsAndHostileInput() {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, expected);
        QCOMPARE(lines(read(file)).join("\n"), expected.join("\n"));
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
            // the international form only where the text needs it
            if (adx)
                QVERIFY2(file.contains("<NAME_INTL>") && file.contains("<COMMENT") &&
                             !file.contains("<COMMENT_INTL") && !file.contains("<RST_SENT_INTL"),
                         file.constData());
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
