// Correcting and deleting QSOs from the log grid: loading a row into the
// panel, saving it back in place, leaving without saving, and deleting.
#include "UiTestUtil.h"
#include "data/Fields.h"
#include "ui/common/Colors.h"

#include <QFileInfo>

using namespace qardel;
using namespace qardel::test;

namespace {

Field& fieldOf(Table& t, const char* name) {
    return t.fieldByName(QLatin1String(name));
}

int currentLogId(const TfMain& w) {
    return w.DM->dsMain->fieldByName(fld::ID).asInteger();
}

const QString kDeleteText = QStringLiteral("Вы действительно хотите удалить запись из жернала?");

// Three QSOs with UA3AAA, notices n1 to n3; the grid lists ID 3 first.
void seedThreeQsos(const AppData& a) {
    withData(a, [](TDM& dm) {
        const int cor = addRow(*dm.dsCors, {{"CallName", "UA3AAA"}});
        for (int i = 1; i <= 3; ++i)
            addRow(*dm.dsMain, {{"CorID", cor}, {"Notice", QStringLiteral("n%1").arg(i)}});
    });
}

// Every value of every table but the settings, as text.
QStringList everything(TDM& dm) {
    QStringList out;
    for (Table* t : dm.tables())
        for (t->first(); t != dm.dsINI && !t->eof(); t->next())
            for (int fi = 0; fi < t->fieldCount(); ++fi)
                out << t->name() + "." + t->fieldDefs()[size_t(fi)].name + "=" +
                           t->field(fi).asString();
    return out;
}

} // namespace

class TestCorrecting : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { initUiTests(); }
    void init() { msg::resetCounters(); }

    void doubleClickEnterAndMenuLoadTheSameRow() {
        AppData a;
        int b20 = 0, b2 = 0, fm = 0, rs59 = 0, rs57 = 0;
        withData(a, [&](TDM& dm) {
            const int ssb = addRow(*dm.dsModes, {{"Name", "SSB"}});
            fm = addRow(*dm.dsModes, {{"Name", "FM"}});
            b20 = addRow(*dm.dsBands, {{"Name", "20m"}, {"DefPower", 100.0}, {"DefModeID", ssb}});
            b2 = addRow(*dm.dsBands, {{"Name", "2m"}, {"DefPower", 50.0}, {"DefModeID", fm}});
            rs59 = addRow(*dm.dsRS, {{"Value", "59"}});
            rs57 = addRow(*dm.dsRS, {{"Value", "57"}});
            const int ivan = addRow(*dm.dsNames, {{"Value", "Иван"}});
            addRow(*dm.dsNames, {{"Value", "Пётр"}});
            const int cor = addRow(*dm.dsCors, {{"CallName", "UA3AAA"}, {"NameID", ivan}});
            // the band's defaults (100, SSB) are not what the QSO holds
            addRow(*dm.dsMain, {{"CorID", cor},
                                {"BandID", b20},
                                {"ModeID", fm},
                                {"CorPower", 12.5},
                                {"MyPower", 7.25},
                                {"CorRSID", rs59},
                                {"MyRSID", rs57},
                                {"CorSuffix", "p"},
                                {"CorCity", "Тула"},
                                {"CorCountry", "Россия"},
                                {"Repeater", true},
                                {"Notice", "первая\nвторая"}});
            addRow(*dm.dsMain, {{"CorID", cor}, {"BandID", b2}, {"Notice", "n2"}});
        });
        auto w = startMain();
        QCOMPARE(currentLogId(*w), 2);
        const int row = gridRowOfId(w->grMain, 1);
        QCOMPARE(row, 1);

        auto checkLoaded = [&] {
            QVERIFY(w->FEditMode);
            QCOMPARE(currentLogId(*w), 1);
            QCOMPARE(w->sbPanel1->text(), QStringLiteral("Режим редактирования записи"));
            QVERIFY(!w->grMain->isEnabled());
            QCOMPARE(w->grMain->palette().color(QPalette::Base), silverColor());
            QCOMPARE(w->edCallName->palette().color(QPalette::Base), editTint(windowColor()));
            QCOMPARE(QApplication::focusWidget(), w->edCallName);
            QCOMPARE(w->edCallName->text(), QStringLiteral("UA3AAA"));
            QCOMPARE(w->edSuffix->text(), QStringLiteral("p"));
            QCOMPARE(w->edCorPower->text(), localNum("12.5"));
            QCOMPARE(w->edMyPower->text(), localNum("7.25"));
            QCOMPARE(w->cbBand->currentText(), QStringLiteral("20m"));
            QCOMPARE(w->cbBand->selectedId(), b20);
            QCOMPARE(w->cbMode->currentText(), QStringLiteral("FM"));
            QCOMPARE(w->cbMode->selectedId(), fm);
            QCOMPARE(w->cbCorRS->currentText(), QStringLiteral("59"));
            QCOMPARE(w->cbCorRS->selectedId(), rs59);
            QCOMPARE(w->cbMyRS->currentText(), QStringLiteral("57"));
            QCOMPARE(w->cbMyRS->selectedId(), rs57);
            QCOMPARE(w->cbName->currentText(), QStringLiteral("Иван"));
            QCOMPARE(w->cbCity->currentText(), QStringLiteral("Тула"));
            QCOMPARE(w->cbCountry->currentText(), QStringLiteral("Россия"));
            QVERIFY(w->cbRepeater->isChecked());
            QCOMPARE(w->mmNotice->toPlainText(), QStringLiteral("первая\nвторая"));
            QVERIFY(!w->noticeIsPreview());
            QCOMPARE(w->mmNotice->palette().color(QPalette::Text), windowTextColor());
            QVERIFY(w->btnSave->isEnabled());
            QCOMPARE(w->FCompletionMark, 0);
        };
        auto leave = [&] {
            // Escape leaves the correcting state and saves nothing
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
            QVERIFY(!w->FEditMode);
            QVERIFY(w->grMain->isEnabled());
            QCOMPARE(w->sbPanel1->text(), QStringLiteral("Режим добавления записи"));
            QCOMPARE(w->edCallName->text(), QString());
            QCOMPARE(w->DM->dsMain->ChangeCount, 0);
            QCOMPARE(w->DM->dsMain->recordCount(), 2);
            // what the loading set that the reset keeps goes back for the next way
            w->cbRepeater->setChecked(false);
            w->cbBand->setCurrentIndex(w->cbBand->findText("2m"));
            w->cbMode->setCurrentIndex(-1);
            w->edMyPower->clear();
        };

        leave(); // also sets the panel apart from the row before the first loading
        dblClickGridRow(w->grMain, row);
        checkLoaded();
        if (QTest::currentTestFailed()) return;
        leave();

        // Enter in the grid while the call sign is empty
        clickGridRow(w->grMain, row);
        QCOMPARE(QApplication::focusWidget(), w->grMain);
        QCOMPARE(currentLogId(*w), 1);
        QVERIFY(!w->btnSave->isEnabled());
        QTest::keyClick(w->grMain, Qt::Key_Return);
        checkLoaded();
        if (QTest::currentTestFailed()) return;
        leave();

        // the menu's "Редактировать запись"
        clickGridRow(w->grMain, row);
        QCOMPARE(w->miEdit->text(), QStringLiteral("Редактировать запись"));
        w->miEdit->trigger();
        checkLoaded();
        if (QTest::currentTestFailed()) return;
        leave();
        QCOMPARE(msg::errorCount(), 0);
        QCOMPARE(w->DM->dsMain->recordCount(), 2);
    }

    void emptyReportsAndPowerLoadAsEmptyBoxes() {
        AppData a;
        withData(a, [](TDM& dm) {
            addRow(*dm.dsRS, {{"Value", "59"}});
            addRow(*dm.dsRS, {{"Value", "57"}});
            const int cor = addRow(*dm.dsCors, {{"CallName", "UA3AAA"}});
            addRow(*dm.dsMain, {{"CorID", cor}, {"MyPower", 5.0}});
        });
        auto w = startMain();
        // reports and powers typed before the loading do not stay
        type(w->cbCorRS, "57");
        type(w->cbMyRS, "48");
        type(w->edMyPower, "9");
        dblClickGridRow(w->grMain, 0);
        QVERIFY(w->FEditMode);
        QCOMPARE(w->cbCorRS->currentText(), QString());
        QCOMPARE(w->cbCorRS->currentIndex(), -1);
        QCOMPARE(w->cbMyRS->currentText(), QString());
        QCOMPARE(w->cbMyRS->currentIndex(), -1);
        QCOMPARE(w->edCorPower->text(), QString());
        QCOMPARE(w->edMyPower->text(), QStringLiteral("5"));
        QCOMPARE(w->mmNotice->toPlainText(), QString());
    }

    void saveRewritesTheLoadedRowInPlace() {
        AppData a;
        const QDateTime t0(QDate(2023, 3, 4), QTime(5, 6, 7, 8));
        int ua3aaa = 0, ivan = 0;
        withData(a, [&](TDM& dm) {
            ivan = addRow(*dm.dsNames, {{"Value", "Иван"}});
            addRow(*dm.dsNames, {{"Value", "Пётр"}});
            ua3aaa = addRow(*dm.dsCors, {{"CallName", "UA3AAA"}, {"NameID", ivan}});
            addRow(*dm.dsMain, {{"CorID", ua3aaa}, {"Time", t0}, {"Notice", "старая"}});
            addRow(*dm.dsMain, {{"CorID", ua3aaa}, {"Notice", "вторая"}});
        });
        auto w = startMain();
        w->DM->Clock = [] { return QDateTime(QDate(2030, 1, 1), QTime(0, 0)); };
        const int row = gridRowOfId(w->grMain, 1);
        dblClickGridRow(w->grMain, row);
        QVERIFY(w->FEditMode);

        // another call sign, not yet known: no completion while correcting
        retype(w->edCallName, "ra9xyz");
        QCOMPARE(w->edCallName->text(), QStringLiteral("RA9XYZ"));
        QCOMPARE(w->cbName->currentText(), QStringLiteral("Иван"));
        retype(w->cbName, QString());
        retype(w->cbCity, QStringLiteral("омск"));
        retype(w->mmNotice, QStringLiteral("новая"));
        w->edCallName->setFocus();
        QTest::keyClick(w->edCallName, Qt::Key_Return);
        QCOMPARE(msg::errorCount(), 0);
        QCOMPARE(msg::questionCount(), 0);

        QVERIFY(!w->FEditMode);
        QVERIFY(w->grMain->isEnabled());
        QCOMPARE(w->sbPanel0->text(), QStringLiteral("Всего записей: 2"));
        QCOMPARE(currentLogId(*w), 1);
        QCOMPARE(w->grMain->model()->index(gridRowOfId(w->grMain, 1), 2).data().toString(),
                 QStringLiteral("RA9XYZ"));
        QVERIFY(w->noticeIsPreview());
        QCOMPARE(w->mmNotice->toPlainText(), QStringLiteral("новая"));
        auto verify = [&](TDM& dm) {
            QCOMPARE(dm.dsMain->recordCount(), 2);
            QVERIFY(dm.dsMain->locate(fld::ID, 1));
            QCOMPARE(fieldOf(*dm.dsMain, "Time").asDateTime(), t0);
            QCOMPARE(fieldOf(*dm.dsMain, "CorCallName").asString(), QStringLiteral("RA9XYZ"));
            QCOMPARE(fieldOf(*dm.dsMain, "Notice").asString(), QStringLiteral("новая"));
            QCOMPARE(fieldOf(*dm.dsMain, "CorCity").asString(), QStringLiteral("Омск"));
            // the former station stays
            QCOMPARE(dm.dsCors->recordCount(), 2);
            QVERIFY(dm.dsCors->locate(fld::ID, ua3aaa));
            QCOMPARE(fieldOf(*dm.dsCors, "CallName").asString(), QStringLiteral("UA3AAA"));
            QVERIFY(dm.dsCors->locate(fld::CallName, "RA9XYZ"));
            QVERIFY(fieldOf(*dm.dsCors, "NameID").isNull());
        };
        verify(*w->DM);
        onDisk(a, verify);
        if (QTest::currentTestFailed()) return;

        // correcting to a known station with other properties asks too
        dblClickGridRow(w->grMain, gridRowOfId(w->grMain, 2));
        QCOMPARE(currentLogId(*w), 2);
        retype(w->cbName, QStringLiteral("пётр"));
        msg::presetAnswer(msg::Answer::Yes);
        QTest::mouseClick(w->btnSave, Qt::LeftButton);
        QCOMPARE(msg::questionCount(), 1);
        QCOMPARE(msg::lastQuestionCaption(), QStringLiteral("Изменение свойств корреспондента"));
        QCOMPARE(w->DM->dsMain->recordCount(), 2);
        QVERIFY(w->DM->dsCors->locate(fld::ID, ua3aaa));
        QCOMPARE(fieldOf(*w->DM->dsCors, "Name").asString(), QStringLiteral("Пётр"));
        QVERIFY(w->DM->dsMain->locate(fld::ID, 2));
        QCOMPARE(fieldOf(*w->DM->dsMain, "CorID").asInteger(), ua3aaa);
        QCOMPARE(fieldOf(*w->DM->dsMain, "Notice").asString(), QStringLiteral("вторая"));
    }

    // Loading a QSO and saving it untouched changes nothing: a city or a
    // country the log holds cut to 25 characters, and powers longer than the
    // fields' typing limit, come back whole.
    void untouchedCorrectionChangesNothing() {
        AppData a;
        const QString city = QStringLiteral("Петропавловск-Камчатский-Порт");
        const QString country = QStringLiteral("Содружество Независимых Государств");
        withData(a, [&](TDM& dm) {
            const int c = addRow(*dm.dsCityes, {{"Name", city}});
            const int k = addRow(*dm.dsCountryes, {{"Name", country}});
            const int cor =
                addRow(*dm.dsCors, {{"CallName", "UA0AAA"}, {"CityID", c}, {"CountryID", k}});
            addRow(*dm.dsMain, {{"CorID", cor},
                                {"CorCity", city.left(25)},
                                {"CorCountry", country.left(25)},
                                {"Repeater", false},
                                {"CorPower", 1234.5678},
                                {"MyPower", 0.001234567}});
        });
        QStringList before;
        onDisk(a, [&](TDM& dm) { before = everything(dm); });
        auto w = startMain();
        type(w->cbCity, QStringLiteral("о")); // the city had the focus last
        dblClickGridRow(w->grMain, 0);
        QVERIFY(w->FEditMode);
        // only the call sign has the focus and so a caret
        QCOMPARE(QApplication::focusWidget(), w->edCallName);
        for (QLineEdit* e : w->findChildren<QLineEdit*>())
            QVERIFY2(e == w->edCallName || !e->hasFocus(), qPrintable(e->objectName()));
        QCOMPARE(w->cbCity->currentText(), city);
        QCOMPARE(w->cbCountry->currentText(), country);
        QCOMPARE(w->edCorPower->text(), localNum("1234.5678"));
        QCOMPARE(w->edMyPower->text(), localNum("0.001234567"));
        QTest::keyClick(w->edCallName, Qt::Key_Return);
        QVERIFY(!w->FEditMode);
        QCOMPARE(msg::questionCount(), 0);
        QCOMPARE(msg::errorCount(), 0);
        // typing is still held to eight characters
        w->edCorPower->setFocus();
        keys(w->edCorPower, QStringLiteral("1234567890"));
        QCOMPARE(w->edCorPower->text(), QStringLiteral("12345678"));
        w->close();
        QStringList after;
        onDisk(a, [&](TDM& dm) { after = everything(dm); });
        QCOMPARE(after, before);
    }

    void theDisabledGridTakesNoInput() {
        AppData a;
        seedThreeQsos(a);
        auto w = startMain();
        dblClickGridRow(w->grMain, gridRowOfId(w->grMain, 2));
        QVERIFY(w->FEditMode);
        QCOMPARE(currentLogId(*w), 2);

        clickGridRow(w->grMain, gridRowOfId(w->grMain, 3));
        dblClickGridRow(w->grMain, gridRowOfId(w->grMain, 1));
        QCOMPARE(currentLogId(*w), 2);
        QCOMPARE(gridCurrentId(w->grMain), 2);
        QCOMPARE(w->mmNotice->toPlainText(), QStringLiteral("n2"));
        QVERIFY(QApplication::focusWidget() != w->grMain);
        // keys go to the focused control, never to the grid
        for (int key : {int(Qt::Key_Delete), int(Qt::Key_Up), int(Qt::Key_Down)})
            QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
        QCOMPARE(msg::questionCount(), 0);
        QCOMPARE(currentLogId(*w), 2);
        QCOMPARE(w->DM->dsMain->recordCount(), 3);

        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(w->grMain->isEnabled());
        clickGridRow(w->grMain, gridRowOfId(w->grMain, 3));
        QCOMPARE(currentLogId(*w), 3);
    }

    void deleteAsksAndRemovesTheRow() {
        AppData a;
        seedThreeQsos(a);
        auto w = startMain();
        type(w->edSuffix, "p"); // the panel is not touched by deleting
        clickGridRow(w->grMain, gridRowOfId(w->grMain, 2));
        QCOMPARE(QApplication::focusWidget(), w->grMain);
        QCOMPARE(w->mmNotice->toPlainText(), QStringLiteral("n2"));

        // No changes nothing; every modifier asks the same
        int asked = 0;
        for (Qt::KeyboardModifiers mods :
             {Qt::KeyboardModifiers(), Qt::KeyboardModifiers(Qt::ControlModifier),
              Qt::KeyboardModifiers(Qt::ShiftModifier)}) {
            msg::presetAnswer(msg::Answer::No);
            QTest::keyClick(w->grMain, Qt::Key_Delete, mods);
            QCOMPARE(msg::questionCount(), ++asked);
            QCOMPARE(msg::lastQuestionCaption(), QStringLiteral("Внимание"));
            QCOMPARE(msg::lastQuestionText(), kDeleteText);
            QCOMPARE(msg::lastQuestionIcon(), msg::Icon::Warning);
            QCOMPARE(msg::lastQuestionDefault(), msg::Answer::Yes);
            QCOMPARE(w->DM->dsMain->recordCount(), 3);
            QCOMPARE(currentLogId(*w), 2);
        }
        QCOMPARE(w->grMain->model()->rowCount(), 3);
        QCOMPARE(w->DM->dsMain->ChangeCount, 0);

        // Yes removes it from the grid and from the file
        msg::presetAnswer(msg::Answer::Yes);
        QTest::keyClick(w->grMain, Qt::Key_Delete);
        QCOMPARE(msg::questionCount(), ++asked);
        QCOMPARE(msg::errorCount(), 0);
        // the focus stays in the grid, ready for the next deletion
        QCOMPARE(QApplication::focusWidget(), w->grMain);
        QCOMPARE(w->grMain->model()->rowCount(), 2);
        QCOMPARE(gridRowOfId(w->grMain, 2), -1);
        QCOMPARE(w->DM->dsMain->recordCount(), 2);
        QCOMPARE(w->sbPanel0->text(), QStringLiteral("Всего записей: 2"));
        QVERIFY(w->miDeleteQSO->isEnabled());
        // a neighbour is current and its notice shows in grey
        const int now = currentLogId(*w);
        QVERIFY(now == 1 || now == 3);
        QCOMPARE(gridCurrentId(w->grMain), now);
        QCOMPARE(w->mmNotice->toPlainText(), QStringLiteral("n%1").arg(now));
        QVERIFY(w->noticeIsPreview());
        QCOMPARE(w->mmNotice->palette().color(QPalette::Text), previewColor());
        QCOMPARE(w->edSuffix->text(), QStringLiteral("p"));
        onDisk(a, [](TDM& dm) {
            QCOMPARE(dm.dsMain->recordCount(), 2);
            QVERIFY(!dm.dsMain->locate(fld::ID, 2));
        });

        // the menu item deletes the same way
        QCOMPARE(w->miDeleteQSO->text(), QStringLiteral("Удалить запись"));
        msg::presetAnswer(msg::Answer::Yes);
        w->miDeleteQSO->trigger();
        QCOMPARE(msg::questionCount(), ++asked);
        QCOMPARE(w->DM->dsMain->recordCount(), 1);
        QCOMPARE(w->sbPanel0->text(), QStringLiteral("Всего записей: 1"));
        QCOMPARE(QApplication::focusWidget(), w->grMain);
        // the one row left is current and marked
        QVERIFY(w->grMain->selectionModel()->isRowSelected(0, {}));

        // deleting the last row disables the menu item
        msg::presetAnswer(msg::Answer::Yes);
        QTest::keyClick(w->grMain, Qt::Key_Delete);
        QCOMPARE(msg::questionCount(), ++asked);
        QCOMPARE(w->DM->dsMain->recordCount(), 0);
        QCOMPARE(w->grMain->model()->rowCount(), 0);
        QCOMPARE(w->sbPanel0->text(), QStringLiteral("Всего записей: 0"));
        QVERIFY(!w->miDeleteQSO->isEnabled());
        onDisk(a, [](TDM& dm) { QCOMPARE(dm.dsMain->recordCount(), 0); });

        // on an empty log nothing asks and nothing loads
        msg::presetAnswer(msg::Answer::Yes);
        QTest::keyClick(w->grMain, Qt::Key_Delete);
        w->miDeleteQSO->trigger();
        QCOMPARE(msg::questionCount(), asked);
        QTest::keyClick(w->grMain, Qt::Key_Return);
        w->miEdit->trigger();
        QVERIFY(!w->FEditMode);
        QCOMPARE(msg::errorCount(), 0);
        QCOMPARE(w->edSuffix->text(), QStringLiteral("p"));
    }

    // In the grid only Enter and Delete act, and always on the row the
    // operator sees marked: typed characters move nothing, and no key or
    // click takes the mark off the current row.
    void typedCharactersAndKeysKeepTheMarkedRow() {
        AppData a;
        seedThreeQsos(a);
        auto w = startMain();
        DataGrid* g = w->grMain;
        const int row = gridRowOfId(g, 1);
        QTest::mouseClick(g->viewport(), Qt::LeftButton, {},
                          g->visualRect(g->model()->index(row, 0)).center());
        QCOMPARE(currentLogId(*w), 1);
        const auto state = [&] {
            return QStringList{QString::number(currentLogId(*w)),
                               QString::number(gridCurrentId(g)),
                               QString::number(g->selectionModel()->selectedRows().size()),
                               g->selectionModel()->isRowSelected(g->currentIndex().row(), {})
                                   ? QStringLiteral("marked")
                                   : QStringLiteral("unmarked"),
                               w->mmNotice->toPlainText(),
                               w->edCallName->text()};
        };
        const QStringList before = state();
        const int beeps = beepCount();
        QCOMPARE(before, (QStringList{"1", "1", "1", "marked", "n1", ""}));
        keys(g, QStringLiteral("32uп 2"));
        QCOMPARE(state(), before);
        for (const auto& [k, m] :
             QList<std::pair<Qt::Key, Qt::KeyboardModifiers>>{{Qt::Key_End, Qt::ControlModifier},
                                                              {Qt::Key_Right, Qt::ControlModifier},
                                                              {Qt::Key_Space, Qt::ControlModifier},
                                                              {Qt::Key_Down, {}}}) {
            QTest::keyClick(g, k, m);
            QCOMPARE(state(), before);
        }
        QTest::mouseClick(g->viewport(), Qt::LeftButton, Qt::ControlModifier, gridRowPoint(g, row));
        QCOMPARE(state(), before);
        QTest::mouseClick(g->viewport(), Qt::LeftButton, {},
                          QPoint(50, 4 * g->rowHeight() + 5)); // below the rows
        QCOMPARE(state(), before);
        QCOMPARE(beepCount(), beeps);
        // Delete acts on the marked row
        msg::presetAnswer(msg::Answer::Yes);
        QTest::keyClick(g, Qt::Key_Delete);
        QCOMPARE(msg::questionCount(), 1);
        QCOMPARE(gridRowOfId(g, 1), -1);
        QCOMPARE(w->DM->dsMain->recordCount(), 2);
    }

    void doubleClickBelowTheRowsLoadsTheCurrentRow() {
        AppData a;
        seedThreeQsos(a);
        auto w = startMain();
        clickGridRow(w->grMain, gridRowOfId(w->grMain, 2));
        QCOMPARE(currentLogId(*w), 2);
        QWidget* vp = w->grMain->viewport();
        const QPoint below(60, 3 * w->grMain->rowHeight() + 20);
        QCOMPARE(w->grMain->indexAt(below), QModelIndex());
        QTest::mousePress(vp, Qt::LeftButton, {}, below);
        QTest::mouseRelease(vp, Qt::LeftButton, {}, below);
        QTest::mousePress(vp, Qt::LeftButton, {}, below);
        QTest::mouseDClick(vp, Qt::LeftButton, {}, below);
        QTest::mouseRelease(vp, Qt::LeftButton, {}, below);
        QVERIFY(w->FEditMode);
        QCOMPARE(currentLogId(*w), 2);
        QCOMPARE(w->edCallName->text(), QStringLiteral("UA3AAA"));
        QCOMPARE(w->mmNotice->toPlainText(), QStringLiteral("n2"));
        QCOMPARE(msg::errorCount(), 0);
    }

    // While a QSO is corrected the band and mode lists show the same pale
    // tint as the fields, and their own face again afterwards.
    void fixedListsShowTheCorrectingTint() {
        AppData a;
        withData(a, [](TDM& dm) {
            const int ssb = addRow(*dm.dsModes, {{"Name", "SSB"}});
            const int b20 = addRow(*dm.dsBands, {{"Name", "20m"}, {"DefModeID", ssb}});
            const int cor = addRow(*dm.dsCors, {{"CallName", "UA3AAA"}});
            addRow(*dm.dsMain, {{"CorID", cor}, {"BandID", b20}, {"ModeID", ssb}});
        });
        auto w = startMain();
        // the ground of a list's face, right of its text
        const auto face = [](QWidget* box) {
            const QImage img = box->grab().toImage();
            return QColor(img.pixel(box->width() * 2 / 3, box->height() / 2)).name();
        };
        const auto faces = [&] {
            return QStringList{face(w->cbBand), face(w->cbMode), face(w->cbName)};
        };
        const QStringList adding = faces();
        dblClickGridRow(w->grMain, 0);
        QVERIFY(w->FEditMode);
        QCOMPARE(w->cbBand->currentText(), QStringLiteral("20m"));
        const QString tint = editTint(windowColor()).name();
        QCOMPARE(faces(), (QStringList{tint, tint, tint}));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QCOMPARE(faces(), adding);
    }

    void enterInTheGridSavesATypedQsoAndShiftEnterLoads() {
        AppData a;
        seedThreeQsos(a);
        auto w = startMain();
        type(w->edCallName, "ra1abc");
        QVERIFY(w->btnSave->isEnabled());
        clickGridRow(w->grMain, gridRowOfId(w->grMain, 1));
        QCOMPARE(QApplication::focusWidget(), w->grMain);
        QTest::keyClick(w->grMain, Qt::Key_Return);
        QVERIFY(!w->FEditMode);
        QCOMPARE(w->DM->dsMain->recordCount(), 4);
        QCOMPARE(fieldOf(*w->DM->dsMain, "CorCallName").asString(), QStringLiteral("RA1ABC"));
        QCOMPARE(w->edCallName->text(), QString());
        QVERIFY(w->DM->dsMain->locate(fld::ID, 1));
        QCOMPARE(fieldOf(*w->DM->dsMain, "Notice").asString(), QStringLiteral("n1"));

        type(w->edCallName, "ra1xyz");
        clickGridRow(w->grMain, gridRowOfId(w->grMain, 1));
        QTest::keyClick(w->grMain, Qt::Key_Return, Qt::ShiftModifier);
        QVERIFY(w->FEditMode);
        QCOMPARE(currentLogId(*w), 1);
        QCOMPARE(w->edCallName->text(), QStringLiteral("UA3AAA"));
        QCOMPARE(w->mmNotice->toPlainText(), QStringLiteral("n1"));
        QCOMPARE(w->DM->dsMain->recordCount(), 4);
        QCOMPARE(msg::errorCount(), 0);
    }
};

QTEST_MAIN(TestCorrecting)
#include "tst_correcting.moc"
