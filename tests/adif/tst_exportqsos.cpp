// A chosen set of QSOs goes out as the whole log does, just fewer of them:
// the same records for the same QSOs, oldest first, each once; all of them
// give exactly the whole log's file.
#include "TestUtil.h"
#include "adif/Mapping.h"
#include "data/DataTestUtil.h"
#include "data/Fields.h"

#include <QtTest>

using namespace qardel;
using testutil::addRow;

namespace {

QStringList calls(const QList<adif::Record>& records) {
    QStringList out;
    for (const adif::Record& r : records)
        out << r.value(QStringLiteral("CALL"));
    return out;
}

} // namespace

class TestExportQsos : public QObject {
    Q_OBJECT

  private slots:
    void someQsos() {
        TempDataDir dir;
        TDM dm;
        dm.DataDir = dir.path();
        dm.OpenTables();
        const int band = addRow(*dm.dsBands, {{"Name", "20M"}});
        const int mode = addRow(*dm.dsModes, {{"Name", "CW"}});
        const int name = addRow(*dm.dsNames, {{"Value", "Пётр"}});
        std::vector<int> ids;
        const char* signs[] = {"UA3AAA", "DL1ABC", "JA1XYZ", "R9AA"};
        // IDs out of time order, as an import from several files leaves them
        const int days[] = {3, 1, 4, 2};
        for (int i = 0; i < 4; ++i) {
            const int cor =
                addRow(*dm.dsCors, {{"CallName", QString::fromLatin1(signs[i])}, {"NameID", name}});
            ids.push_back(
                addRow(*dm.dsMain, {{"CorID", cor},
                                    {"Time", QDateTime(QDate(2024, 5, days[i]), QTime(12, 0))},
                                    {"BandID", band},
                                    {"ModeID", mode},
                                    {"CorSuffix", i == 2 ? "P" : ""},
                                    {"Notice", QStringLiteral("заметка %1").arg(i)}}));
        }
        const QList<adif::Record> whole = adif::exportLog(dm);
        QCOMPARE(calls(whole), QStringList({"DL1ABC", "R9AA", "UA3AAA", "JA1XYZ/P"}));

        // all of them: the whole log's records and bytes
        QCOMPARE(calls(adif::exportQsos(dm, ids)), calls(whole));
        QCOMPARE(adif::exportQsosAdi(dm, ids, "QARDEL", "1"), adif::exportAdi(dm, "QARDEL", "1"));
        QCOMPARE(adif::writeAdx(adif::exportQsos(dm, ids), "QARDEL", "1"),
                 adif::writeAdx(whole, "QARDEL", "1"));

        // some, in any order, twice, with IDs the log does not have
        const std::vector<int> some = {ids[2], 999, ids[0], ids[2], -1, 0};
        const QList<adif::Record> part = adif::exportQsos(dm, some);
        QCOMPARE(calls(part), QStringList({"UA3AAA", "JA1XYZ/P"}));
        QCOMPARE(part[0].fields.size(), whole[2].fields.size());
        for (int f = 0; f < part[0].fields.size(); ++f) {
            QCOMPARE(part[0].fields[f].name, whole[2].fields[f].name);
            QCOMPARE(part[0].fields[f].value, whole[2].fields[f].value);
        }
        QCOMPARE(part[1].number, 2);
        QCOMPARE(adif::exportQsosAdi(dm, some, "QARDEL", "1"), adif::writeAdi(part, "QARDEL", "1"));
        QCOMPARE(adif::exportQsos(dm, {}).size(), 0);
        dm.AbandonTables();
    }
};

QTEST_GUILESS_MAIN(TestExportQsos)
#include "tst_exportqsos.moc"
