// Worked-before and new-one over the log, kept current through saves,
// corrections and deletions, and the same as when worked out afresh.
#include "TestUtil.h"
#include "callinfo/Cty.h"
#include "callinfo/WorkedIndex.h"
#include "data/Fields.h"
#include "data/uDM.h"

#include <QTest>

using namespace qardel;
using namespace qardel::callinfo;

namespace {

// Alpha Land (AL), Beta Island (AL9, WAE inside Alpha Land), Gamma (G).
const char* kCty = "AL,Alpha Land,901,EU,10,20,50.00,-10.00,-1.0,AL;\n"
                   "*BI,Beta Island,901,OC,30,40,-20.00,150.00,-10.0,AL9;\n"
                   "GA,Gamma,903,NA,5,8,40.00,75.00,5.0,G;\n";

struct Fixture {
    TempDataDir dir;
    std::unique_ptr<TDM> dm;
    std::unique_ptr<WorkedIndex> ix;
    std::shared_ptr<const CtyData> cty =
        std::make_shared<CtyData>(CtyData::parse(kCty, CtyData::Format::Csv));
    int changes = 0;
    int clock = 0;

    Fixture() { open(); }
    void open() {
        dm = std::make_unique<TDM>();
        dm->DataDir = dir.path();
        dm->Clock = [this] { return QDateTime(QDate(2024, 1, 1).addDays(++clock), QTime(12, 0)); };
        dm->OpenTables();
        ix = std::make_unique<WorkedIndex>(*dm);
        ix->setCty(cty);
        ix->changed = [this] { ++changes; };
        if (dm->dsBands->isEmpty())
            for (const char* b : {"20m", "40m"})
                dm->FindOrAddValue(*dm->dsBands, fld::Name, QString::fromLatin1(b));
        if (dm->dsModes->isEmpty())
            for (const char* m : {"SSB", "CW"})
                dm->FindOrAddValue(*dm->dsModes, fld::Name, QString::fromLatin1(m));
    }
    void reopen() {
        ix.reset();
        dm->CloseTables();
        dm.reset();
        open();
    }
    // a QSO as the entry panel saves it; returns its ID
    int save(const char* call, const char* suffix, int band, int mode) {
        dm->FindOrAddCorrespondent(QString::fromLatin1(call), {});
        LogRowValues v;
        v.corId = dm->dsCors->fieldByName(fld::ID).asInteger();
        v.suffix = QString::fromLatin1(suffix);
        v.bandId = band;
        v.modeId = mode;
        dm->PostLogRow(false, v);
        dm->SaveAll();
        return dm->dsMain->fieldByName(fld::ID).asInteger();
    }
    // a logged QSO corrected to these values
    void correct(int id, const char* call, const char* suffix, int band, int mode) {
        QVERIFY(dm->dsMain->locate(fld::ID, id));
        dm->FindOrAddCorrespondent(QString::fromLatin1(call), {});
        LogRowValues v;
        v.corId = dm->dsCors->fieldByName(fld::ID).asInteger();
        v.suffix = QString::fromLatin1(suffix);
        v.bandId = band;
        v.modeId = mode;
        QVERIFY(dm->dsMain->locate(fld::ID, id));
        dm->PostLogRow(true, v);
        dm->SaveAll();
    }
    void remove(int id) {
        QVERIFY(dm->dsMain->locate(fld::ID, id));
        dm->dsMain->deleteRecord();
        dm->SaveAll();
    }
};

QString standingText(WorkedIndex::Standing s) {
    switch (s) {
    case WorkedIndex::Standing::NewEntity:
        return QStringLiteral("new entity");
    case WorkedIndex::Standing::NewBandAndMode:
        return QStringLiteral("new band and mode");
    case WorkedIndex::Standing::NewBand:
        return QStringLiteral("new band");
    case WorkedIndex::Standing::NewMode:
        return QStringLiteral("new mode");
    case WorkedIndex::Standing::Worked:
        return QStringLiteral("worked");
    }
    return {};
}

// Everything the card would ask, as lines: each station's history and each
// entity's standing on both bands and modes (band 1 = 20m, mode 1 = SSB).
QStringList dump(WorkedIndex& ix, const CtyData& cty, int exceptId = 0) {
    QStringList out;
    for (const char* call : {"AL1AA", "AL9XX", "GA1BB", "NEVER"}) {
        const WorkedIndex::History h = ix.history(QString::fromLatin1(call), exceptId);
        QString bm;
        for (const auto& x : h.bandModes)
            bm += QStringLiteral(" %1/%2").arg(x.bandId).arg(x.modeId);
        out << QStringLiteral("%1: %2 QSO%3 last %4")
                   .arg(QLatin1String(call))
                   .arg(h.qsos)
                   .arg(bm, h.last.date().toString(Qt::ISODate));
    }
    for (const char* prefix : {"AL", "GA"}) {
        const int e = cty.entityByPrefix(QString::fromLatin1(prefix));
        QString line = QStringLiteral("%1: %2 QSO;").arg(cty.entity(e).name).arg(ix.entityQsos(e));
        for (int band : {1, 2})
            for (int mode : {1, 2})
                line += QStringLiteral(" %1/%2 %3")
                            .arg(band)
                            .arg(mode)
                            .arg(standingText(ix.standing(e, band, mode, exceptId)));
        line += QStringLiteral(", no band or mode %1")
                    .arg(standingText(ix.standing(e, 0, 0, exceptId)));
        out << line;
    }
    return out;
}

} // namespace

class TestWorked : public QObject {
    Q_OBJECT

    // the index kept current equals one worked out from the tables afresh
    static void sameAsFresh(Fixture& f) {
        WorkedIndex fresh(*f.dm);
        fresh.setCty(f.cty);
        QCOMPARE(dump(*f.ix, *f.cty), dump(fresh, *f.cty));
    }

  private slots:
    void savesCorrectionsAndDeletions() {
        Fixture f;
        f.ix->build();
        QCOMPARE(dump(*f.ix, *f.cty),
                 QStringList({"AL1AA: 0 QSO last ", "AL9XX: 0 QSO last ", "GA1BB: 0 QSO last ",
                              "NEVER: 0 QSO last ",
                              "Alpha Land: 0 QSO; 1/1 new entity 1/2 new entity 2/1 new entity "
                              "2/2 new entity, no band or mode new entity",
                              "Gamma: 0 QSO; 1/1 new entity 1/2 new entity 2/1 new entity 2/2 new "
                              "entity, no band or mode new entity"}));

        const int a = f.save("AL1AA", "", 1, 1);
        const int changes = f.changes;
        QVERIFY(changes > 0);
        // the WAE entity's call counts for its DXCC entity
        const int b = f.save("AL9XX", "", 2, 2);
        QVERIFY(f.changes > changes);
        // a suffix that names a prefix puts a Gamma station in Alpha Land
        const int c = f.save("GA1BB", "AL", 1, 2);
        const int d = f.save("AL1AA", "P", 1, 1);
        QCOMPARE(
            dump(*f.ix, *f.cty),
            QStringList({"AL1AA: 2 QSO 1/1 last 2024-01-05", "AL9XX: 1 QSO 2/2 last 2024-01-03",
                         "GA1BB: 1 QSO 1/2 last 2024-01-04", "NEVER: 0 QSO last ",
                         "Alpha Land: 4 QSO; 1/1 worked 1/2 worked 2/1 worked 2/2 worked, no "
                         "band or mode worked",
                         "Gamma: 0 QSO; 1/1 new entity 1/2 new entity 2/1 new entity 2/2 new "
                         "entity, no band or mode new entity"}));
        sameAsFresh(f);

        // corrections: the suffix goes, so GA1BB is in Gamma again; a band
        // and a mode change; the call of a QSO changes
        f.correct(c, "GA1BB", "", 1, 2);
        f.correct(b, "AL9XX", "", 1, 1);
        f.correct(d, "GA1BB", "", 2, 2);
        QCOMPARE(
            dump(*f.ix, *f.cty),
            QStringList({"AL1AA: 1 QSO 1/1 last 2024-01-02", "AL9XX: 1 QSO 1/1 last 2024-01-03",
                         "GA1BB: 2 QSO 2/2 1/2 last 2024-01-05", "NEVER: 0 QSO last ",
                         "Alpha Land: 2 QSO; 1/1 worked 1/2 new mode 2/1 new band 2/2 new "
                         "band and mode, no band or mode worked",
                         "Gamma: 2 QSO; 1/1 new mode 1/2 worked 2/1 new mode 2/2 worked, no "
                         "band or mode worked"}));
        sameAsFresh(f);

        // the QSO being corrected does not count for itself
        const QStringList except = dump(*f.ix, *f.cty, c);
        QCOMPARE(except[2], QStringLiteral("GA1BB: 1 QSO 2/2 last 2024-01-05"));
        QCOMPARE(except[5], QStringLiteral("Gamma: 2 QSO; 1/1 new band and mode 1/2 new band 2/1 "
                                           "new mode 2/2 worked, no band or mode worked"));
        QCOMPARE(f.ix->standing(f.cty->entityByPrefix(QStringLiteral("GA")), 2, 2, d),
                 WorkedIndex::Standing::NewBand);

        // the last QSO is the latest in time, wherever the log holds it
        QVERIFY(f.dm->dsMain->locate(fld::ID, d));
        f.dm->dsMain->edit();
        f.dm->dsMain->fieldByName(fld::Time).setAsDateTime(
            QDateTime(QDate(2023, 12, 31), QTime(12, 0)));
        f.dm->dsMain->post();
        f.dm->SaveAll();
        QCOMPARE(dump(*f.ix, *f.cty)[2], QStringLiteral("GA1BB: 2 QSO 2/2 1/2 last 2024-01-04"));
        sameAsFresh(f);

        f.remove(a);
        f.remove(b);
        QCOMPARE(dump(*f.ix, *f.cty).mid(4),
                 QStringList({"Alpha Land: 0 QSO; 1/1 new entity 1/2 new entity 2/1 new entity "
                              "2/2 new entity, no band or mode new entity",
                              "Gamma: 2 QSO; 1/1 new mode 1/2 worked 2/1 new mode 2/2 worked, no "
                              "band or mode worked"}));
        sameAsFresh(f);

        // what was saved is what the next start finds
        const QStringList before = dump(*f.ix, *f.cty);
        f.reopen();
        QCOMPARE(dump(*f.ix, *f.cty), before);
    }

    // A correspondent whose call sign changes takes their QSOs to the
    // entity of the new call.
    void callSignOfACorrespondentChanges() {
        Fixture f;
        f.save("AL1AA", "", 1, 1);
        f.save("AL1AA", "", 2, 1);
        const int gamma = f.cty->entityByPrefix(QStringLiteral("GA"));
        const int alpha = f.cty->entityByPrefix(QStringLiteral("AL"));
        QCOMPARE(f.ix->entityQsos(alpha), 2);
        const int changes = f.changes;
        QVERIFY(f.dm->dsCors->locate(fld::CallName, QStringLiteral("AL1AA")));
        f.dm->dsCors->edit();
        f.dm->dsCors->fieldByName(fld::CallName).setAsString(QStringLiteral("GA5ZZ"));
        f.dm->dsCors->post();
        QVERIFY(f.changes > changes);
        QCOMPARE(f.ix->entityQsos(alpha), 0);
        QCOMPARE(f.ix->entityQsos(gamma), 2);
        // other changes of a correspondent leave the entities alone
        f.dm->dsCors->edit();
        f.dm->dsCors->fieldByName(fld::NameID).setAsInteger(5);
        f.dm->dsCors->post();
        QCOMPARE(f.ix->entityQsos(gamma), 2);
        sameAsFresh(f);
    }

    // Without country data every entity is unknown; the station's own
    // history still works.
    void withoutCountryData() {
        Fixture f;
        f.ix->setCty(nullptr);
        f.save("AL1AA", "", 1, 1);
        QCOMPARE(f.ix->entityOfQso(f.dm->dsMain->fieldByName(fld::ID).asInteger()), -1);
        QCOMPARE(f.ix->history(QStringLiteral("al1aa")).qsos, 1);
        QCOMPARE(f.ix->standing(0, 1, 1), WorkedIndex::Standing::NewEntity);
        // the data arriving later counts what is logged already
        f.ix->setCty(f.cty);
        QCOMPARE(f.ix->entityQsos(f.cty->entityByPrefix(QStringLiteral("AL"))), 1);
        QCOMPARE(f.ix->entityOfQso(f.dm->dsMain->fieldByName(fld::ID).asInteger()),
                 f.cty->entityByPrefix(QStringLiteral("AL")));
    }

    // Reading a text setting leaves the settings' cursor and the integer
    // settings alone; an empty text clears the value.
    void textSetting() {
        Fixture f;
        f.dm->SetIntSetting(setting::LastBand, 2);
        f.dm->SetTextSetting(setting::MyLocator, QStringLiteral("KO85AB"));
        QVERIFY(f.dm->dsINI->locate(fld::Name, setting::LastBand));
        QCOMPARE(f.dm->GetTextSetting(QStringLiteral("mylocator")), QStringLiteral("KO85AB"));
        QCOMPARE(f.dm->dsINI->fieldByName(fld::Name).asString(), setting::LastBand);
        QCOMPARE(f.dm->GetIntSetting(setting::LastBand, 0), 2);
        QCOMPARE(f.dm->GetIntSetting(setting::MyLocator, 7), 7);
        f.reopen();
        QCOMPARE(f.dm->GetTextSetting(setting::MyLocator), QStringLiteral("KO85AB"));
        f.dm->SetTextSetting(setting::MyLocator, QString());
        QVERIFY(f.dm->dsINI->fieldByName(fld::Value).isNull());
        QCOMPARE(f.dm->GetTextSetting(setting::MyLocator), QString());
        QCOMPARE(f.dm->GetTextSetting(QStringLiteral("NoSuchSetting")), QString());
    }
};

QTEST_GUILESS_MAIN(TestWorked)
#include "tst_worked.moc"
