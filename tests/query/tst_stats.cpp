// Every statistic of a random log against a count made the slow, obvious
// way: through the table's cursor and its lookup fields, with the entity
// asked of the provider itself.
#include "QueryTestUtil.h"
#include "query/LogStats.h"

#include <QCollator>
#include <QtTest>

using namespace qardel;

namespace {

const QString kNone = QStringLiteral("<none>");

struct Brute {
    int total = 0, withoutTime = 0, withoutEntity = 0;
    std::map<int, std::array<int, 13>> byYear;
    std::array<int, 24> byHour{};
    std::map<QString, std::map<QString, int>> bandMode;
    std::map<QString, int> bandTotals, modeTotals;
    std::map<QString, int> entityTotals;
    std::map<QString, std::map<QString, int>> entityBand, entityMode;
    std::map<QString, int> entitiesPerBand, entitiesPerMode;
    std::map<QString, int> perCall;
};

Brute bruteForce(TDM& dm, bool entities) {
    Brute b;
    Table& log = *dm.dsMain;
    for (log.first(); !log.eof(); log.next()) {
        ++b.total;
        const QDateTime t = log.fieldByName(fld::Time).asDateTime();
        if (!t.isValid()) {
            ++b.withoutTime;
        } else {
            ++b.byYear[t.date().year()][0];
            ++b.byYear[t.date().year()][size_t(t.date().month())];
            ++b.byHour[size_t(t.time().hour())];
        }
        // the grid's lookups: empty for a band deleted from its list
        QString band = log.fieldByName(fld::Band).asString();
        QString mode = log.fieldByName(fld::Mode).asString();
        if (band.isEmpty()) band = kNone;
        if (mode.isEmpty()) mode = kNone;
        ++b.bandMode[band][mode];
        ++b.bandTotals[band];
        ++b.modeTotals[mode];
        const QString call = log.fieldByName(fld::CorCallName).asString();
        ++b.perCall[call];
        if (!entities) continue;
        const auto e = qtest::fakeEntity(call, log.fieldByName(fld::CorSuffix).asString());
        if (!e) {
            ++b.withoutEntity;
            continue;
        }
        ++b.entityTotals[e->name];
        ++b.entityBand[e->name][band];
        ++b.entityMode[e->name][mode];
    }
    for (const auto& [e, perBand] : b.entityBand)
        for (const auto& [band, n] : perBand)
            if (n > 0) ++b.entitiesPerBand[band];
    for (const auto& [e, perMode] : b.entityMode)
        for (const auto& [mode, n] : perMode)
            if (n > 0) ++b.entitiesPerMode[mode];
    return b;
}

} // namespace

class TestStats : public QObject {
    Q_OBJECT

  private slots:
    void everyStatistic_data() {
        QTest::addColumn<int>("qsos");
        QTest::addColumn<unsigned>("seed");
        QTest::addColumn<bool>("entities");
        QTest::newRow("empty log") << 0 << 1u << true;
        QTest::newRow("a few QSOs") << 12 << 2u << true;
        QTest::newRow("3000 QSOs") << 3000 << 3u << true;
        QTest::newRow("3000 QSOs, no entities") << 3000 << 4u << false;
    }
    void everyStatistic() {
        QFETCH(int, qsos);
        QFETCH(unsigned, seed);
        QFETCH(bool, entities);
        qtest::LogFixture f;
        TDM& dm = f.dm;
        if (qsos > 0) qtest::randomLog(dm, qsos, seed);
        EntityCache cache(dm, qtest::fakeEntity);
        const LogStatistics s = computeStatistics(dm, entities ? &cache : nullptr);
        const Brute b = bruteForce(dm, entities);

        QCOMPARE(s.total, b.total);
        QCOMPARE(s.withoutTime, b.withoutTime);
        QCOMPARE(s.byYear, b.byYear);
        QCOMPARE(s.byHour, b.byHour);

        // bands and modes, by their names
        auto bandName = [&](size_t i) { return s.bandIds[i] > 0 ? s.bandNames[i] : kNone; };
        auto modeName = [&](size_t i) { return s.modeIds[i] > 0 ? s.modeNames[i] : kNone; };
        std::map<QString, std::map<QString, int>> bandMode;
        std::map<QString, int> bandTotals, modeTotals;
        for (size_t i = 0; i < s.bandIds.size(); ++i) {
            bandTotals[bandName(i)] = s.bandTotals[i];
            for (size_t m = 0; m < s.modeIds.size(); ++m)
                if (s.bandMode[i][m] > 0) bandMode[bandName(i)][modeName(m)] = s.bandMode[i][m];
        }
        for (size_t m = 0; m < s.modeIds.size(); ++m)
            modeTotals[modeName(m)] = s.modeTotals[m];
        QCOMPARE(bandMode, b.bandMode);
        QCOMPARE(bandTotals, b.bandTotals);
        QCOMPARE(modeTotals, b.modeTotals);
        // the axes: bands in their list's order, modes alphabetically, none last
        std::vector<int> bandIds(s.bandIds.begin(), s.bandIds.end());
        if (!bandIds.empty() && bandIds.back() == 0) bandIds.pop_back();
        QVERIFY(std::is_sorted(bandIds.begin(), bandIds.end()));
        QCollator collator{QLocale()};
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        for (size_t m = 1; m < s.modeIds.size(); ++m)
            if (s.modeIds[m] > 0) QVERIFY(collator.compare(s.modeNames[m - 1], s.modeNames[m]) < 0);
        for (size_t i = 0; i + 1 < s.bandIds.size(); ++i)
            QVERIFY(s.bandIds[i] > 0);

        // the most worked stations: most QSOs first, then by call sign
        std::vector<std::pair<QString, int>> calls(b.perCall.begin(), b.perCall.end());
        std::stable_sort(calls.begin(), calls.end(),
                         [](const auto& x, const auto& y) { return x.second > y.second; });
        calls.resize(std::min<size_t>(calls.size(), 20));
        std::vector<std::pair<QString, int>> top;
        for (const auto& [corId, n] : s.topStations)
            top.push_back({dm.dsCors->lookupValue(fld::ID, corId, fld::CallName, 0).toString(), n});
        QCOMPARE(top, calls);

        QCOMPARE(s.hasEntities, entities);
        if (!entities) {
            QVERIFY(s.entities.empty() && s.topEntities.empty());
            return;
        }
        QCOMPARE(s.withoutEntity, b.withoutEntity);
        std::map<QString, int> entityTotals;
        std::map<QString, std::map<QString, int>> entityBand, entityMode;
        std::map<QString, int> perBand, perMode;
        for (size_t e = 0; e < s.entities.size(); ++e) {
            const QString& name = s.entities[e].name;
            QVERIFY(!entityTotals.count(name)); // each entity once
            entityTotals[name] = s.entityTotals[e];
            for (size_t i = 0; i < s.bandIds.size(); ++i)
                if (s.entityBand[e][i] > 0) entityBand[name][bandName(i)] = s.entityBand[e][i];
            for (size_t m = 0; m < s.modeIds.size(); ++m)
                if (s.entityMode[e][m] > 0) entityMode[name][modeName(m)] = s.entityMode[e][m];
            if (e > 0) QVERIFY(collator.compare(s.entities[e - 1].name, name) <= 0);
        }
        for (size_t i = 0; i < s.bandIds.size(); ++i)
            if (s.entitiesPerBand[i] > 0) perBand[bandName(i)] = s.entitiesPerBand[i];
        for (size_t m = 0; m < s.modeIds.size(); ++m)
            if (s.entitiesPerMode[m] > 0) perMode[modeName(m)] = s.entitiesPerMode[m];
        QCOMPARE(entityTotals, b.entityTotals);
        QCOMPARE(entityBand, b.entityBand);
        QCOMPARE(entityMode, b.entityMode);
        QCOMPARE(perBand, b.entitiesPerBand);
        QCOMPARE(perMode, b.entitiesPerMode);
        // the most worked entities: most QSOs first, then by name
        std::vector<std::pair<QString, int>> ents(b.entityTotals.begin(), b.entityTotals.end());
        std::stable_sort(ents.begin(), ents.end(), [&](const auto& x, const auto& y) {
            return x.second != y.second ? x.second > y.second
                                        : collator.compare(x.first, y.first) < 0;
        });
        ents.resize(std::min<size_t>(ents.size(), 20));
        std::vector<std::pair<QString, int>> topE;
        for (const auto& [e, n] : s.topEntities)
            topE.push_back({s.entities[size_t(e)].name, n});
        QCOMPARE(topE, ents);
    }

    // Counted in slices, the figures are those counted in one piece.
    void slices() {
        qtest::LogFixture f;
        qtest::randomLog(f.dm, 20000, 9);
        EntityCache cache(f.dm, qtest::fakeEntity);
        const LogStatistics whole = computeStatistics(f.dm, &cache);
        StatsJob job(f.dm, &cache);
        QElapsedTimer spent;
        spent.start();
        int steps = 0;
        while (!job.step(spent, -1))
            ++steps;
        QVERIFY(steps > 2);
        const LogStatistics& s = job.result();
        QCOMPARE(s.byYear, whole.byYear);
        QCOMPARE(s.bandMode, whole.bandMode);
        QCOMPARE(s.entityBand, whole.entityBand);
        QCOMPARE(s.topStations, whole.topStations);
        QCOMPARE(s.topEntities, whole.topEntities);
    }
};

QTEST_GUILESS_MAIN(TestStats)
#include "tst_stats.moc"
