// Kills a process that is saving the log, hundreds of times at random
// moments (inside writes, between a full rewrite's temporary file and its
// rename), and checks after each kill that every file opens and holds every
// change whose save had returned.
#include "TableFile.h"
#include "uDM.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <map>
#include <sys/time.h>

using namespace qardel;

namespace {

int g_op = 0;

void rewriteHook(const char* point) {
    // tells the parent that a full rewrite sits between its temporary file
    // and the rename, and lingers there so a kill can land
    if (QByteArray(point) == "before-rename") {
        printf("rename %d\n", g_op);
        fflush(stdout);
        QThread::msleep(15);
    }
}

void touch(const QString& path) {
    // another mtime makes the next write a full rewrite
    struct timeval tv[2];
    gettimeofday(&tv[0], nullptr);
    tv[0].tv_sec -= 1000;
    tv[1] = tv[0];
    utimes(QFile::encodeName(path).constData(), tv);
}

// The child: endless saves of the kinds the program makes, each announced
// before it starts ("begin") and acknowledged once SaveAll returned ("ok").
int runChild(const QString& dir, quint32 seed) {
    QRandomGenerator rng(seed);
    TableFile::faultHook = rewriteHook;
    TDM dm;
    dm.DataDir = dir;
    dm.OpenTables();
    Table& log = *dm.dsMain;
    Table& cors = *dm.dsCors;
    if (cors.isEmpty()) {
        cors.append();
        cors.fieldByName("CallName").setAsString("UA3AAA");
        cors.post();
        dm.SaveAll();
    }
    const int corId = cors.fieldByName("ID").asInteger();
    for (g_op = 1;; ++g_op) {
        int kind = int(rng.bounded(10));
        if (kind < 5 && log.recordCount() > 300) kind = 7; // keeps the log small and quick to check
        if (rng.bounded(4) == 0) touch(dir + "Main.db");
        if (kind < 5 || log.isEmpty()) {
            // a new QSO
            const QString notice = QStringLiteral("qso %1-%2 Ж").arg(seed).arg(g_op);
            printf("begin append %d %s\n", log.isEmpty() ? 0 : 0, qPrintable(notice));
            fflush(stdout);
            log.append();
            log.fieldByName("CorID").setAsInteger(corId);
            log.fieldByName("Notice").setAsString(notice);
            log.fieldByName("CorPower").setAsFloat(0.1 * g_op);
            log.post();
            printf("id %d\n", log.fieldByName("ID").asInteger());
        } else if (kind < 7) {
            // a correction of a random QSO
            log.moveTo(int(rng.bounded(log.recordCount())));
            const int id = log.fieldByName("ID").asInteger();
            const QString notice = QStringLiteral("fixed %1-%2").arg(seed).arg(g_op);
            printf("begin edit %d %s\n", id, qPrintable(notice));
            fflush(stdout);
            log.edit();
            log.fieldByName("Notice").setAsString(notice);
            log.post();
        } else if (kind < 9) {
            log.moveTo(int(rng.bounded(log.recordCount())));
            const int id = log.fieldByName("ID").asInteger();
            printf("begin delete %d x\n", id);
            fflush(stdout);
            log.deleteRecord();
        } else {
            // an editor change: a city added
            const QString city = QStringLiteral("Город %1-%2").arg(seed).arg(g_op);
            printf("begin city 0 %s\n", qPrintable(city));
            fflush(stdout);
            dm.dsCityes->append();
            dm.dsCityes->fieldByName("Name").setAsString(city);
            dm.dsCityes->post();
        }
        dm.SaveAll();
        printf("ok %d\n", g_op);
        fflush(stdout);
    }
}

struct Op {
    QString kind;
    int id = 0;
    QString text;
};

} // namespace

class TestCrash : public QObject {
    Q_OBJECT
  private slots:
    void killsLoseNothingThatWasSaved() {
        QTemporaryDir tmp;
        const QString dir = tmp.path() + "/";
        std::map<int, QString> model; // the log as the acknowledged saves left it
        QSet<QString> cities;
        QElapsedTimer clock;
        clock.start();
        int kills = 0, renameKills = 0, acked = 0;
        QRandomGenerator rng(20261208);
        while (kills < 200 || clock.elapsed() < 5000) {
            if (clock.elapsed() > 240000) break;
            QProcess child;
            child.setProgram(QCoreApplication::applicationFilePath());
            child.setArguments({"--child", dir, QString::number(rng.generate())});
            child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            child.start();
            QVERIFY(child.waitForStarted());
            const bool atRename = rng.bounded(4) == 0;
            const int delayMs = int(rng.bounded(60));
            QElapsedTimer t;
            t.start();
            Op inflight;
            bool haveInflight = false;
            QByteArray buf;
            bool killed = false;
            while (!killed) {
                child.waitForReadyRead(5);
                buf += child.readAllStandardOutput();
                int nl;
                while ((nl = buf.indexOf('\n')) >= 0) {
                    const QString line = QString::fromUtf8(buf.left(nl));
                    buf.remove(0, nl + 1);
                    const QStringList parts = line.split(' ');
                    if (parts[0] == "begin") {
                        inflight = {parts[1], parts[2].toInt(), parts.mid(3).join(' ')};
                        haveInflight = true;
                    } else if (parts[0] == "id") {
                        inflight.id = parts[1].toInt();
                    } else if (parts[0] == "ok" && haveInflight) {
                        // the save returned: it is in the model for good
                        if (inflight.kind == "append" || inflight.kind == "edit")
                            model[inflight.id] = inflight.text;
                        else if (inflight.kind == "delete")
                            model.erase(inflight.id);
                        else
                            cities.insert(inflight.text);
                        haveInflight = false;
                        ++acked;
                    } else if (parts[0] == "rename" && atRename) {
                        child.kill();
                        killed = true;
                        ++renameKills;
                        break;
                    }
                }
                if (!killed && !atRename && t.elapsed() >= delayMs) {
                    child.kill();
                    killed = true;
                }
                if (!killed && t.elapsed() > 2000) {
                    child.kill();
                    killed = true;
                }
            }
            child.waitForFinished();
            ++kills;

            // every file opens, and holds the model, give or take the one
            // save that was under way
            TDM dm;
            dm.DataDir = dir;
            try {
                dm.OpenTables();
            } catch (const DbError& e) {
                QFAIL(qPrintable(QString("after kill %1: %2").arg(kills).arg(e.message())));
            }
            std::map<int, QString> actual;
            Table& log = *dm.dsMain;
            for (log.first(); !log.eof(); log.next())
                actual[log.fieldByName("ID").asInteger()] = log.fieldByName("Notice").asString();
            QSet<QString> actualCities;
            for (dm.dsCityes->first(); !dm.dsCityes->eof(); dm.dsCityes->next())
                actualCities.insert(dm.dsCityes->fieldByName("Name").asString());
            std::map<int, QString> after = model;
            if (haveInflight) {
                if (inflight.kind == "append" || inflight.kind == "edit")
                    after[inflight.id] = inflight.text;
                else if (inflight.kind == "delete")
                    after.erase(inflight.id);
            }
            const bool logOk = actual == model || (haveInflight && actual == after) ||
                               (haveInflight && inflight.kind == "append" && inflight.id == 0 &&
                                actual.size() == model.size() + 1);
            if (!logOk) {
                QString d;
                for (const auto& [id, n] : model)
                    if (!actual.count(id) || actual[id] != n)
                        d += QString(" lost %1:%2").arg(id).arg(n);
                QFAIL(qPrintable(QString("after kill %1 (%2 %3):%4")
                                     .arg(kills)
                                     .arg(inflight.kind)
                                     .arg(inflight.id)
                                     .arg(d)));
            }
            for (const QString& c : cities)
                QVERIFY2(actualCities.contains(c), qPrintable(c));
            // what is on disk now is where the next run starts
            model = actual;
            cities = actualCities;
            dm.AbandonTables();
            // no leftover temporary file stays around for long: the next
            // full write replaces it
        }
        qInfo("%d kills (%d between a temporary file and its rename), %d saves acknowledged, "
              "%zu QSOs in the log",
              kills, renameKills, acked, model.size());
        QVERIFY(kills >= 200);
        QVERIFY(renameKills > 0);
        QVERIFY(acked > 0);
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc >= 4 && QByteArray(argv[1]) == "--child")
        return runChild(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toUInt());
    TestCrash t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_crash.moc"
