// Saving a QSO: the lists and the correspondent it updates, the log row it
// writes, the question about changed properties, and what reaches the files.
#include "UiTestUtil.h"
#include "data/Fields.h"
#include "data/TableFile.h"
#include "ui/common/Colors.h"

#include <QFileInfo>

#include <sqlite3.h>

#include <cstring>

using namespace qardel;
using namespace qardel::test;

namespace {

const char* g_failAt = nullptr;

void failWrite(const char* point) {
    if (g_failAt && std::strcmp(point, g_failAt) == 0)
        throw DbError(QStringLiteral("injected write failure at %1").arg(QLatin1String(point)));
}

Field& fieldOf(Table& t, const char* name) {
    return t.fieldByName(QLatin1String(name));
}

int idOf(Table& t, const char* field, const QString& value) {
    if (!t.locate(QLatin1String(field), value)) return 0;
    return fieldOf(t, "ID").asInteger();
}

void pressEnter(QWidget* w) {
    w->setFocus();
    QTest::keyClick(w, Qt::Key_Return);
}

const QString kChangeCaption = QStringLiteral("Изменение свойств корреспондента");
const QString kChangeText =
    QStringLiteral("Введенные вами свойства корреспондента отличаются от сохраненных ранее.") +
    QLatin1Char('\r') +
    QStringLiteral("Желаете ли вы сохранить новые свойства для данного корреспондента?");

} // namespace

class TestSaving : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { initUiTests(); }
    void init() {
        msg::resetCounters();
        g_failAt = nullptr;
        TableFile::faultHook = nullptr;
    }
    void cleanup() { TableFile::faultHook = nullptr; }

    void newCallSignWithEverythingTyped() {
        AppData a;
        int ssb = 0, b20 = 0;
        withData(a, [&](TDM& dm) {
            ssb = addRow(*dm.dsModes, {{"Name", "SSB"}});
            addRow(*dm.dsModes, {{"Name", "CW"}});
            b20 = addRow(*dm.dsBands, {{"Name", "20m"}, {"DefPower", 100.0}, {"DefModeID", ssb}});
            addRow(*dm.dsBands, {{"Name", "40m"}});
            // the lists are not empty, so only their changes refill them
            for (const char* v : {"Пётр", "Олег"})
                addRow(*dm.dsNames, {{"Value", v}});
            for (const char* v : {"Тула", "Омск"})
                addRow(*dm.dsCityes, {{"Name", v}});
            for (const char* v : {"Беларусь", "Казахстан"})
                addRow(*dm.dsCountryes, {{"Name", v}});
            addRow(*dm.dsRS, {{"Value", "57"}});
        });
        auto w = startMain();
        const QDateTime t1(QDate(2024, 5, 1), QTime(12, 34, 56, 789));
        w->DM->Clock = [t1] { return t1; };

        type(w->edCallName, "ua3abc");
        type(w->edSuffix, "p");
        type(w->cbName, QStringLiteral("иван"));
        type(w->cbCity, QStringLiteral("москва"));
        type(w->cbCountry, QStringLiteral("россия"));
        type(w->edCorPower, localNum("5.5"));
        type(w->cbCorRS, "59"); // a new report in both boxes
        type(w->cbMyRS, "59");
        w->cbRepeater->setFocus();
        QTest::keyClick(w->cbRepeater, Qt::Key_Space);
        QVERIFY(w->cbRepeater->isChecked());
        type(w->mmNotice, QStringLiteral("первая"));
        QTest::keyClick(w->mmNotice, Qt::Key_Return); // a new line in the notice
        keys(w->mmNotice, QStringLiteral("вторая"));
        w->cbBand->setFocus();
        QTest::keyClick(w->cbBand, '2');
        QCOMPARE(w->cbMode->currentText(), QStringLiteral("SSB"));
        QCOMPARE(w->edMyPower->text(), QStringLiteral("100"));
        QCOMPARE(beepCount(), 0);

        pressEnter(w->edCallName);
        QCOMPARE(msg::errorCount(), 0);
        QCOMPARE(msg::questionCount(), 0);

        int logId = 0;
        auto verify = [&](TDM& dm) {
            QCOMPARE(dm.dsCors->recordCount(), 1);
            QCOMPARE(dm.dsNames->recordCount(), 3);
            QCOMPARE(dm.dsCityes->recordCount(), 3);
            QCOMPARE(dm.dsCountryes->recordCount(), 3);
            QCOMPARE(dm.dsRS->recordCount(), 2);
            Table& cors = *dm.dsCors;
            cors.first();
            const int corId = fieldOf(cors, "ID").asInteger();
            QVERIFY(corId > 0);
            QCOMPARE(fieldOf(cors, "CallName").asString(), QStringLiteral("UA3ABC"));
            QCOMPARE(fieldOf(cors, "NameID").asInteger(), idOf(*dm.dsNames, "Value", "Иван"));
            QCOMPARE(fieldOf(cors, "CityID").asInteger(), idOf(*dm.dsCityes, "Name", "Москва"));
            QCOMPARE(fieldOf(cors, "CountryID").asInteger(),
                     idOf(*dm.dsCountryes, "Name", "Россия"));
            QVERIFY(fieldOf(cors, "NameID").asInteger() > 0);
            QVERIFY(fieldOf(cors, "CityID").asInteger() > 0);
            QVERIFY(fieldOf(cors, "CountryID").asInteger() > 0);
            const int rs = idOf(*dm.dsRS, "Value", "59");
            QVERIFY(rs > 0);

            Table& log = *dm.dsMain;
            QCOMPARE(log.recordCount(), 1);
            log.first();
            logId = fieldOf(log, "ID").asInteger();
            QVERIFY(logId > 0);
            QCOMPARE(fieldOf(log, "CorID").asInteger(), corId);
            QCOMPARE(fieldOf(log, "CorSuffix").asString(), QStringLiteral("p"));
            QCOMPARE(fieldOf(log, "Notice").asString(), QStringLiteral("первая\nвторая"));
            QCOMPARE(fieldOf(log, "Repeater").asBoolean(), true);
            QCOMPARE(fieldOf(log, "CorPower").asFloat(), 5.5);
            QCOMPARE(fieldOf(log, "MyPower").asFloat(), 100.0);
            QCOMPARE(fieldOf(log, "CorRSID").asInteger(), rs);
            QCOMPARE(fieldOf(log, "MyRSID").asInteger(), rs);
            QCOMPARE(fieldOf(log, "CorCity").asString(), QStringLiteral("Москва"));
            QCOMPARE(fieldOf(log, "CorCountry").asString(), QStringLiteral("Россия"));
            QCOMPARE(fieldOf(log, "BandID").asInteger(), b20);
            QCOMPARE(fieldOf(log, "ModeID").asInteger(), ssb);
            QCOMPARE(fieldOf(log, "Time").asDateTime(), t1);
            QVERIFY(fieldOf(log, "QSL").isNull());
            QCOMPARE(fieldOf(log, "CorCallName").asString(), QStringLiteral("UA3ABC"));
            QCOMPARE(fieldOf(log, "CorName").asString(), QStringLiteral("Иван"));
        };
        verify(*w->DM);
        if (QTest::currentTestFailed()) return;
        // on disk as soon as the save returned
        QVERIFY(QFileInfo::exists(a.dataDir() + "Main.db"));
        onDisk(a, verify);
        if (QTest::currentTestFailed()) return;

        // the panel is ready for the next QSO
        QVERIFY(!w->FEditMode);
        QCOMPARE(w->edCallName->text(), QString());
        QVERIFY(!w->btnSave->isEnabled());
        QCOMPARE(w->edSuffix->text(), QString());
        QCOMPARE(w->edCorPower->text(), QString());
        QCOMPARE(w->sbPanel0->text(), QStringLiteral("Всего записей: 1"));
        QVERIFY(w->miDeleteQSO->isEnabled());
        // the lists hold what this save added
        QCOMPARE(w->cbName->count(), 3);
        QVERIFY(w->cbName->findText(QStringLiteral("Иван")) >= 0);
        QCOMPARE(w->cbCity->count(), 3);
        QVERIFY(w->cbCity->findText(QStringLiteral("Москва")) >= 0);
        QCOMPARE(w->cbCountry->count(), 3);
        QVERIFY(w->cbCountry->findText(QStringLiteral("Россия")) >= 0);
        QCOMPARE(w->cbCorRS->count(), 2);
        QVERIFY(w->cbCorRS->findText("59") >= 0);
        QCOMPARE(w->cbMyRS->count(), 2);
        QVERIFY(w->cbMyRS->findText("59") >= 0);
        QCOMPARE(w->cbCorRS->currentText(), QString());
        QCOMPARE(w->cbName->currentText(), QString());
        // band, mode, own power and the repeater box carry over
        QCOMPARE(w->cbBand->currentText(), QStringLiteral("20m"));
        QCOMPARE(w->cbMode->currentText(), QStringLiteral("SSB"));
        QCOMPARE(w->edMyPower->text(), QStringLiteral("100"));
        QVERIFY(w->cbRepeater->isChecked());
        // the log stands on the new row, whose notice shows in grey
        QCOMPARE(fieldOf(*w->DM->dsMain, "ID").asInteger(), logId);
        QCOMPARE(gridCurrentId(w->grMain), logId);
        QVERIFY(w->noticeIsPreview());
        QCOMPARE(w->mmNotice->toPlainText(), QStringLiteral("первая\nвторая"));
        QCOMPARE(w->mmNotice->palette().color(QPalette::Text), previewColor());
    }

    void knownStationWithTheSamePropertiesAsksNothing() {
        AppData a;
        int ivan = 0, moskva = 0, rus = 0, cor = 0;
        withData(a, [&](TDM& dm) {
            ivan = addRow(*dm.dsNames, {{"Value", "Иван"}});
            addRow(*dm.dsNames, {{"Value", "Пётр"}});
            moskva = addRow(*dm.dsCityes, {{"Name", "Москва"}});
            addRow(*dm.dsCityes, {{"Name", "Тула"}});
            rus = addRow(*dm.dsCountryes, {{"Name", "Россия"}});
            addRow(*dm.dsCountryes, {{"Name", "Беларусь"}});
            cor = addRow(
                *dm.dsCors,
                {{"CallName", "UA3AAA"}, {"NameID", ivan}, {"CityID", moskva}, {"CountryID", rus}});
        });
        auto w = startMain();
        type(w->edCallName, "ua3aaa");
        QCOMPARE(w->edCallName->text(), QStringLiteral("UA3AAA"));
        QCOMPARE(w->cbCity->currentText(), QStringLiteral("Москва"));
        pressEnter(w->edCallName);
        QCOMPARE(msg::questionCount(), 0);
        QCOMPARE(w->DM->dsCors->recordCount(), 1);
        QCOMPARE(fieldOf(*w->DM->dsMain, "CorID").asInteger(), cor);

        // the same properties typed in other letter case: no question, no new
        // list rows, the log keeps the case typed
        type(w->edCallName, "ua3aaa");
        retype(w->cbName, QStringLiteral("ИВАН"));
        retype(w->cbCity, QStringLiteral("МОСКВА"));
        retype(w->cbCountry, QStringLiteral("РОССИЯ"));
        QCOMPARE(w->cbCity->currentText(), QStringLiteral("МОСКВА"));
        pressEnter(w->edCallName);
        QCOMPARE(msg::questionCount(), 0);
        QCOMPARE(msg::errorCount(), 0);
        auto verify = [&](TDM& dm) {
            QCOMPARE(dm.dsNames->recordCount(), 2);
            QCOMPARE(dm.dsCityes->recordCount(), 2);
            QCOMPARE(dm.dsCountryes->recordCount(), 2);
            QCOMPARE(dm.dsCors->recordCount(), 1);
            QVERIFY(dm.dsCors->locate(fld::ID, cor));
            QCOMPARE(fieldOf(*dm.dsCors, "NameID").asInteger(), ivan);
            QCOMPARE(fieldOf(*dm.dsCors, "Name").asString(), QStringLiteral("Иван"));
            Table& log = *dm.dsMain;
            QCOMPARE(log.recordCount(), 2);
            log.first(); // the newest
            QCOMPARE(fieldOf(log, "CorID").asInteger(), cor);
            QCOMPARE(fieldOf(log, "CorCity").asString(), QStringLiteral("МОСКВА"));
            QCOMPARE(fieldOf(log, "CorCountry").asString(), QStringLiteral("РОССИЯ"));
            log.next();
            QCOMPARE(fieldOf(log, "CorCity").asString(), QStringLiteral("Москва"));
        };
        verify(*w->DM);
        onDisk(a, verify);
        QCOMPARE(w->cbName->count(), 2);
        Q_UNUSED(moskva);
    }

    void callSignThatBeginsAKnownOneIsAStationOfItsOwn() {
        AppData a;
        int ua3aaa = 0, ivan = 0;
        withData(a, [&](TDM& dm) {
            ivan = addRow(*dm.dsNames, {{"Value", "Иван"}});
            addRow(*dm.dsNames, {{"Value", "Пётр"}});
            ua3aaa = addRow(*dm.dsCors, {{"CallName", "UA3AAA"}, {"NameID", ivan}});
        });
        auto w = startMain();
        type(w->edCallName, "ua3");
        QCOMPARE(w->edCallName->text(), QStringLiteral("UA3AAA"));
        QTest::keyClick(w->edCallName, Qt::Key_Backspace); // drops the completed rest
        QCOMPARE(w->edCallName->text(), QStringLiteral("UA3"));
        QCOMPARE(w->cbName->currentText(), QStringLiteral("Иван"));
        QTest::keyClick(w->edCallName, Qt::Key_Return);
        QCOMPARE(msg::questionCount(), 0);
        QCOMPARE(w->DM->dsCors->recordCount(), 2);
        QVERIFY(w->DM->dsCors->locate(fld::CallName, "UA3"));
        const int ua3 = fieldOf(*w->DM->dsCors, "ID").asInteger();
        QVERIFY(ua3 != ua3aaa);
        QCOMPARE(fieldOf(*w->DM->dsCors, "NameID").asInteger(), ivan);
        QCOMPARE(fieldOf(*w->DM->dsMain, "CorID").asInteger(), ua3);
        QCOMPARE(fieldOf(*w->DM->dsMain, "CorCallName").asString(), QStringLiteral("UA3"));
    }

    void changedPropertiesAskAndFollowTheAnswer() {
        AppData a;
        int ivan = 0, moskva = 0, rus = 0, cor = 0;
        withData(a, [&](TDM& dm) {
            ivan = addRow(*dm.dsNames, {{"Value", "Иван"}});
            addRow(*dm.dsNames, {{"Value", "Олег"}});
            moskva = addRow(*dm.dsCityes, {{"Name", "Москва"}});
            addRow(*dm.dsCityes, {{"Name", "Тула"}});
            rus = addRow(*dm.dsCountryes, {{"Name", "Россия"}});
            addRow(*dm.dsCountryes, {{"Name", "Беларусь"}});
            cor = addRow(
                *dm.dsCors,
                {{"CallName", "UA3AAA"}, {"NameID", ivan}, {"CityID", moskva}, {"CountryID", rus}});
        });
        auto w = startMain();
        // a new name and no city: the answer No keeps the station as it was
        type(w->edCallName, "ua3aaa");
        retype(w->cbName, QStringLiteral("пётр"));
        retype(w->cbCity, QString());
        msg::presetAnswer(msg::Answer::No);
        QTest::mouseClick(w->btnSave, Qt::LeftButton);
        QCOMPARE(msg::questionCount(), 1);
        QCOMPARE(msg::lastQuestionCaption(), kChangeCaption);
        QCOMPARE(msg::lastQuestionText(), kChangeText);
        QCOMPARE(msg::lastQuestionIcon(), msg::Icon::Question);
        QCOMPARE(msg::lastQuestionDefault(), msg::Answer::Yes);
        QCOMPARE(msg::errorCount(), 0);
        {
            TDM& dm = *w->DM;
            const int petr = idOf(*dm.dsNames, "Value", "Пётр");
            QVERIFY(petr > 0); // added whatever the answer
            QVERIFY(dm.dsCors->locate(fld::ID, cor));
            QCOMPARE(fieldOf(*dm.dsCors, "NameID").asInteger(), ivan);
            QCOMPARE(fieldOf(*dm.dsCors, "CityID").asInteger(), moskva);
            QCOMPARE(dm.dsMain->recordCount(), 1);
            dm.dsMain->first();
            QCOMPARE(fieldOf(*dm.dsMain, "CorID").asInteger(), cor);
            QVERIFY(fieldOf(*dm.dsMain, "CorCity").isNull());
            QCOMPARE(fieldOf(*dm.dsMain, "CorCountry").asString(), QStringLiteral("Россия"));
            QCOMPARE(fieldOf(*dm.dsMain, "CorName").asString(), QStringLiteral("Иван"));
        }
        QVERIFY(!w->FEditMode);
        QCOMPARE(w->edCallName->text(), QString());

        // the same with Yes: the new name is stored and the city cleared
        type(w->edCallName, "ua3aaa");
        retype(w->cbName, QStringLiteral("пётр"));
        retype(w->cbCity, QString());
        msg::presetAnswer(msg::Answer::Yes);
        QTest::mouseClick(w->btnSave, Qt::LeftButton);
        QCOMPARE(msg::questionCount(), 2);
        QCOMPARE(msg::lastQuestionText(), kChangeText);
        auto verify = [&](TDM& dm) {
            const int petr = idOf(*dm.dsNames, "Value", "Пётр");
            QCOMPARE(dm.dsNames->recordCount(), 3);
            QCOMPARE(dm.dsCors->recordCount(), 1);
            QVERIFY(dm.dsCors->locate(fld::ID, cor));
            QCOMPARE(fieldOf(*dm.dsCors, "NameID").asInteger(), petr);
            QVERIFY(fieldOf(*dm.dsCors, "CityID").isNull());
            QCOMPARE(fieldOf(*dm.dsCors, "CountryID").asInteger(), rus);
            QCOMPARE(dm.dsMain->recordCount(), 2);
            // the log's name follows the station's
            dm.dsMain->first();
            QCOMPARE(fieldOf(*dm.dsMain, "CorName").asString(), QStringLiteral("Пётр"));
            dm.dsMain->next();
            QCOMPARE(fieldOf(*dm.dsMain, "CorName").asString(), QStringLiteral("Пётр"));
        };
        verify(*w->DM);
        onDisk(a, verify);

        // now the stored properties are the typed ones: no question
        type(w->edCallName, "ua3aaa");
        QCOMPARE(w->cbName->currentText(), QStringLiteral("Пётр"));
        QCOMPARE(w->cbCity->currentText(), QString());
        pressEnter(w->edCallName);
        QCOMPARE(msg::questionCount(), 2);
        QCOMPARE(w->DM->dsMain->recordCount(), 3);
    }

    void emptyBoxesLeaveNewRowFieldsEmpty() {
        AppData a;
        withData(a, [](TDM& dm) {
            const int cor = addRow(*dm.dsCors, {{"CallName", "UA3AAA"}});
            addRow(*dm.dsBands, {{"Name", "20m"}});
            addRow(*dm.dsModes, {{"Name", "SSB"}});
            addRow(*dm.dsRS, {{"Value", "59"}});
            addRow(*dm.dsMain, {{"CorID", cor}, {"Notice", "preview"}});
        });
        auto w = startMain();
        QCOMPARE(w->cbBand->currentIndex(), -1);
        QCOMPARE(w->cbMode->currentIndex(), -1);
        type(w->edCallName, "ua9zzz");
        w->edCorPower->setText(QStringLiteral("abc")); // pasted, not a number
        w->edMyPower->setText(QString());
        // the memo still shows the last QSO's notice in grey
        QVERIFY(w->noticeIsPreview());
        QCOMPARE(w->mmNotice->toPlainText(), QStringLiteral("preview"));
        QTest::mouseClick(w->btnSave, Qt::LeftButton);
        QCOMPARE(msg::errorCount(), 0);
        QCOMPARE(msg::questionCount(), 0);
        auto verify = [&](TDM& dm) {
            QVERIFY(dm.dsCors->locate(fld::CallName, "UA9ZZZ"));
            Table& cors = *dm.dsCors;
            const int corId = fieldOf(cors, "ID").asInteger();
            QVERIFY(corId > 0);
            QVERIFY(fieldOf(cors, "NameID").isNull());
            QVERIFY(fieldOf(cors, "CityID").isNull());
            QVERIFY(fieldOf(cors, "CountryID").isNull());
            QCOMPARE(dm.dsNames->recordCount(), 0);
            QCOMPARE(dm.dsCityes->recordCount(), 0);
            QCOMPARE(dm.dsCountryes->recordCount(), 0);
            QCOMPARE(dm.dsRS->recordCount(), 1);
            Table& log = *dm.dsMain;
            QCOMPARE(log.recordCount(), 2);
            log.first();
            QCOMPARE(fieldOf(log, "CorID").asInteger(), corId);
            for (const char* f : {"CorSuffix", "Notice", "CorPower", "MyPower", "CorRSID", "MyRSID",
                                  "CorCity", "CorCountry", "BandID", "ModeID", "QSL"})
                QVERIFY2(fieldOf(log, f).isNull(), f);
            QVERIFY(!fieldOf(log, "Repeater").isNull());
            QCOMPARE(fieldOf(log, "Repeater").asBoolean(), false);
        };
        verify(*w->DM);
        onDisk(a, verify);
        // the new row's empty notice is what the memo previews now
        QVERIFY(w->noticeIsPreview());
        QCOMPARE(w->mmNotice->toPlainText(), QString());
    }

    void correctedRowKeepsWhatTheEmptyBoxesDoNotWrite() {
        AppData a;
        int cor = 0, rs59 = 0, rs57 = 0;
        const QDateTime t0(QDate(2023, 1, 2), QTime(3, 4, 5, 6));
        withData(a, [&](TDM& dm) {
            cor = addRow(*dm.dsCors, {{"CallName", "UA3AAA"}});
            addRow(*dm.dsBands, {{"Name", "20m"}});
            addRow(*dm.dsModes, {{"Name", "SSB"}});
            rs59 = addRow(*dm.dsRS, {{"Value", "59"}});
            rs57 = addRow(*dm.dsRS, {{"Value", "57"}});
            // its band and mode are no longer in their lists
            addRow(*dm.dsMain, {{"CorID", cor},
                                {"Time", t0},
                                {"BandID", 99},
                                {"ModeID", 77},
                                {"CorRSID", rs59},
                                {"MyRSID", rs57},
                                {"CorPower", 5.0},
                                {"MyPower", 10.0},
                                {"CorCity", "Омск"},
                                {"CorSuffix", "p"},
                                {"Notice", "старое"}});
        });
        auto w = startMain();
        w->DM->Clock = [] { return QDateTime(QDate(2030, 1, 1), QTime(0, 0)); };
        dblClickGridRow(w->grMain, 0);
        QVERIFY(w->FEditMode);
        QCOMPARE(w->cbBand->currentIndex(), -1);
        QCOMPARE(w->cbMode->currentIndex(), -1);
        QCOMPARE(w->cbCorRS->currentText(), QStringLiteral("59"));
        retype(w->cbCorRS, QString());
        retype(w->cbMyRS, QString());
        retype(w->edCorPower, QString());
        w->edMyPower->setText(QStringLiteral("1-2")); // pasted, not a number
        retype(w->edSuffix, QString());
        retype(w->cbCity, QString());
        retype(w->mmNotice, QString());
        QCOMPARE(w->mmNotice->toPlainText(), QString());
        pressEnter(w->edCallName);
        QCOMPARE(msg::errorCount(), 0);
        QVERIFY(!w->FEditMode);
        auto verify = [&](TDM& dm) {
            Table& log = *dm.dsMain;
            QCOMPARE(log.recordCount(), 1);
            log.first();
            QCOMPARE(fieldOf(log, "ID").asInteger(), 1);
            QCOMPARE(fieldOf(log, "Time").asDateTime(), t0);
            QCOMPARE(fieldOf(log, "CorID").asInteger(), cor);
            QCOMPARE(fieldOf(log, "BandID").asInteger(), 99);
            QCOMPARE(fieldOf(log, "ModeID").asInteger(), 77);
            QCOMPARE(fieldOf(log, "CorRSID").asInteger(), rs59);
            QCOMPARE(fieldOf(log, "MyRSID").asInteger(), rs57);
            QCOMPARE(fieldOf(log, "Notice").asString(), QStringLiteral("старое"));
            QVERIFY(fieldOf(log, "CorPower").isNull());
            QVERIFY(fieldOf(log, "MyPower").isNull());
            QVERIFY(fieldOf(log, "CorSuffix").isNull());
            QVERIFY(fieldOf(log, "CorCity").isNull());
        };
        verify(*w->DM);
        onDisk(a, verify);
    }

    void longCityAndCountryAreCutInTheLogOnly() {
        AppData a;
        auto w = startMain();
        const QString city = QStringLiteral("Петропавловск-Камчатский-Южный");
        const QString country =
            QStringLiteral("Соединённое Королевство Великобритании и Северной Ирландии").left(50);
        QCOMPARE(city.size(), 30);
        type(w->edCallName, "g4abc");
        type(w->cbCity, city);
        keys(w->cbCity, "xyz"); // still within the list's 50 characters
        type(w->cbCountry, country);
        keys(w->cbCountry, "x"); // the 51st is not taken
        QCOMPARE(w->cbCity->currentText(), city + QStringLiteral("xyz"));
        QCOMPARE(w->cbCountry->currentText(), country);
        pressEnter(w->edCallName);
        QCOMPARE(msg::errorCount(), 0);
        auto verify = [&](TDM& dm) {
            QVERIFY(idOf(*dm.dsCityes, "Name", city + QStringLiteral("xyz")) > 0);
            QCOMPARE(fieldOf(*dm.dsCityes, "Name").asString(), city + QStringLiteral("xyz"));
            QVERIFY(idOf(*dm.dsCountryes, "Name", country) > 0);
            QCOMPARE(fieldOf(*dm.dsCountryes, "Name").asString(), country);
            dm.dsMain->first();
            QCOMPARE(fieldOf(*dm.dsMain, "CorCity").asString(), city.left(25));
            QCOMPARE(fieldOf(*dm.dsMain, "CorCountry").asString(), country.left(25));
            dm.dsCors->first();
            QCOMPARE(fieldOf(*dm.dsCors, "City").asString(), city + QStringLiteral("xyz"));
        };
        verify(*w->DM);
        onDisk(a, verify);
        // the lists offer the whole texts
        QVERIFY(w->cbCity->findText(city + QStringLiteral("xyz")) >= 0);
        QVERIFY(w->cbCountry->findText(country) >= 0);
    }

    void failedFirstWriteIsMadeGoodByTheNextSave() {
        AppData a;
        auto w = startMain();
        g_failAt = "temp-written";
        TableFile::faultHook = &failWrite;
        type(w->edCallName, "ua3aaa");
        pressEnter(w->edCallName);
        QCOMPARE(msg::errorCount(), 1);
        QVERIFY(msg::lastError().contains(QStringLiteral("injected write failure")));
        // the panel was reset before the tables were written
        QCOMPARE(w->edCallName->text(), QString());
        QCOMPARE(w->sbPanel0->text(), QStringLiteral("Всего записей: 1"));
        QVERIFY(!QFileInfo::exists(a.dataDir() + "Main.db"));

        TableFile::faultHook = nullptr;
        type(w->edCallName, "ua3bbb");
        pressEnter(w->edCallName);
        QCOMPARE(msg::errorCount(), 1);
        onDisk(a, [](TDM& dm) {
            QCOMPARE(dm.dsMain->recordCount(), 2);
            QCOMPARE(dm.dsCors->recordCount(), 2);
            QVERIFY(dm.dsCors->locate(fld::CallName, "UA3AAA"));
            QVERIFY(dm.dsCors->locate(fld::CallName, "UA3BBB"));
        });
    }

    void failedCommitIsWrittenWhenTheWindowCloses() {
        AppData a;
        withData(a, [](TDM& dm) {
            const int cor = addRow(*dm.dsCors, {{"CallName", "UA1AAA"}});
            addRow(*dm.dsMain, {{"CorID", cor}});
        });
        auto w = startMain();
        g_failAt = "before-commit";
        TableFile::faultHook = &failWrite;
        type(w->edCallName, "ua3ccc");
        type(w->cbName, QStringLiteral("олег"));
        type(w->mmNotice, QStringLiteral("заметка"));
        pressEnter(w->edCallName);
        QCOMPARE(msg::errorCount(), 1);
        QCOMPARE(w->DM->dsMain->recordCount(), 2);
        onDisk(a, [](TDM& dm) {
            QCOMPARE(dm.dsMain->recordCount(), 1); // the old file, intact
            QCOMPARE(dm.dsCors->recordCount(), 1);
        });

        TableFile::faultHook = nullptr;
        w->close();
        QCOMPARE(msg::errorCount(), 1);
        w.reset();
        withData(a, [](TDM& dm) {
            QCOMPARE(dm.dsMain->recordCount(), 2);
            dm.dsMain->first();
            QCOMPARE(fieldOf(*dm.dsMain, "CorCallName").asString(), QStringLiteral("UA3CCC"));
            QCOMPARE(fieldOf(*dm.dsMain, "CorName").asString(), QStringLiteral("Олег"));
            QCOMPARE(fieldOf(*dm.dsMain, "Notice").asString(), QStringLiteral("заметка"));
            QCOMPARE(dm.dsCors->recordCount(), 2);
            QCOMPARE(dm.dsNames->recordCount(), 1);
        });
    }

    void refusedLogRowKeepsThePanel() {
        AppData a;
        withData(a, [](TDM& dm) {
            const int cor = addRow(*dm.dsCors, {{"CallName", "UA1AAA"}});
            addRow(*dm.dsMain, {{"CorID", cor}, {"Notice", "последняя"}});
        });
        // a log whose row numbers are used up: the next row cannot be posted
        {
            sqlite3* db = nullptr;
            QCOMPARE(sqlite3_open(QFile::encodeName(a.dataDir() + "Main.db").constData(), &db),
                     SQLITE_OK);
            const int rc =
                sqlite3_exec(db, "UPDATE records SET \"ID\"=2147483647", nullptr, nullptr, nullptr);
            sqlite3_close(db);
            QCOMPARE(rc, SQLITE_OK);
        }
        auto w = startMain();
        QVERIFY(w->fatalError().isEmpty());
        QCOMPARE(w->DM->dsMain->recordCount(), 1);
        type(w->edCallName, "ua3new");
        type(w->cbName, QStringLiteral("олег"));
        type(w->mmNotice, QStringLiteral("строка1"));
        QTest::keyClick(w->mmNotice, Qt::Key_Return);
        keys(w->mmNotice, QStringLiteral("строка2"));
        QTest::mouseClick(w->btnSave, Qt::LeftButton);
        QCOMPARE(msg::errorCount(), 1);

        // nothing of what was typed is lost
        QVERIFY(!w->FEditMode);
        QCOMPARE(w->edCallName->text(), QStringLiteral("UA3NEW"));
        QVERIFY(w->btnSave->isEnabled());
        QCOMPARE(w->cbName->currentText(), QStringLiteral("Олег"));
        QCOMPARE(w->mmNotice->toPlainText(), QStringLiteral("строка1\nстрока2"));
        QVERIFY(!w->noticeIsPreview());
        QCOMPARE(w->mmNotice->palette().color(QPalette::Text), windowTextColor());
        QCOMPARE(w->DM->dsMain->recordCount(), 1);
        QCOMPARE(w->sbPanel0->text(), QStringLiteral("Всего записей: 1"));

        // the rows posted before the failure reach the files all the same
        w->close();
        w.reset();
        withData(a, [](TDM& dm) {
            QCOMPARE(dm.dsMain->recordCount(), 1);
            QVERIFY(dm.dsCors->locate(fld::CallName, "UA3NEW"));
            QCOMPARE(fieldOf(*dm.dsCors, "Name").asString(), QStringLiteral("Олег"));
        });
    }
};

QTEST_MAIN(TestSaving)
#include "tst_saving.moc"
