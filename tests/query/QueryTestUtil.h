// Helpers for the search and statistics tests: a data module on a fresh
// folder, QSOs added row by row, a random log with the corners a real one has
// (suffixes, Cyrillic in every letter case, QSOs without band, mode, time or
// name, a band deleted from its list), and a stand-in for the call-sign
// card's entity resolution.
#pragma once

#include "data/Fields.h"
#include "data/uDM.h"
#include "query/Entity.h"

#include <QDateTime>
#include <QTemporaryDir>

#include <map>
#include <optional>
#include <random>

namespace qtest {

using namespace qardel;

struct LogFixture {
    QTemporaryDir dir;
    TDM dm;
    LogFixture() {
        dm.DataDir = dir.path() + QLatin1Char('/');
        dm.OpenTables();
    }
    ~LogFixture() { dm.AbandonTables(); }
};

inline int addRow(Table& t, const std::map<QString, QVariant>& values) {
    t.append();
    for (const auto& [k, v] : values)
        t.fieldByName(k).setValue(v);
    t.post();
    return t.fieldByName(fld::ID).asInteger();
}

// The entity of a call sign by its first letters, as a prefix table gives
// it; maritime mobile and unknown prefixes have none.
inline std::optional<Entity> fakeEntity(const QString& call, const QString& suffix) {
    if (suffix.compare(QLatin1String("MM"), Qt::CaseInsensitive) == 0) return std::nullopt;
    static const std::pair<const char*, Entity> kPrefixes[] = {
        {"UA9", {QStringLiteral("Азиатская Россия"), 15}},
        {"UA", {QStringLiteral("Европейская Россия"), 54}},
        {"R", {QStringLiteral("Европейская Россия"), 54}},
        {"DL", {QStringLiteral("Германия"), 230}},
        {"K", {QStringLiteral("США"), 291}},
        {"W", {QStringLiteral("США"), 291}},
        {"JA", {QStringLiteral("Япония"), 339}},
        {"UR", {QStringLiteral("Украина"), 288}},
        {"EW", {QStringLiteral("Беларусь"), 27}},
    };
    for (const auto& [prefix, e] : kPrefixes)
        if (call.startsWith(QLatin1String(prefix), Qt::CaseInsensitive)) return e;
    return std::nullopt;
}

// A random log of n QSOs over several years, the same for the same seed.
inline void randomLog(TDM& dm, int n, unsigned seed) {
    std::mt19937 rng(seed);
    auto below = [&rng](int k) { return int(rng() % unsigned(k)); };
    std::vector<int> bands, modes, names;
    for (const char* b : {"160 м", "80 м", "40 м", "20 м", "2 м", "70 см"})
        bands.push_back(addRow(*dm.dsBands, {{fld::Name, QString::fromUtf8(b)}}));
    const int gone = addRow(*dm.dsBands, {{fld::Name, QStringLiteral("6 м")}});
    for (const char* m : {"SSB", "CW", "FM", "FT8", "цифра"})
        modes.push_back(addRow(*dm.dsModes, {{fld::Name, QString::fromUtf8(m)}}));
    for (const char* m : {"Вася", "Ёжик", "Пётр", "John", "Hans", "ОЛЕГ"})
        names.push_back(addRow(*dm.dsNames, {{fld::Value, QString::fromUtf8(m)}}));
    const char* prefixes[] = {"UA3", "UA9", "RA1", "RV6", "DL1", "K2",
                              "W5",  "JA1", "UR5", "EW8", "9A2"};
    std::vector<int> cors;
    for (int i = 0; i < std::max(4, n / 6); ++i) {
        QString call = QString::fromLatin1(prefixes[below(int(std::size(prefixes)))]);
        for (int k = 0; k < 2 + below(2); ++k)
            call += QChar(u'A' + below(26));
        if (dm.dsCors->locate(fld::CallName, call)) continue;
        std::map<QString, QVariant> row{{fld::CallName, call}};
        if (below(5) > 0) row[fld::NameID] = names[size_t(below(int(names.size())))];
        cors.push_back(addRow(*dm.dsCors, row));
    }
    const char* cities[] = {"Москва", "москва", "Санкт-Петербург", "Берлин", "Tokyo", "Ёлкино", ""};
    const char* countries[] = {"Россия", "РОССИЯ", "Германия", "Japan", "США", ""};
    const char* notices[] = {"QSL via бюро", "qsl direct", "Контест RDA", "КОНТЕСТ", "Ёлка", "", "",
                             "две\nстроки"};
    const char* suffixes[] = {"", "", "", "", "", "", "P", "MM", "QRP", "9"};
    const QDateTime start(QDate(2019, 1, 1), QTime(0, 0));
    for (int i = 0; i < n; ++i) {
        std::map<QString, QVariant> row{{fld::CorID, cors[size_t(below(int(cors.size())))]}};
        // mostly in time order, as a log is written; a few out of it, a few without time
        if (below(40) > 0)
            row[fld::Time] = start.addSecs(qint64(i) * 86400 * 5 * 365 / std::max(1, n) +
                                           below(86400) - (below(20) == 0 ? 86400 * 40 : 0));
        else
            row[fld::Time] = QVariant();
        const int b = below(int(bands.size()) + 2);
        if (b < int(bands.size()))
            row[fld::BandID] = bands[size_t(b)];
        else if (b == int(bands.size()))
            row[fld::BandID] = gone;
        if (below(12) > 0) row[fld::ModeID] = modes[size_t(below(int(modes.size())))];
        row[fld::CorSuffix] = QString::fromLatin1(suffixes[below(int(std::size(suffixes)))]);
        row[fld::CorCity] = QString::fromUtf8(cities[below(int(std::size(cities)))]);
        row[fld::CorCountry] = QString::fromUtf8(countries[below(int(std::size(countries)))]);
        row[fld::Notice] = QString::fromUtf8(notices[below(int(std::size(notices)))]);
        if (below(3) > 0) row[fld::CorPower] = double(below(200)) / 2;
        row[fld::Repeater] = below(10) == 0;
        addRow(*dm.dsMain, row);
    }
    // a band no longer in its list: its QSOs have none
    dm.dsBands->locate(fld::ID, gone);
    dm.dsBands->deleteRecord();
}

} // namespace qtest
