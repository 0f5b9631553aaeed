// The data folder's start-up work without a window: making it, holding it
// for one program, and the texts the operator reads when that fails.
#include "TestUtil.h"
#include "data/DataFolder.h"
#include "data/DataTestUtil.h"

#include <QtTest>

#include <cerrno>
#include <cstring>

using namespace qardel;

class TestDataFolder : public QObject {
    Q_OBJECT
  private slots:
    void takenByOneProgramAtATime() {
        TempDataDir d;
        const QString dir = d.path() + "QARDEL/";
        {
            DataFolder first(dir), second(dir);
            QCOMPARE(first.take(), QString());
            QVERIFY(QFileInfo(dir).isDir());
            QVERIFY(second.take().contains(QStringLiteral("уже открыт другой копией")));
        }
        DataFolder again(dir); // the lock went with the first
        QCOMPARE(again.take(), QString());
    }

    void refusalsGiveTheSystemsReason() {
        TempDataDir d;
        QVERIFY(testutil::writeBytes(d.path() + "file", "x"));
        const QString notMade = DataFolder(d.path() + "file/QARDEL/").take();
        QVERIFY2(notMade.startsWith(QStringLiteral("Не удалось создать папку данных")),
                 qPrintable(notMade));
        QVERIFY(QDir().mkpath(d.path() + "QARDEL/qardel.lock"));
        const QString notLocked = DataFolder(d.path() + "QARDEL/").take();
        QVERIFY2(notLocked.contains(QString::fromLocal8Bit(std::strerror(EISDIR))),
                 qPrintable(notLocked));
        QVERIFY(!notLocked.contains(QStringLiteral("нет прав")));
    }

    void unreadableFileNamesItsNewestBackup() {
        TempDataDir d;
        {
            TDM dm;
            dm.DataDir = d.path();
            dm.OpenTables();
            testutil::addRow(*dm.dsCityes, {{"Name", "Омск"}});
            dm.SaveAll();
        }
        DataFolder folder(d.path());
        QCOMPARE(folder.backUp(QDate(2026, 5, 1)), QString());
        QCOMPARE(folder.backUp(QDate(2026, 5, 2)), QString());
        const QString text =
            folder.unreadable(QStringLiteral("Table file '%1City.db': broken").arg(d.path()));
        QVERIFY2(text.contains(QDir::toNativeSeparators(d.path() + "backup/2026-05-02/City.db")),
                 qPrintable(text));
        QVERIFY(text.endsWith(QStringLiteral("файлы данных оставлены без изменений.")));
    }
};

QTEST_GUILESS_MAIN(TestDataFolder)
#include "tst_datafolder.moc"
