// Daily backups: complete or gone, rotation over complete copies only, and
// clean-up that never reaches through a link.
#include "DataTestUtil.h"
#include "TestUtil.h"
#include "data/Backup.h"

#include <QtTest>

#include <unistd.h>

using namespace qardel;
using testutil::addRow;
using testutil::filesIn;
using testutil::kNineFiles;

namespace {

// A data folder holding all nine table files, the log big enough to fill a
// small disk.
void makeLog(const QString& dir, int qsos = 10) {
    TDM dm;
    dm.DataDir = dir;
    dm.OpenTables();
    const int cor = addRow(*dm.dsCors, {{"CallName", "UA3AAA"}});
    for (int i = 0; i < qsos; ++i)
        addRow(*dm.dsMain, {{"CorID", cor}, {"Notice", QString(200, QChar(u'Ж'))}});
    dm.SaveAll();
}

// Every file and folder under dir, with links shown as links.
QStringList tree(const QString& dir) {
    QStringList out;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        out << it.filePath().mid(dir.size()) + (it.fileInfo().isSymLink() ? "@" : "");
    }
    out.sort();
    return out;
}

} // namespace

class TestBackup : public QObject {
    Q_OBJECT
  private slots:
    void fullDiskLeavesNoPartialCopy() {
        TempDataDir d;
        makeLog(d.path(), 400); // a log file well over the limit below
        QVERIFY(QFileInfo(d.path() + "Main.db").size() > 128 * 1024);
        BackupResult r;
        {
            testutil::FileSizeLimit full(64 * 1024);
            r = makeDailyBackup(d.path(), QDate(2026, 3, 1));
        }
        QCOMPARE(r.folder, QString());
        QVERIFY2(r.error.contains("Не удалось сделать резервную копию") &&
                     r.error.contains("Main.db") && r.error.contains("backup/2026-03-01"),
                 qPrintable(r.error));
        QCOMPARE(tree(d.path()), kNineFiles); // no backup folder, nothing half made in one
        // once the disk has room, the day's copy is made in full
        r = makeDailyBackup(d.path(), QDate(2026, 3, 1));
        QCOMPARE(r.error, QString());
        QCOMPARE(filesIn(r.folder), kNineFiles);
    }

    void rotationKeepsTheNewestCompleteCopies() {
        TempDataDir d;
        makeLog(d.path());
        const QString root = d.path() + "backup/";
        // incomplete copies left by an earlier version count for nothing
        auto partial = [&](const QString& day) {
            QVERIFY(QDir().mkpath(root + day));
            QVERIFY(QFile::copy(d.path() + "Main.db", root + day + "/Main.db"));
        };
        partial("2026-01-15");
        for (int day = 1; day <= 14; ++day)
            QVERIFY(makeDailyBackup(d.path(), QDate(2026, 1, day), 10).error.isEmpty());
        QCOMPARE(makeDailyBackup(d.path(), QDate(2026, 1, 14)).folder, QString()); // once a day
        // and today's is made anew: all nine files, one of them empty
        QVERIFY(QDir().mkpath(root + "2026-01-20"));
        for (const QString& f : kNineFiles)
            QVERIFY(QFile::copy(d.path() + f, root + "2026-01-20/" + f));
        QVERIFY(QFile::resize(root + "2026-01-20/Main.db", 0));
        const BackupResult r = makeDailyBackup(d.path(), QDate(2026, 1, 20), 10);
        QCOMPARE(r.folder, root + "2026-01-20");
        QCOMPARE(filesIn(r.folder), kNineFiles);
        QVERIFY(QFileInfo(r.folder + "/Main.db").size() > 0);
        QStringList kept = QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
        QCOMPARE(kept, (QStringList{"2026-01-06", "2026-01-07", "2026-01-08", "2026-01-09",
                                    "2026-01-10", "2026-01-11", "2026-01-12", "2026-01-13",
                                    "2026-01-14", "2026-01-20"}));
        for (const QString& k : kept)
            QCOMPARE(filesIn(root + k), kNineFiles);
    }

    // Every copied file, then the folder that holds them, reach the disk
    // before the folder takes its day's name; the name itself after that.
    void aCopyIsOnTheDiskBeforeItIsNamed() {
        TempDataDir d;
        makeLog(d.path());
        QStringList ops;
        {
            testutil::FileOps watch(d.path(), &ops);
            QCOMPARE(makeDailyBackup(d.path(), QDate(2026, 3, 1)).error, QString());
        }
        ops.replaceInStrings(QRegularExpression(R"(\.2026-03-01\.\w{6}\b)"), ".2026-03-01.tmp");
        QStringList expected;
        for (const QString& f : tableFileNames())
            expected << "sync backup/.2026-03-01.tmp/" + f;
        expected << "sync folder backup/.2026-03-01.tmp"
                 << "sync folder backup";
        QCOMPARE(ops, expected);
    }

    void cleanUpNeverReachesThroughALink() {
        TempDataDir d, outside;
        makeLog(d.path());
        const QString root = d.path() + "backup/";
        QVERIFY(QDir().mkpath(root));
        for (const QString& f : kNineFiles)
            QVERIFY(testutil::writeBytes(outside.path() + f, "the operator's own file"));
        const QStringList theirs = tree(outside.path());
        for (const char* link :
             {".2026-02-01.tmp", ".2026-02-01.abcdef", "2000-01-01", "2026-02-01", "2099-12-31"})
            QCOMPARE(::symlink(QFile::encodeName(outside.path()).constData(),
                               QFile::encodeName(root + link).constData()),
                     0);
        for (int day = 1; day <= 12; ++day) {
            const BackupResult r = makeDailyBackup(d.path(), QDate(2026, 3, day), 2);
            QCOMPARE(r.error, QString());
        }
        QCOMPARE(tree(outside.path()), theirs);
        QCOMPARE(testutil::readBytes(outside.path() + "Main.db"),
                 QByteArray("the operator's own file"));
        // nor is a link named as a later day taken for the newest copy
        QCOMPARE(newestBackupOf(d.path(), "Main.db"), root + "2026-03-12/Main.db");
        // a link where today's copy belongs: refused and told, the link kept
        const BackupResult r = makeDailyBackup(d.path(), QDate(2026, 2, 1), 2);
        QCOMPARE(r.folder, QString());
        QVERIFY2(r.error.contains("2026-02-01"), qPrintable(r.error));
        QCOMPARE(tree(outside.path()), theirs);
        QCOMPARE(tree(root).filter("@").size(), 5);
    }
};

QTEST_GUILESS_MAIN(TestBackup)
#include "tst_backup.moc"
