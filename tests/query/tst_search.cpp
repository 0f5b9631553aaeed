// What a search finds: each criterion alone and combined (call-sign parts
// and patterns, time ranges with their ends, band, mode, texts in any letter
// case, Cyrillic included, the entity), the order of the results and every
// sort, and results that follow the log as it changes exactly as a new search
// would find them.
#include "QueryTestUtil.h"
#include "query/ExportFile.h"
#include "query/SearchResults.h"

#include <QAbstractItemModelTester>
#include <QtTest>

using namespace qardel;
using qtest::addRow;

namespace {

struct SmallLog {
    int b20, b40, ssb, cw;
    int c1, c2, c3, c4, c5, c6;
};

QDateTime at(int y, int mo, int d, int h, int mi, int s = 0, int ms = 0) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms));
}

// Eight QSOs, IDs 1 to 8, each with what the cases below look for.
SmallLog smallLog(TDM& dm) {
    SmallLog l{};
    l.b20 = addRow(*dm.dsBands, {{fld::Name, QStringLiteral("20 м")}});
    l.b40 = addRow(*dm.dsBands, {{fld::Name, QStringLiteral("40 м")}});
    l.ssb = addRow(*dm.dsModes, {{fld::Name, QStringLiteral("SSB")}});
    l.cw = addRow(*dm.dsModes, {{fld::Name, QStringLiteral("CW")}});
    const int vasya = addRow(*dm.dsNames, {{fld::Value, QStringLiteral("Вася")}});
    const int yozhik = addRow(*dm.dsNames, {{fld::Value, QStringLiteral("Ёжик")}});
    const int zhan = addRow(*dm.dsNames, {{fld::Value, QStringLiteral("Жан")}});
    auto cor = [&](const char* call, int name) {
        std::map<QString, QVariant> r{{fld::CallName, QString::fromLatin1(call)}};
        if (name > 0) r[fld::NameID] = name;
        return addRow(*dm.dsCors, r);
    };
    l.c1 = cor("UA3AAA", vasya);
    l.c2 = cor("UA3ABA", yozhik);
    l.c3 = cor("RA1ABC", 0);
    l.c4 = cor("DL1XYZ", zhan);
    l.c5 = cor("R91ABC", 0);
    l.c6 = cor("UA9ZZZ", 0);
    auto qso = [&](int corId, const QVariant& time, int band, int mode,
                   std::map<QString, QVariant> more) {
        more[fld::CorID] = corId;
        more[fld::Time] = time;
        if (band) more[fld::BandID] = band;
        if (mode) more[fld::ModeID] = mode;
        return addRow(*dm.dsMain, more);
    };
    qso(l.c1, at(2023, 5, 1, 10, 0), l.b20, l.ssb,
        {{fld::CorCity, QStringLiteral("Москва")},
         {fld::CorCountry, QStringLiteral("Россия")},
         {fld::Notice, QStringLiteral("QSL via бюро")},
         {fld::CorPower, 100.0}});
    qso(l.c1, at(2023, 5, 2, 11, 0, 30), l.b40, l.cw,
        {{fld::CorSuffix, QStringLiteral("P")},
         {fld::CorCity, QStringLiteral("москва")},
         {fld::CorPower, 5.5}});
    qso(l.c2, at(2023, 6, 15, 0, 0), l.b20, l.cw, {{fld::Notice, QStringLiteral("Контест")}});
    qso(l.c3, at(2024, 1, 1, 12, 0), 0, l.ssb,
        {{fld::CorCity, QStringLiteral("Ёлкино")}, {fld::Notice, QStringLiteral("ёлка")}});
    qso(l.c4, at(2024, 2, 29, 23, 59, 59, 999), l.b40, 0,
        {{fld::CorCountry, QStringLiteral("Германия")}});
    qso(l.c5, at(2024, 3, 1, 0, 0), l.b20, l.ssb,
        {{fld::CorSuffix, QStringLiteral("MM")}, {fld::Notice, QStringLiteral("qsl direct")}});
    qso(l.c6, at(2022, 12, 31, 23, 59), l.b20, l.ssb,
        {{fld::CorCountry, QStringLiteral("Россия")}});
    qso(l.c3, QVariant(), l.b20, l.cw, {{fld::CorSuffix, QStringLiteral("QRP")}});
    return l;
}

QString idsOf(const SearchResults& r) {
    QStringList ids;
    for (int i = 0; i < r.count(); ++i)
        ids << QString::number(r.idAt(i));
    return ids.join(QLatin1Char(','));
}

QString search(TDM& dm, const SearchCriteria& c, EntityCache* entities = nullptr) {
    SearchResults r(dm);
    r.setEntityCache(entities);
    r.setCriteria(c);
    r.finishNow();
    return idsOf(r);
}

} // namespace

class TestSearch : public QObject {
    Q_OBJECT

  private slots:
    void callPatterns_data() {
        QTest::addColumn<QString>("call");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("matches");
        const struct {
            const char *call, *pattern;
            bool matches;
        } cases[] = {
            {"UA3AAA", "UA3", true},
            {"UA3AAA", "ua3", true},
            {"UA3AAA", "3AA", true},
            {"UA3AAA", "AAB", false},
            {"UA3AAA", "UA3*", true},
            {"UA3AAA", "*AAA", true},
            {"UA3AAA", "UA3?AA", true},
            {"UA3ABA", "UA3?AA", false},
            {"UA3AAA", "UA3???", true},
            {"UA3AAA", "UA3??", false},
            {"UA3AAA", "UA3????", false},
            {"UA3AAA", "*", true},
            {"UA3AAA", "*3*", true},
            {"UA3AAA", "*4*", false},
            {"UA3AAA", "U*A", true},
            {"UA3AAA", "U*B", false},
            {"UA3AAA", "**A**", true},
            {"UA3AAA/P", "*/P", true},
            {"UA3AAA/P", "*/p", true},
            {"UA3AAA", "*/P", false},
            {"R91ABC", "R?1ABC", true},
            {"UA3AAA", "ua3a*a", true},
            {"UA3AAA", "UA3AAA", true},
            {"UA3AAA", "UA3AAAA", false},
            {"", "?", false},
            {"", "*", true},
            {"AB", "?*?", true},
            {"A", "?*?", false},
            {"UA3AAB", "*A*B", true},
            {"UA3ABA", "*A*B", false},
        };
        for (const auto& c : cases)
            QTest::addRow("%s ~ %s", c.call, c.pattern)
                << QString::fromLatin1(c.call) << QString::fromLatin1(c.pattern) << c.matches;
    }
    void callPatterns() {
        QFETCH(QString, call);
        QFETCH(QString, pattern);
        QFETCH(bool, matches);
        QCOMPARE(callMatches(call, pattern), matches);
    }

    // Each criterion, alone and combined, on the eight QSOs: the IDs found,
    // newest first.
    void criteria_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("expected");
        enum { Call, Name, City, Country, Notice, Entity, EntityNoCache };
        auto add = [](const char* tag, int kind, const char* value, const char* expected) {
            QTest::newRow(tag) << kind << QString::fromUtf8(value) << QString::fromLatin1(expected);
        };
        add("part of a call", Call, "UA3", "3,2,1");
        add("part, other case", Call, "ua3", "3,2,1");
        add("part in the middle", Call, "3AA", "2,1");
        add("surrounding blanks", Call, "  ua3  ", "3,2,1");
        add("prefix pattern", Call, "UA3*", "3,2,1");
        add("one-character pattern", Call, "UA3?AA", "2,1");
        add("a pattern is the whole call", Call, "UA3?A", "");
        add("suffix pattern", Call, "*/P", "2");
        add("any with a suffix", Call, "*ABC/*", "8,6");
        add("pattern over both prefixes", Call, "R?1ABC", "8,6,4");
        add("part with the suffix", Call, "ABC/Q", "8");
        add("whole call with suffix", Call, "UA3AAA/P", "2");
        add("a letter", Call, "Z", "7,5");
        add("nothing", Call, "XYZ123", "");
        add("star: all", Call, "*", "8,7,6,5,4,3,2,1");
        add("name, lower case", Name, "вася", "2,1");
        add("name, upper case", Name, "ВАСЯ", "2,1");
        add("name with Ё, upper", Name, "ЁЖИК", "3");
        add("name with ё, lower", Name, "ёжик", "3");
        add("name, mixed case", Name, "жАн", "5");
        add("city, part, other case", City, "МОСК", "2,1");
        add("city with Ё", City, "ёлк", "4");
        add("country", Country, "россия", "7,1");
        add("country, part", Country, "ГЕРМ", "5");
        add("notice, Latin", Notice, "qsl", "6,1");
        add("notice, Cyrillic upper", Notice, "БЮРО", "1");
        add("notice, Ё upper", Notice, "ЁЛКА", "4");
        add("entity by name", Entity, "росс", "8,7,4,3,2,1");
        add("entity, other part", Entity, "ЕВРОП", "8,4,3,2,1");
        add("entity by number", Entity, "54", "8,4,3,2,1");
        add("entity by another number", Entity, "230", "5");
        add("maritime mobile has none", Entity, "ABC", "");
        add("entity without a provider", EntityNoCache, "росс", "");
    }
    void criteria() {
        QFETCH(int, kind);
        QFETCH(QString, value);
        QFETCH(QString, expected);
        qtest::LogFixture f;
        smallLog(f.dm);
        EntityCache cache(f.dm, qtest::fakeEntity);
        SearchCriteria c;
        QString* texts[] = {&c.call, &c.name, &c.city, &c.country, &c.notice, &c.entity, &c.entity};
        *texts[kind] = value;
        QCOMPARE(search(f.dm, c, kind == 6 ? nullptr : &cache), expected);
    }

    void ranges_data() {
        QTest::addColumn<QVariant>("from");
        QTest::addColumn<QVariant>("to");
        QTest::addColumn<QString>("expected");
        const QVariant none;
        QTest::newRow("from, its own second included")
            << QVariant(at(2023, 5, 2, 11, 0, 30)) << none << "6,5,4,3,2";
        QTest::newRow("from, a millisecond later")
            << QVariant(at(2023, 5, 2, 11, 0, 30, 1)) << none << "6,5,4,3";
        QTest::newRow("to, its own millisecond included")
            << none << QVariant(at(2023, 6, 15, 0, 0)) << "7,3,2,1";
        QTest::newRow("both, a leap day's last millisecond")
            << QVariant(at(2024, 1, 1, 12, 0)) << QVariant(at(2024, 2, 29, 23, 59, 59, 999))
            << "5,4";
        QTest::newRow("from after to")
            << QVariant(at(2024, 1, 1, 0, 0)) << QVariant(at(2023, 1, 1, 0, 0)) << "";
        QTest::newRow("a QSO without time is in no range")
            << QVariant(at(1900, 1, 1, 0, 0)) << QVariant(at(2100, 1, 1, 0, 0)) << "7,6,5,4,3,2,1";
    }
    void ranges() {
        QFETCH(QVariant, from);
        QFETCH(QVariant, to);
        QFETCH(QString, expected);
        qtest::LogFixture f;
        smallLog(f.dm);
        SearchCriteria c;
        if (from.isValid()) c.from = from.toDateTime();
        if (to.isValid()) c.to = to.toDateTime();
        QCOMPARE(search(f.dm, c), expected);
    }

    void combinations() {
        qtest::LogFixture f;
        const SmallLog l = smallLog(f.dm);
        EntityCache cache(f.dm, qtest::fakeEntity);
        SearchCriteria c;
        QCOMPARE(search(f.dm, c), QStringLiteral("8,7,6,5,4,3,2,1"));
        c.bandId = l.b20;
        QCOMPARE(search(f.dm, c), QStringLiteral("8,7,6,3,1"));
        c.modeId = l.cw;
        QCOMPARE(search(f.dm, c), QStringLiteral("8,3"));
        c.call = QStringLiteral("ua3");
        QCOMPARE(search(f.dm, c), QStringLiteral("3"));
        c.to = at(2023, 6, 14, 23, 59, 59, 999);
        QCOMPARE(search(f.dm, c), QString());
        c = {};
        c.modeId = l.ssb;
        QCOMPARE(search(f.dm, c), QStringLiteral("7,6,4,1"));
        c.name = QStringLiteral("ВАС");
        c.city = QStringLiteral("москва");
        c.notice = QStringLiteral("QSL");
        QCOMPARE(search(f.dm, c), QStringLiteral("1"));
        c = {};
        c.entity = QStringLiteral("россия");
        c.country = QStringLiteral("россия");
        QCOMPARE(search(f.dm, c, &cache), QStringLiteral("7,1"));
        c.bandId = l.b40;
        QCOMPARE(search(f.dm, c, &cache), QString());
    }

    // Every column sorts both ways: texts by the locale's order letter case
    // aside (Ё with Е, not after Я), empty and null first, ties newest first.
    void sorting_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("ascending");
        QTest::newRow("call sign") << fld::CorCallName << "5,6,8,4,2,1,3,7";
        QTest::newRow("time, none first") << fld::Time << "8,7,1,2,3,4,5,6";
        QTest::newRow("city, Ё before М") << fld::CorCity << "8,7,6,5,3,4,2,1";
        QTest::newRow("band, none first") << fld::Band << "4,8,7,6,3,1,5,2";
        QTest::newRow("power, none first") << fld::CorPower << "8,7,6,5,4,3,2,1";
        QTest::newRow("number") << fld::ID << "1,2,3,4,5,6,7,8";
        QTest::newRow("name") << fld::CorName << "8,7,6,4,2,1,3,5";
        QTest::newRow("entity") << QString() << "6,7,5,8,4,3,2,1";
    }
    void sorting() {
        QFETCH(QString, field);
        QFETCH(QString, ascending);
        qtest::LogFixture f;
        smallLog(f.dm);
        EntityCache cache(f.dm, qtest::fakeEntity);
        SearchResults r(f.dm);
        r.setEntityCache(&cache);
        r.setCriteria({});
        r.finishNow();
        const int column = field.isEmpty() ? r.entityColumn() : r.columnOfField(field);
        QVERIFY(column >= 0);
        r.sort(column, Qt::AscendingOrder);
        QCOMPARE(idsOf(r), ascending);
        r.sort(column, Qt::DescendingOrder);
        QStringList down = ascending.split(QLatin1Char(','));
        std::reverse(down.begin(), down.end());
        QCOMPARE(idsOf(r), down.join(QLatin1Char(',')));
        // a new search keeps the order
        SearchCriteria c;
        c.call = QStringLiteral("AB");
        r.setCriteria(c);
        r.finishNow();
        QStringList kept;
        for (const QString& id : down)
            if (QStringList{"3", "4", "6", "8"}.contains(id)) kept << id;
        QCOMPARE(idsOf(r), kept.join(QLatin1Char(',')));
        r.sort(-1);
        QCOMPARE(idsOf(r), QStringLiteral("8,6,4,3"));
    }

    // Plain texts (letters, digits, a slash) take the quick way and still
    // compare as the locale does, letter case aside; numbers below zero sort
    // before zero.
    void plainTextsAndNegativeNumbers() {
        const QCollator collator{QLocale()};
        for (const auto& [a, b] : {std::pair{"abc", "ABD"}, std::pair{"dl1xyz/p", "DL1XYZ/QRP"},
                                   std::pair{"UA3AAA", "ua3aab"}}) {
            QCOMPARE(compareTexts(a, b, collator), -1);
            QCOMPARE(compareTexts(b, a, collator), 1);
        }
        qtest::LogFixture f;
        const int cor = addRow(*f.dm.dsCors, {{fld::CallName, QStringLiteral("UA3AAA")}});
        for (double power : {2.0, -1.5, 0.0, -20.0})
            addRow(*f.dm.dsMain, {{fld::CorID, cor}, {fld::CorPower, power}});
        SearchResults r(f.dm);
        r.setCriteria({});
        r.finishNow();
        r.sort(r.columnOfField(fld::CorPower), Qt::AscendingOrder);
        QCOMPARE(idsOf(r), QStringLiteral("4,2,3,1"));
    }

    // A call sign with its suffix, however the suffix was kept; CSV fields
    // quoted when they hold a comma, a quote or a line break of either kind,
    // and only then.
    void callsWithSuffixesAndCsvFields() {
        for (const auto& [suffix, call] :
             {std::pair{"", "UA3AAA"}, std::pair{"P", "UA3AAA/P"}, std::pair{"/QRP", "UA3AAA/QRP"}})
            QCOMPARE(callWithSuffix(QStringLiteral("UA3AAA"), QString::fromLatin1(suffix)),
                     QString::fromLatin1(call));
        QCOMPARE(QString::fromUtf8(toCsv({{"a", "b,c", "d\"e", "f\ng", "h\ri", "Ж"}, {""}})),
                 QStringLiteral("a,\"b,c\",\"d\"\"e\",\"f\ng\",\"h\ri\",Ж\r\n\r\n"));
    }

    // The results follow saves, corrections, deletions and changes of the
    // lists, in every order, exactly as a new search would find them; a
    // search that was running when the log changed starts again.
    void followsTheLog_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("order");
        QTest::newRow("newest first") << QString() << -1;
        QTest::newRow("by call sign") << fld::CorCallName << int(Qt::AscendingOrder);
        QTest::newRow("by time, descending") << fld::Time << int(Qt::DescendingOrder);
        QTest::newRow("by band") << fld::Band << int(Qt::AscendingOrder);
        QTest::newRow("by name, descending") << fld::CorName << int(Qt::DescendingOrder);
        QTest::newRow("by notice") << fld::Notice << int(Qt::AscendingOrder);
    }
    void followsTheLog() {
        QFETCH(QString, field);
        QFETCH(int, order);
        qtest::LogFixture f;
        TDM& dm = f.dm;
        qtest::randomLog(dm, 400, 7);
        SearchCriteria c;
        c.call = QStringLiteral("U");
        c.notice = QStringLiteral("q");
        SearchResults r(dm);
        QAbstractItemModelTester tester(&r, QAbstractItemModelTester::FailureReportingMode::QtTest);
        r.setCriteria(c);
        r.finishNow();
        const int column = r.columnOfField(field);
        r.sort(order < 0 ? -1 : column, Qt::SortOrder(order < 0 ? 0 : order));
        auto fresh = [&] {
            SearchResults again(dm);
            again.sort(order < 0 ? -1 : column, Qt::SortOrder(order < 0 ? 0 : order));
            again.setCriteria(c);
            again.finishNow();
            return idsOf(again);
        };
        const int before = r.count();
        QVERIFY(before > 5);
        Table& log = *dm.dsMain;
        auto logRowOf = [&](int id) { QVERIFY(log.locate(fld::ID, id)); };
        const int ua = dm.dsCors->locate(fld::CallName, QStringLiteral("UA"), loPartialKey)
                           ? dm.dsCors->fieldByName(fld::ID).asInteger()
                           : 0;
        QVERIFY(ua > 0);
        struct Step {
            const char* what;
            std::function<void()> change;
        };
        const std::vector<Step> steps = {
            {"a matching QSO saved",
             [&] {
                 addRow(log, {{fld::CorID, ua}, {fld::Notice, QStringLiteral("QSL")}});
             }},
            {"a QSO that does not match saved",
             [&] {
                 addRow(log, {{fld::CorID, ua}});
             }},
            {"a QSO corrected to match",
             [&] {
                 logRowOf(3);
                 log.edit();
                 log.fieldByName(fld::CorID).setAsInteger(ua);
                 log.fieldByName(fld::Notice).setAsString(QStringLiteral("qsl"));
                 log.post();
             }},
            {"a found QSO corrected to match no more",
             [&] {
                 logRowOf(r.idAt(r.count() / 2));
                 log.edit();
                 log.fieldByName(fld::Notice).setAsString(QStringLiteral("нет"));
                 log.post();
             }},
            {"a found QSO corrected in what it is sorted by",
             [&] {
                 // from the middle to an end in every order
                 logRowOf(r.idAt(r.count() / 2));
                 log.edit();
                 log.fieldByName(fld::CorID).setAsInteger(ua);
                 log.fieldByName(fld::Time).setAsDateTime(at(1990, 1, 1, 0, 0));
                 log.fieldByName(fld::Notice).setAsString(QStringLiteral("0 qsl"));
                 log.fieldByName(fld::BandID).clear();
                 log.post();
             }},
            {"a found QSO deleted",
             [&] {
                 logRowOf(r.idAt(1));
                 log.deleteRecord();
             }},
            {"a QSO deleted that was not found",
             [&] {
                 for (log.first(); !log.eof(); log.next())
                     if (r.rowOfId(log.fieldByName(fld::ID).asInteger()) < 0) break;
                 log.deleteRecord();
             }},
            {"a correspondent renamed",
             [&] {
                 QVERIFY(dm.dsNames->locate(fld::Value, QStringLiteral("Вася")));
                 dm.dsNames->edit();
                 dm.dsNames->fieldByName(fld::Value).setAsString(QStringLiteral("Яков"));
                 dm.dsNames->post();
             }},
            {"a band renamed",
             [&] {
                 dm.dsBands->first();
                 dm.dsBands->edit();
                 dm.dsBands->fieldByName(fld::Name).setAsString(QStringLiteral("я"));
                 dm.dsBands->post();
             }},
            {"the log read again from its file",
             [&] {
                 dm.SaveAll();
                 log.load();
             }},
            {"a change while a search runs",
             [&] {
                 r.setCriteria(c);
                 QVERIFY(r.isRunning());
                 addRow(log, {{fld::CorID, ua}, {fld::Notice, QStringLiteral("qsl runs")}});
             }},
        };
        for (const Step& s : steps) {
            s.change();
            r.finishNow();
            QVERIFY2(idsOf(r) == fresh(), s.what);
        }
        QVERIFY(r.count() != before);
    }

    // A provider that fails on a call sign gives it no entity; the search goes on.
    void providerThatFails() {
        qtest::LogFixture f;
        smallLog(f.dm);
        EntityCache cache(f.dm, [](const QString& call, const QString& suffix) {
            if (call.startsWith(QLatin1String("DL"))) throw std::runtime_error("no cty data");
            return qtest::fakeEntity(call, suffix);
        });
        SearchCriteria c;
        c.entity = QStringLiteral("ия");
        QCOMPARE(search(f.dm, c, &cache), QStringLiteral("8,7,4,3,2,1"));
    }

    // Ten thousand QSOs: a search in slices gives what one in a piece gives.
    void slices() {
        qtest::LogFixture f;
        qtest::randomLog(f.dm, 10000, 3);
        SearchCriteria c;
        c.city = QStringLiteral("МОСКВА");
        SearchJob whole(f.dm, c, nullptr);
        whole.runToEnd();
        SearchJob sliced(f.dm, c, nullptr);
        QElapsedTimer expired;
        expired.start();
        int steps = 0;
        // a budget already spent: each step does one chunk
        while (!sliced.step(expired, -1))
            ++steps;
        QVERIFY(steps > 2);
        QCOMPARE(sliced.result(), whole.result());
        QVERIFY(!whole.result().empty());
    }
};

QTEST_GUILESS_MAIN(TestSearch)
#include "tst_search.moc"
