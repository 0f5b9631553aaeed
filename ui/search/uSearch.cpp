#include "ui/search/uSearch.h"

#include "adif/Mapping.h"
#include "data/Fields.h"
#include "query/ExportFile.h"
#include "ui/common/Colors.h"
#include "ui/common/FileDialog.h"
#include "ui/common/Guard.h"
#include "ui/common/MessageBox.h"
#include "ui/common/TextRules.h"

#include <QCollator>
#include <QEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QScopeGuard>
#include <QVBoxLayout>

#include <tuple>

#ifndef QARDEL_VERSION
#define QARDEL_VERSION "1.0"
#endif

namespace qardel {

namespace {

const QString kAnyBand = QStringLiteral("(любой)");
const QString kAnyMode = QStringLiteral("(любая)");

// The wait cursor while a long piece of work runs on the event loop's thread.
auto waitCursor() {
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    return qScopeGuard([] { QGuiApplication::restoreOverrideCursor(); });
}

// A list's rows as items carrying their IDs, the "any" item first.
void fillList(IdComboBox* box, Table& t, const QString& field, const QString& any, bool sorted) {
    const int keep = box->selectedId();
    std::vector<std::pair<QString, int>> items;
    const int fi = t.fieldIndex(field), idf = t.fieldIndex(fld::ID);
    for (int pos = 0; t.isActive() && pos < t.recordCount(); ++pos)
        items.push_back({t.valueAt(pos, fi).toString(), t.valueAt(pos, idf).toInt()});
    if (sorted) {
        QCollator c{QLocale()};
        c.setCaseSensitivity(Qt::CaseInsensitive);
        std::stable_sort(items.begin(), items.end(), [&c](const auto& a, const auto& b) {
            return c.compare(a.first, b.first) < 0;
        });
    }
    const QSignalBlocker block(box);
    box->clearItems();
    box->addItem(any, 0);
    for (const auto& [text, id] : items)
        box->addItem(text, id);
    const int at = TDM::ComboIndexOfID(*box, keep);
    box->setSelectedIndex(at < 0 ? 0 : at);
}

} // namespace

TfSearch::TfSearch(TDM* dm, QWidget* parent) : QWidget(parent, Qt::Window), m_dm(dm) {
    setObjectName(QStringLiteral("fSearch"));
    setWindowTitle(QStringLiteral("Поиск QSO"));
    setFont(panelFont());
    results = new SearchResults(*dm, this);
    buildUi();
    fillLists();
    criteriaChange();
}

TfSearch::~TfSearch() {
    detach();
}

void TfSearch::detach() {
    results->detach();
}

void TfSearch::buildUi() {
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(6, 6, 6, 6);
    lay->setSpacing(4);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    lay->addLayout(grid);

    auto edit = [this](const char* name, const QString& hint) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QLatin1String(name));
        e->setToolTip(hint);
        e->setClearButtonEnabled(true);
        applyLineRules(e);
        connect(e, &QLineEdit::textChanged, this,
                [this] { guarded([this] { criteriaChange(); }); });
        return e;
    };
    auto label = [this](const QString& text, QWidget* buddy) {
        auto* l = new QLabel(text, this);
        l->setBuddy(buddy);
        return l;
    };
    auto list = [this](const char* name, const QString& hint) {
        auto* b = new IdComboBox(false, false, this);
        b->setObjectName(QLatin1String(name));
        b->setToolTip(hint);
        connect(b, &QComboBox::currentIndexChanged, this,
                [this] { guarded([this] { criteriaChange(); }); });
        return b;
    };
    auto when = [this](const char* boxName, const QString& text, const char* editName,
                       QDateTime start) {
        auto* box = new QCheckBox(text, this);
        box->setObjectName(QLatin1String(boxName));
        auto* dt = new QDateTimeEdit(start, this);
        dt->setObjectName(QLatin1String(editName));
        dt->setDisplayFormat(QStringLiteral("dd.MM.yyyy HH:mm"));
        dt->setCalendarPopup(true);
        dt->setEnabled(false);
        connect(box, &QCheckBox::toggled, this, [this, dt](bool on) {
            dt->setEnabled(on);
            guarded([this] { criteriaChange(); });
        });
        connect(dt, &QDateTimeEdit::dateTimeChanged, this,
                [this] { guarded([this] { criteriaChange(); }); });
        return std::pair{box, dt};
    };

    edCall = edit("edCall", QStringLiteral("Часть позывного или шаблон: * — любые знаки, ? — один "
                                           "знак (UA3*, R?1ABC, */P)"));
    cbBand = list("cbBand", QStringLiteral("Диапазон"));
    cbMode = list("cbMode", QStringLiteral("Вид модуляции"));
    edName = edit("edName", QStringLiteral("Часть имени оператора"));
    edCity = edit("edCity", QStringLiteral("Часть названия города"));
    edCountry = edit("edCountry", QStringLiteral("Часть названия страны"));
    const QDate today = QDate::currentDate();
    std::tie(cbFrom, dtFrom) =
        when("cbFrom", QStringLiteral("С"), "dtFrom", QDateTime(QDate(today.year(), 1, 1), {}));
    std::tie(cbTo, dtTo) = when("cbTo", QStringLiteral("По"), "dtTo", QDateTime(today, {23, 59}));
    edEntity = edit("edEntity", QStringLiteral("Часть названия страны DXCC или её номер"));
    edNotice = edit("edNotice", QStringLiteral("Часть текста примечания"));
    btnClearCriteria = new QPushButton(QStringLiteral("Очистить"), this);
    btnClearCriteria->setObjectName(QStringLiteral("btnClearCriteria"));
    btnClearCriteria->setToolTip(QStringLiteral("Очистить условия поиска"));
    connect(btnClearCriteria, &QPushButton::clicked, this,
            [this] { guarded([this] { btnClearCriteriaClick(); }); });

    grid->addWidget(label(QStringLiteral("Позывной"), edCall), 0, 0);
    grid->addWidget(edCall, 0, 1);
    grid->addWidget(label(QStringLiteral("Диапазон"), cbBand), 0, 2);
    grid->addWidget(cbBand, 0, 3);
    grid->addWidget(label(QStringLiteral("Модуляция"), cbMode), 0, 4);
    grid->addWidget(cbMode, 0, 5);
    grid->addWidget(label(QStringLiteral("Имя"), edName), 1, 0);
    grid->addWidget(edName, 1, 1);
    grid->addWidget(label(QStringLiteral("Город"), edCity), 1, 2);
    grid->addWidget(edCity, 1, 3);
    grid->addWidget(label(QStringLiteral("Страна"), edCountry), 1, 4);
    grid->addWidget(edCountry, 1, 5);
    grid->addWidget(cbFrom, 2, 0);
    grid->addWidget(dtFrom, 2, 1);
    grid->addWidget(cbTo, 2, 2);
    grid->addWidget(dtTo, 2, 3);
    lbEntity = label(QStringLiteral("Страна DXCC"), edEntity);
    grid->addWidget(lbEntity, 2, 4);
    grid->addWidget(edEntity, 2, 5);
    grid->addWidget(label(QStringLiteral("Примечание"), edNotice), 3, 0);
    grid->addWidget(edNotice, 3, 1, 1, 3);
    grid->addWidget(btnClearCriteria, 3, 5, Qt::AlignRight);
    for (int c : {1, 3, 5})
        grid->setColumnStretch(c, 1);
    lbEntity->hide();
    edEntity->hide();

    grResults = new DataGrid(this);
    grResults->setObjectName(QStringLiteral("grResults"));
    grResults->setModel(results);
    grResults->installEventFilter(this);
    QHeaderView* header = grResults->horizontalHeader();
    header->setSortIndicatorShown(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    connect(header, &QHeaderView::sortIndicatorChanged, this,
            [this](int column, Qt::SortOrder order) {
                guarded([&] {
                    const auto wait = waitCursor();
                    results->sort(column, order);
                });
            });
    connect(grResults, &QAbstractItemView::doubleClicked, this,
            [this] { guarded([this] { grResultsDblClick(); }); });
    lay->addWidget(grResults, 1);

    // the QSO the grid stands on stays current when a new search finds it
    connect(results, &QAbstractItemModel::modelAboutToBeReset, this,
            [this] { m_currentId = results->idAt(grResults->currentIndex().row()); });
    connect(results, &QAbstractItemModel::modelReset, this, [this] {
        const int row = results->rowOfId(m_currentId);
        if (row >= 0) grResults->setCurrentIndex(results->index(row, 0));
    });
    connect(results, &SearchResults::countChanged, this, [this] { showCount(); });

    auto* bottom = new QHBoxLayout;
    lay->addLayout(bottom);
    lbCount = new QLabel(this);
    lbCount->setObjectName(QStringLiteral("lbCount"));
    bottom->addWidget(lbCount);
    lbStatus = new QLabel(this);
    lbStatus->setObjectName(QStringLiteral("lbStatus"));
    lbStatus->setWordWrap(true);
    bottom->addWidget(lbStatus, 1);
    auto exportButton = [&](const char* name, const QString& text, const QString& hint, Format f) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        b->setToolTip(hint);
        connect(b, &QPushButton::clicked, this, [this, f] { guarded([&] { btnExportClick(f); }); });
        bottom->addWidget(b);
        return b;
    };
    btnAdi =
        exportButton("btnAdi", QStringLiteral("В ADI…"),
                     QStringLiteral("Выгрузить найденные QSO в файл ADIF (.adi)"), Format::Adi);
    btnAdx = exportButton("btnAdx", QStringLiteral("В ADX…"),
                          QStringLiteral("Выгрузить найденные QSO в файл ADX (.adx)"), Format::Adx);
    btnCsv = exportButton("btnCsv", QStringLiteral("В CSV…"),
                          QStringLiteral("Выгрузить найденные QSO в таблицу CSV"), Format::Csv);

    // the columns as wide as the log's, the notice wider
    const QList<int> widths = {48, 118, 76, 54, 80, 110, 120, 64, 70, 64, 50, 64, 50, 56};
    for (int c = 0; c < results->columnCount(); ++c) {
        const int w = c < widths.size() ? widths[c] : 110;
        grResults->setColumnWidth(c, c == results->columnCount() - 1 ? 220 : w);
    }
    resize(900, 560);
    setMinimumSize(640, 360);
}

void TfSearch::setEntityCache(EntityCache* cache) {
    results->setEntityCache(cache);
    // the columns changed: the log's own order again
    {
        const QSignalBlocker b(grResults->horizontalHeader());
        grResults->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    }
    lbEntity->setVisible(cache != nullptr);
    edEntity->setVisible(cache != nullptr);
    const int e = results->entityColumn();
    if (e >= 0) grResults->setColumnWidth(e, 130);
    grResults->setColumnWidth(results->columnCount() - 1, 220);
    criteriaChange();
}

void TfSearch::fillLists() {
    const SearchCriteria before = criteria();
    fillList(cbBand, *m_dm->dsBands, fld::Name, kAnyBand, false);
    fillList(cbMode, *m_dm->dsModes, fld::Name, kAnyMode, true);
    // a chosen band or mode that left its list is no criterion any more
    if (cbBand->selectedId() != before.bandId || cbMode->selectedId() != before.modeId)
        criteriaChange();
}

SearchCriteria TfSearch::criteria() const {
    SearchCriteria c;
    c.call = edCall->text();
    c.bandId = cbBand->selectedId();
    c.modeId = cbMode->selectedId();
    c.name = edName->text();
    c.city = edCity->text();
    c.country = edCountry->text();
    c.notice = edNotice->text();
    if (results->entityCache()) c.entity = edEntity->text();
    // the shown minutes whole: "по 12:30" takes 12:30:59 in
    if (cbFrom->isChecked()) c.from = dtFrom->dateTime();
    if (cbTo->isChecked()) c.to = dtTo->dateTime().addMSecs(59999);
    return c;
}

void TfSearch::criteriaChange() {
    lbStatus->clear();
    results->setCriteria(criteria());
}

void TfSearch::btnClearCriteriaClick() {
    for (QLineEdit* e : {edCall, edName, edCity, edCountry, edNotice, edEntity}) {
        const QSignalBlocker b(e);
        e->clear();
    }
    for (QWidget* w : std::initializer_list<QWidget*>{cbBand, cbMode, cbFrom, cbTo})
        w->blockSignals(true);
    cbBand->setSelectedIndex(0);
    cbMode->setSelectedIndex(0);
    cbFrom->setChecked(false);
    cbTo->setChecked(false);
    dtFrom->setEnabled(false);
    dtTo->setEnabled(false);
    for (QWidget* w : std::initializer_list<QWidget*>{cbBand, cbMode, cbFrom, cbTo})
        w->blockSignals(false);
    criteriaChange();
    edCall->setFocus();
}

void TfSearch::showCount() {
    lbCount->setText(QStringLiteral("Найдено QSO: %1").arg(QLocale().toString(results->count())));
}

void TfSearch::grResultsDblClick() {
    const int id = results->idAt(grResults->currentIndex().row());
    if (id <= 0) return;
    const QString refused = showQso ? showQso(id) : QString();
    lbStatus->setText(
        refused.isEmpty() ? QStringLiteral("QSO № %1 — текущая строка журнала.").arg(id) : refused);
}

QByteArray TfSearch::csvOfResults() const {
    QList<QStringList> rows;
    QStringList titles;
    for (int c = 0; c < results->columnCount(); ++c)
        titles << results->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    rows << titles;
    for (int r = 0; r < results->count(); ++r) {
        QStringList row;
        for (int c = 0; c < results->columnCount(); ++c)
            row << results->cellText(r, c);
        rows << row;
    }
    return toCsv(rows);
}

bool TfSearch::exportTo(const QString& path, Format f) {
    results->finishNow();
    const int n = results->count();
    QByteArray bytes;
    {
        const auto wait = waitCursor();
        std::vector<int> ids;
        ids.reserve(size_t(n));
        for (int r = 0; r < n; ++r)
            ids.push_back(results->idAt(r));
        switch (f) {
        case Format::Adi:
            bytes = adif::exportQsosAdi(*m_dm, ids, QStringLiteral("QARDEL"),
                                        QStringLiteral(QARDEL_VERSION));
            break;
        case Format::Adx:
            bytes = adif::writeAdx(adif::exportQsos(*m_dm, ids), QStringLiteral("QARDEL"),
                                   QStringLiteral(QARDEL_VERSION));
            break;
        case Format::Csv:
            bytes = csvOfResults();
            break;
        }
    }
    bool written = false;
    const QString why = writeExportFile(path, bytes, &written);
    if (!why.isEmpty()) {
        msg::error(written ? QStringLiteral("Файл %1 записан (QSO: %2), но его папку не удалось "
                                            "сбросить на диск: %3.")
                                 .arg(path)
                                 .arg(n)
                                 .arg(why)
                           : QStringLiteral("Не удалось записать файл %1: %2. Ничего не записано.")
                                 .arg(path, why));
        return written;
    }
    lbStatus->setText(QStringLiteral("Выгружено QSO: %1 в файл %2").arg(n).arg(path));
    return true;
}

void TfSearch::btnExportClick(Format f) {
    results->finishNow();
    if (results->count() == 0) {
        lbStatus->setText(QStringLiteral("Выгружать нечего: ничего не найдено."));
        return;
    }
    static const char* const kExt[] = {"adi", "adx", "csv"};
    static const char* const kFilter[] = {"ADIF (*.adi)", "ADX (*.adx)", "CSV (*.csv)"};
    const int k = int(f);
    QString path = file::askSaveName(this, QStringLiteral("Выгрузить найденные QSO"),
                                     QStringLiteral("qardel-poisk.%1").arg(QLatin1String(kExt[k])),
                                     QLatin1String(kFilter[k]));
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += QLatin1Char('.') + QLatin1String(kExt[k]);
    exportTo(path, f);
}

// ---------------------------------------------------------------- keys

bool TfSearch::eventFilter(QObject* watched, QEvent* event) {
    if (watched == grResults && event->type() == QEvent::KeyPress) {
        const auto* ke = static_cast<QKeyEvent*>(event);
        if (ke->key() == Qt::Key_Return || ke->key() == Qt::Key_Enter) {
            guarded([this] { grResultsDblClick(); });
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TfSearch::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(e);
}

// the lists may have changed in the main window meanwhile
void TfSearch::changeEvent(QEvent* e) {
    QWidget::changeEvent(e);
    if (e->type() == QEvent::ActivationChange && isActiveWindow()) guarded([this] { fillLists(); });
}

} // namespace qardel
