// Table files: exact round trips, incremental and whole writes, validating
// loads that touch nothing, and writes that fail without harm.
#include "DataTestUtil.h"
#include "TestUtil.h"
#include "data/Fields.h"
#include "data/Schema.h"
#include "data/TableFile.h"
#include "data/uDM.h"

#include <QDir>
#include <QRandomGenerator>
#include <QtTest>

#include <cfloat>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace qardel;
using testutil::addRow;
using testutil::dumpModule;
using testutil::dumpRecords;
using testutil::dumpTable;
using testutil::errorOf;
using testutil::execSql;
using testutil::fileContent;
using testutil::filesIn;
using testutil::firstDifference;
using testutil::HookGuard;
using testutil::kNineFiles;
using testutil::readBytes;

using testutil::Fixture;
using testutil::kNoError;

namespace {

quint64 inode(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? quint64(st.st_ino) : 0;
}

QDateTime at(int y, int mo, int d, int h, int mi, int s, int ms) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms));
}

// A deterministic batch of changes of every kind to a log table: appends,
// edits (to nulls, a new memo, a new time), deletes of new and old rows, and a
// row edited and then deleted before the next write.
void changeLog(Table& t, int round) {
    for (int i = 0; i < 3; ++i)
        addRow(t, {{"CorID", round + 1},
                   {"CorCity", QStringLiteral("Город %1-%2").arg(round).arg(i)},
                   {"Notice", QStringLiteral("заметка %1 ").arg(round).repeated(40)},
                   {"CorPower", 0.1 * (round + i)},
                   {"Time", at(2024, 5, 1 + round, 10, i, 0, 7 * i)}});
    t.moveTo(t.recordCount() - 1 - round);
    t.edit();
    t.fieldByName(fld::CorCity).clear();
    t.fieldByName(fld::CorPower).clear();
    t.fieldByName(fld::Repeater).setAsBoolean(true);
    t.post();
    t.moveTo(5);
    t.edit();
    t.fieldByName(fld::Notice).setAsString(QStringLiteral("новая заметка\r\nвторая строка"));
    t.fieldByName(fld::Time).setAsDateTime(at(2023, 12, 31, 23, 59, 59, 999));
    t.post();
    t.moveTo(2);
    t.edit();
    t.fieldByName(fld::CorSuffix).setAsString(QStringLiteral("QRP"));
    t.post();
    t.deleteRecord();
    t.first();
    t.deleteRecord(); // just appended
    t.moveTo(7 + round);
    t.deleteRecord();
    t.moveTo(t.recordCount() - 1);
    t.deleteRecord(); // the oldest
}

void fillLog(Table& t, int rows) {
    for (int i = 0; i < rows; ++i)
        addRow(t, {{"CorID", i % 5 + 1},
                   {"BandID", i % 3 ? QVariant(i % 3) : QVariant()},
                   {"CorCity", QStringLiteral("Тверь %1").arg(i)},
                   {"Notice", QStringLiteral("QSO %1").arg(i)},
                   {"CorPower", i * 0.1},
                   {"Time", at(2024, 1, 1 + i % 28, i % 24, i % 60, 0, i)}});
}

} // namespace

class TestTableFile : public QObject {
    Q_OBJECT
  private slots:
    void cleanup() {
        TableFile::faultHook = nullptr;
        TableFile::rowsForTwoReaders = 50000;
    }
    void roundTripIsExact();
    void newIdsAfterLoadAreAboveAllPresent();
    void incrementalWriteEqualsWholeWrite();
    void fileChangedElsewhereIsWrittenWhole_data();
    void fileChangedElsewhereIsWrittenWhole();
    void loadRefusesBadFiles_data();
    void loadRefusesBadFiles();
    void interruptedWriteKeepsOldFile_data();
    void interruptedWriteKeepsOldFile();
    void writesTakeEveryDurableStep();
    void interruptedCheckpointLoadsEveryRow();
    void failedWriteKeepsOldFile_data();
    void failedWriteKeepsOldFile();
    void deletedFileIsWrittenAgain();
    void loadRefusesRepeatedUniqueTexts();
    void twoReadersLoadWhatOneReads();
    void closeLeavesNoLogOfAReader_data();
    void closeLeavesNoLogOfAReader();
};

void TestTableFile::roundTripIsExact() {
    TempDataDir dir;
    Fixture a;
    Table& m = *a.t.main;
    m.filePath = dir.path() + QStringLiteral("Main.db");
    const double doubles[] = {0.1,
                              1e300,
                              -0.0,
                              0.0,
                              5e-324,
                              DBL_MAX,
                              -DBL_MAX,
                              1.0 / 3,
                              -1.5,
                              1e18,
                              -1e-300,
                              2.2250738585072014e-308,
                              123456789.123456789,
                              4503599627370497.0};
    const QDateTime times[] = {at(2024, 1, 15, 9, 5, 7, 123), at(1999, 12, 31, 23, 59, 59, 999),
                               at(2000, 2, 29, 0, 0, 0, 0), at(1901, 7, 4, 12, 0, 0, 1)};
    const QString face = QStringLiteral("\U0001F600");

    const int nullRow = addRow(m, {{"CorID", 1}}); // everything else null
    int i = 0;
    for (double d : doubles) {
        addRow(m, {{"CorID", i % 2 ? INT32_MAX : INT32_MIN},
                   {"BandID", -i},
                   {"CorPower", d},
                   {"MyPower", -d},
                   {"Time", times[i % 4]},
                   {"Repeater", i % 2 == 0},
                   {"QSL", i % 3 == 0},
                   {"CorSuffix", QStringLiteral("ё") + face.repeated(5)}, // cut to 5 characters
                   {"CorCity", QStringLiteral("Санкт-Петербург №%1 «Ёж» \t").arg(i)},
                   {"Notice", QStringLiteral("Привет!\r\nЗаметка %1 \U0001F4FB").arg(i)}});
        ++i;
    }
    QString memo;
    memo.reserve(3 * 1024 * 1024);
    while (memo.size() < 3 * 1024 * 1024)
        memo += QStringLiteral("73! Спасибо за QSO, до встречи в эфире \U0001F4E1\n");
    const int memoRow = addRow(m, {{"CorID", 2}, {"Notice", memo}});
    m.write();

    // and a settings table, whose order and unique index come from the data
    Table& ini = *a.t.ini;
    ini.filePath = dir.path() + QStringLiteral("Ini.db");
    for (const QString& n : {QStringLiteral("Цвет"), QStringLiteral("LastMode"),
                             QStringLiteral("lastband"), QStringLiteral("Шрифт")})
        addRow(ini, {{"Name", n}, {"Value", QStringLiteral("1")}});
    ini.write();

    const QByteArray fileBefore = readBytes(m.filePath);
    Fixture b;
    b.t.main->filePath = m.filePath;
    b.t.main->load();
    b.t.ini->filePath = ini.filePath;
    b.t.ini->load();
    QCOMPARE(readBytes(m.filePath), fileBefore); // loading writes nothing

    const QString diff = firstDifference(dumpTable(*b.t.main), dumpTable(m));
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
    QCOMPARE(dumpTable(*b.t.ini), dumpTable(ini));

    // spot checks that say what went wrong when the dump comparison fails
    Table& l = *b.t.main;
    QVERIFY(l.locate(fld::ID, nullRow + 3)); // the -0.0 row
    QVERIFY(std::signbit(l.fieldByName(fld::CorPower).asFloat()));
    QVERIFY(l.locate(fld::ID, nullRow + 1));
    QCOMPARE(l.fieldByName(fld::CorPower).asFloat(), 0.1);
    QCOMPARE(l.fieldByName(fld::Time).asDateTime(), times[0]);
    QCOMPARE(l.fieldByName(fld::CorSuffix).asString(), QStringLiteral("ё") + face.repeated(4));
    QVERIFY(l.locate(fld::ID, nullRow));
    for (const char* f :
         {"Time", "BandID", "CorPower", "Notice", "CorSuffix", "QSL", "Repeater", "CorCity"})
        QVERIFY2(l.fieldByName(QString::fromLatin1(f)).isNull(), f);
    QVERIFY(l.locate(fld::ID, memoRow));
    QVERIFY(l.fieldByName(fld::Notice).asString() == memo);

    // the active orders and the unique index hold after a load
    QCOMPARE(testutil::idsInOrder(l).first(), memoRow);
    QStringList names;
    for (int pos = 0; pos < b.t.ini->recordCount(); ++pos)
        names << b.t.ini->valueAt(pos, 1).toString();
    QCOMPARE(names, (QStringList{"lastband", "LastMode", "Цвет", "Шрифт"}));
    b.t.ini->append();
    b.t.ini->fieldByName(fld::Name).setAsString(QStringLiteral("Цвет"));
    QVERIFY(errorOf([&] { b.t.ini->post(); }) != kNoError);
    b.t.ini->cancel();
}

// An ID once handed out is never handed out again, across restarts too, even
// when its row was deleted before a whole or an incremental write.
void TestTableFile::newIdsAfterLoadAreAboveAllPresent() {
    TempDataDir dir;
    const QString path = dir.path() + QStringLiteral("Modes.db");
    auto reopened = [&](Fixture& f) -> Table& {
        Table& m = *f.t.modes;
        m.filePath = path;
        m.load();
        return m;
    };
    {
        Fixture a;
        Table& m = *a.t.modes;
        m.filePath = path;
        for (int i = 1; i <= 7; ++i)
            addRow(m, {{"Name", QStringLiteral("M%1").arg(i)}});
        for (int id = 3; id <= 7; ++id) {
            QVERIFY(m.locate(fld::ID, id));
            m.deleteRecord();
        }
        m.write(); // whole
    }
    {
        Fixture b;
        Table& m = reopened(b);
        QCOMPARE(testutil::idsInOrder(m), (QList<int>{1, 2}));
        QCOMPARE(addRow(m, {{"Name", "FM"}}), 8);
        m.write(); // incremental
        m.deleteRecord();
        m.write();
    }
    Fixture c;
    QCOMPARE(addRow(reopened(c), {{"Name", "AM"}}), 9);

    // a file written before the mark was kept starts after its largest ID
    QCOMPARE(execSql(path, QStringLiteral("DELETE FROM meta WHERE key='last_id'")), QString());
    Fixture d;
    Table& older = reopened(d);
    QCOMPARE(addRow(older, {{"Name", "AM"}}), 3);
    older.write(); // incremental: the mark is made again
    older.deleteRecord();
    older.write();
    Fixture again;
    QCOMPARE(addRow(reopened(again), {{"Name", "SSB"}}), 4);

    // the top of the range: the largest ID is handed out once, then a new row
    // is refused with the table and its file named
    QCOMPARE(execSql(path, QStringLiteral("UPDATE records SET ID=2147483646 WHERE ID=2")),
             QString());
    Fixture e;
    Table& n = reopened(e);
    QCOMPARE(addRow(n, {{"Name", "AM"}}), INT32_MAX);
    n.append();
    n.fieldByName(fld::Name).setAsString(QStringLiteral("CW"));
    QCOMPARE(errorOf([&] { n.post(); }),
             QStringLiteral("No more row numbers are free in table 'dsModes' (file '%1')")
                 .arg(QDir::toNativeSeparators(path)));
    n.cancel();
    QCOMPARE(testutil::idsInOrder(n), (QList<int>{1, 2147483646, INT32_MAX}));
}

void TestTableFile::incrementalWriteEqualsWholeWrite() {
    TempDataDir dir;
    const QString path = dir.path() + QStringLiteral("Main.db");
    // A writes to one file throughout; B gets the same changes and writes each
    // round to a new file, which is always written whole.
    Fixture a, b;
    Table& ta = *a.t.main;
    Table& tb = *b.t.main;
    ta.filePath = path;
    fillLog(ta, 40);
    fillLog(tb, 40);
    ta.write();
    const quint64 ino = inode(path);
    for (int round = 0; round < 3; ++round) {
        changeLog(ta, round);
        changeLog(tb, round);
        ta.write();
        QCOMPARE(inode(path), ino); // updated in place, not rewritten
        // the log has room for its frames up to its folding (256 pages), so
        // that a commit does not sync a new size as well
        QVERIFY(QFileInfo(path + QStringLiteral("-wal")).size() >= 32 + 256 * (24 + 4096));
        tb.filePath = dir.path() + QStringLiteral("Whole%1.db").arg(round);
        tb.write();
        const QString diff = firstDifference(dumpRecords(path), dumpRecords(tb.filePath));
        QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral("round %1: %2").arg(round).arg(diff)));
    }

    // the same after a load, the way the program starts
    Fixture c, d;
    c.t.main->filePath = path;
    c.t.main->load();
    d.t.main->filePath = path;
    d.t.main->load();
    changeLog(*c.t.main, 3);
    changeLog(*d.t.main, 3);
    c.t.main->write();
    QCOMPARE(inode(path), ino);
    d.t.main->filePath = dir.path() + QStringLiteral("WholeAfterLoad.db");
    d.t.main->write();
    const QString diff = firstDifference(dumpRecords(path), dumpRecords(d.t.main->filePath));
    QVERIFY2(diff.isEmpty(), qPrintable(diff));

    Fixture e;
    e.t.main->filePath = path;
    e.t.main->load();
    QCOMPARE(dumpTable(*e.t.main), dumpTable(*c.t.main));
}

void TestTableFile::fileChangedElsewhereIsWrittenWhole_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("rows changed by another program") << "rows";
    // our connection is open: only SQLite's data version tells
    QTest::newRow("rows changed by another program after an incremental write") << "open rows";
    QTest::newRow("an older copy of the file put back") << "copy";
    // the same file, size and time: only the generation inside tells
    QTest::newRow("an older copy written back in place, size and time kept") << "in place";
}

void TestTableFile::fileChangedElsewhereIsWrittenWhole() {
    QFETCH(QString, how);
    TempDataDir dir;
    const QString path = dir.path() + QStringLiteral("Main.db");
    const QString copy = dir.path() + QStringLiteral("Backup.db");
    Fixture a;
    Table& m = *a.t.main;
    m.filePath = path;
    fillLog(m, 20);
    m.write();
    if (how == QLatin1String("copy")) {
        QVERIFY(QFile::copy(path, copy));
        changeLog(m, 0);
        m.write();
        QVERIFY(QFile::remove(path));
        QVERIFY(QFile::copy(copy, path));
    } else if (how == QLatin1String("in place")) {
        const QByteArray older = readBytes(path);
        m.moveTo(0);
        m.edit();
        m.fieldByName(QStringLiteral("CorCity")).setAsString(QStringLiteral("Тверь"));
        m.post();
        m.write();
        m.close(); // the log folded in; loaded again, the file is as we left it
        m.load();
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(qint64(st.st_size), older.size());
        QVERIFY(testutil::writeBytes(path, older));
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
    } else {
        if (how == QLatin1String("open rows")) {
            changeLog(m, 0);
            m.write();
        }
        QCOMPARE(execSql(path, QStringLiteral("UPDATE records SET CorCity='чужой' WHERE ID=1;"
                                              "INSERT INTO records(ID, CorID) VALUES(1000, 1);"
                                              "DELETE FROM records WHERE ID=2;")),
                 QString());
    }
    changeLog(m, 1);
    m.write();

    // the file holds exactly the table, nothing of what was there before
    Fixture b;
    b.t.main->filePath = path;
    b.t.main->load();
    const QString diff = firstDifference(dumpTable(*b.t.main), dumpTable(m));
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

void TestTableFile::loadRefusesBadFiles_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("message"); // besides the file's name; empty: any
    QTest::newRow("missing column") << "drop CorCity"
                                    << "Field 'CorCity' not found";
    QTest::newRow("declared type")
        << "retype CorPower"
        << "Type mismatch for field 'CorPower', expecting: Float actual: TEXT";
    QTest::newRow("text in an integer field")
        << "UPDATE records SET CorID='abc' WHERE ID=1"
        << "Type mismatch for field 'CorID', expecting: Integer actual: Text";
    QTest::newRow("text in a float field")
        << "UPDATE records SET MyPower='много' WHERE ID=3"
        << "Type mismatch for field 'MyPower', expecting: Float actual: Text";
    QTest::newRow("blob in a memo")
        << "UPDATE records SET Notice=x'00ff' WHERE ID=2"
        << "Type mismatch for field 'Notice', expecting: Memo actual: Blob";
    QTest::newRow("not a date and time") << "UPDATE records SET Time='вчера' WHERE ID=1"
                                         << "Type mismatch for field 'Time', expecting: DateTime";
    QTest::newRow("boolean out of range") << "UPDATE records SET Repeater=2 WHERE ID=1"
                                          << "Type mismatch for field 'Repeater'";
    QTest::newRow("ID zero") << "UPDATE records SET ID=0 WHERE ID=1"
                             << "";
    QTest::newRow("zero length") << "empty"
                                 << "the file is empty (zero length)";
    QTest::newRow("truncated at a page") << "cut 4096"
                                         << "";
    QTest::newRow("truncated inside a page") << "cut -1000"
                                             << "";
    QTest::newRow("random bytes") << "garbage"
                                  << "";
    QTest::newRow("a text file") << "text"
                                 << "";
    QTest::newRow("another program's database") << "foreign"
                                                << "";
    QTest::newRow("another table's file") << "cors"
                                          << "";
    QTest::newRow("newer format") << "UPDATE meta SET value='2' WHERE key='format'"
                                  << "newer";
    QTest::newRow("bytes that are not UTF-8")
        << "UPDATE records SET CorCity=CAST(x'd0bed0ff41' AS TEXT) WHERE ID=2"
        << "the field 'CorCity' of the row with ID 2 holds text that is not valid UTF-8";
    for (const auto& [what, bytes] :
         {std::pair{"a surrogate in UTF-8", "41eda080"}, std::pair{"an overlong form", "41c080"},
          std::pair{"a code point past U+10FFFF", "41f4908080"}})
        QTest::newRow(what) << QStringLiteral("UPDATE records SET CorCity=CAST(x'%1' AS TEXT) "
                                              "WHERE ID=2")
                                   .arg(QLatin1String(bytes))
                            << "the field 'CorCity' of the row with ID 2 holds text that is not "
                               "valid UTF-8";
    QTest::newRow("bytes that are not UTF-8 after the first kibibyte")
        << "UPDATE records SET Notice=CAST(replace(hex(zeroblob(1000)), '0', 'a') || x'ff' AS "
           "TEXT) WHERE ID=2"
        << "the field 'Notice' of the row with ID 2 holds text that is not valid UTF-8";
    QTest::newRow("another database's rollback journal")
        << "journal"
        << "Main.db-journal', which this program never writes; it was not applied";
    QTest::newRow("another database's rollback journal beside a write-ahead log")
        << "journal and wal"
        << "Main.db-journal', which this program never writes; it was not applied";
}

void TestTableFile::loadRefusesBadFiles() {
    QFETCH(QString, change);
    QFETCH(QString, message);
    TempDataDir dir;
    const QString path = dir.path() + QStringLiteral("Main.db");
    {
        Fixture a;
        a.t.main->filePath = path;
        fillLog(*a.t.main, 3);
        addRow(*a.t.main, {{"CorID", 1}, {"Notice", QStringLiteral("ш").repeated(20000)}});
        a.t.main->write();
        a.t.cors->filePath = dir.path() + QStringLiteral("Cors.db");
        addRow(*a.t.cors, {{"CallName", "UA3AAA"}});
        a.t.cors->write();
    }
    const QByteArray good = readBytes(path);
    QVERIFY(good.size() > 4 * 4096);

    if (change.startsWith(QLatin1String("UPDATE"))) {
        QCOMPARE(execSql(path, change), QString());
    } else if (change == QLatin1String("drop CorCity")) {
        QCOMPARE(execSql(path, QStringLiteral("ALTER TABLE records DROP COLUMN CorCity")),
                 QString());
    } else if (change == QLatin1String("retype CorPower")) {
        // rebuild the records table with one column declared otherwise
        QStringList defs;
        for (const QString& col : testutil::queryRows(
                 path, QStringLiteral("SELECT name, type FROM pragma_table_info('records')"))) {
            const QStringList nt = col.split(QLatin1Char('|'));
            const QString name = nt[0].mid(2);
            defs << QStringLiteral("\"%1\" %2")
                        .arg(name, name == QLatin1String("CorPower") ? QStringLiteral("TEXT")
                                                                     : nt[1].mid(2));
        }
        QCOMPARE(execSql(path, QStringLiteral("CREATE TABLE r2(%1); INSERT INTO r2 SELECT * FROM "
                                              "records; DROP TABLE records; ALTER TABLE r2 RENAME "
                                              "TO records;")
                                   .arg(defs.join(QLatin1Char(',')))),
                 QString());
    } else if (change == QLatin1String("empty")) {
        QVERIFY(testutil::writeBytes(path, {}));
    } else if (change.startsWith(QLatin1String("cut"))) {
        const int n = change.mid(4).toInt();
        QVERIFY(testutil::writeBytes(path, good.left(n > 0 ? n : good.size() + n)));
    } else if (change == QLatin1String("garbage")) {
        QByteArray junk(16384, '\0');
        QRandomGenerator rng(7);
        for (char& ch : junk)
            ch = char(rng.bounded(256));
        QVERIFY(testutil::writeBytes(path, junk));
    } else if (change == QLatin1String("text")) {
        QVERIFY(testutil::writeBytes(path, "CorID;Time\n1;2024-01-01\n"));
    } else if (change == QLatin1String("foreign")) {
        QVERIFY(QFile::remove(path));
        sqlite3* db = nullptr;
        sqlite3_open(QFile::encodeName(path).constData(), &db);
        sqlite3_exec(
            db, "CREATE TABLE records(x); CREATE TABLE other(y); INSERT INTO records VALUES(1)",
            nullptr, nullptr, nullptr);
        sqlite3_close(db);
    } else if (change == QLatin1String("cors")) {
        QVERIFY(QFile::remove(path));
        QVERIFY(QFile::copy(dir.path() + QStringLiteral("Cors.db"), path));
    } else if (change.startsWith(QLatin1String("journal"))) {
        // the hot journal of another database, taken in the middle of its
        // transaction, once its pages had to go to disk
        const QString other = dir.path() + QStringLiteral("other.db");
        QVERIFY(QFile::copy(path, other));
        sqlite3* db = nullptr;
        sqlite3_open(QFile::encodeName(other).constData(), &db);
        QCOMPARE(sqlite3_exec(db,
                              "PRAGMA journal_mode=DELETE; PRAGMA synchronous=OFF; "
                              "PRAGMA cache_size=1; BEGIN; UPDATE records SET Notice='x'",
                              nullptr, nullptr, nullptr),
                 SQLITE_OK);
        QVERIFY(QFile::copy(other + QStringLiteral("-journal"), path + QStringLiteral("-journal")));
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        QVERIFY(QFile::remove(other));
        QVERIFY(QFileInfo(path + QStringLiteral("-journal")).size() > 0);
        // a log that holds data does not make the journal ours
        if (change.endsWith(QLatin1String("wal")))
            QVERIFY(testutil::writeBytes(path + QStringLiteral("-wal"), QByteArray(4096, 'w')));
    }
    const QByteArray bad = readBytes(path);
    const QByteArray journal = readBytes(path + QStringLiteral("-journal"));
    const QStringList files = filesIn(dir.path());

    Fixture b;
    Table& m = *b.t.main;
    m.filePath = path;
    const QString err = errorOf([&] { m.load(); });
    QVERIFY2(err.contains(QDir::toNativeSeparators(path)), qPrintable(err));
    QVERIFY2(err.contains(message), qPrintable(err));
    // nothing changed on disk, and the table stays closed
    QVERIFY(readBytes(path) == bad);
    QVERIFY(readBytes(path + QStringLiteral("-journal")) == journal);
    QCOMPARE(filesIn(dir.path()), files);
    QVERIFY(!m.isActive());
    QCOMPARE(errorOf([&] { m.first(); }),
             QStringLiteral("Cannot perform this operation on a closed dataset"));
    // read by two readers (a long log), the same refusal and nothing changed
    TableFile::rowsForTwoReaders = 1;
    QCOMPARE(errorOf([&] { m.load(); }), err);
    QVERIFY(readBytes(path) == bad);
    QCOMPARE(filesIn(dir.path()), files);
    QVERIFY(!m.isActive());
}

// A write stopped at one of its steps (a crash, a failing disk) leaves the
// previous file as it was, the table's changes counted, and the next write
// complete.
void TestTableFile::interruptedWriteKeepsOldFile_data() {
    QTest::addColumn<QByteArray>("point");
    QTest::newRow("whole write, temporary file written") << QByteArray("temp-written");
    QTest::newRow("whole write, before the rename") << QByteArray("before-rename");
    QTest::newRow("incremental write, before the commit") << QByteArray("before-commit");
}

void TestTableFile::interruptedWriteKeepsOldFile() {
    QFETCH(QByteArray, point);
    TempDataDir dir;
    const QString mainDb = dir.path() + QStringLiteral("Main.db");
    const QString iniDb = dir.path() + QStringLiteral("Ini.db");
    QStringList expected;
    {
        TDM dm;
        dm.DataDir = dir.path();
        dm.OpenTables();
        addRow(*dm.dsCors, {{"CallName", "UA3AAA"}});
        fillLog(*dm.dsMain, 10);
        dm.SaveAll();
        addRow(*dm.dsMain, {{"CorID", 1}, {"Notice", QStringLiteral("новая")}});
        dm.dsMain->moveTo(3);
        dm.dsMain->deleteRecord();
        dm.SetIntSetting(QStringLiteral("LastBand"), 2); // settings are written after the log
        QCOMPARE(dm.dsMain->ChangeCount, 2);
        QCOMPARE(dm.dsINI->ChangeCount, 1);
        if (point != "before-commit") {
            // changed by another program, so it is written whole
            QCOMPARE(
                execSql(mainDb, QStringLiteral("UPDATE records SET CorCity='чужой' WHERE ID=1")),
                QString());
        }
        const QStringList oldMain = fileContent(mainDb), oldIni = fileContent(iniDb);
        {
            HookGuard hook(point.constData());
            // the failure comes from the step named, so the write took the
            // expected way
            QCOMPARE(errorOf([&] { dm.SaveAll(); }), QStringLiteral("injected failure"));
        }
        QCOMPARE(dm.dsMain->ChangeCount, 2);
        QCOMPARE(dm.dsINI->ChangeCount, 1); // not reached
        QCOMPARE(fileContent(mainDb), oldMain);
        QCOMPARE(fileContent(iniDb), oldIni);

        dm.SaveAll();
        QCOMPARE(dm.dsMain->ChangeCount, 0);
        QCOMPARE(dm.dsINI->ChangeCount, 0);
        expected = dumpModule(dm);
    }
    TDM again;
    again.DataDir = dir.path();
    again.OpenTables();
    const QString diff = firstDifference(dumpModule(again), expected);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
    QCOMPARE(filesIn(dir.path()), kNineFiles); // nothing left behind
}

// The steps that make a write durable, in order: a whole write syncs its
// temporary file before the rename (else a power cut can leave the new name
// on a file without its data), the folder before the rename (else a power
// cut can keep an old log beside the new file) and after it (else a power cut
// can undo the rename); an incremental one commits.
void TestTableFile::writesTakeEveryDurableStep() {
    TempDataDir dir;
    static QStringList steps;
    TableFile::faultHook = [](const char* point) { steps << QString::fromLatin1(point); };
    testutil::FileOps ops(dir.path(), &steps);
    Fixture f;
    Table& m = *f.t.modes;
    m.filePath = dir.path() + QStringLiteral("Modes.db");
    addRow(m, {{"Name", "SSB"}});
    steps.clear();
    m.write();
    const QString tmp = QStringLiteral(".Modes.db.%1.tmp").arg(::getpid());
    QCOMPARE(steps, (QStringList{"create " + tmp, "temp-written", "sync " + tmp, "before-rename",
                                 "sync folder ", "logs-removed", "rename " + tmp + " -> Modes.db",
                                 "sync folder ", "folder-synced", "written"}));
    addRow(m, {{"Name", "CW"}});
    steps.clear();
    m.write();
    QCOMPARE(steps, (QStringList{"before-commit", "written"}));
    TableFile::faultHook = nullptr;
}

// A checkpoint cut short leaves the file shorter than its header says, with
// the missing pages still in the write-ahead log beside it: every row loads.
void TestTableFile::interruptedCheckpointLoadsEveryRow() {
    TempDataDir dir, copy;
    const QString path = dir.path() + QStringLiteral("Main.db");
    const QString crashed = copy.path() + QStringLiteral("Main.db");
    QStringList expected;
    {
        TDM dm;
        dm.DataDir = dir.path();
        dm.OpenTables();
        fillLog(*dm.dsMain, 5);
        dm.SaveAll();
        fillLog(*dm.dsMain, 300); // incremental: the new pages sit in the log
        dm.SaveAll();
        expected = dumpTable(*dm.dsMain);
        for (const char* side : {"", "-wal"})
            QVERIFY(QFile::copy(path + side, crashed + side));
    }
    // the checkpoint had written the header of the grown file, nothing more
    const QByteArray grown = readBytes(path), shortFile = readBytes(crashed);
    QVERIFY(grown.size() > shortFile.size());
    QVERIFY(testutil::writeBytes(crashed, grown.left(4096) + shortFile.mid(4096)));
    QVERIFY(QFileInfo(crashed + QStringLiteral("-wal")).size() > 0);
    Fixture f;
    Table& m = *f.t.main;
    m.filePath = crashed;
    m.load();
    QCOMPARE(dumpTable(m), expected);
}

// Real write failures: a folder without write permission, and a disk that is
// full (a file-size limit; root is not exempt from it).
void TestTableFile::failedWriteKeepsOldFile_data() {
    QTest::addColumn<bool>("readOnlyFolder"); // else a full disk
    QTest::addColumn<bool>("whole");
    QTest::newRow("read-only folder, incremental write") << true << false;
    QTest::newRow("read-only folder, whole write") << true << true;
    QTest::newRow("disk full, incremental write") << false << false;
    QTest::newRow("disk full, whole write") << false << true;
}

void TestTableFile::failedWriteKeepsOldFile() {
    QFETCH(bool, readOnlyFolder);
    QFETCH(bool, whole);
    if (readOnlyFolder && ::geteuid() == 0)
        QSKIP("root writes into read-only folders; interruptedWriteKeepsOldFile covers this path");
    TempDataDir dir;
    const QString mainDb = dir.path() + QStringLiteral("Main.db");
    QStringList expected;
    {
        TDM dm;
        dm.DataDir = dir.path();
        dm.OpenTables();
        addRow(*dm.dsCors, {{"CallName", "UA3AAA"}});
        fillLog(*dm.dsMain, 5);
        dm.SaveAll();
        QVERIFY(QFileInfo(mainDb).size() < 48 * 1024);
        // a QSO with a memo larger than the disk has room for
        addRow(*dm.dsMain, {{"CorID", 1}, {"Notice", QStringLiteral("я").repeated(300000)}});
        if (whole)
            QCOMPARE(
                execSql(mainDb, QStringLiteral("UPDATE records SET CorCity='чужой' WHERE ID=1")),
                QString());
        const QStringList old = fileContent(mainDb);

        QString err;
        if (readOnlyFolder) {
            QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
            err = errorOf([&] { dm.SaveAll(); });
            QVERIFY(QFile::setPermissions(dir.path(),
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        } else {
            testutil::FileSizeLimit full(64 * 1024);
            err = errorOf([&] { dm.SaveAll(); });
        }
        if (err == kNoError) {
            // An incremental write may find everything it needs already in
            // the folder (a write-ahead log kept open); then it must be complete.
            QVERIFY2(readOnlyFolder && !whole, "the write did not fail");
            QCOMPARE(dm.dsMain->ChangeCount, 0);
        } else {
            QVERIFY2(err.contains(QDir::toNativeSeparators(mainDb)), qPrintable(err));
            QCOMPARE(dm.dsMain->ChangeCount, 1);
            QCOMPARE(fileContent(mainDb), old);
        }

        // once the disk is writable again, the next SaveAll writes it all
        dm.SaveAll();
        QCOMPARE(dm.dsMain->ChangeCount, 0);
        expected = dumpModule(dm);
    }
    TDM again;
    again.DataDir = dir.path();
    again.OpenTables();
    const QString diff = firstDifference(dumpModule(again), expected);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
    QCOMPARE(filesIn(dir.path()), kNineFiles);
}

void TestTableFile::deletedFileIsWrittenAgain() {
    TempDataDir dir;
    QStringList expected;
    {
        TDM dm;
        dm.DataDir = dir.path();
        dm.OpenTables();
        addRow(*dm.dsCors, {{"CallName", "UA3AAA"}});
        addRow(*dm.dsMain, {{"CorID", 1}});
        dm.SaveAll();
        // removed while the program runs: one table with changes, one without
        addRow(*dm.dsMain, {{"CorID", 1}});
        QVERIFY(QFile::remove(dir.path() + QStringLiteral("Main.db")));
        QVERIFY(QFile::remove(dir.path() + QStringLiteral("Cors.db")));
        QCOMPARE(dm.dsCors->ChangeCount, 0);
        dm.SaveAll();
        QCOMPARE(filesIn(dir.path()), kNineFiles);
        expected = dumpModule(dm);
    }
    TDM again;
    again.DataDir = dir.path();
    again.OpenTables();
    QCOMPARE(dumpModule(again), expected);
    QCOMPARE(again.dsMain->recordCount(), 2);
    QCOMPARE(again.dsCors->recordCount(), 1);
}

// A reader that opens a table file read-only after the program's last write
// (a backup tool, sqlite3 -readonly) leaves an empty write-ahead log and its
// index: a clean close of the tables takes them away, whatever the last write was.
void TestTableFile::closeLeavesNoLogOfAReader_data() {
    QTest::addColumn<int>("saves"); // after opening a fresh folder
    QTest::newRow("one save: whole writes") << 1;
    QTest::newRow("two saves: an incremental write") << 2;
    QTest::newRow("opened from files, nothing saved") << 0;
}

void TestTableFile::closeLeavesNoLogOfAReader() {
    QFETCH(int, saves);
    TempDataDir dir;
    const QByteArray mainDb = QFile::encodeName(dir.path() + QStringLiteral("Main.db"));
    if (saves == 0) {
        TDM first;
        first.DataDir = dir.path();
        first.OpenTables();
        addRow(*first.dsMain, {{"CorID", 1}});
        first.CloseTables();
    }
    QStringList expected;
    {
        TDM dm;
        dm.DataDir = dir.path();
        dm.OpenTables();
        for (int i = 0; i < saves; ++i) {
            addRow(*dm.dsMain, {{"CorID", i + 1}});
            dm.SaveAll();
        }
        sqlite3* reader = nullptr;
        QCOMPARE(sqlite3_open_v2(mainDb.constData(), &reader, SQLITE_OPEN_READONLY, nullptr),
                 SQLITE_OK);
        QCOMPARE(sqlite3_exec(reader, "SELECT count(*) FROM records", nullptr, nullptr, nullptr),
                 SQLITE_OK);
        sqlite3_close(reader);
        QVERIFY(QFileInfo::exists(QFile::decodeName(mainDb) + QStringLiteral("-shm")));
        expected = dumpModule(dm);
        dm.CloseTables();
        QCOMPARE(filesIn(dir.path()), kNineFiles);
    }
    TDM again;
    again.DataDir = dir.path();
    again.OpenTables();
    QCOMPARE(dumpModule(again), expected);
}

// A long log is read by two readers at once, from both ends; what they load
// is what one reader loads, slot for slot, and the table goes on alike.
void TestTableFile::twoReadersLoadWhatOneReads() {
    TempDataDir dir;
    const QString path = dir.path() + QStringLiteral("Main.db");
    {
        Fixture a;
        a.t.main->filePath = path;
        fillLog(*a.t.main, 301);
        for (int round = 0; round < 3; ++round)
            changeLog(*a.t.main, round); // gaps, nulls, edits
        a.t.main->write();
    }
    Fixture one, two;
    const auto load = [&](Fixture& f, size_t from) -> Table& {
        TableFile::rowsForTwoReaders = from;
        f.t.main->filePath = path;
        f.t.main->load();
        return *f.t.main;
    };
    Table& a = load(one, SIZE_MAX);
    const int split = TableFile::loadsByTwoReaders;
    Table& b = load(two, 1);
    QCOMPARE(TableFile::loadsByTwoReaders, split + 1);
    QCOMPARE(dumpTable(b), dumpTable(a));
    QCOMPARE(b.slotsInActiveOrder(), a.slotsInActiveOrder());
    for (Table* t : {&a, &b}) {
        changeLog(*t, 4);
        t->write();
    }
    QCOMPARE(dumpTable(b), dumpTable(a));
}

QTEST_GUILESS_MAIN(TestTableFile)
#include "tst_tablefile.moc"

// A call sign held by two rows of the file is refused on loading; the same
// texts in other rows, and the rows before them, load.
void TestTableFile::loadRefusesRepeatedUniqueTexts() {
    TempDataDir dir;
    const QString path = dir.path() + QStringLiteral("Cors.db");
    {
        Fixture a;
        a.t.cors->filePath = path;
        for (int i = 0; i < 50; ++i)
            addRow(*a.t.cors, {{"CallName", QStringLiteral("UA%1").arg(i)}});
        a.t.cors->write();
    }
    QCOMPARE(execSql(path, QStringLiteral("UPDATE records SET CallName='ua7' WHERE ID=30")),
             QString());
    {
        Fixture b;
        b.t.cors->filePath = path;
        b.t.cors->load(); // differs from UA7 in case only
        QCOMPARE(b.t.cors->recordCount(), 50);
    }
    QCOMPARE(execSql(path, QStringLiteral("UPDATE records SET CallName='UA7' WHERE ID=40")),
             QString());
    Fixture c;
    c.t.cors->filePath = path;
    QVERIFY2(errorOf([&] {
                 c.t.cors->load();
             }).contains(QStringLiteral("the value 'UA7' of field 'CallName' is used twice")),
             qPrintable(errorOf([&] { c.t.cors->load(); })));
}
