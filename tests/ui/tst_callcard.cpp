// The call-sign card: what it shows while the operator types, after saves,
// corrections and deletions; the one line in the status bar; the own
// locator; the card without country data; and the panel it sits beside,
// unchanged.
#include "UiTestUtil.h"
#include "data/Fields.h"
#include "ui/main/CallCard.h"

#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

using namespace qardel;
using namespace qardel::test;

namespace {

// Alpha Land (AL; AL9 is Beta Island, a WAE entity inside it), Gamma (G).
const char* kCty = "AL,Alpha Land,901,EU,10,20,50.00,-10.00,-1.0,AL =VER20240101;\n"
                   "*BI,Beta Island,901,OC,30,40,-20.00,150.00,-10.0,AL9;\n"
                   "GA,Gamma,903,NA,5,8,40.00,75.00,5.0,G;\n";
const char* kScp = "# Release 2024.01.01.00\nAL1AA\nGA1BB\nGA1BBB\nXGA1BB\nGA2CC\n";

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    f.write(bytes);
}

// The system's folder of the shared files, for one test.
struct SystemFiles {
    QTemporaryDir dir;
    explicit SystemFiles(bool withFiles = true) {
        if (withFiles) {
            writeFile(dir.path() + QStringLiteral("/cty.csv"), kCty);
            writeFile(dir.path() + QStringLiteral("/MASTER.SCP"), kScp);
        }
        qputenv("QARDEL_HAMRADIO_FILES", dir.path().toUtf8());
    }
    ~SystemFiles() { qunsetenv("QARDEL_HAMRADIO_FILES"); }
};

struct Ids {
    int b20 = 0, b40 = 0, ssb = 0, cw = 0, al1aa = 0, qsoAl = 0;
};

// Bands 20m and 40m, modes SSB and CW; one QSO with AL1AA on 20m SSB.
Ids seed(const AppData& a) {
    Ids ids;
    withData(a, [&](TDM& dm) {
        ids.ssb = addRow(*dm.dsModes, {{"Name", "SSB"}});
        ids.cw = addRow(*dm.dsModes, {{"Name", "CW"}});
        ids.b20 = addRow(*dm.dsBands, {{"Name", "20m"}});
        ids.b40 = addRow(*dm.dsBands, {{"Name", "40m"}});
        ids.al1aa = addRow(*dm.dsCors, {{"CallName", "AL1AA"}});
        ids.qsoAl = addRow(*dm.dsMain, {{"CorID", ids.al1aa},
                                        {"BandID", ids.b20},
                                        {"ModeID", ids.ssb},
                                        {"Time", QDateTime(QDate(2024, 3, 8), QTime(9, 30))}});
        dm.SetIntSetting(setting::LastBand, ids.b20);
        dm.SetIntSetting(setting::LastMode, ids.ssb);
    });
    return ids;
}

// What the card and the status bar line show, once the event loop has let
// the card follow the panel.
QStringList card(TfMain& w) {
    QCoreApplication::processEvents();
    const CallCard& c = *w.callCard;
    QStringList out;
    for (const QLabel* l : {c.lbEntity, c.lbPlace, c.lbBeam, c.lbNewOne, c.lbWorked, c.lbBandsModes,
                            c.lbScp, c.sbCallInfo})
        if (!l->text().isEmpty()) out << l->objectName() + QStringLiteral(": ") + l->text();
    return out;
}

// The window widened so that the card beside the panel is in view.
std::unique_ptr<TfMain> start() {
    auto w = startMain();
    w->DM->Clock = [] { return QDateTime(QDate(2024, 5, 12), QTime(10, 0)); };
    w->resize(1200, 573);
    QCoreApplication::processEvents();
    return w;
}

} // namespace

class TestCallCard : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { initUiTests(); }
    void init() { msg::resetCounters(); }

    // Typing, saving, choosing band and mode, a suffix, correcting and
    // deleting: the card tells worked before and new one after each.
    void followsTheLog() {
        SystemFiles sys;
        AppData a;
        const Ids ids = seed(a);
        auto w = start();
        QCOMPARE(card(*w), QStringList());

        type(w->edCallName, QStringLiteral("ga1bb"));
        QCOMPARE(card(*w),
                 QStringList({"lbEntity: Gamma · GA · DXCC 903",
                              "lbPlace: Северная Америка (NA) · CQ 5 · ITU 8",
                              "lbBeam: Азимут и расстояние: нужен свой локатор",
                              "lbNewOne: Новая страна!", "lbWorked: С этим позывным связей не было",
                              "lbScp: SCP: GA1BB GA1BBB XGA1BB",
                              "sbCallInfo: Gamma · NA · CQ 5 · ITU 8 · Новая страна!"}));
        QVERIFY(QRegularExpression(QStringLiteral("^Местное время \\d\\d:\\d\\d \\(UTC−5\\)$"))
                    .match(w->callCard->lbTime->text())
                    .hasMatch());
        // shown, never written into the call sign
        QCOMPARE(w->edCallName->text(), QStringLiteral("GA1BB"));

        QTest::keyClick(w->edCallName, Qt::Key_Return); // saved on 20m SSB
        QCOMPARE(w->DM->dsMain->recordCount(), 2);
        QCOMPARE(card(*w), QStringList());

        // a known call: completed as before, no super check partial
        type(w->edCallName, QStringLiteral("GA"));
        QCOMPARE(w->edCallName->text(), QStringLiteral("GA1BB"));
        const QStringList worked = {"lbEntity: Gamma · GA · DXCC 903",
                                    "lbPlace: Северная Америка (NA) · CQ 5 · ITU 8",
                                    "lbBeam: Азимут и расстояние: нужен свой локатор",
                                    "lbNewOne: Страна уже сработана",
                                    "lbWorked: Связей с позывным: 1, последняя 12.05.2024",
                                    "lbBandsModes: 20m: SSB",
                                    "sbCallInfo: Gamma · NA · CQ 5 · ITU 8 · Страна уже "
                                    "сработана · QSO: 1"};
        QCOMPARE(card(*w), worked);
        w->cbBand->setCurrentIndex(w->cbBand->findText(QStringLiteral("40m")));
        QCOMPARE(card(*w)[3], QStringLiteral("lbNewOne: Новый диапазон"));
        w->cbMode->setCurrentIndex(w->cbMode->findText(QStringLiteral("CW")));
        QCOMPARE(card(*w)[3], QStringLiteral("lbNewOne: Новый диапазон и вид модуляции"));
        w->cbBand->setCurrentIndex(w->cbBand->findText(QStringLiteral("20m")));
        QCOMPARE(card(*w)[3], QStringLiteral("lbNewOne: Новый вид модуляции"));
        // a suffix that names a prefix: the station is in Alpha Land, where
        // AL1AA was worked on 20m SSB
        type(w->edSuffix, QStringLiteral("AL"));
        QCOMPARE(card(*w).mid(0, 4), QStringList({"lbEntity: Alpha Land · AL · DXCC 901",
                                                  "lbPlace: Европа (EU) · CQ 10 · ITU 20",
                                                  "lbBeam: Азимут и расстояние: нужен свой локатор",
                                                  "lbNewOne: Новый вид модуляции"}));
        QTest::keyClick(w->edSuffix, Qt::Key_Escape);
        QCOMPARE(card(*w), QStringList());

        // correcting the only Gamma QSO: it does not count for itself
        QVERIFY(w->DM->dsMain->locate(
            fld::CorID, w->DM->dsCors->lookupValue(fld::CallName, "GA1BB", fld::ID, 0)));
        const int gammaQso = w->DM->dsMain->fieldByName(fld::ID).asInteger();
        w->grMainDblClick();
        QCOMPARE(card(*w).mid(3, 2), QStringList({"lbNewOne: Новая страна!",
                                                  "lbWorked: С этим позывным связей не было"}));
        // corrected to /MM: at sea, in no entity
        retype(w->edSuffix, QStringLiteral("MM"));
        QCOMPARE(card(*w)[0], QStringLiteral("lbEntity: Морская подвижная (/MM): страны нет"));
        QTest::keyClick(w->edSuffix, Qt::Key_Return);
        QCOMPARE(w->DM->dsMain->recordCount(), 2);
        // (two typed characters completed the last call: the next completes at the third)
        type(w->edCallName, QStringLiteral("GA1"));
        QCOMPARE(w->edCallName->text(), QStringLiteral("GA1BB"));
        QCOMPARE(card(*w).mid(3, 2),
                 QStringList({"lbNewOne: Новая страна!",
                              "lbWorked: Связей с позывным: 1, последняя 12.05.2024"}));
        QTest::keyClick(w->edCallName, Qt::Key_Escape);

        // deleting the Alpha Land QSO makes Alpha Land new again
        type(w->edCallName, QStringLiteral("AL1"));
        QCOMPARE(card(*w)[3], QStringLiteral("lbNewOne: Страна уже сработана"));
        QTest::keyClick(w->edCallName, Qt::Key_Escape);
        QVERIFY(w->DM->dsMain->locate(fld::ID, ids.qsoAl));
        msg::presetAnswer(msg::Answer::Yes);
        w->miDeleteQSOClick();
        QCOMPARE(w->DM->dsMain->recordCount(), 1);
        type(w->edCallName, QStringLiteral("AL1AA"));
        QCOMPARE(card(*w).mid(3, 2), QStringList({"lbNewOne: Новая страна!",
                                                  "lbWorked: С этим позывным связей не было"}));
        QVERIFY(gammaQso > 0);
        QCOMPARE(msg::errorCount(), 0);
    }

    // The own locator, set in its dialog: validated, kept in the settings
    // table as text, and the card gives heading and distance.
    void ownLocator() {
        SystemFiles sys;
        AppData a;
        const Ids ids = seed(a);
        auto w = start();
        type(w->edCallName, QStringLiteral("AL1AA"));
        QStringList seen;
        auto drive = [&](const QString& text, bool ok) {
            QTimer::singleShot(0, [&, text, ok] {
                auto* d = qobject_cast<TfMyLocator*>(QApplication::activeModalWidget());
                if (!d) return;
                retype(d->edMyLocator, QStringLiteral("KO8"));
                seen << QStringLiteral("KO8 %1 %2")
                            .arg(d->btnOk->isEnabled())
                            .arg(d->lbHint->text().isEmpty());
                retype(d->edMyLocator, text);
                seen << QStringLiteral("%1 %2").arg(text).arg(d->btnOk->isEnabled());
                (ok ? d->btnOk : d->btnCancel)->click();
            });
            w->callCard->btnMyLocator->click();
        };
        drive(QStringLiteral("ko85"), false); // cancelled: nothing kept
        QCOMPARE(w->DM->GetTextSetting(setting::MyLocator), QString());
        drive(QStringLiteral("ko85"), true);
        QCOMPARE(seen, QStringList({"KO8 0 0", "ko85 1", "KO8 0 0", "ko85 1"}));
        QCOMPARE(card(*w)[2],
                 QStringLiteral("lbBeam: Азимут 263° · %1 км").arg(QLocale().toString(1903)));
        type(w->edSuffix, QStringLiteral("G")); // Gamma
        QCOMPARE(card(*w)[2],
                 QStringLiteral("lbBeam: Азимут 310° · %1 км").arg(QLocale().toString(7612)));
        // on disk as text, beside the settings the program reads as numbers
        onDisk(a, [&](TDM& dm) {
            QCOMPARE(dm.GetTextSetting(setting::MyLocator), QStringLiteral("KO85"));
            QCOMPARE(dm.GetIntSetting(setting::LastBand, 0), ids.b20);
        });
        // the next start reads it; an empty text takes it away
        w.reset();
        w = start();
        type(w->edCallName, QStringLiteral("AL1AA"));
        QCOMPARE(card(*w)[2],
                 QStringLiteral("lbBeam: Азимут 263° · %1 км").arg(QLocale().toString(1903)));
        drive(QString(), true);
        QCOMPARE(card(*w)[2], QStringLiteral("lbBeam: Азимут и расстояние: нужен свой локатор"));
        QCOMPARE(w->DM->GetTextSetting(setting::MyLocator), QString());
        QCOMPARE(w->cbBand->currentText(), QStringLiteral("20m"));
        QCOMPARE(msg::errorCount(), 0);
    }

    // Without a country file, or with one that cannot be read, the card
    // says so in one line; typing, completing and saving go on as ever.
    void withoutCountryData_data() {
        QTest::addColumn<QByteArray>("cty"); // empty: no file
        QTest::addColumn<QString>("says");
        QTest::newRow("missing") << QByteArray() << "cty.csv и cty.dat нет ни в";
        QTest::newRow("unreadable") << QByteArray("AL,Alpha\n") << "строка 1: ожидалось 10 полей";
    }
    void withoutCountryData() {
        QFETCH(QByteArray, cty);
        QFETCH(QString, says);
        SystemFiles sys(false);
        if (!cty.isEmpty()) writeFile(sys.dir.path() + QStringLiteral("/cty.csv"), cty);
        AppData a;
        seed(a);
        auto w = start();
        type(w->edCallName, QStringLiteral("AL"));
        QCOMPARE(msg::lastError(), QString());
        QCOMPARE(w->edCallName->text(), QStringLiteral("AL1AA"));
        const QStringList c = card(*w);
        QCOMPARE(c.size(), 4);
        QVERIFY2(c[0].startsWith(QStringLiteral("lbEntity: Нет данных о странах: ")),
                 qPrintable(c[0]));
        QVERIFY2(w->callCard->lbEntity->toolTip().contains(says) || c[0].contains(says),
                 qPrintable(c[0]));
        QVERIFY(!w->callCard->lbEntity->wordWrap());
        QCOMPARE(c.mid(1), QStringList({"lbWorked: Связей с позывным: 1, последняя 08.03.2024",
                                        "lbBandsModes: 20m: SSB",
                                        "sbCallInfo: нет данных о странах · QSO: 1"}));
        retype(w->edCallName, QStringLiteral("ZZ9"));
        QCOMPARE(card(*w).mid(1), QStringList({"lbWorked: С этим позывным связей не было",
                                               "lbScp: SCP: нет списка MASTER.SCP",
                                               "sbCallInfo: нет данных о странах"}));
        retype(w->edCallName, QStringLiteral("AL1"));
        QCOMPARE(w->edCallName->text(), QStringLiteral("AL1AA"));
        QTest::keyClick(w->edCallName, Qt::Key_Return);
        QCOMPARE(w->DM->dsMain->recordCount(), 2);
        onDisk(a, [](TDM& dm) { QCOMPARE(dm.dsMain->recordCount(), 2); });
        QCOMPARE(msg::errorCount(), 0);
    }

    // A newer country file in the data folder is the one read.
    void newerCopyInTheDataFolder() {
        SystemFiles sys;
        AppData a;
        seed(a);
        QByteArray newer(kCty);
        newer.replace("=VER20240101", "=VER20250101")
            .replace("Gamma", "Gamma Republic")
            .replace("75.00,5.0,G", "75.00,-5.5,G"); // and half an hour east of Greenwich
        writeFile(a.dataDir() + QStringLiteral("cty.csv"), newer);
        auto w = start();
        type(w->edCallName, QStringLiteral("GA1"));
        QCOMPARE(card(*w)[0], QStringLiteral("lbEntity: Gamma Republic · GA · DXCC 903"));
        const QString time = w->callCard->lbTime->text();
        QVERIFY2(time.endsWith(QStringLiteral("(UTC+5:30)")), qPrintable(time));
        // a line too long for the card shows whole in its tip
        const QLabel* source = w->callCard->lbSource;
        QCOMPARE(source->toolTip().isEmpty() ? source->text() : source->toolTip(),
                 QStringLiteral("Данные о странах от 01.01.2025: %1")
                     .arg(QDir::toNativeSeparators(a.dataDir() + QStringLiteral("cty.csv"))));
    }

    // The card takes the page's free area right of the panel and the status
    // bar's free space right of its two panels; the panel, its Tab order and
    // the window's size at creation stay as they are.
    void besideThePanel() {
        SystemFiles sys;
        AppData a;
        seed(a);
        auto w = startMain();
        QCOMPARE(w->size(), QSize(792, 573));
        QCOMPARE(w->callCard->geometry().left(), CallCard::kLeft);
        QVERIFY(w->callCard->geometry().left() >= 792);
        QCOMPARE(w->callCard->parentWidget(), w->tsEdit);
        // nothing of the card in a window of the size it opens with
        QVERIFY(w->callCard->visibleRegion().isEmpty());
        // every control of the panel lies left of it
        for (QWidget* c : w->tsEdit->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (c != w->callCard)
                QVERIFY2(c->geometry().right() < 792, qPrintable(c->objectName()));
        QCOMPARE(w->sbPanel0->width(), 150);
        QVERIFY(w->sbPanel1->x() >= w->sbPanel0->geometry().right());
        QVERIFY(w->callCard->sbCallInfo->x() > w->sbPanel1->x());
        w->SetEditMode(true); // the longer mode text is not cut
        QCoreApplication::processEvents();
        QVERIFY(w->sbPanel1->width() >=
                w->sbPanel1->fontMetrics().horizontalAdvance(w->sbPanel1->text()));
        QVERIFY(w->callCard->sbCallInfo->x() >= w->sbPanel1->geometry().right());
        w->SetEditMode(false);
        // nothing of the card takes the focus: the panel's Tab order stays
        for (QWidget* c : w->callCard->findChildren<QWidget*>())
            QVERIFY2(c->focusPolicy() == Qt::NoFocus, qPrintable(c->objectName()));
        QCOMPARE(w->callCard->focusPolicy(), Qt::NoFocus);
        // out of view, the status bar's line follows the call sign; widened,
        // the card shows, up to date
        type(w->edCallName, QStringLiteral("GA1B"));
        QCOMPARE(card(*w), QStringList({"sbCallInfo: Gamma · NA · CQ 5 · ITU 8 · Новая страна!"}));
        w->resize(1200, 573);
        QCoreApplication::processEvents();
        QVERIFY(!w->callCard->visibleRegion().isEmpty());
        QCOMPARE(card(*w).mid(0, 2),
                 QStringList({"lbEntity: Gamma · GA · DXCC 903",
                              "lbPlace: Северная Америка (NA) · CQ 5 · ITU 8"}));
        QCOMPARE(w->edCallName->geometry(), QRect(68, 4, 121, 21));
    }
};

QTEST_MAIN(TestCallCard)
#include "tst_callcard.moc"
