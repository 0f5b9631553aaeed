// The program as the operator meets it, at 1 000, 100 000 and 1 000 000 QSOs,
// side by side with the floor the disk sets: starting the main window, saving
// one QSO, the completion behind one call-sign keystroke, resetting the entry
// panel after a new city, paging through the log grid, deleting a QSO,
// opening and closing the reference-list editor, and resident memory per QSO.
//
//   bench_ui [--sizes=1000,100000] [--quick] [Google Benchmark options]
//
// QARDEL_BENCH_SIZES does what --sizes does; --quick means 1000,100000.
// The logs come from the generator's cache (QARDEL_BENCH_DIR, default
// <build>/bench-data); every window runs on a scratch copy of its own, so the
// cache is never written. The windows run on Qt's offscreen platform.

#include "BenchUtil.h"
#include "DataGen.h"
#include "data/Fields.h"

#include "data/Backup.h"
#include "data/uDM.h"
#include "ui/common/MessageBox.h"
#include "ui/editor/uEditor.h"
#include "ui/main/uMain.h"

#include <benchmark/benchmark.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScrollBar>
#include <QSet>
#include <QTabWidget>
#include <QTest>
#include <QWindow>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <linux/magic.h>
#include <malloc.h>
#include <map>
#include <memory>
#include <sys/statfs.h>
#include <unistd.h>
#include <vector>

using namespace qardel;
using namespace qardel::bench;

namespace {

void processEvents() {
    QApplication::processEvents(QEventLoop::AllEvents);
}

// Runs the event loop until pred holds, without the sleeps of QTest::qWaitFor,
// so that the time measured is the program's and not the poll interval's.
template <class P> bool spinUntil(P pred, int timeoutMs = 60000) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > timeoutMs) return false;
        QApplication::processEvents(QEventLoop::AllEvents);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

// ---------------------------------------------------------------- the floor

QString fsName(const QString& path) {
    struct statfs s {};
    if (::statfs(QFile::encodeName(path).constData(), &s) != 0) return QStringLiteral("?");
    switch (s.f_type) {
    case EXT4_SUPER_MAGIC:
        return QStringLiteral("ext2/3/4");
    case TMPFS_MAGIC:
        return QStringLiteral("tmpfs");
    case BTRFS_SUPER_MAGIC:
        return QStringLiteral("btrfs");
    case XFS_SUPER_MAGIC:
        return QStringLiteral("xfs");
    case OVERLAYFS_SUPER_MAGIC:
        return QStringLiteral("overlayfs");
    default:
        return QStringLiteral("0x%1").arg(qulonglong(s.f_type), 0, 16);
    }
}

QString cpuModel() {
    QFile f(QStringLiteral("/proc/cpuinfo"));
    if (!f.open(QIODevice::ReadOnly)) return QStringLiteral("?");
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("model name"))
            return QString::fromUtf8(line.mid(line.indexOf(':') + 1)).trimmed();
    return QStringLiteral("?");
}

// ---------------------------------------------------------------- state

QString g_root;                // benchRoot()
QHash<int, QString> g_logDirs; // QSO count -> generated (read-only) log
// The median of a save at the smallest size, to compare the larger ones with.
std::map<std::string, std::pair<int, double>> g_smallest;

// A scratch APPDATA folder whose QARDEL/ holds a copy of a generated log (or
// nothing, for n = 0). APPDATA points at it while it lives.
struct Scratch {
    QString appData, dataDir;
    Scratch(int n, const QString& name) {
        appData = g_root + QStringLiteral("ui-%1-%2").arg(name).arg(n);
        QDir(appData).removeRecursively();
        const QString data = appData + QStringLiteral("/QARDEL");
        if (n > 0) {
            dataDir = copyLog(g_logDirs.value(n), data);
        } else {
            QDir().mkpath(data);
            dataDir = data + QLatin1Char('/');
        }
        qputenv("APPDATA", QFile::encodeName(appData));
    }
    ~Scratch() { QDir(appData).removeRecursively(); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
};

// Today's backup is taken by the first start of the day; taking it here
// makes the starts that follow the everyday ones.
void takeTodaysBackup(const QString& dataDir) {
    makeDailyBackup(dataDir, QDate::currentDate());
}

// The main window started as the program starts it: constructed (which
// opens the tables), shown, active, the caret in the call sign. Throws when
// the window could not start on its data.
std::unique_ptr<TfMain> startWindow() {
    auto w = std::make_unique<TfMain>();
    if (!w->fatalError().isEmpty()) throw DbError(w->fatalError());
    w->show();
    QApplication::setActiveWindow(w.get());
    if (!spinUntil([&] {
            return w->windowHandle() && w->windowHandle()->isExposed() &&
                   QApplication::focusWidget() == w->edCallName;
        }))
        throw DbError(QStringLiteral("the main window did not become ready for typing"));
    processEvents(); // the first paint
    return w;
}

// Counts the paint events of the log grid, to tell how many times an
// operation has the grid repainted.
class PaintCounter : public QObject {
  public:
    int paints = 0;

  protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};
PaintCounter* g_gridPaints = nullptr; // on the current session's grid

// One window on one scratch log, shared by the benchmarks of one group at one
// size and released when another starts.
struct Session {
    int n = 0;
    QString group;
    std::unique_ptr<Scratch> scratch;
    std::unique_ptr<TfMain> w;
    std::unique_ptr<FsyncProbe> probe; // in the data folder itself
    QStringList calls;                 // correspondents' call signs, sorted
    QSet<QString> callSet;
    QStringList noQso; // correspondents added without a QSO
    Rng rng{0x5e551};
    int counter = 0;

    TDM& dm() { return *w->DM; }
    QString newCall() {
        for (;;) {
            const QString c = randomCallSign(rng);
            if (callSet.contains(c)) continue;
            // no stored call may begin with it, or typing it would complete
            // to that one
            auto it = std::lower_bound(calls.cbegin(), calls.cend(), c);
            if (it != calls.cend() && it->startsWith(c)) continue;
            callSet.insert(c);
            calls.insert(it - calls.cbegin(), c);
            return c;
        }
    }
};
std::unique_ptr<Session> g_session;

void endSession() {
    if (!g_session) return;
    g_session->probe.reset();
    g_gridPaints = nullptr;
    if (g_session->w) {
        g_session->w->close();
        g_session->w.reset();
        processEvents();
    }
    g_session.reset(); // removes the scratch folder
    malloc_trim(0);
}

QStringList callsOf(Table& cors) {
    QStringList calls;
    const int fi = cors.fieldIndex(QStringLiteral("CallName"));
    calls.reserve(cors.recordCount());
    for (int pos = 0; pos < cors.recordCount(); ++pos)
        calls << cors.valueAt(pos, fi).toString();
    return calls;
}

// prepare: runs on the scratch data folder before the window starts.
Session& session(int n, const QString& group,
                 const std::function<void(Session&)>& prepare = nullptr) {
    if (g_session && g_session->n == n && g_session->group == group) return *g_session;
    endSession();
    auto s = std::make_unique<Session>();
    s->n = n;
    s->group = group;
    s->scratch = std::make_unique<Scratch>(n, group);
    {
        TDM dm;
        dm.DataDir = s->scratch->dataDir;
        dm.OpenTables();
        s->calls = callsOf(*dm.dsCors);
    }
    std::sort(s->calls.begin(), s->calls.end());
    s->callSet = QSet<QString>(s->calls.cbegin(), s->calls.cend());
    if (prepare) prepare(*s);
    takeTodaysBackup(s->scratch->dataDir);
    s->w = startWindow();
    g_gridPaints = new PaintCounter; // freed with the grid
    g_gridPaints->setParent(s->w->grMain);
    s->w->grMain->viewport()->installEventFilter(g_gridPaints);
    s->probe =
        std::make_unique<FsyncProbe>(s->scratch->dataDir + QStringLiteral("fsync-probe.bin"));
    g_session = std::move(s);
    return *g_session;
}

// A benchmark stops with the engine's message instead of taking the run
// down, and also when the window reported an error of its own.
template <class F> void guarded(benchmark::State& state, F&& body) {
    const int errors = msg::errorCount();
    try {
        body();
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    if (msg::errorCount() != errors)
        state.SkipWithError(("the window reported: " + msg::lastError().toStdString()).c_str());
}

// ---------------------------------------------------------------- benchmarks

void BM_FloorFdatasync(benchmark::State& state) {
    guarded(state,
            [&] { measureFsyncFloor(state, g_root + QStringLiteral("floor-ui/fsync-probe.bin")); });
}

// Constructing the main window (which opens every table and fills the
// lists), showing it, until the caret is in the call sign and the window is
// painted; then closing it (which stores the band and mode and writes).
// firstOfDay: today's backup is not there yet, so the start takes it.
void startupBench(benchmark::State& state, bool firstOfDay) {
    const int n = int(state.range(0));
    guarded(state, [&] {
        endSession();
        Scratch scratch(n, firstOfDay ? QStringLiteral("start-first") : QStringLiteral("start"));
        if (!firstOfDay) takeTodaysBackup(scratch.dataDir);
        Samples start, cpu, close;
        for (auto _ : state) {
            if (firstOfDay) QDir(scratch.dataDir + QStringLiteral("backup")).removeRecursively();
            malloc_trim(0);
            std::unique_ptr<TfMain> w;
            const double c0 = threadCpuSeconds();
            const double t = timed([&] { w = startWindow(); });
            cpu.add(threadCpuSeconds() - c0);
            state.SetIterationTime(t);
            start.add(t);
            if (w->DM->dsMain->recordCount() != n) {
                state.SkipWithError("the log has the wrong number of QSOs");
                break;
            }
            close.add(timed([&] {
                w->close();
                w.reset();
            }));
        }
        setMs(state, "median_ms", start.median());
        setMs(state, "max_ms", start.max());
        setMs(state, "cpu_ms", cpu.median());
        setMs(state, "close_ms", close.median());
    });
}
void BM_Startup(benchmark::State& state) {
    startupBench(state, false);
}
void BM_StartupFirstOfDay(benchmark::State& state) {
    startupBench(state, true);
}

// What a started window holds in memory, measured in a process of its own
// (this program run with --rss-probe) so nothing of the other benchmarks is
// counted: once on the log, once on an empty folder; the difference per QSO.
// Taken right after the start, again (trimmed: with freed heap handed back)
// once a call sign has been completed, and once that QSO has been saved.
struct Rss {
    double rss = 0, trimmed = 0, typed = 0, saved = 0;
    int rows = -1;
};
Rss probeRss(const QString& appData) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("APPDATA"), appData);
    p.setProcessEnvironment(env);
    p.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--rss-probe")});
    if (!p.waitForFinished(600000) || p.exitCode() != 0)
        throw DbError(QStringLiteral("the memory probe failed: %1")
                          .arg(QString::fromLocal8Bit(p.readAllStandardError())));
    Rss r;
    const QStringList parts =
        QString::fromLatin1(p.readAllStandardOutput()).split(QLatin1Char(' '));
    if (parts.size() >= 5) {
        r.rss = parts[0].toDouble();
        r.trimmed = parts[1].toDouble();
        r.typed = parts[2].toDouble();
        r.saved = parts[3].toDouble();
        r.rows = parts[4].toInt();
    }
    return r;
}

int rssProbeMain(int argc, char** argv) {
    QApplication app(argc, argv);
    msg::setTestMode(true);
    try {
        auto w = startWindow();
        const long rss = rssBytes();
        malloc_trim(0);
        const long trimmed = rssBytes();
        // and once the first call sign has been completed
        QTest::keyClicks(w->edCallName, QStringLiteral("UA"));
        processEvents();
        malloc_trim(0);
        const long typed = rssBytes();
        const int rows = w->DM->dsMain->recordCount();
        // and once that QSO has been saved
        w->btnSaveClick();
        processEvents();
        malloc_trim(0);
        const long saved = rssBytes();
        std::printf("%ld %ld %ld %ld %d\n", rss, trimmed, typed, saved, rows);
        std::fflush(stdout);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        std::fflush(stderr);
        std::_Exit(1);
    }
    std::_Exit(0); // the scratch folder goes away; nothing to close
}

void BM_Memory(benchmark::State& state) {
    const int n = int(state.range(0));
    guarded(state, [&] {
        endSession();
        Scratch empty(0, QStringLiteral("memory-empty"));
        Scratch log(n, QStringLiteral("memory"));
        takeTodaysBackup(log.dataDir);
        for (auto _ : state) {
            Rss e, l;
            const double t = timed([&] {
                e = probeRss(empty.appData);
                l = probeRss(log.appData);
            });
            state.SetIterationTime(t);
            if (l.rows != n || e.rows != 0) {
                state.SkipWithError("the memory probe saw the wrong number of QSOs");
                break;
            }
            state.counters["rss_B_per_qso"] = (l.rss - e.rss) / n;
            state.counters["rss_trimmed_B_per_qso"] = (l.trimmed - e.trimmed) / n;
            state.counters["rss_typed_B_per_qso"] = (l.typed - e.typed) / n;
            state.counters["rss_saved_B_per_qso"] = (l.saved - e.saved) / n;
            state.counters["empty_MiB"] = e.rss / (1 << 20);
            state.counters["log_MiB"] = l.rss / (1 << 20);
        }
    });
}

// The counts of rows of every table, to tell which tables a save wrote.
std::vector<int> rowCounts(TDM& dm) {
    std::vector<int> c;
    for (Table* t : dm.tables())
        c.push_back(t->recordCount());
    return c;
}
int tablesGrown(const std::vector<int>& before, const std::vector<int>& after) {
    int k = 0;
    for (size_t i = 0; i < before.size(); ++i)
        k += after[i] != before[i];
    return k;
}
bool anyUnsaved(TDM& dm) {
    for (Table* t : dm.tables())
        if (dm.IsModified(*t)) return true;
    return false;
}

// An operation of the window timed twice: the handler alone (the time
// Google Benchmark reports, and the median_ms/max_ms counters), and the
// handler with the repaint it leaves to the event loop (painted_*), which is
// when the operator sees the result.
struct HandlerAndPaint {
    Samples handler, painted;
    int gridPaints = 0, runs = 0;
    template <class F> double time(F&& op) {
        const int paints0 = g_gridPaints ? g_gridPaints->paints : 0;
        double h = 0;
        const double t = timed([&] {
            h = timed(op);
            processEvents();
        });
        handler.add(h);
        painted.add(t);
        gridPaints += (g_gridPaints ? g_gridPaints->paints : 0) - paints0;
        ++runs;
        return h;
    }
    void report(benchmark::State& state) const {
        setMs(state, "median_ms", handler.median());
        setMs(state, "first_ms", handler.v.empty() ? 0 : handler.v.front());
        setMs(state, "p99_ms", handler.quantile(0.99));
        setMs(state, "max_ms", handler.max());
        setMs(state, "painted_median_ms", painted.median());
        setMs(state, "painted_p99_ms", painted.quantile(0.99));
        setMs(state, "painted_max_ms", painted.max());
        state.counters["grid_paints"] = runs > 0 ? double(gridPaints) / runs : 0;
    }
};

// A write against the disk's floor, sampled in the same folder after each
// iteration; and against the same operation on the smallest log of the run.
void reportAgainstFloor(benchmark::State& state, const std::string& key, int n,
                        const HandlerAndPaint& t, const Samples& floor, int tables) {
    t.report(state);
    setMs(state, "floor_ms", floor.median());
    state.counters["tables_written"] = tables;
    const double f = floor.median(), h = t.handler.median(), p = t.painted.median();
    state.counters["x_floor_per_table"] = f > 0 && tables > 0 ? h / f / tables : 0;
    state.counters["painted_x_floor_per_table"] = f > 0 && tables > 0 ? p / f / tables : 0;
    auto it = g_smallest.find(key);
    if (it == g_smallest.end() || it->second.first > n)
        g_smallest[key] = {n, h};
    else if (it->second.first < n && it->second.second > 0)
        state.counters["x_smallest_log"] = h / it->second.second;
}

// Saving one QSO end to end: the call sign typed (the completion fills the
// correspondent), the city confirmed, Save clicked: posts, ClearEntry, SaveAll
// on disk (and, counted apart, the repaint that follows). fresh: a new correspondent with a
// new name, city and report (five tables written); else a known one (the log
// alone is written).
void saveBench(benchmark::State& state, bool fresh) {
    const int n = int(state.range(0));
    const std::string key = fresh ? "SaveNewCorrespondent" : "SaveKnownCorrespondent";
    guarded(state, [&] {
        Session& s = session(n, QString::fromStdString(key));
        TfMain& w = *s.w;
        HandlerAndPaint t;
        Samples floor;
        int tables = 0, questions = 0;
        for (auto _ : state) {
            // typing, untimed
            w.FCompletionMark = 0;
            w.edCallName->setFocus();
            const int k = ++s.counter;
            if (fresh) {
                w.edCallName->setText(s.newCall());
                auto setText = [](QComboBox* b, const QString& text) {
                    b->setCurrentIndex(-1);
                    b->setEditText(text);
                };
                setText(w.cbName, QStringLiteral("Имя%1").arg(k));
                setText(w.cbCity, QStringLiteral("Город%1").arg(k));
                setText(w.cbCorRS, QStringLiteral("RS-%1").arg(k));
                w.cbCountry->setCurrentIndex(int(s.rng.below(uint32_t(w.cbCountry->count()))));
                w.edCorPower->setText(QStringLiteral("100"));
            } else {
                w.edCallName->setText(s.calls[int(s.rng.below(uint32_t(s.calls.size())))]);
                // the operator confirms the city the completion filled in
                const QString city = w.cbCity->currentText();
                w.cbCity->setCurrentIndex(-1);
                w.cbCity->setEditText(city);
                w.cbCorRS->setCurrentIndex(int(s.rng.below(uint32_t(w.cbCorRS->count()))));
            }
            w.cbMyRS->setCurrentIndex(int(s.rng.below(uint32_t(w.cbMyRS->count()))));
            processEvents();

            const int q0 = msg::questionCount();
            const std::vector<int> before = rowCounts(s.dm());
            state.SetIterationTime(t.time([&] { w.btnSaveClick(); }));
            questions += msg::questionCount() - q0;
            tables = std::max(tables, tablesGrown(before, rowCounts(s.dm())));
            if (rowCounts(s.dm())[0] != before[0] + 1 || anyUnsaved(s.dm())) {
                state.SkipWithError("the QSO was not saved");
                break;
            }
            floor.add(s.probe->sample());
        }
        reportAgainstFloor(state, key, n, t, floor, tables);
        state.counters["questions"] = questions;
    });
}
void BM_SaveKnown(benchmark::State& state) {
    saveBench(state, false);
}
void BM_SaveNew(benchmark::State& state) {
    saveBench(state, true);
}

// Correspondents never worked, for the keystroke whose station has no QSO.
void addStationsWithoutQsos(Session& s) {
    TDM dm;
    dm.DataDir = s.scratch->dataDir;
    dm.OpenTables();
    for (int i = 0; i < 64; ++i) {
        dm.dsCors->append();
        dm.dsCors->fieldByName(fld::CallName).setAsString(s.newCall());
        dm.dsCors->post();
    }
    dm.SaveAll();
    dm.CloseTables();
}

enum KeystrokeCase { kKnown = 0, kBusiestPrefix = 1, kNoQso = 2, kKnownWide = 3, kUnknown = 4 };

// One call-sign keystroke: the key goes through the key filter, the call sign
// changes, CompleteCallSign locates the correspondent by prefix, completes the
// call sign in place, fills name, city and country, locates the newest QSO
// with the station (the grid follows, the notice shows) and copies its power;
// then (counted apart) the event loop repaints.
//   kKnown:        the second character of a known call sign
//   kBusiestPrefix the second character of the two-character prefix shared
//                  by most correspondents
//   kNoQso:        the last character of a correspondent with no QSO, whose
//                  QSO search finds nothing
//   kKnownWide:    as kKnown, the window widened so that the call-sign card
//                  beside the panel is painted too
//   kUnknown:      the character that makes a new call (of 3 or more
//                  characters) begin no correspondent's call: no completion,
//                  the card's super check partial searches
void BM_Keystroke(benchmark::State& state) {
    const int n = int(state.range(0));
    const auto kase = KeystrokeCase(state.range(1));
    guarded(state, [&] {
        Session& s = session(n, QStringLiteral("keystroke"), [](Session& fresh) {
            const QSet<QString> known = fresh.callSet;
            addStationsWithoutQsos(fresh);
            for (const QString& c : fresh.calls)
                if (!known.contains(c)) fresh.noQso << c;
        });
        const QStringList& noQso = s.noQso;
        QString busiest;
        {
            QHash<QString, int> by2;
            int most = 0;
            for (const QString& c : s.calls)
                if (++by2[c.left(2)] > most) {
                    most = by2[c.left(2)];
                    busiest = c.left(2);
                }
            if (kase == kBusiestPrefix) {
                state.SetLabel(("'" + busiest + "'").toStdString());
                state.counters["matches"] = most;
            }
        }
        if (kase == kNoQso && noQso.isEmpty()) {
            state.SkipWithError("no correspondent without QSOs");
            return;
        }
        TfMain& w = *s.w;
        const QSize size = w.size();
        if (kase == kKnownWide) w.resize(1200, size.height());
        w.edCallName->setFocus();
        processEvents();
        HandlerAndPaint t;
        int completed = 0;
        for (auto _ : state) {
            QString call;
            switch (kase) {
            case kKnown:
            case kKnownWide:
                call = s.calls[int(s.rng.below(uint32_t(s.calls.size())))];
                break;
            case kUnknown:
                call = s.newCall();
                break;
            case kBusiestPrefix:
                call = busiest;
                break;
            case kNoQso:
                call = noQso[int(s.rng.below(uint32_t(noQso.size())))];
                break;
            }
            int typed = kase == kNoQso ? int(call.size()) - 1 : 1;
            if (kase == kUnknown) {
                // the shortest beginning (3 at least) that no stored call has
                typed = 2;
                for (;; ++typed) {
                    const QString head = call.left(typed + 1);
                    auto it = std::lower_bound(s.calls.cbegin(), s.calls.cend(), head);
                    if (it != s.calls.cend() && *it == call) ++it; // the new call itself
                    if (it == s.calls.cend() || !it->startsWith(head)) break;
                }
            }
            // the characters before, untimed; the mark as for the first call
            // sign of a run, so the keystroke completes the call sign in place
            // (a completion they cause stays selected, as the next key replaces it)
            w.edCallName->setText(call.left(typed));
            w.FCompletionMark = 0;
            processEvents();

            const char key = char(call.at(typed).unicode());
            state.SetIterationTime(t.time([&] { QTest::keyClick(w.edCallName, key); }));
            const QString now = w.edCallName->text();
            if (now.size() > typed + 1) ++completed;
            const bool expected = kase == kNoQso     ? now == call
                                  : kase == kUnknown ? now == call.left(typed + 1)
                                                     : now.startsWith(call.left(typed + 1));
            if (!expected) {
                state.SkipWithError("the keystroke did not give the call sign expected");
                break;
            }
        }
        t.report(state);
        state.counters["completed"] = completed;
        w.ClearEntry();
        if (kase == kKnownWide) w.resize(size);
        processEvents();
    });
}

// ClearEntry right after a save added a city to a city list of 10 000: the
// list is modified, so it is filled again (as are the others that changed).
void BM_ClearEntryAfterNewCity(benchmark::State& state) {
    const int n = int(state.range(0));
    constexpr int kCities = 10000;
    guarded(state, [&] {
        Session& s = session(n, QStringLiteral("clear-entry"), [&](Session& fresh) {
            TDM dm;
            dm.DataDir = fresh.scratch->dataDir;
            dm.OpenTables();
            Table& cities = *dm.dsCityes;
            for (int i = 0; cities.recordCount() < kCities; ++i) {
                cities.append();
                cities.fieldByName(fld::Name).setAsString(QStringLiteral("Пункт-%1").arg(i));
                cities.post();
            }
            dm.SaveAll();
            dm.CloseTables();
        });
        TfMain& w = *s.w;
        HandlerAndPaint added, unchanged;
        for (auto _ : state) {
            const int k = ++s.counter;
            // the post of a save that adds a city, untimed
            s.dm().FindOrAddValue(*s.dm().dsCityes, QStringLiteral("Name"),
                                  QStringLiteral("Новый-%1").arg(k));
            state.SetIterationTime(added.time([&] { w.ClearEntry(); }));
            s.dm().SaveAll();
            // and one with no list changed, for comparison
            unchanged.time([&] { w.ClearEntry(); });
        }
        added.report(state);
        setMs(state, "unchanged_median_ms", unchanged.handler.median());
        state.counters["cities"] = w.cbCity->count();
    });
}

// Paging down the log grid with its scroll bar, each page repainted at once.
// The pages are taken in stretches spread over the whole log (the whole of a
// small log, again and again).
void BM_GridPage(benchmark::State& state) {
    const int n = int(state.range(0));
    guarded(state, [&] {
        Session& s = session(n, QStringLiteral("grid"));
        TfMain& w = *s.w;
        QScrollBar* bar = w.grMain->verticalScrollBar();
        QWidget* vp = w.grMain->viewport();
        const int step = std::max(1, bar->pageStep());
        const int last = bar->maximum();
        const int64_t iterations = state.max_iterations;
        constexpr int kStretch = 250;
        const int stretches = int(std::max<int64_t>(1, (iterations + kStretch - 1) / kStretch));
        const int span = std::max(0, last - kStretch * step);
        Samples t;
        int pageInStretch = 0, stretch = 0;
        for (auto _ : state) {
            if (pageInStretch == 0 || bar->value() >= last) {
                const int start = stretches > 1
                                      ? int(int64_t(span) * (stretch % stretches) / (stretches - 1))
                                      : 0;
                ++stretch;
                pageInStretch = 0;
                bar->setValue(start);
                vp->repaint();
                processEvents();
            }
            const double d = timed([&] {
                bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
                vp->repaint();
            });
            state.SetIterationTime(d);
            t.add(d);
            if (++pageInStretch == kStretch) pageInStretch = 0;
        }
        setMs(state, "median_ms", t.median());
        setMs(state, "p99_ms", t.quantile(0.99));
        setMs(state, "max_ms", t.max());
        state.counters["rows_per_page"] = step;
        state.counters["pages_in_log"] = std::ceil(double(last) / step) + 1;
    });
}

// Deleting the QSO of a grid row: the question answered Yes, the row
// deleted, SaveAll on disk, the record count updated, the grid repainted.
void BM_DeleteQso(benchmark::State& state) {
    const int n = int(state.range(0));
    guarded(state, [&] {
        Session& s = session(n, QStringLiteral("delete"));
        TfMain& w = *s.w;
        QAbstractItemModel* model = w.grMain->model();
        HandlerAndPaint t;
        Samples floor;
        for (auto _ : state) {
            const int rows = model->rowCount();
            w.grMain->setCurrentIndex(model->index(int(s.rng.below(uint32_t(rows))), 1));
            processEvents();
            msg::presetAnswer(msg::Answer::Yes);
            state.SetIterationTime(t.time([&] { w.miDeleteQSOClick(); }));
            if (s.dm().dsMain->recordCount() != rows - 1 || anyUnsaved(s.dm())) {
                state.SkipWithError("the QSO was not deleted");
                break;
            }
            floor.add(s.probe->sample());
        }
        reportAgainstFloor(state, "DeleteQso", n, t, floor, 1);
    });
}

const char* const kEditorTabs[] = {"Bands",     "Modes",   "Names",   "Cities",
                                   "Countries", "Reports", "Settings"};

// Opening the reference-list editor on one tab and closing it: constructed,
// the tab chosen, its grid and fields filled, shown and painted, closed and
// freed.
void BM_Editor(benchmark::State& state) {
    const int n = int(state.range(0));
    const int tab = int(state.range(1));
    guarded(state, [&] {
        Session& s = session(n, QStringLiteral("editor"));
        TfMain& w = *s.w;
        Samples total, open;
        for (auto _ : state) {
            double o = 0;
            const double t = timed([&] {
                TfEditor* ed = nullptr;
                o = timed([&] {
                    ed = new TfEditor(w.DM, &w);
                    ed->setAttribute(Qt::WA_DeleteOnClose);
                    ed->pcType->setCurrentIndex(tab);
                    ed->pcTypeChange();
                    ed->show();
                    if (!spinUntil(
                            [&] { return ed->windowHandle() && ed->windowHandle()->isExposed(); }))
                        throw DbError(QStringLiteral("the editor was not shown"));
                    processEvents();
                });
                ed->close(); // freed on close
                QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
                processEvents();
            });
            state.SetIterationTime(t);
            total.add(t);
            open.add(o);
        }
        state.SetLabel(kEditorTabs[tab]);
        setMs(state, "median_ms", total.median());
        setMs(state, "max_ms", total.max());
        setMs(state, "open_ms", open.median());
    });
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc >= 2 && std::strcmp(argv[1], "--rss-probe") == 0) return rssProbeMain(argc, argv);

    // our own options first; the rest belongs to Google Benchmark
    std::vector<int> sizes;
    if (!initBenchmarks(argc, argv, &sizes)) return 1;

    QApplication app(argc, argv);
    msg::setTestMode(true);
    try {
        g_root = benchRoot();
        QDir().mkpath(g_root + QStringLiteral("floor-ui"));
        for (int n : sizes)
            g_logDirs.insert(n, ensureLog(n));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_ui: %s\n", e.what());
        return 1;
    }
    const QByteArray oldAppData = qgetenv("APPDATA");

    QStringList sizeText;
    for (int n : sizes)
        sizeText << QString::number(n);
    benchmark::AddCustomContext("data_dir", g_root.toStdString());
    benchmark::AddCustomContext("filesystem", fsName(g_root).toStdString());
    benchmark::AddCustomContext("cpu_model", cpuModel().toStdString());
    benchmark::AddCustomContext("nproc", std::to_string(sysconf(_SC_NPROCESSORS_ONLN)));
    benchmark::AddCustomContext("qso_counts", sizeText.join(QLatin1Char(',')).toStdString());
    benchmark::AddCustomContext("qt", qVersion());
    benchmark::AddCustomContext("qpa", QApplication::platformName().toStdString());
    benchmark::AddCustomContext("sqlite", sqlite3_libversion());

    using benchmark::kMillisecond;
    benchmark::RegisterBenchmark("Floor/pwrite4K_fdatasync", BM_FloorFdatasync)
        ->UseManualTime()
        ->Unit(kMillisecond);
    for (int n : sizes) {
        const bool big = n >= 1000000, mid = n >= 100000;
        benchmark::RegisterBenchmark("Startup", BM_Startup)
            ->Arg(n)
            ->Iterations(big   ? 3
                         : mid ? 5
                               : 10)
            ->UseManualTime()
            ->Unit(kMillisecond);
        benchmark::RegisterBenchmark("StartupFirstOfDay", BM_StartupFirstOfDay)
            ->Arg(n)
            ->Iterations(big   ? 2
                         : mid ? 3
                               : 5)
            ->UseManualTime()
            ->Unit(kMillisecond);
        benchmark::RegisterBenchmark("Memory", BM_Memory)
            ->Arg(n)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(kMillisecond);
        benchmark::RegisterBenchmark("SaveKnownCorrespondent", BM_SaveKnown)
            ->Arg(n)
            ->Iterations(30)
            ->UseManualTime()
            ->Unit(kMillisecond);
        benchmark::RegisterBenchmark("SaveNewCorrespondent", BM_SaveNew)
            ->Arg(n)
            ->Iterations(30)
            ->UseManualTime()
            ->Unit(kMillisecond);
        benchmark::RegisterBenchmark("Keystroke/known", BM_Keystroke)
            ->Args({n, kKnown})
            ->Iterations(300)
            ->UseManualTime()
            ->Unit(kMillisecond);
        benchmark::RegisterBenchmark("Keystroke/busiest_prefix", BM_Keystroke)
            ->Args({n, kBusiestPrefix})
            ->Iterations(100)
            ->UseManualTime()
            ->Unit(kMillisecond);
        benchmark::RegisterBenchmark("Keystroke/no_qso", BM_Keystroke)
            ->Args({n, kNoQso})
            ->Iterations(100)
            ->UseManualTime()
            ->Unit(kMillisecond);
        benchmark::RegisterBenchmark("Keystroke/known_card_shown", BM_Keystroke)
            ->Args({n, kKnownWide})
            ->Iterations(300)
            ->UseManualTime()
            ->Unit(kMillisecond);
        benchmark::RegisterBenchmark("Keystroke/unknown_call_scp", BM_Keystroke)
            ->Args({n, kUnknown})
            ->Iterations(100)
            ->UseManualTime()
            ->Unit(kMillisecond);
        benchmark::RegisterBenchmark("ClearEntryAfterNewCity", BM_ClearEntryAfterNewCity)
            ->Arg(n)
            ->Iterations(20)
            ->UseManualTime()
            ->Unit(kMillisecond);
        benchmark::RegisterBenchmark("GridPage", BM_GridPage)
            ->Arg(n)
            ->Iterations(2000)
            ->UseManualTime()
            ->Unit(kMillisecond);
        benchmark::RegisterBenchmark("DeleteQso", BM_DeleteQso)
            ->Arg(n)
            ->Iterations(30)
            ->UseManualTime()
            ->Unit(kMillisecond);
        auto* ed = benchmark::RegisterBenchmark("Editor", BM_Editor)
                       ->Iterations(10)
                       ->UseManualTime()
                       ->Unit(kMillisecond);
        for (int tab = 0; tab < int(std::size(kEditorTabs)); ++tab)
            ed->Args({n, tab});
    }

    benchmark::RunSpecifiedBenchmarks();
    endSession();
    // scratch folders, also those a failed benchmark left behind
    for (const QString& d :
         QDir(g_root).entryList({QStringLiteral("ui-*"), QStringLiteral("floor-ui")}, QDir::Dirs))
        QDir(g_root + d).removeRecursively();
    if (oldAppData.isNull())
        qunsetenv("APPDATA");
    else
        qputenv("APPDATA", oldAppData);
    benchmark::Shutdown();
    return 0;
}
