// Typing a QSO: the key filters of the entry panel, the completion of known
// call signs and the Save button following the call sign.
#include "UiTestUtil.h"
#include "data/Fields.h"
#include "ui/common/Colors.h"

using namespace qardel;
using namespace qardel::test;

namespace {

int currentLogId(const TfMain& w) {
    return w.DM->dsMain->fieldByName(fld::ID).asInteger();
}

void pressEscape(TfMain& w) {
    w.edCallName->setFocus();
    QTest::keyClick(w.edCallName, Qt::Key_Escape);
}

} // namespace

class TestTyping : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { initUiTests(); }
    void init() { msg::resetCounters(); }

    void callSignTakesLettersAndDigitsOnly() {
        AppData a;
        auto w = startMain();
        QVERIFY(!w->btnSave->isEnabled());
        type(w->edCallName, "ua3");
        QCOMPARE(w->edCallName->text(), QStringLiteral("UA3"));
        QVERIFY(w->btnSave->isEnabled());
        QCOMPARE(beepCount(), 0);

        // every Cyrillic letter with a Latin counterpart, typed in lower case
        const QString cyr = QStringLiteral("абвгдежзийклмнопрстуфхцщъыь");
        const QString lat = QStringLiteral("ABWGDEVZIJKLMNOPRSTUFHCQXYX");
        for (int i = 0; i < cyr.size(); i += 9) {
            pressEscape(*w);
            QCOMPARE(w->edCallName->text(), QString());
            keys(w->edCallName, cyr.mid(i, 9));
            QCOMPARE(w->edCallName->text(), lat.mid(i, 9));
        }
        pressEscape(*w);
        keys(w->edCallName, QStringLiteral("РВ"));
        QCOMPARE(w->edCallName->text(), QStringLiteral("RW"));
        QCOMPARE(beepCount(), 0);

        // letters without a counterpart, space and punctuation: one beep each
        pressEscape(*w);
        keys(w->edCallName, QStringLiteral("рв3"));
        QCOMPARE(w->edCallName->text(), QStringLiteral("RW3"));
        const QString refused = QStringLiteral("чшэюяёЧЁ /-.,");
        keys(w->edCallName, refused);
        QCOMPARE(w->edCallName->text(), QStringLiteral("RW3"));
        QCOMPARE(beepCount(), int(refused.size()));

        // ten characters at most
        keys(w->edCallName, "abcdefg");
        QCOMPARE(w->edCallName->text(), QStringLiteral("RW3ABCDEFG"));
        keys(w->edCallName, "h");
        QCOMPARE(w->edCallName->text(), QStringLiteral("RW3ABCDEFG"));

        // Backspace is taken; emptying the call sign disables Save again
        const int beeps = beepCount();
        w->edCallName->setCursorPosition(3);
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(w->edCallName, Qt::Key_Backspace);
        QCOMPARE(w->edCallName->text(), QStringLiteral("ABCDEFG"));
        w->edCallName->selectAll();
        QTest::keyClick(w->edCallName, Qt::Key_Backspace);
        QCOMPARE(w->edCallName->text(), QString());
        QVERIFY(!w->btnSave->isEnabled());
        QCOMPARE(beepCount(), beeps);

        // while Save is disabled, Enter reaches the fields as a character
        // and is refused there; nothing is saved
        for (QLineEdit* e : {w->edCallName, w->edSuffix, w->edCorPower, w->edMyPower}) {
            const int before = beepCount();
            e->setFocus();
            QTest::keyClick(e, Qt::Key_Return);
            QCOMPARE(beepCount(), before + 1);
            QCOMPARE(e->text(), QString());
        }
        QCOMPARE(w->DM->dsMain->recordCount(), 0);
        QCOMPARE(msg::errorCount(), 0);
    }

    void suffixKeepsLatinCaseAndMapsCyrillic() {
        AppData a;
        auto w = startMain();
        type(w->edSuffix, "p");
        QCOMPARE(w->edSuffix->text(), QStringLiteral("p"));
        keys(w->edSuffix, QStringLiteral("р"));
        QCOMPARE(w->edSuffix->text(), QStringLiteral("pR"));
        keys(w->edSuffix, "/");
        keys(w->edSuffix, QStringLiteral("ч"));
        QCOMPARE(w->edSuffix->text(), QStringLiteral("pR"));
        QCOMPARE(beepCount(), 2);
        keys(w->edSuffix, "m1");
        QCOMPARE(w->edSuffix->text(), QStringLiteral("pRm1"));
        // the suffix does not enable Save
        QVERIFY(!w->btnSave->isEnabled());
    }

    void powerTakesDigitsAndOneSeparator() {
        AppData a;
        auto w = startMain();
        const QString sep = QLocale().decimalPoint();
        const QString other =
            sep == QStringLiteral(",") ? QStringLiteral(".") : QStringLiteral(",");
        for (QLineEdit* e : {w->edCorPower, w->edMyPower}) {
            msg::resetCounters();
            type(e, localNum("12.5"));
            QCOMPARE(e->text(), localNum("12.5"));
            QCOMPARE(beepCount(), 0);
            keys(e, sep);
            keys(e, other);
            keys(e, "-");
            keys(e, "e+ ");
            QCOMPARE(e->text(), localNum("12.5"));
            QCOMPARE(beepCount(), 6);
            // the separator inside the selection it would replace still counts
            e->selectAll();
            keys(e, sep);
            QCOMPARE(e->text(), localNum("12.5"));
            QCOMPARE(beepCount(), 7);
            // leading zeros and a trailing separator are taken
            e->selectAll();
            keys(e, "007");
            keys(e, sep);
            QCOMPARE(e->text(), QStringLiteral("007") + sep);
            QCOMPARE(beepCount(), 7);
        }
    }

    void nameCityCountryRaiseTheFirstLetter() {
        AppData a;
        withData(a, [](TDM& dm) {
            addRow(*dm.dsCityes, {{"Name", "Омск"}});
            addRow(*dm.dsCityes, {{"Name", "Тула"}});
        });
        auto w = startMain();
        type(w->cbCity, QStringLiteral("москва"));
        QCOMPARE(w->cbCity->currentText(), QStringLiteral("Москва"));
        type(w->cbName, QStringLiteral("олег"));
        QCOMPARE(w->cbName->currentText(), QStringLiteral("Олег"));
        type(w->cbCountry, QStringLiteral("россия"));
        QCOMPARE(w->cbCountry->currentText(), QStringLiteral("Россия"));
        QCOMPARE(beepCount(), 0);

        // a space cannot start the text; later spaces and lower case stay
        retype(w->cbCity, QString());
        QCOMPARE(w->cbCity->currentText(), QString());
        keys(w->cbCity, " ");
        QCOMPARE(w->cbCity->currentText(), QString());
        QCOMPARE(beepCount(), 1);
        keys(w->cbCity, QStringLiteral("сочи у моря"));
        QCOMPARE(w->cbCity->currentText(), QStringLiteral("Сочи у моря"));
        QCOMPARE(beepCount(), 1);

        // over the whole text selected, the typed letter starts it anew
        w->cbCity->lineEdit()->selectAll();
        keys(w->cbCity, QStringLiteral("с"));
        QCOMPARE(w->cbCity->currentText(), QStringLiteral("С"));
        w->cbCountry->setFocus();
        w->cbCountry->lineEdit()->selectAll();
        keys(w->cbCountry, " ");
        QCOMPARE(w->cbCountry->currentText(), QStringLiteral("Россия"));
        QCOMPARE(beepCount(), 2);

        // over part of the text, it is taken as typed
        retype(w->cbCity, QStringLiteral("москва"));
        w->cbCity->lineEdit()->setSelection(0, 1);
        keys(w->cbCity, QStringLiteral("к"));
        QCOMPARE(w->cbCity->currentText(), QStringLiteral("косква"));
    }

    void completionWalkThrough() {
        AppData a;
        int ra1aaa = 0, ra1bbb = 0;
        withData(a, [&](TDM& dm) {
            const int ivan = addRow(*dm.dsNames, {{"Value", "Иван"}});
            const int petr = addRow(*dm.dsNames, {{"Value", "Пётр"}});
            const int omsk = addRow(*dm.dsCityes, {{"Name", "Омск"}});
            const int tula = addRow(*dm.dsCityes, {{"Name", "Тула"}});
            const int rus = addRow(*dm.dsCountryes, {{"Name", "Россия"}});
            const int blr = addRow(*dm.dsCountryes, {{"Name", "Беларусь"}});
            ra1aaa = addRow(
                *dm.dsCors,
                {{"CallName", "RA1AAA"}, {"NameID", ivan}, {"CityID", omsk}, {"CountryID", rus}});
            ra1bbb = addRow(
                *dm.dsCors,
                {{"CallName", "RA1BBB"}, {"NameID", petr}, {"CityID", tula}, {"CountryID", blr}});
            addRow(*dm.dsMain, {{"CorID", ra1aaa}, {"CorPower", 5.0}, {"Notice", "a-old"}});
            addRow(*dm.dsMain, {{"CorID", ra1bbb}, {"CorPower", 10.0}, {"Notice", "b-old"}});
            addRow(*dm.dsMain, {{"CorID", ra1aaa}, {"CorPower", 12.5}, {"Notice", "a-new"}});
            addRow(*dm.dsMain, {{"CorID", ra1bbb}, {"CorPower", 100.0}, {"Notice", "b-new"}});
        });
        QCOMPARE(ra1aaa, 1);
        QCOMPARE(ra1bbb, 2);
        auto w = startMain();
        QLineEdit* call = w->edCallName;
        QCOMPARE(w->FCompletionMark, 0);
        QCOMPARE(currentLogId(*w), 4);

        // one character completes nothing and empties the correspondent's fields
        w->cbName->setEditText(QStringLiteral("Лишнее"));
        w->edCorPower->setText(QStringLiteral("7"));
        type(call, "r");
        QCOMPARE(call->text(), QStringLiteral("R"));
        QCOMPARE(w->cbName->currentText(), QString());
        QCOMPARE(w->edCorPower->text(), QString());
        QCOMPARE(w->FCompletionMark, 0);
        QCOMPARE(currentLogId(*w), 4);

        // the second completes to the first station it begins
        keys(call, "a");
        QCOMPARE(call->text(), QStringLiteral("RA1AAA"));
        QCOMPARE(call->selectedText(), QStringLiteral("1AAA"));
        QCOMPARE(call->selectionStart(), 2);
        QCOMPARE(call->cursorPosition(), 2);
        QCOMPARE(w->FCompletionMark, 2);
        QCOMPARE(w->cbName->currentText(), QStringLiteral("Иван"));
        QCOMPARE(w->cbName->lineEdit()->selectedText(), QStringLiteral("Иван"));
        QCOMPARE(w->cbCity->currentText(), QStringLiteral("Омск"));
        QCOMPARE(w->cbCountry->currentText(), QStringLiteral("Россия"));
        QCOMPARE(w->cbCountry->lineEdit()->selectedText(), QStringLiteral("Россия"));
        // the log jumps to the newest QSO with the station
        QCOMPARE(currentLogId(*w), 3);
        QCOMPARE(gridCurrentId(w->grMain), 3);
        QCOMPARE(w->mmNotice->toPlainText(), QStringLiteral("a-new"));
        QVERIFY(w->noticeIsPreview());
        QCOMPARE(w->mmNotice->palette().color(QPalette::Text), previewColor());
        QCOMPARE(w->edCorPower->text(), localNum("12.5"));
        QCOMPARE(w->edCorPower->selectedText(), localNum("12.5"));

        // a typed character replaces the completed rest and completes again
        keys(call, "1");
        QCOMPARE(call->text(), QStringLiteral("RA1AAA"));
        QCOMPARE(call->selectedText(), QStringLiteral("AAA"));
        QCOMPARE(w->FCompletionMark, 3);
        keys(call, "b");
        QCOMPARE(call->text(), QStringLiteral("RA1BBB"));
        QCOMPARE(call->selectedText(), QStringLiteral("BB"));
        QCOMPARE(call->selectionStart(), 4);
        QCOMPARE(call->cursorPosition(), 4);
        QCOMPARE(w->FCompletionMark, 4);
        QCOMPARE(w->cbName->currentText(), QStringLiteral("Пётр"));
        QCOMPARE(w->cbCity->currentText(), QStringLiteral("Тула"));
        QCOMPARE(w->cbCountry->currentText(), QStringLiteral("Беларусь"));
        QCOMPARE(currentLogId(*w), 4);
        QCOMPARE(gridCurrentId(w->grMain), 4);
        QCOMPARE(w->mmNotice->toPlainText(), QStringLiteral("b-new"));
        QCOMPARE(w->edCorPower->text(), QStringLiteral("100"));

        // Backspace removes the completed rest and does not complete again
        QTest::keyClick(call, Qt::Key_Backspace);
        QCOMPARE(call->text(), QStringLiteral("RA1B"));
        QVERIFY(!call->hasSelectedText());
        QCOMPARE(call->cursorPosition(), 4);
        QCOMPARE(w->FCompletionMark, 3);
        QCOMPARE(w->cbName->currentText(), QStringLiteral("Пётр"));
        QCOMPARE(currentLogId(*w), 4);

        // one more: the shorter text now begins the other station first; its
        // data is shown but the call sign stays as typed
        QTest::keyClick(call, Qt::Key_Backspace);
        QCOMPARE(call->text(), QStringLiteral("RA1"));
        QCOMPARE(w->FCompletionMark, 2);
        QCOMPARE(w->cbName->currentText(), QStringLiteral("Иван"));
        QCOMPARE(currentLogId(*w), 3);
        QCOMPARE(w->edCorPower->text(), localNum("12.5"));

        // growing past the mark completes again
        keys(call, "b");
        QCOMPARE(call->text(), QStringLiteral("RA1BBB"));
        QCOMPARE(call->selectedText(), QStringLiteral("BB"));
        QCOMPARE(w->FCompletionMark, 4);
        QVERIFY(w->btnSave->isEnabled());
        QCOMPARE(msg::errorCount(), 0);
    }

    // The completed rest of a call sign and the copied power stay selected,
    // and shown, while Tab walks on; the memo keeps its selection too.
    void selectionsStayWhileTheFocusMovesOn() {
        AppData a;
        withData(a, [](TDM& dm) {
            const int cor = addRow(*dm.dsCors, {{"CallName", "RA1AAA"}});
            addRow(*dm.dsMain, {{"CorID", cor}, {"CorPower", 12.5}});
        });
        auto w = startMain();
        type(w->edCallName, "ra");
        QCOMPARE(w->edCallName->selectedText(), QStringLiteral("1AAA"));
        QTest::keyClick(w->edCallName, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), w->edSuffix);
        QCOMPARE(w->edCallName->selectedText(), QStringLiteral("1AAA"));
        QCOMPARE(w->edCorPower->selectedText(), localNum("12.5"));
        w->edSuffix->setText(QStringLiteral("P"));
        w->edSuffix->selectAll();
        w->mmNotice->setFocus();
        QCOMPARE(w->edSuffix->selectedText(), QStringLiteral("P"));
        keys(w->mmNotice, QStringLiteral("заметка"));
        w->mmNotice->selectAll();
        w->edSuffix->setFocus();
        QCOMPARE(w->mmNotice->textCursor().selectedText(), QStringLiteral("заметка"));
        QCOMPARE(w->edCallName->selectedText(), QStringLiteral("1AAA"));
    }

    void markLeftByThePreviousQso() {
        AppData a;
        withData(a, [](TDM& dm) {
            const int ivan = addRow(*dm.dsNames, {{"Value", "Иван"}});
            addRow(*dm.dsNames, {{"Value", "Пётр"}});
            const int cor = addRow(*dm.dsCors, {{"CallName", "RA1AAA"}, {"NameID", ivan}});
            addRow(*dm.dsMain, {{"CorID", cor}, {"CorPower", 5.0}});
        });
        auto w = startMain();
        QLineEdit* call = w->edCallName;
        type(call, "ra");
        QCOMPARE(call->text(), QStringLiteral("RA1AAA"));
        QCOMPARE(w->FCompletionMark, 2);
        QTest::keyClick(call, Qt::Key_Return); // saves
        QCOMPARE(w->DM->dsMain->recordCount(), 2);
        QCOMPARE(msg::questionCount(), 0);
        QCOMPARE(call->text(), QString());
        QCOMPARE(w->FCompletionMark, 2); // the reset of the panel keeps it

        keys(call, "r");
        QCOMPARE(w->cbName->currentText(), QString());
        // the second character fills the data but does not complete
        keys(call, "a");
        QCOMPARE(call->text(), QStringLiteral("RA"));
        QVERIFY(!call->hasSelectedText());
        QCOMPARE(w->FCompletionMark, 1);
        QCOMPARE(w->cbName->currentText(), QStringLiteral("Иван"));
        QCOMPARE(w->edCorPower->text(), QStringLiteral("5"));
        QCOMPARE(currentLogId(*w), 2);
        // the third completes
        keys(call, "1");
        QCOMPARE(call->text(), QStringLiteral("RA1AAA"));
        QCOMPARE(call->selectedText(), QStringLiteral("AAA"));
        QCOMPARE(w->FCompletionMark, 3);
    }

    void unknownCallSignEmptiesTheCorrespondentFields() {
        AppData a;
        withData(a, [](TDM& dm) {
            const int ivan = addRow(*dm.dsNames, {{"Value", "Иван"}});
            addRow(*dm.dsNames, {{"Value", "Пётр"}});
            const int omsk = addRow(*dm.dsCityes, {{"Name", "Омск"}});
            addRow(*dm.dsCityes, {{"Name", "Тула"}});
            addRow(*dm.dsCountryes, {{"Name", "Россия"}}); // the only country
            addRow(*dm.dsRS, {{"Value", "59"}});
            addRow(*dm.dsRS, {{"Value", "57"}});
            // a station with no country
            const int cor =
                addRow(*dm.dsCors, {{"CallName", "RA1AAA"}, {"NameID", ivan}, {"CityID", omsk}});
            addRow(*dm.dsMain, {{"CorID", cor}, {"CorPower", 5.0}});
        });
        auto w = startMain();
        QCOMPARE(w->cbCountry->currentText(), QStringLiteral("Россия"));
        type(w->cbCorRS, "59");
        QCOMPARE(w->cbCorRS->currentText(), QStringLiteral("59"));
        type(w->edCallName, "ra");
        QCOMPARE(w->edCallName->text(), QStringLiteral("RA1AAA"));
        QCOMPARE(w->cbName->currentText(), QStringLiteral("Иван"));
        QCOMPARE(w->cbCity->currentText(), QStringLiteral("Омск"));
        QCOMPARE(w->cbCountry->currentText(), QString());
        QCOMPARE(w->edCorPower->text(), QStringLiteral("5"));

        keys(w->edCallName, "x");
        QCOMPARE(w->edCallName->text(), QStringLiteral("RAX"));
        QCOMPARE(w->cbName->currentText(), QString());
        QCOMPARE(w->cbCity->currentText(), QString());
        QCOMPARE(w->cbCorRS->currentText(), QString());
        QCOMPARE(w->cbCorRS->currentIndex(), -1);
        QCOMPARE(w->edCorPower->text(), QString());
        // a list with a single item shows it
        QCOMPARE(w->cbCountry->currentText(), QStringLiteral("Россия"));
        QCOMPARE(w->cbCountry->currentIndex(), 0);
        QCOMPARE(w->FCompletionMark, 2);
        QVERIFY(w->btnSave->isEnabled());
    }

    void stationWithoutQsoLeavesPowerAndLogAlone() {
        AppData a;
        withData(a, [](TDM& dm) {
            const int ivan = addRow(*dm.dsNames, {{"Value", "Иван"}});
            const int petr = addRow(*dm.dsNames, {{"Value", "Пётр"}});
            addRow(*dm.dsCors, {{"CallName", "RA1AAA"}, {"NameID", ivan}}); // no QSO
            const int b = addRow(*dm.dsCors, {{"CallName", "RA1BBB"}, {"NameID", petr}});
            const int c = addRow(*dm.dsCors, {{"CallName", "UA3CCC"}});
            addRow(*dm.dsMain, {{"CorID", b}, {"CorPower", 100.0}, {"Notice", "b"}});
            addRow(*dm.dsMain, {{"CorID", c}, {"CorPower", 3.0}, {"Notice", "c"}});
        });
        auto w = startMain();
        QCOMPARE(currentLogId(*w), 2);
        type(w->edCallName, "ra");
        QCOMPARE(w->edCallName->text(), QStringLiteral("RA1AAA"));
        QCOMPARE(w->cbName->currentText(), QStringLiteral("Иван"));
        QCOMPARE(currentLogId(*w), 2);
        QCOMPARE(w->mmNotice->toPlainText(), QStringLiteral("c"));
        keys(w->edCallName, "1b");
        QCOMPARE(w->edCallName->text(), QStringLiteral("RA1BBB"));
        QCOMPARE(currentLogId(*w), 1);
        QCOMPARE(w->edCorPower->text(), QStringLiteral("100"));
        // back to the station without QSO: its name, but power and log stay
        QTest::keyClick(w->edCallName, Qt::Key_Backspace);
        QTest::keyClick(w->edCallName, Qt::Key_Backspace);
        QCOMPARE(w->edCallName->text(), QStringLiteral("RA1"));
        QCOMPARE(w->cbName->currentText(), QStringLiteral("Иван"));
        QCOMPARE(w->edCorPower->text(), QStringLiteral("100"));
        QCOMPARE(currentLogId(*w), 1);
        QCOMPARE(gridCurrentId(w->grMain), 1);
        QCOMPARE(w->mmNotice->toPlainText(), QStringLiteral("b"));
    }

    void noCompletionWhileCorrecting() {
        AppData a;
        withData(a, [](TDM& dm) {
            const int ivan = addRow(*dm.dsNames, {{"Value", "Иван"}});
            const int petr = addRow(*dm.dsNames, {{"Value", "Пётр"}});
            addRow(*dm.dsCors, {{"CallName", "RA1AAA"}, {"NameID", ivan}});
            const int b = addRow(*dm.dsCors, {{"CallName", "RA1BBB"}, {"NameID", petr}});
            addRow(*dm.dsMain, {{"CorID", b}, {"CorPower", 100.0}, {"CorCity", "Тула"}});
        });
        auto w = startMain();
        dblClickGridRow(w->grMain, 0);
        QVERIFY(w->FEditMode);
        QCOMPARE(w->edCallName->text(), QStringLiteral("RA1BBB"));
        QCOMPARE(w->FCompletionMark, 0);

        retype(w->edCallName, QString());
        QCOMPARE(w->edCallName->text(), QString());
        QVERIFY(!w->btnSave->isEnabled());
        // emptying the call sign empties nothing else while correcting
        QCOMPARE(w->cbName->currentText(), QStringLiteral("Пётр"));
        QCOMPARE(w->cbCity->currentText(), QStringLiteral("Тула"));
        QCOMPARE(w->edCorPower->text(), QStringLiteral("100"));

        keys(w->edCallName, "ra");
        QCOMPARE(w->edCallName->text(), QStringLiteral("RA"));
        QVERIFY(!w->edCallName->hasSelectedText());
        QVERIFY(w->btnSave->isEnabled());
        QCOMPARE(w->cbName->currentText(), QStringLiteral("Пётр"));
        QCOMPARE(w->FCompletionMark, 0);
        QCOMPARE(w->DM->dsMain->fieldByName(fld::ID).asInteger(), 1);
    }
};

QTEST_MAIN(TestTyping)
#include "tst_typing.moc"
