// Helpers for the window tests: a data folder seeded through the program's
// own engine, the main window started on it, and the files read back.
#pragma once

#include "MessageBox.h"
#include "TestUtil.h"
#include "uDM.h"
#include "uMain.h"

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
    return t.fieldByName(QStringLiteral("ID")).asInteger();
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

inline void initUiTests() {
    msg::setTestMode(true);
    QLocale::setDefault(QLocale::system());
}

} // namespace qardel::test
