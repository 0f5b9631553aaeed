// Realistic logbooks for the benchmarks: call signs with real prefixes,
// Russian first names, cities, countries, reports, bands and modes, notices on
// about a third of the QSOs. Everything is written through the program's own
// data module (TDM), so the files are exactly what the program writes.
//
// The generator is deterministic: the same QSO count and seed give the same
// log, row for row.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

namespace qardel {
class TDM;
} // namespace qardel

namespace qardel::bench {

// A small, fast, portable random source (xoshiro256**, seeded by splitmix64);
// unlike the standard distributions it gives the same numbers everywhere.
class Rng {
  public:
    explicit Rng(uint64_t seed);
    uint64_t next();
    // uniform in [0, n)
    uint32_t below(uint32_t n);
    // uniform in [lo, hi]
    int between(int lo, int hi) { return lo + int(below(uint32_t(hi - lo + 1))); }
    double unit(); // [0, 1)
    bool chance(double p) { return unit() < p; }

  private:
    uint64_t s[4];
};

struct GenCounts {
    int qsos = 0;
    int correspondents = 0;
    int names = 0;
    int cities = 0;
    int countries = 0;
    int reports = 0;
    int bands = 0;
    int modes = 0;
    int notices = 0;
};

constexpr uint64_t kDefaultSeed = 0x5141524445'4cULL; // "QARDEL"

// Bumped whenever the generated content changes, so stale caches are redone.
constexpr int kGeneratorVersion = 2;

// The folder that holds generated logs and scratch copies: $QARDEL_BENCH_DIR
// when set, else <build folder>/bench-data. Ends with '/'. Created on demand.
QString benchRoot();

// Fills an empty (or missing) folder with a log of qsos QSOs and qsos/5
// correspondents through a TDM: OpenTables on the empty folder, rows appended
// and posted, one SaveAll at the end.
GenCounts generateLog(const QString& dir, int qsos, uint64_t seed = kDefaultSeed);

// The folder of a generated log of qsos QSOs under benchRoot(), generated on
// first use and reused afterwards; a new generator version or a change of
// the engine's file format (format version, stored fields, declared types)
// makes a new one. Ends with '/'. Progress goes to stderr.
QString ensureLog(int qsos);

// Copies the table files of a log folder to a fresh folder (removed first)
// and syncs them, so the benchmarks that write never touch the cached log.
// Returns the new folder, ending with '/'.
QString copyLog(const QString& from, const QString& to);

// A new call sign with a realistic prefix (not checked for uniqueness).
QString randomCallSign(Rng& rng);

// The reference lists the generator uses.
QStringList russianFirstNames();
QStringList countryNames();

} // namespace qardel::bench
