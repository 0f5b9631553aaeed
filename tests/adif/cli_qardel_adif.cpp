// The command as an operator runs it: exit codes, the lock, a dry run that
// writes nothing, and an import written whole.
#include "TestUtil.h"
#include "data/DataFolder.h"
#include "data/DataTestUtil.h"

#include <QProcess>
#include <QtTest>

namespace {

struct Run {
    int code;
    QString out, err;
};

Run run(const QStringList& args) {
    QProcess p;
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
        QVERIFY2(r.err.contains("put back") || r.err.contains("возвращена"), qPrintable(r.err));
        QMap<QString, QByteArray> after;
        for (const QString& name : QDir(dir.path()).entryList(QDir::Files | QDir::Hidden))
            after[name] = testutil::readBytes(dir.path() + name);
        QCOMPARE(after.keys(), before.keys());
        QVERIFY(after == before);
    }
};

QTEST_GUILESS_MAIN(TestQardelAdif)
#include "cli_qardel_adif.moc"
