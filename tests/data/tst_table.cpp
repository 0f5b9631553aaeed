// The in-memory table engine: cursor, active order, locate, editing with its
// checks, lookups, notifications and the number-text helpers.
#include "DataTestUtil.h"
#include "TestUtil.h"
#include "data/Fields.h"
#include "data/Schema.h"
#include "data/Table.h"

#include <QLocale>
#include <QRandomGenerator>
#include <QtTest>

#include <functional>

using namespace qardel;
using testutil::addRow;
using testutil::dumpTable;
using testutil::errorOf;
using testutil::idsInOrder;

using testutil::Fixture;
using testutil::kNoError;

namespace {

const QString kClosed = QStringLiteral("Cannot perform this operation on a closed dataset");

QString text(Table& t, const char* field) {
    return t.fieldByName(QString::fromUtf8(field)).asString();
}
int currentId(Table& t) {
    return t.fieldByName(fld::ID).asInteger();
}

QStringList column(const Table& t, const char* field) {
    QStringList l;
    const int fi = t.fieldIndex(QString::fromUtf8(field));
    for (int pos = 0; pos < t.recordCount(); ++pos)
        l << t.valueAt(pos, fi).toString();
    return l;
}

// Records the table's notifications in the order they arrive.
struct Recorder {
    QStringList events;
    explicit Recorder(Table& t) {
        t.afterInsert = [this](Table&) { events << QStringLiteral("insert"); };
        t.afterPost = [this](Table&) { events << QStringLiteral("post"); };
        t.afterDelete = [this](Table&) { events << QStringLiteral("delete"); };
        t.afterScroll = [this](Table& tb) {
            events << QStringLiteral("scroll:%1").arg(currentId(tb));
        };
    }
    QStringList take() { return std::exchange(events, {}); }
};

} // namespace

class TestTable : public QObject {
    Q_OBJECT
  private slots:
    void closedTableRefusesEverything();
    void activeOrder();
    void cursorMoves();
    void locateExactAndIgnoringCase();
    void locateFindsFirstInActiveOrder();
    void locateInLargeTableFindsFirstInActiveOrder_data();
    void locateInLargeTableFindsFirstInActiveOrder();
    void appendEditPostCancel();
    void deleteMovesToNeighbour();
    void requiredFieldRefused();
    void duplicateKeyRefused();
    void unpostedRowIsDiscarded_data();
    void unpostedRowIsDiscarded();
    void nullsReadAsZeroFalseEmpty();
    void lookups();
    void textsAreCutToSize();
    void notifications();
    void numberText();
    void randomOperationsMatchReference_data();
    void randomOperationsMatchReference();
    void slotSequenceMatchesAVector();
};

void TestTable::closedTableRefusesEverything() {
    LogTables lt = createLogTables();
    Table& m = *lt.main;
    const std::vector<std::pair<const char*, std::function<void()>>> uses = {
        {"first", [&] { m.first(); }},
        {"next", [&] { m.next(); }},
        {"eof", [&] { (void)m.eof(); }},
        {"isEmpty", [&] { (void)m.isEmpty(); }},
        {"recordCount", [&] { (void)m.recordCount(); }},
        {"locate", [&] { m.locate(fld::ID, 1); }},
        {"append", [&] { m.append(); }},
        {"edit", [&] { m.edit(); }},
        {"post", [&] { m.post(); }},
        {"delete", [&] { m.deleteRecord(); }},
        {"read a field", [&] { (void)m.fieldByName(fld::Notice).asString(); }},
        {"set a field", [&] { m.fieldByName(fld::Notice).setAsString("x"); }},
        {"write", [&] { m.write(); }},
    };
    auto checkAll = [&](const char* when) {
        for (const auto& [name, use] : uses) {
            const QString msg = errorOf(use);
            QVERIFY2(msg == kClosed, qPrintable(QStringLiteral("%1, %2: %3").arg(when, name, msg)));
        }
    };
    checkAll("never opened");
    if (QTest::currentTestFailed()) return;

    // A closed table holds no rows: closing one with rows and opening it again
    // gives an empty table.
    lt.cors->createEmpty();
    m.createEmpty();
    addRow(m, {{"CorID", 1}});
    m.close();
    QVERIFY(!m.isActive());
    checkAll("closed");
    if (QTest::currentTestFailed()) return;
    QVERIFY(!m.valueAt(0, 0).isValid());
    m.createEmpty();
    QCOMPARE(m.recordCount(), 0);
}

void TestTable::activeOrder() {
    Fixture f;
    // the log: newest (highest ID) first
    for (int i = 0; i < 3; ++i)
        addRow(*f.t.main, {{"CorID", 1}});
    QCOMPARE(idsInOrder(*f.t.main), (QList<int>{3, 2, 1}));
    // the reference lists: by ascending ID
    for (const char* m : {"SSB", "CW", "AM"})
        addRow(*f.t.modes, {{"Name", m}});
    QCOMPARE(column(*f.t.modes, "Name"), (QStringList{"SSB", "CW", "AM"}));

    // settings: by name, without regard to letter case
    Table& ini = *f.t.ini;
    for (const char* n : {"Zulu", "alpha", "LastMode", "Bravo", "LastBand"})
        addRow(ini, {{"Name", n}});
    QCOMPARE(column(ini, "Name"), (QStringList{"alpha", "Bravo", "LastBand", "LastMode", "Zulu"}));
    // a renamed setting moves to its place and keeps the cursor
    QVERIFY(ini.locate(fld::Name, QStringLiteral("alpha")));
    const int id = currentId(ini);
    ini.edit();
    ini.fieldByName(fld::Name).setAsString(QStringLiteral("Yankee"));
    ini.post();
    QCOMPARE(column(ini, "Name"), (QStringList{"Bravo", "LastBand", "LastMode", "Yankee", "Zulu"}));
    QCOMPARE(currentId(ini), id);
    QCOMPARE(ini.recNo(), 3);
}

void TestTable::cursorMoves() {
    Fixture f;
    Table& c = *f.t.cors;
    QVERIFY(c.isEmpty());
    QCOMPARE(c.recordCount(), 0);
    QCOMPARE(c.recNo(), -1);
    c.first();
    QVERIFY(c.eof());

    for (const char* call : {"UA3AAA", "RA3BBB", "UR5CCC"})
        addRow(c, {{"CallName", call}});
    QVERIFY(!c.isEmpty());
    c.first();
    QVERIFY(c.bof());
    QVERIFY(!c.eof());
    QCOMPARE(c.recNo(), 0);
    QCOMPARE(text(c, "CallName"), QStringLiteral("UA3AAA"));
    c.next();
    QCOMPARE(text(c, "CallName"), QStringLiteral("RA3BBB"));
    c.next();
    QCOMPARE(c.recNo(), 2);
    QVERIFY(!c.eof());
    // moving past the last row reaches the end and stays on the last row
    c.next();
    QVERIFY(c.eof());
    QCOMPARE(text(c, "CallName"), QStringLiteral("UR5CCC"));
    QCOMPARE(c.recNo(), 2);
    c.moveTo(1);
    QVERIFY(!c.eof());
    QCOMPARE(text(c, "CallName"), QStringLiteral("RA3BBB"));

    // the usual loop visits every row once
    QStringList seen;
    for (c.first(); !c.eof(); c.next())
        seen << text(c, "CallName");
    QCOMPARE(seen, (QStringList{"UA3AAA", "RA3BBB", "UR5CCC"}));
}

void TestTable::locateExactAndIgnoringCase() {
    Fixture f;
    Table& c = *f.t.cityes;
    // added in this order on purpose: "Мурманск" comes first by ID, "Москва"
    // first alphabetically
    for (const QString& n :
         {QStringLiteral("Мурманск"), QStringLiteral("Москва"), QStringLiteral("Minsk"),
          QStringLiteral("МОСКВОРЕЦКИЙ"), QStringLiteral("Ёлки-Палки")})
        addRow(c, {{"Name", n}});
    const QString name = QStringLiteral("Name");

    struct Case {
        QString value;
        LocateOptions options;
        int id; // 0: not found
    };
    const Case cases[] = {
        {QStringLiteral("Москва"), 0, 2},
        {QStringLiteral("москва"), 0, 0}, // exact search minds letter case
        {QStringLiteral("Моск"), 0, 0},   // and the whole text
        {QStringLiteral("москва"), loCaseInsensitive, 2},
        {QStringLiteral("МОСКВА"), loCaseInsensitive, 2},
        {QStringLiteral("ёлки-палки"), loCaseInsensitive, 5},
        {QStringLiteral("моск"), loCaseInsensitive, 0}, // whole text, not a prefix
        {QStringLiteral("моск"), loCaseInsensitive | loPartialKey, 2},
        {QStringLiteral("москвор"), loCaseInsensitive | loPartialKey, 4},
        {QStringLiteral("м"), loCaseInsensitive | loPartialKey, 1}, // first by ID, not by name
        {QStringLiteral("m"), loCaseInsensitive | loPartialKey, 3}, // Latin m is another letter
        {QStringLiteral("Мос"), loPartialKey, 2},
        {QStringLiteral("мос"), loPartialKey, 0},
        {QStringLiteral("Москва-2"), loCaseInsensitive | loPartialKey, 0},
    };
    for (const Case& k : cases) {
        c.moveTo(2); // "Minsk"
        const bool found = c.locate(name, k.value, k.options);
        const QString where = QStringLiteral("'%1' options %2").arg(k.value).arg(k.options);
        QVERIFY2(found == (k.id != 0), qPrintable(where));
        // a miss leaves the cursor where it was
        QVERIFY2(currentId(c) == (k.id ? k.id : 3), qPrintable(where));
    }

    // exact search on the ID and on an integer field
    QVERIFY(c.locate(fld::ID, 4));
    QCOMPARE(text(c, "Name"), QStringLiteral("МОСКВОРЕЦКИЙ"));
    QVERIFY(!c.locate(fld::ID, 99));
    QCOMPARE(currentId(c), 4);
    addRow(*f.t.cors, {{"CallName", "UA3AAA"}, {"NameID", 7}});
    addRow(*f.t.cors, {{"CallName", "UA3AAB"}});
    f.t.cors->first();
    QVERIFY(!f.t.cors->locate(fld::NameID, 8));
    QCOMPARE(currentId(*f.t.cors), 1);
    QVERIFY(f.t.cors->locate(fld::NameID, 7));
    QCOMPARE(currentId(*f.t.cors), 1);
}

void TestTable::locateFindsFirstInActiveOrder() {
    Fixture f;
    Table& m = *f.t.main;
    addRow(m, {{"CorID", 5}, {"CorCity", QStringLiteral("Тверь")}});
    addRow(m, {{"CorID", 7}, {"CorCity", QStringLiteral("Тула")}});
    addRow(m, {{"CorID", 5}, {"CorCity", QStringLiteral("тверь")}});
    addRow(m, {{"CorID", 7}, {"CorCity", QStringLiteral("Тверь")}});
    m.moveTo(3);
    // in the log the first match is the newest QSO
    QVERIFY(m.locate(fld::CorID, 5));
    QCOMPARE(currentId(m), 3);
    QVERIFY(m.locate(fld::CorID, 7));
    QCOMPARE(currentId(m), 4);
    QVERIFY(m.locate(fld::CorCity, QStringLiteral("тверь"), loCaseInsensitive));
    QCOMPARE(currentId(m), 4);
    QVERIFY(m.locate(fld::CorCity, QStringLiteral("тверь")));
    QCOMPARE(currentId(m), 3);
    QVERIFY(m.locate(fld::CorCity, QStringLiteral("ТУ"), loCaseInsensitive | loPartialKey));
    QCOMPARE(currentId(m), 2);
    QVERIFY(m.locate(fld::CorCity, QStringLiteral("т"), loCaseInsensitive | loPartialKey));
    QCOMPARE(currentId(m), 4);

    // the settings are ordered by name, so the first match is the first by name
    Table& ini = *f.t.ini;
    addRow(ini, {{"Name", "LastMode"}});
    addRow(ini, {{"Name", "LastBand"}});
    QVERIFY(ini.locate(fld::Name, QStringLiteral("last"), loCaseInsensitive | loPartialKey));
    QCOMPARE(text(ini, "Name"), QStringLiteral("LastBand"));
}

void TestTable::locateInLargeTableFindsFirstInActiveOrder_data() {
    QTest::addColumn<int>("spread"); // keys are multiples of it
    QTest::newRow("keys close together") << 1;
    QTest::newRow("keys far apart") << 100000;
}

// Thousands of rows with repeated, missing and absent keys: locate lands on
// the first row in the table's order (newest first), as a scan does, when
// the search structure is built from the rows at once and after rows come
// and go.
void TestTable::locateInLargeTableFindsFirstInActiveOrder() {
    QFETCH(int, spread);
    Fixture f;
    Table& m = *f.t.main;
    QRandomGenerator rng(99);
    for (int i = 0; i < 3000; ++i) {
        const int key = int(rng.bounded(1200));
        addRow(m, {{"CorID", 1}, {"BandID", key ? QVariant(key * spread) : QVariant()}});
    }
    const int cfi = m.fieldIndex(fld::BandID);
    auto check = [&](const char* when) {
        for (int key = 1; key < 1200; key += 7) {
            int expected = -1;
            for (int pos = 0; pos < m.recordCount() && expected < 0; ++pos)
                if (m.valueAt(pos, cfi) == QVariant(key * spread)) expected = pos;
            QVERIFY2(m.locate(fld::BandID, key * spread) == (expected >= 0), when);
            if (expected >= 0) QVERIFY2(m.recNo() == expected, when);
        }
    };
    check("built at once");
    for (int i = 0; i < 200; ++i) {
        m.moveTo(int(rng.bounded(m.recordCount())));
        m.deleteRecord();
        addRow(m, {{"CorID", 1}, {"BandID", int(1 + rng.bounded(1199)) * spread}});
    }
    check("after deletes and appends");
}

void TestTable::appendEditPostCancel() {
    Fixture f;
    Table& c = *f.t.cors;
    Field& call = c.fieldByName(fld::CallName);

    c.append();
    QCOMPARE(c.state(), TableState::Insert);
    call.setAsString(QStringLiteral("UA3AAA"));
    c.post();
    QCOMPARE(c.state(), TableState::Browse);
    QCOMPARE(currentId(c), 1); // the cursor is on the new row
    addRow(c, {{"CallName", "RA3BBB"}});
    QCOMPARE(currentId(c), 2);
    QCOMPARE(c.recNo(), 1);

    c.first();
    c.edit();
    call.setAsString(QStringLiteral("UA3XXX"));
    QCOMPARE(call.asString(), QStringLiteral("UA3XXX")); // the edit is readable before the post
    c.cancel();
    QCOMPARE(c.state(), TableState::Browse);
    QCOMPARE(call.asString(), QStringLiteral("UA3AAA"));

    c.edit();
    call.setAsString(QStringLiteral("UA3AAC"));
    c.post();
    QCOMPARE(currentId(c), 1);
    QCOMPARE(column(c, "CallName"), (QStringList{"UA3AAC", "RA3BBB"}));

    // a cancelled append leaves neither a row nor a moved cursor behind
    c.append();
    call.setAsString(QStringLiteral("UR5ZZZ"));
    c.cancel();
    QCOMPARE(c.recordCount(), 2);
    QCOMPARE(call.asString(), QStringLiteral("UA3AAC"));

    // editing an empty table starts a new row
    Table& modes = *f.t.modes;
    modes.edit();
    QCOMPARE(modes.state(), TableState::Insert);
    modes.fieldByName(fld::Name).setAsString(QStringLiteral("SSB"));
    modes.post();
    QCOMPARE(modes.recordCount(), 1);
    QCOMPARE(currentId(modes), 1);
}

void TestTable::deleteMovesToNeighbour() {
    Fixture f;
    for (Table* t : {f.t.cors.get(), f.t.main.get()}) {
        for (int i = 0; i < 5; ++i) {
            if (t == f.t.cors.get())
                addRow(*t, {{"CallName", QStringLiteral("UA3AA%1").arg(i)}});
            else
                addRow(*t, {{"CorID", 1}});
        }
        const QString table = t->name();
        // in the middle, at the end, at the start
        for (int pos : {2, 3, 0}) {
            const QList<int> before = idsInOrder(*t);
            t->moveTo(pos);
            t->deleteRecord();
            const QList<int> neighbours = {before.value(pos - 1, -1), before.value(pos + 1, -1)};
            QVERIFY2(neighbours.contains(currentId(*t)),
                     qPrintable(QStringLiteral("%1: deleted at %2, now on ID %3")
                                    .arg(table)
                                    .arg(pos)
                                    .arg(currentId(*t))));
            QVERIFY(!t->eof());
            QCOMPARE(t->recordCount(), before.size() - 1);
            QVERIFY(!idsInOrder(*t).contains(before[pos]));
        }
        while (!t->isEmpty())
            t->deleteRecord();
        QVERIFY(t->eof());
        QCOMPARE(t->recNo(), -1);
    }
}

void TestTable::requiredFieldRefused() {
    Fixture f;
    Table& c = *f.t.cors;
    addRow(c, {{"CallName", "UA3AAA"}});
    const QStringList before = dumpTable(c);

    // the display label names the field...
    c.append();
    QCOMPARE(errorOf([&] { c.post(); }), QStringLiteral("Field 'Позывной' must have a value"));
    QCOMPARE(dumpTable(c), before);
    // ...and the row is still being edited: completing it posts it
    QCOMPARE(c.state(), TableState::Insert);
    c.fieldByName(fld::CallName).setAsString(QStringLiteral("RA3BBB"));
    c.post();
    QCOMPARE(c.recordCount(), 2);

    // ...or, without a label, its name
    f.t.main->append();
    QCOMPARE(errorOf([&] { f.t.main->post(); }), QStringLiteral("Field 'CorID' must have a value"));
    QCOMPARE(f.t.main->recordCount(), 0);

    // clearing a required field of a stored row is refused the same way
    const QStringList two = dumpTable(c);
    c.first();
    c.edit();
    c.fieldByName(fld::CallName).clear();
    QCOMPARE(errorOf([&] { c.post(); }), QStringLiteral("Field 'Позывной' must have a value"));
    QCOMPARE(c.state(), TableState::Edit);
    QCOMPARE(dumpTable(c), two);
}

void TestTable::duplicateKeyRefused() {
    Fixture f;
    Table& m = *f.t.modes;
    Field& name = m.fieldByName(fld::Name);
    addRow(m, {{"Name", "SSB"}});
    addRow(m, {{"Name", "CW"}});
    const QStringList before = dumpTable(m);

    m.append();
    name.setAsString(QStringLiteral("SSB"));
    QVERIFY(errorOf([&] { m.post(); }) != kNoError);
    QCOMPARE(dumpTable(m), before);
    QCOMPARE(m.state(), TableState::Insert);
    name.setAsString(QStringLiteral("FM"));
    m.post();
    QCOMPARE(column(m, "Name"), (QStringList{"SSB", "CW", "FM"}));

    // renaming a stored row onto another's key
    const QStringList three = dumpTable(m);
    QVERIFY(m.locate(fld::Name, QStringLiteral("CW")));
    m.edit();
    name.setAsString(QStringLiteral("FM"));
    QVERIFY(errorOf([&] { m.post(); }) != kNoError);
    QCOMPARE(m.state(), TableState::Edit);
    QCOMPARE(dumpTable(m), three);
    m.cancel();
    // a row may keep its own key
    m.edit();
    m.post();
    QCOMPARE(dumpTable(m), three);

    // the key is exact: letter case makes another key
    addRow(m, {{"Name", "ssb"}});
    QCOMPARE(m.recordCount(), 4);
}

void TestTable::unpostedRowIsDiscarded_data() {
    QTest::addColumn<bool>("editing"); // else appending
    QTest::addColumn<QString>("op");
    for (const char* op :
         {"first", "next", "moveTo", "locate", "append", "edit", "write", "close"}) {
        QTest::addRow("appended row, then %s", op) << false << QString::fromLatin1(op);
        QTest::addRow("edited row, then %s", op) << true << QString::fromLatin1(op);
    }
}

void TestTable::unpostedRowIsDiscarded() {
    QFETCH(bool, editing);
    QFETCH(QString, op);
    TempDataDir dir;
    Fixture f;
    Table& m = *f.t.modes;
    const QString name = QStringLiteral("Name");
    m.filePath = dir.path() + QStringLiteral("Modes.db");
    addRow(m, {{"Name", "SSB"}});
    addRow(m, {{"Name", "CW"}});
    m.write();
    const QStringList stored = dumpTable(m);

    // a post refused for a duplicate key leaves the row unposted
    if (editing) {
        QVERIFY(m.locate(name, QStringLiteral("CW")));
        m.edit();
    } else {
        m.append();
    }
    m.fieldByName(name).setAsString(QStringLiteral("SSB"));
    QVERIFY(errorOf([&] { m.post(); }) != kNoError);

    if (op == QLatin1String("first"))
        m.first();
    else if (op == QLatin1String("next"))
        m.next();
    else if (op == QLatin1String("moveTo"))
        m.moveTo(0);
    else if (op == QLatin1String("locate"))
        m.locate(name, QStringLiteral("CW"));
    else if (op == QLatin1String("append"))
        m.append();
    else if (op == QLatin1String("edit"))
        m.edit();
    else if (op == QLatin1String("write"))
        m.write();
    else if (op == QLatin1String("close"))
        m.close();

    if (op == QLatin1String("append")) {
        // a fresh row, not the refused one
        QCOMPARE(m.state(), TableState::Insert);
        QVERIFY(m.fieldByName(name).isNull());
        m.cancel();
    } else if (op == QLatin1String("edit")) {
        // editing starts again from the stored row
        QCOMPARE(m.state(), TableState::Edit);
        QCOMPARE(m.fieldByName(name).asString(), m.valueAt(m.recNo(), 1).toString());
        m.cancel();
    } else if (op == QLatin1String("close")) {
        QVERIFY(!m.isActive());
        m.load();
    } else {
        QCOMPARE(m.state(), TableState::Browse);
    }
    QCOMPARE(dumpTable(m), stored);

    // and the file never holds the refused row
    LogTables other = createLogTables();
    other.modes->filePath = m.filePath;
    other.modes->load();
    QCOMPARE(dumpTable(*other.modes), stored);

    // the table goes on working
    addRow(m, {{"Name", "AM"}});
    QCOMPARE(m.recordCount(), 3);
}

void TestTable::nullsReadAsZeroFalseEmpty() {
    Fixture f;
    addRow(*f.t.cors, {{"CallName", "UA3AAA"}});
    Table& m = *f.t.main;
    addRow(m, {{"CorID", 1}});
    QVERIFY(m.fieldByName(fld::BandID).isNull());
    QVERIFY(!m.fieldByName(fld::BandID).value().isValid());
    QCOMPARE(m.fieldByName(fld::BandID).asInteger(), 0);
    QCOMPARE(m.fieldByName(fld::CorPower).asFloat(), 0.0);
    QCOMPARE(m.fieldByName(fld::Repeater).asBoolean(), false);
    QCOMPARE(m.fieldByName(fld::QSL).asBoolean(), false);
    QCOMPARE(m.fieldByName(fld::Notice).asString(), QString());
    QCOMPARE(m.fieldByName(fld::CorSuffix).asString(), QString());
    QVERIFY(!m.fieldByName(fld::Time).asDateTime().isValid());
    // lookups whose key is null read as empty; CorID is set, so its lookup reads
    QCOMPARE(m.fieldByName(fld::Band).asString(), QString());
    QCOMPARE(m.fieldByName(fld::CorName).asString(), QString());
    QCOMPARE(m.fieldByName(fld::CorCallName).asString(), QStringLiteral("UA3AAA"));

    // clearing a value makes it null again
    m.edit();
    m.fieldByName(fld::CorPower).setAsFloat(5);
    m.fieldByName(fld::CorPower).clear();
    m.post();
    QVERIFY(m.fieldByName(fld::CorPower).isNull());
}

void TestTable::lookups() {
    Fixture f;
    addRow(*f.t.names, {{"Value", QStringLiteral("Иван")}});
    addRow(*f.t.cors, {{"CallName", "UA3AAA"}, {"NameID", 1}});
    addRow(*f.t.cors, {{"CallName", "RA3BBB"}}); // no first name
    const QString longRs = QStringLiteral("59+20dB QSB QRM QRN!");
    QCOMPARE(longRs.size(), 20);
    addRow(*f.t.rs, {{"Value", "59"}});
    addRow(*f.t.rs, {{"Value", longRs}});
    addRow(*f.t.bands, {{"Name", "20m"}});
    addRow(*f.t.modes, {{"Name", "SSB"}});
    Table& m = *f.t.main;
    const int a =
        addRow(m, {{"CorID", 1}, {"BandID", 1}, {"ModeID", 1}, {"CorRSID", 2}, {"MyRSID", 2}});
    const int b = addRow(m, {{"CorID", 2}, {"BandID", 1}, {"MyRSID", 1}});
    const int b2 = addRow(m, {{"CorID", 2}});
    auto at = [&](int id, const char* field) {
        [[maybe_unused]] const bool found = m.locate(fld::ID, id);
        return text(m, field);
    };

    QCOMPARE(at(a, "CorCallName"), QStringLiteral("UA3AAA"));
    QCOMPARE(at(a, "CorName"), QStringLiteral("Иван")); // through the correspondent's Name
    QCOMPARE(at(a, "Band"), QStringLiteral("20m"));
    QCOMPARE(at(a, "Mode"), QStringLiteral("SSB"));
    // the list holds the report in full, the log shows 10 characters of it
    QVERIFY(f.t.rs->locate(fld::ID, 2));
    QCOMPARE(text(*f.t.rs, "Value"), longRs);
    QCOMPARE(at(a, "CorRS"), longRs.left(10));
    QCOMPARE(at(a, "MyRS"), longRs.left(10));
    QCOMPARE(at(b, "MyRS"), QStringLiteral("59"));
    QCOMPARE(at(b, "CorRS"), QString());
    QCOMPARE(at(b, "CorName"), QString());

    // naming the correspondent later names all of its QSOs at once
    QVERIFY(f.t.cors->locate(fld::CallName, QStringLiteral("RA3BBB")));
    f.t.cors->edit();
    f.t.cors->fieldByName(fld::NameID).setAsInteger(1);
    f.t.cors->post();
    QCOMPARE(at(b, "CorName"), QStringLiteral("Иван"));
    QCOMPARE(at(b2, "CorName"), QStringLiteral("Иван"));

    // a deleted referenced row reads as empty; the reference keeps its ID
    QVERIFY(f.t.bands->locate(fld::ID, 1));
    f.t.bands->deleteRecord();
    QCOMPARE(at(a, "Band"), QString());
    QCOMPARE(m.fieldByName(fld::BandID).asInteger(), 1);
    QVERIFY(f.t.names->locate(fld::ID, 1));
    f.t.names->deleteRecord();
    QCOMPARE(at(a, "CorName"), QString());
    QCOMPARE(at(b, "CorName"), QString());

    // lookups read on a row not yet posted
    m.append();
    m.fieldByName(fld::CorID).setAsInteger(2);
    QCOMPARE(text(m, "CorCallName"), QStringLiteral("RA3BBB"));
    m.cancel();
}

void TestTable::textsAreCutToSize() {
    Fixture f;
    Table& m = *f.t.main;
    Field& suffix = m.fieldByName(fld::CorSuffix);     // 5 characters
    const QString face = QStringLiteral("\U0001F600"); // one character, two code units
    struct Case {
        QString in, out;
    };
    const Case cases[] = {
        {QStringLiteral("ABCDEFG"), QStringLiteral("ABCDE")},
        {QStringLiteral("ABCDEF"), QStringLiteral("ABCDE")},
        {QStringLiteral("абвгдеж"), QStringLiteral("абвгд")},
        {QStringLiteral("ab") + face.repeated(4), QStringLiteral("ab") + face.repeated(3)},
        {face.repeated(6), face.repeated(5)},
        {QStringLiteral("abcd") + face, QStringLiteral("abcd") + face},
        {QStringLiteral("abcde") + face, QStringLiteral("abcde")},
    };
    m.append();
    for (const Case& c : cases) {
        suffix.setAsString(c.in);
        QCOMPARE(suffix.asString(), c.out);
    }
    m.cancel();

    // a 50-character city fits its list but is cut to 25 in the log
    const QString city = QStringLiteral("Старая Ладога-на-Волхове, Ленинградская область")
                             .leftJustified(50, QLatin1Char('.'));
    addRow(*f.t.cityes, {{"Name", city}});
    QCOMPARE(text(*f.t.cityes, "Name"), city);
    addRow(m, {{"CorID", 1}, {"CorCity", city}});
    QCOMPARE(text(m, "CorCity"), city.left(25));
    // memos have no limit
    const QString memo = QStringLiteral("x").repeated(100000);
    addRow(m, {{"CorID", 1}, {"Notice", memo}});
    QCOMPARE(text(m, "Notice"), memo);
}

void TestTable::notifications() {
    TempDataDir dir;
    Fixture f;
    Table& m = *f.t.main;
    Recorder r(m);
    m.filePath = dir.path() + QStringLiteral("Main.db");

    // appending: after-insert, then after-scroll on the new row, which has no ID yet
    m.append();
    QCOMPARE(r.take(), (QStringList{"insert", "scroll:0"}));
    m.fieldByName(fld::CorID).setAsInteger(1);
    m.post(); // a post does not scroll
    QCOMPARE(r.take(), QStringList{"post"});
    m.edit(); // nor does the start of an edit
    QCOMPARE(r.take(), QStringList());
    m.post();
    QCOMPARE(r.take(), QStringList{"post"});
    addRow(m, {{"CorID", 1}});
    addRow(m, {{"CorID", 1}});
    r.take();

    m.first();
    QCOMPARE(r.take(), QStringList{"scroll:3"});
    m.next();
    m.next();
    QCOMPARE(r.take(), (QStringList{"scroll:2", "scroll:1"}));
    m.next(); // already on the last row: no move
    QCOMPARE(r.take(), QStringList());
    QVERIFY(m.locate(fld::ID, 2));
    QCOMPARE(r.take(), QStringList{"scroll:2"});
    QVERIFY(!m.locate(fld::ID, 9));
    QCOMPARE(r.take(), QStringList());
    m.moveTo(0);
    QCOMPARE(r.take(), QStringList{"scroll:3"});
    m.deleteRecord();
    QCOMPARE(r.take(), (QStringList{"delete", "scroll:2"}));

    // opening: after-scroll on the first row when there are rows
    m.write();
    m.close();
    r.take();
    m.load();
    QCOMPARE(r.take(), QStringList{"scroll:2"});
    m.close();
    m.createEmpty();
    QCOMPARE(r.take(), QStringList());
    m.write();
    m.close();
    m.load();
    QCOMPARE(r.take(), QStringList());
}

void TestTable::numberText() {
    const QLocale loc;
    const QString dp = loc.decimalPoint();
    const QString other = dp == QLatin1String(".") ? QStringLiteral(",") : QStringLiteral(".");
    QCOMPARE(floatToText(0.1), QStringLiteral("0") + dp + QStringLiteral("1"));
    QCOMPARE(floatToText(7.0), QStringLiteral("7"));
    QCOMPARE(floatToText(-2.5), QStringLiteral("-2") + dp + QStringLiteral("5"));
    QCOMPARE(floatToText(1234567.0), QStringLiteral("1234567")); // no digit grouping
    QCOMPARE(floatToText(1.0 / 3), QStringLiteral("0") + dp + QStringLiteral("333333333333333"));

    double d = -1;
    QVERIFY(textToFloat(QStringLiteral("1") + dp + QStringLiteral("5"), &d));
    QCOMPARE(d, 1.5);
    QVERIFY(textToFloat(QStringLiteral("-007"), &d));
    QCOMPARE(d, -7.0);
    QVERIFY(textToFloat(floatToText(0.1), &d));
    QCOMPARE(d, 0.1);
    d = -1;
    for (const QString& bad :
         {QStringLiteral("1") + other + QStringLiteral("5"), QString(), QStringLiteral("abc"),
          QStringLiteral("1e999"), QStringLiteral("1") + dp + QStringLiteral("5x"),
          QStringLiteral("inf"), QStringLiteral("-inf"), QStringLiteral("nan")}) {
        QVERIFY2(!textToFloat(bad, &d), qPrintable(bad));
        QCOMPARE(d, -1.0); // untouched
    }
}

// Random appends, edits, deletes, moves and searches, checked step by step
// against a plain list of rows.
void TestTable::randomOperationsMatchReference_data() {
    QTest::addColumn<bool>("log");
    QTest::newRow("log: newest first, repeated texts") << true;
    QTest::newRow("correspondents: unique call signs") << false;
}

void TestTable::randomOperationsMatchReference() {
    QFETCH(bool, log);
    struct Row {
        int id;
        QString text; // null: null
        int num;      // 0: null
    };
    LogTables lt = createLogTables();
    Table& t = log ? *lt.main : *lt.cors;
    t.createEmpty();
    const QString textField = log ? QStringLiteral("CorCity") : QStringLiteral("CallName");
    const QString numField = log ? QStringLiteral("CorID") : QStringLiteral("NameID");
    const bool unique = !log;
    const int tfi = t.fieldIndex(textField), nfi = t.fieldIndex(numField);
    const int idfi = t.fieldIndex(QStringLiteral("ID"));
    QList<Row> ref; // by ascending ID
    QRandomGenerator rng(log ? 4711 : 815);
    const QStringList pieces = {QStringLiteral("Ab"), QStringLiteral("aB"), QStringLiteral("Мо"),
                                QStringLiteral("мО"), QStringLiteral("x")};
    auto randomText = [&] {
        QString s;
        for (int i = 0, n = 1 + int(rng.bounded(3)); i < n; ++i)
            s += pieces[int(rng.bounded(5))];
        return s;
    };
    auto newText = [&] { return log && rng.bounded(10) == 0 ? QString() : randomText(); };
    auto newNum = [&] { return int(rng.bounded(log ? 1 : 0, 5)); };
    auto ordered = [&] {
        QList<Row> o = ref;
        if (log) std::reverse(o.begin(), o.end());
        return o;
    };
    auto duplicate = [&](const QString& s, int ownId) {
        return unique && std::any_of(ref.begin(), ref.end(),
                                     [&](const Row& r) { return r.id != ownId && r.text == s; });
    };
    auto fill = [&](const QString& s, int num) {
        t.field(tfi).setValue(s.isNull() ? QVariant() : QVariant(s));
        t.field(nfi).setValue(num ? QVariant(num) : QVariant());
    };
    auto cur = [&] { return t.isEmpty() ? 0 : currentId(t); };
    auto mismatch = [&]() -> QString {
        const QList<Row> o = ordered();
        if (t.recordCount() != o.size())
            return QStringLiteral("%1 rows, expected %2").arg(t.recordCount()).arg(o.size());
        for (int pos = 0; pos < o.size(); ++pos) {
            const Row& r = o[pos];
            const QVariant num = t.valueAt(pos, nfi);
            if (t.valueAt(pos, idfi).toInt() != r.id || t.valueAt(pos, tfi).toString() != r.text ||
                t.valueAt(pos, tfi).isValid() != !r.text.isNull() || num.toInt() != r.num ||
                num.isValid() != (r.num != 0))
                return QStringLiteral("row %1 differs (ID %2, expected ID %3)")
                    .arg(pos)
                    .arg(t.valueAt(pos, idfi).toInt())
                    .arg(r.id);
        }
        return {};
    };

    for (int step = 0; step < 2500; ++step) {
        const int dice = int(rng.bounded(100));
        QString what;
        if (dice < 35) {
            const QString s = log ? newText() : randomText();
            const int num = newNum();
            what = QStringLiteral("append '%1' %2").arg(s).arg(num);
            t.append();
            fill(s, num);
            if (duplicate(s, 0)) {
                QVERIFY2(errorOf([&] { t.post(); }) != kNoError, qPrintable(what));
                QVERIFY(t.state() == TableState::Insert);
                t.cancel();
            } else {
                t.post();
                const int id = cur();
                QVERIFY2(id > 0 && std::none_of(ref.begin(), ref.end(),
                                                [&](const Row& r) { return r.id == id; }),
                         qPrintable(what + QStringLiteral(": ID %1").arg(id)));
                ref.append({id, s, num});
            }
        } else if (dice < 55 && !ref.isEmpty()) {
            const int id = cur();
            auto it =
                std::find_if(ref.begin(), ref.end(), [&](const Row& r) { return r.id == id; });
            QVERIFY(it != ref.end());
            const QString s = rng.bounded(2) ? it->text : (log ? newText() : randomText());
            const int num = newNum();
            what = QStringLiteral("edit ID %1 to '%2' %3").arg(id).arg(s).arg(num);
            t.edit();
            fill(s, num);
            if (duplicate(s, id)) {
                QVERIFY2(errorOf([&] { t.post(); }) != kNoError, qPrintable(what));
                t.cancel();
            } else {
                t.post();
                QVERIFY2(cur() == id, qPrintable(what));
                it->text = s;
                it->num = num;
            }
        } else if (dice < 68 && !ref.isEmpty()) {
            const QList<Row> o = ordered();
            const int pos = t.recNo();
            what = QStringLiteral("delete at %1").arg(pos);
            t.deleteRecord();
            ref.removeIf([&](const Row& r) { return r.id == o[pos].id; });
            if (!ref.isEmpty()) {
                const int now = cur();
                QVERIFY2((pos > 0 && now == o[pos - 1].id) ||
                             (pos + 1 < o.size() && now == o[pos + 1].id),
                         qPrintable(what));
            }
        } else if (dice < 78 && !ref.isEmpty()) {
            const int pos = int(rng.bounded(qsizetype(ref.size())));
            what = QStringLiteral("move to %1").arg(pos);
            t.moveTo(pos);
            QVERIFY2(t.recNo() == pos && cur() == ordered()[pos].id, qPrintable(what));
        } else {
            const int kind = int(rng.bounded(5));
            const int before = cur();
            int expected = 0;
            bool found = false;
            if (kind < 4) {
                QString q = randomText();
                const LocateOptions opts = kind;
                if (opts & loPartialKey) q = q.left(1 + int(rng.bounded(qsizetype(q.size()))));
                const Qt::CaseSensitivity cs =
                    opts & loCaseInsensitive ? Qt::CaseInsensitive : Qt::CaseSensitive;
                what = QStringLiteral("locate '%1' options %2").arg(q).arg(opts);
                for (const Row& r : ordered())
                    if (!r.text.isNull() && ((opts & loPartialKey) ? r.text.startsWith(q, cs)
                                                                   : r.text.compare(q, cs) == 0)) {
                        expected = r.id;
                        break;
                    }
                found = t.locate(textField, q, opts);
            } else {
                const int q = 1 + int(rng.bounded(5));
                what = QStringLiteral("locate %1 %2").arg(numField).arg(q);
                for (const Row& r : ordered())
                    if (r.num == q) {
                        expected = r.id;
                        break;
                    }
                found = t.locate(numField, q);
            }
            QVERIFY2(found == (expected != 0), qPrintable(what));
            QVERIFY2(cur() == (found ? expected : before),
                     qPrintable(what + QStringLiteral(": on ID %1, expected %2")
                                           .arg(cur())
                                           .arg(found ? expected : before)));
        }
        const QString diff = mismatch();
        QVERIFY2(diff.isEmpty(),
                 qPrintable(QStringLiteral("step %1 (%2): %3").arg(step).arg(what, diff)));
    }
}

// The order of a long table, kept in blocks: put-ins and take-outs anywhere,
// blocks split and merged, against a plain vector.
void TestTable::slotSequenceMatchesAVector() {
    QRandomGenerator rng(2026);
    std::vector<uint32_t> ref;
    for (uint32_t v = 0; v < 3 * SlotSequence::kBlock; ++v)
        ref.push_back(2 * v);
    SlotSequence seq(ref);
    auto mismatch = [&](const QString& phase) -> QString {
        if (seq.size() != ref.size() || seq.toVector() != ref)
            return phase +
                   QStringLiteral(": %1 slots, expected %2").arg(seq.size()).arg(ref.size());
        for (int probe = 0; probe < 50 && !ref.empty(); ++probe) {
            const size_t i = rng.bounded(quint32(ref.size()));
            const uint32_t key = uint32_t(rng.bounded(quint32(2 * ref.back() + 2)));
            const size_t want = size_t(std::lower_bound(ref.begin(), ref.end(), key) - ref.begin());
            auto it = seq.at(i);
            if (seq[i] != ref[i] || *it != ref[i] || (i + 1 < ref.size() && *++it != ref[i + 1]) ||
                seq.partitionPoint([&](uint32_t v) { return v < key; }) != want)
                return phase +
                       QStringLiteral(": position %1 or key %2 found wrong").arg(i).arg(key);
        }
        return {};
    };
    // put-ins at their sorted place, mostly into the same few blocks (splits)
    for (int step = 0; step < 4 * int(SlotSequence::kBlock); ++step) {
        const uint32_t v = step % 3 ? uint32_t(rng.bounded(1000u)) : rng.generate() % 30000u;
        const size_t at = seq.partitionPoint([&](uint32_t x) { return x < v; });
        seq.insert(at, v);
        ref.insert(ref.begin() + std::ptrdiff_t(at), v);
    }
    QString m = mismatch(QStringLiteral("after put-ins"));
    QVERIFY2(m.isEmpty(), qPrintable(m));
    // take-outs until few are left (blocks emptied and merged), then the
    // end grows again
    while (ref.size() > 100) {
        const size_t at = rng.bounded(quint32(ref.size()));
        seq.erase(at);
        ref.erase(ref.begin() + std::ptrdiff_t(at));
        if (ref.size() % 5000 == 0) {
            m = mismatch(QStringLiteral("taking out, %1 left").arg(ref.size()));
            QVERIFY2(m.isEmpty(), qPrintable(m));
        }
    }
    for (uint32_t v = 40000; v < 40000 + 2 * SlotSequence::kBlock + 7; ++v) {
        seq.insert(seq.size(), v);
        ref.push_back(v);
    }
    m = mismatch(QStringLiteral("at the end"));
    QVERIFY2(m.isEmpty(), qPrintable(m));
    QVERIFY(seq == SlotSequence(ref) && !(seq == SlotSequence()));
    while (!ref.empty()) {
        seq.erase(0);
        ref.erase(ref.begin());
    }
    QVERIFY(seq.empty() && seq.begin() == seq.end() && seq.at(0) == seq.end());
    seq.insert(0, 7);
    QCOMPARE(seq.toVector(), std::vector<uint32_t>{7});
}

QTEST_GUILESS_MAIN(TestTable)
#include "tst_table.moc"
