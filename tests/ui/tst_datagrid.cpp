// The log grid against a table view set up as the grid used to be: the same
// pixels, scroll positions, keys and mouse, before and after rows come and go.
#include "UiTestUtil.h"
#include "data/Schema.h"
#include "ui/common/Colors.h"
#include "ui/common/DataGrid.h"

#include <QHeaderView>
#include <QLineEdit>
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

        // the focus frame on the current cell, in either view
        p.grid->setFocus();
        const QImage focused = p.painted(p.grid);
        p.ref->setFocus();
        QCOMPARE(focused, p.painted(p.ref));
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
};

QTEST_MAIN(TestDataGrid)
#include "tst_datagrid.moc"
