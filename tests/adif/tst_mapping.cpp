// A log taken out as ADI or ADX and brought into an empty folder comes back
// field for field; brought in again it adds nothing; what cannot be held is
// refused, never cut.
#include "TestUtil.h"
#include "adif/Mapping.h"
#include "data/DataTestUtil.h"
#include "data/Fields.h"
#include "data/TableColumn.h"

#include <QTimeZone>
#include <QtTest>

#include <cmath>

using namespace qardel;
using testutil::addRow;

namespace {

// Every QSO as the program shows it, newest first, with the exact powers.
QStringList view(TDM& dm) {
    QStringList out;
    Table& m = *dm.dsMain;
    auto s = [&m](const QString& f) { return m.fieldByName(f).asString(); };
    for (m.first(); !m.eof(); m.next()) {
        const int cor = m.fieldByName(fld::CorID).asInteger();
        QStringList q;
        for (const QString& f :
             {fld::Time, fld::CorCallName, fld::CorSuffix, fld::CorName, fld::CorCity,
              fld::CorCountry, fld::Band, fld::Mode, fld::Notice, fld::Repeater})
            q << s(f);
        for (const QString& f : {fld::CorPower, fld::MyPower})
            q << (m.fieldByName(f).isNull() ? "null"
                                            : QString::number(m.fieldByName(f).asFloat(), 'g', 17));
        for (const QString& f : {fld::CorRSID, fld::MyRSID})
            q << dm.dsRS->lookupValue(fld::ID, m.fieldByName(f).value(), fld::Value, 20).toString();
        q << dm.dsCors->lookupValue(fld::ID, cor, fld::City, 50).toString()
          << dm.dsCors->lookupValue(fld::ID, cor, fld::Country, 50).toString();
        out << q.join('|');
    }
    return out;
}

void fillLog(TDM& dm) {
    const int ssb = addRow(*dm.dsModes, {{"Name", "USB"}});
    const int own = addRow(*dm.dsModes, {{"Name", "Цифра-Х"}});
    const int b20 = addRow(*dm.dsBands, {{"Name", "20M"}});
    const int b2 = addRow(*dm.dsBands, {{"Name", "Два метра"}});
    const int rs = addRow(*dm.dsRS, {{"Value", "59+20дБ очень громко"}});
    const int rs2 = addRow(*dm.dsRS, {{"Value", "57"}});
    const int ivan = addRow(*dm.dsNames, {{"Value", "Иван"}});
    const int city = addRow(*dm.dsCityes, {{"Name", "Петропавловск-Камчатский-Порт"}});
    const int country = addRow(*dm.dsCountryes, {{"Name", "Россия"}});
    const int cor = addRow(
        *dm.dsCors,
        {{"CallName", "UA0AAA"}, {"NameID", ivan}, {"CityID", city}, {"CountryID", country}});
    const int plain = addRow(*dm.dsCors, {{"CallName", "R9Z"}});
    addRow(*dm.dsMain, {{"CorID", cor},
                        {"Time", QDateTime(QDate(2024, 3, 31), QTime(2, 30, 15, 123))},
                        {"CorSuffix", "QRP"},
                        {"BandID", b20},
                        {"ModeID", ssb},
                        {"CorPower", 0.1 + 0.2},
                        {"MyPower", 1e-7},
                        {"CorRSID", rs},
                        {"MyRSID", rs2},
                        {"CorCity", "Петропавловск-Камчатский-"},
                        {"CorCountry", "Россия"},
                        {"Notice", QStringLiteral("две строки\r\nи эмодзи 😀 <EOR> & \"\"")},
                        {"Repeater", true}});
    addRow(*dm.dsMain, {{"CorID", plain},
                        {"Time", QDateTime(QDate(2025, 1, 2), QTime(23, 59, 0, 0))},
                        {"BandID", b2},
                        {"ModeID", own},
                        {"Repeater", false}});
}

} // namespace

class TestMapping : public QObject {
    Q_OBJECT
  private slots:
    void roundTripsThroughBothForms() {
        TempDataDir src;
        TDM a;
        a.DataDir = src.path();
        a.OpenTables();
        fillLog(a);
        const QStringList expected = view(a);
        QCOMPARE(expected.size(), 2);
        const QList<adif::Record> records = adif::exportLog(a);
        // the one-pass ADI is the records' ADI
        QCOMPARE(adif::exportAdi(a, "QARDEL", "1"), adif::writeAdi(records, "QARDEL", "1"));
        const adif::Record& first = records.first(); // oldest (lowest number) first
        QCOMPARE(first.value("CALL"), QStringLiteral("UA0AAA/QRP"));
        QCOMPARE(records.last().value("CALL"), QStringLiteral("R9Z"));
        QCOMPARE(first.value("BAND"), QStringLiteral("20m"));
        QCOMPARE(first.value("MODE"), QStringLiteral("SSB"));
        QCOMPARE(first.value("SUBMODE"), QStringLiteral("USB"));
        const QDateTime utc = QDateTime(QDate(2024, 3, 31), QTime(2, 30, 15, 123)).toUTC();
        QCOMPARE(first.value("QSO_DATE") + first.value("TIME_ON"), utc.toString("yyyyMMddHHmmss"));
        for (bool adx : {false, true}) {
            const QByteArray file = adx ? adif::writeAdx(records, "QARDEL", "1")
                                        : adif::writeAdi(records, "QARDEL", "1");
            TempDataDir dst;
            TDM b;
            b.DataDir = dst.path();
            b.OpenTables();
            adif::ImportSummary s;
            adif::importRecords(b, adif::read(file).records, &s);
            QCOMPARE(s.imported, 2);
            QCOMPARE(s.refused.size(), 0);
            QCOMPARE(view(b), expected);
            // brought in again: every QSO a duplicate
            adif::ImportSummary again;
            adif::importRecords(b, adif::read(file).records, &again);
            QCOMPARE(again.imported, 0);
            QCOMPARE(again.duplicates, 2);
            QCOMPARE(view(b), expected);
        }
    }

    // Run under Moscow's rules (the test's environment): a time the clocks
    // skipped in spring goes out with the day's earlier offset and comes back
    // as the same wall-clock time.
    void aTimeTheClocksSkippedComesBack() {
        TempDataDir src, dst;
        TDM a;
        a.DataDir = src.path();
        a.OpenTables();
        const int cor = addRow(*a.dsCors, {{"CallName", "VK9DP"}});
        addRow(*a.dsMain,
               {{"CorID", cor},
                {"Time", QDateTime(QDate(1995, 3, 26), QTime(2, 0, 26), QTimeZone::utc())}});
        const QList<adif::Record> records = adif::exportLog(a);
        QCOMPARE(records.size(), 1);
        QVERIFY(records[0].has("QSO_DATE") && records[0].has("TIME_ON"));
        if (qEnvironmentVariable("TZ") == "Europe/Moscow" &&
            QDateTime(QDate(1995, 1, 1), QTime(0, 0)).offsetFromUtc() == 3 * 3600)
            QCOMPARE(records[0].value("QSO_DATE") + records[0].value("TIME_ON"),
                     QStringLiteral("19950325230026"));
        TDM b;
        b.DataDir = dst.path();
        b.OpenTables();
        adif::ImportSummary s;
        adif::importRecords(b, records, &s);
        QCOMPARE(s.imported, 1);
        QCOMPARE(b.dsMain->rows().column(b.dsMain->fieldIndex(fld::Time)).times[0],
                 a.dsMain->rows().column(a.dsMain->fieldIndex(fld::Time)).times[0]);

        // later that day the clocks show summer time: UTC is four hours back
        addRow(*a.dsMain,
               {{"CorID", cor},
                {"Time", QDateTime(QDate(1995, 3, 26), QTime(12, 0), QTimeZone::utc())}});
        const adif::Record noon = adif::exportLog(a).value(1);
        if (qEnvironmentVariable("TZ") == "Europe/Moscow" &&
            QDateTime(QDate(1995, 1, 1), QTime(0, 0)).offsetFromUtc() == 3 * 3600)
            QCOMPARE(noon.value("QSO_DATE") + noon.value("TIME_ON"),
                     QStringLiteral("19950326080000"));
    }

    void whatOtherProgramsWrite() {
        TempDataDir dir;
        TDM dm;
        dm.DataDir = dir.path();
        dm.OpenTables();
        const QByteArray file =
            QStringLiteral(
                "<EOH><CALL:6>ua3aaa<QSO_DATE:8>20240105<TIME_ON:4>1230<FREQ:6>14.074<MODE:3>FT8"
                "<NAME:4>Олег<QTH:4>Омск<TX_PWR:3>abc<GRIDSQUARE:4>LO43<EOR>"
                "<CALL:12>DL/UA3AAA/PM<QSO_DATE:8>20240105<TIME_ON:4>1231<EOR>"
                "<CALL:11>RA1234567AB<QSO_DATE:8>20240105<TIME_ON:4>1231<EOR>"
                "<CALL:6>UA3BBB<QSO_DATE:8>2024010<TIME_ON:4>1231<EOR>"
                "<CALL:6>UA3AAA<QSO_DATE:8>20240104<TIME_ON:4>0900<NAME:4>Иван<EOR>"
                "<CALL:6>UA3AAA<QSO_DATE:8>20240106<TIME_ON:4>0900<COMMENT:3>abc<EOR>")
                .toUtf8();
        adif::ImportSummary s;
        const adif::ReadResult r = adif::read(file);
        adif::importRecords(dm, r.records, &s);
        QCOMPARE(s.read, 6);
        QCOMPARE(s.imported, 3);
        QCOMPARE(s.refused.size(), 3);
        QCOMPARE(s.refused[0].number, 2);
        QCOMPARE(s.refused[0].reason,
                 QStringLiteral("the call sign 'DL/UA3AAA/PM' cannot be held as typed"));
        QCOMPARE(s.refused[1].reason, // one longer than the field
                 QStringLiteral("the call sign 'RA1234567AB' cannot be held as typed"));
        QCOMPARE(s.refused[2].reason, QStringLiteral("no valid QSO_DATE and TIME_ON"));
        QCOMPARE(s.repairs.value(QStringLiteral("a power that is not a number, left empty")), 1);
        QCOMPARE(s.notKept, (QMap<QString, int>{{"GRIDSQUARE", 1}}));
        Table& m = *dm.dsMain;
        // the newest QSO: the known correspondent keeps its name and city, which
        // neither a QSO without them nor an older one changes
        m.first();
        QCOMPARE(m.fieldByName(fld::CorCallName).asString(), QStringLiteral("UA3AAA"));
        QCOMPARE(m.fieldByName(fld::CorName).asString(), QStringLiteral("Олег"));
        QCOMPARE(m.fieldByName(fld::Notice).asString(), QStringLiteral("abc"));
        // TIME_ON is UTC: the log holds the time of the clock on the wall
        QCOMPARE(m.fieldByName(fld::Time).asDateTime().toUTC(),
                 QDateTime(QDate(2024, 1, 6), QTime(9, 0), QTimeZone::utc()));
        m.next(); // the older one, entered after
        QCOMPARE(m.fieldByName(fld::Time).asDateTime().date(), QDate(2024, 1, 4));
        m.next();
        QCOMPARE(m.fieldByName(fld::Band).asString(), QStringLiteral("20m")); // from FREQ
        QCOMPARE(m.fieldByName(fld::Mode).asString(), QStringLiteral("FT8"));
        QVERIFY(m.fieldByName(fld::MyPower).isNull());
    }

    // A duplicate is the same call sign in the same minute on the same band
    // and mode: a change of any of them is another QSO.
    void duplicatesShareCallMinuteBandAndMode() {
        TempDataDir dir;
        TDM dm;
        dm.DataDir = dir.path();
        dm.OpenTables();
        const QByteArray qsos =
            "<EOH><CALL:6>UA3AAA<QSO_DATE:8>20240105<TIME_ON:6>123000<BAND:3>20m<MODE:2>CW<EOR>"
            "<CALL:6>UA3AAA<QSO_DATE:8>20240105<TIME_ON:6>123059<BAND:3>20m<MODE:2>CW<EOR>"
            "<CALL:6>UA3AAA<QSO_DATE:8>20240105<TIME_ON:6>123000<BAND:3>40m<MODE:2>CW<EOR>"
            "<CALL:6>UA3AAA<QSO_DATE:8>20240105<TIME_ON:6>123000<BAND:3>20m<MODE:3>SSB<EOR>"
            "<CALL:6>UA3AAA<QSO_DATE:8>20240105<TIME_ON:6>123100<BAND:3>20m<MODE:2>CW<EOR>"
            "<CALL:8>UA3AAA/P<QSO_DATE:8>20240105<TIME_ON:6>123000<BAND:3>20m<MODE:2>CW<EOR>";
        adif::ImportSummary s;
        adif::importRecords(dm, adif::read(qsos).records, &s);
        QCOMPARE(s.imported, 5);
        QCOMPARE(s.duplicates, 1); // the second, the same minute
        adif::ImportSummary again;
        adif::importRecords(dm, adif::read(qsos).records, &again);
        QCOMPARE(again.imported, 0);
        QCOMPARE(again.duplicates, 6);
    }

    // A value longer than its list's field is cut before it is looked up, so
    // its second occurrence finds the first; each cut is counted by field.
    // Enumerations and dates come without the blanks around them.
    void longValuesAndBlanksOfOtherPrograms() {
        TempDataDir dir;
        TDM dm;
        dm.DataDir = dir.path();
        dm.OpenTables();
        QByteArray file = "<EOH>";
        const QString name(40, QChar(u'Ж')), city(60, 'C'), rst(25, '5'), mode(30, 'M'),
            band(30, 'B');
        for (const char* call : {"UA3AAA", "UA3BBB"})
            for (auto [tag, value] :
                 {std::pair{"CALL", QString::fromLatin1(call)},
                  std::pair{"QSO_DATE", QString("20240105")}, std::pair{"TIME_ON", QString("1230")},
                  std::pair{"NAME", name}, std::pair{"QTH", city}, std::pair{"RST_SENT", rst},
                  std::pair{"MODE", mode}, std::pair{"BAND", band}, std::pair{"EOR", QString()}})
                file += tag == QLatin1String("EOR") ? QByteArray("<EOR>\n")
                                                    : QStringLiteral("<%1:%2>%3")
                                                          .arg(tag)
                                                          .arg(value.toUtf8().size())
                                                          .arg(value)
                                                          .toUtf8();
        file += "<CALL:6>UA3CCC<QSO_DATE:9>20240106\n<TIME_ON:6> 0915 <BAND:4>20m\n"
                "<MODE:5> FT8 <PROP_MODE:4>RPT\n<EOR>";
        adif::ImportSummary s;
        adif::importRecords(dm, adif::read(file).records, &s);
        QCOMPARE(s.imported, 3);
        QCOMPARE(s.refused.size(), 0);
        QCOMPARE(s.repairs, (QMap<QString, int>{{"BAND cut to 25 characters", 2},
                                                {"MODE cut to 25 characters", 2},
                                                {"NAME cut to 25 characters", 2},
                                                {"QTH cut to 50 characters", 2},
                                                {"RST_SENT cut to 20 characters", 2}}));
        QCOMPARE(testutil::dumpTable(*dm.dsNames), QStringList{"i:1|t:" + name.left(25)});
        QCOMPARE(dm.dsBands->recordCount(), 2);
        QCOMPARE(dm.dsModes->recordCount(), 2);
        Table& m = *dm.dsMain;
        m.first();
        QCOMPARE(m.fieldByName(fld::Band).asString() + "|" + m.fieldByName(fld::Mode).asString() +
                     "|" + m.fieldByName(fld::Time).asDateTime().toUTC().toString("hhmm") + "|" +
                     m.fieldByName(fld::Repeater).asString(),
                 QStringLiteral("20m|FT8|0915|+"));
    }

    // Every band and mode of the log goes out: under ADIF's name where one
    // fits, else as the log names it.
    void everyBandAndModeGoesOut_data() {
        QTest::addColumn<QString>("logName");
        QTest::addColumn<QString>("adif"); // BAND, or MODE/SUBMODE
        QTest::newRow("band, upper case") << "band:20M"
                                          << "20m";
        QTest::newRow("band in Russian") << "band:70 см"
                                         << "70cm";
        QTest::newRow("band with a line break") << "band:2m\n"
                                                << "2m";
        QTest::newRow("band as a frequency") << "band:14 МГц"
                                             << "20m";
        QTest::newRow("band ADIF does not have") << "band:Своя"
                                                 << "Своя";
        QTest::newRow("mode") << "mode:ft8"
                              << "FT8/";
        QTest::newRow("submode with a blank") << "mode:JT9H FAST"
                                              << "JT9/JT9H FAST";
        QTest::newRow("submode spelled with a hyphen") << "mode:PSK-31"
                                                       << "PSK/PSK31";
        QTest::newRow("a name loggers use") << "mode:BPSK63"
                                            << "PSK/PSK63";
        QTest::newRow("a variant of a mode") << "mode:RTTY 45"
                                             << "RTTY/";
        QTest::newRow("reverse CW") << "mode:CW-R"
                                    << "CW/";
        QTest::newRow("no prefix inside a word") << "mode:AMTOR"
                                                 << "AMTOR/";
        QTest::newRow("mode ADIF does not have") << "mode:Цифра-Х"
                                                 << "Цифра-Х/";
    }
    void everyBandAndModeGoesOut() {
        QFETCH(QString, logName);
        QFETCH(QString, adif);
        TempDataDir dir;
        TDM dm;
        dm.DataDir = dir.path();
        dm.OpenTables();
        const bool band = logName.startsWith("band:");
        const int id = addRow(band ? *dm.dsBands : *dm.dsModes, {{"Name", logName.mid(5)}});
        const int cor = addRow(*dm.dsCors, {{"CallName", "R1ABC"}});
        addRow(*dm.dsMain, {{"CorID", cor}, {band ? "BandID" : "ModeID", id}});
        const adif::Record r = adif::exportLog(dm).value(0);
        QCOMPARE(band ? r.value("BAND") : r.value("MODE") + "/" + r.value("SUBMODE"), adif);
        QCOMPARE(r.value(band ? "APP_QARDEL_BAND" : "APP_QARDEL_MODE"), logName.mid(5));
    }

    // Every QSO whose entity the country files know goes out with its DXCC
    // number, zones and continent (an override of the prefix included); a
    // station at sea has none.
    void exportsTheEntityOfEachQso() {
        TempDataDir dir;
        // a copy in the data folder, newer than the system's, is the one read
        QVERIFY(testutil::writeBytes(
            dir.path() + "cty.csv",
            "AL,Alpha Land,901,EU,10,20,50.00,-10.00,-1.0,AL AL5(11)[21] =AL1XYZ{AS} "
            "=VER29991231;\nGA,Gamma,903,NA,5,8,40.00,75.00,5.0,GA G;\n"));
        TDM dm;
        dm.DataDir = dir.path();
        dm.OpenTables();
        QHash<QString, int> cors; // a station once, whatever its suffixes
        for (auto [call, suffix] : {std::pair{"AL1AB", ""},
                                    {"AL5CD", ""},
                                    {"AL1XYZ", ""},
                                    {"GA1EF", "P"},
                                    {"GA1EF", "MM"},
                                    {"ZZ1ZZ", ""}}) {
            const QString c = QString::fromLatin1(call);
            if (!cors.contains(c)) cors[c] = addRow(*dm.dsCors, {{"CallName", c}});
            addRow(*dm.dsMain, {{"CorID", cors[c]}, {"CorSuffix", QString::fromLatin1(suffix)}});
        }
        QStringList out;
        for (const adif::Record& r : adif::exportLog(dm))
            out << r.value("CALL") + ":" + r.value("DXCC") + "|" + r.value("CQZ") + "|" +
                       r.value("ITUZ") + "|" + r.value("CONT");
        QCOMPARE(out,
                 QStringList({"AL1AB:901|10|20|EU", "AL5CD:901|11|21|EU", "AL1XYZ:901|10|20|AS",
                              "GA1EF/P:903|5|8|NA", "GA1EF/MM:|||", "ZZ1ZZ:|||"}));
        // brought in again they are no fields lost
        TempDataDir other;
        TDM b;
        b.DataDir = other.path();
        b.OpenTables();
        adif::ImportSummary s;
        adif::importRecords(b, adif::exportLog(dm), &s);
        QCOMPARE(s.notKept, (QMap<QString, int>{}));
    }

    // A log whose numbers are not in time order (brought in from files that
    // were not) goes out oldest first all the same; equal times by number.
    void exportsOldestFirstByTime() {
        TempDataDir dir;
        TDM dm;
        dm.DataDir = dir.path();
        dm.OpenTables();
        const int cor = addRow(*dm.dsCors, {{"CallName", "R1ABC"}});
        for (auto [day, notice] : {std::pair{3, "a"}, {1, "b"}, {2, "c"}, {1, "d"}})
            addRow(*dm.dsMain, {{"CorID", cor},
                                {"Time", QDateTime(QDate(2024, 1, day), QTime(12, 0))},
                                {"Notice", QString::fromLatin1(notice)}});
        QString order;
        for (const adif::Record& r : adif::exportLog(dm))
            order += r.value("NOTES");
        QCOMPARE(order, QStringLiteral("bdca"));
        QVERIFY(adif::exportAdi(dm, "Q", "1").indexOf("<NOTES:1>b") <
                adif::exportAdi(dm, "Q", "1").indexOf("<NOTES:1>a"));
    }
};

QTEST_GUILESS_MAIN(TestMapping)
#include "tst_mapping.moc"
