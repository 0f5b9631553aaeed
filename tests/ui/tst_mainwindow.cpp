// The main window: start-up, the lists, band defaults, the notice preview,
// the reset of the panel, last band and mode, and start-up failures.
#include "AccessibleNames.h"
#include "UiTestUtil.h"
#include "data/Backup.h"
#include "data/Fields.h"
#include "data/ImportStage.h"
#include "data/TableFile.h"
#include "ui/common/Colors.h"
#include "ui/common/TextRules.h"

#include <QClipboard>

#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QTimer>
#include <cerrno>
#include <cstring>

using namespace qardel;
using namespace qardel::test;

class TestMainWindow : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { initUiTests(); }
    void init() { msg::resetCounters(); }

    void firstStartOnEmptyFolder() {
        AppData a;
        QVERIFY(!QFileInfo::exists(a.dataDir()));
        {
            auto w = startMain();
            QVERIFY(w->fatalError().isEmpty());
            QVERIFY(QFileInfo(a.dataDir()).isDir());
            QCOMPARE(w->windowTitle(), QStringLiteral("QARDEL"));
            QCOMPARE(w->sbPanel0->text(), QStringLiteral("Всего записей: 0"));
            QCOMPARE(w->sbPanel1->text(), QStringLiteral("Режим добавления записи"));
            QCOMPARE(w->cbBand->currentIndex(), -1);
            QCOMPARE(w->cbMode->currentIndex(), -1);
            QVERIFY(!w->miDeleteQSO->isEnabled());
            QVERIFY(!w->btnSave->isEnabled());
            QCOMPARE(QApplication::focusWidget(), w->edCallName);
            QCOMPARE(w->size(), QSize(792, 573));
            // no file before the first save of all tables
            QVERIFY(!QFileInfo::exists(a.dataDir() + "Main.db"));
            w->close();
        }
        for (const char* f : {"Main.db", "Cors.db", "Bands.db", "Modes.db", "RS.db", "Country.db",
                              "City.db", "Names.db", "Ini.db"})
            QVERIFY2(QFileInfo(a.dataDir() + f).size() > 0, f);
        QCOMPARE(msg::errorCount(), 0);
    }

    void gridShowsNewestFirstWithItsColumns() {
        AppData a;
        withData(a, [](TDM& dm) {
            const int cor = addRow(*dm.dsCors, {{"CallName", "UA3AAA"}});
            for (int i = 0; i < 3; ++i)
                addRow(*dm.dsMain, {{"CorID", cor}, {"Notice", QString("n%1").arg(i + 1)}});
        });
        auto w = startMain();
        QAbstractItemModel* m = w->grMain->model();
        QCOMPARE(m->rowCount(), 3);
        QCOMPARE(m->index(0, 0).data().toString(), QStringLiteral("3"));
        QCOMPARE(m->index(2, 0).data().toString(), QStringLiteral("1"));
        const QStringList titles = {"№",      "Время",    "Позывной", "Суффикс",   "Имя",
                                    "Город",  "Страна",   "Диапазон", "Модуляция", "Кор.мощн.",
                                    "Кор.RS", "Моя мощн", "Мой RS",   "Репитер"};
        QCOMPARE(m->columnCount(), titles.size());
        for (int c = 0; c < titles.size(); ++c)
            QCOMPARE(m->headerData(c, Qt::Horizontal).toString(), titles[c]);
        QCOMPARE(w->grMain->columnWidth(0), 40);
        QCOMPARE(w->grMain->columnWidth(3), 64);
        QCOMPARE(m->index(0, 2).data().toString(), QStringLiteral("UA3AAA"));
        QCOMPARE(w->sbPanel0->text(), QStringLiteral("Всего записей: 3"));
        QVERIFY(w->miDeleteQSO->isEnabled());
        // the newest QSO's notice shows in grey
        QCOMPARE(w->mmNotice->toPlainText(), QStringLiteral("n3"));
        QVERIFY(w->noticeIsPreview());
        QCOMPARE(w->mmNotice->palette().color(QPalette::Text), previewColor());
        // a click on another row moves the log and its preview
        const QRect r = w->grMain->visualRect(m->index(2, 1));
        QTest::mouseClick(w->grMain->viewport(), Qt::LeftButton, {}, r.center());
        QCOMPARE(w->DM->dsMain->fieldByName(fld::ID).asInteger(), 1);
        QCOMPARE(w->mmNotice->toPlainText(), QStringLiteral("n1"));
    }

    // Every field, list and button is named as a screen reader speaks it:
    // by the label beside it, the button by its text.
    void everyControlHasTheNameAReaderSpeaks() {
        AppData a;
        auto w = startMain();
        const QStringList expected{"btnClear: Отменить",
                                   "btnMyLocator: Мой локатор…",
                                   "btnSave: Сохранить",
                                   "cbBand: Диапазон",
                                   "cbCity: Город",
                                   "cbCorRS: RS",
                                   "cbCountry: Страна",
                                   "cbMode: Модуляция",
                                   "cbMyRS: Мой RS",
                                   "cbName: Имя",
                                   "cbRepeater: Через ретранслятор",
                                   "edCallName: Позывной",
                                   "edCorPower: Мощность",
                                   "edMyPower: Моя мощность",
                                   "edSuffix: Суффикс",
                                   "grMain: Журнал",
                                   "mmNotice: Примечания",
                                   "sbEditBand: Редактировать список диапазонов",
                                   "sbEditMode: Редактировать список видов модуляции",
                                   "sbSearch: Поиск",
                                   "sbStats: Статистика"};
        QCOMPARE(accessibleNames(w.get()), expected);
    }

    // ID 100000 and a ten-character call sign are shown whole; a long city
    // still ends in an ellipsis in its 64-pixel column.
    void longNumbersAndCallSignsAreNotCut() {
        AppData a;
        withData(a, [](TDM& dm) {
            dm.dsMain->keepIdsAbove(99999);
            const int cor = addRow(*dm.dsCors, {{"CallName", "RW34567890"}});
            addRow(*dm.dsMain, {{"CorID", cor}, {"CorCity", "Петропавловск-Камчатский"}});
        });
        auto w = startMain();
        DataGrid* g = w->grMain;
        QCOMPARE(g->model()->index(0, 0).data().toString(), QStringLiteral("100000"));
        const QFontMetrics fm(g->font());
        QStringList widths;
        for (int c = 0; c < g->model()->columnCount(); ++c)
            widths << QString::number(g->columnWidth(c));
        // the № and call-sign columns grew to their values and a cell's margins
        QVERIFY(g->columnWidth(0) >= fm.horizontalAdvance(QStringLiteral("100000")) + 6);
        QVERIFY(g->columnWidth(2) >= fm.horizontalAdvance(QStringLiteral("RW34567890")) + 6);
        QVERIFY(g->columnWidth(2) >
                g->fieldWidthPixels(w->DM->dsMain->fieldIndex(fld::CorCallName)));
        for (int c : {3, 4, 5, 6, 7, 8, 13})
            QVERIFY2(g->columnWidth(c) == 64, qPrintable(widths.join(' ')));
    }

    void lastBandAndModeAreStoredAndRestored() {
        AppData a;
        int b20 = 0, b2 = 0, ssb = 0, fm = 0;
        withData(a, [&](TDM& dm) {
            ssb = addRow(*dm.dsModes, {{"Name", "SSB"}});
            fm = addRow(*dm.dsModes, {{"Name", "FM"}});
            b20 = addRow(*dm.dsBands, {{"Name", "20m"}, {"DefPower", 100.0}, {"DefModeID", ssb}});
            b2 = addRow(*dm.dsBands, {{"Name", "2m"}, {"DefPower", 50.0}, {"DefModeID", fm}});
        });
        {
            auto w = startMain();
            QCOMPARE(w->cbBand->currentIndex(), -1);
            // choosing a band applies its power and mode
            w->cbBand->setFocus();
            w->cbBand->setCurrentIndex(1);
            emit w->cbBand->activated(1);
            QCOMPARE(w->edMyPower->text(), QStringLiteral("50"));
            QCOMPARE(w->cbMode->currentText(), QStringLiteral("FM"));
            // a mode chosen afterwards is what is stored
            w->cbMode->setCurrentIndex(w->cbMode->findText("SSB"));
            w->close();
        }
        int storedBand = 0, storedMode = 0;
        withData(a, [&](TDM& dm) {
            storedBand = dm.GetIntSetting("LastBand", 0);
            storedMode = dm.GetIntSetting("LastMode", 0);
        });
        QCOMPARE(storedBand, b2);
        QCOMPARE(storedMode, ssb);
        {
            // the stored mode wins over the band's default
            auto w = startMain();
            QCOMPARE(w->cbBand->currentText(), QStringLiteral("2m"));
            QCOMPARE(w->edMyPower->text(), QStringLiteral("50"));
            QCOMPARE(w->cbMode->currentText(), QStringLiteral("SSB"));
            // closing with nothing selected leaves the rows as they were
            w->cbBand->setCurrentIndex(-1);
            w->cbMode->setCurrentIndex(-1);
            w->close();
        }
        withData(a, [&](TDM& dm) {
            QCOMPARE(dm.GetIntSetting("LastBand", 0), b2);
            QCOMPARE(dm.GetIntSetting("LastMode", 0), ssb);
            QCOMPARE(dm.dsINI->recordCount(), 2);
        });
        Q_UNUSED(b20);
        Q_UNUSED(fm);
    }

    void noStoredModeLeavesNoModeAndBandWithoutDefaults() {
        AppData a;
        withData(a, [&](TDM& dm) {
            const int fm = addRow(*dm.dsModes, {{"Name", "FM"}});
            const int b =
                addRow(*dm.dsBands, {{"Name", "2m"}, {"DefPower", 50.0}, {"DefModeID", fm}});
            addRow(*dm.dsBands, {{"Name", "80m"}});
            dm.SetIntSetting("LastBand", b);
        });
        auto w = startMain();
        QCOMPARE(w->cbBand->currentText(), QStringLiteral("2m"));
        QCOMPARE(w->edMyPower->text(), QStringLiteral("50"));
        QCOMPARE(w->cbMode->currentIndex(), -1);
        // a band with neither power nor mode empties the power and selects no mode
        w->cbMode->setCurrentIndex(0);
        w->cbBand->setCurrentIndex(1);
        emit w->cbBand->activated(1);
        QCOMPARE(w->edMyPower->text(), QString());
        QCOMPARE(w->cbMode->currentIndex(), -1);
        // the keyboard's type-ahead counts as choosing the band
        w->cbBand->setFocus();
        QTest::keyClick(w->cbBand, '2');
        QCOMPARE(w->cbBand->currentText(), QStringLiteral("2m"));
        QCOMPARE(w->edMyPower->text(), QStringLiteral("50"));
    }

    void previewEndsWhenTheMemoIsEntered() {
        AppData a;
        withData(a, [](TDM& dm) {
            const int cor = addRow(*dm.dsCors, {{"CallName", "UA3AAA"}});
            addRow(*dm.dsMain, {{"CorID", cor}, {"Notice", "old notice"}});
        });
        auto w = startMain();
        QVERIFY(w->noticeIsPreview());
        w->mmNotice->setFocus();
        QVERIFY(!w->noticeIsPreview());
        QCOMPARE(w->mmNotice->toPlainText(), QString());
        QTest::keyClicks(w->mmNotice, "typed");
        QCOMPARE(w->mmNotice->palette().color(QPalette::Text), windowTextColor());
        // entering again in the notice state keeps the text
        w->edCallName->setFocus();
        w->mmNotice->setFocus();
        QCOMPARE(w->mmNotice->toPlainText(), QStringLiteral("typed"));
        // Escape in the memo does nothing; Tab leaves it
        QTest::keyClick(w->mmNotice, Qt::Key_Escape);
        QCOMPARE(w->mmNotice->toPlainText(), QStringLiteral("typed"));
        QTest::keyClick(w->mmNotice, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), w->cbBand);
    }

    // A notice typed for the QSO being entered stays when the log's current
    // row moves (a click in the grid, a completed call sign); an empty memo
    // shows the preview again.
    void aTypedNoticeIsNeverReplacedByThePreview() {
        AppData a;
        withData(a, [](TDM& dm) {
            const int cor = addRow(*dm.dsCors, {{"CallName", "UA3AAA"}});
            addRow(*dm.dsMain, {{"CorID", cor}, {"Notice", "first"}});
            addRow(*dm.dsMain,
                   {{"CorID", addRow(*dm.dsCors, {{"CallName", "RA1BBB"}})}, {"Notice", "second"}});
        });
        auto w = startMain();
        w->mmNotice->setFocus();
        QTest::keyClicks(w->mmNotice, "typed");
        clickGridRow(w->grMain, 1);
        QCOMPARE(gridCurrentId(w->grMain), 1);
        type(w->edCallName, "ua");
        QCOMPARE(w->edCallName->text(), QStringLiteral("UA3AAA"));
        QCOMPARE(w->mmNotice->toPlainText() + "|" + QString::number(w->noticeIsPreview()),
                 QStringLiteral("typed|0"));
        w->mmNotice->clear();
        clickGridRow(w->grMain, 0);
        QCOMPARE(w->mmNotice->toPlainText() + "|" + QString::number(w->noticeIsPreview()),
                 QStringLiteral("second|1"));
    }

    void cancelClearsWhatBelongsToTheQsoAndKeepsTheRest() {
        AppData a;
        withData(a, [](TDM& dm) {
            const int cor = addRow(*dm.dsCors, {{"CallName", "UA3AAA"}});
            addRow(*dm.dsMain, {{"CorID", cor}, {"Notice", "preview"}});
            addRow(*dm.dsRS, {{"Value", "59"}});
            addRow(*dm.dsRS, {{"Value", "57"}});
            addRow(*dm.dsBands, {{"Name", "40m"}});
            addRow(*dm.dsModes, {{"Name", "CW"}});
        });
        for (bool chosenFromList : {true, false}) {
            auto w = startMain();
            type(w->edCallName, "RZ9");
            type(w->edSuffix, "p");
            type(w->cbName, "Иван");
            type(w->cbCity, "Омск");
            type(w->cbCountry, "Россия");
            type(w->edCorPower, "10");
            type(w->cbCorRS, "5");
            QCOMPARE(w->cbCorRS->currentText(), QStringLiteral("57")); // completed from the list
            type(w->cbMyRS, chosenFromList ? "59" : "48");
            w->cbRepeater->setChecked(true);
            w->cbBand->setCurrentIndex(0);
            w->cbMode->setCurrentIndex(0);
            type(w->edMyPower, "5");
            type(w->mmNotice, "typed notice");
            w->edCallName->setFocus();
            QTest::keyClick(w->edCallName, Qt::Key_Escape);
            QCOMPARE(w->edCallName->text(), QString());
            QCOMPARE(w->edSuffix->text(), QString());
            QCOMPARE(w->cbName->currentText(), QString());
            QCOMPARE(w->cbCity->currentText(), QString());
            QCOMPARE(w->cbCountry->currentText(), QString());
            QCOMPARE(w->edCorPower->text(), QString());
            QCOMPARE(w->cbCorRS->currentText(), QString());
            // an own report typed past the list stays for the next QSO
            QCOMPARE(w->cbMyRS->currentText(), chosenFromList ? QString() : QStringLiteral("48"));
            QVERIFY(w->cbRepeater->isChecked());
            QCOMPARE(w->cbBand->currentText(), QStringLiteral("40m"));
            QCOMPARE(w->cbMode->currentText(), QStringLiteral("CW"));
            QCOMPARE(w->edMyPower->text(), QStringLiteral("5"));
            QCOMPARE(w->mmNotice->toPlainText(), QStringLiteral("preview"));
            QVERIFY(w->noticeIsPreview());
            QVERIFY(!w->btnSave->isEnabled());
            w->close();
        }
    }

    void enterOnTheRepeaterBoxSaves() {
        AppData a;
        auto w = startMain();
        type(w->edCallName, "UA3AAA");
        w->cbRepeater->setFocus();
        QTest::keyClick(w->cbRepeater, Qt::Key_Return);
        QVERIFY(!w->cbRepeater->isChecked());
        QCOMPARE(w->DM->dsMain->recordCount(), 1);
        // Enter on a focused push button clicks that button
        type(w->edCallName, "UA3BBB");
        w->btnClear->setFocus();
        QTest::keyClick(w->btnClear, Qt::Key_Return);
        QCOMPARE(w->edCallName->text(), QString());
        QCOMPARE(w->DM->dsMain->recordCount(), 1);
    }

    void singleChoicesArePicked() {
        AppData a;
        withData(a, [](TDM& dm) {
            addRow(*dm.dsCountryes, {{"Name", "Россия"}});
            addRow(*dm.dsCityes, {{"Name", "Омск"}});
            addRow(*dm.dsCityes, {{"Name", "Тула"}});
        });
        auto w = startMain();
        QCOMPARE(w->cbCountry->currentText(), QStringLiteral("Россия"));
        QCOMPARE(w->cbCity->currentText(), QString());
        QCOMPARE(w->cbName->currentText(), QString());
    }

    void listsAreRefilledOnlyWhenTheirTablesChanged() {
        AppData a;
        withData(a, [](TDM& dm) {
            addRow(*dm.dsCityes, {{"Name", "Омск"}});
            addRow(*dm.dsCityes, {{"Name", "Тула"}});
            addRow(*dm.dsNames, {{"Value", "Иван"}});
            addRow(*dm.dsNames, {{"Value", "Пётр"}});
        });
        auto w = startMain();
        QCOMPARE(w->cbCity->count(), 2);
        // a row added behind the list's back shows only once its table counts a change
        w->DM->dsCityes->append();
        w->DM->dsCityes->fieldByName(fld::Name).setAsString("Азов");
        w->DM->dsCityes->post();
        w->DM->dsNames->append();
        w->DM->dsNames->fieldByName(fld::Value).setAsString("Яков");
        w->DM->dsNames->post();
        w->DM->dsNames->ChangeCount = 0;
        w->btnClear->click();
        QCOMPARE(w->cbCity->count(), 3);
        QCOMPARE(w->cbCity->itemText(0), QStringLiteral("Азов")); // sorted
        QCOMPARE(w->cbName->count(), 2);
    }

    // A list refilled after rows were added, renamed or deleted holds what a
    // list filled afresh holds, in the same order, with the same selection
    // and text; rows only added are inserted without rebuilding the rest.
    void refilledListEqualsAFreshOne() {
        AppData a;
        withData(a, [](TDM& dm) {
            for (const char* c : {"Омск", "Тула", "Елец", "ёлкино", "Орёл", "Ейск"})
                addRow(*dm.dsCityes, {{"Name", c}});
        });
        auto w = startMain();
        TDM& dm = *w->DM;
        Table& cities = *dm.dsCityes;
        IdComboBox grown(true, true), fixed(false, true);
        dm.FillCombo(grown, cities, fld::Name);
        dm.FillCombo(fixed, cities, fld::Name);
        auto state = [](const IdComboBox& b) {
            QStringList l{QString::number(b.currentIndex()), b.currentText()};
            for (int i = 0; i < b.count(); ++i)
                l << b.itemText(i) + "/" + QString::number(b.itemId(i));
            return l;
        };
        auto check = [&](const char* step, bool rebuilt) {
            auto* model = qobject_cast<QStandardItemModel*>(grown.model());
            const QStandardItem* kept = model->item(grown.findText("Тула"));
            const int id = grown.selectedId(), fixedId = fixed.selectedId();
            dm.FillCombo(grown, cities, fld::Name);
            dm.FillCombo(fixed, cities, fld::Name);
            IdComboBox fresh(true, true), freshFixed(false, true);
            dm.FillCombo(fresh, cities, fld::Name);
            dm.FillCombo(freshFixed, cities, fld::Name);
            fresh.setSelectedIndex(TDM::ComboIndexOfID(fresh, id));
            freshFixed.setSelectedIndex(TDM::ComboIndexOfID(freshFixed, fixedId));
            if (id == 0) fresh.setEditText(grown.currentText());
            QVERIFY2(state(grown) == state(fresh), step);
            QVERIFY2(state(fixed) == state(freshFixed), step);
            QVERIFY2((model->item(grown.findText("Тула")) != kept) == rebuilt, step);
        };
        auto add = [&](const char* name) {
            cities.append();
            cities.fieldByName(fld::Name).setAsString(name);
            cities.post();
        };
        grown.setSelectedIndex(grown.findText("Орёл"));
        fixed.setSelectedIndex(fixed.findText("Елец"));
        add("Абакан"); // first, last and between letters that sort alike
        add("Ярославль");
        add("Ёлки");
        add("елань");
        add("омск"); // equal to Омск but for the case: after it
        check("added", false);
        grown.setSelectedIndex(-1);
        grown.setEditText("Новый");
        add("Ейская");
        check("added under a typed text", false);
        QCOMPARE(grown.currentText(), QStringLiteral("Новый"));
        QVERIFY(cities.locate(fld::Name, "Омск"));
        cities.edit();
        cities.fieldByName(fld::Name).setAsString("Аша");
        cities.post();
        check("renamed", true);
        QVERIFY(cities.locate(fld::Name, "Ейск"));
        cities.deleteRecord();
        add("Бор");
        check("deleted", true);
    }

    void editModeLook() {
        AppData a;
        withData(a, [](TDM& dm) {
            const int cor = addRow(*dm.dsCors, {{"CallName", "UA3AAA"}});
            addRow(*dm.dsMain, {{"CorID", cor}});
        });
        auto w = startMain();
        const QColor window = windowColor();
        w->SetEditMode(true);
        QCOMPARE(w->sbPanel1->text(), QStringLiteral("Режим редактирования записи"));
        QVERIFY(!w->grMain->isEnabled());
        QCOMPARE(w->grMain->palette().color(QPalette::Base), silverColor());
        const QColor tint = editTint(window);
        QCOMPARE(w->edCallName->palette().color(QPalette::Base), tint);
        QCOMPARE(w->cbCountry->palette().color(QPalette::Base), tint);
        QCOMPARE(w->mmNotice->palette().color(QPalette::Base), tint);
        QCOMPARE(w->mmNotice->palette().color(QPalette::Text), windowTextColor());
        QCOMPARE(editTint(QColor(255, 255, 255)), QColor(255, 255, 235));
        QCOMPARE(editTint(QColor(1, 2, 10)), QColor(1, 2, 246));
        w->btnClear->click();
        QVERIFY(w->grMain->isEnabled());
        QCOMPARE(w->edCallName->palette().color(QPalette::Base), window);
    }

    void unreadableTableFileEndsTheProgramAndKeepsTheFile() {
        AppData a;
        withData(a, [](TDM& dm) { addRow(*dm.dsCityes, {{"Name", "Омск"}}); });
        QFile f(a.dataDir() + "Cors.db");
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("this is not a table");
        f.close();
        const QByteArray before = [&] {
            QFile r(a.dataDir() + "Cors.db");
            r.open(QIODevice::ReadOnly);
            return r.readAll();
        }();
        QFile::remove(a.dataDir() + "Main.db"); // would be created by a careless end
        {
            TfMain w;
            QVERIFY(w.fatalError().contains("Cors.db"));
        }
        QFile r(a.dataDir() + "Cors.db");
        QVERIFY(r.open(QIODevice::ReadOnly));
        QCOMPARE(r.readAll(), before);
        QVERIFY(!QFileInfo::exists(a.dataDir() + "Main.db"));
    }

    void dailyBackupsAndTheMessageThatNamesOne() {
        AppData a;
        withData(a, [](TDM& dm) { addRow(*dm.dsCityes, {{"Name", "Омск"}}); });
        // ten days of copies are kept
        for (int day = 1; day <= 12; ++day)
            QVERIFY(!makeDailyBackup(a.dataDir(), QDate(2026, 1, day)).folder.isEmpty());
        QVERIFY(makeDailyBackup(a.dataDir(), QDate(2026, 1, 12)).folder.isEmpty()); // once a day
        QDir backups(a.dataDir() + "backup");
        QCOMPARE(backups.entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 10);
        QVERIFY(!backups.exists("2026-01-02"));
        {
            auto w = startMain(); // takes today's copy
            w->close();
        }
        const QString today = QDate::currentDate().toString("yyyy-MM-dd");
        QVERIFY(QFileInfo(a.dataDir() + "backup/" + today + "/City.db").size() > 0);
        // the copy is a sound table file
        withData(a, [](TDM&) {});
        QFile f(a.dataDir() + "City.db");
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.close();
        TfMain w;
        QVERIFY(w.fatalError().contains("City.db"));
        QVERIFY2(w.fatalError().contains(
                     QDir::toNativeSeparators(a.dataDir() + "backup/" + today + "/City.db")),
                 qPrintable(w.fatalError()));
        // the copy opens as the city table
        TDM dm;
        dm.dsCityes->filePath = a.dataDir() + "backup/" + today + "/City.db";
        dm.OpenTable(*dm.dsCityes);
        QCOMPARE(dm.dsCityes->recordCount(), 1);
    }

    void failedBackupIsToldOnceAndTheProgramGoesOn() {
        AppData a;
        withData(a, [](TDM& dm) { addRow(*dm.dsCityes, {{"Name", "Омск"}}); });
        QFile blocker(a.dataDir() + "backup"); // a file where the backups go
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        msg::resetCounters();
        auto w = startMain();
        QVERIFY(w->fatalError().isEmpty());
        QCOMPARE(msg::errorCount(), 1);
        QVERIFY2(msg::lastError().contains(QStringLiteral("Не удалось сделать резервную копию")),
                 qPrintable(msg::lastError()));
        type(w->edCallName, "ua3abc");
        w->btnSave->click();
        QCOMPARE(msg::errorCount(), 1);
        QCOMPARE(w->DM->dsMain->recordCount(), 1);
    }

    // An import a crash interrupted: finished when it was committed, undone
    // when not, before the log is read; the operator is told which.
    void anInterruptedImportIsFinishedOrUndoneAtStart() {
        for (bool committed : {false, true}) {
            AppData a;
            withData(a, [](TDM& dm) {
                addRow(*dm.dsMain, {{"CorID", addRow(*dm.dsCors, {{"CallName", "UA3AAA"}})}});
            });
            TDM staged; // the import's tables, built whole in the stage
            staged.DataDir = importstage::folder(a.dataDir());
            QVERIFY(QDir().mkpath(staged.DataDir));
            staged.OpenTables();
            const int cor = addRow(*staged.dsCors, {{"CallName", "UA3AAA"}});
            addRow(*staged.dsMain, {{"CorID", cor}});
            addRow(*staged.dsMain, {{"CorID", cor}});
            staged.CloseTables();
            if (committed) QFile(staged.DataDir + "COMMITTED").open(QIODevice::WriteOnly);
            msg::resetCounters();
            auto w = startMain();
            QVERIFY(w->fatalError().isEmpty());
            QCOMPARE(w->DM->dsMain->recordCount(), committed ? 2 : 1);
            QVERIFY2(msg::lastInformation().contains(committed ? "завершена" : "отменена"),
                     qPrintable(msg::lastInformation()));
            QVERIFY(!QFileInfo::exists(staged.DataDir));
        }
    }

    void failedWritesAtShutdownAndEditorCloseLoseNothing() {
        AppData a;
        withData(a, [](TDM& dm) { addRow(*dm.dsBands, {{"Name", "40m"}}); });
        auto w = startMain();
        // a failing disk when the editor closes: the error is shown, the
        // window goes on, the band stays posted
        TableFile::faultHook = [](const char* point) {
            if (QByteArray(point) == "before-commit" || QByteArray(point) == "temp-written")
                throw DbError("disk full");
        };
        QTimer::singleShot(0, [] {
            if (auto* ed = QApplication::activeModalWidget()) {
                auto* name = ed->findChild<QLineEdit*>("edBandName");
                name->setText("20m");
                ed->findChild<QPushButton*>("btnSaveBand")->click();
                ed->close();
            }
        });
        w->sbEditBand->click();
        QCOMPARE(msg::errorCount(), 1);
        QVERIFY(msg::lastError().contains("disk full"));
        QVERIFY(w->isVisible());
        QCOMPARE(w->cbBand->count(), 2);
        // closing with the disk still failing keeps the window open
        w->cbBand->setCurrentIndex(w->cbBand->findText("20m"));
        QVERIFY(!w->close());
        QCOMPARE(msg::errorCount(), 2);
        QVERIFY(w->isVisible());
        // once the cause is gone, the close writes everything
        TableFile::faultHook = nullptr;
        QVERIFY(w->close());
        w.reset();
        withData(a, [](TDM& dm) {
            QVERIFY(dm.dsBands->locate(fld::Name, "20m"));
            QCOMPARE(dm.GetIntSetting("LastBand", 0), dm.dsBands->fieldByName(fld::ID).asInteger());
        });
    }

    void pastedTextIsStoredSensibly() {
        AppData a;
        auto w = startMain();
        // paste goes around the key filters
        QApplication::clipboard()->setText("ua3abc\t/p xyz 123");
        w->edCallName->setFocus();
        w->edCallName->paste();
        QCOMPARE(w->edCallName->text(), QStringLiteral("UA3ABC/P"));
        QApplication::clipboard()->setText("12abc");
        w->edCorPower->setFocus();
        w->edCorPower->paste();
        QApplication::clipboard()->setText(QString(300, QChar(0x0416)));
        w->cbCity->setFocus();
        w->cbCity->lineEdit()->paste();
        QCOMPARE(w->cbCity->currentText().size(), 50);
        QApplication::clipboard()->setText("p\x01\x7f");
        w->edSuffix->setFocus();
        w->edSuffix->paste();
        QCOMPARE(w->edSuffix->text(), QStringLiteral("p"));
        w->btnSave->click();
        QCOMPARE(msg::errorCount(), 0);

        // no control or bidirectional formatting character and no half of a
        // character gets in, typed, pasted or set
        const QString emoji = QStringLiteral("\U0001F600");
        const struct {
            QLineEdit* edit;
            QString pasted, shown;
        } cases[] = {
            {w->edCallName, QStringLiteral("rz9\u202Ezz\u200Ez"), "RZ9ZZZ"},
            {w->cbName->lineEdit(), QString(24, u'я') + emoji, QString(24, u'я')},
            {w->cbCity->lineEdit(), QStringLiteral("\u202EНижний\a\x1b\r\nНовгород\r\n"),
             QStringLiteral("Нижний Новгород")},
            {w->cbCountry->lineEdit(), QString(48, u'ш') + emoji + emoji,
             QString(48, u'ш') + emoji},
        };
        w->edCallName->setText(QStringLiteral("ua3\u202Ex\ty")); // set by a program
        QCOMPARE(w->edCallName->text(), QStringLiteral("UA3XY"));
        for (const auto& c : cases) {
            QApplication::clipboard()->setText(c.pasted);
            c.edit->setFocus();
            c.edit->selectAll();
            c.edit->paste();
            QCOMPARE(c.edit->text(), c.shown);
        }
        QApplication::clipboard()->setText(QStringLiteral("до\0после\r\nстрока\u202E\a"));
        w->mmNotice->setFocus();
        w->mmNotice->clear();
        w->mmNotice->paste();
        QCOMPARE(w->mmNotice->toPlainText(), QStringLiteral("допосле\nстрока"));
        w->btnSave->click();
        QCOMPARE(msg::errorCount(), 0);
        w->close();
        withData(a, [&](TDM& dm) {
            Table& log = *dm.dsMain;
            QCOMPARE(log.recordCount(), 2);
            QCOMPARE(log.fieldByName(fld::CorCallName).asString(), QStringLiteral("RZ9ZZZ"));
            QCOMPARE(log.fieldByName(fld::CorName).asString(), QString(24, u'я'));
            QCOMPARE(log.fieldByName(fld::CorCity).asString(), QStringLiteral("Нижний Новгород"));
            QCOMPARE(log.fieldByName(fld::CorCountry).asString(), QString(25, u'ш'));
            QCOMPARE(log.fieldByName(fld::Notice).asString(), QStringLiteral("допосле\nстрока"));
            QVERIFY(dm.dsCountryes->locate(fld::Name, QString(48, u'ш') + emoji));
            log.next();
            QVERIFY(log.fieldByName(fld::CorPower).isNull());
            QCOMPARE(log.fieldByName(fld::CorCity).asString(), QString(25, QChar(0x0416)));
            QCOMPARE(log.fieldByName(fld::CorCallName).asString(), QStringLiteral("UA3ABC/P"));
            QVERIFY(dm.dsCityes->locate(fld::Name, QString(50, QChar(0x0416))));
        });
    }

    // Each kind of character the rules drop or keep, on a line and in the
    // memo: what cannot be seen or reorders the text goes, and so does half
    // a character; a break between words is one blank on a line.
    void textRulesKeepOnlyWhatCanBeSeen() {
        const QString pair = QStringLiteral("\U0001F600");
        const struct {
            const char* what;
            QString text, line, memo;
        } cases[] = {
            {"a lone low surrogate", QString("a") + QChar(0xDC00) + "b", "ab", "ab"},
            {"a lone high surrogate", QString("a") + QChar(0xD83D) + "b", "ab", "ab"},
            {"a surrogate pair", "a" + pair, "a" + pair, "a" + pair},
            {"bidirectional isolates", QStringLiteral("a\u2066b\u2067c\u2068d\u2069e"), "abcde",
             "abcde"},
            {"bidirectional embeddings and marks",
             QStringLiteral("a\u202Ab\u202Ec\u200Ed\u200Fe\u061Cf"), "abcdef", "abcdef"},
            {"DEL and C1 controls", QStringLiteral("a\u007Fb\u0080c\u009Fd\u00A0e"),
             QStringLiteral("abcd\u00A0e"), QStringLiteral("abcd\u00A0e")},
            {"C0 controls", QStringLiteral("a\u0001b\u001Bc\u0000d"), "abcd", "abcd"},
            {"line breaks", QStringLiteral("a\r\nb\nc\u2028d\u0085e"), "a b c d e",
             "a\nb\nc\nd\ne"},
            {"a tab", QStringLiteral("a\tb"), "a b", "a\tb"},
            {"breaks before, after and between", QStringLiteral("\n\ta\r\n\r\nb \n"), "a b ",
             "\n\ta\n\nb \n"},
        };
        QStringList got, expected;
        for (const auto& c : cases) {
            got << QStringLiteral("%1: [%2] [%3]")
                       .arg(QString::fromLatin1(c.what), cleanLineText(c.text),
                            cleanMemoText(c.text));
            expected
                << QStringLiteral("%1: [%2] [%3]").arg(QString::fromLatin1(c.what), c.line, c.memo);
        }
        QCOMPARE(got, expected);
    }

    // A huge notice costs the start and the preview only its beginning, and is
    // wrapped anywhere when it holds a very long word; it stays whole.
    void hugeNoticeIsPreviewedByItsBeginningAndKeptWhole() {
        // very long: one character past the longest word laid out at words
        const QString word(MemoEdit::kLongestWord, QChar(u'ж'));
        QVERIFY(!MemoEdit::hasLongWord(word + QLatin1Char(' ') + word));
        QVERIFY(MemoEdit::hasLongWord(QStringLiteral("а ") + word + QChar(u'ж')));
        AppData a;
        const QString huge = QString(300000, QChar(u'ж')) + QStringLiteral(" конец");
        withData(a, [&](TDM& dm) {
            const int cor = addRow(*dm.dsCors, {{"CallName", "UA1AAA"}});
            addRow(*dm.dsMain, {{"CorID", cor}, {"Notice", huge}});
        });
        auto w = startMain();
        QVERIFY(w->noticeIsPreview());
        QCOMPARE(w->mmNotice->toPlainText(), huge.left(TfMain::kPreviewChars) + QChar(0x2026));
        QCOMPARE(w->mmNotice->wordWrapMode(), QTextOption::WrapAnywhere);
        // loaded for correction: all of it, and saved back unchanged
        w->grMain->setFocus();
        QTest::keyClick(w->grMain, Qt::Key_Return);
        QVERIFY(w->FEditMode);
        QCOMPARE(w->mmNotice->toPlainText(), huge);
        QTest::keyClick(w->edCallName, Qt::Key_Return);
        QVERIFY(!w->FEditMode);
        // pasted: the same wrapping, and words again once the memo is empty
        QApplication::clipboard()->setText(huge);
        w->mmNotice->setFocus();
        w->mmNotice->paste();
        QCOMPARE(w->mmNotice->toPlainText(), huge);
        QCOMPARE(w->mmNotice->wordWrapMode(), QTextOption::WrapAnywhere);
        w->mmNotice->clear();
        QCOMPARE(w->mmNotice->wordWrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere);
        w->close();
        withData(a, [&](TDM& dm) {
            QCOMPARE(dm.dsMain->recordCount(), 1);
            QCOMPARE(dm.dsMain->fieldByName(fld::Notice).asString(), huge);
        });
    }

    // The next QSO always starts with its call sign.
    void focusGoesBackToTheCallSign() {
        AppData a;
        withData(a, [](TDM& dm) { addRow(*dm.dsBands, {{"Name", "20m"}}); });
        auto w = startMain();
        const std::function<void()> steps[] = {
            [&] {
                type(w->edCallName, "ua3aaa");
                QTest::mouseClick(w->btnSave, Qt::LeftButton);
            },
            [&] {
                type(w->edSuffix, "p");
                QTest::mouseClick(w->btnClear, Qt::LeftButton);
            },
            [&] {
                w->cbCity->setFocus();
                QTest::keyClick(w->cbCity, Qt::Key_Escape);
            },
            [&] {
                w->edMyPower->setFocus();
                QTimer::singleShot(0, [] {
                    if (auto* ed = QApplication::activeModalWidget()) ed->close();
                });
                w->sbEditBand->click();
            },
        };
        for (const auto& step : steps) {
            w->cbCountry->setFocus();
            step();
            QCOMPARE(w->focusWidget(), w->edCallName);
        }
        QCOMPARE(w->DM->dsMain->recordCount(), 1);
        QCOMPARE(msg::errorCount(), 0);
    }

    // Qt's own texts in the system's language, and the windows' font for
    // menus, tooltips and message boxes.
    void builtInTextsAndOneFont() {
        AppData a;
        auto w = startMain();
        std::unique_ptr<QMenu> menu(w->cbCity->lineEdit()->createStandardContextMenu());
        QStringList texts;
        for (QAction* act : menu->actions())
            if (!act->isSeparator()) texts << act->text().remove('&').section('\t', 0, 0);
        const bool ru = QLocale::system().language() == QLocale::Russian;
        QVERIFY2(texts.contains(ru ? QStringLiteral("Вставить") : QStringLiteral("Paste")),
                 qPrintable(texts.join(", ")));
        QVERIFY(texts.contains(ru ? QStringLiteral("Копировать") : QStringLiteral("Copy")));
        for (const char* cls : {"QMenu", "QTipLabel", "QMessageBox"}) {
            QCOMPARE(QApplication::font(cls).family(), QStringLiteral("Tahoma"));
            QCOMPARE(QApplication::font(cls).pointSize(), 8);
        }
        QCOMPARE(menu->font().family(), QStringLiteral("Tahoma"));
    }

    // A clean close leaves the nine table files and the backups, nothing else.
    void cleanCloseLeavesTheNineFiles() {
        AppData a;
        withData(a, [](TDM& dm) { addRow(*dm.dsModes, {{"Name", "SSB"}}); });
        auto w = startMain();
        type(w->edCallName, "ua3aaa");
        QTest::keyClick(w->edCallName, Qt::Key_Return);
        w->close();
        w.reset();
        QDir d(a.dataDir());
        QStringList left =
            d.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        left.sort();
        QCOMPARE(left, (QStringList{"Bands.db", "City.db", "Cors.db", "Country.db", "Ini.db",
                                    "Main.db", "Modes.db", "Names.db", "RS.db", "backup"}));
    }

    // Bands are listed in the order they were added, not by name.
    void bandsKeepTheirOrder() {
        AppData a;
        withData(a, [](TDM& dm) {
            for (const char* b : {"40m", "20m", "10m", "160m"})
                addRow(*dm.dsBands, {{"Name", b}});
        });
        auto w = startMain();
        QStringList items;
        for (int i = 0; i < w->cbBand->count(); ++i)
            items << w->cbBand->itemText(i);
        QCOMPARE(items, (QStringList{"40m", "20m", "10m", "160m"}));
    }

    void secondCopyOnTheSameFolderIsRefused() {
        AppData a;
        auto first = startMain();
        QVERIFY(first->fatalError().isEmpty());
        {
            TfMain second;
            QVERIFY(second.fatalError().contains(QStringLiteral("уже открыт")));
        }
        first->close();
        first.reset();
        // the lock goes with the first copy
        TfMain third;
        QVERIFY(third.fatalError().isEmpty());
    }

    void lockThatCannotBeMadeGivesTheSystemsReason() {
        AppData a;
        QVERIFY(QDir().mkpath(a.dataDir() + "qardel.lock")); // a folder where the lock goes
        TfMain w;
        QVERIFY2(w.fatalError().contains(QString::fromLocal8Bit(std::strerror(EISDIR))),
                 qPrintable(w.fatalError()));
        QVERIFY(w.fatalError().contains(QStringLiteral("Не удалось заблокировать папку данных")));
    }

    void folderThatCannotBeCreated() {
        QTemporaryDir d;
        QFile blocker(d.path() + "/file");
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        qputenv("APPDATA", (d.path() + "/file").toUtf8()); // a file where a folder must go
        TfMain w;
        QVERIFY(w.fatalError().contains(QStringLiteral("Не удалось создать папку")));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
