// The database layer at 1 000, 100 000 and 1 000 000 QSOs, side by side with
// the floor the disk sets: opening the log, saving one QSO, resident memory
// per QSO, and the locates behind call-sign completion.
//
//   bench_data [--sizes=1000,100000] [--quick] [Google Benchmark options]
//
// QARDEL_BENCH_SIZES does what --sizes does; --quick means 1000,100000.
// Generated logs are cached under QARDEL_BENCH_DIR (default: <build>/bench-data).

#include "BenchUtil.h"
#include "DataGen.h"
#include "adif/Mapping.h"
#include "data/Fields.h"

#include "data/uDM.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/magic.h>
#include <malloc.h>
#include <memory>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <vector>

using namespace qardel;
using namespace qardel::bench;

namespace {

// Wall-clock and CPU time of one call: on a shared machine the CPU time
// shows what the work itself costs.
struct Timing {
    double wall = 0, cpu = 0;
};
template <class F> Timing measure(F&& f) {
    const double c0 = threadCpuSeconds();
    const auto t0 = SteadyClock::now();
    f();
    return {secondsSince(t0), threadCpuSeconds() - c0};
}

// Hands freed heap back to the system, so that resident size measures what
// is still in use.
void releaseFreeMemory() {
    malloc_trim(0);
}

uint64_t inodeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? uint64_t(st.st_ino) : 0;
}

// ---------------------------------------------------------------- the floor

// Writes a 4 KiB file the way a whole table file is replaced: a temporary
// file, synced, renamed over the old one, then the folder synced.
double renameSample(const QString& dir, unsigned counter) {
    static char buf[4096];
    std::memset(buf, 'a' + int(counter % 26), sizeof buf);
    const QByteArray tmp = QFile::encodeName(dir + QStringLiteral("rename-probe.tmp"));
    const QByteArray dst = QFile::encodeName(dir + QStringLiteral("rename-probe.bin"));
    const QByteArray d = QFile::encodeName(dir);
    const auto t0 = SteadyClock::now();
    const int fd = ::open(tmp.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    bool ok = fd >= 0 && ::write(fd, buf, sizeof buf) == ssize_t(sizeof buf) && ::fsync(fd) == 0;
    if (fd >= 0) ::close(fd);
    ok = ok && ::rename(tmp.constData(), dst.constData()) == 0;
    const int dfd = ok ? ::open(d.constData(), O_RDONLY | O_DIRECTORY) : -1;
    ok = ok && dfd >= 0 && ::fsync(dfd) == 0;
    if (dfd >= 0) ::close(dfd);
    const double s = secondsSince(t0);
    if (!ok)
        throw DbError(
            QStringLiteral("rename probe: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    return s;
}

// Drops a folder's files from the page cache, so the next open reads the disk.
void dropFromPageCache(const QString& dir) {
    for (const QString& f : QDir(dir).entryList(QDir::Files)) {
        const int fd = ::open(QFile::encodeName(dir + f).constData(), O_RDONLY);
        if (fd < 0) continue;
        ::fdatasync(fd);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

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

// ---------------------------------------------------------------- state

QString g_root;                // benchRoot()
QHash<int, QString> g_logDirs; // QSO count -> generated (read-only) log

// One log of a given size, copied to a scratch folder and opened, with the
// locate indexes already built, as the program has it once the operator has
// typed the first call sign. The benchmarks of one size share it; it is
// released when the next size starts.
struct Session {
    int n = 0;
    QString dir;
    std::unique_ptr<TDM> dm;
    std::unique_ptr<FsyncProbe> probe; // in the data folder itself
    std::vector<int> corIds;           // correspondents with QSOs
    QStringList calls;
    QSet<QString> callSet;
    std::vector<int> bandIds, modeIds, rsIds;
    int noQsoCorId = 0;
    QString worstPrefix2, worstPrefix1;
    int worstPrefix2Count = 0, worstPrefix1Count = 0;
    Rng rng{0xbe7c4};
};
std::unique_ptr<Session> g_session;

void endSession() {
    if (!g_session) return;
    const QString dir = g_session->dir;
    g_session.reset(); // closes the tables; writes what is unwritten
    QDir(dir).removeRecursively();
    releaseFreeMemory();
}

std::vector<int> idsOf(Table* t) {
    std::vector<int> ids;
    const int fi = t->fieldIndex(QStringLiteral("ID"));
    for (int pos = 0; pos < t->recordCount(); ++pos)
        ids.push_back(t->valueAt(pos, fi).toInt());
    return ids;
}

Session& session(int n) {
    if (g_session && g_session->n == n) return *g_session;
    endSession();
    auto s = std::make_unique<Session>();
    s->n = n;
    s->dir = copyLog(g_logDirs.value(n), g_root + QStringLiteral("work-%1").arg(n));
    s->dm = std::make_unique<TDM>();
    s->dm->DataDir = s->dir;
    s->dm->OpenTables();
    s->probe = std::make_unique<FsyncProbe>(s->dir + QStringLiteral("fsync-probe.bin"));

    Table* cors = s->dm->dsCors;
    const int callFi = cors->fieldIndex(QStringLiteral("CallName"));
    const int idFi = cors->fieldIndex(QStringLiteral("ID"));
    QHash<QString, int> by1, by2;
    for (int pos = 0; pos < cors->recordCount(); ++pos) {
        const QString call = cors->valueAt(pos, callFi).toString();
        s->calls << call;
        s->corIds.push_back(cors->valueAt(pos, idFi).toInt());
        ++by1[call.left(1).toCaseFolded()];
        ++by2[call.left(2).toCaseFolded()];
    }
    s->callSet = QSet<QString>(s->calls.begin(), s->calls.end());
    for (auto it = by1.cbegin(); it != by1.cend(); ++it)
        if (it.value() > s->worstPrefix1Count) {
            s->worstPrefix1 = it.key();
            s->worstPrefix1Count = it.value();
        }
    for (auto it = by2.cbegin(); it != by2.cend(); ++it)
        if (it.value() > s->worstPrefix2Count) {
            s->worstPrefix2 = it.key();
            s->worstPrefix2Count = it.value();
        }
    s->bandIds = idsOf(s->dm->dsBands);
    s->modeIds = idsOf(s->dm->dsModes);
    s->rsIds = idsOf(s->dm->dsRS);

    // the first keystrokes build the locate indexes
    cors->locate(fld::CallName, s->calls.first().left(2), loCaseInsensitive | loPartialKey);
    s->dm->dsMain->locate(fld::CorID, s->corIds.front());

    // a correspondent entered but not yet worked
    QString call;
    do
        call = randomCallSign(s->rng);
    while (s->callSet.contains(call));
    s->callSet.insert(call);
    cors->append();
    cors->fieldByName(fld::CallName).setAsString(call);
    cors->post();
    s->noQsoCorId = cors->fieldByName(fld::ID).asInteger();
    s->dm->SaveTable(*cors);

    g_session = std::move(s);
    return *g_session;
}

// A benchmark stops with the engine's message instead of taking the run down.
template <class F> void guarded(benchmark::State& state, F&& body) {
    try {
        body();
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    }
}

template <class T> T pick(Rng& rng, const std::vector<T>& v) {
    return v[rng.below(uint32_t(v.size()))];
}

// Fills the fields of a new QSO the way the entry panel does.
void fillQso(Session& s, int corId) {
    Table* m = s.dm->dsMain;
    m->append();
    m->fieldByName(fld::CorID).setAsInteger(corId);
    m->fieldByName(fld::BandID).setAsInteger(pick(s.rng, s.bandIds));
    m->fieldByName(fld::ModeID).setAsInteger(pick(s.rng, s.modeIds));
    m->fieldByName(fld::MyPower).setAsFloat(100);
    m->fieldByName(fld::CorRSID).setAsInteger(pick(s.rng, s.rsIds));
    m->fieldByName(fld::MyRSID).setAsInteger(pick(s.rng, s.rsIds));
    m->fieldByName(fld::QSL).setAsBoolean(false);
    m->fieldByName(fld::Repeater).setAsBoolean(false);
    if (s.rng.chance(1.0 / 3))
        m->fieldByName(fld::Notice).setAsString(QStringLiteral("QSL via бюро"));
}

// ---------------------------------------------------------------- benchmarks

void BM_FloorFdatasync(benchmark::State& state) {
    guarded(state,
            [&] { measureFsyncFloor(state, g_root + QStringLiteral("floor/fsync-probe.bin")); });
}

void BM_FloorRename(benchmark::State& state) {
    guarded(state, [&] {
        const QString dir = g_root + QStringLiteral("floor/");
        Samples t;
        unsigned i = 0;
        for (auto _ : state) {
            const double s = renameSample(dir, i++);
            t.add(s);
            state.SetIterationTime(s);
        }
        setMs(state, "median_ms", t.median());
        setMs(state, "max_ms", t.max());
    });
}

size_t engineBytes(TDM& dm) {
    size_t b = 0;
    for (Table* t : dm.tables())
        b += t->approxBytes();
    return b;
}

// Resident memory of an opened log, per QSO: right after OpenTables, and
// again once freed heap (SQLite's page cache, the read buffers) is handed back.
void BM_Memory(benchmark::State& state) {
    const int n = int(state.range(0));
    guarded(state, [&] {
        endSession();
        for (auto _ : state) {
            releaseFreeMemory();
            const long before = rssBytes();
            auto dm = std::make_unique<TDM>();
            dm->DataDir = g_logDirs.value(n);
            const Timing tm = measure([&] { dm->OpenTables(); });
            const double s = tm.wall;
            const long after = rssBytes();
            releaseFreeMemory();
            const long settled = rssBytes();
            state.SetIterationTime(s);
            state.counters["rss_B_per_qso"] = double(after - before) / n;
            state.counters["rss_trimmed_B_per_qso"] = double(settled - before) / n;
            state.counters["engine_B_per_qso"] = double(engineBytes(*dm)) / n;
            state.counters["rss_MiB"] = double(settled - before) / (1 << 20);
            setMs(state, "cpu_ms", tm.cpu);
            if (dm->dsMain->recordCount() != n) {
                state.SkipWithError("the log has the wrong number of QSOs");
                break;
            }
        }
        releaseFreeMemory();
    });
}

// OpenTables on a fresh data module, then the first locates, which build the
// search indexes. cold: the files are dropped from the page cache first.
void openBench(benchmark::State& state, bool cold) {
    const int n = int(state.range(0));
    guarded(state, [&] {
        endSession();
        const QString dir = g_logDirs.value(n);
        Samples open, openCpu, firstCall, firstCor;
        Rng rng(7);
        for (auto _ : state) {
            if (cold) dropFromPageCache(dir);
            auto dm = std::make_unique<TDM>();
            dm->DataDir = dir;
            const Timing tm = measure([&] { dm->OpenTables(); });
            state.SetIterationTime(tm.wall);
            open.add(tm.wall);
            openCpu.add(tm.cpu);
            if (dm->dsMain->recordCount() != n) {
                state.SkipWithError("the log has the wrong number of QSOs");
                break;
            }
            // the first keystrokes of the first call sign
            Table* cors = dm->dsCors;
            const QString call = cors->valueAt(int(rng.below(uint32_t(cors->recordCount()))),
                                               cors->fieldIndex(QStringLiteral("CallName")))
                                     .toString();
            bool found = false;
            firstCall.add(timed([&] {
                found = cors->locate(fld::CallName, call.left(2), loCaseInsensitive | loPartialKey);
            }));
            const int corId = cors->fieldByName(fld::ID).asInteger();
            firstCor.add(timed([&] { found = found && dm->dsMain->locate(fld::CorID, corId); }));
            if (!found) {
                state.SkipWithError("a correspondent of the log was not found");
                break;
            }
            dm.reset(); // outside the manual time
        }
        setMs(state, "median_ms", open.median());
        setMs(state, "cpu_median_ms", openCpu.median());
        setMs(state, "first_locate_call_ms", firstCall.median());
        setMs(state, "first_locate_corid_ms", firstCor.median());
        releaseFreeMemory();
    });
}
void BM_Open(benchmark::State& state) {
    openBench(state, false);
}
void BM_OpenCold(benchmark::State& state) {
    openBench(state, true);
}

// The least an open can cost: SQLite stepping through every row of the nine
// files and reading every column, without building anything from them.
void BM_OpenFloorSqliteScan(benchmark::State& state) {
    const int n = int(state.range(0));
    guarded(state, [&] {
        endSession();
        const QString dir = g_logDirs.value(n);
        const QStringList files = QDir(dir).entryList({QStringLiteral("*.db")}, QDir::Files);
        Samples t;
        int64_t rows = 0, bytes = 0;
        for (auto _ : state) {
            rows = bytes = 0;
            const double d = timed([&] {
                for (const QString& f : files) {
                    sqlite3* db = nullptr;
                    if (sqlite3_open_v2(QFile::encodeName(dir + f).constData(), &db,
                                        SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
                        throw DbError(QStringLiteral("cannot open %1").arg(f));
                    sqlite3_stmt* st = nullptr;
                    if (sqlite3_prepare_v2(db, "SELECT * FROM records", -1, &st, nullptr) !=
                        SQLITE_OK)
                        throw DbError(QStringLiteral("cannot read %1").arg(f));
                    const int cols = sqlite3_column_count(st);
                    while (sqlite3_step(st) == SQLITE_ROW) {
                        ++rows;
                        for (int c = 0; c < cols; ++c) {
                            switch (sqlite3_column_type(st, c)) {
                            case SQLITE_INTEGER:
                                bytes += sqlite3_column_int64(st, c) & 1;
                                break;
                            case SQLITE_FLOAT:
                                bytes += sqlite3_column_double(st, c) > 0;
                                break;
                            case SQLITE_TEXT:
                                sqlite3_column_text(st, c);
                                bytes += sqlite3_column_bytes(st, c);
                                break;
                            default:
                                break;
                            }
                        }
                    }
                    sqlite3_finalize(st);
                    sqlite3_close_v2(db);
                }
            });
            state.SetIterationTime(d);
            t.add(d);
        }
        benchmark::DoNotOptimize(bytes);
        state.counters["rows"] = double(rows);
        setMs(state, "median_ms", t.median());
    });
}

// Reading the time of one QSO back from its file text: the engine's
// QDateTime::fromString against a direct parse of the fixed layout.
QStringList timeTexts() {
    QStringList l;
    QDateTime t(QDate(1995, 1, 1), QTime(8, 0), Qt::UTC);
    Rng rng(3);
    for (int i = 0; i < 4096; ++i) {
        t = t.addSecs(rng.between(20, 4000));
        l << t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    }
    return l;
}

qint64 parseFixedTime(const QString& s) {
    auto num = [&](int from, int len) {
        int v = 0;
        for (int i = from; i < from + len; ++i)
            v = v * 10 + (s[i].unicode() - u'0');
        return v;
    };
    const qint64 day = QDate(num(0, 4), num(5, 2), num(8, 2)).toJulianDay();
    const qint64 ms = ((num(11, 2) * 60 + num(14, 2)) * 60 + num(17, 2)) * 1000 + num(20, 3);
    return day * 86400000 + ms;
}

void BM_TimeTextQt(benchmark::State& state) {
    const QStringList texts = timeTexts();
    const QString format = QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz");
    size_t i = 0;
    for (auto _ : state) {
        const QDateTime dt = QDateTime::fromString(texts[qsizetype(i++ & 4095)], format);
        benchmark::DoNotOptimize(dt);
    }
}

void BM_TimeTextDirect(benchmark::State& state) {
    const QStringList texts = timeTexts();
    const QString format = QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz");
    for (int k = 0; k < 64; ++k) { // the two readings agree
        const QDateTime dt = QDateTime::fromString(texts[k], format);
        const qint64 want = dt.date().toJulianDay() * 86400000 + dt.time().msecsSinceStartOfDay();
        if (parseFixedTime(texts[k]) != want) {
            state.SkipWithError("the direct parse disagrees with QDateTime::fromString");
            return;
        }
    }
    size_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(parseFixedTime(texts[qsizetype(i++ & 4095)]));
}

// Saving one QSO: post, then SaveTable(dsMain), the incremental write. Each
// iteration also samples the fdatasync floor in the same folder, so the
// ratio compares like with like under the same load.
void BM_SaveRow(benchmark::State& state) {
    const int n = int(state.range(0));
    guarded(state, [&] {
        Session& s = session(n);
        const QString file = s.dm->dsMain->filePath;
        Samples save, post, floor;
        int whole = 0;
        for (auto _ : state) {
            fillQso(s, pick(s.rng, s.corIds));
            post.add(timed([&] { s.dm->dsMain->post(); }));
            const uint64_t ino = inodeOf(file);
            const double t = timed([&] { s.dm->SaveTable(*s.dm->dsMain); });
            if (inodeOf(file) != ino) ++whole;
            state.SetIterationTime(t);
            save.add(t);
            floor.add(s.probe->sample());
        }
        setMs(state, "median_ms", save.median());
        setMs(state, "max_ms", save.max());
        setUs(state, "post_us", post.median());
        setMs(state, "floor_ms", floor.median());
        state.counters["x_floor"] = floor.median() > 0 ? save.median() / floor.median() : 0;
        state.counters["whole_writes"] = whole;
    });
}

// A QSO with a new correspondent: two posts and SaveAll.
void BM_SaveAll(benchmark::State& state) {
    const int n = int(state.range(0));
    guarded(state, [&] {
        Session& s = session(n);
        const QString mainFile = s.dm->dsMain->filePath, corsFile = s.dm->dsCors->filePath;
        Samples save, floor;
        int whole = 0;
        for (auto _ : state) {
            QString call;
            do
                call = randomCallSign(s.rng);
            while (s.callSet.contains(call));
            s.callSet.insert(call);
            Table* cors = s.dm->dsCors;
            cors->append();
            cors->fieldByName(fld::CallName).setAsString(call);
            cors->fieldByName(fld::NameID).setAsInteger(1);
            cors->post();
            fillQso(s, cors->fieldByName(fld::ID).asInteger());
            s.dm->dsMain->post();
            const uint64_t i1 = inodeOf(mainFile), i2 = inodeOf(corsFile);
            const double t = timed([&] { s.dm->SaveAll(); });
            if (inodeOf(mainFile) != i1) ++whole;
            if (inodeOf(corsFile) != i2) ++whole;
            state.SetIterationTime(t);
            save.add(t);
            floor.add(s.probe->sample());
        }
        setMs(state, "median_ms", save.median());
        setMs(state, "max_ms", save.max());
        setMs(state, "floor_ms", floor.median());
        state.counters["x_floor"] = floor.median() > 0 ? save.median() / floor.median() : 0;
        state.counters["whole_writes"] = whole;
    });
}

void reportLocate(benchmark::State& state, const Samples& t) {
    setUs(state, "median_us", t.median());
    setUs(state, "p99_us", t.quantile(0.99));
    setUs(state, "max_us", t.max());
}

// Completing a call sign: the first 2 or 3 characters of a known call, in
// either case.
void BM_LocateCallPrefix(benchmark::State& state) {
    const int n = int(state.range(0));
    guarded(state, [&] {
        Session& s = session(n);
        Samples t;
        for (auto _ : state) {
            QString prefix =
                s.calls[int(s.rng.below(uint32_t(s.calls.size())))].left(s.rng.chance(0.5) ? 2 : 3);
            if (s.rng.chance(0.5)) prefix = prefix.toLower();
            bool found = false;
            const double d = timed([&] {
                found =
                    s.dm->dsCors->locate(fld::CallName, prefix, loCaseInsensitive | loPartialKey);
            });
            state.SetIterationTime(d);
            t.add(d);
            if (!found) {
                state.SkipWithError("a known prefix was not found");
                break;
            }
        }
        reportLocate(state, t);
    });
}

// The prefix with the most correspondents behind it (chars = 1 or 2).
void BM_LocateCallPrefixWorst(benchmark::State& state) {
    const int n = int(state.range(0));
    const int chars = int(state.range(1));
    guarded(state, [&] {
        Session& s = session(n);
        const QString prefix = chars == 1 ? s.worstPrefix1 : s.worstPrefix2;
        const QString upper = prefix.toUpper();
        Samples t;
        bool flip = false;
        for (auto _ : state) {
            flip = !flip;
            bool found = false;
            const double d = timed([&] {
                found = s.dm->dsCors->locate(fld::CallName, flip ? upper : prefix,
                                             loCaseInsensitive | loPartialKey);
            });
            state.SetIterationTime(d);
            t.add(d);
            if (!found) {
                state.SkipWithError("the most common prefix was not found");
                break;
            }
        }
        state.SetLabel(("'" + upper + "'").toStdString());
        state.counters["matches"] = chars == 1 ? s.worstPrefix1Count : s.worstPrefix2Count;
        reportLocate(state, t);
    });
}

// The last QSO with a correspondent: locate CorID in the log.
void BM_LocateCorID(benchmark::State& state) {
    const int n = int(state.range(0));
    guarded(state, [&] {
        Session& s = session(n);
        Samples t;
        for (auto _ : state) {
            const int id = pick(s.rng, s.corIds);
            bool found = false;
            const double d = timed([&] { found = s.dm->dsMain->locate(fld::CorID, id); });
            state.SetIterationTime(d);
            t.add(d);
            if (!found) {
                state.SkipWithError("a worked correspondent has no QSO");
                break;
            }
        }
        reportLocate(state, t);
    });
}

// The same for a correspondent never worked: the search must prove absence.
void BM_LocateCorIDNone(benchmark::State& state) {
    const int n = int(state.range(0));
    guarded(state, [&] {
        Session& s = session(n);
        Samples t;
        for (auto _ : state) {
            bool found = true;
            const double d = timed([&] { found = s.dm->dsMain->locate(fld::CorID, s.noQsoCorId); });
            state.SetIterationTime(d);
            t.add(d);
            if (found) {
                state.SkipWithError("a correspondent never worked has a QSO");
                break;
            }
        }
        reportLocate(state, t);
    });
}

// A combo box that only counts, so the engine's walk is what is measured.
class CountingBox : public ComboBoxIntf {
  public:
    void beginUpdate() override {}
    void endUpdate() override {}
    void clearItems() override { items.clear(); }
    void addItem(const QString& text, int id) override { items.push_back({text, id}); }
    int itemCount() const override { return int(items.size()); }
    int itemId(int index) const override { return items[size_t(index)].second; }
    int selectedIndex() const override { return -1; }
    void setSelectedIndex(int) override {}
    std::vector<std::pair<QString, int>> items;
};

// Filling the panel's lists: cities, countries, names, bands, modes, reports.
// ADIF: the whole log out as ADI (in memory: the mapping and the form), and
// such a file into an empty folder, written, as qardel-adif does both.
void BM_AdifExport(benchmark::State& state) {
    guarded(state, [&] {
        Session& s = session(int(state.range(0)));
        Samples t;
        size_t bytes = 0;
        for (auto _ : state) {
            const double secs =
                timed([&] { bytes = size_t(adif::exportAdi(*s.dm, "QARDEL", "bench").size()); });
            t.add(secs);
            state.SetIterationTime(secs);
        }
        setMs(state, "median_ms", t.median());
        state.counters["file_MB"] = double(bytes) / 1e6;
    });
}

void BM_AdifImport(benchmark::State& state) {
    guarded(state, [&] {
        Session& s = session(int(state.range(0)));
        const QByteArray file = adif::exportAdi(*s.dm, "QARDEL", "bench");
        endSession(); // the import gets the memory
        Samples t;
        int imported = 0;
        for (auto _ : state) {
            const QString dir = g_root + QStringLiteral("work-import/");
            QDir(dir).removeRecursively();
            QDir().mkpath(dir);
            const double secs = timed([&] {
                TDM dm;
                dm.DataDir = dir;
                dm.OpenTables();
                adif::ImportSummary summary;
                adif::importRecords(dm, adif::read(file).records, &summary);
                dm.SaveAll();
                dm.CloseTables();
                imported = summary.imported;
            });
            t.add(secs);
            state.SetIterationTime(secs);
            QDir(dir).removeRecursively();
        }
        setMs(state, "median_ms", t.median());
        state.counters["imported"] = imported;
    });
}

void BM_FillLists(benchmark::State& state) {
    const int n = int(state.range(0));
    guarded(state, [&] {
        Session& s = session(n);
        TDM& dm = *s.dm;
        CountingBox box;
        Samples t;
        int items = 0;
        for (auto _ : state) {
            items = 0;
            const double d = timed([&] {
                dm.FillCombo(box, *dm.dsCityes, QStringLiteral("Name"));
                items += box.itemCount();
                dm.FillCombo(box, *dm.dsCountryes, QStringLiteral("Name"));
                items += box.itemCount();
                dm.FillCombo(box, *dm.dsNames, QStringLiteral("Value"));
                items += box.itemCount();
                dm.FillCombo(box, *dm.dsBands, QStringLiteral("Name"));
                items += box.itemCount();
                dm.FillCombo(box, *dm.dsModes, QStringLiteral("Name"));
                items += box.itemCount();
                dm.FillCombo(box, *dm.dsRS, QStringLiteral("Value"));
                items += box.itemCount();
            });
            state.SetIterationTime(d);
            t.add(d);
        }
        state.counters["items"] = items;
        setMs(state, "median_ms", t.median());
    });
}

// Open iterations: enough for a stable figure, few enough that a run with
// 1 000 000 QSOs stays in minutes.
void openIterations(benchmark::internal::Benchmark* b, int n) {
    if (n >= 1000000)
        b->Iterations(3);
    else if (n >= 100000)
        b->Iterations(10);
}

} // namespace

int main(int argc, char** argv) {
    // our own options first; the rest belongs to Google Benchmark
    std::vector<int> sizes;
    if (!initBenchmarks(argc, argv, &sizes)) return 1;

    QCoreApplication app(argc, argv);
    try {
        g_root = benchRoot();
        QDir().mkpath(g_root + QStringLiteral("floor"));
        for (int n : sizes)
            g_logDirs.insert(n, ensureLog(n));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_data: %s\n", e.what());
        return 1;
    }

    QStringList sizeText;
    for (int n : sizes)
        sizeText << QString::number(n);
    benchmark::AddCustomContext("data_dir", g_root.toStdString());
    benchmark::AddCustomContext("filesystem", fsName(g_root).toStdString());
    benchmark::AddCustomContext("qso_counts", sizeText.join(QLatin1Char(',')).toStdString());
    benchmark::AddCustomContext("qt", qVersion());
    benchmark::AddCustomContext("sqlite", sqlite3_libversion());

    using benchmark::kMicrosecond;
    using benchmark::kMillisecond;
    benchmark::RegisterBenchmark("Floor/pwrite4K_fdatasync", BM_FloorFdatasync)
        ->UseManualTime()
        ->Unit(kMillisecond);
    benchmark::RegisterBenchmark("Floor/write4K_fsync_rename_dirsync", BM_FloorRename)
        ->UseManualTime()
        ->Unit(kMillisecond);
    benchmark::RegisterBenchmark("TimeText/QDateTime_fromString", BM_TimeTextQt)
        ->Unit(benchmark::kNanosecond);
    benchmark::RegisterBenchmark("TimeText/direct_parse", BM_TimeTextDirect)
        ->Unit(benchmark::kNanosecond);
    for (int n : sizes) {
        benchmark::RegisterBenchmark("Memory", BM_Memory)
            ->Arg(n)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(kMillisecond);
        auto* open = benchmark::RegisterBenchmark("Open", BM_Open)
                         ->Arg(n)
                         ->UseManualTime()
                         ->Unit(kMillisecond);
        openIterations(open, n);
        benchmark::RegisterBenchmark("OpenFloor/sqlite_scan", BM_OpenFloorSqliteScan)
            ->Arg(n)
            ->UseManualTime()
            ->Unit(kMillisecond);
        auto* cold = benchmark::RegisterBenchmark("OpenCold", BM_OpenCold)
                         ->Arg(n)
                         ->UseManualTime()
                         ->Unit(kMillisecond);
        openIterations(cold, n);
        benchmark::RegisterBenchmark("LocateCallPrefix", BM_LocateCallPrefix)
            ->Arg(n)
            ->UseManualTime()
            ->Unit(kMicrosecond);
        benchmark::RegisterBenchmark("LocateCallPrefixWorst", BM_LocateCallPrefixWorst)
            ->Args({n, 2})
            ->Args({n, 1})
            ->UseManualTime()
            ->Unit(kMicrosecond);
        benchmark::RegisterBenchmark("LocateCorID", BM_LocateCorID)
            ->Arg(n)
            ->UseManualTime()
            ->Unit(kMicrosecond);
        benchmark::RegisterBenchmark("LocateCorIDNone", BM_LocateCorIDNone)
            ->Arg(n)
            ->UseManualTime()
            ->Unit(kMicrosecond);
        benchmark::RegisterBenchmark("FillLists", BM_FillLists)
            ->Arg(n)
            ->UseManualTime()
            ->Unit(kMicrosecond);
        benchmark::RegisterBenchmark("SaveRow", BM_SaveRow)
            ->Arg(n)
            ->UseManualTime()
            ->Unit(kMillisecond);
        benchmark::RegisterBenchmark("SaveAll", BM_SaveAll)
            ->Arg(n)
            ->UseManualTime()
            ->Unit(kMillisecond);
        benchmark::RegisterBenchmark("AdifExport", BM_AdifExport)
            ->Arg(n)
            ->Iterations(n >= 100000 ? 1 : 5)
            ->UseManualTime()
            ->Unit(kMillisecond);
        benchmark::RegisterBenchmark("AdifImport", BM_AdifImport)
            ->Arg(n)
            ->Iterations(n >= 100000 ? 1 : 5)
            ->UseManualTime()
            ->Unit(kMillisecond);
    }

    benchmark::RunSpecifiedBenchmarks();
    endSession();
    // scratch folders, also those a failed benchmark left behind
    for (const QString& d :
         QDir(g_root).entryList({QStringLiteral("work-*"), QStringLiteral("floor")}, QDir::Dirs))
        QDir(g_root + d).removeRecursively();
    benchmark::Shutdown();
    return 0;
}
