// Helpers for the window tests: a data folder seeded through the program's
// own engine, the main window started on it, and the files read back.
#pragma once

#include "TestUtil.h"
#include "data/Fields.h"
#include "data/uDM.h"
#include "ui/common/Guard.h"
#include "ui/common/MessageBox.h"
#include "ui/main/uMain.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QTest>

#include <functional>
#include <map>
#include <memory>

namespace qardel::test {

// The APPDATA folder of one test; the program's data lives in its QARDEL/.
struct AppData {
    QTemporaryDir dir;
    AppData() { qputenv("APPDATA", dir.path().toUtf8()); }
    QString dataDir() const { return dir.path() + QStringLiteral("/QARDEL/"); }
};

inline int addRow(Table& t, const std::map<QString, QVariant>& values) {
    t.append();
    for (const auto& [k, v] : values)
        t.fieldByName(k).setValue(v);
    t.post();
    return t.fieldByName(fld::ID).asInteger();
}

// Runs f on a data module opened on the folder, then writes and closes it.
inline void withData(const AppData& a, const std::function<void(TDM&)>& f) {
    QDir().mkpath(a.dataDir());
    TDM dm;
    dm.DataDir = a.dataDir();
    dm.OpenTables();
    f(dm);
    dm.CloseTables();
}

inline std::unique_ptr<TfMain> startMain() {
    auto w = std::make_unique<TfMain>();
    w->show();
    if (!QTest::qWaitForWindowExposed(w.get())) qWarning("main window not exposed");
    QApplication::setActiveWindow(w.get());
    return w;
}

// Types text, Cyrillic included, into a control as the keyboard does.
inline void keys(QWidget* w, const QString& text) {
    for (const QChar ch : text) {
        if (ch.unicode() < 128 && ch.unicode() >= 32) {
            QTest::keyClick(w, char(ch.unicode()));
        } else {
            const auto key = Qt::Key(ch.toUpper().unicode());
            QTest::sendKeyEvent(QTest::Press, w, key, QString(ch), Qt::NoModifier);
            QTest::sendKeyEvent(QTest::Release, w, key, QString(ch), Qt::NoModifier);
        }
    }
}

// Puts the focus on a control and types into it.
inline void type(QWidget* w, const QString& text) {
    w->setFocus();
    keys(w, text);
}

// Replaces the whole text of a control as the keyboard does: select all,
// erase, type.
inline void retype(QWidget* w, const QString& text) {
    w->setFocus();
    QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(w, Qt::Key_Backspace);
    keys(w, text);
}

// A number written with a full stop, in the form the locale types it.
inline QString localNum(const char* number) {
    return QString::fromLatin1(number).replace(QLatin1Char('.'), QLocale().decimalPoint());
}

// The grid row that shows the table row with this ID (the first column), -1 if none.
inline int gridRowOfId(const QAbstractItemView* grid, int id) {
    const QAbstractItemModel* m = grid->model();
    for (int r = 0; r < m->rowCount(); ++r)
        if (m->index(r, 0).data().toInt() == id) return r;
    return -1;
}

// The ID shown in the grid's current row, 0 when none is current.
inline int gridCurrentId(const QAbstractItemView* grid) {
    const QModelIndex i = grid->currentIndex();
    return i.isValid() ? grid->model()->index(i.row(), 0).data().toInt() : 0;
}

inline QPoint gridRowPoint(const QAbstractItemView* grid, int row) {
    return grid->visualRect(grid->model()->index(row, 1)).center();
}

inline void clickGridRow(QAbstractItemView* grid, int row) {
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, gridRowPoint(grid, row));
}

// A double-click as the window system delivers it: press, release, press,
// double-click, release (QTest::mouseDClick alone sends just the third).
inline void dblClickGridRow(QAbstractItemView* grid, int row) {
    QWidget* vp = grid->viewport();
    const QPoint p = gridRowPoint(grid, row);
    QTest::mousePress(vp, Qt::LeftButton, {}, p);
    QTest::mouseRelease(vp, Qt::LeftButton, {}, p);
    QTest::mousePress(vp, Qt::LeftButton, {}, p);
    QTest::mouseDClick(vp, Qt::LeftButton, {}, p);
    QTest::mouseRelease(vp, Qt::LeftButton, {}, p);
}

// Opens a copy of the folder's table files with a second data module: what
// the files hold, read while the window still owns the folder. A file's
// write-ahead log goes with it; nothing is written back.
inline void onDisk(const AppData& a, const std::function<void(TDM&)>& f) {
    QTemporaryDir copy;
    const QDir src(a.dataDir());
    const QStringList files = {QStringLiteral("*.db"), QStringLiteral("*.db-wal")};
    for (const QString& name : src.entryList(files, QDir::Files))
        QFile::copy(src.filePath(name), copy.path() + QLatin1Char('/') + name);
    TDM dm;
    dm.DataDir = copy.path() + QLatin1Char('/');
    dm.OpenTables();
    f(dm);
    dm.AbandonTables();
}

inline void initUiTests() {
    msg::setTestMode(true);
    QLocale::setDefault(QLocale::system());
    // as the program's application object does
    setUpLanguageAndFont(*qApp);
}

} // namespace qardel::test
