// The command as an operator runs it: exit codes, the lock, a dry run that
// writes nothing, and an import written whole.
#include "TestUtil.h"
#include "data/DataFolder.h"
#include "data/DataTestUtil.h"

#include <QProcess>
#include <sys/stat.h>
#include <unistd.h>

#include <QtTest>
#include <functional>

namespace {

struct Run {
    int code;
    QString out, err;
};

Run run(const QStringList& args, const std::function<void(QProcess&)>& setUp = {}) {
    QProcess p;
    if (setUp) setUp(p);
    p.start(QStringLiteral(QARDEL_ADIF), args);
    p.waitForFinished(60000);
    return {p.exitCode(), QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

QStringList tableFiles(const QString& dir) {
    return QDir(dir).entryList({"*.db"}, QDir::Files, QDir::Name);
}

} // namespace

class TestQardelAdif : public QObject {
    Q_OBJECT
  private slots:
    void importsExportsAndRefuses() {
        TempDataDir dir, work;
        const QString adi = work.path() + "in.adi";
        QFile f(adi);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("<EOH><CALL:6>UA3AAA<QSO_DATE:8>20240105<TIME_ON:4>1230<BAND:3>20m<EOR>"
                "<CALL:12>DL/UA3AAA/PM<QSO_DATE:8>20240105<TIME_ON:4>1230<EOR>");
        f.close();
        QCOMPARE(run({"--help"}).code, 0);
        QCOMPARE(run({"frobnicate"}).code, 2);

        Run r = run({"--data", dir.path(), "import", "--dry-run", adi});
        QCOMPARE(r.code, 1); // one record refused
        QVERIFY2(r.out.contains("1") && r.out.contains("DL/UA3AAA/PM"), qPrintable(r.out));
        QCOMPARE(tableFiles(dir.path()), QStringList()); // nothing written

        {
            qardel::DataFolder held(dir.path()); // as QARDEL holds it
            QCOMPARE(held.take(), QString());
            r = run({"--data", dir.path(), "import", adi});
            QCOMPARE(r.code, 2);
            QCOMPARE(tableFiles(dir.path()), QStringList());
        }
        r = run({"--data", dir.path(), "import", adi});
        QCOMPARE(r.code, 1);
        QCOMPARE(tableFiles(dir.path()).size(), 9);
        r = run({"--data", dir.path(), "import", adi}); // again: a duplicate
        QCOMPARE(r.code, 1);
        const QString out = work.path() + "out.adx";
        r = run({"--data", dir.path(), "export", out});
        QCOMPARE(r.code, 0);
        QFile x(out);
        QVERIFY(x.open(QIODevice::ReadOnly));
        const QByteArray xml = x.readAll();
        QCOMPARE(xml.count("<RECORD>"), 1);
        QVERIFY(xml.contains("<CALL>UA3AAA</CALL>"));
        QCOMPARE(run({"--data", dir.path(), "import", work.path() + "missing.adi"}).code, 2);
    }

    // A disk that fills while the import is written: every file is put back
    // as it was, and the command says so.
    void failedWriteLeavesTheFolderAsItWas() {
        TempDataDir dir, work;
        const QString small = work.path() + "small.adi";
        QFile f(small);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("<EOH><CALL:6>UA3AAA<QSO_DATE:8>20240105<TIME_ON:4>1230<EOR>");
        f.close();
        QCOMPARE(run({"--data", dir.path(), "import", small}).code, 0);
        QMap<QString, QByteArray> before;
        for (const QString& name : QDir(dir.path()).entryList(QDir::Files | QDir::Hidden))
            before[name] = testutil::readBytes(dir.path() + name);
        const QString big = work.path() + "big.adi";
        QFile b(big);
        QVERIFY(b.open(QIODevice::WriteOnly));
        b.write("<EOH>");
        for (int i = 0; i < 3000; ++i)
            b.write(
                QStringLiteral("<CALL:6>RA%1<QSO_DATE:8>20240106<TIME_ON:6>%2<NOTES:200>%3<EOR>\n")
                    .arg(1000 + i)
                    .arg(100000 + i % 5959)
                    .arg(QString(200, QChar('x')))
                    .toLatin1());
        b.close();
        Run r;
        {
            testutil::FileSizeLimit full(256 * 1024); // inherited by the command
            r = run({"--data", dir.path(), "import", big});
        }
        QCOMPARE(r.code, 2);
        QVERIFY2(r.err.contains("the data folder is as it was") ||
                     r.err.contains("папка данных осталась прежней"),
                 qPrintable(r.err));
        // the summary says what reached the disk: nothing
        QVERIFY2(r.out.contains("QSOs imported: 0") || r.out.contains("Загружено связей: 0"),
                 qPrintable(r.out));
        QMap<QString, QByteArray> after;
        for (const QString& name : QDir(dir.path()).entryList(QDir::Files | QDir::Hidden))
            after[name] = testutil::readBytes(dir.path() + name);
        QCOMPARE(after.keys(), before.keys());
        QVERIFY(after == before);
    }

    // What is not a regular file is neither read nor written over; a target
    // that takes no bytes is a failure, never "exported".
    void onlyRegularFilesAndCheckedWrites() {
        TempDataDir dir, work;
        const QString fifo = work.path() + "fifo";
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QString empty = work.path() + "empty";
        QVERIFY(QDir().mkpath(empty));
        struct Case {
            QStringList args;
            int code;
        };
        const Case cases[] = {
            {{"--data", "", "export", "-"}, 2},           // would be the current folder
            {{"import", "/dev/zero"}, 2},                 // a device, read for ever
            {{"import", fifo}, 2},                        // a pipe nobody writes
            {{"import", empty}, 2},                       // a folder
            {{"import", "--encoding", "koi8", empty}, 2}, // no such choice
            {{"export", fifo}, 2},                        // not written over
        };
        for (const Case& c : cases) {
            QStringList args = c.args;
            if (!args.contains("--data")) args = QStringList{"--data", dir.path()} + args;
            const Run r = run(args);
            QVERIFY2(r.code == c.code, qPrintable(args.join(' ') + ": " + r.err));
        }
        struct stat st {};
        QVERIFY(::stat(QFile::encodeName(fifo).constData(), &st) == 0 && S_ISFIFO(st.st_mode));
        QCOMPARE(QDir(work.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList{"fifo"}); // no temporary file left either
        QCOMPARE(QDir::current().entryList({"*.db"}), QStringList());

        const Run full = run({"--data", dir.path(), "export", "-"},
                             [](QProcess& p) { p.setStandardOutputFile("/dev/full"); });
        QCOMPARE(full.code, 2);
        QVERIFY2(full.err.contains("Nothing was exported") ||
                     full.err.contains("Ничего не выгружено"),
                 qPrintable(full.err));
        // a reader that went away: the standard output is a pipe nobody reads
        const Run gone = run({"--data", dir.path(), "export", "-"}, [](QProcess& p) {
            p.setChildProcessModifier([] {
                int ends[2];
                if (::pipe(ends) != 0) ::_exit(99);
                ::dup2(ends[1], STDOUT_FILENO);
                ::close(ends[0]);
                ::close(ends[1]);
            });
        });
        QVERIFY2(gone.code == 2, qPrintable(gone.err));
        // the file in place, but its folder's sync failed: said so, not
        // reported as a file that was not written
        const QString out = work.path() + "out.adi";
        const Run unsynced = run({"--data", dir.path(), "export", out}, [](QProcess& p) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("LD_PRELOAD", QARDEL_FAIL_FOLDER_SYNC);
            env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
            p.setProcessEnvironment(env);
        });
        QCOMPARE(unsynced.code, 2);
        QVERIFY2(unsynced.err.contains("could not be synced") ||
                     unsynced.err.contains("не удалось сбросить на диск"),
                 qPrintable(unsynced.err));
        QVERIFY(QFileInfo(out).size() > 0);
    }

    // An import a crash interrupted is finished when it was committed and
    // undone when it was not, by whoever opens the folder next, who says so.
    void anInterruptedImportIsFinishedOrUndone() {
        TempDataDir done, dir, work;
        const QString adi = work.path() + "in.adi";
        QVERIFY(testutil::writeBytes(
            adi, "<EOH><CALL:6>UA3AAA<QSO_DATE:8>20240105<TIME_ON:4>1230<NAME:4>Oleg<EOR>"));
        QCOMPARE(run({"--data", done.path(), "import", adi}).code, 0);
        const QString stage = dir.path() + ".import/";
        for (bool committed : {false, true}) {
            QVERIFY(QDir().mkpath(stage));
            for (const char* f : {"Main.db", "Cors.db", "Names.db"})
                QVERIFY(QFile::copy(done.path() + f, stage + f));
            if (committed) QVERIFY(testutil::writeBytes(stage + "COMMITTED", {}));
            const Run r = run({"--data", dir.path(), "export", "-"});
            QCOMPARE(r.code, 0);
            QVERIFY2(r.err.contains(committed ? "now complete" : "undone") ||
                         r.err.contains(committed ? "теперь она завершена" : "она отменена"),
                     qPrintable(r.err));
            QCOMPARE(r.out.count("<CALL:6>UA3AAA"), committed ? 1 : 0);
            QVERIFY(!QFileInfo::exists(stage));
        }
        // told in the summary: the encodings, field by field
        QVERIFY(testutil::writeBytes(
            adi,
            "<EOH><CALL:6>UA3BBB<QSO_DATE:8>20240105<TIME_ON:4>1230<NAME:4>\xC8\xE2\xE0\xED<EOR>"));
        const Run r = run({"--data", dir.path(), "import", adi});
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.contains("Windows-1251 (1 fields)") ||
                     r.out.contains("Windows-1251 (полей: 1)"),
                 qPrintable(r.out));
    }
};

QTEST_GUILESS_MAIN(TestQardelAdif)
#include "cli_qardel_adif.moc"
