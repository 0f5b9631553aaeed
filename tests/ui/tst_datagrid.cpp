// The log grid against a table view set up as the grid used to be: the same
// pixels, scroll positions, keys and mouse, before and after rows come and go.
#include "UiTestUtil.h"
#include "data/Schema.h"
#include "ui/common/Colors.h"
#include "ui/common/DataGrid.h"

#include <QAccessible>
#include <QHeaderView>
#include <QLineEdit>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QTableView>
#include <QWheelEvent>

using namespace qardel;
using namespace qardel::test;

namespace {

const QStringList kColumns{fld::ID,      fld::Time,     fld::CorCallName, fld::CorSuffix,
                           fld::CorName, fld::CorCity,  fld::CorCountry,  fld::Band,
                           fld::Mode,    fld::CorPower, fld::CorRS,       fld::MyPower,
                           fld::MyRS,    fld::Repeater};
const QList<int> kWidths{40, 0, 0, 64, 64, 64, 64, 64, 64, 0, 0, 0, 0, 64};

// A log of `rows` QSOs with short, long (elided), centred and empty texts.
struct Log {
    LogTables t = createLogTables();
    Log(int rows) {
        for (Table* x : {t.main.get(), t.cors.get(), t.bands.get(), t.modes.get(), t.rs.get(),
                         t.countryes.get(), t.cityes.get(), t.names.get(), t.ini.get()})
            x->createEmpty();
        const int band = addRow(*t.bands, {{"Name", "20M"}});
        const int mode = addRow(*t.modes, {{"Name", "SSB"}});
        const int rs = addRow(*t.rs, {{"Value", "59"}});
        for (int i = 0; i < rows; ++i)
            addQso(i, band, mode, rs);
    }
    void addQso(int i, int band = 1, int mode = 1, int rs = 1) {
        const int cor = addRow(*t.cors, {{"CallName", QStringLiteral("UA%1").arg(i)}});
        std::map<QString, QVariant> v{{"CorID", cor}, {"Repeater", i % 3 == 0}};
        if (i % 4 != 1) v["CorCity"] = i % 2 ? QStringLiteral("Петропавловск-Камчатский") : "Тула";
        if (i % 5 != 2) v["BandID"] = band, v["ModeID"] = mode, v["CorRSID"] = rs;
        if (i % 2) v["CorPower"] = 12.5 * i, v["CorSuffix"] = "P";
        addRow(*t.main, v);
    }
};

// Both views side by side in one window: the grid, and a table view with the
// settings the grid had as a table view.
struct Pair {
    Log log;
    TableModel model{log.t.main.get()};
    QWidget host;
    DataGrid* grid = new DataGrid(&host);
    QTableView* ref = new QTableView(&host);
    QLineEdit* elsewhere = new QLineEdit(&host); // holds the focus unless a test moves it

    explicit Pair(int rows, bool shareSelection = true) : log(rows) {
        grid->setDataSource(&model);
        model.setColumns(kColumns);
        grid->setColumnWidths(kWidths);
        ref->setSelectionBehavior(QAbstractItemView::SelectRows);
        ref->setSelectionMode(QAbstractItemView::SingleSelection);
        ref->setEditTriggers(QAbstractItemView::NoEditTriggers);
        ref->setTabKeyNavigation(false);
        ref->setWordWrap(false);
        ref->verticalHeader()->hide();
        ref->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        ref->verticalHeader()->setDefaultSectionSize(ref->fontMetrics().height() + 4);
        ref->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
        ref->horizontalHeader()->setHighlightSections(false);
        ref->horizontalHeader()->setStretchLastSection(false);
        ref->setPalette(grid->palette());
        ref->setModel(&model);
        if (shareSelection) ref->setSelectionModel(grid->selectionModel());
        for (int c = 0; c < model.columnCount(); ++c)
            ref->setColumnWidth(c, grid->columnWidth(c));
        grid->setGeometry(0, 0, 640, 300);
        ref->setGeometry(0, 310, 640, 300);
        elsewhere->setGeometry(0, 620, 100, 20);
        host.resize(640, 640);
        host.show();
        if (!QTest::qWaitForWindowExposed(&host)) qWarning("grid window not exposed");
        QApplication::setActiveWindow(&host);
        elsewhere->setFocus();
        settle();
    }
    void settle() {
        for (int i = 0; i < 3; ++i) {
            QApplication::processEvents();
            QApplication::sendPostedEvents();
        }
    }
    // What the window shows: the backing store, painted piece by piece.
    QImage shown(QWidget* w) {
        settle();
        const QImage all = host.screen()->grabWindow(host.winId()).toImage();
        return all.copy(QRect(w->mapTo(&host, QPoint()), w->size()));
    }
    // The same, painted afresh.
    QImage painted(QWidget* w) { return w->grab().toImage().convertToFormat(QImage::Format_RGB32); }
};

QString firstDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return QStringLiteral("sizes differ");
    QRect box;
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y)) box |= QRect(x, y, 1, 1), ++n;
    if (n == 0) return {};
    return QStringLiteral("%1 pixels differ, first at %2,%3, within %4x%5")
        .arg(n)
        .arg(box.x())
        .arg(box.y())
        .arg(box.width())
        .arg(box.height());
}

// A painting of the grid with one of its rows blacked out: what lies
// outside that row.
QImage outsideRow(const Pair& p, QImage image, int row) {
    const int y = p.grid->visualRect(p.model.index(row, 0)).top();
    const QRect r(p.grid->viewport()->mapTo(p.grid, QPoint(0, y)),
                  QSize(p.grid->viewport()->width(), p.grid->rowHeight()));
    QPainter painter(&image);
    painter.fillRect(r, Qt::black);
    painter.end();
    return image;
}

// Where the grid is: its current row, the rows it shows selected, and the
// table's cursor.
QString where(const Pair& p) {
    QStringList selected;
    for (const QModelIndex& i : p.grid->selectionModel()->selectedRows())
        selected << QString::number(i.row());
    return QStringLiteral("current %1, selected [%2], cursor %3")
        .arg(p.grid->currentIndex().row())
        .arg(selected.join(QLatin1Char(',')))
        .arg(p.log.t.main->recNo());
}

#define COMPARE_VIEWS(p, what)                                                                     \
    do {                                                                                           \
        QCOMPARE((p).grid->verticalScrollBar()->value(), (p).ref->verticalScrollBar()->value());   \
        QCOMPARE((p).grid->horizontalScrollBar()->value(),                                         \
                 (p).ref->horizontalScrollBar()->value());                                         \
        const QImage g = (p).shown((p).grid), r = (p).shown((p).ref);                              \
        QCOMPARE(g.size(), (p).grid->size());                                                      \
        const QString d = firstDifference(g, r);                                                   \
        if (!d.isEmpty()) {                                                                        \
            g.save(QDir::tempPath() + "/grid-" what ".png");                                       \
            r.save(QDir::tempPath() + "/tableview-" what ".png");                                  \
        }                                                                                          \
        QVERIFY2(d.isEmpty(), qPrintable(QStringLiteral(what ": ") + d));                          \
        QCOMPARE((p).painted((p).grid), (p).painted((p).ref));                                     \
    } while (false)

} // namespace

class TestDataGrid : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { initUiTests(); }

    // The same pixels and scroll positions as a table view while the cursor
    // moves through the log, near and far, and rows are added and deleted.
    void looksAsATableView() {
        Pair p(120);
        COMPARE_VIEWS(p, "start");
        Table& t = *p.log.t.main;
        const auto moveTo = [&](int row) {
            t.moveTo(row); // the grid follows the cursor; the table view is told
            p.ref->scrollTo(p.model.index(row, 0));
        };
        moveTo(40); // below the page: it becomes the last row shown
        COMPARE_VIEWS(p, "down");
        moveTo(30); // above: the first row shown
        COMPARE_VIEWS(p, "up");
        moveTo(119); // the end: the last row on the bottom edge
        COMPARE_VIEWS(p, "end");
        moveTo(0);
        COMPARE_VIEWS(p, "top");
        for (QAbstractItemView* v :
             {static_cast<QAbstractItemView*>(p.grid), static_cast<QAbstractItemView*>(p.ref)})
            v->scrollTo(p.model.index(3, kColumns.size() - 1));
        COMPARE_VIEWS(p, "right");

        // a new QSO on top, then deleting rows, at the top and at the end
        p.log.addQso(200);
        p.ref->scrollTo(p.model.index(0, 0));
        COMPARE_VIEWS(p, "inserted");
        moveTo(120);
        t.deleteRecord();
        p.settle();
        p.ref->scrollTo(p.model.index(t.recNo(), 0));
        COMPARE_VIEWS(p, "deleted at the end");
        moveTo(0);
        t.deleteRecord();
        p.settle();
        p.ref->scrollTo(p.model.index(t.recNo(), 0));
        COMPARE_VIEWS(p, "deleted on top");

        // the focus frame: the table view's on the current cell, the grid's
        // around the whole current row; the rest is alike
        p.grid->setFocus();
        const QImage focused = p.painted(p.grid);
        p.ref->setFocus();
        const int row = p.grid->currentIndex().row();
        QCOMPARE(outsideRow(p, focused, row), outsideRow(p, p.painted(p.ref), row));
        QVERIFY(focused != p.painted(p.grid));

        // disabled and silver while a QSO is corrected
        for (QAbstractItemView* v :
             {static_cast<QAbstractItemView*>(p.grid), static_cast<QAbstractItemView*>(p.ref)})
            v->setEnabled(false);
        p.grid->setBackground(silverColor());
        p.ref->setPalette(p.grid->palette());
        COMPARE_VIEWS(p, "disabled");
    }

    void fewRowsAndNoRows() {
        Pair p(3);
        COMPARE_VIEWS(p, "three rows");
        p.log.t.main->deleteRecord();
        p.log.t.main->deleteRecord();
        p.log.t.main->deleteRecord();
        COMPARE_VIEWS(p, "empty");
    }

    // Keys, clicks and the double-click on a column's edge land where a
    // table view's do.
    void keysAndMouseAsATableView() {
        Pair p(300, false);
        p.ref->setCurrentIndex(p.model.index(0, 0));
        const QList<std::pair<Qt::Key, Qt::KeyboardModifiers>> keys{
            {Qt::Key_Down, {}},
            {Qt::Key_Down, {}},
            {Qt::Key_PageDown, {}},
            {Qt::Key_PageDown, {}},
            {Qt::Key_Up, {}},
            {Qt::Key_PageUp, {}},
            {Qt::Key_End, {}},
            {Qt::Key_Left, {}},
            {Qt::Key_Home, {}},
            {Qt::Key_Right, {}},
            {Qt::Key_End, Qt::ControlModifier},
            {Qt::Key_PageUp, {}},
            {Qt::Key_Down, {}},
            {Qt::Key_Home, Qt::ControlModifier},
            {Qt::Key_Up, {}}};
        p.grid->setFocus();
        p.grid->setCurrentIndex(p.model.index(0, 0));
        for (const auto& [k, m] : keys) {
            QTest::keyClick(p.grid, k, m);
            QTest::keyClick(p.ref, k, m);
            QCOMPARE(p.grid->currentIndex(), p.ref->currentIndex());
            QCOMPARE(p.grid->verticalScrollBar()->value(), p.ref->verticalScrollBar()->value());
            QCOMPARE(p.grid->selectionModel()->selectedRows(),
                     p.ref->selectionModel()->selectedRows());
        }
        QCOMPARE(p.log.t.main->recNo(), p.grid->currentIndex().row()); // the cursor followed

        // clicks on cells and on a grid line; points outside the rows
        for (const QPoint& at :
             {QPoint(5, 5), QPoint(100, 40), QPoint(200, p.grid->rowHeight() - 1),
              QPoint(300, 3 * p.grid->rowHeight())}) {
            QTest::mouseClick(p.grid->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseClick(p.ref->viewport(), Qt::LeftButton, {}, at);
            QCOMPARE(p.grid->currentIndex(), p.ref->currentIndex());
            QCOMPARE(p.grid->indexAt(at), p.ref->indexAt(at));
            QCOMPARE(p.grid->visualRect(p.grid->indexAt(at)),
                     p.ref->visualRect(p.ref->indexAt(at)));
        }
        for (const QPoint& at : {QPoint(700, 5), QPoint(-1, 5), QPoint(5, -1), QPoint(5, 9000)})
            QCOMPARE(p.grid->indexAt(at), p.ref->indexAt(at));

        // the mouse wheel scrolls by the same rows
        const int before = p.grid->verticalScrollBar()->value();
        for (QAbstractItemView* v :
             {static_cast<QAbstractItemView*>(p.grid), static_cast<QAbstractItemView*>(p.ref)}) {
            QWheelEvent wheel(QPointF(50, 50), v->viewport()->mapToGlobal(QPointF(50, 50)), {},
                              QPoint(0, -240), Qt::NoButton, {}, Qt::NoScrollPhase, false);
            QApplication::sendEvent(v->viewport(), &wheel);
        }
        QCOMPARE(p.grid->verticalScrollBar()->value(), p.ref->verticalScrollBar()->value());
        QVERIFY(p.grid->verticalScrollBar()->value() != before);

        for (int c : {0, 2, 5}) {
            p.grid->resizeColumnToContents(c);
            p.ref->resizeColumnToContents(c);
            QCOMPARE(p.grid->columnWidth(c), p.ref->columnWidth(c));
        }
    }

    // Where a point lands, as in a table view: the pixel past the last row
    // is no row, and a column is found where it is seen after scrolling
    // sideways. A row half shown at the bottom is scrolled into view, and the
    // row the log's cursor moves to is the one selected, whole.
    void hitTestAndScrollingAsATableView() {
        QStringList got, expected;
        const auto hits = [&](Pair& p, const QString& what, const QList<QPoint>& points) {
            for (const QPoint& at : points) {
                const QModelIndex g = p.grid->indexAt(at), r = p.ref->indexAt(at);
                const QString where =
                    QStringLiteral("%1 at %2,%3: ").arg(what).arg(at.x()).arg(at.y());
                got << where + QStringLiteral("row %1 column %2, cell %3,%4")
                                   .arg(p.grid->rowAt(at.y()))
                                   .arg(p.grid->columnAt(at.x()))
                                   .arg(g.row())
                                   .arg(g.column());
                expected << where + QStringLiteral("row %1 column %2, cell %3,%4")
                                        .arg(p.ref->rowAt(at.y()))
                                        .arg(p.ref->columnAt(at.x()))
                                        .arg(r.row())
                                        .arg(r.column());
            }
        };
        Pair few(3);
        const int h = few.grid->rowHeight();
        hits(few, "below three rows",
             {QPoint(5, 3 * h - 1), QPoint(5, 3 * h), QPoint(5, 3 * h + 1)});

        Pair p(120);
        for (QAbstractItemView* v :
             {static_cast<QAbstractItemView*>(p.grid), static_cast<QAbstractItemView*>(p.ref)})
            v->scrollTo(p.model.index(3, kColumns.size() - 1));
        p.settle();
        QVERIFY(p.grid->horizontalScrollBar()->value() > 0);
        hits(p, "scrolled right", {QPoint(2, 5), QPoint(90, 5), QPoint(250, 5), QPoint(600, 5)});
        QCOMPARE(got, expected);

        // half a row's height left over at the bottom of both views
        const int extra = h / 2 - p.grid->viewport()->height() % h;
        for (QAbstractItemView* v :
             {static_cast<QAbstractItemView*>(p.grid), static_cast<QAbstractItemView*>(p.ref)})
            v->resize(v->width(), v->height() + extra);
        p.settle();
        const int half = p.grid->viewport()->height() / h; // its top shown, its bottom not
        QVERIFY(half * h < p.grid->viewport()->height());
        QVERIFY((half + 1) * h > p.grid->viewport()->height());
        p.log.t.main->moveTo(half);
        p.ref->scrollTo(p.model.index(half, 0));
        p.settle();
        QVERIFY(p.grid->verticalScrollBar()->value() > 0);
        QCOMPARE(p.grid->verticalScrollBar()->value(), p.ref->verticalScrollBar()->value());
        QCOMPARE(where(p), QStringLiteral("current %1, selected [%1], cursor %1").arg(half));
    }

    // The current row is always the one highlighted row, whatever the key or
    // click; a typed character moves nothing (the grid has no type-ahead):
    // what Enter or Delete act on is the row the operator sees marked.
    void theCurrentRowStaysTheHighlightedOne() {
        using Act = std::function<void(Pair&)>;
        const auto key = [](Qt::Key k, Qt::KeyboardModifiers m = {}) {
            return Act([k, m](Pair& p) { QTest::keyClick(p.grid, k, m); });
        };
        const auto click = [](Qt::KeyboardModifiers m, std::function<QPoint(Pair&)> at) {
            return Act([m, at](Pair& p) {
                QTest::mouseClick(p.grid->viewport(), Qt::LeftButton, m, at(p));
            });
        };
        const auto onCurrent = [](Pair& p) {
            return p.grid->visualRect(p.grid->currentIndex()).center();
        };
        const auto typed = [](const QString& text) {
            return Act([text](Pair& p) {
                for (QChar ch : text)
                    QTest::sendKeyEvent(QTest::Click, p.grid, Qt::Key(ch.toUpper().unicode()),
                                        QString(ch), Qt::NoModifier);
            });
        };
        const int last = kColumns.size() - 1;
        struct Step {
            const char* name;
            int rows, row, column;
            Act act;
            int expected; // the current row afterwards
        };
        const QList<Step> steps{
            {"Ctrl+Home on the first row", 5, 0, 0, key(Qt::Key_Home, Qt::ControlModifier), 0},
            {"Ctrl+Home on the first row, a later column", 5, 0, 3,
             key(Qt::Key_Home, Qt::ControlModifier), 0},
            {"Ctrl+End on the last row", 5, 4, last, key(Qt::Key_End, Qt::ControlModifier), 4},
            {"Ctrl+End on the last row, an earlier column", 5, 4, 2,
             key(Qt::Key_End, Qt::ControlModifier), 4},
            {"Down on a one-row log", 1, 0, 0, key(Qt::Key_Down), 0},
            {"Up on a one-row log", 1, 0, 2, key(Qt::Key_Up), 0},
            {"Page Down on a one-row log", 1, 0, 0, key(Qt::Key_PageDown), 0},
            {"End on a one-row log", 1, 0, 0, key(Qt::Key_End), 0},
            {"Ctrl+Down on a one-row log", 1, 0, 0, key(Qt::Key_Down, Qt::ControlModifier), 0},
            {"Ctrl+Left", 5, 2, 3, key(Qt::Key_Left, Qt::ControlModifier), 2},
            {"Ctrl+Right", 5, 2, 3, key(Qt::Key_Right, Qt::ControlModifier), 2},
            {"Ctrl+Space", 5, 2, 3, key(Qt::Key_Space, Qt::ControlModifier), 2},
            {"Space", 5, 2, 3, key(Qt::Key_Space), 2},
            {"Ctrl+A", 5, 2, 3, key(Qt::Key_A, Qt::ControlModifier), 2},
            {"Ctrl+click on the current row", 5, 2, 3, click(Qt::ControlModifier, onCurrent), 2},
            {"Shift+click on the current row", 5, 2, 3, click(Qt::ShiftModifier, onCurrent), 2},
            {"a click below the rows", 3, 1, 0,
             click({}, [](Pair& p) { return QPoint(50, 4 * p.grid->rowHeight() + 3); }), 1},
            {"Ctrl+click below the rows", 3, 1, 0,
             click(Qt::ControlModifier,
                   [](Pair& p) { return QPoint(50, 4 * p.grid->rowHeight() + 3); }),
             1},
            {"digits typed", 12, 3, 0, typed(QStringLiteral("12")), 3},
            {"letters typed", 12, 3, 2, typed(QStringLiteral("uа")), 3},
            {"a click on another row still moves", 5, 0, 0,
             click({}, [](Pair& p) { return p.grid->visualRect(p.model.index(3, 1)).center(); }),
             3},
            {"Down still moves", 5, 1, 0, key(Qt::Key_Down), 2},
        };
        QStringList shown, expected;
        for (const Step& s : steps) {
            Pair p(s.rows);
            p.grid->setFocus();
            p.log.t.main->moveTo(s.row);
            p.grid->setCurrentIndex(p.model.index(s.row, s.column));
            s.act(p);
            p.settle();
            shown << QString::fromLatin1(s.name) + ": " + where(p);
            expected << QStringLiteral("%1: current %2, selected [%2], cursor %2")
                            .arg(QString::fromLatin1(s.name))
                            .arg(s.expected);
        }
        for (int i = 0; i < shown.size(); ++i)
            if (shown[i] != expected[i]) qWarning("%s", qPrintable(shown[i]));
        QCOMPARE(shown, expected);
    }

    // The focus is seen on the current row wherever the grid is scrolled
    // sideways, also with the current cell's column out of view.
    void theFocusShowsOnTheRow() {
        Pair p(40);
        p.grid->setCurrentIndex(p.model.index(2, 0));
        p.grid->scrollTo(p.model.index(2, kColumns.size() - 1));
        p.settle();
        QVERIFY(p.grid->horizontalScrollBar()->value() > 0);
        QVERIFY(p.grid->visualRect(p.model.index(2, 0)).right() < 0); // the cell is out of view
        const QImage unfocused = p.painted(p.grid);
        p.grid->setFocus();
        const QImage focused = p.painted(p.grid);
        // the row differs, nothing else does
        QCOMPARE(outsideRow(p, focused, 2), outsideRow(p, unfocused, 2));
        QVERIFY2(focused != unfocused, "a focused grid looks like an unfocused one");
        // it goes with the focus
        p.elsewhere->setFocus();
        QCOMPARE(p.painted(p.grid), unfocused);
        // what the window shows, painted piece by piece, is what the grid
        // paints afresh, also after moves sideways and down
        p.grid->setFocus();
        QCOMPARE(p.shown(p.grid), focused);
        for (Qt::Key k : {Qt::Key_Home, Qt::Key_Down, Qt::Key_End, Qt::Key_Left}) {
            QTest::keyClick(p.grid, k);
            QCOMPARE(p.shown(p.grid), p.painted(p.grid));
        }
    }

    // A column the window wants read whole grows to show its widest value
    // (an ID of 100000, a ten-character call sign) when the value comes into
    // view; the other columns, and columns whose values fit, keep their widths.
    void wholeValueColumnsGrowToTheirWidestValue() {
        Pair p(0);
        Table& main = *p.log.t.main;
        main.keepIdsAbove(99997); // IDs 99998 to 100002
        for (int i = 0; i < 5; ++i)
            p.log.addQso(i);
        const QList<int> whole{0, 1, 2, 3, 9, 10, 11, 12};
        p.grid->setWholeValueColumns(whole);
        p.settle();
        // what a table view needs to show every value of a column whole
        const auto fits = [&](int c) {
            p.ref->resizeColumnToContents(c);
            return p.ref->columnWidth(c);
        };
        const auto widths = [&](const QList<int>& grown) {
            QStringList out;
            for (int c = 0; c < kColumns.size(); ++c)
                out << QString::number(p.grid->columnWidth(c));
            QStringList want;
            for (int c = 0; c < kColumns.size(); ++c) {
                const int given = kWidths[c]
                                      ? kWidths[c]
                                      : p.grid->fieldWidthPixels(p.model.fieldIndexOfColumn(c));
                want << QString::number(grown.contains(c) ? std::max(given, fits(c)) : given);
            }
            return std::pair{out, want};
        };
        auto [shown, expected] = widths({0});
        QCOMPARE(shown, expected);
        QVERIFY(p.grid->columnWidth(0) > 40);

        // a long call sign arrives
        const int cor = addRow(*p.log.t.cors, {{"CallName", QStringLiteral("RW3456789W")}});
        addRow(main, {{"CorID", cor}});
        p.settle();
        std::tie(shown, expected) = widths({0, 2});
        QCOMPARE(shown, expected);
        QVERIFY(p.grid->columnWidth(2) > p.grid->fieldWidthPixels(p.model.fieldIndexOfColumn(2)));

        // the same views, painted alike
        for (int c = 0; c < kColumns.size(); ++c)
            p.ref->setColumnWidth(c, p.grid->columnWidth(c));
        p.ref->scrollTo(p.model.index(main.recNo(), 0));
        COMPARE_VIEWS(p, "grown");

        // the operator's own narrower width stays until a still wider value comes
        p.grid->setColumnWidth(0, 30);
        main.moveTo(3);
        p.settle();
        QCOMPARE(p.grid->columnWidth(0), 30);
    }

    // A screen reader finds a table: its size, the column titles, each cell's
    // text by row and column (the title row comes first among the children),
    // the current cell and the selected row, and it reads the rows as they
    // are after QSOs come and go. (What it is told as the keyboard moves is
    // checked on the accessibility bus, tests/e2e/a11y_reader.py.)
    void aReaderSeesATable() {
        Pair p(30);
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(p.grid);
        QVERIFY(a);
        QCOMPARE(a->role(), QAccessible::Table);
        QAccessibleTableInterface* t = a->tableInterface();
        QVERIFY(t);
        const int columns = int(kColumns.size());
        const auto name = [](QAccessibleInterface* i) {
            return i ? i->text(QAccessible::Name) : QStringLiteral("<none>");
        };
        // the reader's view and the grid's own, as text
        const auto read = [&](int row) {
            QStringList cells;
            for (int c = 0; c < columns; ++c)
                cells << name(t->cellAt(row, c));
            return cells.join(QLatin1Char('|'));
        };
        const auto shown = [&](int row) {
            QStringList cells;
            for (int c = 0; c < columns; ++c)
                cells << p.model.index(row, c).data().toString();
            return cells.join(QLatin1Char('|'));
        };
        const auto both = [&] {
            QStringList titles,
                reader{
                    QStringLiteral("%1 rows, %2 columns").arg(t->rowCount()).arg(t->columnCount())};
            for (int c = 0; c < columns; ++c) {
                titles << p.model.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
                reader << t->columnDescription(c) + QLatin1Char('=') + name(a->child(c));
            }
            QStringList grid{
                QStringLiteral("%1 rows, %2 columns").arg(p.model.rowCount()).arg(columns)};
            for (const QString& title : titles)
                grid << title + QLatin1Char('=') + title;
            for (int r : {0, 1, p.model.rowCount() - 1}) {
                reader << read(r);
                grid << shown(r);
            }
            return std::pair{reader, grid};
        };
        auto [reader, grid] = both();
        QCOMPARE(reader, grid);
        QVERIFY(reader.contains(QStringLiteral("№=№")));

        // children by index: the titles, then the cells row by row
        for (int i : {0, columns - 1, columns, columns + 1, 5 * columns + 3, a->childCount() - 1}) {
            QAccessibleInterface* c = a->child(i);
            QVERIFY(c);
            QCOMPARE(a->indexOfChild(c), i);
            QCOMPARE(c->parent(), a);
            if (i < columns) {
                QCOMPARE(c->role(), QAccessible::ColumnHeader);
            } else {
                QCOMPARE(c->role(), QAccessible::Cell);
                QCOMPARE(c->tableCellInterface()->rowIndex(), i / columns - 1);
                QCOMPARE(c->tableCellInterface()->columnIndex(), i % columns);
                QCOMPARE(c->tableCellInterface()->columnHeaderCells().value(0),
                         a->child(i % columns));
            }
        }
        QCOMPARE(a->childCount(), (p.model.rowCount() + 1) * columns);
        QCOMPARE(a->child(a->childCount()), nullptr);
        QCOMPARE(t->cellAt(p.model.rowCount(), 0), nullptr);
        // what lies under a point
        const QRect r = p.grid->visualRect(p.model.index(2, 3));
        const QPoint at = p.grid->viewport()->mapToGlobal(r.center());
        QCOMPARE(a->childAt(at.x(), at.y()), t->cellAt(2, 3));
        QCOMPARE(t->cellAt(2, 3)->rect(),
                 QRect(p.grid->viewport()->mapToGlobal(r.topLeft()), r.size()));

        // the current cell and the selected row
        p.grid->setFocus();
        p.grid->setCurrentIndex(p.model.index(5, 2));
        QCOMPARE(t->selectedRows(), QList<int>{5});
        QVERIFY(t->isRowSelected(5));
        QCOMPARE(t->selectedCellCount(), columns);
        QCOMPARE(a->focusChild(), t->cellAt(5, 2));
        QVERIFY(t->cellAt(5, 2)->state().focused);
        QVERIFY(t->cellAt(5, 2)->state().selected);
        QVERIFY(!t->cellAt(5, 3)->state().focused);
        QVERIFY(t->cellAt(5, 3)->state().selected);
        QVERIFY(!t->cellAt(4, 2)->state().selected);
        QVERIFY(t->cellAt(28, 2)->state().invisible); // below the view
        // a reader's selecting a row makes it current, and the log's too
        QVERIFY(t->selectRow(7));
        QCOMPARE(p.grid->currentIndex().row(), 7);
        QCOMPARE(p.log.t.main->recNo(), 7);
        QVERIFY(!t->unselectRow(7));
        QCOMPARE(t->selectedRows(), QList<int>{7});

        // rows that come and go: the reader reads what is there now
        p.log.addQso(500);
        p.settle();
        std::tie(reader, grid) = both();
        QCOMPARE(reader, grid);
        QVERIFY(read(0).contains(QStringLiteral("UA500")));
        p.log.t.main->moveTo(0);
        p.log.t.main->deleteRecord();
        p.log.t.main->deleteRecord();
        p.settle();
        std::tie(reader, grid) = both();
        QCOMPARE(reader, grid);
    }

    // A value deep in a long log widens its column when scrolled into view.
    void aWideValueScrolledIntoViewWidensItsColumn() {
        Pair p(0);
        Table& main = *p.log.t.main;
        const int wide = addRow(*p.log.t.cors, {{"CallName", QStringLiteral("WW9WWWWWWW")}});
        addRow(main, {{"CorID", wide}});
        // a grid with no room yet shows no row: nothing is measured (a log of
        // a million QSOs would take seconds at start-up)
        {
            DataGrid squeezed;
            squeezed.setAttribute(Qt::WA_DontShowOnScreen);
            squeezed.setDataSource(&p.model);
            squeezed.resize(640, 0);
            squeezed.show();
            squeezed.setWholeValueColumns({2});
            QApplication::processEvents();
            QCOMPARE(squeezed.columnWidth(2),
                     squeezed.fieldWidthPixels(p.model.fieldIndexOfColumn(2)));
        }
        for (int i = 0; i < 200; ++i)
            p.log.addQso(i);
        p.grid->setWholeValueColumns({2});
        p.settle();
        const int before = p.grid->columnWidth(2);
        QCOMPARE(before, p.grid->fieldWidthPixels(p.model.fieldIndexOfColumn(2)));
        main.moveTo(main.recordCount() - 1);
        p.settle();
        QVERIFY(p.grid->columnWidth(2) > before);
        QCOMPARE(p.grid->columnWidth(2), std::max(before, [&] {
                     p.ref->scrollTo(p.model.index(main.recNo(), 0));
                     p.ref->resizeColumnToContents(2);
                     return p.ref->columnWidth(2);
                 }()));
    }

    // Rows measured once are not measured again, yet a wide value that a
    // deletion or a change brings into view still widens its column.
    void theMeasureFollowsRowsThatComeAndGo() {
        Pair p(100);
        Table& main = *p.log.t.main;
        main.moveTo(50);
        p.settle();
        QScrollBar* bar = p.grid->verticalScrollBar();
        const int at = bar->value();
        const auto wideCall = [&](int row, const QString& call) {
            const int cor = addRow(*p.log.t.cors, {{"CallName", call}});
            const int keep = main.recNo();
            main.moveTo(row);
            main.edit();
            main.fieldByName("CorID").setValue(cor);
            main.post();
            main.moveTo(keep);
            bar->setValue(at);
            p.settle();
        };
        const int below = p.grid->rowAt(p.grid->viewport()->height() - 1) + 1;
        wideCall(below, QStringLiteral("WW9WWWW")); // just out of view
        p.grid->setWholeValueColumns({2});
        p.settle();
        const int base = p.grid->columnWidth(2);
        QCOMPARE(base, p.grid->fieldWidthPixels(p.model.fieldIndexOfColumn(2)));
        const auto fresh = [&] {
            p.ref->verticalScrollBar()->setValue(bar->value());
            p.ref->resizeColumnToContents(2);
            return std::max(base, p.ref->columnWidth(2));
        };
        main.moveTo(below - 3);
        main.deleteRecord(); // the rows below move up: the wide one comes into view
        p.settle();
        QCOMPARE(p.grid->rowAt(p.grid->viewport()->height() - 1), below - 1);
        QVERIFY(p.grid->columnWidth(2) > base);
        QCOMPARE(p.grid->columnWidth(2), fresh());
        const int grown = p.grid->columnWidth(2);
        wideCall(main.recNo() - 2, QStringLiteral("WW9WWWWWWW")); // a row in view changes
        QVERIFY(p.grid->columnWidth(2) > grown);
        QCOMPARE(p.grid->columnWidth(2), fresh());

        // the run of measured rows as rows come and go: {first, last} after each
        using Rows = DataGrid::MeasuredRows;
        const auto after = [](void (Rows::*change)(int, int), int start, int end) {
            Rows r{10, 20};
            (r.*change)(start, end);
            return r.empty() ? QStringLiteral("none")
                             : QStringLiteral("%1-%2").arg(r.first).arg(r.last);
        };
        const QStringList got{after(&Rows::inserted, 2, 4),   after(&Rows::inserted, 10, 10),
                              after(&Rows::inserted, 15, 16), after(&Rows::inserted, 21, 30),
                              after(&Rows::removed, 2, 4),    after(&Rows::removed, 8, 12),
                              after(&Rows::removed, 15, 16),  after(&Rows::removed, 18, 25),
                              after(&Rows::removed, 0, 30),   after(&Rows::removed, 21, 30),
                              after(&Rows::changed, 12, 13),  after(&Rows::changed, 17, 18),
                              after(&Rows::changed, 0, 9),    after(&Rows::changed, 5, 25)};
        const QStringList want{"13-23", "11-21", "10-14", "10-20", "7-17",  "8-15",  "10-18",
                               "10-17", "none",  "10-20", "14-20", "10-16", "10-20", "none"};
        QCOMPARE(got, want);
    }
};

QTEST_MAIN(TestDataGrid)
#include "tst_datagrid.moc"
