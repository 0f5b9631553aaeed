// Writes the seed files of the table-file fuzzer: real table files made by
// the program's own engine, each prefixed with the byte that picks its table.
#include "data/uDM.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace qardel;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) return 2;
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    QTemporaryDir tmp;
    TDM dm;
    dm.DataDir = tmp.path() + QLatin1Char('/');
    dm.OpenTables();
    auto add = [](Table& t, const QList<QPair<const char*, QVariant>>& v) {
        t.append();
        for (const auto& p : v)
            t.fieldByName(QLatin1String(p.first)).setValue(p.second);
        t.post();
    };
    add(*dm.dsNames, {{"Value", QStringLiteral("Иван")}});
    add(*dm.dsCityes, {{"Name", QStringLiteral("Москва")}});
    add(*dm.dsCountryes, {{"Name", QStringLiteral("Россия")}});
    add(*dm.dsRS, {{"Value", QStringLiteral("59")}});
    add(*dm.dsModes, {{"Name", QStringLiteral("SSB")}});
    add(*dm.dsBands, {{"Name", QStringLiteral("20m")},
                      {"Begin", 14.0},
                      {"End", 14.35},
                      {"DefPower", 100.0},
                      {"DefModeID", 1}});
    add(*dm.dsCors, {{"CallName", QStringLiteral("UA3AAA")}, {"NameID", 1}, {"CityID", 1}});
    for (int i = 0; i < 3; ++i)
        add(*dm.dsMain, {{"CorID", 1},
                         {"Notice", QStringLiteral("строка %1\nещё").arg(i)},
                         {"CorPower", 0.1 * i},
                         {"Repeater", i % 2 == 0},
                         {"CorCity", QStringLiteral("Москва")}});
    dm.SetIntSetting(QStringLiteral("LastBand"), 1);
    dm.CloseTables();
    const QStringList files = {"Main.db",    "Cors.db", "Bands.db", "Modes.db", "RS.db",
                               "Country.db", "City.db", "Names.db", "Ini.db"};
    for (int i = 0; i < files.size(); ++i) {
        QFile in(dm.DataDir + files[i]);
        if (!in.open(QIODevice::ReadOnly)) return 1;
        QFile o(out + QLatin1Char('/') + files[i]);
        if (!o.open(QIODevice::WriteOnly)) return 1;
        o.write(QByteArray(1, char(i)) + in.readAll());
    }
    return 0;
}
