// The call-sign card's data, at 1 000, 100 000 and 1 000 000 QSOs: reading
// the country files and the active calls, resolving a call sign, the super
// check partial, working out the entity of every logged QSO at start-up,
// the card's questions per keystroke, and keeping the own locator (a write,
// beside the disk's floor in the same folder).
//
//   bench_callinfo [--sizes=1000,100000] [--quick] [Google Benchmark options]

#include "BenchUtil.h"
#include "DataGen.h"

#include "callinfo/Cty.h"
#include "callinfo/Scp.h"
#include "callinfo/Sources.h"
#include "callinfo/WorkedIndex.h"
#include "data/Fields.h"
#include "data/uDM.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <memory>

using namespace qardel;
using namespace qardel::bench;
using namespace qardel::callinfo;

namespace {

QString g_root;
QHash<int, QString> g_logDirs;

template <class F> void guarded(benchmark::State& state, F&& body) {
    try {
        body();
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    }
}

QString systemFile(const char* name) {
    return systemFilesDir() + QLatin1Char('/') + QLatin1String(name);
}

const CtyData& systemCty() {
    static const CtyData cty = CtyData::readFile(systemFile("cty.csv"));
    return cty;
}

// Realistic call signs, some with a suffix as the log generator writes them.
const QStringList& calls() {
    static const QStringList c = [] {
        Rng rng(0xca11);
        QStringList out;
        for (int i = 0; i < 20000; ++i)
            out << randomCallSign(rng);
        return out;
    }();
    return c;
}

// ---------------------------------------------------------------- reading the files

void BM_ReadCty(benchmark::State& state, const char* name) {
    guarded(state, [&] {
        const QString path = systemFile(name);
        Samples t;
        size_t entities = 0;
        for (auto _ : state) {
            const double s = timed([&] { entities = CtyData::readFile(path).entities().size(); });
            t.add(s);
            state.SetIterationTime(s);
        }
        setMs(state, "median_ms", t.median());
        setMs(state, "max_ms", t.max());
        state.counters["entities"] = double(entities);
    });
}

// What the program does at start: the copies compared, the newest read.
void BM_LoadCty(benchmark::State& state) {
    guarded(state, [&] {
        const QString empty = g_root + QStringLiteral("callinfo-empty/");
        QDir().mkpath(empty);
        Samples t;
        for (auto _ : state) {
            const double s = timed([&] {
                if (!loadCty(empty).data) throw DbError(QStringLiteral("no country data"));
            });
            t.add(s);
            state.SetIterationTime(s);
        }
        setMs(state, "median_ms", t.median());
        setMs(state, "max_ms", t.max());
    });
}

void BM_LoadScp(benchmark::State& state) {
    guarded(state, [&] {
        const QString empty = g_root + QStringLiteral("callinfo-empty/");
        QDir().mkpath(empty);
        Samples t;
        int n = 0;
        for (auto _ : state) {
            const double s = timed([&] {
                const ScpLoad l = loadScp(empty);
                n = l.data ? l.data->size() : 0;
            });
            t.add(s);
            state.SetIterationTime(s);
        }
        setMs(state, "median_ms", t.median());
        setMs(state, "max_ms", t.max());
        state.counters["calls"] = n;
    });
}

// ---------------------------------------------------------------- per call sign

void BM_Resolve(benchmark::State& state) {
    const CtyData& cty = systemCty();
    const QStringList& c = calls();
    int i = 0, found = 0;
    for (auto _ : state) {
        const CallInfo info = cty.resolve(c[i % c.size()], QStringView());
        found += info.hasEntity();
        ++i;
    }
    state.counters["found_share"] = i ? double(found) / i : 0;
}

// Three typed characters: those of a call that is on the list, and a text
// no call holds (the whole list is searched).
void BM_ScpFind(benchmark::State& state) {
    guarded(state, [&] {
        const ScpLoad l = loadScp(g_root + QStringLiteral("callinfo-empty/"));
        if (!l.data) throw DbError(QStringLiteral("no MASTER.SCP"));
        const bool none = state.range(0) == 1;
        const QStringList& c = calls();
        int i = 0, hits = 0;
        for (auto _ : state) {
            const QString text = none ? QStringLiteral("Q0Q0") : c[i % c.size()].left(3);
            hits += int(l.data->find(text, 8).size());
            ++i;
        }
        state.counters["hits_per_find"] = i ? double(hits) / i : 0;
    });
}

// ---------------------------------------------------------------- over the log

// A data module open on a copy of the generated log.
struct OpenLog {
    QString dir;
    TDM dm;
    explicit OpenLog(int n, const QString& name) {
        dir =
            copyLog(g_logDirs.value(n), g_root + QStringLiteral("callinfo-%1-%2").arg(name).arg(n));
        dm.DataDir = dir;
        dm.OpenTables();
    }
    ~OpenLog() {
        dm.AbandonTables();
        QDir(dir).removeRecursively();
    }
};

// The entity of every QSO worked out, as at start-up.
void BM_IndexBuild(benchmark::State& state) {
    const int n = int(state.range(0));
    guarded(state, [&] {
        OpenLog log(n, QStringLiteral("build"));
        auto cty = std::make_shared<const CtyData>(systemCty());
        Samples t;
        int withEntity = 0;
        for (auto _ : state) {
            const double s = timed([&] {
                WorkedIndex ix(log.dm);
                ix.setCty(cty);
                ix.build();
                withEntity = ix.entityQsos(cty->entityByPrefix(QStringLiteral("UA")));
            });
            t.add(s);
            state.SetIterationTime(s);
        }
        setMs(state, "median_ms", t.median());
        setMs(state, "max_ms", t.max());
        state.counters["european_russia_qsos"] = withEntity;
    });
}

// What the card asks at a keystroke: the entity, the station's history and
// the entity's standing on a band and mode.
void BM_CardQuestions(benchmark::State& state) {
    const int n = int(state.range(0));
    guarded(state, [&] {
        OpenLog log(n, QStringLiteral("questions"));
        auto cty = std::make_shared<const CtyData>(systemCty());
        WorkedIndex ix(log.dm);
        ix.setCty(cty);
        ix.build();
        QStringList cors;
        const int fi = log.dm.dsCors->fieldIndex(fld::CallName);
        for (int pos = 0; pos < log.dm.dsCors->recordCount(); pos += 97)
            cors << log.dm.dsCors->valueAt(pos, fi).toString();
        Samples t;
        int i = 0, qsos = 0;
        for (auto _ : state) {
            const QString call = cors[i++ % cors.size()];
            const double s = timed([&] {
                const CallInfo info = cty->resolve(call, QStringView());
                const WorkedIndex::History h = ix.history(call);
                qsos += h.qsos;
                if (info.hasEntity()) benchmark::DoNotOptimize(ix.standing(info.entity, 1, 1));
            });
            t.add(s);
            state.SetIterationTime(s);
        }
        setUs(state, "median_us", t.median());
        setUs(state, "p99_us", t.quantile(0.99));
        state.counters["qsos_per_call"] = i ? double(qsos) / i : 0;
    });
}

// The own locator kept: the settings row posted and the settings written,
// against a durable 4 KiB rewrite in the same folder.
void BM_SaveLocator(benchmark::State& state) {
    guarded(state, [&] {
        OpenLog log(1000, QStringLiteral("locator"));
        FsyncProbe probe(log.dir + QStringLiteral("fsync-probe.bin"));
        Samples t, floor;
        int i = 0;
        for (auto _ : state) {
            const QString loc = (i++ % 2) ? QStringLiteral("KO85AB") : QStringLiteral("JN58");
            const double s = timed([&] {
                log.dm.SetTextSetting(setting::MyLocator, loc);
                log.dm.SaveAll();
            });
            t.add(s);
            state.SetIterationTime(s);
            floor.add(probe.sample());
        }
        setMs(state, "median_ms", t.median());
        setMs(state, "floor_ms", floor.median());
        state.counters["x_floor"] = floor.median() > 0 ? t.median() / floor.median() : 0;
    });
}

} // namespace

int main(int argc, char** argv) {
    std::vector<int> sizes;
    if (!initBenchmarks(argc, argv, &sizes)) return 1;
    QCoreApplication app(argc, argv);
    try {
        g_root = benchRoot();
        for (int n : sizes)
            g_logDirs.insert(n, ensureLog(n));
        if (!g_logDirs.contains(1000)) g_logDirs.insert(1000, ensureLog(1000));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_callinfo: %s\n", e.what());
        return 1;
    }
    using benchmark::kMillisecond;
    benchmark::RegisterBenchmark("ReadCty/cty.csv", BM_ReadCty, "cty.csv")
        ->Iterations(50)
        ->UseManualTime()
        ->Unit(kMillisecond);
    benchmark::RegisterBenchmark("ReadCty/cty.dat", BM_ReadCty, "cty.dat")
        ->Iterations(50)
        ->UseManualTime()
        ->Unit(kMillisecond);
    benchmark::RegisterBenchmark("LoadCty", BM_LoadCty)
        ->Iterations(50)
        ->UseManualTime()
        ->Unit(kMillisecond);
    benchmark::RegisterBenchmark("LoadScp", BM_LoadScp)
        ->Iterations(50)
        ->UseManualTime()
        ->Unit(kMillisecond);
    benchmark::RegisterBenchmark("Resolve", BM_Resolve)->Unit(benchmark::kNanosecond);
    benchmark::RegisterBenchmark("ScpFind/three_characters", BM_ScpFind)
        ->Arg(0)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("ScpFind/no_match", BM_ScpFind)
        ->Arg(1)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("SaveLocator", BM_SaveLocator)
        ->Iterations(30)
        ->UseManualTime()
        ->Unit(kMillisecond);
    for (int n : sizes) {
        benchmark::RegisterBenchmark("IndexBuild", BM_IndexBuild)
            ->Arg(n)
            ->Iterations(n >= 1000000 ? 5 : 20)
            ->UseManualTime()
            ->Unit(kMillisecond);
        benchmark::RegisterBenchmark("CardQuestions", BM_CardQuestions)
            ->Arg(n)
            ->Iterations(2000)
            ->UseManualTime()
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    QDir(g_root + QStringLiteral("callinfo-empty")).removeRecursively();
    benchmark::Shutdown();
    return 0;
}
