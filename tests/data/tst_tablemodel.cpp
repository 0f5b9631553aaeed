// The grid's data source: a table seen as an item model, changed row by row.
#include "DataTestUtil.h"
#include "TestUtil.h"
#include "data/Fields.h"
#include "data/Schema.h"
#include "data/TableModel.h"

#include <QAbstractItemModelTester>
#include <QtTest>

using namespace qardel;
using testutil::addRow;

namespace {

// Every structural signal of a model, as text, in order.
struct ModelLog {
    QStringList events;
    explicit ModelLog(QAbstractItemModel& m) {
        QObject::connect(&m, &QAbstractItemModel::rowsInserted,
                         [this](const QModelIndex&, int a, int b) {
                             events << QStringLiteral("inserted %1-%2").arg(a).arg(b);
                         });
        QObject::connect(&m, &QAbstractItemModel::rowsRemoved,
                         [this](const QModelIndex&, int a, int b) {
                             events << QStringLiteral("removed %1-%2").arg(a).arg(b);
                         });
        QObject::connect(&m, &QAbstractItemModel::rowsMoved, [this] { events << "moved"; });
        QObject::connect(&m, &QAbstractItemModel::modelReset, [this] { events << "reset"; });
        QObject::connect(&m, &QAbstractItemModel::layoutChanged, [this] { events << "layout"; });
        QObject::connect(&m, &QAbstractItemModel::dataChanged,
                         [this](const QModelIndex& a, const QModelIndex& b) {
                             events << QStringLiteral("changed %1-%2").arg(a.row()).arg(b.row());
                         });
    }
    QStringList take() { return std::exchange(events, {}); }
};

QStringList headers(const QAbstractItemModel& m) {
    QStringList l;
    for (int c = 0; c < m.columnCount(); ++c)
        l << m.headerData(c, Qt::Horizontal).toString();
    return l;
}

QString cell(const TableModel& m, int row, const QString& field) {
    const int col = m.columns().indexOf(field);
    return col < 0 ? QStringLiteral("<no column>") : m.index(row, col).data().toString();
}

struct Fixture {
    LogTables t = createLogTables();
    Fixture() {
        for (Table* x : {t.main.get(), t.cors.get(), t.bands.get(), t.modes.get(), t.rs.get(),
                         t.countryes.get(), t.cityes.get(), t.names.get(), t.ini.get()})
            x->createEmpty();
    }
};

} // namespace

class TestTableModel : public QObject {
    Q_OBJECT
  private slots:
    void columnsAndHeaders();
    void displayTexts();
    void postInsertsOneRow();
    void editAndDeleteAreRowLevel();
    void renamedSettingMovesItsRow();
    void openingAndClosingReset();
};

void TestTableModel::columnsAndHeaders() {
    Fixture f;
    // hidden fields are left out; the others keep their order, headed by label
    TableModel log(f.t.main.get());
    QCOMPARE(headers(log), (QStringList{"№", "Время", "Кор.мощн.", "Моя мощн", "Notice", "Суффикс",
                                        "Репитер", "Страна", "Город", "Позывной", "Диапазон",
                                        "Модуляция", "Кор.RS", "Мой RS", "Имя"}));
    QCOMPARE(headers(TableModel(f.t.cors.get())),
             (QStringList{"Позывной", "Город", "Страна", "Имя"}));
    QCOMPARE(headers(TableModel(f.t.ini.get())), (QStringList{"Параметр", "Значение"}));

    // a column list of its own
    log.setColumns({QStringLiteral("CorCallName"), QStringLiteral("Time")});
    QCOMPARE(headers(log), (QStringList{"Позывной", "Время"}));
    QCOMPARE(testutil::errorOf([&] { log.setColumns({QStringLiteral("Nope")}); }),
             QStringLiteral("Field 'Nope' not found"));
}

void TestTableModel::displayTexts() {
    Fixture f;
    TableModel m(f.t.main.get());
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
    addRow(*f.t.cors, {{"CallName", "UA3AAA"}});
    addRow(*f.t.main, {{"CorID", 1}, {"Repeater", false}});
    addRow(*f.t.main, {{"CorID", 1},
                       {"Repeater", true},
                       {"CorPower", 0.1},
                       {"Notice", QStringLiteral("line one\r\nline two")}});
    addRow(*f.t.main, {{"CorID", 1}});
    // rows: newest first
    QCOMPARE(cell(m, 0, "Repeater"), QString());
    QCOMPARE(cell(m, 1, "Repeater"), QStringLiteral("+"));
    QCOMPARE(cell(m, 2, "Repeater"), QStringLiteral("-"));
    QCOMPARE(cell(m, 1, "CorPower"), floatToText(0.1));
    QCOMPARE(cell(m, 0, "CorPower"), QString());
    QCOMPARE(cell(m, 1, "Notice"), QStringLiteral("line one line two"));
    QCOMPARE(cell(m, 1, "CorCallName"), QStringLiteral("UA3AAA"));
    QCOMPARE(cell(m, 1, "ID"), QStringLiteral("2"));

    // a time is shown as it was stored, also one that the local time skips
    // (clocks put forward: a QDateTime of it is invalid) and the last
    // millisecond of a day
    Table& main = *f.t.main;
    const QDate gapDay(2024, 3, 31), lastDay(1999, 12, 31);
    addRow(main, {{"CorID", 1}, {"Time", QDateTime(lastDay, QTime(23, 59, 59, 999))}});
    addRow(main, {{"CorID", 1}, {"Time", QDateTime(gapDay, QTime(2, 30))}});
    qputenv("TZ", "Europe/Berlin");
    tzset();
    const int time = main.fieldIndex("Time");
    const QLocale original;
    // in the locale's own form, its digits too
    for (const QLocale& l : {original, QLocale(QLocale::German), QLocale(QLocale::Arabic)}) {
        QLocale::setDefault(l);
        const auto shown = [&](const QDate& d, const QTime& t) {
            return l.toString(d, l.dateFormat(QLocale::ShortFormat)) + ' ' +
                   l.toString(t, QStringLiteral("HH:mm:ss"));
        };
        QCOMPARE(QStringList({cell(m, 0, "Time"), cell(m, 1, "Time"), cell(m, 2, "Time"),
                              main.textOfSlot(uint32_t(main.rows().idSlot(main.lastId())), time)}),
                 QStringList({shown(gapDay, QTime(2, 30)), shown(lastDay, QTime(23, 59, 59)),
                              QString(), shown(gapDay, QTime(2, 30))}));
    }
    QLocale::setDefault(original);
    main.moveTo(1);
    QCOMPARE(cell(m, 1, "Time"), main.fieldByName("Time").displayText());
    qunsetenv("TZ");
    tzset();

    auto alignment = [&](const char* field) {
        const int col = m.columns().indexOf(QString::fromLatin1(field));
        return m.index(0, col).data(Qt::TextAlignmentRole).value<Qt::Alignment>() &
               Qt::AlignHorizontal_Mask;
    };
    QCOMPARE(alignment("CorCallName"), Qt::Alignment(Qt::AlignHCenter));
    QCOMPARE(alignment("Repeater"), Qt::Alignment(Qt::AlignHCenter));
    QCOMPARE(alignment("CorCity"), Qt::Alignment(Qt::AlignLeft));
}

void TestTableModel::postInsertsOneRow() {
    Fixture f;
    TableModel log(f.t.main.get());
    TableModel cors(f.t.cors.get());
    QAbstractItemModelTester t1(&log, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QAbstractItemModelTester t2(&cors, QAbstractItemModelTester::FailureReportingMode::QtTest);
    ModelLog logEvents(log), corsEvents(cors);

    addRow(*f.t.cors, {{"CallName", "UA3AAA"}});
    addRow(*f.t.cors, {{"CallName", "RA3BBB"}});
    QCOMPARE(corsEvents.take(), (QStringList{"inserted 0-0", "inserted 1-1"}));

    // a row being appended is not shown until it is posted
    Table& m = *f.t.main;
    m.append();
    m.fieldByName(fld::CorID).setAsInteger(2);
    QCOMPARE(log.rowCount(), 0);
    QCOMPARE(logEvents.take(), QStringList());
    m.post();
    QCOMPARE(logEvents.take(), QStringList{"inserted 0-0"});
    QCOMPARE(log.rowCount(), 1);
    addRow(m, {{"CorID", 1}});
    // the newest QSO goes on top, exactly one row, no reset
    QCOMPARE(logEvents.take(), QStringList{"inserted 0-0"});
    QCOMPARE(log.rowCount(), 2);
    QCOMPARE(cell(log, 0, "CorCallName"), QStringLiteral("UA3AAA"));
    QCOMPARE(cell(log, 1, "CorCallName"), QStringLiteral("RA3BBB"));

    // a cancelled append and a refused post show nothing
    m.append();
    QVERIFY(testutil::errorOf([&] { m.post(); }) != QLatin1String("<no error>"));
    m.cancel();
    QCOMPARE(logEvents.take(), QStringList());
}

void TestTableModel::editAndDeleteAreRowLevel() {
    Fixture f;
    TableModel log(f.t.main.get());
    QAbstractItemModelTester tester(&log, QAbstractItemModelTester::FailureReportingMode::QtTest);
    Table& m = *f.t.main;
    for (int i = 0; i < 3; ++i)
        addRow(m, {{"CorID", 1}});
    ModelLog events(log);

    m.moveTo(1);
    m.edit();
    m.fieldByName(fld::CorCity).setAsString(QStringLiteral("Тверь"));
    QCOMPARE(events.take(), QStringList()); // nothing shows before the post
    m.post();
    QCOMPARE(events.take(), QStringList{"changed 1-1"});
    QCOMPARE(cell(log, 1, "CorCity"), QStringLiteral("Тверь"));

    m.deleteRecord();
    QCOMPARE(events.take(), QStringList{"removed 1-1"});
    QCOMPARE(log.rowCount(), 2);
    QCOMPARE(cell(log, 0, "ID"), QStringLiteral("3"));
    QCOMPARE(cell(log, 1, "ID"), QStringLiteral("1"));
}

void TestTableModel::renamedSettingMovesItsRow() {
    Fixture f;
    TableModel ini(f.t.ini.get());
    QAbstractItemModelTester tester(&ini, QAbstractItemModelTester::FailureReportingMode::QtTest);
    Table& t = *f.t.ini;
    for (const char* n : {"alpha", "Bravo", "Charlie", "Delta"})
        addRow(t, {{"Name", n}});
    ModelLog events(ini);

    QVERIFY(t.locate(fld::Name, QStringLiteral("Bravo")));
    t.edit();
    t.fieldByName(fld::Name).setAsString(QStringLiteral("Echo"));
    t.post();
    QStringList names;
    for (int r = 0; r < ini.rowCount(); ++r)
        names << cell(ini, r, "Name");
    QCOMPARE(names, (QStringList{"alpha", "Charlie", "Delta", "Echo"}));

    // no reset, and every row whose content changed was announced
    QSet<int> announced;
    bool moved = false;
    for (const QString& e : events.take()) {
        QVERIFY2(e.startsWith(QLatin1String("changed ")) || e == QLatin1String("moved"),
                 qPrintable(e));
        if (e == QLatin1String("moved")) {
            moved = true;
            continue;
        }
        const QStringList range = e.mid(8).split(QLatin1Char('-'));
        for (int r = range[0].toInt(); r <= range[1].toInt(); ++r)
            announced.insert(r);
    }
    // either a move, or a change of rows 1 to 3, all of which now show other content
    QVERIFY(moved || (announced.contains(1) && announced.contains(2) && announced.contains(3)));
}

void TestTableModel::openingAndClosingReset() {
    TempDataDir dir;
    Fixture f;
    Table& m = *f.t.main;
    m.filePath = dir.path() + QStringLiteral("Main.db");
    TableModel log(&m);
    QAbstractItemModelTester tester(&log, QAbstractItemModelTester::FailureReportingMode::QtTest);
    addRow(m, {{"CorID", 1}});
    addRow(m, {{"CorID", 1}});
    m.write();
    ModelLog events(log);

    m.close();
    QCOMPARE(log.rowCount(), 0);
    QVERIFY(events.take().contains(QStringLiteral("reset")));
    m.load();
    QCOMPARE(log.rowCount(), 2);
    QVERIFY(events.take().contains(QStringLiteral("reset")));
    QCOMPARE(cell(log, 0, "ID"), QStringLiteral("2"));

    // a failed load leaves a closed, empty model behind
    m.close();
    QVERIFY(testutil::writeBytes(m.filePath, "garbage"));
    QVERIFY(testutil::errorOf([&] { m.load(); }) != QLatin1String("<no error>"));
    QCOMPARE(log.rowCount(), 0);
}

QTEST_GUILESS_MAIN(TestTableModel)
#include "tst_tablemodel.moc"
