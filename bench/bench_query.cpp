// Searching and counting the log at 1 000, 100 000 and 1 000 000 QSOs: each
// kind of search from start to end, the longest slice a search holds the
// event loop while the operator types, sorting every result, and all the
// statistics; the disk's floor measured in the same run, as everywhere.
//
//   bench_query [--sizes=1000,100000] [--quick] [Google Benchmark options]
//
// The entities come from a prefix table that resolves a call sign the way
// the call-sign card's cty data does (longest known prefix).

#include "BenchUtil.h"
#include "DataGen.h"
#include "data/Fields.h"
#include "data/uDM.h"
#include "query/LogSearch.h"
#include "query/LogStats.h"
#include "query/SearchResults.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>

#include <memory>

using namespace qardel;
using namespace qardel::bench;

namespace {

QString g_root;
QHash<int, QString> g_logDirs;

// ---------------------------------------------------------------- entities

std::optional<Entity> prefixEntity(const QString& call, const QString& suffix) {
    static const QHash<QString, Entity> table = [] {
        const struct {
            const char* prefixes;
            const char* name;
            int dxcc;
        } rows[] = {
            {"UA1 UA2 UA3 UA4 UA6 RA1 RA3 RA4 RA6 RV RW RX RZ RN RK RU R1 R2 R3 R4 R5 R6 R7 UB UC "
             "UD UE UF UG UI RM RO RT",
             "Европейская Россия", 54},
            {"UA8 UA9 UA0 RA9 RA0 RV9 RV0 RW9 RW0 RX9 RX0 RZ9 RZ0 RK9 RK0 R8 R9 R0",
             "Азиатская Россия", 15},
            {"UA2F RA2F RK2F UB2F RW2F", "Калининград", 126},
            {"UR UT UX US UY UZ EM EO", "Украина", 288},
            {"EU EW EV", "Беларусь", 27},
            {"UN UP", "Казахстан", 130},
            {"ER", "Молдова", 179},
            {"4L", "Грузия", 75},
            {"EK", "Армения", 14},
            {"4K", "Азербайджан", 18},
            {"UK", "Узбекистан", 292},
            {"EX", "Киргизия", 135},
            {"EY", "Таджикистан", 262},
            {"EZ", "Туркменистан", 280},
            {"LY", "Литва", 146},
            {"YL", "Латвия", 145},
            {"ES", "Эстония", 52},
            {"DL DK DJ DO DG DH DF DM DB DC", "Германия", 230},
            {"SP SQ SO SN", "Польша", 269},
            {"OK OL", "Чехия", 503},
            {"OM", "Словакия", 504},
            {"K W N AA AB AC AD KA KB KC KD KE KF WA WB WD NA", "США", 291},
            {"VE VA", "Канада", 1},
            {"JA JH JR JE JF JG JI JJ JK JL", "Япония", 339},
            {"I IK IZ IW IU", "Италия", 248},
            {"F", "Франция", 227},
            {"EA EB EC", "Испания", 281},
            {"G M 2E", "Англия", 223},
            {"GM", "Шотландия", 279},
            {"OH", "Финляндия", 224},
            {"SM SA SE", "Швеция", 284},
            {"LA LB", "Норвегия", 266},
            {"OZ", "Дания", 221},
            {"PA PD PE", "Нидерланды", 263},
            {"ON", "Бельгия", 209},
            {"OE", "Австрия", 206},
            {"HB9", "Швейцария", 287},
            {"LZ", "Болгария", 212},
            {"YO", "Румыния", 275},
            {"HA HG", "Венгрия", 239},
            {"YU", "Сербия", 296},
            {"9A", "Хорватия", 497},
            {"S5", "Словения", 499},
            {"SV", "Греция", 236},
            {"TA", "Турция", 390},
            {"4X 4Z", "Израиль", 336},
            {"CT", "Португалия", 272},
            {"EI", "Ирландия", 245},
            {"JT", "Монголия", 363},
            {"BY BG BA", "Китай", 318},
            {"PY PU", "Бразилия", 108},
            {"LU", "Аргентина", 100},
            {"VK", "Австралия", 150},
            {"ZL", "Новая Зеландия", 170},
            {"ZS", "ЮАР", 462},
            {"VU", "Индия", 324},
        };
        QHash<QString, Entity> t;
        for (const auto& r : rows)
            for (const QString& p :
                 QString::fromLatin1(r.prefixes).split(QLatin1Char(' '), Qt::SkipEmptyParts))
                t.insert(p, Entity{QString::fromUtf8(r.name), r.dxcc});
        return t;
    }();
    if (suffix == QLatin1String("MM")) return std::nullopt;
    for (qsizetype n = std::min<qsizetype>(4, call.size()); n > 0; --n) {
        auto it = table.constFind(call.left(n));
        if (it != table.constEnd()) return *it;
    }
    return std::nullopt;
}

// ---------------------------------------------------------------- a log, opened once per size

struct Session {
    int n = 0;
    std::unique_ptr<TDM> dm;
    std::unique_ptr<EntityCache> entities; // warmed: every QSO resolved once
    int band20 = 0, modeCw = 0;
    QDateTime yearFrom, yearTo;
};
std::unique_ptr<Session> g_session;

void endSession() {
    if (g_session && g_session->dm) g_session->dm->AbandonTables(); // nothing is written
    g_session.reset();
}

Session& session(int n) {
    if (g_session && g_session->n == n) return *g_session;
    endSession();
    auto s = std::make_unique<Session>();
    s->n = n;
    s->dm = std::make_unique<TDM>();
    s->dm->DataDir = g_logDirs.value(n);
    s->dm->OpenTables();
    TDM& dm = *s->dm;
    if (dm.dsBands->locate(fld::Name, QStringLiteral("20 м")))
        s->band20 = dm.dsBands->fieldByName(fld::ID).asInteger();
    if (dm.dsModes->locate(fld::Name, QStringLiteral("CW")))
        s->modeCw = dm.dsModes->fieldByName(fld::ID).asInteger();
    // a year in the middle of the log
    const int mid = dm.dsMain->recordCount() / 2;
    const QDateTime t = dm.dsMain->valueAt(mid, dm.dsMain->fieldIndex(fld::Time)).toDateTime();
    s->yearFrom = QDateTime(QDate(t.date().year(), 1, 1), QTime(0, 0));
    s->yearTo = QDateTime(QDate(t.date().year(), 12, 31), QTime(23, 59, 59, 999));
    s->entities = std::make_unique<EntityCache>(dm, prefixEntity);
    for (uint32_t slot : dm.dsMain->slotsInActiveOrder())
        s->entities->ofSlot(slot);
    g_session = std::move(s);
    return *g_session;
}

template <class F> void guarded(benchmark::State& state, F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    }
}

// ---------------------------------------------------------------- searches

enum Case {
    CallPart,
    CallPattern,
    CallSuffix,
    OneYear,
    BandMode,
    Name,
    City,
    Country,
    Notice,
    EntityName,
    Combined,
    NoCriteria,
    kCases
};
const char* const kCaseNames[] = {"call_part_UA3", "call_pattern_R?3*",     "call_suffix_*/P",
                                  "one_year",      "band_and_mode",         "name_серг",
                                  "city_МОСК",     "country_герм",          "notice_КОНТЕСТ",
                                  "entity_герм",   "call_year_band_notice", "no_criteria"};

SearchCriteria criteriaFor(const Session& s, int c) {
    SearchCriteria k;
    switch (c) {
    case CallPart:
        k.call = QStringLiteral("UA3");
        break;
    case CallPattern:
        k.call = QStringLiteral("R?3*");
        break;
    case CallSuffix:
        k.call = QStringLiteral("*/P");
        break;
    case OneYear:
        k.from = s.yearFrom;
        k.to = s.yearTo;
        break;
    case BandMode:
        k.bandId = s.band20;
        k.modeId = s.modeCw;
        break;
    case Name:
        k.name = QStringLiteral("серг");
        break;
    case City:
        k.city = QStringLiteral("МОСК");
        break;
    case Country:
        k.country = QStringLiteral("герм");
        break;
    case Notice:
        k.notice = QStringLiteral("КОНТЕСТ");
        break;
    case EntityName:
        k.entity = QStringLiteral("герм");
        break;
    case Combined:
        k.call = QStringLiteral("R");
        k.from = s.yearFrom;
        k.to = s.yearTo;
        k.bandId = s.band20;
        k.notice = QStringLiteral("qsl");
        break;
    default:
        break;
    }
    return k;
}

// One search from start to end, the way the window runs it: slices of
// SearchResults::kSliceMs; the longest slice is what typing may wait for.
void BM_Search(benchmark::State& state) {
    guarded(state, [&] {
        Session& s = session(int(state.range(0)));
        const SearchCriteria c = criteriaFor(s, int(state.range(1)));
        Samples whole, slice;
        size_t found = 0;
        for (auto _ : state) {
            double longest = 0;
            const auto t0 = SteadyClock::now();
            SearchJob job(*s.dm, c, s.entities.get());
            QElapsedTimer timer;
            bool done = false;
            while (!done) {
                const auto ts = SteadyClock::now();
                timer.start();
                done = job.step(timer, SearchResults::kSliceMs);
                longest = std::max(longest, secondsSince(ts));
            }
            const double w = secondsSince(t0);
            found = job.result().size();
            whole.add(w);
            slice.add(longest);
            state.SetIterationTime(w);
        }
        setMs(state, "median_ms", whole.median());
        setMs(state, "max_ms", whole.max());
        setMs(state, "longest_slice_ms", slice.max());
        state.counters["found"] = double(found);
        state.SetLabel(kCaseNames[state.range(1)]);
    });
}

// The operator types "UA3ABC" into the call sign: a new search on each
// character, each from start to end. Reported per keystroke.
void BM_TypeCall(benchmark::State& state) {
    guarded(state, [&] {
        Session& s = session(int(state.range(0)));
        const QString typed = QStringLiteral("UA3ABC");
        Samples key, slice;
        for (auto _ : state) {
            double total = 0;
            for (int k = 1; k <= typed.size(); ++k) {
                SearchCriteria c;
                c.call = typed.left(k);
                const auto t0 = SteadyClock::now();
                SearchJob job(*s.dm, c, s.entities.get());
                QElapsedTimer timer;
                bool done = false;
                double longest = 0;
                while (!done) {
                    const auto ts = SteadyClock::now();
                    timer.start();
                    done = job.step(timer, SearchResults::kSliceMs);
                    longest = std::max(longest, secondsSince(ts));
                }
                const double w = secondsSince(t0);
                key.add(w);
                slice.add(longest);
                total += w;
            }
            state.SetIterationTime(total / double(typed.size()));
        }
        setMs(state, "key_median_ms", key.median());
        setMs(state, "key_max_ms", key.max());
        setMs(state, "longest_slice_ms", slice.max());
    });
}

// Every QSO found, then sorted by a column (a click on its title).
void BM_Sort(benchmark::State& state) {
    guarded(state, [&] {
        Session& s = session(int(state.range(0)));
        static const QString fields[] = {fld::CorCallName, fld::Time, fld::CorCity, fld::Notice,
                                         QString()};
        const QString& field = fields[state.range(1)];
        SearchResults r(*s.dm);
        r.setEntityCache(s.entities.get());
        r.setCriteria({});
        r.finishNow();
        const int column = field.isEmpty() ? r.entityColumn() : r.columnOfField(field);
        Samples t;
        for (auto _ : state) {
            r.sort(-1);
            const double w = timed([&] { r.sort(column, Qt::AscendingOrder); });
            t.add(w);
            state.SetIterationTime(w);
        }
        setMs(state, "median_ms", t.median());
        setMs(state, "max_ms", t.max());
        state.counters["rows"] = r.count();
        state.SetLabel(field.isEmpty() ? "entity" : field.toStdString());
    });
}

// ---------------------------------------------------------------- statistics

// All the statistics: without entities, with the entities already resolved
// (the window's usual case), and with a fresh cache that resolves every
// station first (the first count after the program starts).
void BM_Statistics(benchmark::State& state) {
    guarded(state, [&] {
        Session& s = session(int(state.range(0)));
        const int kind = int(state.range(1));
        Samples t, slice;
        for (auto _ : state) {
            std::unique_ptr<EntityCache> fresh;
            EntityCache* cache = kind == 1 ? s.entities.get() : nullptr;
            if (kind == 2) {
                fresh = std::make_unique<EntityCache>(*s.dm, prefixEntity);
                cache = fresh.get();
            }
            const auto t0 = SteadyClock::now();
            StatsJob job(*s.dm, cache);
            QElapsedTimer timer;
            bool done = false;
            double longest = 0;
            while (!done) {
                const auto ts = SteadyClock::now();
                timer.start();
                done = job.step(timer, 8);
                longest = std::max(longest, secondsSince(ts));
            }
            const double w = secondsSince(t0);
            benchmark::DoNotOptimize(job.result().total);
            t.add(w);
            slice.add(longest);
            state.SetIterationTime(w);
        }
        setMs(state, "median_ms", t.median());
        setMs(state, "max_ms", t.max());
        setMs(state, "longest_slice_ms", slice.max());
        static const char* const kinds[] = {"no_entities", "entities_resolved",
                                            "entities_first_time"};
        state.SetLabel(kinds[kind]);
    });
}

void BM_FloorFdatasync(benchmark::State& state) {
    guarded(state,
            [&] { measureFsyncFloor(state, g_root + QStringLiteral("floor/fsync-probe.bin")); });
}

} // namespace

int main(int argc, char** argv) {
    std::vector<int> sizes;
    if (!initBenchmarks(argc, argv, &sizes)) return 1;
    QCoreApplication app(argc, argv);
    try {
        g_root = benchRoot();
        QDir().mkpath(g_root + QStringLiteral("floor"));
        for (int n : sizes)
            g_logDirs.insert(n, ensureLog(n));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_query: %s\n", e.what());
        return 1;
    }
    using benchmark::kMillisecond;
    benchmark::RegisterBenchmark("Floor/pwrite4K_fdatasync", BM_FloorFdatasync)
        ->UseManualTime()
        ->Unit(kMillisecond);
    for (int n : sizes) {
        const int reps = n >= 1000000 ? 5 : n >= 100000 ? 20 : 200;
        auto* search = benchmark::RegisterBenchmark("Search", BM_Search);
        for (int c = 0; c < kCases; ++c)
            search->Args({n, c});
        search->Iterations(reps)->UseManualTime()->Unit(kMillisecond);
        benchmark::RegisterBenchmark("TypeCall", BM_TypeCall)
            ->Arg(n)
            ->Iterations(std::max(3, reps / 2))
            ->UseManualTime()
            ->Unit(kMillisecond);
        auto* sort = benchmark::RegisterBenchmark("SortAll", BM_Sort);
        for (int c = 0; c < 5; ++c)
            sort->Args({n, c});
        sort->Iterations(std::max(3, reps / 4))->UseManualTime()->Unit(kMillisecond);
        auto* stats = benchmark::RegisterBenchmark("Statistics", BM_Statistics);
        for (int k = 0; k < 3; ++k)
            stats->Args({n, k});
        stats->Iterations(reps)->UseManualTime()->Unit(kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    endSession();
    QDir(g_root + QStringLiteral("floor")).removeRecursively();
    benchmark::Shutdown();
    return 0;
}
