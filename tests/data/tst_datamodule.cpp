// The data module: opening, counting, saving and closing the nine tables, and
// the services both windows share.
#include "DataTestUtil.h"
#include "TestUtil.h"
#include "data/Fields.h"
#include "data/TableFile.h"
#include "data/uDM.h"

#include <QLocale>
#include <QStandardPaths>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace qardel;
using testutil::addRow;
using testutil::dumpModule;
using testutil::errorOf;
using testutil::fileContent;
using testutil::filesIn;
using testutil::HookGuard;
using testutil::kNineFiles;

namespace {

const QString kClosed = QStringLiteral("Cannot perform this operation on a closed dataset");

// A data module opened on a fresh, empty data folder.
struct Module {
    TempDataDir dir;
    TDM dm;
    Module() {
        dm.DataDir = dir.path();
        dm.OpenTables();
    }
    QString file(const char* name) const { return dir.path() + QString::fromLatin1(name); }
};

// A combo box as the data module sees it.
class FakeCombo : public ComboBoxIntf {
  public:
    struct Item {
        QString text;
        int id;
        bool operator==(const Item&) const = default;
    };
    QList<Item> items;
    int selected = -1;
    int updateDepth = 0;
    int addedWhileDrawing = 0;

    void beginUpdate() override { ++updateDepth; }
    void endUpdate() override { --updateDepth; }
    void clearItems() override {
        items.clear();
        selected = -1;
    }
    void addItem(const QString& text, int id) override {
        if (updateDepth == 0) ++addedWhileDrawing;
        items.append({text, id});
    }
    int itemCount() const override { return int(items.size()); }
    int itemId(int index) const override { return items.at(index).id; }
    int selectedIndex() const override { return selected; }
    void setSelectedIndex(int index) override { selected = index; }
};

char* toString(const FakeCombo::Item& item) {
    return QTest::toString(QStringLiteral("%1:%2").arg(item.text).arg(item.id));
}

// A table file with its write-ahead log: a write shows in one of the two.
struct FileStamp {
    quint64 ino = 0;
    qint64 mtimeNs = 0, size = 0, walMtimeNs = 0, walSize = 0;
    bool operator==(const FileStamp&) const = default;
};
FileStamp stamp(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return {};
    FileStamp r{quint64(st.st_ino), qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                qint64(st.st_size), 0, 0};
    if (::stat(QFile::encodeName(path + QStringLiteral("-wal")).constData(), &st) == 0) {
        r.walMtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        r.walSize = qint64(st.st_size);
    }
    return r;
}

QString name(Table& t) {
    return t.fieldByName(fld::Name).asString();
}
int currentId(Table& t) {
    return t.fieldByName(fld::ID).asInteger();
}

} // namespace

class TestDataModule : public QObject {
    Q_OBJECT
  private slots:
    void firstRunWritesAllNineFiles();
    void noDataFolderOpensNothing_data();
    void noDataFolderOpensNothing();
    void openingStopsAtFirstUnreadableFile();
    void theLogReadAlongsideFailsInOrder_data();
    void theLogReadAlongsideFailsInOrder();
    void saveAllStopsAtFirstFailingTable();
    void danglingReferenceNeverBindsToANewRow();
    void onlyTheProgramsOwnTemporaryFilesAreRemoved();
    void closeTablesWritesAndCloses();
    void destroyingWritesUnsavedChanges();
    void changeCount();
    void logScrollReachesOnLogScroll();
    void newQsoIsStampedByTheClock();
    void getIntSetting_data();
    void getIntSetting();
    void settingNamesIgnoreCase();
    void setIntSetting();
    void comboIndexOfId();
    void fillCombo();
    void fillComboFromEmptyOrClosedTable();
    void setFloatFromText_data();
    void setFloatFromText();
    void setTextOrClear();
    void knownCorrespondentTellsWhatDiffers();
    void upCaseChar_data();
    void upCaseChar();
    void defaultDataDir_data();
    void defaultDataDir();
};

void TestDataModule::firstRunWritesAllNineFiles() {
    Module m;
    // opening writes nothing and counts nothing
    QCOMPARE(filesIn(m.dir.path()), QStringList());
    for (Table* t : m.dm.tables()) {
        QVERIFY(t->isActive());
        QVERIFY(t->isEmpty());
        QCOMPARE(t->ChangeCount, 0);
    }
    // written in the order of their references: a crash between two writes
    // never leaves a reference to a row that is not on disk
    static QStringList order;
    static QString dir;
    order.clear();
    dir = m.dir.path();
    TableFile::faultHook = [](const char* point) {
        if (QByteArray(point) != "written") return;
        for (const QString& f : filesIn(dir))
            if (!order.contains(f)) order << f;
    };
    m.dm.SaveAll();
    TableFile::faultHook = nullptr;
    QCOMPARE(order, (QStringList{"Names.db", "City.db", "Country.db", "RS.db", "Modes.db",
                                 "Bands.db", "Cors.db", "Main.db", "Ini.db"}));
    QCOMPARE(filesIn(m.dir.path()), kNineFiles);
    // each file holds its own table
    const std::pair<const char*, Table*> files[] = {
        {"Main.db", m.dm.dsMain},   {"Cors.db", m.dm.dsCors},   {"Bands.db", m.dm.dsBands},
        {"Modes.db", m.dm.dsModes}, {"RS.db", m.dm.dsRS},       {"Country.db", m.dm.dsCountryes},
        {"City.db", m.dm.dsCityes}, {"Names.db", m.dm.dsNames}, {"Ini.db", m.dm.dsINI}};
    for (const auto& [file, table] : files)
        QCOMPARE(testutil::metaValue(m.file(file), QStringLiteral("table")), table->name());

    // an unchanged table whose file exists is not written again
    QHash<QString, FileStamp> before;
    for (const QString& f : kNineFiles)
        before[f] = stamp(m.dir.path() + f);
    m.dm.SaveAll();
    for (const QString& f : kNineFiles)
        QVERIFY2(stamp(m.dir.path() + f) == before[f], qPrintable(f));
    // a change is written to its own table's file only
    addRow(*m.dm.dsModes, {{"Name", "SSB"}});
    m.dm.SaveAll();
    for (const QString& f : kNineFiles)
        if (f != QLatin1String("Modes.db"))
            QVERIFY2(stamp(m.dir.path() + f) == before[f], qPrintable(f));
    QCOMPARE(testutil::queryRows(m.file("Modes.db"), QStringLiteral("SELECT Name FROM records")),
             QStringList{"t:SSB"});
}

void TestDataModule::noDataFolderOpensNothing_data() {
    QTest::addColumn<bool>("emptyDataDir"); // else a folder that does not exist
    QTest::newRow("DataDir empty") << true;
    QTest::newRow("no such folder") << false;
}

void TestDataModule::noDataFolderOpensNothing() {
    QFETCH(bool, emptyDataDir);
    TempDataDir dir;
    const QString missing = dir.path() + QStringLiteral("QARDEL/");
    {
        TDM dm;
        dm.DataDir = emptyDataDir ? QString() : missing;
        dm.OpenTables();
        for (Table* t : dm.tables())
            QVERIFY2(!t->isActive(), qPrintable(t->name()));
        // every use of a table fails, and saving or closing writes nothing
        QCOMPARE(errorOf([&] { dm.dsMain->first(); }), kClosed);
        QCOMPARE(errorOf([&] { dm.GetIntSetting(QStringLiteral("LastBand"), 0); }), kClosed);
        QCOMPARE(errorOf([&] { dm.SetIntSetting(QStringLiteral("LastBand"), 1); }), kClosed);
        FakeCombo box;
        QCOMPARE(errorOf([&] { dm.FillCombo(box, *dm.dsBands, QStringLiteral("Name")); }), kClosed);
        QCOMPARE(errorOf([&] { dm.SaveAll(); }), QStringLiteral("<no error>"));
        QCOMPARE(errorOf([&] { dm.CloseTables(); }), QStringLiteral("<no error>"));
    }
    QVERIFY(!QFileInfo::exists(missing));
    QCOMPARE(filesIn(dir.path()), QStringList());
}

void TestDataModule::openingStopsAtFirstUnreadableFile() {
    TempDataDir dir;
    const QString city = dir.path() + QStringLiteral("City.db");
    QVERIFY(testutil::writeBytes(city, {})); // left by an interrupted write
    {
        TDM dm;
        dm.DataDir = dir.path();
        const QString err = errorOf([&] { dm.OpenTables(); });
        QVERIFY2(err.contains(city), qPrintable(err));
        // opened in the order settings, names, cities, ...: the two before stay open
        QVERIFY(dm.dsINI->isActive());
        QVERIFY(dm.dsNames->isActive());
        for (Table* t :
             {dm.dsCityes, dm.dsCountryes, dm.dsRS, dm.dsModes, dm.dsBands, dm.dsCors, dm.dsMain})
            QVERIFY2(!t->isActive(), qPrintable(t->name()));
        // giving up writes nothing at all
        dm.AbandonTables();
        for (Table* t : dm.tables())
            QVERIFY(!t->isActive());
    }
    QCOMPARE(filesIn(dir.path()), QStringList{"City.db"});
    QCOMPARE(QFileInfo(city).size(), qint64(0));

    // without giving up, the module's end writes the tables that did open,
    // and still leaves the unreadable file alone
    {
        TDM dm;
        dm.DataDir = dir.path();
        QVERIFY(errorOf([&] { dm.OpenTables(); }) != QLatin1String("<no error>"));
    }
    QCOMPARE(filesIn(dir.path()), (QStringList{"City.db", "Ini.db", "Names.db"}));
    QCOMPARE(QFileInfo(city).size(), qint64(0));
}

// The log is read beside the other tables, long logs by two readers; which
// file is told unreadable, and what stays open, are as in a one-by-one open.
void TestDataModule::theLogReadAlongsideFailsInOrder_data() {
    QTest::addColumn<QStringList>("broken");
    QTest::addColumn<QString>("told");
    QTest::addColumn<QStringList>("open");
    const QStringList before{"dsINI", "dsNames"},
        all{"dsINI", "dsNames", "dsCityes", "dsCountryes", "dsRS", "dsModes", "dsBands", "dsCors"};
    QTest::newRow("a list") << QStringList{"City.db"} << "City.db" << before;
    QTest::newRow("the log") << QStringList{"Main.db"} << "Main.db" << all;
    QTest::newRow("a list and the log") << QStringList{"Main.db", "City.db"} << "City.db" << before;
    QTest::newRow("the log's last row") << QStringList{"Main.db:last"} << "Main.db" << all;
}

void TestDataModule::theLogReadAlongsideFailsInOrder() {
    QFETCH(QStringList, broken);
    QFETCH(QString, told);
    QFETCH(QStringList, open);
    TempDataDir dir;
    {
        TDM dm;
        dm.DataDir = dir.path();
        dm.OpenTables();
        addRow(*dm.dsCors, {{"CallName", "UA3AAA"}});
        for (int i = 0; i < 40; ++i)
            addRow(*dm.dsMain, {{"CorID", 1}});
        dm.CloseTables();
    }
    for (const QString& b : broken) {
        const QString path = dir.path() + b.section(QLatin1Char(':'), 0, 0);
        if (b.endsWith(QLatin1String(":last")))
            QCOMPARE(
                testutil::execSql(path, QStringLiteral("UPDATE records SET Time='x' WHERE ID=40")),
                QString());
        else
            QVERIFY(testutil::writeBytes(path, {}));
    }
    const auto contents = [&] {
        QMap<QString, QByteArray> m;
        for (const QString& f : filesIn(dir.path()))
            m[f] = testutil::readBytes(dir.path() + f);
        return m;
    };
    const QMap<QString, QByteArray> files = contents();
    for (const size_t readers : {size_t(50000), size_t(1)}) {
        TableFile::rowsForTwoReaders = readers;
        TDM dm;
        dm.DataDir = dir.path();
        const QString err = errorOf([&] { dm.OpenTables(); });
        TableFile::rowsForTwoReaders = 50000;
        QVERIFY2(err.contains(dir.path() + told), qPrintable(err));
        QStringList active;
        for (Table* t : dm.tables())
            if (t->isActive()) active << t->name();
        active.sort();
        QStringList expected = open;
        expected.sort();
        QCOMPARE(active, expected);
        dm.AbandonTables();
        QCOMPARE(contents(), files);
    }
}

void TestDataModule::saveAllStopsAtFirstFailingTable() {
    Module m;
    TDM& dm = m.dm;
    addRow(*dm.dsCors, {{"CallName", "UA3AAA"}});
    dm.SaveAll();
    // changes in the bands, the log and the settings: written in that order
    addRow(*dm.dsMain, {{"CorID", 1}});
    addRow(*dm.dsBands, {{"Name", "20m"}});
    dm.SetIntSetting(QStringLiteral("LastBand"), 1);
    const QStringList oldMain = fileContent(m.file("Main.db"));
    const QStringList oldIni = fileContent(m.file("Ini.db"));
    {
        HookGuard hook("before-commit", 1); // the bands' write succeeds, the log's fails
        QCOMPARE(errorOf([&] { dm.SaveAll(); }), QStringLiteral("injected failure"));
    }
    QCOMPARE(dm.dsBands->ChangeCount, 0);
    QCOMPARE(testutil::queryRows(m.file("Bands.db"), QStringLiteral("SELECT Name FROM records")),
             QStringList{"t:20m"});
    QCOMPARE(dm.dsMain->ChangeCount, 1);
    QCOMPARE(dm.dsINI->ChangeCount, 1);
    QCOMPARE(fileContent(m.file("Main.db")), oldMain);
    QCOMPARE(fileContent(m.file("Ini.db")), oldIni);

    dm.SaveAll();
    for (Table* t : dm.tables())
        QCOMPARE(t->ChangeCount, 0);
    TDM again;
    again.DataDir = m.dir.path();
    again.OpenTables();
    QCOMPARE(dumpModule(again), dumpModule(dm));
}

// A log row that refers to a correspondent who never reached the disk (a
// crash of an older version between two table writes) keeps referring to
// nobody: a new correspondent gets a new ID.
void TestDataModule::danglingReferenceNeverBindsToANewRow() {
    TempDataDir dir;
    {
        TDM dm;
        dm.DataDir = dir.path();
        dm.OpenTables();
        addRow(*dm.dsCors, {{"CallName", "UA3AAA"}});
        addRow(*dm.dsMain, {{"CorID", 1}, {"Notice", "первая"}});
        addRow(*dm.dsMain, {{"CorID", 2}, {"Notice", "вторая"}});
        dm.SaveAll();
    }
    QCOMPARE(testutil::queryRows(dir.path() + "Cors.db", "SELECT max(ID) FROM records"),
             QStringList{"i:1"});
    TDM dm;
    dm.DataDir = dir.path();
    dm.OpenTables();
    QVERIFY(!dm.FindOrAddCorrespondent(QStringLiteral("RZ9ZZZ"), {}));
    LogRowValues row;
    row.corId = dm.dsCors->fieldByName(fld::ID).asInteger();
    row.notice = QStringLiteral("третья");
    dm.PostLogRow(false, row);
    dm.SaveAll();
    QCOMPARE(row.corId, 3);
    auto calls = [](TDM& m) {
        QStringList out;
        for (m.dsMain->first(); !m.dsMain->eof(); m.dsMain->next())
            out << m.dsMain->fieldByName(fld::Notice).asString() + "=" +
                       m.dsMain->fieldByName(fld::CorCallName).asString();
        return out;
    };
    const QStringList expected = {"третья=RZ9ZZZ", "вторая=", "первая=UA3AAA"};
    QCOMPARE(calls(dm), expected);
    TDM again;
    again.DataDir = dir.path();
    again.OpenTables();
    QCOMPARE(calls(again), expected);

    // every reference between the tables, each alone in a folder: the first
    // row added to the list it points into gets an ID above it
    using T = Table* TDM::*;
    const struct {
        T from;
        QString field;
        T to;
        QString name; // the list's text field
    } refs[] = {{&TDM::dsMain, fld::CorID, &TDM::dsCors, fld::CallName},
                {&TDM::dsMain, fld::BandID, &TDM::dsBands, fld::Name},
                {&TDM::dsMain, fld::ModeID, &TDM::dsModes, fld::Name},
                {&TDM::dsMain, fld::CorRSID, &TDM::dsRS, fld::Value},
                {&TDM::dsMain, fld::MyRSID, &TDM::dsRS, fld::Value},
                {&TDM::dsCors, fld::NameID, &TDM::dsNames, fld::Value},
                {&TDM::dsCors, fld::CountryID, &TDM::dsCountryes, fld::Name},
                {&TDM::dsCors, fld::CityID, &TDM::dsCityes, fld::Name},
                {&TDM::dsBands, fld::DefModeID, &TDM::dsModes, fld::Name}};
    QStringList got, above;
    for (const auto& r : refs) {
        TempDataDir d;
        {
            TDM m;
            m.DataDir = d.path();
            m.OpenTables();
            Table& from = *(m.*r.from);
            from.append();
            from.fieldByName(r.field).setValue(7);
            if (r.from == &TDM::dsMain && r.field != fld::CorID)
                from.fieldByName(fld::CorID).setValue(1);
            if (r.from == &TDM::dsCors) from.fieldByName(fld::CallName).setValue("UA3AAA");
            if (r.from == &TDM::dsBands) from.fieldByName(fld::Name).setValue("20M");
            from.post();
            m.SaveAll();
        }
        TDM m;
        m.DataDir = d.path();
        m.OpenTables();
        const int id = m.FindOrAddValue(*(m.*r.to), r.name, QStringLiteral("NEW1"));
        got << QStringLiteral("%1: %2").arg(r.field, id > 7 ? "above" : QString::number(id));
        above << QStringLiteral("%1: above").arg(r.field);
    }
    QCOMPARE(got, above);
}

// A full rewrite cut short leaves ".<file>.<process>.tmp"; opening removes
// those and nothing else of the folder, never through a link.
void TestDataModule::onlyTheProgramsOwnTemporaryFilesAreRemoved() {
    TempDataDir dir, outside;
    const QString theirs = outside.path() + "notes.txt";
    QVERIFY(testutil::writeBytes(theirs, "keep me"));
    for (const char* f : {".Main.db.4242.tmp", ".Main.db.mine.tmp", ".Main.db.4242.tmp.bak"})
        QVERIFY(testutil::writeBytes(dir.path() + f, "x"));
    QCOMPARE(::symlink(QFile::encodeName(theirs).constData(),
                       QFile::encodeName(dir.path() + ".Cors.db.77.tmp").constData()),
             0);
    TDM dm;
    dm.DataDir = dir.path();
    dm.OpenTables();
    QCOMPARE(filesIn(dir.path()),
             (QStringList{".Cors.db.77.tmp", ".Main.db.4242.tmp.bak", ".Main.db.mine.tmp"}));
    QCOMPARE(testutil::readBytes(theirs), QByteArray("keep me"));
}

void TestDataModule::closeTablesWritesAndCloses() {
    Module m;
    addRow(*m.dm.dsCors, {{"CallName", "UA3AAA"}});
    addRow(*m.dm.dsMain, {{"CorID", 1}});
    const QStringList expected = dumpModule(m.dm);
    m.dm.CloseTables();
    for (Table* t : m.dm.tables()) {
        QVERIFY(!t->isActive());
        QCOMPARE(t->ChangeCount, 0);
    }
    QCOMPARE(errorOf([&] { m.dm.dsMain->recordCount(); }), kClosed);
    QCOMPARE(filesIn(m.dir.path()), kNineFiles);
    TDM again;
    again.DataDir = m.dir.path();
    again.OpenTables();
    QCOMPARE(dumpModule(again), expected);
}

void TestDataModule::destroyingWritesUnsavedChanges() {
    TempDataDir dir;
    QStringList expected;
    {
        TDM dm;
        dm.DataDir = dir.path();
        dm.OpenTables();
        dm.SaveAll();
        addRow(*dm.dsCors, {{"CallName", "UA3AAA"}});
        addRow(*dm.dsMain, {{"CorID", 1}});
        expected = dumpModule(dm);
    }
    TDM again;
    again.DataDir = dir.path();
    again.OpenTables();
    QCOMPARE(dumpModule(again), expected);
}

void TestDataModule::changeCount() {
    Module m;
    TDM& dm = m.dm;
    Table& log = *dm.dsMain;
    addRow(*dm.dsCors, {{"CallName", "UA3AAA"}});
    QCOMPARE(dm.dsCors->ChangeCount, 1);
    QVERIFY(dm.IsModified(*dm.dsCors));
    QVERIFY(!dm.IsModified(log));

    log.append();
    log.cancel();
    QCOMPARE(log.ChangeCount, 0); // appending without a post
    log.append();
    log.fieldByName(fld::CorID).setAsInteger(1);
    log.post();
    QCOMPARE(log.ChangeCount, 1);
    log.edit();
    log.post(); // a post of a changed row counts, changed or not
    QCOMPARE(log.ChangeCount, 2);
    log.append();
    QVERIFY(errorOf([&] { log.post(); }) != QLatin1String("<no error>"));
    log.cancel();
    QCOMPARE(log.ChangeCount, 2); // a failed post
    QVERIFY(log.locate(fld::ID, 1));
    log.first();
    QCOMPARE(log.ChangeCount, 2); // searching and moving
    log.deleteRecord();
    QCOMPARE(log.ChangeCount, 3);
    dm.SetIntSetting(QStringLiteral("LastBand"), 2);
    QCOMPARE(dm.dsINI->ChangeCount, 1);
    QCOMPARE(dm.dsCors->ChangeCount, 1);
    for (Table* t : {dm.dsBands, dm.dsModes, dm.dsRS, dm.dsCountryes, dm.dsCityes, dm.dsNames})
        QCOMPARE(t->ChangeCount, 0);

    dm.SaveAll();
    for (Table* t : dm.tables())
        QCOMPARE(t->ChangeCount, 0);
    // loading is not a change
    TDM again;
    again.DataDir = m.dir.path();
    again.OpenTables();
    for (Table* t : again.tables())
        QCOMPARE(t->ChangeCount, 0);
}

void TestDataModule::logScrollReachesOnLogScroll() {
    TempDataDir dir;
    {
        TDM dm;
        dm.DataDir = dir.path();
        dm.OpenTables();
        addRow(*dm.dsCors, {{"CallName", "UA3AAA"}});
        for (int i = 1; i <= 3; ++i)
            addRow(*dm.dsMain, {{"CorID", 1}, {"Notice", QStringLiteral("n%1").arg(i)}});
        dm.SaveAll();
    }
    TDM dm;
    const QDateTime now(QDate(2024, 6, 1), QTime(12, 34, 56, 789));
    dm.Clock = [&] { return now; };
    QStringList calls;
    dm.OnLogScroll = [&](Table& t) {
        if (&t != dm.dsMain) {
            calls << QStringLiteral("called with ") + t.name();
            return;
        }
        // the row as the move left it: its ID, notice, and which stored
        // fields hold a value
        QStringList set;
        for (int fi = 0; fi < t.fieldCount(); ++fi)
            if (t.fieldDefs()[size_t(fi)].isStored() && !t.field(fi).isNull())
                set << t.fieldDefs()[size_t(fi)].name;
        calls << QStringLiteral("%1 %2 %3")
                     .arg(currentId(t))
                     .arg(t.fieldByName(fld::Notice).asString(), set.join(QLatin1Char(',')));
    };
    auto take = [&] { return std::exchange(calls, {}); };
    dm.DataDir = dir.path();
    dm.OpenTables();
    // opening a log with rows: once, on the newest QSO
    QCOMPARE(take(), QStringList{"3 n3 ID,Time,CorID,Notice"});

    Table& log = *dm.dsMain;
    log.first();
    QCOMPARE(take(), QStringList{"3 n3 ID,Time,CorID,Notice"});
    log.next();
    QCOMPARE(take(), QStringList{"2 n2 ID,Time,CorID,Notice"});
    QVERIFY(log.locate(fld::Notice, QStringLiteral("n1")));
    QCOMPARE(take(), QStringList{"1 n1 ID,Time,CorID,Notice"});
    QVERIFY(!log.locate(fld::Notice, QStringLiteral("n9")));
    QCOMPARE(take(), QStringList());
    log.moveTo(1); // a move in the grid
    QCOMPARE(take(), QStringList{"2 n2 ID,Time,CorID,Notice"});
    log.edit();
    log.post();
    QCOMPARE(take(), QStringList());
    // appending: the new row, with only its time set
    log.append();
    QCOMPARE(take(), QStringList{"0  Time"});
    QCOMPARE(log.fieldByName(fld::Time).asDateTime(), now);
    log.fieldByName(fld::CorID).setAsInteger(1);
    log.post();
    QCOMPARE(take(), QStringList());
    // deleting: the row that becomes current
    log.moveTo(1);
    take();
    log.deleteRecord();
    const QStringList afterDelete = take();
    QCOMPARE(afterDelete.size(), 1);
    QCOMPARE(afterDelete.first(), QStringLiteral("%1 %2 ID,Time,CorID,Notice")
                                      .arg(currentId(log))
                                      .arg(log.fieldByName(fld::Notice).asString()));
    // deleting the last row: called with the log empty
    while (log.recordCount() > 1)
        log.deleteRecord();
    take();
    log.deleteRecord();
    QCOMPARE(take(), QStringList{"0  "});
    // other tables do not call it, and an empty slot is allowed
    dm.dsCors->first();
    QCOMPARE(take(), QStringList());
    dm.OnLogScroll = nullptr;
    log.first();
    log.append();
    log.cancel();
}

void TestDataModule::newQsoIsStampedByTheClock() {
    Module m;
    QDateTime now(QDate(2024, 6, 1), QTime(23, 59, 59, 999));
    m.dm.Clock = [&] { return now; };
    addRow(*m.dm.dsCors, {{"CallName", "UA3AAA"}});
    Table& log = *m.dm.dsMain;
    addRow(log, {{"CorID", 1}});
    QCOMPARE(log.fieldByName(fld::Time).asDateTime(), now);
    // correcting a QSO keeps its time
    const QDateTime stamped = now;
    now = now.addDays(3);
    log.edit();
    log.fieldByName(fld::Notice).setAsString(QStringLiteral("исправлено"));
    log.post();
    QCOMPARE(log.fieldByName(fld::Time).asDateTime(), stamped);
    // a new QSO is stamped with the clock's new time
    addRow(log, {{"CorID", 1}});
    QCOMPARE(log.fieldByName(fld::Time).asDateTime(), now);
}

void TestDataModule::getIntSetting_data() {
    QTest::addColumn<QVariant>("value"); // invalid: null
    QTest::addColumn<int>("expected");   // the default is 99
    QTest::newRow("null") << QVariant() << 99;
    QTest::newRow("empty") << QVariant(QStringLiteral("")) << 99;
    QTest::newRow("integer") << QVariant("42") << 42;
    QTest::newRow("negative") << QVariant("-7") << -7;
    QTest::newRow("plus sign") << QVariant("+5") << 5;
    QTest::newRow("zero") << QVariant("0") << 0;
    QTest::newRow("fraction") << QVariant("1.5") << 99;
    QTest::newRow("fraction, comma") << QVariant("1,5") << 99;
    QTest::newRow("letters") << QVariant("abc") << 99;
    QTest::newRow("digits then letters") << QVariant("12abc") << 99;
    QTest::newRow("hexadecimal") << QVariant("0x10") << 99;
    QTest::newRow("largest") << QVariant("2147483647") << 2147483647;
    QTest::newRow("smallest") << QVariant("-2147483648") << int(INT32_MIN);
    QTest::newRow("too large") << QVariant("2147483648") << 99;
    QTest::newRow("too small") << QVariant("-2147483649") << 99;
    QTest::newRow("blanks around") << QVariant(" 42 ") << 99;
    QTest::newRow("a blank before") << QVariant(" 42") << 99;
    QTest::newRow("a blank after") << QVariant("42 ") << 99;
    QTest::newRow("blank inside") << QVariant("4 2") << 99;
}

void TestDataModule::getIntSetting() {
    QFETCH(QVariant, value);
    QFETCH(int, expected);
    Module m;
    addRow(*m.dm.dsINI, {{"Name", "LastMode"}, {"Value", "5"}});
    addRow(*m.dm.dsINI, {{"Name", "LastBand"}, {"Value", value}});
    addRow(*m.dm.dsINI, {{"Name", "Other"}, {"Value", "6"}});
    const int count = m.dm.dsINI->ChangeCount;
    QCOMPARE(m.dm.GetIntSetting(QStringLiteral("LastBand"), 99), expected);
    QCOMPARE(m.dm.dsINI->ChangeCount, count); // reading is not a change
}

void TestDataModule::settingNamesIgnoreCase() {
    Module m;
    TDM& dm = m.dm;
    QCOMPARE(dm.GetIntSetting(QStringLiteral("LastBand"), -1), -1); // no such row
    addRow(*dm.dsINI, {{"Name", "LastMode"}, {"Value", "5"}});
    addRow(*dm.dsINI, {{"Name", "LastBand"}, {"Value", "7"}});
    addRow(*dm.dsINI, {{"Name", QStringLiteral("Цвет")}, {"Value", "3"}});
    QCOMPARE(dm.GetIntSetting(QStringLiteral("lastband"), 0), 7);
    QCOMPARE(name(*dm.dsINI), QStringLiteral("LastBand")); // left on the row found
    QCOMPARE(dm.GetIntSetting(QStringLiteral("LASTMODE"), 0), 5);
    QCOMPARE(dm.GetIntSetting(QStringLiteral("цВЕТ"), 0), 3);
    QCOMPARE(dm.GetIntSetting(QStringLiteral("Last"), -1), -1); // whole names only
    QCOMPARE(dm.GetIntSetting(QStringLiteral("LastBandX"), -1), -1);
}

void TestDataModule::setIntSetting() {
    Module m;
    TDM& dm = m.dm;
    dm.SaveAll();
    const QStringList onDisk = fileContent(m.file("Ini.db"));
    Field& value = dm.dsINI->fieldByName(fld::Value);

    dm.SetIntSetting(QStringLiteral("LastBand"), 3);
    dm.SetIntSetting(QStringLiteral("LastBand"), 12);
    QCOMPARE(dm.dsINI->recordCount(), 1);
    QCOMPARE(value.asString(), QStringLiteral("12"));
    QCOMPARE(dm.dsINI->ChangeCount, 2);
    // found without regard to case; the stored name keeps its spelling
    dm.SetIntSetting(QStringLiteral("LASTBAND"), -40);
    QCOMPARE(dm.dsINI->recordCount(), 1);
    QCOMPARE(name(*dm.dsINI), QStringLiteral("LastBand"));
    QCOMPARE(value.asString(), QStringLiteral("-40"));
    dm.SetIntSetting(QStringLiteral("LastMode"), 0);
    QCOMPARE(value.asString(), QStringLiteral("0"));
    QCOMPARE(dm.dsINI->recordCount(), 2);
    QCOMPARE(dm.dsINI->state(), TableState::Browse);
    // nothing reaches the disk before the next SaveAll
    QCOMPARE(fileContent(m.file("Ini.db")), onDisk);

    dm.SaveAll();
    TDM again;
    again.DataDir = m.dir.path();
    again.OpenTables();
    QCOMPARE(again.GetIntSetting(QStringLiteral("LastBand"), 0), -40);
    QCOMPARE(again.GetIntSetting(QStringLiteral("LastMode"), 9), 0);
}

void TestDataModule::comboIndexOfId() {
    FakeCombo box;
    QCOMPARE(TDM::ComboIndexOfID(box, 5), -1);
    box.items = {{"zero", 0}, {"a", 5}, {"b", 7}, {"c", 5}, {"minus", -2}};
    QCOMPARE(TDM::ComboIndexOfID(box, 0), -1); // although an item carries 0
    QCOMPARE(TDM::ComboIndexOfID(box, -2), -1);
    QCOMPARE(TDM::ComboIndexOfID(box, 5), 3); // the highest index wins
    QCOMPARE(TDM::ComboIndexOfID(box, 7), 2);
    QCOMPARE(TDM::ComboIndexOfID(box, 9), -1);
}

void TestDataModule::fillCombo() {
    Module m;
    Table& modes = *m.dm.dsModes;
    for (const char* n : {"SSB", "CW", "FM"})
        addRow(modes, {{"Name", n}});
    // the selected row is renamed before the list is filled again
    FakeCombo box;
    box.items = {{"stale", 9}, {"CW", 2}};
    box.selected = 1;
    QVERIFY(modes.locate(fld::ID, 2));
    modes.edit();
    modes.fieldByName(fld::Name).setAsString(QStringLiteral("CW-N"));
    modes.post();

    m.dm.FillCombo(box, modes, QStringLiteral("Name"));
    QCOMPARE(box.items, (QList<FakeCombo::Item>{{"SSB", 1}, {"CW-N", 2}, {"FM", 3}}));
    QCOMPARE(box.selected, 1); // the same ID, with its new text
    QCOMPARE(box.updateDepth, 0);
    QCOMPARE(box.addedWhileDrawing, 0);
    // the table is left past its last row
    QVERIFY(modes.eof());
    QCOMPARE(currentId(modes), 3);

    // the selected row is gone: nothing is selected
    QVERIFY(modes.locate(fld::ID, 2));
    modes.deleteRecord();
    m.dm.FillCombo(box, modes, QStringLiteral("Name"));
    QCOMPARE(box.items, (QList<FakeCombo::Item>{{"SSB", 1}, {"FM", 3}}));
    QCOMPARE(box.selected, -1);

    // the table's active order, and null values as empty texts
    addRow(*m.dm.dsINI, {{"Name", "b"}, {"Value", "2"}});
    addRow(*m.dm.dsINI, {{"Name", "a"}});
    FakeCombo values;
    m.dm.FillCombo(values, *m.dm.dsINI, QStringLiteral("Value"));
    QCOMPARE(values.items, (QList<FakeCombo::Item>{{"", 2}, {"2", 1}}));
    QCOMPARE(values.selected, -1);
}

void TestDataModule::fillComboFromEmptyOrClosedTable() {
    Module m;
    FakeCombo box;
    box.items = {{"SSB", 1}};
    box.selected = 0;
    m.dm.FillCombo(box, *m.dm.dsModes, QStringLiteral("Name"));
    QVERIFY(box.items.isEmpty());
    QCOMPARE(box.selected, -1);
    QVERIFY(m.dm.dsModes->eof());

    // a failure still lets the box redraw
    TDM closed;
    box.items = {{"SSB", 1}};
    QCOMPARE(errorOf([&] { closed.FillCombo(box, *closed.dsModes, QStringLiteral("Name")); }),
             kClosed);
    QCOMPARE(box.updateDepth, 0);
}

void TestDataModule::setFloatFromText_data() {
    // "." stands for the locale's decimal separator, "~" for the other one
    QTest::addColumn<QString>("text");
    QTest::addColumn<QVariant>("number"); // in a float field; invalid: null
    QTest::addColumn<QString>("stored");  // in a text field; null: null
    QTest::newRow("fraction") << "1.5" << QVariant(1.5) << "1.5";
    QTest::newRow("leading zeros") << "007" << QVariant(7.0) << "7";
    QTest::newRow("negative") << "-2.25" << QVariant(-2.25) << "-2.25";
    QTest::newRow("one tenth") << "0.1" << QVariant(0.1) << "0.1";
    QTest::newRow("15 significant digits")
        << "1.23456789012345678" << QVariant(1.23456789012345678) << "1.23456789012346";
    QTest::newRow("other separator") << "1~5" << QVariant() << QString();
    QTest::newRow("empty") << "" << QVariant() << QString();
    QTest::newRow("blank") << " " << QVariant() << QString();
    QTest::newRow("letters") << "abc" << QVariant() << QString();
    QTest::newRow("number then letters") << "12abc" << QVariant() << QString();
}

void TestDataModule::setFloatFromText() {
    QFETCH(QString, text);
    QFETCH(QVariant, number);
    QFETCH(QString, stored);
    const QString dp = QLocale().decimalPoint();
    const QString other = dp == QLatin1String(".") ? QStringLiteral(",") : QStringLiteral(".");
    auto local = [&](QString s) {
        return s.replace(QLatin1Char('.'), dp).replace(QLatin1Char('~'), other);
    };
    Module m;
    Table& bands = *m.dm.dsBands;
    Field& power = bands.fieldByName(fld::DefPower);
    bands.append();
    power.setAsFloat(3);
    TDM::SetFloatFromText(power, local(text));
    QCOMPARE(power.value(), number);

    Table& ini = *m.dm.dsINI;
    Field& value = ini.fieldByName(fld::Value);
    ini.append();
    value.setAsString(QStringLiteral("old"));
    TDM::SetFloatFromText(value, local(text));
    QCOMPARE(value.isNull(), stored.isNull());
    if (!stored.isNull()) QCOMPARE(value.asString(), local(stored));
}

void TestDataModule::setTextOrClear() {
    Module m;
    Table& log = *m.dm.dsMain;
    Field& city = log.fieldByName(fld::CorCity);
    log.append();
    TDM::SetTextOrClear(city, QStringLiteral("Тверь"));
    QCOMPARE(city.asString(), QStringLiteral("Тверь"));
    TDM::SetTextOrClear(city, QString());
    QVERIFY(city.isNull());
    TDM::SetTextOrClear(city, QStringLiteral("   ")); // blanks are not empty
    QCOMPARE(city.asString(), QStringLiteral("   "));
    const QString longCity = QStringLiteral("Петропавловск-Камчатский, Камчатский край");
    TDM::SetTextOrClear(city, longCity); // cut to the field's 25 characters
    QCOMPARE(city.asString(), longCity.left(25));
    TDM::SetTextOrClear(city, QStringLiteral(""));
    QVERIFY(city.isNull());
}

// A call sign already known is found, not added again (whatever its case),
// and tells whether the name, city or country typed differs from its own.
void TestDataModule::knownCorrespondentTellsWhatDiffers() {
    Module m;
    QVERIFY(!m.dm.FindOrAddCorrespondent(QStringLiteral("UA3AAA"), {1, 2, 3}));
    for (const CorProps& other : {CorProps{9, 2, 3}, CorProps{1, 9, 3}, CorProps{1, 2, 9},
                                  CorProps{0, 2, 3}, CorProps{1, 0, 3}, CorProps{1, 2, 0}})
        QVERIFY(m.dm.FindOrAddCorrespondent(QStringLiteral("ua3aaa"), other));
    QVERIFY(!m.dm.FindOrAddCorrespondent(QStringLiteral("ua3aaa"), {1, 2, 3}));
    QCOMPARE(m.dm.dsCors->recordCount(), 1);
}

void TestDataModule::upCaseChar_data() {
    QTest::addColumn<QChar>("in");
    QTest::addColumn<QChar>("out");
    QTest::newRow("Cyrillic zhe") << QChar(u'ж') << QChar(u'Ж');
    QTest::newRow("Cyrillic yo") << QChar(u'ё') << QChar(u'Ё');
    QTest::newRow("Cyrillic ya") << QChar(u'я') << QChar(u'Я');
    QTest::newRow("Ukrainian i") << QChar(u'і') << QChar(u'І');
    QTest::newRow("Latin") << QChar(u'q') << QChar(u'Q');
    QTest::newRow("capital") << QChar(u'Ж') << QChar(u'Ж');
    QTest::newRow("digit") << QChar(u'5') << QChar(u'5');
    QTest::newRow("slash") << QChar(u'/') << QChar(u'/');
    QTest::newRow("space") << QChar(u' ') << QChar(u' ');
    QTest::newRow("sharp s (no single capital)") << QChar(u'ß') << QChar(u'ß');
    QTest::newRow("y with diaeresis") << QChar(u'ÿ') << QChar(u'Ÿ');
}

void TestDataModule::upCaseChar() {
    QFETCH(QChar, in);
    QFETCH(QChar, out);
    QCOMPARE(TDM::UpCaseChar(in), out);
}

void TestDataModule::defaultDataDir_data() {
    QTest::addColumn<QByteArray>("appData"); // null: unset
    QTest::addColumn<QString>("expected");   // "<data>": the per-user data folder
    QTest::newRow("APPDATA set") << QByteArray("/srv/appdata") << "/srv/appdata/QARDEL/";
    QTest::newRow("APPDATA with delimiter")
        << QByteArray("/srv/appdata/") << "/srv/appdata/QARDEL/";
    QTest::newRow("APPDATA empty") << QByteArray("") << "<data>/QARDEL/";
    QTest::newRow("APPDATA unset") << QByteArray() << "<data>/QARDEL/";
}

void TestDataModule::defaultDataDir() {
    QFETCH(QByteArray, appData);
    QFETCH(QString, expected);
    TempDataDir home;
    const QString data = home.path() + QStringLiteral("share");
    const QByteArray oldAppData = qgetenv("APPDATA"), oldXdg = qgetenv("XDG_DATA_HOME");
    const bool hadAppData = qEnvironmentVariableIsSet("APPDATA");
    const bool hadXdg = qEnvironmentVariableIsSet("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(data));
    if (appData.isNull())
        qunsetenv("APPDATA");
    else
        qputenv("APPDATA", appData);

    const QString dir = TDM::defaultDataDir();

    hadAppData ? qputenv("APPDATA", oldAppData) : qunsetenv("APPDATA");
    hadXdg ? qputenv("XDG_DATA_HOME", oldXdg) : qunsetenv("XDG_DATA_HOME");
    QCOMPARE(dir, expected.replace(QStringLiteral("<data>"), data));
}

QTEST_GUILESS_MAIN(TestDataModule)
#include "tst_datamodule.moc"
