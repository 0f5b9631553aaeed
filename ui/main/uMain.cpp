#include "ui/main/uMain.h"
#include "data/Fields.h"

#include "data/DataFolder.h"
#include "ui/common/Colors.h"
#include "ui/common/Guard.h"
#include "ui/common/KeyFilter.h"
#include "ui/common/MessageBox.h"
#include "ui/common/TextRules.h"
#include "ui/editor/uEditor.h"
#include "ui/main/CallCard.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QPainter>
#include <QScopeGuard>
#include <QStatusBar>
#include <QVBoxLayout>

namespace qardel {

namespace {

const QString kAddMode = QStringLiteral("Режим добавления записи");
const QString kEditMode = QStringLiteral("Режим редактирования записи");
const QString kRecordCount = QStringLiteral("Всего записей: ");

// The Latin letters that Cyrillic capitals stand for in a call sign.
QChar cyrillicToLatin(QChar u) {
    static const QHash<ushort, char> map = {
        {1040, 'A'}, {1041, 'B'}, {1042, 'W'}, {1043, 'G'}, {1044, 'D'}, {1045, 'E'}, {1046, 'V'},
        {1047, 'Z'}, {1048, 'I'}, {1049, 'J'}, {1050, 'K'}, {1051, 'L'}, {1052, 'M'}, {1053, 'N'},
        {1054, 'O'}, {1055, 'P'}, {1056, 'R'}, {1057, 'S'}, {1058, 'T'}, {1059, 'U'}, {1060, 'F'},
        {1061, 'H'}, {1062, 'C'}, {1065, 'Q'}, {1066, 'X'}, {1067, 'Y'}, {1068, 'X'}};
    auto it = map.constFind(u.unicode());
    return it == map.constEnd() ? QChar() : QChar(QLatin1Char(*it));
}

void setBackground(QWidget* w, const QColor& c) {
    // a drop-down list draws its face with the button colour, shaded and
    // paled by the style: a tint shows on a flat face, as on the fields
    auto* box = qobject_cast<IdComboBox*>(w);
    if (box && !box->isEditable()) {
        setWidgetColor(w, {QPalette::Base, QPalette::Button}, c);
        box->setFaceColor(c == windowColor() ? QColor() : c);
    } else {
        setWidgetColor(w, {QPalette::Base}, c);
    }
}

// Empties an edit. One that is empty, with nothing to undo, is left alone:
// emptying it would change nothing but cost a round of its signals.
void emptyEdit(QLineEdit* e) {
    if (!e->text().isEmpty() || e->isUndoAvailable()) e->clear();
}

// The picture of the list-editing buttons: a yellow plus on a transparent ground.
QIcon plusIcon() {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.fillRect(2, 7, 12, 2, QColor(255, 255, 0));
    p.fillRect(7, 2, 2, 12, QColor(255, 255, 0));
    return QIcon(pm);
}

// Text set by the program into an editable list: no item selected, all of it
// selected so that typing replaces it.
// The power fields' limit is for typing: a stored value the program puts
// there comes back unchanged when it is saved untouched.
constexpr int kPowerLength = 8;
void putPower(QLineEdit* edit, const QString& text) {
    edit->setMaxLength(std::max(kPowerLength, int(text.size())));
    edit->setText(text);
}

void setBoxText(IdComboBox* box, const QString& text) {
    box->setCurrentIndex(-1);
    box->setEditText(text);
    box->lineEdit()->selectAll();
}

} // namespace

TfMain::TfMain(QWidget* parent) : QMainWindow(parent) {
    const QString dp = QLocale().decimalPoint();
    decimalSeparator = dp.isEmpty() ? QChar(QLatin1Char('.')) : dp.at(0);
    buildUi();
    qApp->installEventFilter(this);
    guarded([this] { FormCreate(); });
}

TfMain::~TfMain() {
    closeLogViews();
    qApp->removeEventFilter(this);
    // FormDestroy: the data module goes with the window; tables still open
    // are closed, which writes what is unwritten.
    if (DM) DM->OnLogScroll = nullptr;
    if (callCard) callCard->detach();
    delete DM;
    DM = nullptr;
}

void TfMain::buildUi() {
    setObjectName(QStringLiteral("fMain"));
    setWindowTitle(QStringLiteral("QARDEL"));
    setFont(panelFont());
    QApplication::setKeyboardInputInterval(100);

    auto* central = new QWidget(this);
    auto* lay = new QVBoxLayout(central);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSpacing(0);
    setCentralWidget(central);

    pcMain = new QTabWidget(central);
    pcMain->setObjectName(QStringLiteral("pcMain"));
    pcMain->setFixedHeight(197);
    tsEdit = new QWidget;
    tsEdit->setObjectName(QStringLiteral("tsEdit"));
    pcMain->addTab(tsEdit, QStringLiteral("QSO"));
    lay->addWidget(pcMain);

    grMain = new DataGrid(central);
    grMain->setObjectName(QStringLiteral("grMain"));
    grMain->setAccessibleName(QStringLiteral("Журнал"));
    lay->addWidget(grMain, 1);

    auto* sb = new QStatusBar(this);
    sb->setObjectName(QStringLiteral("sbMain"));
    sb->setFixedHeight(19);
    sbPanel0 = new QLabel(sb);
    sbPanel0->setObjectName(QStringLiteral("sbPanel0"));
    sbPanel0->setFixedWidth(150);
    sbPanel1 = new QLabel(sb);
    sbPanel1->setObjectName(QStringLiteral("sbPanel1"));
    // the room the mode's longer text needs, whatever else the bar shows
    sbPanel1->setMinimumWidth(
        std::max(50, sbPanel1->fontMetrics().horizontalAdvance(kEditMode) + 8));
    sb->addWidget(sbPanel0);
    sb->addWidget(sbPanel1, 1);
    setStatusBar(sb);
    buildLogViews(sb);

    QFont bold = font();
    bold.setBold(true);
    auto label = [&](const QString& text, int x, int y, bool isBold = false) {
        auto* l = new QLabel(text, tsEdit);
        if (isBold) l->setFont(bold);
        l->move(x, y + 3);
        l->adjustSize();
        return l;
    };
    auto named = [](QWidget* w, const char* name, const QString& hint) {
        w->setObjectName(QLatin1String(name));
        w->setToolTip(hint);
    };
    const int rows[] = {4, 32, 60, 88, 116, 144};

    QLabel* lCallName = label(QStringLiteral("Позывной"), 4, rows[0], true);
    edCallName = new LineEdit(tsEdit);
    named(edCallName, "edCallName", QStringLiteral("Позывной корреспондента"));
    edCallName->setFont(bold);
    edCallName->setMaxLength(10);
    edCallName->setGeometry(68, rows[0], 121, 21);
    label(QStringLiteral("/"), 196, rows[0], true);
    edSuffix = new LineEdit(tsEdit);
    named(edSuffix, "edSuffix", QStringLiteral("Суффикс"));
    edSuffix->setFont(bold);
    edSuffix->setMaxLength(5);
    edSuffix->setGeometry(208, rows[0], 41, 21);

    auto list = [&](const char* name, const QString& hint, bool editable, bool sorted, int maxLen) {
        auto* b = new IdComboBox(editable, sorted, tsEdit);
        named(b, name, hint);
        if (editable) {
            b->lineEdit()->setMaxLength(maxLen);
            applyLineRules(b->lineEdit());
        }
        return b;
    };
    QLabel* lName = label(QStringLiteral("Имя"), 4, rows[1]);
    cbName = list("cbName", QStringLiteral("Имя оператора"), true, true, 25);
    cbName->setGeometry(68, rows[1], 181, 21);
    QLabel* lCity = label(QStringLiteral("Город"), 4, rows[2]);
    cbCity = list("cbCity", QStringLiteral("Город корреспондента"), true, true, 50);
    cbCity->setGeometry(68, rows[2], 181, 21);
    QLabel* lCountry = label(QStringLiteral("Страна"), 4, rows[3]);
    cbCountry = list("cbCountry", QStringLiteral("Страна корреспондента"), true, true, 50);
    cbCountry->setGeometry(68, rows[3], 181, 21);
    QLabel* lCorPower = label(QStringLiteral("Мощность"), 4, rows[4]);
    edCorPower = new LineEdit(tsEdit);
    named(edCorPower, "edCorPower", QStringLiteral("Мощность корреспондента"));
    edCorPower->setMaxLength(kPowerLength);
    edCorPower->setGeometry(68, rows[4], 121, 21);
    QLabel* lCorRS = label(QStringLiteral("RS"), 4, rows[5]);
    cbCorRS = list("cbCorRS", QStringLiteral("Слышимость корреспондента"), true, true, 20);
    cbCorRS->setGeometry(68, rows[5], 121, 21);

    QLabel* lBand = label(QStringLiteral("Диапазон"), 276, rows[0]);
    cbBand = list("cbBand", QStringLiteral("Диапазон"), false, false, 0);
    cbBand->setGeometry(340, rows[0], 115, 21);
    QLabel* lMode = label(QStringLiteral("Модуляция"), 276, rows[1]);
    cbMode = list("cbMode", QStringLiteral("Вид модуляции"), false, true, 0);
    cbMode->setGeometry(340, rows[1], 115, 21);
    auto editButton = [&](const char* name, int y) {
        auto* b = new QToolButton(tsEdit);
        named(b, name, QStringLiteral("Редактировать список"));
        b->setAutoRaise(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setIcon(plusIcon());
        b->setIconSize(QSize(16, 16));
        b->setGeometry(461, y, 23, 22);
        return b;
    };
    sbEditBand = editButton("sbEditBand", rows[0]);
    sbEditMode = editButton("sbEditMode", rows[1]);
    QLabel* lMyPower = label(QStringLiteral("Моя мощность"), 276, rows[2]);
    edMyPower = new LineEdit(tsEdit);
    named(edMyPower, "edMyPower", QStringLiteral("Мощность моего передатчика"));
    edMyPower->setMaxLength(kPowerLength);
    edMyPower->setGeometry(396, rows[2], 88, 21);
    QLabel* lMyRS = label(QStringLiteral("Мой RS"), 276, rows[3]);
    cbMyRS = list("cbMyRS", QStringLiteral("Как корреспондент слышит меня"), true, true, 20);
    cbMyRS->setGeometry(340, rows[3], 144, 21);
    // Each field is named by the label beside it, as a screen reader speaks
    // it; the suffix's label is the "/" between the two fields.
    for (const auto& [l, w] : {std::pair<QLabel*, QWidget*>{lCallName, edCallName},
                               {lName, cbName},
                               {lCity, cbCity},
                               {lCountry, cbCountry},
                               {lCorPower, edCorPower},
                               {lCorRS, cbCorRS},
                               {lBand, cbBand},
                               {lMode, cbMode},
                               {lMyPower, edMyPower},
                               {lMyRS, cbMyRS}})
        l->setBuddy(w);
    edSuffix->setAccessibleName(QStringLiteral("Суффикс"));
    sbEditBand->setAccessibleName(QStringLiteral("Редактировать список диапазонов"));
    sbEditMode->setAccessibleName(QStringLiteral("Редактировать список видов модуляции"));
    cbRepeater = new QCheckBox(QStringLiteral("Через ретранслятор"), tsEdit);
    named(cbRepeater, "cbRepeater", QStringLiteral("Раьота через ретранслятор или репитер"));
    cbRepeater->setLayoutDirection(Qt::RightToLeft); // caption left of the box
    cbRepeater->setGeometry(276, rows[5], 208, 21);

    gbNotice = new QGroupBox(QStringLiteral(" Примечания "), tsEdit);
    gbNotice->setObjectName(QStringLiteral("gbNotice"));
    gbNotice->setGeometry(507, 4, 276, 110);
    mmNotice = new MemoEdit(gbNotice);
    mmNotice->setObjectName(QStringLiteral("mmNotice"));
    mmNotice->setTabChangesFocus(true);
    mmNotice->setAccessibleName(QStringLiteral("Примечания")); // the group box's title
    mmNotice->setGeometry(8, 18, 260, 84);
    mmNotice->installEventFilter(this);

    btnClear = new QPushButton(QStringLiteral("Отменить"), tsEdit);
    named(btnClear, "btnClear", QStringLiteral("Очистить поля"));
    btnClear->setGeometry(625, 136, 75, 25);
    btnSave = new QPushButton(QStringLiteral("Сохранить"), tsEdit);
    named(btnSave, "btnSave", QStringLiteral("Сохранить QSO"));
    btnSave->setGeometry(706, 136, 75, 25);
    btnSave->setEnabled(false);

    // the completed part of a call sign stays highlighted without the focus
    for (QWidget* w :
         std::initializer_list<QWidget*>{edCallName, edSuffix, edCorPower, edMyPower, mmNotice,
                                         cbName, cbCity, cbCountry, cbCorRS, cbMyRS}) {
        QPalette p = w->palette();
        p.setColor(QPalette::Inactive, QPalette::Highlight,
                   p.color(QPalette::Active, QPalette::Highlight));
        p.setColor(QPalette::Inactive, QPalette::HighlightedText,
                   p.color(QPalette::Active, QPalette::HighlightedText));
        w->setPalette(p);
    }

    QWidget* order[] = {edCallName, edSuffix, cbName,     cbCity,   cbCountry, edCorPower,
                        cbCorRS,    cbMyRS,   cbRepeater, mmNotice, cbBand,    cbMode,
                        edMyPower,  btnSave,  btnClear,   grMain};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    pmGrid = new QMenu(this);
    pmGrid->setObjectName(QStringLiteral("pmGrid"));
    miEdit = pmGrid->addAction(QStringLiteral("Редактировать запись"));
    miEdit->setObjectName(QStringLiteral("miEdit"));
    QFont menuBold = pmGrid->font();
    menuBold.setBold(true);
    miEdit->setFont(menuBold);
    pmGrid->setDefaultAction(miEdit);
    miDeleteQSO = pmGrid->addAction(QStringLiteral("Удалить запись"));
    miDeleteQSO->setObjectName(QStringLiteral("miDeleteQSO"));
    miDeleteQSO->setEnabled(false);
    grMain->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(grMain, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        if (grMain->isEnabled()) pmGrid->popup(grMain->viewport()->mapToGlobal(pos));
    });
    grMain->installEventFilter(this);

    for (QLineEdit* e : {edCallName, edSuffix, edCorPower, edMyPower})
        applyLineRules(e);

    // handlers
    connect(edCallName, &QLineEdit::textChanged, this, [this] { edCallNameTextChanged(); });
    installKeyFilter(edCallName, [this](QChar c) {
        const QChar r = edCallNameKeyPress(c);
        return r.isNull() ? r : r.toUpper();
    });
    installKeyFilter(edSuffix, [this](QChar c) { return edCallNameKeyPress(c); });
    connect(edSuffix, &QLineEdit::textChanged, this, [this](const QString& t) {
        QString clean = t;
        clean.removeIf([](QChar c) { return c.unicode() < 32 || c.unicode() == 127; });
        if (clean != t) edSuffix->setText(clean);
    });
    installKeyFilter(edCorPower, [this](QChar c) { return edCorPowerKeyPress(edCorPower, c); });
    for (QLineEdit* e : {edCorPower, edMyPower})
        connect(e, &QLineEdit::textChanged, this, [e](const QString& t) {
            // back to the typing limit once a long stored value is gone
            if (e->maxLength() > kPowerLength && t.size() <= kPowerLength)
                e->setMaxLength(kPowerLength);
        });
    installKeyFilter(edMyPower, [this](QChar c) { return edCorPowerKeyPress(edMyPower, c); });
    for (IdComboBox* b : {cbName, cbCity, cbCountry})
        installKeyFilter(b, [this, b](QChar c) { return cbCountryKeyPress(b, c); });
    connect(cbBand, &QComboBox::activated, this, [this] { guarded([this] { cbBandChange(); }); });
    connect(btnSave, &QPushButton::clicked, this, [this] { guarded([this] { btnSaveClick(); }); });
    connect(btnClear, &QPushButton::clicked, this,
            [this] { guarded([this] { btnClearClick(); }); });
    connect(sbEditBand, &QToolButton::clicked, this,
            [this] { guarded([this] { sbEditBandClick(); }); });
    connect(sbEditMode, &QToolButton::clicked, this,
            [this] { guarded([this] { sbEditModeClick(); }); });
    connect(grMain, &DataGrid::doubleClickedInGrid, this,
            [this] { guarded([this] { grMainDblClick(); }); });
    connect(miEdit, &QAction::triggered, this, [this] { guarded([this] { grMainDblClick(); }); });
    connect(miDeleteQSO, &QAction::triggered, this,
            [this] { guarded([this] { miDeleteQSOClick(); }); });

    callCard = new CallCard(this);

    resize(792, 573);
    setMinimumSize(792, 573); // an outer size of 800 x 600 with the frame
}

void TfMain::addStatusText(QWidget* label) {
    statusBar()->insertPermanentWidget(2 + m_statusTexts++, label);
}

// ---------------------------------------------------------------- start-up

void TfMain::FormCreate() {
    DM = new TDM();
    m_folder = std::make_unique<DataFolder>(TDM::defaultDataDir());
    m_fatal = m_folder->take();
    if (!m_fatal.isEmpty()) return;
    // an import a crash interrupted was finished or undone just now
    if (!m_folder->recovered().isEmpty()) msg::information(m_folder->recovered());
    DM->DataDir = m_folder->path();
    DM->OnLogScroll = [this](Table& t) { ShowNoticePreview(t); };
    try {
        DM->OpenTables();
    } catch (const DbError& e) {
        m_fatal = m_folder->unreadable(e.message());
        DM->AbandonTables();
        return;
    }
    // a failed backup is told once; the log itself is unharmed
    const QString backupFailed = m_folder->backUp(QDate::currentDate());
    if (!backupFailed.isEmpty()) msg::error(backupFailed);
    grMain->setDataSource(DM->sMain);
    DM->sMain->setColumns({fld::ID, fld::Time, fld::CorCallName, fld::CorSuffix, fld::CorName,
                           fld::CorCity, fld::CorCountry, fld::Band, fld::Mode, fld::CorPower,
                           fld::CorRS, fld::MyPower, fld::MyRS, fld::Repeater});
    grMain->setColumnWidths({40, 0, 0, 64, 64, 64, 64, 64, 64, 0, 0, 0, 0, 64});
    // numbers, times, call signs and reports are read whole; a long name,
    // city or country may end in an ellipsis
    grMain->setWholeValueColumns({0, 1, 2, 3, 9, 10, 11, 12});
    ClearEntry();
    RestoreLastBandMode();
    callCard->attach();
    // the search and statistics windows know a QSO's entity as the card does
    if (const std::shared_ptr<const callinfo::CtyData> cty = callCard->ctyLoad().data)
        setEntityProvider(
            [cty](const QString& call, const QString& suffix) -> std::optional<Entity> {
                const int e = cty->entityOf(call, suffix);
                if (e < 0) return std::nullopt;
                return Entity{cty->entity(e).name, cty->entity(e).dxcc};
            });
}

void TfMain::FormShow() {
    edCallName->setFocus();
}

void TfMain::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    if (!m_shown) {
        m_shown = true;
        FormShow();
    }
}

void TfMain::RestoreLastBandMode() {
    int id = DM->GetIntSetting(setting::LastBand, 0);
    cbBand->setSelectedIndex(TDM::ComboIndexOfID(*cbBand, id));
    cbBandChange();
    id = DM->GetIntSetting(setting::LastMode, 0);
    cbMode->setSelectedIndex(TDM::ComboIndexOfID(*cbMode, id));
}

void TfMain::StoreLastBandMode() {
    if (cbBand->currentIndex() >= 0) DM->SetIntSetting(setting::LastBand, cbBand->selectedId());
    if (cbMode->currentIndex() >= 0) DM->SetIntSetting(setting::LastMode, cbMode->selectedId());
    DM->SaveAll();
}

void TfMain::FormClose() {
    if (!DM || !m_fatal.isEmpty() || !DM->dsINI->isActive()) return;
    StoreLastBandMode();
    DM->CloseTables();
}

void TfMain::closeEvent(QCloseEvent* e) {
    closeLogViews();
    // A close that could not save keeps the window open: nothing is lost.
    if (guarded([this] { FormClose(); }))
        e->accept();
    else
        e->ignore();
}

// ---------------------------------------------------------------- the panel

void TfMain::setNoticeColor(const QColor& c) {
    m_noticeColor = c;
    if (m_noticeColorHeld == 0) setWidgetColor(mmNotice, {QPalette::Text}, c);
}

void TfMain::SetEditMode(bool on) {
    FEditMode = on;
    sbPanel1->setText(on ? kEditMode : kAddMode);
    const QColor window = windowColor();
    if (on && grMain->hasFocus()) edCallName->setFocus();
    grMain->setEnabled(!on);
    grMain->setBackground(on ? silverColor() : window);
    const QColor bg = on ? editTint(window) : window;
    setBackground(edCallName, bg);
    for (QWidget* w :
         std::initializer_list<QWidget*>{edSuffix, cbName, cbBand, cbMode, cbMyRS, cbCorRS, cbCity,
                                         cbCountry, edMyPower, edCorPower, mmNotice})
        setBackground(w, bg);
    setNoticeColor(windowTextColor());
    m_noticePreview = false;
    if (callCard) callCard->scheduleRefresh(); // worked before, leaving out a QSO being corrected
}

void TfMain::updateRecordCount() {
    const int n = DM->dsMain->recordCount();
    sbPanel0->setText(kRecordCount + QString::number(n));
    miDeleteQSO->setEnabled(n > 0);
}

// The notice's colour changes several times in a save and in ClearEntry
// (window text, then the grey of the preview): only the last one reaches
// the memo, when the returned guard ends.
auto TfMain::holdNoticeColor() {
    ++m_noticeColorHeld;
    return qScopeGuard([this] {
        if (--m_noticeColorHeld == 0) setWidgetColor(mmNotice, {QPalette::Text}, m_noticeColor);
    });
}

void TfMain::ClearEntry() {
    const auto held = holdNoticeColor();
    SetEditMode(false);
    auto reload = [this](IdComboBox* box, Table* t, const QString& field) {
        if (DM->IsModified(*t) || box->count() == 0) DM->FillCombo(*box, *t, field);
    };
    reload(cbBand, DM->dsBands, fld::Name);
    reload(cbMode, DM->dsModes, fld::Name);
    reload(cbName, DM->dsNames, fld::Value);
    reload(cbCity, DM->dsCityes, fld::Name);
    reload(cbCountry, DM->dsCountryes, fld::Name);
    reload(cbCorRS, DM->dsRS, fld::Value);
    reload(cbMyRS, DM->dsRS, fld::Value);
    // emptying the call sign is a change even when it is empty already
    if (edCallName->text().isEmpty())
        edCallNameChange();
    else
        edCallName->clear();
    emptyEdit(edSuffix);
    emptyEdit(edCorPower);
    for (IdComboBox* b : {cbCorRS, cbMyRS})
        if (b->currentIndex() >= 0) b->clearSelectionAndText();
    // the memo is emptied: with a log the preview replaces the text at once
    if (DM->dsMain->isEmpty())
        mmNotice->clear();
    else
        m_noticePreview = true;
    PickSingleChoices();
    ShowNoticePreview(*DM->dsMain);
    updateRecordCount();
}

void TfMain::btnClearClick() {
    ClearEntry();
    edCallName->setFocus(); // the next QSO starts with its call sign
}

void TfMain::PickSingleChoices() {
    for (IdComboBox* b : {cbCountry, cbCity, cbName})
        if (b->currentText().isEmpty() && b->count() == 1) b->setCurrentIndex(0);
}

void TfMain::ShowNoticePreview(Table& table) {
    if (table.isEmpty()) return;
    // a notice typed for the QSO being entered is the operator's: a move in
    // the log (a click in the grid, a completed call sign) never replaces it
    if (!m_noticePreview && !mmNotice->toPlainText().isEmpty()) return;
    setNoticeColor(previewColor());
    m_noticePreview = true;
    // the preview shows the beginning of the notice: a huge one would cost
    // its whole layout at every move in the log
    const QString notice = table.fieldByName(fld::Notice).asString();
    const QString shown = cutText(notice, kPreviewChars);
    mmNotice->setText(shown.size() < notice.size() ? shown + QChar(0x2026) : shown);
}

void TfMain::mmNoticeEnter() {
    if (!m_noticePreview) return;
    setNoticeColor(windowTextColor());
    m_noticePreview = false;
    mmNotice->clear();
}

void TfMain::cbBandChange() {
    if (cbBand->currentIndex() < 0) return;
    Table& bands = *DM->dsBands;
    if (!bands.locate(fld::ID, cbBand->selectedId())) return;
    putPower(edMyPower, bands.fieldByName(fld::DefPower).asString());
    cbMode->setSelectedIndex(
        TDM::ComboIndexOfID(*cbMode, bands.fieldByName(fld::DefModeID).asInteger()));
}

// ---------------------------------------------------------------- typing

QChar TfMain::edCallNameKeyPress(QChar ch) {
    const QChar u = TDM::UpCaseChar(ch);
    if (u.unicode() == 8 || (u >= QLatin1Char('0') && u <= QLatin1Char('9')) ||
        (u >= QLatin1Char('A') && u <= QLatin1Char('Z')))
        return ch;
    return cyrillicToLatin(u);
}

QChar TfMain::edCorPowerKeyPress(QLineEdit* edit, QChar ch) {
    if (ch.unicode() == 8 || (ch >= QLatin1Char('0') && ch <= QLatin1Char('9'))) return ch;
    if (ch == decimalSeparator && !edit->text().contains(decimalSeparator)) return ch;
    return {};
}

QChar TfMain::cbCountryKeyPress(IdComboBox* box, QChar ch) {
    const QLineEdit* le = box->lineEdit();
    const QString text = le->text();
    const bool replacesAll =
        text.isEmpty() || (le->hasSelectedText() && le->selectedText().size() == text.size());
    if (!replacesAll) return ch;
    if (ch == QLatin1Char(' ')) return {};
    return TDM::UpCaseChar(ch);
}

// The call sign shows and keeps upper case, also for text set or pasted, and
// a pasted space or control character has no place in it; the change handler
// runs on the clean text.
void TfMain::edCallNameTextChanged() {
    const QString t = edCallName->text();
    QString up = t.toUpper();
    up.removeIf([](QChar c) { return c.unicode() <= 32 || c.unicode() == 127; });
    if (!m_upcasing && up != t) {
        m_upcasing = true;
        const int c = edCallName->cursorPosition();
        edCallName->setText(up.left(edCallName->maxLength()));
        edCallName->setCursorPosition(c);
        m_upcasing = false;
        return;
    }
    guarded([this] { edCallNameChange(); });
}

void TfMain::edCallNameChange() {
    if (!FEditMode && !m_completing) CompleteCallSign(edCallName, FCompletionMark);
    btnSave->setEnabled(!edCallName->text().isEmpty());
}

void TfMain::clearCorrespondentFields() {
    for (IdComboBox* b : {cbName, cbCity, cbCountry, cbCorRS})
        b->clearSelectionAndText();
    emptyEdit(edCorPower);
    PickSingleChoices();
}

void TfMain::CompleteCallSign(QLineEdit* edit, int& mark) {
    const QString typed = edit->text();
    if (typed.size() < 2) {
        clearCorrespondentFields();
        return;
    }
    Table& cors = *DM->dsCors;
    if (!cors.locate(fld::CallName, typed, loCaseInsensitive | loPartialKey)) {
        clearCorrespondentFields();
        return;
    }
    if (typed.size() > mark) {
        const int p = edit->cursorPosition();
        const QString call = cors.fieldByName(fld::CallName).asString();
        // The nested change this causes finds the same station; it only
        // updates Save, and the caret, selection and mark are set here.
        m_completing = true;
        edit->setText(call);
        m_completing = false;
        const int len = int(edit->text().size());
        edit->setSelection(len, p - len);
        mark = p;
    } else {
        mark = edit->cursorPosition() - 1;
    }
    setBoxText(cbName, cors.fieldByName(fld::Name).asString());
    setBoxText(cbCity, cors.fieldByName(fld::City).asString());
    setBoxText(cbCountry, cors.fieldByName(fld::Country).asString());
    const int corId = cors.fieldByName(fld::ID).asInteger();
    Table& log = *DM->dsMain;
    if (log.locate(fld::CorID, corId)) {
        putPower(edCorPower, log.fieldByName(fld::CorPower).asString());
        edCorPower->selectAll();
    }
}

// ---------------------------------------------------------------- saving

void TfMain::btnSaveClick() {
    const auto held = holdNoticeColor();
    if (m_noticePreview) {
        setNoticeColor(windowTextColor());
        m_noticePreview = false;
        mmNotice->clear();
    }
    const QString notice = mmNotice->toPlainText();
    const CorProps props{DM->FindOrAddValue(*DM->dsNames, fld::Value, cbName->currentText()),
                         DM->FindOrAddValue(*DM->dsCityes, fld::Name, cbCity->currentText()),
                         DM->FindOrAddValue(*DM->dsCountryes, fld::Name, cbCountry->currentText())};
    if (DM->FindOrAddCorrespondent(edCallName->text(), props) &&
        msg::question(
            QStringLiteral("Изменение свойств корреспондента"),
            QStringLiteral(
                "Введенные вами свойства корреспондента отличаются от сохраненных ранее.\r"
                "Желаете ли вы сохранить новые свойства для данного корреспондента?"),
            msg::Icon::Question, msg::Answer::Yes) == msg::Answer::Yes)
        DM->SetCorrespondentProps(props);
    LogRowValues row;
    row.corId = DM->dsCors->fieldByName(fld::ID).asInteger();
    row.corRsId = DM->FindOrAddValue(*DM->dsRS, fld::Value, cbCorRS->currentText());
    row.myRsId = DM->FindOrAddValue(*DM->dsRS, fld::Value, cbMyRS->currentText());
    row.suffix = edSuffix->text();
    row.notice = notice;
    row.repeater = cbRepeater->isChecked();
    row.corPower = edCorPower->text();
    row.myPower = edMyPower->text();
    row.city = cbCity->currentText();
    row.country = cbCountry->currentText();
    if (cbBand->currentIndex() >= 0) row.bandId = cbBand->selectedId();
    if (cbMode->currentIndex() >= 0) row.modeId = cbMode->selectedId();
    try {
        DM->PostLogRow(FEditMode, row);
    } catch (...) {
        // The refused row is gone and the panel keeps what was typed, the
        // notice included (appending showed the new row's empty preview).
        setNoticeColor(windowTextColor());
        m_noticePreview = false;
        mmNotice->setText(notice);
        throw;
    }
    ClearEntry();
    edCallName->setFocus();
    DM->SaveAll();
}

// ---------------------------------------------------------------- correcting and deleting

void TfMain::grMainDblClick() {
    Table& log = *DM->dsMain;
    if (log.isEmpty()) return;
    SetEditMode(true);
    auto f = [&log](const QString& name) -> Field& { return log.fieldByName(name); };
    edCallName->setText(f(fld::CorCallName).asString());
    edSuffix->setText(f(fld::CorSuffix).asString());
    putPower(edCorPower, f(fld::CorPower).asString());
    putPower(edMyPower, f(fld::MyPower).asString());
    cbBand->setSelectedIndex(TDM::ComboIndexOfID(*cbBand, f(fld::BandID).asInteger()));
    cbMode->setSelectedIndex(TDM::ComboIndexOfID(*cbMode, f(fld::ModeID).asInteger()));
    for (auto [box, field] : {std::pair{cbMyRS, &fld::MyRSID}, std::pair{cbCorRS, &fld::CorRSID}}) {
        const int i = TDM::ComboIndexOfID(*box, f(*field).asInteger());
        if (i >= 0)
            box->setSelectedIndex(i);
        else
            box->clearSelectionAndText();
    }
    setBoxText(cbName, f(fld::CorName).asString());
    // the log holds the first 25 characters of a longer city or country:
    // the correspondent's whole text is what an untouched correction keeps
    auto whole = [&](const QString& logField, const QString& corField) {
        const QString cut = f(logField).asString();
        const QString full =
            DM->dsCors->lookupValue(fld::ID, f(fld::CorID).value(), corField, 50).toString();
        return full.size() > cut.size() && cutText(full, 25) == cut ? full : cut;
    };
    setBoxText(cbCity, whole(fld::CorCity, fld::City));
    setBoxText(cbCountry, whole(fld::CorCountry, fld::Country));
    cbRepeater->setChecked(f(fld::Repeater).asBoolean());
    mmNotice->setText(f(fld::Notice).asString());
    edCallName->setFocus();
}

void TfMain::grMainKeyPress(QChar ch) {
    if (ch.unicode() == 13) grMainDblClick();
}

void TfMain::grMainKeyDown(int key) {
    if (key == Qt::Key_Delete && miDeleteQSO->isEnabled()) miDeleteQSOClick();
}

void TfMain::miDeleteQSOClick() {
    if (msg::question(QStringLiteral("Внимание"),
                      QStringLiteral("Вы действительно хотите удалить запись из жернала?"),
                      msg::Icon::Warning, msg::Answer::Yes) != msg::Answer::Yes)
        return;
    // The entry panel is not touched: the focus stays where it was, in the
    // grid when the deletion came from there, ready for the next one.
    DM->dsMain->deleteRecord();
    DM->SaveAll();
    updateRecordCount();
}

// ---------------------------------------------------------------- the editor

void TfMain::openEditor(IdComboBox* box, Table* table, int page) {
    if (box->currentIndex() >= 0) table->locate(fld::ID, box->selectedId());
    {
        TfEditor editor(DM, this);
        editor.pcType->setCurrentIndex(page);
        editor.pcTypeChange();
        // the operator types the name first
        (page == 0 ? editor.edBandName : editor.edModeName)->setFocus();
        editor.exec();
    }
    ClearEntry();
    edCallName->setFocus();
    DM->SaveAll();
}

void TfMain::sbEditBandClick() {
    openEditor(cbBand, DM->dsBands, 0);
}
void TfMain::sbEditModeClick() {
    openEditor(cbMode, DM->dsModes, 1);
}

// ---------------------------------------------------------------- keys

// Enter clicks Save and Escape clicks "Отменить" from any control of the
// window, except in the notice, in an open list, and on a focused button.
bool TfMain::handleDefaultKeys(QObject* watched, QKeyEvent* e) {
    const int key = e->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter && key != Qt::Key_Escape) return false;
    auto* w = qobject_cast<QWidget*>(watched);
    if (!w || w != QApplication::focusWidget() || w->window() != this) return false;
    if (QApplication::activePopupWidget() || QApplication::activeModalWidget()) return false;
    if (key == Qt::Key_Escape) {
        if (w == mmNotice) return true; // Escape does nothing in the notice
        btnClear->click();
        return true;
    }
    if (w == mmNotice) return false; // a new line
    const Qt::KeyboardModifiers mods = e->modifiers() & ~Qt::KeypadModifier;
    if (mods != Qt::NoModifier) return false;
    if (auto* b = qobject_cast<QPushButton*>(w)) {
        if (b->isEnabled()) b->click();
        return true;
    }
    if (!btnSave->isEnabled()) return false; // Enter reaches the control as a character
    btnSave->click();
    return true;
}

bool TfMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* ke = static_cast<QKeyEvent*>(event);
        if (handleDefaultKeys(watched, ke)) return true;
        if (watched == grMain && grMain->isEnabled()) {
            if (ke->key() == Qt::Key_Delete) {
                guarded([&] { grMainKeyDown(ke->key()); });
                return true;
            }
            // Enter types a carriage return; with Ctrl it is a line feed
            if ((ke->key() == Qt::Key_Return || ke->key() == Qt::Key_Enter) &&
                !(ke->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
                guarded([&] { grMainKeyPress(QChar(13)); });
                return true;
            }
        }
    } else if (event->type() == QEvent::FocusIn && watched == mmNotice) {
        guarded([this] { mmNoticeEnter(); });
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace qardel
