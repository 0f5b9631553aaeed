// Kills a process that is saving the log, hundreds of times at random
// moments (inside writes, between a full rewrite's temporary file and its
// rename, between two table writes of one save), and checks after each kill
// that every file opens and that the whole log, read through its lookups,
// is what the acknowledged saves made of it, give or take the one save under
// way.
#include "data/DataFolder.h"
#include "data/DataTestUtil.h"
#include "data/Fields.h"
#include "data/ImportStage.h"
#include "data/TableFile.h"
#include "data/uDM.h"

#include <QCoreApplication>
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

// The lists a save looks up or adds to, with their text fields, in the order
// of the model's parts below.
constexpr int kLists = 4;
const char* const kListField[kLists] = {"Value", "Name", "Name", "Value"};
Table* listTable(TDM& dm, int i) {
    Table* const t[kLists] = {dm.dsNames, dm.dsCityes, dm.dsCountryes, dm.dsRS};
    return t[i];
}

// ---------------------------------------------------------------- the child

void childHook(const char* point) {
    // tells the parent where a write stands and lingers there, so a kill
    // can land at that moment
    const QByteArray p(point);
    if (p == "before-rename" || p == "written") {
        printf("%s\n", p == "written" ? "wrote" : "rename");
        fflush(stdout);
        QThread::msleep(p == "written" ? 3 : 10);
    }
}

void touch(const QString& path) {
    // another mtime makes the next write of that table a full rewrite
    struct timeval tv[2];
    gettimeofday(&tv[0], nullptr);
    tv[0].tv_sec -= 1000;
    tv[1] = tv[0];
    utimes(QFile::encodeName(path).constData(), tv);
}

void say(const QStringList& words) {
    printf("%s\n", words.join(QLatin1Char('\t')).toUtf8().constData());
    fflush(stdout);
}

// Endless saves of the kinds the program makes, through the data module's
// save functions the entry panel uses, each announced before it starts
// ("begin ...") and acknowledged once SaveAll returned ("ok").
int runChild(const QString& dir, quint32 seed) {
    QRandomGenerator rng(seed);
    TableFile::faultHook = childHook;
    TDM dm;
    dm.DataDir = dir;
    dm.OpenTables();
    Table& log = *dm.dsMain;
    static const QStringList names = {"Иван", "Олег", "Пётр", "Анна", "Юрий", "Лев", "Ян", "Фёдор"};
    static const QStringList cities = {"Тверь", "Омск", "Кострома", "Пермь", "Тула", "Орёл"};
    static const QStringList countries = {"Россия", "Беларусь", "Казахстан", "Армения"};
    static const QStringList reports = {"59", "57", "55", "599", "58"};
    auto pick = [&](const QStringList& pool, const char* fresh, int op) {
        const quint32 r = rng.bounded(100);
        if (r < 5) return QString(); // left empty
        if (r < 20)
            return QStringLiteral("%1%2-%3").arg(QString::fromUtf8(fresh)).arg(seed).arg(op);
        return pool[int(rng.bounded(pool.size()))];
    };
    try {
        for (int op = 1;; ++op) {
            if (rng.bounded(3) == 0)
                touch(dir + QStringList{"Main.db", "Cors.db", "Names.db",
                                        "City.db"}[int(rng.bounded(4))]);
            int kind = int(rng.bounded(10));
            if (kind < 6 && log.recordCount() > 150) kind = 6; // keeps the log quick to check
            if (kind >= 6 && kind < 8 && log.isEmpty()) kind = 0;
            if (kind < 6) {
                // a QSO saved from the entry panel: new, or a correction
                const bool correcting = !log.isEmpty() && rng.bounded(4) == 0;
                QString target = QStringLiteral("-");
                if (correcting) {
                    log.moveTo(int(rng.bounded(log.recordCount())));
                    target = log.fieldByName(fld::Notice).asString();
                }
                const QString token = QStringLiteral("q%1-%2").arg(seed).arg(op);
                const int call = int(rng.bounded(60));
                const QString callSign = call < 50 ? QStringLiteral("RA%1").arg(call)
                                                   : QStringLiteral("Z%1").arg(rng.bounded(100000));
                const QStringList values = {pick(names, "Имя", op), pick(cities, "Город", op),
                                            pick(countries, "Страна", op), pick(reports, "5", op),
                                            pick(reports, "4", op)};
                const bool yes = rng.bounded(2) == 0;
                say(QStringList{"begin", "save", target, token, callSign} << values
                                                                          << (yes ? "yes" : "no"));
                const CorProps props{dm.FindOrAddValue(*dm.dsNames, "Value", values[0]),
                                     dm.FindOrAddValue(*dm.dsCityes, "Name", values[1]),
                                     dm.FindOrAddValue(*dm.dsCountryes, "Name", values[2])};
                if (dm.FindOrAddCorrespondent(callSign, props) && yes)
                    dm.SetCorrespondentProps(props);
                LogRowValues row;
                row.corId = dm.dsCors->fieldByName(fld::ID).asInteger();
                row.corRsId = dm.FindOrAddValue(*dm.dsRS, "Value", values[3]);
                row.myRsId = dm.FindOrAddValue(*dm.dsRS, "Value", values[4]);
                row.city = values[1];
                row.country = values[2];
                row.notice = correcting ? QString() : token; // the QSO keeps its token
                dm.PostLogRow(correcting, row);
            } else if (kind < 8) {
                log.moveTo(int(rng.bounded(log.recordCount())));
                say({"begin", "delete", log.fieldByName(fld::Notice).asString()});
                log.deleteRecord();
            } else {
                // the editor: a list row added, or one deleted that others may refer to
                const int list = int(rng.bounded(kLists));
                Table& t = *listTable(dm, list);
                Field& text = t.fieldByName(QLatin1String(kListField[list]));
                if (kind == 8 || t.isEmpty()) {
                    const QString v = QStringLiteral("Н%1-%2").arg(seed).arg(op);
                    say({"begin", "add", QString::number(list), v});
                    t.append();
                    text.setAsString(v);
                    t.post();
                } else {
                    t.moveTo(int(rng.bounded(t.recordCount())));
                    say({"begin", "remove", QString::number(list), text.asString()});
                    t.deleteRecord();
                }
            }
            int writes = 0;
            for (Table* t : dm.saveOrder())
                writes += dm.IsModified(*t) || !QFileInfo::exists(t->filePath);
            say({"saving", QString::number(writes)});
            dm.SaveAll();
            say({"ok"});
        }
    } catch (const DbError& e) {
        fprintf(stderr, "child failed: %s\n", e.what());
        return 3;
    }
}

// ---------------------------------------------------------------- the model

// The database as the acknowledged saves made it. Rows have handles of the
// model's own, so a reference to a deleted row finds nothing, as on disk.
struct Model {
    struct Cor {
        QString call;
        int name = 0, city = 0, country = 0;
        bool operator==(const Cor&) const = default;
    };
    struct Qso {
        int cor = 0;
        QString city, country;
        int corRs = 0, myRs = 0;
    };
    std::map<int, QString> lists[kLists];
    std::map<int, Cor> cors;
    std::map<QString, Qso> log; // by the QSO's notice
    static inline int nextHandle = 1;

    // Positions in the order the tables are written.
    static constexpr int kListPos[kLists] = {0, 1, 2, 3}, kCorsPos = 6, kLogPos = 7;

    int findOrAdd(int list, const QString& text) {
        if (text.isEmpty()) return 0;
        for (const auto& [h, t] : lists[list])
            if (t.compare(text, Qt::CaseInsensitive) == 0) return h;
        lists[list][nextHandle] = text;
        return nextHandle++;
    }

    // Applies one operation as the child announced it.
    void apply(const QStringList& w) {
        if (w[1] == "save") {
            const Cor props{w[4], findOrAdd(0, w[5]), findOrAdd(1, w[6]), findOrAdd(2, w[7])};
            auto cor = std::find_if(cors.begin(), cors.end(), [&](const auto& c) {
                return c.second.call.compare(w[4], Qt::CaseInsensitive) == 0;
            });
            if (cor == cors.end())
                cor = cors.emplace(nextHandle++, props).first;
            else if (w[10] == "yes")
                cor->second = Cor{cor->second.call, props.name, props.city, props.country};
            const int corRs = findOrAdd(3, w[8]), myRs = findOrAdd(3, w[9]);
            Qso& q = log[w[2] == "-" ? w[3] : w[2]];
            q.cor = cor->first;
            q.city = w[6];
            q.country = w[7];
            if (corRs) q.corRs = corRs;
            if (myRs) q.myRs = myRs;
        } else if (w[1] == "delete") {
            log.erase(w[2]);
        } else if (w[1] == "add") {
            lists[w[2].toInt()][nextHandle++] = w[3];
        } else if (w[1] == "remove") {
            auto& l = lists[w[2].toInt()];
            for (auto it = l.begin(); it != l.end(); ++it)
                if (it->second == w[3]) {
                    l.erase(it);
                    break;
                }
        }
    }

    // The files after a crash that wrote the first `written` tables of a
    // save: each table is written whole or not at all.
    static Model cut(const Model& before, const Model& after, int written) {
        Model m = before;
        for (int i = 0; i < kLists; ++i)
            if (kListPos[i] < written) m.lists[i] = after.lists[i];
        if (kCorsPos < written) m.cors = after.cors;
        if (kLogPos < written) m.log = after.log;
        return m;
    }

    QString text(int list, int h) const {
        auto it = lists[list].find(h);
        return it == lists[list].end() ? QString() : it->second;
    }

    // What the program shows of it, in the order a dump of the files gives.
    QStringList view() const {
        QStringList out;
        for (int i = 0; i < kLists; ++i)
            for (const auto& [h, t] : lists[i])
                out << QStringLiteral("L%1 %2").arg(i).arg(t);
        for (const auto& [h, c] : cors)
            out << QStringLiteral("C %1|%2|%3|%4")
                       .arg(c.call, text(0, c.name), text(1, c.city), text(2, c.country));
        for (const auto& [notice, q] : log) {
            auto c = cors.find(q.cor);
            const bool has = c != cors.end();
            out << QStringLiteral("Q %1|%2|%3|%4|%5|%6|%7")
                       .arg(notice, has ? c->second.call : QString(),
                            has ? text(0, c->second.name) : QString(), q.city.left(25),
                            q.country.left(25), text(3, q.corRs).left(10),
                            text(3, q.myRs).left(10));
        }
        out.sort();
        return out;
    }
};

// The same view of the files, read through the program's lookup fields.
QStringList viewOfFiles(TDM& dm) {
    QStringList out;
    auto each = [](Table& t, const std::function<void()>& f) {
        for (t.first(); !t.eof(); t.next())
            f();
    };
    auto s = [](Table& t, const char* f) { return t.fieldByName(QLatin1String(f)).asString(); };
    for (int i = 0; i < kLists; ++i) {
        Table& t = *listTable(dm, i);
        each(t, [&] { out << QStringLiteral("L%1 %2").arg(i).arg(s(t, kListField[i])); });
    }
    Table& c = *dm.dsCors;
    each(c, [&] {
        out << QStringLiteral("C %1|%2|%3|%4")
                   .arg(s(c, "CallName"), s(c, "Name"), s(c, "City"), s(c, "Country"));
    });
    Table& m = *dm.dsMain;
    each(m, [&] {
        out << QStringLiteral("Q %1|%2|%3|%4|%5|%6|%7")
                   .arg(s(m, "Notice"), s(m, "CorCallName"), s(m, "CorName"), s(m, "CorCity"),
                        s(m, "CorCountry"), s(m, "CorRS"), s(m, "MyRS"));
    });
    out.sort();
    return out;
}

QString firstDifference(const QStringList& a, const QStringList& b) {
    for (int i = 0; i < std::max(a.size(), b.size()); ++i) {
        const QString x = i < a.size() ? a[i] : QStringLiteral("(none)");
        const QString y = i < b.size() ? b[i] : QStringLiteral("(none)");
        if (x != y) return QStringLiteral("files: %1, expected: %2").arg(x, y);
    }
    return {};
}

} // namespace

class TestCrash : public QObject {
    Q_OBJECT
  private slots:
    void killsLoseNothingAndBreakNoReference() {
        QTemporaryDir tmp;
        const QString dir = tmp.path() + "/";
        Model model;
        QElapsedTimer clock;
        clock.start();
        int kills = 0, renameKills = 0, betweenKills = 0, acked = 0;
        QRandomGenerator rng(20261208);
        while (kills < 240) {
            QVERIFY2(clock.elapsed() < 600000, "the kills take too long");
            QProcess child;
            child.setProgram(QCoreApplication::applicationFilePath());
            child.setArguments({"--child", dir, QString::number(rng.generate())});
            child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            child.start();
            QVERIFY(child.waitForStarted());
            // where this kill aims: after a random delay, between a temporary
            // file and its rename, or after the n-th table write of a save
            const int aim = int(rng.bounded(3));
            const int delayMs = int(rng.bounded(80));
            const int atWrite = 1 + int(rng.bounded(2));

            QStringList inflight; // the save under way, as announced
            Model after;          // the model once it is done
            int wrote = 0, writes = 0;
            bool killed = false;
            QByteArray buf;
            auto takeLines = [&] {
                buf += child.readAllStandardOutput();
                int nl;
                while ((nl = buf.indexOf('\n')) >= 0) {
                    const QStringList w = QString::fromUtf8(buf.left(nl)).split('\t');
                    buf.remove(0, nl + 1);
                    if (w[0] == "begin") {
                        inflight = w;
                        after = model;
                        after.apply(w);
                        wrote = writes = 0;
                    } else if (w[0] == "saving") {
                        writes = w[1].toInt();
                    } else if (w[0] == "wrote") {
                        ++wrote;
                        if (aim == 2 && wrote == atWrite && !killed) child.kill(), killed = true;
                    } else if (w[0] == "rename") {
                        if (aim == 1 && !killed) child.kill(), killed = true;
                    } else if (w[0] == "ok" && !inflight.isEmpty()) {
                        // the save returned: it is in the model for good
                        model = after;
                        inflight.clear();
                        ++acked;
                    }
                }
            };
            QElapsedTimer t;
            t.start();
            while (!killed) {
                child.waitForReadyRead(5);
                takeLines();
                if (killed) break;
                QVERIFY2(child.state() == QProcess::Running, "the child ended by itself");
                if (((aim == 0 && t.elapsed() >= delayMs) || t.elapsed() > 3000))
                    child.kill(), killed = true;
            }
            child.waitForFinished();
            takeLines(); // everything it printed before it died
            ++kills;
            if (!inflight.isEmpty() && wrote > 0 && wrote < writes) ++betweenKills;
            renameKills += aim == 1;

            // every file opens and shows the model, or the model with the
            // save under way written up to one of its tables
            TDM dm;
            dm.DataDir = dir;
            try {
                dm.OpenTables();
            } catch (const DbError& e) {
                QFAIL(qPrintable(QString("after kill %1: %2").arg(kills).arg(e.message())));
            }
            const QStringList actual = viewOfFiles(dm);
            bool matched = false;
            for (int written = 0; written <= (inflight.isEmpty() ? 0 : 9) && !matched; ++written) {
                const Model m = inflight.isEmpty() ? model : Model::cut(model, after, written);
                if (m.view() == actual) {
                    model = m; // what is on disk now is where the next run starts
                    matched = true;
                }
            }
            QVERIFY2(matched, qPrintable(QString("after kill %1 (%2): %3")
                                             .arg(kills)
                                             .arg(inflight.join(' '))
                                             .arg(firstDifference(actual, model.view()))));
            dm.AbandonTables();
        }
        qInfo("%d kills (%d between two table writes of one save, %d between a temporary file "
              "and its rename), %d saves acknowledged, %zu QSOs in the log",
              kills, betweenKills, renameKills, acked, model.log.size());
        QVERIFY(betweenKills > 0);
        QVERIFY(acked > 0);
    }

    // qardel-adif killed at random moments of an import, half of them once it
    // writes: the folder, opened again, holds the log as before the import or
    // as after it, and no stage is left. QARDEL_CRASH_IMPORT_QSOS and
    // QARDEL_CRASH_IMPORT_KILLS set the size and the number of kills.
    void killedImportsLeaveTheLogBeforeOrAfter() {
        const int qsos = qEnvironmentVariableIntValue("QARDEL_CRASH_IMPORT_QSOS") > 0
                             ? qEnvironmentVariableIntValue("QARDEL_CRASH_IMPORT_QSOS")
                             : 3000;
        const int kills = qEnvironmentVariableIntValue("QARDEL_CRASH_IMPORT_KILLS") > 0
                              ? qEnvironmentVariableIntValue("QARDEL_CRASH_IMPORT_KILLS")
                              : 12;
        QTemporaryDir tmp;
        const QString base = tmp.path() + "/base/", work = tmp.path() + "/work/",
                      file = tmp.path() + "/in.adi";
        auto adi = [](int from, int count) {
            QByteArray b = "<EOH>\n";
            for (int i = from; i < from + count; ++i) {
                const QByteArray call = "UA" + QByteArray::number(100000 + i);
                const QByteArray name = QStringLiteral("Имя%1").arg(i % 997).toUtf8();
                const QByteArray city = QStringLiteral("Город%1").arg(i % 1499).toUtf8();
                b += "<CALL:" + QByteArray::number(call.size()) + ">" + call + "<QSO_DATE:8>2024" +
                     QByteArray::number(1001 + i % 28 + (i / 28 % 2) * 100) + "<TIME_ON:4>" +
                     QByteArray::number(1000 + i % 50) + "<BAND:3>20m<MODE:3>FT8" +
                     "<NAME:" + QByteArray::number(name.size()) + ">" + name +
                     "<QTH:" + QByteArray::number(city.size()) + ">" + city + "<RST_SENT:3>-" +
                     QByteArray::number(10 + i % 13) + "<EOR>\n";
            }
            return b;
        };
        auto importInto = [&](const QString& dir) {
            QProcess p;
            p.start(QStringLiteral(QARDEL_ADIF), {"--data", dir, "import", file});
            return p.waitForFinished(600000) && p.exitCode() == 0;
        };
        // what a folder holds once it is opened again (which finishes or
        // undoes an interrupted import)
        auto opened = [](const QString& dir) {
            DataFolder folder(dir, true);
            const QString refused = folder.take();
            if (!refused.isEmpty()) return QStringList{refused};
            TDM dm;
            dm.DataDir = dir;
            QStringList all;
            try {
                dm.OpenTables();
                all = testutil::dumpModule(dm);
            } catch (const DbError& e) {
                all = QStringList{e.message()};
            }
            dm.AbandonTables();
            if (QFileInfo::exists(importstage::folder(dir))) all << "a stage is left";
            return all;
        };
        auto copyFolder = [](const QString& from, const QString& to) {
            QDir(to).removeRecursively();
            QDir().mkpath(to);
            for (const QString& f : QDir(from).entryList({"*.db"}, QDir::Files))
                QFile::copy(from + f, to + f);
        };
        QVERIFY(testutil::writeBytes(file, adi(0, 200)));
        QVERIFY(importInto(base));
        QVERIFY(testutil::writeBytes(file, adi(150, qsos))); // 50 of them known already
        const QStringList before = opened(base);
        copyFolder(base, work);
        QElapsedTimer clock;
        clock.start();
        QProcess whole;
        whole.start(QStringLiteral(QARDEL_ADIF), {"--data", work, "import", file});
        qint64 staged = -1;
        while (!whole.waitForFinished(1))
            if (staged < 0 && QFileInfo::exists(importstage::folder(work)))
                staged = clock.elapsed();
        const qint64 total = clock.elapsed();
        QCOMPARE(whole.exitCode(), 0);
        const QStringList after = opened(work);
        QVERIFY(after != before);

        QRandomGenerator rng(20261208);
        int wasBefore = 0, wasAfter = 0, whileWriting = 0;
        for (int k = 0; k < kills; ++k) {
            copyFolder(base, work);
            QProcess p;
            p.start(QStringLiteral(QARDEL_ADIF), {"--data", work, "import", file});
            QVERIFY(p.waitForStarted());
            clock.restart();
            const bool aimAtWrite = k % 2 == 1;
            if (aimAtWrite)
                while (!QFileInfo::exists(importstage::folder(work)) &&
                       p.state() == QProcess::Running && clock.elapsed() < 10 * total + 5000)
                    QThread::usleep(200);
            const qint64 delay = qint64(
                rng.bounded(quint32(aimAtWrite ? std::max<qint64>(total - staged, 1) : total + 1)));
            clock.restart();
            while (p.state() == QProcess::Running && clock.elapsed() < delay)
                p.waitForFinished(1);
            whileWriting += QFileInfo::exists(importstage::folder(work));
            p.kill();
            p.waitForFinished();
            const QStringList seen = opened(work);
            QVERIFY2(seen == before || seen == after,
                     qPrintable(QString("kill %1 after %2 ms: %3")
                                    .arg(k)
                                    .arg(delay)
                                    .arg(testutil::firstDifference(seen, after))));
            ++(seen == before ? wasBefore : wasAfter);
        }
        qInfo("%d kills of a %d-QSO import (%lld ms whole, writing from %lld ms): %d left the log "
              "as before it, %d as after it; %d came while the stage was there",
              kills, qsos, qlonglong(total), qlonglong(staged), wasBefore, wasAfter, whileWriting);
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
