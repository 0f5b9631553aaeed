// The reference-list editor driven the way the operator uses it: typing into
// its fields, clicking grid rows and tabs, pressing Enter and Escape and
// answering the delete question; then the shared tables and the files on disk.
#include "AccessibleNames.h"
#include "TestUtil.h"
#include "data/Fields.h"
#include "data/uDM.h"
#include "ui/common/DataGrid.h"
#include "ui/common/Guard.h"
#include "ui/common/IdComboBox.h"
#include "ui/common/MessageBox.h"
#include "ui/editor/uEditor.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QtTest>

#include <memory>

using namespace qardel;

namespace {

enum { tabBands, tabModes, tabNames, tabCityes, tabCountryes, tabRS, tabOther };

QString sep() {
    const QString s = QLocale().decimalPoint();
    return s.isEmpty() ? QStringLiteral(".") : s;
}
// The separator the locale does not use.
QString otherSep() {
    return sep() == QLatin1String(",") ? QStringLiteral(".") : QStringLiteral(",");
}
// A number as the operator types and reads it: "14.1" with the locale's separator.
QString num(const char* text) {
    return QString::fromLatin1(text).replace(QLatin1Char('.'), sep());
}

// Types any text, Cyrillic included (QTest::keyClicks knows Latin-1 only).
void typeText(QWidget* w, const QString& text) {
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, w, Qt::Key(c.toUpper().unicode()), QString(c),
                            Qt::NoModifier);
}

// Replaces the whole text of a field as a person does: select all, then type.
void retype(QLineEdit* e, const QString& text) {
    e->setFocus();
    QTest::keyClick(e, Qt::Key_A, Qt::ControlModifier);
    if (text.isEmpty())
        QTest::keyClick(e, Qt::Key_Backspace);
    else
        typeText(e, text);
}

void clickRow(TfEditor& dlg, int row) {
    const QRect r = dlg.dbgEditor->visualRect(dlg.dbgEditor->model()->index(row, 0));
    QTest::mouseClick(dlg.dbgEditor->viewport(), Qt::LeftButton, {}, r.center());
}

int currentId(Table* t) {
    return t->fieldByName(fld::ID).asInteger();
}

} // namespace

class TestEditor : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDataDir> m_dir;
    std::unique_ptr<TDM> m_dm;

    TDM& dm() { return *m_dm; }

    int addRow(Table* t, const QString& field, const QString& text) {
        t->append();
        t->fieldByName(field).setAsString(text);
        t->post();
        return currentId(t);
    }
    int addMode(const QString& name) { return addRow(dm().dsModes, QStringLiteral("Name"), name); }
    int addBand(const QString& name, QVariant begin, QVariant end, QVariant power,
                QVariant modeId) {
        Table* t = dm().dsBands;
        t->append();
        t->fieldByName(fld::Name).setAsString(name);
        t->fieldByName(fld::Begin).setValue(begin);
        t->fieldByName(fld::End).setValue(end);
        t->fieldByName(fld::DefPower).setValue(power);
        t->fieldByName(fld::DefModeID).setValue(modeId);
        t->post();
        return currentId(t);
    }
    // Rows the test put in are not the dialog's changes.
    void resetCounts() {
        for (Table* t : dm().tables())
            t->ChangeCount = 0;
    }

    bool open(TfEditor& dlg, int tab) {
        dlg.pcType->setCurrentIndex(tab);
        dlg.pcTypeChange();
        dlg.show();
        return QTest::qWaitForWindowExposed(&dlg);
    }

    // What the files hold, through a second data module on the same folder.
    std::unique_ptr<TDM> reopen() {
        dm().SaveAll();
        auto other = std::make_unique<TDM>();
        other->DataDir = m_dir->path();
        other->OpenTables();
        return other;
    }

    // The row of t whose field equals text exactly; false when none.
    static bool seek(Table* t, const QString& field, const QString& text) {
        return t->locate(field, text);
    }

  private slots:
    void initTestCase() {
        msg::setTestMode(true);
        setUpLanguageAndFont(*qApp); // as the program starts
    }

    void init() {
        msg::resetCounters();
        m_dir = std::make_unique<TempDataDir>();
        QVERIFY(m_dir->dir.isValid());
        m_dm = std::make_unique<TDM>();
        m_dm->DataDir = m_dir->path();
        m_dm->OpenTables();
        QVERIFY(m_dm->dsBands->isActive());
    }

    void cleanup() {
        m_dm.reset();
        m_dir.reset();
    }

    // ------------------------------------------------------------ opening

    void createdEmptyAndInert() {
        addMode(QStringLiteral("SSB"));
        TfEditor dlg(&dm(), nullptr);
        QCOMPARE(dlg.pcType->currentIndex(), tabBands);
        QVERIFY(!dlg.dbgEditor->model());
        for (QPushButton* b : dlg.findChildren<QPushButton*>())
            QVERIFY2(!b->isEnabled(), qPrintable(b->objectName()));
        for (QLineEdit* e : dlg.findChildren<QLineEdit*>())
            QVERIFY(e->text().isEmpty());
        // choosing the Modes tab in code before showing does not run the switch
        dlg.pcType->setCurrentIndex(tabModes);
        QVERIFY(!dlg.dbgEditor->model());
        QVERIFY(dlg.edModeName->text().isEmpty());
    }

    // Every field is named by its label, as a screen reader speaks it; the
    // grid by the list it shows.
    void everyControlHasTheNameAReaderSpeaks() {
        TfEditor dlg(&dm(), nullptr);
        dlg.pcTypeChange();
        QStringList expected{"btnDeleteBand: Удалить",
                             "btnDeleteCity: Удалить",
                             "btnDeleteCountry: Удалить",
                             "btnDeleteMisc: Удалить",
                             "btnDeleteMode: Удалить",
                             "btnDeleteName: Удалить",
                             "btnDeleteRS: Удалить",
                             "btnSaveBand: Сохранить",
                             "btnSaveCity: Сохранить",
                             "btnSaveCountry: Сохранить",
                             "btnSaveMisc: Сохранить",
                             "btnSaveMode: Сохранить",
                             "btnSaveName: Сохранить",
                             "btnSaveRS: Сохранить",
                             "cbBandMode: Модуляция",
                             "dbgEditor: Диапазоны",
                             "edBandName: Название",
                             "edBegin: Начало",
                             "edCityName: Название",
                             "edCountryName: Название",
                             "edEnd: Конец",
                             "edMiscName: Имя",
                             "edMiscValue: Значение",
                             "edModeName: Название",
                             "edName: Имя",
                             "edPower: Типичная мощность",
                             "edRS: Величина"};
        QCOMPARE(qardel::test::accessibleNames(&dlg), expected);
        dlg.pcType->setCurrentIndex(tabCityes);
        dlg.pcTypeChange();
        QVERIFY(qardel::test::accessibleNames(&dlg).contains("dbgEditor: Города"));
    }

    void bandsGridFitsTheDialog() {
        const int ssb = addMode(QStringLiteral("SSB"));
        addBand(QString(25, u'Ш'), 14000.125, 14350.5, 1500.25, ssb);
        TfEditor dlg(&dm(), nullptr);
        QVERIFY(open(dlg, tabBands));
        DataGrid* g = dlg.dbgEditor;
        int sum = 0;
        for (int c = 0; c < g->model()->columnCount(); ++c) {
            const QString title = g->model()->headerData(c, Qt::Horizontal).toString();
            QVERIFY2(g->columnWidth(c) >=
                         g->horizontalHeader()->fontMetrics().horizontalAdvance(title),
                     qPrintable(title));
            sum += g->columnWidth(c);
        }
        QCOMPARE(g->model()->headerData(4, Qt::Horizontal).toString(), QStringLiteral("Модуляция"));
        QVERIFY2(sum <= g->viewport()->width(), qPrintable(QString::number(sum)));
        QCOMPARE(g->horizontalScrollBar()->maximum(), 0);
    }

    void opensOnChosenBand() {
        const int ssb = addMode(QStringLiteral("SSB"));
        const int cw = addMode(QStringLiteral("CW"));
        addBand(QStringLiteral("20m"), 14.0, 14.35, 100.0, ssb);
        const int b40 = addBand(QStringLiteral("40m"), 7.0, 7.2, 50.5, cw);
        addBand(QStringLiteral("80m"), 3.5, 3.8, 100.0, ssb);
        QVERIFY(dm().dsBands->locate(fld::ID, b40));

        TfEditor dlg(&dm(), nullptr);
        QVERIFY(open(dlg, tabBands));
        QCOMPARE(dlg.dbgEditor->dataSource(), dm().sBands);
        QCOMPARE(dlg.edBandName->text(), QStringLiteral("40m"));
        QCOMPARE(dlg.edBegin->text(), QStringLiteral("7"));
        QCOMPARE(dlg.edEnd->text(), num("7.2"));
        QCOMPARE(dlg.edPower->text(), num("50.5"));
        QCOMPARE(dlg.cbBandMode->currentText(), QStringLiteral("CW"));
        QCOMPARE(dlg.cbBandMode->selectedId(), cw);
        QVERIFY(dlg.btnSaveBand->isEnabled());
        QVERIFY(dlg.btnDeleteBand->isEnabled());
        QCOMPARE(dlg.dbgEditor->currentIndex().row(), 1);
        // the mode list is sorted by name, whatever the order of the rows
        QCOMPARE(dlg.cbBandMode->itemText(0), QStringLiteral("CW"));
    }

    void opensOnChosenMode() {
        addMode(QStringLiteral("SSB"));
        const int cw = addMode(QStringLiteral("CW"));
        addMode(QStringLiteral("FM"));
        QVERIFY(dm().dsModes->locate(fld::ID, cw));

        TfEditor dlg(&dm(), nullptr);
        QVERIFY(open(dlg, tabModes));
        QCOMPARE(dlg.dbgEditor->dataSource(), dm().sModes);
        QCOMPARE(dlg.edModeName->text(), QStringLiteral("CW"));
        QVERIFY(!dlg.btnSaveMode->isEnabled()); // already in the list
        QVERIFY(dlg.btnDeleteMode->isEnabled());
        QCOMPARE(currentId(dm().dsModes), cw);
    }

    void emptyTableGivesEmptyFields() {
        TfEditor dlg(&dm(), nullptr);
        QVERIFY(open(dlg, tabBands));
        QVERIFY(dlg.edBandName->text().isEmpty());
        QCOMPARE(dlg.cbBandMode->currentIndex(), -1);
        QVERIFY(!dlg.btnSaveBand->isEnabled());
        QVERIFY(!dlg.btnDeleteBand->isEnabled());
    }

    // ------------------------------------------------------ rows and tabs

    void clickFillsFromClickedRowThenSearchMovesOn() {
        addBand(QStringLiteral("2m FM"), 145.0, 146.0, 10.0, QVariant());
        const int b2 = addBand(QStringLiteral("2m"), 144.0, 146.0, 50.0, QVariant());
        QVERIFY(dm().dsBands->locate(fld::ID, 1));
        TfEditor dlg(&dm(), nullptr);
        QVERIFY(open(dlg, tabBands));
        QCOMPARE(dlg.edBandName->text(), QStringLiteral("2m FM"));

        clickRow(dlg, 1);
        QCOMPARE(dlg.edBandName->text(), QStringLiteral("2m"));
        QCOMPARE(dlg.edBegin->text(), QStringLiteral("144"));
        QCOMPARE(dlg.edPower->text(), QStringLiteral("50"));
        // the name search found "2m FM" first
        QCOMPARE(dlg.dbgEditor->currentIndex().row(), 0);
        QCOMPARE(currentId(dm().dsBands), 1);
        Q_UNUSED(b2);
    }

    void keyboardMovesDoNotFillFields() {
        addMode(QStringLiteral("SSB"));
        addMode(QStringLiteral("CW"));
        QVERIFY(dm().dsModes->locate(fld::ID, 1));
        TfEditor dlg(&dm(), nullptr);
        QVERIFY(open(dlg, tabModes));
        dlg.dbgEditor->setFocus();
        QTest::keyClick(dlg.dbgEditor, Qt::Key_Down);
        QCOMPARE(currentId(dm().dsModes), 2);
        QCOMPARE(dlg.edModeName->text(), QStringLiteral("SSB"));
    }

    void userTabSwitchShowsTableAndRefillsModes() {
        const int ssb = addMode(QStringLiteral("SSB"));
        addBand(QStringLiteral("20m"), 14.0, 14.35, 100.0, ssb);
        TfEditor dlg(&dm(), nullptr);
        QVERIFY(open(dlg, tabBands));
        QTabBar* bar = dlg.pcType->tabBar();

        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(tabModes).center());
        QCOMPARE(dlg.pcType->currentIndex(), tabModes);
        QCOMPARE(dlg.dbgEditor->dataSource(), dm().sModes);
        QCOMPARE(dlg.edModeName->text(), QStringLiteral("SSB"));
        retype(dlg.edModeName, QStringLiteral("AM"));
        QTest::mouseClick(dlg.btnSaveMode, Qt::LeftButton);
        QCOMPARE(dm().dsModes->recordCount(), 2);

        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(tabBands).center());
        QCOMPARE(dlg.dbgEditor->dataSource(), dm().sBands);
        QCOMPARE(dlg.cbBandMode->count(), 2);
        QCOMPARE(dlg.cbBandMode->itemText(0), QStringLiteral("AM"));
        QCOMPARE(dlg.cbBandMode->currentText(), QStringLiteral("SSB"));
    }

    // -------------------------------------------------------- name search

    void modeSearchIgnoresCase() {
        addMode(QStringLiteral("CW"));
        addMode(QStringLiteral("sstv"));
        addMode(QStringLiteral("SSB"));
        QVERIFY(dm().dsModes->locate(fld::ID, 1));
        TfEditor dlg(&dm(), nullptr);
        QVERIFY(open(dlg, tabModes));

        retype(dlg.edModeName, QStringLiteral("ssb"));
        QCOMPARE(dlg.dbgEditor->currentIndex().row(), 2);
        QVERIFY(!dlg.btnSaveMode->isEnabled());

        QTest::keyClick(dlg.edModeName, Qt::Key_Backspace);
        QCOMPARE(dlg.edModeName->text(), QStringLiteral("ss"));
        QVERIFY(dlg.btnSaveMode->isEnabled());
        QCOMPARE(dlg.dbgEditor->currentIndex().row(), 1); // the first beginning with ss

        retype(dlg.edModeName, QStringLiteral("  "));
        QVERIFY(!dlg.btnSaveMode->isEnabled());
    }

    void bandPrefixKeepsOtherFieldsAndSavesNewBand() {
        const int cw = addMode(QStringLiteral("CW"));
        addBand(QStringLiteral("160m"), 1.8, 2.0, 100.0, cw);
        addBand(QStringLiteral("20m"), 14.0, 14.35, 100.0, QVariant());
        QVERIFY(dm().dsBands->locate(fld::ID, 1));
        resetCounts();
        TfEditor dlg(&dm(), nullptr);
        QVERIFY(open(dlg, tabBands));

        retype(dlg.edBandName, QStringLiteral("20"));
        QVERIFY(dlg.btnSaveBand->isEnabled());
        QCOMPARE(currentId(dm().dsBands), 2);
        QCOMPARE(dlg.edBegin->text(), num("1.8"));
        QCOMPARE(dlg.cbBandMode->currentText(), QStringLiteral("CW"));

        QTest::mouseClick(dlg.btnSaveBand, Qt::LeftButton);
        Table* t = dm().dsBands;
        QCOMPARE(t->recordCount(), 3);
        QCOMPARE(t->ChangeCount, 1);
        QVERIFY(seek(t, QStringLiteral("Name"), QStringLiteral("20")));
        QCOMPARE(t->fieldByName(fld::Begin).asFloat(), 1.8);
        QCOMPARE(t->fieldByName(fld::End).asFloat(), 2.0);
        QCOMPARE(t->fieldByName(fld::DefPower).asFloat(), 100.0);
        QCOMPARE(t->fieldByName(fld::DefModeID).asInteger(), cw);
        QCOMPARE(dlg.edBandName->text(), QStringLiteral("20"));
        // 20m is still there, unchanged
        QVERIFY(seek(t, QStringLiteral("Name"), QStringLiteral("20m")));
        QCOMPARE(t->fieldByName(fld::Begin).asFloat(), 14.0);

        auto disk = reopen();
        QCOMPARE(disk->dsBands->recordCount(), 3);
        QVERIFY(seek(disk->dsBands, QStringLiteral("Name"), QStringLiteral("20")));
        QCOMPARE(disk->dsBands->fieldByName(fld::Begin).asFloat(), 1.8);
        QCOMPARE(disk->dsBands->fieldByName(fld::DefModeID).asInteger(), cw);
    }

    void caseOnlyRenameKeepsId() {
        const int b20 = addBand(QStringLiteral("20m"), 14.0, 14.35, 100.0, QVariant());
        TfEditor dlg(&dm(), nullptr);
        QVERIFY(open(dlg, tabBands));
        retype(dlg.edBandName, QStringLiteral("20M"));
        retype(dlg.edPower, QStringLiteral("200"));
        QTest::mouseClick(dlg.btnSaveBand, Qt::LeftButton);

        QCOMPARE(dm().dsBands->recordCount(), 1);
        QCOMPARE(currentId(dm().dsBands), b20);
        QCOMPARE(dm().dsBands->fieldByName(fld::Name).asString(), QStringLiteral("20M"));
        auto disk = reopen();
        QVERIFY(disk->dsBands->locate(fld::ID, b20));
        QCOMPARE(disk->dsBands->fieldByName(fld::Name).asString(), QStringLiteral("20M"));
        QCOMPARE(disk->dsBands->fieldByName(fld::DefPower).asFloat(), 200.0);
    }

    void noModeSelectedKeepsBandsMode() {
        addMode(QStringLiteral("SSB"));
        // the band's mode was deleted: the list shows no selection
        addBand(QStringLiteral("20m"), 14.0, 14.35, 100.0, 99);
        TfEditor dlg(&dm(), nullptr);
        QVERIFY(open(dlg, tabBands));
        QCOMPARE(dlg.cbBandMode->currentIndex(), -1);
        retype(dlg.edBegin, QStringLiteral("13"));
        QTest::mouseClick(dlg.btnSaveBand, Qt::LeftButton);
        Table* t = dm().dsBands;
        QCOMPARE(t->fieldByName(fld::DefModeID).asInteger(), 99);
        QCOMPARE(t->fieldByName(fld::Begin).asFloat(), 13.0);

        // a new band saved without a selection gets no mode at all
        retype(dlg.edBandName, QStringLiteral("17m"));
        QTest::mouseClick(dlg.btnSaveBand, Qt::LeftButton);
        QVERIFY(seek(t, QStringLiteral("Name"), QStringLiteral("17m")));
        QVERIFY(t->fieldByName(fld::DefModeID).isNull());
    }

    void emptyOrPastedNonNumberClearsField() {
        addBand(QStringLiteral("20m"), 14.0, 14.35, 100.0, QVariant());
        TfEditor dlg(&dm(), nullptr);
        QVERIFY(open(dlg, tabBands));
        retype(dlg.edBegin, QString());
        QVERIFY(dlg.edBegin->text().isEmpty());
        dlg.edEnd->setText(QStringLiteral("abc")); // pasted
        dlg.edPower->setText(QStringLiteral("5") + otherSep() + QStringLiteral("5"));
        QTest::mouseClick(dlg.btnSaveBand, Qt::LeftButton);
        Table* t = dm().dsBands;
        QVERIFY(t->fieldByName(fld::Begin).isNull());
        QVERIFY(t->fieldByName(fld::End).isNull());
        QVERIFY(t->fieldByName(fld::DefPower).isNull());
        QVERIFY(dlg.edEnd->text().isEmpty()); // the fields show the stored row again
        auto disk = reopen();
        disk->dsBands->first();
        QVERIFY(disk->dsBands->fieldByName(fld::Begin).isNull());
    }

    void refusedPostLeavesTableBrowsing() {
        // two names differing only in case, from a file edited elsewhere
        addBand(QStringLiteral("20m"), 14.0, 14.35, 100.0, QVariant());
        addBand(QStringLiteral("20M"), 14.0, 14.35, 50.0, QVariant());
        resetCounts();
        TfEditor dlg(&dm(), nullptr);
        QVERIFY(open(dlg, tabBands));
        retype(dlg.edBandName, QStringLiteral("20M"));
        retype(dlg.edPower, QStringLiteral("7"));
        const int errors = msg::errorCount();
        // the first case-blind match (20m) would take the name of the other row
        QTest::mouseClick(dlg.btnSaveBand, Qt::LeftButton);
        QCOMPARE(msg::errorCount(), errors + 1);
        Table* t = dm().dsBands;
        QCOMPARE(t->state(), TableState::Browse);
        QCOMPARE(t->ChangeCount, 0);
        QVERIFY(seek(t, QStringLiteral("Name"), QStringLiteral("20m")));
        QCOMPARE(t->fieldByName(fld::DefPower).asFloat(), 100.0);
        // what was typed stays for correction
        QCOMPARE(dlg.edBandName->text(), QStringLiteral("20M"));
        QCOMPARE(dlg.edPower->text(), QStringLiteral("7"));
        // and the table takes the next save
        retype(dlg.edBandName, QStringLiteral("15m"));
        QTest::mouseClick(dlg.btnSaveBand, Qt::LeftButton);
        QCOMPARE(msg::errorCount(), errors + 1);
        QCOMPARE(t->recordCount(), 3);
    }

    void blankNameDisablesSaveOnEditOrAppendTabs() {
        addBand(QStringLiteral("20m"), 14.0, 14.35, 100.0, QVariant());
        TfEditor dlg(&dm(), nullptr);
        QVERIFY(open(dlg, tabBands));
        QVERIFY(dlg.btnSaveBand->isEnabled());
        retype(dlg.edBandName, QStringLiteral(" "));
        QVERIFY(!dlg.btnSaveBand->isEnabled());

        QTest::mouseClick(dlg.pcType->tabBar(), Qt::LeftButton, {},
                          dlg.pcType->tabBar()->tabRect(tabOther).center());
        retype(dlg.edMiscName, QStringLiteral("X"));
        QVERIFY(dlg.btnSaveMisc->isEnabled());
        retype(dlg.edMiscName, QString());
        QVERIFY(!dlg.btnSaveMisc->isEnabled());
        // Enter does nothing either
        QTest::keyClick(dlg.edMiscName, Qt::Key_Return);
        QVERIFY(dm().dsINI->isEmpty());
        QCOMPARE(dm().dsINI->state(), TableState::Browse);
    }

    // -------------------------------------------------------- key filters

    void numberFieldsTakeDigitsAndOneSeparator() {
        TfEditor dlg(&dm(), nullptr);
        QVERIFY(open(dlg, tabBands));
        QLineEdit* e = dlg.edBegin;
        e->setFocus();
        int beeps = beepCount();
        QTest::keyClicks(e, QStringLiteral("14") + sep() + QStringLiteral("1"));
        QCOMPARE(e->text(), num("14.1"));
        QCOMPARE(beepCount(), beeps);

        // a second separator is refused even when it would replace the whole text
        e->selectAll();
        QTest::keyClicks(e, sep());
        QCOMPARE(e->text(), num("14.1"));
        QCOMPARE(beepCount(), ++beeps);

        e->setCursorPosition(int(e->text().size()));
        for (const QString& bad : {otherSep(), QStringLiteral("-"), QStringLiteral(" "),
                                   QStringLiteral("e"), QStringLiteral("+")}) {
            QTest::keyClicks(e, bad);
            QCOMPARE(e->text(), num("14.1"));
            QCOMPARE(beepCount(), ++beeps);
        }
        typeText(e, QStringLiteral("я"));
        QCOMPARE(beepCount(), ++beeps);
        QCOMPARE(e->text(), num("14.1"));

        // Backspace and Delete edit as usual, without a beep
        QTest::keyClick(e, Qt::Key_Backspace);
        QCOMPARE(e->text(), num("14."));
        e->setCursorPosition(0);
        // the Delete key as X11 delivers it, with the text DEL
        QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier, QStringLiteral("\x7f"));
        QApplication::sendEvent(e, &del);
        QCOMPARE(e->text(), num("4."));
        QCOMPARE(beepCount(), beeps);
        // once the separator is gone it may be typed again
        QTest::keyClick(e, Qt::Key_End);
        QTest::keyClick(e, Qt::Key_Backspace);
        QTest::keyClicks(e, sep() + QStringLiteral("5"));
        QCOMPARE(e->text(), num("4.5"));
        QCOMPARE(beepCount(), beeps);

        // the same filter guards End and Power
        for (QLineEdit* other : {dlg.edEnd, dlg.edPower}) {
            QTest::keyClicks(other, QStringLiteral("1x"));
            QCOMPARE(other->text(), QStringLiteral("1"));
            QCOMPARE(beepCount(), ++beeps);
        }
    }

    void firstLetterIsCapitalAndNeverASpace() {
        TfEditor dlg(&dm(), nullptr);
        QVERIFY(open(dlg, tabCityes));
        QLineEdit* e = dlg.edCityName;
        e->setFocus();
        const int beeps = beepCount();
        QTest::keyClicks(e, QStringLiteral(" "));
        QVERIFY(e->text().isEmpty());
        QCOMPARE(beepCount(), beeps + 1);

        typeText(e, QStringLiteral("москва"));
        QCOMPARE(e->text(), QStringLiteral("Москва"));

        // a space inside the name is fine
        typeText(e, QStringLiteral(" с"));
        QCOMPARE(e->text(), QStringLiteral("Москва с"));

        e->setCursorPosition(0);
        typeText(e, QStringLiteral("о"));
        QCOMPARE(e->text(), QStringLiteral("оМосква с")); // not the first letter of a new text

        e->selectAll();
        typeText(e, QStringLiteral("п"));
        QCOMPARE(e->text(), QStringLiteral("П"));
        e->selectAll();
        QTest::keyClicks(e, QStringLiteral(" "));
        QCOMPARE(e->text(), QStringLiteral("П"));
        QCOMPARE(beepCount(), beeps + 2);

        // the same rule on names and countries, and not on modes
        for (QLineEdit* other : {dlg.edName, dlg.edCountryName}) {
            typeText(other, QStringLiteral("иван"));
            QCOMPARE(other->text(), QStringLiteral("Иван"));
        }
        QTest::keyClicks(dlg.edModeName, QStringLiteral("usb"));
        QCOMPARE(dlg.edModeName->text(), QStringLiteral("usb"));
    }

    // ------------------------------------------------- append-only saves

    void savedCityDisablesSaveUntilTextChanges() {
        addRow(dm().dsCityes, QStringLiteral("Name"), QStringLiteral("Киев"));
        resetCounts();
        TfEditor dlg(&dm(), nullptr);
        QVERIFY(open(dlg, tabCityes));
        QVERIFY(!dlg.btnSaveCity->isEnabled());
        retype(dlg.edCityName, QStringLiteral("москва"));
        QCOMPARE(dlg.edCityName->text(), QStringLiteral("Москва"));
        QVERIFY(dlg.btnSaveCity->isEnabled());

        QTest::keyClick(dlg.edCityName, Qt::Key_Return); // the default button
        Table* t = dm().dsCityes;
        QCOMPARE(t->recordCount(), 2);
        QCOMPARE(t->ChangeCount, 1);
        QCOMPARE(t->fieldByName(fld::Name).asString(), QStringLiteral("Москва"));
        QVERIFY(!dlg.btnSaveCity->isEnabled());
        QVERIFY(dlg.btnDeleteCity->isEnabled());
        QCOMPARE(dlg.dbgEditor->currentIndex().row(), 1);

        QTest::keyClick(dlg.edCityName, Qt::Key_Return);
        QCOMPARE(t->recordCount(), 2);

        typeText(dlg.edCityName, QStringLiteral("а"));
        QVERIFY(dlg.btnSaveCity->isEnabled());
        QTest::keyClick(dlg.edCityName, Qt::Key_Backspace);
        QVERIFY(!dlg.btnSaveCity->isEnabled());

        auto disk = reopen();
        QCOMPARE(disk->dsCityes->recordCount(), 2);
        QVERIFY(seek(disk->dsCityes, QStringLiteral("Name"), QStringLiteral("Москва")));
    }

    void appendOnlyTabsStoreIntoTheirField() {
        TfEditor dlg(&dm(), nullptr);
        QVERIFY(open(dlg, tabNames));
        QTabBar* bar = dlg.pcType->tabBar();
        retype(dlg.edName, QStringLiteral("пётр"));
        QTest::mouseClick(dlg.btnSaveName, Qt::LeftButton);
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(tabRS).center());
        retype(dlg.edRS, QStringLiteral("59+20"));
        QTest::mouseClick(dlg.btnSaveRS, Qt::LeftButton);
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(tabCountryes).center());
        retype(dlg.edCountryName, QStringLiteral("россия"));
        QTest::mouseClick(dlg.btnSaveCountry, Qt::LeftButton);
        QVERIFY(!dlg.btnSaveCountry->isEnabled());

        auto disk = reopen();
        QVERIFY(seek(disk->dsNames, QStringLiteral("Value"), QStringLiteral("Пётр")));
        QVERIFY(seek(disk->dsRS, QStringLiteral("Value"), QStringLiteral("59+20")));
        QVERIFY(seek(disk->dsCountryes, QStringLiteral("Name"), QStringLiteral("Россия")));
    }

    // -------------------------------------------------------------- delete

    void deletingOnlyRowEmptiesTab() {
        addRow(dm().dsRS, QStringLiteral("Value"), QStringLiteral("59"));
        resetCounts();
        TfEditor dlg(&dm(), nullptr);
        QVERIFY(open(dlg, tabRS));
        QCOMPARE(dlg.edRS->text(), QStringLiteral("59"));
        QVERIFY(dlg.btnDeleteRS->isEnabled());

        msg::presetAnswer(msg::Answer::Yes);
        QTest::mouseClick(dlg.btnDeleteRS, Qt::LeftButton);
        QCOMPARE(msg::questionCount(), 1);
        QCOMPARE(msg::lastQuestionCaption(), QStringLiteral("Удаление"));
        QCOMPARE(msg::lastQuestionText(),
                 QStringLiteral("Вы действительно хотите удалить выбранный элемент?"));
        QCOMPARE(msg::lastQuestionIcon(), msg::Icon::Warning);
        QCOMPARE(msg::lastQuestionDefault(), msg::Answer::Yes);

        QVERIFY(dm().dsRS->isEmpty());
        QCOMPARE(dm().dsRS->ChangeCount, 1);
        QVERIFY(dlg.edRS->text().isEmpty());
        QVERIFY(!dlg.btnDeleteRS->isEnabled());
        QVERIFY(!dlg.btnSaveRS->isEnabled());

        auto disk = reopen();
        QVERIFY(disk->dsRS->isEmpty());
    }

    void deleteRemovesGridsCurrentRow() {
        addMode(QStringLiteral("SSB"));
        addMode(QStringLiteral("CW"));
        addMode(QStringLiteral("FM"));
        TfEditor dlg(&dm(), nullptr);
        QVERIFY(open(dlg, tabModes));
        clickRow(dlg, 1);
        QCOMPARE(dlg.edModeName->text(), QStringLiteral("CW"));
        msg::presetAnswer(msg::Answer::Yes);
        QTest::mouseClick(dlg.btnDeleteMode, Qt::LeftButton);
        Table* t = dm().dsModes;
        QCOMPARE(t->recordCount(), 2);
        QVERIFY(!seek(t, QStringLiteral("Name"), QStringLiteral("CW")));
        QCOMPARE(dlg.edModeName->text(), QStringLiteral("FM")); // the row that took its place
    }

    void answeringNoChangesNothing() {
        addMode(QStringLiteral("SSB"));
        addMode(QStringLiteral("CW"));
        resetCounts();
        TfEditor dlg(&dm(), nullptr);
        QVERIFY(open(dlg, tabModes));
        const QString shown = dlg.edModeName->text();
        msg::presetAnswer(msg::Answer::No);
        QTest::mouseClick(dlg.btnDeleteMode, Qt::LeftButton);
        QCOMPARE(msg::questionCount(), 1);
        QCOMPARE(dm().dsModes->recordCount(), 2);
        QCOMPARE(dm().dsModes->ChangeCount, 0);
        QCOMPARE(dlg.edModeName->text(), shown);
        QVERIFY(dlg.btnDeleteMode->isEnabled());
    }

    // ------------------------------------------------------------ settings

    void settingValueIsStoredAsNumber() {
        TfEditor dlg(&dm(), nullptr);
        QVERIFY(open(dlg, tabOther));
        retype(dlg.edMiscName, QStringLiteral("LastBand"));
        retype(dlg.edMiscValue, QStringLiteral("3"));
        QTest::mouseClick(dlg.btnSaveMisc, Qt::LeftButton);
        Table* t = dm().dsINI;
        QCOMPARE(t->recordCount(), 1);
        QCOMPARE(t->fieldByName(fld::Value).asString(), QStringLiteral("3"));
        QCOMPARE(dm().GetIntSetting(QStringLiteral("LastBand"), 0), 3);

        retype(dlg.edMiscValue, QStringLiteral("007"));
        QTest::mouseClick(dlg.btnSaveMisc, Qt::LeftButton);
        QCOMPARE(t->fieldByName(fld::Value).asString(), QStringLiteral("7"));

        // another spelling of the name edits the same row
        retype(dlg.edMiscName, QStringLiteral("lastband"));
        retype(dlg.edMiscValue, QStringLiteral("abc"));
        QTest::mouseClick(dlg.btnSaveMisc, Qt::LeftButton);
        QCOMPARE(t->recordCount(), 1);
        QVERIFY(t->fieldByName(fld::Value).isNull());
        QVERIFY(dlg.edMiscValue->text().isEmpty());

        auto disk = reopen();
        QCOMPARE(disk->dsINI->recordCount(), 1);
        disk->dsINI->first();
        QCOMPARE(disk->dsINI->fieldByName(fld::Name).asString(), QStringLiteral("lastband"));
        QVERIFY(disk->dsINI->fieldByName(fld::Value).isNull());
    }

    // ------------------------------------------------------ Enter, Escape

    void enterClicksCurrentSaveUnlessOnAButton() {
        addBand(QStringLiteral("20m"), 14.0, 14.35, 100.0, QVariant());
        resetCounts();
        TfEditor dlg(&dm(), nullptr);
        QVERIFY(open(dlg, tabBands));
        Table* t = dm().dsBands;
        const int beeps = beepCount();

        // in a number field Enter saves rather than being refused
        retype(dlg.edBegin, QStringLiteral("13"));
        QTest::keyClick(dlg.edBegin, Qt::Key_Return);
        QCOMPARE(t->ChangeCount, 1);
        QCOMPARE(t->fieldByName(fld::Begin).asFloat(), 13.0);
        QCOMPARE(beepCount(), beeps);

        // the keypad's Enter too, and from the grid
        QTest::keyClick(dlg.edEnd, Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(t->ChangeCount, 2);
        dlg.dbgEditor->setFocus();
        QTest::keyClick(dlg.dbgEditor, Qt::Key_Return);
        QCOMPARE(t->ChangeCount, 3);

        // with Shift, Ctrl or Alt it is no default-button key
        for (auto m : {Qt::ShiftModifier, Qt::ControlModifier, Qt::AltModifier}) {
            dlg.edBandName->setFocus();
            QTest::keyClick(dlg.edBandName, Qt::Key_Return, m);
            QCOMPARE(t->ChangeCount, 3);
        }

        // a focused button takes Enter for itself
        dlg.btnDeleteBand->setFocus();
        msg::presetAnswer(msg::Answer::No);
        QTest::keyClick(dlg.btnDeleteBand, Qt::Key_Return);
        QCOMPARE(msg::questionCount(), 1);
        QCOMPARE(t->ChangeCount, 3);
    }

    void escapeDoesNotCloseButCloseButtonDoes() {
        TfEditor dlg(&dm(), nullptr);
        QVERIFY(open(dlg, tabModes));
        dlg.edModeName->setFocus();
        QTest::keyClick(dlg.edModeName, Qt::Key_Escape);
        QVERIFY(dlg.isVisible());
        QTest::keyClick(&dlg, Qt::Key_Escape);
        QVERIFY(dlg.isVisible());
        QVERIFY(dlg.close());
        QVERIFY(!dlg.isVisible());
    }
};

QTEST_MAIN(TestEditor)
#include "tst_editor.moc"
