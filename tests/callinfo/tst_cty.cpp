// Call sign -> entity: every prefix and full call of the system's country
// files, the portable forms, the overrides and the choice of the file.
#include "TestUtil.h"
#include "callinfo/Cty.h"
#include "callinfo/Locator.h"
#include "callinfo/Scp.h"
#include "callinfo/Sources.h"

#include <QFile>
#include <QTest>

#include <cmath>

using namespace qardel::callinfo;

namespace {

const QString kSystem = QStringLiteral("/usr/share/hamradio-files");

QByteArray readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    f.write(bytes);
}

// One line of cty.csv read with nothing but splitting, to hold the parser
// against: the entity and each of its prefixes and full calls.
struct CsvLine {
    QString prefix, name;
    int dxcc = 0, cq = 0, itu = 0;
    QString cont;
    bool wae = false;
    struct Key {
        QString key;
        bool fullCall = false; // "=CALL"
        int cq = 0, itu = 0;   // 0: the entity's
    };
    QList<Key> keys;
};

CsvLine::Key keyOf(QString k) {
    CsvLine::Key key;
    key.fullCall = k.startsWith(QLatin1Char('='));
    if (key.fullCall) k.remove(0, 1);
    const qsizetype open = k.indexOf(QLatin1Char('('));
    if (open >= 0) key.cq = k.mid(open + 1, k.indexOf(QLatin1Char(')')) - open - 1).toInt();
    const qsizetype sq = k.indexOf(QLatin1Char('['));
    if (sq >= 0) key.itu = k.mid(sq + 1, k.indexOf(QLatin1Char(']')) - sq - 1).toInt();
    key.key = k.left(k.indexOf(QRegularExpression(QStringLiteral("[\\(\\[<{~]"))));
    return key;
}

QList<CsvLine> readCsv(const QByteArray& bytes) {
    QList<CsvLine> out;
    for (const QByteArray& raw : bytes.split('\n')) {
        const QString line = QString::fromLatin1(raw).trimmed();
        if (line.isEmpty()) continue;
        const QStringList f = line.split(QLatin1Char(','));
        CsvLine l;
        l.wae = f[0].startsWith(QLatin1Char('*'));
        l.prefix = l.wae ? f[0].mid(1) : f[0];
        l.name = f[1];
        l.dxcc = f[2].toInt();
        l.cont = f[3];
        l.cq = f[4].toInt();
        l.itu = f[5].toInt();
        QString keys = f[9];
        keys.chop(1); // ';'
        for (const QString& k : keys.split(QLatin1Char(' '), Qt::SkipEmptyParts))
            l.keys << keyOf(k);
        out << l;
    }
    return out;
}

// cty.dat: a header of eight fields separated by colons, then the keys
// separated by commas up to a semicolon
QList<CsvLine> readDat(const QByteArray& bytes) {
    QList<CsvLine> out;
    for (const QString& entity : QString::fromLatin1(bytes).split(QLatin1Char(';'))) {
        if (entity.trimmed().isEmpty()) continue;
        const qsizetype nl = entity.indexOf(QLatin1Char('\n'), entity.indexOf(QLatin1Char(':')));
        const QStringList f = entity.left(nl).trimmed().split(QLatin1Char(':'));
        CsvLine l;
        l.wae = f[7].trimmed().startsWith(QLatin1Char('*'));
        l.prefix = f[7].trimmed().mid(l.wae ? 1 : 0);
        l.name = f[0].trimmed();
        l.cq = f[1].toInt();
        l.itu = f[2].toInt();
        l.cont = f[3].trimmed();
        for (const QString& k : entity.mid(nl).split(QLatin1Char(','), Qt::SkipEmptyParts))
            if (!k.trimmed().isEmpty()) l.keys << keyOf(k.trimmed());
        out << l;
    }
    return out;
}

// What the card needs of an answer, as one line to compare.
QString describe(const CtyData& cty, const CallInfo& i) {
    switch (i.kind) {
    case CallInfo::Kind::Unknown:
        return QStringLiteral("unknown");
    case CallInfo::Kind::Maritime:
        return QStringLiteral("maritime");
    case CallInfo::Kind::Aero:
        return QStringLiteral("aero");
    case CallInfo::Kind::Entity:
        break;
    }
    QString s = cty.entity(i.entity).name;
    if (i.waeEntity >= 0) s += QStringLiteral(" (WAE %1)").arg(cty.entity(i.waeEntity).name);
    return s + QStringLiteral(" %1 cq%2 itu%3").arg(i.continent).arg(i.cq).arg(i.itu);
}

// A small country file written for the rules the system's files do not use.
const char* kSmallDat =
    "Alpha Land:               10:  20:  EU:   50.00:   -10.00:    -1.0:  AL:\n"
    "    AL,AL5(11)[21],AL7<40.5/-20.25>~-3.5~,=AL1XYZ{AS}(12),=AL2/P[22],\n"
    "    =VER20240101;\n"
    "Beta Island:              30:  40:  OC:  -20.00:   150.00:   -10.0:  *BI:\n"
    "    AL9,=AL1BI;\n"
    "Gamma:                    05:  08:  NA:   40.00:    75.00:     5.0:  GA:\n"
    "    GA,G;\n";
const char* kSmallCsv =
    "AL,Alpha Land,901,EU,10,20,50.00,-10.00,-1.0,AL AL5(11)[21] AL7<40.5/-20.25>~-3.5~ "
    "=AL1XYZ{AS}(12) =AL2/P[22] =VER20240101;\n"
    "*BI,Beta Island,901,OC,30,40,-20.00,150.00,-10.0,AL9 =AL1BI;\n"
    "GA,Gamma,903,NA,5,8,40.00,75.00,5.0,GA G;\n";

} // namespace

class TestCty : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        QVERIFY2(QFile::exists(kSystem + QStringLiteral("/cty.csv")),
                 "hamradio-files is not installed: run tools/deps.sh");
    }

    // Every prefix and full call of the system's file, in both forms of the
    // file, finds the entity of its own line, with that line's zones.
    void everyKeyOfTheSystemFile_data() {
        QTest::addColumn<QString>("file");
        QTest::newRow("cty.csv") << QStringLiteral("cty.csv");
        QTest::newRow("cty.dat") << QStringLiteral("cty.dat");
    }
    void everyKeyOfTheSystemFile() {
        QFETCH(QString, file);
        const QString path = kSystem + QLatin1Char('/') + file;
        // the two forms of one release differ in a few keys: each is held
        // against its own text
        const QList<CsvLine> lines = file.endsWith(QLatin1String(".csv")) ? readCsv(readFile(path))
                                                                          : readDat(readFile(path));
        const CtyData cty = CtyData::readFile(path);
        QCOMPARE(int(cty.entities().size()), int(lines.size()));
        // a key both a WAE entity and its DXCC entity list is the WAE
        // entity's; a full call is found before a prefix of the same letters
        QHash<QString, const CsvLine*> waeKeys, fullCalls;
        QSet<QString> fullCallsOfWae;
        for (const CsvLine& l : lines)
            for (const auto& k : l.keys) {
                if (l.wae) waeKeys.insert(k.key, &l);
                if (k.fullCall) fullCalls.insert(k.key, &l);
            }
        QStringList wrong;
        int checked = 0;
        for (const CsvLine& l : lines) {
            for (const CsvLine::Key& k : l.keys) {
                if (!l.wae && waeKeys.contains(k.key)) continue;
                if (!k.fullCall && fullCalls.contains(k.key)) continue;
                const CallInfo i = cty.resolve(k.key, QStringView());
                // entities by their primary prefix: cty.dat spells some names otherwise
                const QString place = i.waeEntity >= 0 ? cty.entity(i.waeEntity).prefix
                                      : i.entity >= 0  ? cty.entity(i.entity).prefix
                                                       : QString();
                const int cq = k.cq ? k.cq : l.cq, itu = k.itu ? k.itu : l.itu;
                ++checked;
                if (!i.hasEntity() || place != l.prefix || i.cq != cq || i.itu != itu)
                    wrong << QStringLiteral("%1: %2, expected %3 cq%4 itu%5")
                                 .arg(k.key, describe(cty, i), l.name)
                                 .arg(cq)
                                 .arg(itu);
                // a WAE entity counts for the DXCC entity of its number
                if (i.hasEntity() && cty.entity(i.entity).waeOnly)
                    wrong << k.key + QStringLiteral(": counts for a WAE entity");
                if (file == QLatin1String("cty.csv") && i.hasEntity() &&
                    cty.entity(i.entity).dxcc != l.dxcc)
                    wrong << QStringLiteral("%1: DXCC %2, expected %3")
                                 .arg(k.key)
                                 .arg(cty.entity(i.entity).dxcc)
                                 .arg(l.dxcc);
            }
        }
        QVERIFY(checked > 20000);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.mid(0, 10).join(QLatin1Char('\n'))));
    }

    // The rules beyond the file's own keys, on the system's data.
    void rules_data() {
        QTest::addColumn<QString>("call");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QString>("expected");
        auto row = [](const char* name, const char* call, const char* suffix, const char* exp) {
            QTest::newRow(name) << QString::fromLatin1(call) << QString::fromLatin1(suffix)
                                << QString::fromUtf8(exp);
        };
        row("plain call", "UA3AAA", "", "European Russia EU cq16 itu29");
        row("longer prefix wins", "UA9AAA", "", "Asiatic Russia AS cq17 itu30");
        row("prefix override", "UA0BAA", "", "Asiatic Russia AS cq18 itu32");
        row("call area moved", "UA3AAA", "9", "Asiatic Russia AS cq17 itu30");
        row("call area moved to Crete", "SV1ABC", "9", "Crete EU cq20 itu28");
        row("call area", "K1ABC", "", "United States NA cq5 itu8");
        row("call area moves the zone", "K1ABC", "6", "United States NA cq3 itu6");
        row("call area where nothing changes", "DL1ABC", "5", "Fed. Rep. of Germany EU cq14 itu28");
        row("digit group as the area", "R25EMW", "9", "Asiatic Russia AS cq17 itu30");
        row("location after the call", "DL1ABC", "EA8", "Canary Islands AF cq33 itu36");
        row("location letters only", "UA3AAA", "F", "France EU cq14 itu27");
        row("location typed in lower case", "W1AW", "kh6", "Hawaii OC cq31 itu61");
        row("portable", "DL1ABC", "P", "Fed. Rep. of Germany EU cq14 itu28");
        row("portable lower case", "DL1ABC", "p", "Fed. Rep. of Germany EU cq14 itu28");
        row("mobile (M is also a prefix)", "DL1ABC", "M", "Fed. Rep. of Germany EU cq14 itu28");
        row("QRP", "DL1ABC", "QRP", "Fed. Rep. of Germany EU cq14 itu28");
        row("lighthouse (LH is also a prefix)", "DL1ABC", "LH",
            "Fed. Rep. of Germany EU cq14 itu28");
        row("unknown word ignored", "DL1ABC", "QQ", "Fed. Rep. of Germany EU cq14 itu28");
        row("maritime mobile", "DL1ABC", "MM", "maritime");
        row("aeronautical mobile", "DL1ABC", "AM", "aero");
        row("listed maritime call", "II0PN", "MM", "Italy EU cq40 itu28");
        row("full call with suffix", "3D2AG", "P", "Rotuma Island OC cq32 itu56");
        row("full call exception", "R0FK", "", "Asiatic Russia AS cq40 itu75");
        row("exception only with its suffix", "R0FK", "M", "Asiatic Russia AS cq40 itu75");
        row("WAE entity", "IT9ABC", "", "Italy (WAE Sicily) EU cq15 itu28");
        row("WAE entity elsewhere", "IG9ABC", "", "Italy (WAE African Italy) AF cq33 itu37");
        row("WAE full call", "4U1VIC", "", "Austria (WAE Vienna Intl Ctr) EU cq15 itu28");
        row("WAE by its DXCC prefix", "2M0BDR", "",
            "Scotland (WAE Shetland Islands) EU cq14 itu27");
        row("suffix with slashes", "UA3AAA", "P/9", "Asiatic Russia AS cq17 itu30");
        row("empty call", "", "", "unknown");
        row("not a call", "ЖЖЖ", "", "unknown");
    }
    void rules() {
        QFETCH(QString, call);
        QFETCH(QString, suffix);
        QFETCH(QString, expected);
        static const CtyData cty = CtyData::readFile(kSystem + QStringLiteral("/cty.csv"));
        const CallInfo info = cty.resolve(call, suffix);
        QCOMPARE(describe(cty, info), expected);
        // the short way a whole log is counted gives the same entity
        QCOMPARE(cty.entityOf(call, suffix), info.entity);
    }

    // Call signs as other logs write them, with slashes on either side.
    void slashForms_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        auto row = [](const char* text, const char* exp) {
            QTest::newRow(text) << QString::fromLatin1(text) << QString::fromUtf8(exp);
        };
        row("EA8/DL1ABC", "Canary Islands AF cq33 itu36");
        row("F/UA3AAA", "France EU cq14 itu27");
        row("DL1ABC/EA8", "Canary Islands AF cq33 itu36");
        row("UA3AAA/9/P", "Asiatic Russia AS cq17 itu30");
        row("EA8/DL1ABC/P", "Canary Islands AF cq33 itu36");
        row("DL1ABC/MM", "maritime");
        row("KH6/W1AW", "Hawaii OC cq31 itu61");
        row("R4CDO/9/M", "Asiatic Russia AS cq18 itu30");
        row("/P", "unknown");
    }
    void slashForms() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        static const CtyData cty = CtyData::readFile(kSystem + QStringLiteral("/cty.csv"));
        QCOMPARE(describe(cty, cty.resolve(text)), expected);
    }

    // The overrides the system's file does not use, the signs of longitude
    // and time, a WAE entity, in both forms of the file.
    void smallFile_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("format");
        QTest::newRow("csv") << QByteArray(kSmallCsv) << int(CtyData::Format::Csv);
        QTest::newRow("dat") << QByteArray(kSmallDat) << int(CtyData::Format::Dat);
    }
    void smallFile() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, format);
        const CtyData cty = CtyData::parse(bytes, CtyData::Format(format));
        QCOMPARE(cty.version(), QDate(2024, 1, 1));
        const Entity& alpha = cty.entity(cty.entityByPrefix(QStringLiteral("AL")));
        QCOMPARE(alpha.lon, 10.0); // east positive
        QCOMPARE(alpha.utcOffset, 1.0);
        QVERIFY(cty.entity(cty.entityByPrefix(QStringLiteral("BI"))).waeOnly);

        auto full = [&](const char* call, const char* suffix) {
            const CallInfo i = cty.resolve(QString::fromLatin1(call), QString::fromLatin1(suffix));
            return describe(cty, i) + QStringLiteral(" %1/%2 utc%3 by %4")
                                          .arg(i.lat)
                                          .arg(i.lon)
                                          .arg(i.utcOffset)
                                          .arg(i.matched);
        };
        const QStringList got = {
            full("AL1AA", ""),   full("AL5AA", ""), full("AL7AA", ""), full("AL1XYZ", ""),
            full("AL2", "P"),    full("AL2", ""),   full("AL9AA", ""), full("AL1BI", ""),
            full("GA1AA", "AL"), full("XX1AA", ""), full("G", ""),
        };
        const QStringList expected = {
            "Alpha Land EU cq10 itu20 50/10 utc1 by AL",
            "Alpha Land EU cq11 itu21 50/10 utc1 by AL5",
            "Alpha Land EU cq10 itu20 40.5/20.25 utc3.5 by AL7",
            "Alpha Land AS cq12 itu20 50/10 utc1 by =AL1XYZ",
            "Alpha Land EU cq10 itu22 50/10 utc1 by =AL2/P",
            "Alpha Land EU cq10 itu20 50/10 utc1 by AL",
            // a WAE entity whose calls its DXCC entity does not list: the
            // DXCC entity's prefixes alone decide
            "Alpha Land (WAE Beta Island) OC cq30 itu40 -20/-150 utc10 by AL9",
            "Alpha Land (WAE Beta Island) OC cq30 itu40 -20/-150 utc10 by =AL1BI",
            "Alpha Land EU cq10 itu20 50/10 utc1 by AL",
            "unknown 0/0 utc0 by ",
            "Gamma NA cq5 itu8 40/-75 utc-5 by G",
        };
        QCOMPARE(got, expected);
    }

    // A file not in the format says which line is wrong.
    void brokenFiles_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("error");
        const int csv = int(CtyData::Format::Csv), dat = int(CtyData::Format::Dat);
        QTest::newRow("empty") << QByteArray() << csv << "в файле нет ни одной страны";
        QTest::newRow("binary") << QByteArray("AL\0x", 4) << csv << "это не текстовый файл стран";
        QTest::newRow("csv short line") << QByteArray("GA,Gamma,903,NA;\n") << csv
                                        << "строка 1: ожидалось 10 полей через запятую";
        QTest::newRow("csv bad zone")
            << QByteArray("GA,Gamma,903,NA,5,8,40,75,5,GA;\nGB,G,1,NA,x,8,40,75,5,GB;\n") << csv
            << "строка 2: заголовок страны не в формате файла";
        QTest::newRow("csv no semicolon") << QByteArray("GA,Gamma,903,NA,5,8,40,75,5,GA\n") << csv
                                          << "строка 1: список префиксов не кончается «;»";
        QTest::newRow("csv bad continent") << QByteArray("GA,Gamma,903,XX,5,8,40,75,5,GA;\n") << csv
                                           << "строка 1: заголовок страны не в формате файла";
        QTest::newRow("csv bad override") << QByteArray("GA,Gamma,903,NA,5,8,40,75,5,GA(x);\n")
                                          << csv << "строка 1: неверное уточнение в «GA(x)»";
        QTest::newRow("csv open bracket") << QByteArray("GA,Gamma,903,NA,5,8,40,75,5,GA[8;\n")
                                          << csv << "строка 1: не закрыта скобка в «GA[8»";
        QTest::newRow("dat unclosed")
            << QByteArray("Gamma: 5: 8: NA: 40: 75: 5: GA:\n    GA,\nDelta: 5: 8: NA: 40: 75: 5: "
                          "DE:\n    DE;\n")
            << dat << "строка 3: прежняя страна не закрыта «;»";
        QTest::newRow("dat unclosed at end") << QByteArray("Gamma: 5: 8: NA: 40: 75: 5: GA:\n GA\n")
                                             << dat << "строка 2: последняя страна не закрыта «;»";
        QTest::newRow("dat prefixes first")
            << QByteArray("    GA;\n") << dat << "строка 1: префиксы без заголовка страны";
        QTest::newRow("dat short header") << QByteArray("Gamma: 5: 8: NA:\n    GA;\n") << dat
                                          << "строка 1: ожидалось 8 полей через двоеточие";
        QTest::newRow("csv read as dat")
            << QByteArray(kSmallCsv) << dat << "строка 1: ожидалось 8 полей через двоеточие";
    }
    void brokenFiles() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, format);
        QFETCH(QString, error);
        try {
            CtyData::parse(bytes, CtyData::Format(format));
            QFAIL("the file was taken");
        } catch (const CtyError& e) {
            QCOMPARE(e.message(), error);
        }
    }

    // Which copy is read: the newer release, the data folder's of two equal
    // ones, the modification day when a file names no release, a readable
    // older one when the newer cannot be read.
    void choosingTheFile_data() {
        QTest::addColumn<QStringList>("dataFiles"); // name:version[:broken]
        QTest::addColumn<QStringList>("systemFiles");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("problem"); // a part of it
        auto row = [](const char* name, QStringList d, QStringList s, const char* chosen,
                      const char* problem) {
            QTest::newRow(name) << d << s << QString::fromLatin1(chosen)
                                << QString::fromUtf8(problem);
        };
        row("system only", {}, {"cty.csv:20230502"}, "system/cty.csv", "");
        row("newer in the data folder", {"cty.csv:20240101"}, {"cty.csv:20230502"}, "data/cty.csv",
            "");
        row("older in the data folder", {"cty.csv:20220101"}, {"cty.csv:20230502"},
            "system/cty.csv", "");
        row("same release", {"cty.csv:20230502"}, {"cty.csv:20230502"}, "data/cty.csv", "");
        row("csv before dat", {}, {"cty.dat:20230502", "cty.csv:20230502"}, "system/cty.csv", "");
        row("newer dat", {"cty.dat:20240101"}, {"cty.csv:20230502"}, "data/cty.dat", "");
        row("no release: modified later", {"cty.csv:-:later"}, {"cty.csv:-"}, "data/cty.csv", "");
        row("no release: modified earlier", {"cty.csv:-:earlier"}, {"cty.csv:-"}, "system/cty.csv",
            "");
        row("newer copy broken", {"cty.csv:20240101:broken"}, {"cty.csv:20230502"},
            "system/cty.csv", "строка 1");
        row("all broken", {"cty.csv:20240101:broken"}, {"cty.dat:20230502:broken"}, "", "строка 1");
        row("none", {}, {}, "", "cty.csv и cty.dat нет ни в");
    }
    void choosingTheFile() {
        QFETCH(QStringList, dataFiles);
        QFETCH(QStringList, systemFiles);
        QFETCH(QString, chosen);
        QFETCH(QString, problem);
        TempDataDir root;
        const QString data = root.path() + QStringLiteral("data/"),
                      sys = root.path() + QStringLiteral("system/");
        QDir().mkpath(data);
        QDir().mkpath(sys);
        // name:version[:broken]
        auto make = [](const QString& dir, const QString& file) {
            const QStringList p = file.split(QLatin1Char(':'));
            const QString path = dir + p[0];
            QByteArray bytes = p[0].endsWith(QLatin1String(".csv")) ? kSmallCsv : kSmallDat;
            bytes.replace("=VER20240101",
                          p[1] == QLatin1String("-") ? QByteArray() : "=VER" + p[1].toLatin1());
            if (p.value(2) == QLatin1String("broken")) bytes = "x,y;\n";
            writeFile(path, bytes);
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            const QDateTime base(QDate(2023, 6, 1), QTime(12, 0));
            const QDateTime when = p.value(2) == QLatin1String("later")     ? base.addDays(3)
                                   : p.value(2) == QLatin1String("earlier") ? base.addDays(-3)
                                                                            : base;
            QVERIFY(f.setFileTime(when, QFileDevice::FileModificationTime));
        };
        for (const QString& s : dataFiles)
            make(data, s);
        for (const QString& s : systemFiles)
            make(sys, s);
        const CtyLoad load = loadCty(data, sys);
        QCOMPARE(load.data ? load.file.path.mid(root.path().size()) : QString(), chosen);
        if (problem.isEmpty())
            QCOMPARE(load.problem, QString());
        else
            QVERIFY2(load.problem.contains(problem), qPrintable(load.problem));
        // a cty.dat carries no DXCC numbers: they come from a cty.csv
        if (load.data && chosen.endsWith(QLatin1String(".dat")))
            QCOMPARE(load.data->entity(load.data->entityByPrefix(QStringLiteral("GA"))).dxcc, 903);
    }

    void superCheckPartial() {
        const QByteArray file = "#\n# Release 2023.05.02.00\n#\nDL1ABC\nEA8/DL1ABC\nUA3AAA\n"
                                "ua3aab\nRA3AAA\nUA3A\n\r\nW1AW junk\n";
        const ScpList scp = ScpList::parse(file);
        QCOMPARE(ScpList::versionIn(file), QDate(2023, 5, 2));
        QCOMPARE(scp.size(), 7);
        const QStringList got = {
            scp.find(u"UA3A").join(u' '),   scp.find(u"3aa").join(u' '),
            scp.find(u"DL1ABC").join(u' '), scp.find(u"3AA", 2).join(u' '),
            scp.find(u"W1AW").join(u' '),   scp.find(u"ZZZ").join(u' '),
            scp.find(u"").join(u' '),       scp.find(u"A A").join(u' '),
        };
        const QStringList expected = {
            "UA3AAA UA3AAB UA3A", // those that begin with it first
            "UA3AAA UA3AAB RA3AAA",
            "DL1ABC EA8/DL1ABC",
            "UA3AAA UA3AAB",
            "W1AW", // what follows a call on its line is no part of it
            "",
            "",
            "",
        };
        QCOMPARE(got, expected);
        QCOMPARE(ScpList::parse("# only\n").size(), 0);
    }

    void locators_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("square") << "KO85" << true;
        QTest::newRow("subsquare") << "KO85ab" << true;
        QTest::newRow("upper subsquare") << "KO85AB" << true;
        QTest::newRow("lower field") << "ko85" << true;
        QTest::newRow("corners") << "AA00aa" << true;
        QTest::newRow("last field") << "RR99xx" << true;
        QTest::newRow("field S") << "SO85" << false;
        QTest::newRow("subsquare Y") << "KO85ay" << false;
        QTest::newRow("five") << "KO85a" << false;
        QTest::newRow("eight") << "KO85ab12" << false;
        QTest::newRow("digit field") << "1O85" << false;
        QTest::newRow("letter square") << "KOA5" << false;
        QTest::newRow("Arabic-Indic digits") << QString::fromUtf8("KO٨٥") << false;
        QTest::newRow("empty") << "" << false;
    }
    void locators() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QCOMPARE(isValidLocator(text), valid);
        QCOMPARE(locatorCentre(text).has_value(), valid);
    }

    void distanceAndHeading() {
        auto c = [](const char* l) { return *locatorCentre(QString::fromLatin1(l)); };
        QCOMPARE(c("JJ00").lat, 0.5);
        QCOMPARE(c("JJ00").lon, 1.0);
        QVERIFY(std::abs(c("KO85ts").lat - (55 + 18.5 / 24)) < 1e-9);
        QVERIFY(std::abs(c("KO85ts").lon - (36 + 19 * 2.0 / 24 + 1.0 / 24)) < 1e-9);
        struct Case {
            LatLon a, b;
            double km, deg;
        };
        // a quarter of a great circle; due north; Berlin to Moscow (1 609 km, 67.5°)
        const Case cases[] = {{{0, 0}, {0, 90}, 10007.5, 90},
                              {{0, 0}, {45, 0}, 5003.8, 0},
                              {{10, 20}, {10, 20}, 0, 0},
                              {{0, 10}, {0, 0}, 1111.9, 270},
                              {{52.52, 13.40}, {55.75, 37.62}, 1609.3, 67.5}};
        for (const Case& k : cases) {
            QVERIFY2(std::abs(distanceKm(k.a, k.b) - k.km) < 2,
                     qPrintable(QString::number(distanceKm(k.a, k.b))));
            QVERIFY2(std::abs(bearingDeg(k.a, k.b) - k.deg) < 1,
                     qPrintable(QString::number(bearingDeg(k.a, k.b))));
        }
    }
};

QTEST_GUILESS_MAIN(TestCty)
#include "tst_cty.moc"
