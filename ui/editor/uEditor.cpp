#include "ui/editor/uEditor.h"
#include "data/Fields.h"

#include "data/uDM.h"
#include "ui/common/Colors.h"
#include "ui/common/DataGrid.h"
#include "ui/common/Guard.h"
#include "ui/common/IdComboBox.h"
#include "ui/common/KeyFilter.h"
#include "ui/common/MessageBox.h"
#include "ui/common/TextRules.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProxyStyle>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>

#include <exception>

namespace qardel {

namespace {

enum TabIndex { tiBands, tiModes, tiNames, tiCityes, tiCountryes, tiRS, tiOther };

constexpr int kEditHeight = 21;

// Nothing but blanks and control characters (codes up to 32).
bool isBlank(const QString& s) {
    for (const QChar c : s)
        if (c.unicode() > 32) return false;
    return true;
}

// Tabs as narrow as the native ones, so that all seven captions fit the
// dialog's width in one row without scroll arrows.
class CompactTabStyle : public QProxyStyle {
  public:
    int pixelMetric(PixelMetric m, const QStyleOption* o, const QWidget* w) const override {
        if (m == PM_TabBarTabHSpace) return 16;
        return QProxyStyle::pixelMetric(m, o, w);
    }
};

const QString fName = fld::Name;
const QString fValue = fld::Value;

} // namespace

TfEditor::TfEditor(TDM* dm, QWidget* parent) : QDialog(parent), DM(dm) {
    setObjectName(QStringLiteral("fEditor"));
    setWindowTitle(QStringLiteral("Редактор справочников"));
    setFont(panelFont()); // Tahoma 8 pt
    setFixedSize(428, 411);
    // the drop-down list's type-ahead starts afresh after 100 ms without a key
    QApplication::setKeyboardInputInterval(100);

    FDecimalSeparator = QLocale().decimalPoint();
    if (FDecimalSeparator.isEmpty()) FDecimalSeparator = QStringLiteral(".");

    pcType = new QTabWidget(this);
    pcType->setObjectName(QStringLiteral("pcType"));
    pcType->setGeometry(0, 0, 428, 155);
    auto* tabStyle = new CompactTabStyle;
    tabStyle->setParent(pcType);
    pcType->tabBar()->setStyle(tabStyle);

    // Bands
    QWidget* sheet = addPage(tsBands, "tsBands", QStringLiteral("Диапазоны"));
    edBandName = addNameRow(sheet, QStringLiteral("Название"), "edBandName", 25,
                            QStringLiteral("Текстовое назвение диапазона"));
    // each field is named by its label, as a screen reader speaks it
    QLabel* label = addLabel(sheet, QStringLiteral("Начало"), 3, 40);
    edBegin =
        addEdit(sheet, "edBegin", 112, 36, 109, 10, QStringLiteral("Частота начала диапазона"));
    label->setBuddy(edBegin);
    label = addLabel(sheet, QStringLiteral("Конец"), 234, 39);
    edEnd =
        addEdit(sheet, "edEnd", 296, 36, 121, 10, QStringLiteral("частота окончания диапазона"));
    label->setBuddy(edEnd);
    label = addLabel(sheet, QStringLiteral("Типичная мощность"), 3, 68);
    edPower = addEdit(sheet, "edPower", 112, 64, 109, 8,
                      QStringLiteral("Тапичная мощность моего передатчика на этом диапазоне"));
    label->setBuddy(edPower);
    label = addLabel(sheet, QStringLiteral("Модуляция"), 234, 67);
    cbBandMode = new IdComboBox(false, true, sheet);
    label->setBuddy(cbBandMode);
    cbBandMode->setObjectName(QStringLiteral("cbBandMode"));
    cbBandMode->setGeometry(296, 64, 121, kEditHeight);
    cbBandMode->setToolTip(QStringLiteral("Типичный вид модуляции на этом диапазоне"));
    btnSaveBand = addButton(sheet, "btnSaveBand", QStringLiteral("Сохранить"), 342);
    btnDeleteBand = addButton(sheet, "btnDeleteBand", QStringLiteral("Удалить"), 259);
    setTabOrder(edBandName, edBegin);
    setTabOrder(edBegin, edEnd);
    setTabOrder(edEnd, edPower);
    setTabOrder(edPower, cbBandMode);
    setTabOrder(cbBandMode, btnSaveBand);
    setTabOrder(btnSaveBand, btnDeleteBand);

    // The five append-only lists share one layout: a name, Save and Delete.
    struct Simple {
        QWidget*& sheet;
        const char* sheetName;
        QString caption;
        QString label;
        QLineEdit*& edit;
        const char* editName;
        int maxLength;
        QString hint;
        QPushButton*& save;
        const char* saveName;
        QPushButton*& del;
        const char* delName;
    };
    const Simple simple[] = {
        {tsModes, "tsModes", QStringLiteral("Модуляции"), QStringLiteral("Название"), edModeName,
         "edModeName", 25, QStringLiteral("Текстовое название вида модулации"), btnSaveMode,
         "btnSaveMode", btnDeleteMode, "btnDeleteMode"},
        {tsNames, "tsNames", QStringLiteral("Имена"), QStringLiteral("Имя"), edName, "edName", 25,
         QStringLiteral("Имя"), btnSaveName, "btnSaveName", btnDeleteName, "btnDeleteName"},
        {tsCityes, "tsCityes", QStringLiteral("Города"), QStringLiteral("Название"), edCityName,
         "edCityName", 50, QStringLiteral("Название города"), btnSaveCity, "btnSaveCity",
         btnDeleteCity, "btnDeleteCity"},
        {tsCountryes, "tsCountryes", QStringLiteral("Страны"), QStringLiteral("Название"),
         edCountryName, "edCountryName", 50, QStringLiteral("Название страны"), btnSaveCountry,
         "btnSaveCountry", btnDeleteCountry, "btnDeleteCountry"},
        {tsRS, "tsRS", QStringLiteral("RS"), QStringLiteral("Величина"), edRS, "edRS", 20,
         QStringLiteral("Текстовая величина силы сигнала"), btnSaveRS, "btnSaveRS", btnDeleteRS,
         "btnDeleteRS"},
    };
    for (const Simple& s : simple) {
        QWidget* p = addPage(s.sheet, s.sheetName, s.caption);
        s.edit = addNameRow(p, s.label, s.editName, s.maxLength, s.hint);
        s.save = addButton(p, s.saveName, QStringLiteral("Сохранить"), 342);
        s.del = addButton(p, s.delName, QStringLiteral("Удалить"), 259);
        setTabOrder(s.edit, s.save);
        setTabOrder(s.save, s.del);
    }

    // Other
    sheet = addPage(tsOther, "tsOther", QStringLiteral("Прочее"));
    edMiscName = addNameRow(sheet, QStringLiteral("Имя"), "edMiscName", 50,
                            QStringLiteral("Имя переменной настроек"));
    label = addLabel(sheet, QStringLiteral("Значение"), 3, 39);
    edMiscValue = addEdit(sheet, "edMiscValue", 64, 35, 353, 255,
                          QStringLiteral("Значение переменной настроек"));
    label->setBuddy(edMiscValue);
    btnSaveMisc = addButton(sheet, "btnSaveMisc", QStringLiteral("Сохранить"), 342);
    btnDeleteMisc = addButton(sheet, "btnDeleteMisc", QStringLiteral("Удалить"), 259);
    setTabOrder(edMiscName, edMiscValue);
    setTabOrder(edMiscValue, btnSaveMisc);
    setTabOrder(btnSaveMisc, btnDeleteMisc);

    dbgEditor = new DataGrid(this);
    dbgEditor->setObjectName(QStringLiteral("dbgEditor"));
    dbgEditor->setGeometry(0, 155, 428, 411 - 155);

    // --- events
    auto onText = [this](QLineEdit* e, void (TfEditor::*h)()) {
        connect(e, &QLineEdit::textChanged, this, [this, h] { runChange(h); });
    };
    onText(edBandName, &TfEditor::edBandNameChange);
    onText(edModeName, &TfEditor::edModeNameChange);
    onText(edName, &TfEditor::edNameChange);
    onText(edCityName, &TfEditor::edCityNameChange);
    onText(edCountryName, &TfEditor::edCountryNameChange);
    onText(edRS, &TfEditor::edRSChange);
    onText(edMiscName, &TfEditor::edMiscNameChange);

    auto onClick = [this](QPushButton* b, void (TfEditor::*h)()) {
        connect(b, &QPushButton::clicked, this, [this, h] { guarded([&] { (this->*h)(); }); });
    };
    onClick(btnSaveBand, &TfEditor::btnSaveBandClick);
    onClick(btnSaveMode, &TfEditor::btnSaveModeClick);
    onClick(btnSaveName, &TfEditor::btnSaveNameClick);
    onClick(btnSaveCity, &TfEditor::btnSaveCityClick);
    onClick(btnSaveCountry, &TfEditor::btnSaveCountryClick);
    onClick(btnSaveRS, &TfEditor::btnSaveRSClick);
    onClick(btnSaveMisc, &TfEditor::btnSaveMiscClick);
    for (QPushButton* b : {btnDeleteBand, btnDeleteMode, btnDeleteName, btnDeleteCity,
                           btnDeleteCountry, btnDeleteRS, btnDeleteMisc})
        onClick(b, &TfEditor::btnDeleteBandClick);

    // A tab chosen in code before the dialog is shown does not count as a
    // switch: the opener runs pcTypeChange itself, and running it twice
    // would fill the fields from the row the name search moved to.
    connect(pcType, &QTabWidget::currentChanged, this, [this] {
        if (isVisible()) guarded([this] { pcTypeChange(); });
    });
    connect(dbgEditor, &DataGrid::rowClicked, this,
            [this] { guarded([this] { dbgEditorCellClick(); }); });

    for (QLineEdit* e : {edBegin, edEnd, edPower})
        installKeyFilter(e, [this, e](QChar c) { return edBeginKeyPress(e, c); });
    for (QLineEdit* e : {edName, edCityName, edCountryName})
        installKeyFilter(e, [this, e](QChar c) { return edNameKeyPress(e, c); });
    // Installed after the key filters so that it sees Enter first: the
    // default button takes it before a filter could refuse it with a beep.
    for (QLineEdit* e : findChildren<QLineEdit*>()) {
        e->installEventFilter(this);
        applyLineRules(e);
    }
}

// --------------------------------------------------------------- building

QWidget* TfEditor::addPage(QWidget*& sheet, const char* objectName, const QString& caption) {
    sheet = new QWidget;
    sheet->setObjectName(QLatin1String(objectName));
    pcType->addTab(sheet, caption);
    return sheet;
}

QLabel* TfEditor::addLabel(QWidget* sheet, const QString& text, int x, int y, bool bold) {
    auto* l = new QLabel(text, sheet);
    if (bold) {
        QFont f = font();
        f.setBold(true);
        l->setFont(f);
    }
    l->move(x, y);
    l->adjustSize();
    return l;
}

QLineEdit* TfEditor::addEdit(QWidget* sheet, const char* objectName, int x, int y, int width,
                             int maxLength, const QString& hint) {
    auto* e = new QLineEdit(sheet);
    e->setObjectName(QLatin1String(objectName));
    e->setGeometry(x, y, width, kEditHeight);
    e->setMaxLength(maxLength);
    e->setToolTip(hint);
    return e;
}

QLineEdit* TfEditor::addNameRow(QWidget* sheet, const QString& label, const char* objectName,
                                int maxLength, const QString& hint) {
    QLabel* l = addLabel(sheet, label, 3, 11, true);
    QLineEdit* e = addEdit(sheet, objectName, 64, 8, 353, maxLength, hint);
    l->setBuddy(e);
    QFont f = font();
    f.setBold(true);
    e->setFont(f);
    return e;
}

QPushButton* TfEditor::addButton(QWidget* sheet, const char* objectName, const QString& text,
                                 int x) {
    auto* b = new QPushButton(text, sheet);
    b->setObjectName(QLatin1String(objectName));
    b->setGeometry(x, 96, 75, 25);
    // Enter is handled by the dialog itself (the current tab's Save)
    b->setAutoDefault(false);
    b->setDefault(false);
    b->setEnabled(false);
    return b;
}

TfEditor::Page TfEditor::page(int index) const {
    switch (index) {
    case tiBands:
        return {DM->dsBands, DM->sBands, edBandName, btnSaveBand, btnDeleteBand};
    case tiModes:
        return {DM->dsModes, DM->sModes, edModeName, btnSaveMode, btnDeleteMode};
    case tiNames:
        return {DM->dsNames, DM->sNames, edName, btnSaveName, btnDeleteName};
    case tiCityes:
        return {DM->dsCityes, DM->sCityes, edCityName, btnSaveCity, btnDeleteCity};
    case tiCountryes:
        return {DM->dsCountryes, DM->sCountryes, edCountryName, btnSaveCountry, btnDeleteCountry};
    case tiRS:
        return {DM->dsRS, DM->sRS, edRS, btnSaveRS, btnDeleteRS};
    default:
        return {DM->dsINI, DM->sINI, edMiscName, btnSaveMisc, btnDeleteMisc};
    }
}

// ------------------------------------------------------------ name writes

// The name search runs on every change of a name field. When the dialog
// itself writes the text, an error of the search ends the writing handler,
// as it would if the search had been called directly.
void TfEditor::runChange(void (TfEditor::*handler)()) {
    if (FWriting) {
        try {
            (this->*handler)();
        } catch (...) {
            if (!FWriteError) FWriteError = std::current_exception();
        }
        return;
    }
    guarded([&] { (this->*handler)(); });
}

void TfEditor::writeText(QLineEdit* edit, const QString& text) {
    FWriting = true;
    FWriteError = nullptr;
    edit->setText(text);
    FWriting = false;
    if (FWriteError) std::rethrow_exception(std::exchange(FWriteError, nullptr));
}

// ---------------------------------------------------------------- handlers

void TfEditor::pcTypeChange() {
    const int index = pcType->currentIndex();
    const Page p = page(index);
    dbgEditor->setDataSource(p.source);
    dbgEditor->fitColumns();
    dbgEditor->setAccessibleName(pcType->tabText(index)); // a reader names the grid by its list
    if (index == tiBands) DM->FillCombo(*cbBandMode, *DM->dsModes, fName);
    updateDelete(p);
    dbgEditorCellClick();
}

void TfEditor::dbgEditorCellClick() {
    const Page p = page(pcType->currentIndex());
    Table* t = p.table;
    // Every value is read before the first write: writing the name runs the
    // name search, which may move the cursor to another row.
    switch (pcType->currentIndex()) {
    case tiBands: {
        const QString name = t->fieldByName(fName).asString();
        const QString begin = t->fieldByName(fld::Begin).asString();
        const QString end = t->fieldByName(fld::End).asString();
        const QString power = t->fieldByName(fld::DefPower).asString();
        const int modeId = t->fieldByName(fld::DefModeID).asInteger();
        writeText(edBandName, name);
        edBegin->setText(begin);
        edEnd->setText(end);
        edPower->setText(power);
        cbBandMode->setSelectedIndex(TDM::ComboIndexOfID(*cbBandMode, modeId));
        break;
    }
    case tiModes:
    case tiCityes:
    case tiCountryes:
        writeText(p.nameEdit, t->fieldByName(fName).asString());
        break;
    case tiNames:
    case tiRS:
        writeText(p.nameEdit, t->fieldByName(fValue).asString());
        break;
    case tiOther: {
        const QString name = t->fieldByName(fName).asString();
        const QString value = t->fieldByName(fValue).asString();
        writeText(edMiscName, name);
        edMiscValue->setText(value);
        break;
    }
    default:
        break;
    }
    updateDelete(p);
}

void TfEditor::updateDelete(const Page& p) {
    p.del->setEnabled(!p.table->isEmpty());
}

void TfEditor::searchAppendOnly(QLineEdit* edit, Table* table, const QString& field,
                                QPushButton* save) {
    const QString text = edit->text();
    if (isBlank(text)) {
        save->setEnabled(false);
        return;
    }
    if (table->locate(field, text, loCaseInsensitive)) {
        save->setEnabled(false);
        return;
    }
    save->setEnabled(true);
    table->locate(field, text, loCaseInsensitive | loPartialKey);
}

// A blank name disables Save here too: posting it could only be refused.
void TfEditor::searchEditOrAppend(QLineEdit* edit, Table* table, QPushButton* save) {
    const QString text = edit->text();
    if (isBlank(text)) {
        save->setEnabled(false);
        return;
    }
    save->setEnabled(true);
    table->locate(fName, text, loCaseInsensitive | loPartialKey);
}

void TfEditor::edBandNameChange() {
    searchEditOrAppend(edBandName, DM->dsBands, btnSaveBand);
}
void TfEditor::edModeNameChange() {
    searchAppendOnly(edModeName, DM->dsModes, fName, btnSaveMode);
}
void TfEditor::edNameChange() {
    searchAppendOnly(edName, DM->dsNames, fValue, btnSaveName);
}
void TfEditor::edCityNameChange() {
    searchAppendOnly(edCityName, DM->dsCityes, fName, btnSaveCity);
}
void TfEditor::edCountryNameChange() {
    searchAppendOnly(edCountryName, DM->dsCountryes, fName, btnSaveCountry);
}
void TfEditor::edRSChange() {
    searchAppendOnly(edRS, DM->dsRS, fValue, btnSaveRS);
}
void TfEditor::edMiscNameChange() {
    searchEditOrAppend(edMiscName, DM->dsINI, btnSaveMisc);
}

// A refused post must not leave a half-made row pending in the shared
// table: it is cancelled, the fields keep what was typed, and the error
// goes on to be shown.
namespace {
template <class F> void postOrCancel(Table* t, F&& fill) {
    try {
        fill();
        t->post();
    } catch (...) {
        t->cancel();
        throw;
    }
}
} // namespace

void TfEditor::btnSaveBandClick() {
    Table* t = DM->dsBands;
    const QString name = edBandName->text();
    if (t->locate(fName, name, loCaseInsensitive))
        t->edit();
    else
        t->append();
    postOrCancel(t, [&] {
        t->fieldByName(fName).setAsString(name);
        TDM::SetFloatFromText(t->fieldByName(fld::Begin), edBegin->text());
        TDM::SetFloatFromText(t->fieldByName(fld::End), edEnd->text());
        TDM::SetFloatFromText(t->fieldByName(fld::DefPower), edPower->text());
        // no selection: an edited band keeps its mode, a new one gets none
        if (cbBandMode->currentIndex() >= 0)
            t->fieldByName(fld::DefModeID).setAsInteger(cbBandMode->selectedId());
    });
    dbgEditorCellClick();
}

void TfEditor::btnSaveMiscClick() {
    Table* t = DM->dsINI;
    const QString name = edMiscName->text();
    if (t->locate(fName, name, loCaseInsensitive))
        t->edit();
    else
        t->append();
    postOrCancel(t, [&] {
        t->fieldByName(fName).setAsString(name);
        // stored as a number's text: 007 becomes 7, anything else clears it
        TDM::SetFloatFromText(t->fieldByName(fValue), edMiscValue->text());
    });
    dbgEditorCellClick();
}

void TfEditor::saveAppendOnly(QLineEdit* edit, Table* table, const QString& field,
                              QPushButton* save) {
    table->append();
    postOrCancel(table, [&] { table->fieldByName(field).setAsString(edit->text()); });
    dbgEditorCellClick();
    // the name is in the list now; only a change of the text enables Save again
    save->setEnabled(false);
}

void TfEditor::btnSaveModeClick() {
    saveAppendOnly(edModeName, DM->dsModes, fName, btnSaveMode);
}
void TfEditor::btnSaveNameClick() {
    saveAppendOnly(edName, DM->dsNames, fValue, btnSaveName);
}
void TfEditor::btnSaveCityClick() {
    saveAppendOnly(edCityName, DM->dsCityes, fName, btnSaveCity);
}
void TfEditor::btnSaveCountryClick() {
    saveAppendOnly(edCountryName, DM->dsCountryes, fName, btnSaveCountry);
}
void TfEditor::btnSaveRSClick() {
    saveAppendOnly(edRS, DM->dsRS, fValue, btnSaveRS);
}

void TfEditor::btnDeleteBandClick() {
    if (msg::question(QStringLiteral("Удаление"),
                      QStringLiteral("Вы действительно хотите удалить выбранный элемент?"),
                      msg::Icon::Warning, msg::Answer::Yes) != msg::Answer::Yes)
        return;
    TableModel* source = dbgEditor->dataSource();
    if (!source) return;
    source->table()->deleteRecord();
    dbgEditorCellClick();
}

// ------------------------------------------------------------- key filters

QChar TfEditor::edBeginKeyPress(QLineEdit* edit, QChar key) const {
    const ushort code = key.unicode();
    if (code >= 256) return {};
    if (code == 8) return key;
    if (code >= '0' && code <= '9') return key;
    // the selection does not count: a separator anywhere refuses another
    if (QString(key) == FDecimalSeparator && !edit->text().contains(FDecimalSeparator)) return key;
    return {};
}

QChar TfEditor::edNameKeyPress(QLineEdit* edit, QChar key) const {
    const QString text = edit->text();
    const bool first = text.isEmpty() || edit->selectionLength() == text.size();
    if (!first) return key;
    if (key == QLatin1Char(' ')) return {};
    return TDM::UpCaseChar(key);
}

// ------------------------------------------------------- Enter and Escape

bool TfEditor::isDefaultButtonKey(const QKeyEvent* e) const {
    if (e->key() != Qt::Key_Return && e->key() != Qt::Key_Enter) return false;
    return !(e->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier));
}

void TfEditor::clickDefault() {
    QPushButton* save = page(pcType->currentIndex()).save;
    if (save->isEnabled()) save->click();
}

bool TfEditor::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && qobject_cast<QLineEdit*>(watched)) {
        const auto* ke = static_cast<QKeyEvent*>(event);
        if (isDefaultButtonKey(ke) && page(pcType->currentIndex()).save->isEnabled()) {
            clickDefault();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TfEditor::keyPressEvent(QKeyEvent* e) {
    // No cancel button: Escape does not close the dialog, its close button does.
    if (e->matches(QKeySequence::Cancel)) {
        e->accept();
        return;
    }
    if (isDefaultButtonKey(e)) {
        e->accept();
        // a focused button takes Enter itself, as a click
        if (auto* b = qobject_cast<QPushButton*>(focusWidget())) {
            if (b->isEnabled()) b->click();
            return;
        }
        clickDefault();
        return;
    }
    QDialog::keyPressEvent(e);
}

} // namespace qardel
