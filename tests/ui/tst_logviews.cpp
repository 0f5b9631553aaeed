// The search and statistics windows as the operator meets them: opened by
// their keys and the status-bar buttons (the specified panels and the grid's
// menu as they were), a search typed and a QSO found made the log's current
// row (never while a QSO is corrected), results that follow saves,
// corrections and deletions, exports to ADI, ADX and CSV checked on disk,
// the statistics saved as CSV and PNG, and entities once a provider is set.
#include "../query/QueryTestUtil.h"
#include "UiTestUtil.h"
#include "adif/Adif.h"
#include "ui/common/FileDialog.h"
#include "ui/main/CallCard.h"
#include "ui/search/uSearch.h"
#include "ui/stats/uStats.h"

#include <QImage>
#include <QStatusBar>

using namespace qardel;
using namespace qardel::test;

namespace {

// Ten QSOs, IDs 1 to 10: UA3AAA (1, 4, 7, 10), UA3ABC (2, 5, 8), DL1ABC (3, 6, 9).
void seedLog(const AppData& a) {
    withData(a, [](TDM& dm) {
        const int b20 = addRow(*dm.dsBands, {{"Name", "20 м"}});
        const int b40 = addRow(*dm.dsBands, {{"Name", "40 м"}});
        const int ssb = addRow(*dm.dsModes, {{"Name", "SSB"}});
        const int cw = addRow(*dm.dsModes, {{"Name", "CW"}});
        const int name = addRow(*dm.dsNames, {{"Value", "Вася"}});
        const int cors[] = {addRow(*dm.dsCors, {{"CallName", "UA3AAA"}, {"NameID", name}}),
                            addRow(*dm.dsCors, {{"CallName", "UA3ABC"}}),
                            addRow(*dm.dsCors, {{"CallName", "DL1ABC"}})};
        for (int i = 0; i < 10; ++i)
            addRow(*dm.dsMain,
                   {{"CorID", cors[i % 3]},
                    {"Time", QDateTime(QDate(2020 + i % 4, 1 + i, 10), QTime(i, 30, 15))},
                    {"BandID", i % 2 ? b40 : b20},
                    {"ModeID", i % 3 ? ssb : cw},
                    {"CorCity", i % 2 ? "Москва" : "Berlin, Mitte"},
                    {"Notice", i == 3 ? QStringLiteral("две\nстроки, \"кавычки\"")
                                      : QStringLiteral("QSO %1").arg(i + 1)}});
    });
}

QStringList resultIds(const TfSearch& s) {
    QStringList ids;
    for (int r = 0; r < s.results->count(); ++r)
        ids << QString::number(s.results->idAt(r));
    return ids;
}

int currentLogId(const TfMain& w) {
    return gridCurrentId(w.grMain);
}

TfSearch* openSearch(TfMain& w) {
    QTest::keyClick(w.edCallName, Qt::Key_F, Qt::ControlModifier);
    TfSearch* s = w.searchWindow();
    if (s && !QTest::qWaitForWindowExposed(s)) qWarning("search window not exposed");
    return s;
}

void searchFor(TfSearch& s, const QString& call) {
    retype(s.edCall, call);
    s.results->finishNow();
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestLogViews : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        initUiTests();
        file::setTestMode(true);
    }
    void init() {
        msg::resetCounters();
        file::setTestMode(true);
    }

    void openedByKeysAndTheStatusBar() {
        AppData a;
        seedLog(a);
        auto w = startMain();
        // the grid's menu keeps its two items; the panels their texts and places
        QCOMPARE(w->pmGrid->actions().size(), 2);
        QCOMPARE(w->sbPanel0->text(), QStringLiteral("Всего записей: 10"));
        QCOMPARE(w->sbPanel1->text(), QStringLiteral("Режим добавления записи"));
        QCOMPARE(w->sbPanel0->width(), 150);
        QVERIFY(w->sbPanel0->x() < w->sbPanel1->x());
        QVERIFY(w->sbPanel1->geometry().right() < w->sbSearch->x());
        QVERIFY(w->sbSearch->geometry().right() < w->sbStats->x());
        QVERIFY(w->sbStats->geometry().bottom() <= w->statusBar()->height());
        QCOMPARE(w->sbSearch->focusPolicy(), Qt::NoFocus);

        // Ctrl+F from the call sign: the window opens, the call sign keeps its text
        type(w->edCallName, QStringLiteral("UA"));
        TfSearch* s = openSearch(*w);
        QVERIFY(s && s->isVisible());
        QCOMPARE(w->edCallName->text(), QStringLiteral("UA3AAA"));
        QTRY_COMPARE(QApplication::focusWidget(), s->edCall);
        // a second Ctrl+F brings the same window
        QTest::keyClick(w->edCallName, Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(w->searchWindow(), s);
        // Escape closes it, and it goes
        QTest::keyClick(s->edCall, Qt::Key_Escape);
        QTRY_VERIFY(!w->searchWindow());

        QTest::mouseClick(w->sbSearch, Qt::LeftButton);
        QVERIFY(w->searchWindow() && w->searchWindow()->isVisible());
        // the keys work from the search window as well
        QVERIFY(QTest::qWaitForWindowActive(w->searchWindow()));
        QTest::keyClick(w->grMain, Qt::Key_T, Qt::ControlModifier);
        QVERIFY(w->statsWindow() && w->statsWindow()->isVisible());
        w->statsWindow()->close();
        QTRY_VERIFY(!w->statsWindow());
        QTest::mouseClick(w->sbStats, Qt::LeftButton);
        QVERIFY(w->statsWindow() && w->statsWindow()->isVisible());
        // closing the main window takes both along
        w->close();
        QVERIFY(!w->searchWindow() && !w->statsWindow());
    }

    // Typed criteria find QSOs; a double-click or Enter makes one the log's
    // current row; while a QSO is corrected the log stays where it is and
    // the operator is told why.
    void foundQsoBecomesTheCurrentRow() {
        AppData a;
        seedLog(a);
        auto w = startMain();
        TfSearch* s = openSearch(*w);
        searchFor(*s, QStringLiteral("ua3"));
        QCOMPARE(resultIds(*s), QStringList({"10", "8", "7", "5", "4", "2", "1"}));
        QCOMPARE(s->lbCount->text(), QStringLiteral("Найдено QSO: 7"));
        type(s->edCity, QStringLiteral("МОСК"));
        s->results->finishNow();
        QCOMPARE(resultIds(*s), QStringList({"10", "8", "4", "2"}));

        s->grResults->setFocus();
        s->grResults->setCurrentIndex(s->results->index(2, 0));
        QTest::keyClick(s->grResults, Qt::Key_Return);
        QCOMPARE(currentLogId(*w), 4);
        QCOMPARE(w->DM->dsMain->fieldByName(fld::ID).asInteger(), 4);
        QCOMPARE(s->lbStatus->text(), QStringLiteral("QSO № 4 — текущая строка журнала."));
        QTRY_COMPARE(QApplication::focusWidget(), w->grMain);

        dblClickGridRow(s->grResults, 1);
        QCOMPARE(currentLogId(*w), 8);

        // correcting QSO 8: the log's current row stays
        w->grMainDblClick();
        QVERIFY(w->FEditMode);
        const QString call = w->edCallName->text();
        dblClickGridRow(s->grResults, 3);
        QCOMPARE(currentLogId(*w), 8);
        QVERIFY(w->FEditMode);
        QCOMPARE(w->edCallName->text(), call);
        QVERIFY(s->lbStatus->text().contains(QStringLiteral("правится запись")));
        QCOMPARE(msg::errorCount(), 0);
        // after "Отменить" it goes there
        w->btnClearClick();
        dblClickGridRow(s->grResults, 3);
        QCOMPARE(currentLogId(*w), 2);

        // a time range takes the minutes it shows whole: 00:30 to 00:30 holds 00:30:15
        s->btnClearCriteriaClick();
        QCOMPARE(s->edCity->text(), QString());
        s->dtFrom->setDateTime(QDateTime(QDate(2020, 1, 10), QTime(0, 30)));
        s->dtTo->setDateTime(QDateTime(QDate(2020, 1, 10), QTime(0, 30)));
        s->cbFrom->setChecked(true);
        s->results->finishNow();
        QCOMPARE(s->results->count(), 10);
        s->cbTo->setChecked(true);
        s->results->finishNow();
        QCOMPARE(resultIds(*s), QStringList({"1"}));
    }

    void resultsFollowTheLog() {
        AppData a;
        seedLog(a);
        auto w = startMain();
        TfSearch* s = openSearch(*w);
        searchFor(*s, QStringLiteral("UA3"));
        QCOMPARE(s->results->count(), 7);
        // a QSO saved in the main window joins at the top
        type(w->edCallName, QStringLiteral("UA3ZZZ"));
        w->btnSave->click();
        QCOMPARE(resultIds(*s).first(), QStringLiteral("11"));
        QCOMPARE(s->lbCount->text(), QStringLiteral("Найдено QSO: 8"));
        // one corrected to another call sign leaves
        QVERIFY(w->DM->dsMain->locate(fld::ID, 5));
        w->grMainDblClick();
        retype(w->edCallName, QStringLiteral("DL9XX"));
        w->btnSave->click();
        QVERIFY(!resultIds(*s).contains(QStringLiteral("5")));
        // a deleted one goes
        QVERIFY(w->DM->dsMain->locate(fld::ID, 10));
        msg::presetAnswer(msg::Answer::Yes);
        w->miDeleteQSOClick();
        QCOMPARE(resultIds(*s), QStringList({"11", "8", "7", "4", "2", "1"}));
        // what is shown is what a new search finds
        s->criteriaChange();
        s->results->finishNow();
        QCOMPARE(resultIds(*s), QStringList({"11", "8", "7", "4", "2", "1"}));
    }

    void exports() {
        AppData a;
        seedLog(a);
        auto w = startMain();
        w->setEntityProvider({}); // the log's own columns alone
        TfSearch* s = openSearch(*w);
        searchFor(*s, QStringLiteral("*ABC"));
        QCOMPARE(resultIds(*s), QStringList({"9", "8", "6", "5", "3", "2"}));
        QTemporaryDir out;

        // ADI: the extension is added; the file reads back with the same QSOs
        file::presetSaveName(out.filePath(QStringLiteral("found")));
        s->btnAdi->click();
        const adif::ReadResult adi = adif::read(readAll(out.filePath(QStringLiteral("found.adi"))));
        QCOMPARE(adi.records.size(), 6);
        QStringList calls;
        for (const adif::Record& r : adi.records)
            calls << r.value(QStringLiteral("CALL"));
        calls.sort();
        QCOMPARE(calls, QStringList({"DL1ABC", "DL1ABC", "DL1ABC", "UA3ABC", "UA3ABC", "UA3ABC"}));
        QCOMPARE(s->lbStatus->text(),
                 QStringLiteral("Выгружено QSO: 6 в файл ") + out.filePath("found.adi"));

        file::presetSaveName(out.filePath(QStringLiteral("found.adx")));
        s->btnAdx->click();
        const QByteArray adxBytes = readAll(out.filePath(QStringLiteral("found.adx")));
        QVERIFY(adif::looksLikeAdx(adxBytes));
        QCOMPARE(adif::readAdx(adxBytes).records.size(), 6);

        // CSV: the grid's titles and texts, the whole notice, quoted where needed
        s->edCall->clear();
        type(s->edNotice, QStringLiteral("строки"));
        s->results->finishNow();
        QCOMPARE(resultIds(*s), QStringList({"4"}));
        file::presetSaveName(out.filePath(QStringLiteral("found.csv")));
        s->btnCsv->click();
        const QString csv = QString::fromUtf8(readAll(out.filePath(QStringLiteral("found.csv"))));
        QVERIFY(csv.startsWith(QStringLiteral("№,Время,Позывной,Суффикс,Имя,Город,Страна,Диапазон,"
                                              "Модуляция,Кор.мощн.,Кор.RS,Моя мощн,Мой RS,Репитер,"
                                              "Примечание\r\n4,")));
        QVERIFY(csv.contains(QStringLiteral(",UA3AAA,,Вася,Москва,,40 м,CW,")));
        QVERIFY(csv.endsWith(QStringLiteral(",\"две\nстроки, \"\"кавычки\"\"\"\r\n")));

        // a folder is no file to write: said so, nothing written
        const int errors = msg::errorCount();
        const QString folder = out.filePath(QStringLiteral("folder.adi"));
        QVERIFY(QDir().mkpath(folder));
        file::presetSaveName(folder);
        s->btnAdi->click();
        QCOMPARE(msg::errorCount(), errors + 1);
        QVERIFY(msg::lastError().contains(QStringLiteral("не обычный файл")));
        QVERIFY(msg::lastError().contains(QStringLiteral("Ничего не записано")));
        QVERIFY(QFileInfo(folder).isDir());
        QVERIFY(QDir(folder).isEmpty());
        // a cancelled dialog writes nothing
        const QStringList before = QDir(out.path()).entryList(QDir::Files);
        s->btnCsv->click();
        QCOMPARE(QDir(out.path()).entryList(QDir::Files), before);
        // nothing found: nothing to ask
        retype(s->edNotice, QStringLiteral("нет такого"));
        s->results->finishNow();
        file::presetSaveName(out.filePath(QStringLiteral("empty.adi")));
        s->btnAdi->click();
        QVERIFY(!QFileInfo::exists(out.filePath(QStringLiteral("empty.adi"))));
        QCOMPARE(s->lbStatus->text(), QStringLiteral("Выгружать нечего: ничего не найдено."));
    }

    void statistics() {
        AppData a;
        seedLog(a);
        auto w = startMain();
        QTest::keyClick(w->edCallName, Qt::Key_T, Qt::ControlModifier);
        TfStats* st = w->statsWindow();
        QVERIFY(st);
        st->finishNow();
        QCOMPARE(st->lbTotal->text(), QStringLiteral("Всего QSO: 10"));
        const QList<QStringList> years = st->tableTexts(st->grYears);
        QCOMPARE(years.first().first(), QStringLiteral("Год"));
        QCOMPARE(years.size(), 1 + 4 + 1);
        QCOMPARE(years.last().first(), QStringLiteral("Всего"));
        QCOMPARE(years.last().last(), QStringLiteral("10"));
        QCOMPARE(years[1], QStringList({"2020", "1", "0", "0", "0", "1", "0", "0", "0", "1", "0",
                                        "0", "0", "3"}));
        const QList<QStringList> bandMode = st->tableTexts(st->grBandMode);
        QCOMPARE(bandMode.first(), QStringList({"Диапазон", "CW", "SSB", "Всего"}));
        QCOMPARE(bandMode[1], QStringList({"20 м", "2", "3", "5"}));
        QCOMPARE(bandMode.last(), QStringList({"Всего", "4", "6", "10"}));
        // counts right-aligned, the rows' names as texts
        const QAbstractItemModel* bm = st->grBandMode->model();
        QCOMPARE(bm->index(0, 1).data(Qt::TextAlignmentRole).toInt(),
                 int(Qt::AlignRight | Qt::AlignVCenter));
        QVERIFY(!(bm->index(0, 0).data(Qt::TextAlignmentRole).toInt() & Qt::AlignRight));

        // the band page's table as CSV
        QTemporaryDir out;
        st->pcStats->setCurrentIndex(1);
        file::presetSaveName(out.filePath(QStringLiteral("bands")));
        st->btnSaveTable->click();
        QCOMPARE(QString::fromUtf8(readAll(out.filePath(QStringLiteral("bands.csv")))),
                 QStringLiteral("Диапазон,CW,SSB,Всего\r\n20 м,2,3,5\r\n40 м,2,3,5\r\n"
                                "Всего,4,6,10\r\n"));
        // the chart of the years as PNG
        st->pcStats->setCurrentIndex(0);
        QVERIFY(st->btnSaveChart->isEnabled());
        file::presetSaveName(out.filePath(QStringLiteral("years.png")));
        st->btnSaveChart->click();
        const QImage png(out.filePath(QStringLiteral("years.png")), "PNG");
        QVERIFY(png.width() > 200 && png.height() > 150);
        st->pcStats->setCurrentIndex(st->pcStats->count() - 1); // the most worked
        QVERIFY(!st->btnSaveChart->isEnabled());
        const QList<QStringList> top = st->tableTexts(st->grTopStations);
        QCOMPARE(top[1], QStringList({"1", "UA3AAA", "Вася", "4"}));

        // a saved QSO is counted in
        type(w->edCallName, QStringLiteral("RA1AA"));
        w->btnSave->click();
        st->finishNow();
        QCOMPARE(st->lbTotal->text(), QStringLiteral("Всего QSO: 11"));
        QCOMPARE(st->tableTexts(st->grTopStations).size(), 1 + 4);
    }

    // With an entity provider the entity is a criterion and a column, and the
    // statistics have their DXCC pages; without one, none of it shows.
    void entities() {
        AppData a;
        seedLog(a);
        auto w = startMain();
        TfSearch* s = openSearch(*w);
        QTest::keyClick(w->edCallName, Qt::Key_T, Qt::ControlModifier);
        TfStats* st = w->statsWindow();
        // the program's own provider: the country files the call-sign card reads
        if (w->callCard->ctyLoad().data) {
            QVERIFY(!s->edEntity->isHidden());
            type(s->edCall, QStringLiteral("DL1ABC"));
            s->results->finishNow();
            QCOMPARE(
                s->results->data(s->results->index(0, s->results->entityColumn()), Qt::DisplayRole)
                    .toString(),
                QStringLiteral("Fed. Rep. of Germany"));
            s->edCall->clear();
            w->setEntityProvider({});
            st->finishNow();
        }
        const int pages = st->pcStats->count();
        QVERIFY(s->edEntity->isHidden());
        QCOMPARE(s->results->entityColumn(), -1);

        w->setEntityProvider(qtest::fakeEntity);
        QVERIFY(!s->edEntity->isHidden());
        const int e = s->results->entityColumn();
        QVERIFY(e >= 0);
        type(s->edEntity, QStringLiteral("герм"));
        s->results->finishNow();
        QCOMPARE(resultIds(*s), QStringList({"9", "6", "3"}));
        QCOMPARE(s->results->data(s->results->index(0, e), Qt::DisplayRole).toString(),
                 QStringLiteral("Германия"));
        retype(s->edEntity, QStringLiteral("54"));
        s->results->finishNow();
        QCOMPARE(s->results->count(), 7);

        st->finishNow();
        QCOMPARE(st->pcStats->count(), pages + 2);
        const QList<QStringList> dxcc = st->tableTexts(st->grDxccBands);
        QCOMPARE(dxcc.first(), QStringList({"Страна DXCC", "№ DXCC", "20 м", "40 м", "Всего"}));
        QCOMPARE(dxcc[1], QStringList({"Германия", "230", "2", "1", "3"}));
        QCOMPARE(dxcc[2], QStringList({"Европейская Россия", "54", "3", "4", "7"}));
        QCOMPARE(dxcc.last(), QStringList({"Стран", "", "2", "2", "2"}));
        QCOMPARE(st->tableTexts(st->grTopEntities)[1],
                 QStringList({"1", "Европейская Россия", "54", "7"}));

        w->setEntityProvider({});
        st->finishNow();
        QCOMPARE(st->pcStats->count(), pages);
        QCOMPARE(s->results->entityColumn(), -1);
        QVERIFY(s->edEntity->isHidden());
    }
};

QTEST_MAIN(TestLogViews)
#include "tst_logviews.moc"
