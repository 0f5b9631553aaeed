#include "ui/stats/uStats.h"

#include "data/Fields.h"
#include "query/ExportFile.h"
#include "ui/common/Colors.h"
#include "ui/common/FileDialog.h"
#include "ui/common/Guard.h"
#include "ui/common/MessageBox.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QBuffer>
#include <QChart>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QSplitter>
#include <QVBoxLayout>
#include <QValueAxis>

namespace qardel {

namespace {

constexpr qint64 kSliceMs = 8;
// A change of the log is counted in after this pause, so that a run of
// saves or an import costs one count.
constexpr int kRecountDelayMs = 300;

const QString kTotal = QStringLiteral("Всего");
const QString kNoBand = QStringLiteral("(без диапазона)");
const QString kNoMode = QStringLiteral("(без вида)");
const QStringList kMonths = {QStringLiteral("Янв"), QStringLiteral("Фев"), QStringLiteral("Мар"),
                             QStringLiteral("Апр"), QStringLiteral("Май"), QStringLiteral("Июн"),
                             QStringLiteral("Июл"), QStringLiteral("Авг"), QStringLiteral("Сен"),
                             QStringLiteral("Окт"), QStringLiteral("Ноя"), QStringLiteral("Дек")};

QString num(int n) {
    return QLocale().toString(n);
}

// A table of texts: the first column names the row, the others are numbers.
// Rows in bold (totals) are listed by index.
void fillTable(QTableView* view, const QStringList& titles, const QList<QStringList>& rows,
               int textColumns = 1, const QList<int>& boldRows = {}) {
    auto* model = qobject_cast<QStandardItemModel*>(view->model());
    model->clear();
    model->setColumnCount(int(titles.size()));
    model->setHorizontalHeaderLabels(titles);
    QFont bold = view->font();
    bold.setBold(true);
    for (int r = 0; r < rows.size(); ++r) {
        QList<QStandardItem*> items;
        for (int c = 0; c < rows[r].size(); ++c) {
            auto* item = new QStandardItem(rows[r][c]);
            item->setEditable(false);
            if (c >= textColumns) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            if (boldRows.contains(r)) item->setFont(bold);
            items << item;
        }
        model->appendRow(items);
    }
    view->resizeColumnsToContents();
}

QTableView* makeTable(QWidget* parent, const char* name) {
    auto* v = new QTableView(parent);
    v->setObjectName(QLatin1String(name));
    v->setModel(new QStandardItemModel(v));
    v->setEditTriggers(QAbstractItemView::NoEditTriggers);
    v->setSelectionBehavior(QAbstractItemView::SelectRows);
    v->setTabKeyNavigation(false);
    v->verticalHeader()->hide();
    v->verticalHeader()->setDefaultSectionSize(v->fontMetrics().height() + 4);
    v->horizontalHeader()->setHighlightSections(false);
    return v;
}

QChartView* makeChart(QWidget* parent, const char* name) {
    auto* v = new QChartView(parent);
    v->setObjectName(QLatin1String(name));
    v->setRenderHint(QPainter::Antialiasing);
    v->setMinimumSize(320, 220);
    return v;
}

// One bar per category.
void setBars(QChartView* view, const QString& title, const QStringList& categories,
             const QList<int>& values) {
    auto* chart = new QChart;
    chart->setTitle(title);
    QFont f = view->font();
    chart->setTitleFont(f);
    chart->legend()->hide();
    chart->setAnimationOptions(QChart::NoAnimation);
    auto* set = new QBarSet(QStringLiteral("QSO"));
    int most = 0;
    for (int v : values) {
        *set << v;
        most = std::max(most, v);
    }
    auto* series = new QBarSeries;
    series->append(set);
    series->setBarWidth(0.8);
    // a few bars carry their numbers
    if (categories.size() <= 16) {
        series->setLabelsVisible(true);
        series->setLabelsPosition(QAbstractBarSeries::LabelsOutsideEnd);
        series->setLabelsFormat(QStringLiteral("@value"));
        set->setLabelColor(view->palette().color(QPalette::WindowText));
        set->setLabelFont(f);
    }
    chart->addSeries(series);
    auto* x = new QBarCategoryAxis;
    x->append(categories);
    x->setLabelsFont(f);
    if (categories.size() > 12) x->setLabelsAngle(-90);
    chart->addAxis(x, Qt::AlignBottom);
    series->attachAxis(x);
    auto* y = new QValueAxis;
    y->setLabelFormat(QStringLiteral("%d"));
    y->setLabelsFont(f);
    // room above the highest bar for its number
    y->setRange(0, std::max(1.0, most * 1.15));
    y->applyNiceNumbers();
    chart->addAxis(y, Qt::AlignLeft);
    series->attachAxis(y);
    QChart* old = view->chart();
    view->setChart(chart);
    delete old;
}

QWidget* page(QWidget* a, QWidget* b, Qt::Orientation o, QList<int> sizes) {
    auto* split = new QSplitter(o);
    split->addWidget(a);
    split->addWidget(b);
    split->setChildrenCollapsible(false);
    split->setSizes(sizes);
    return split;
}

} // namespace

// Tells the window of any change of a table its figures come from.
class TfStats::Watch : public TableListener {
  public:
    Watch(TfStats* w, Table* t) : m_w(w), m_t(t) { m_t->addListener(this); }
    ~Watch() override { m_t->removeListener(this); }
    void rowsAboutToBeReset() override { m_w->changed(); }
    void rowsReset() override { m_w->changed(); }
    void rowInserted(int) override { m_w->changed(); }
    void rowAboutToBeRemoved(int) override { m_w->changed(); }
    void rowChanged(int) override { m_w->changed(); }

  private:
    TfStats* m_w;
    Table* m_t;
};

TfStats::TfStats(TDM* dm, QWidget* parent) : QWidget(parent, Qt::Window), m_dm(dm) {
    setObjectName(QStringLiteral("fStats"));
    setWindowTitle(QStringLiteral("Статистика журнала"));
    setFont(panelFont());
    m_slice.setSingleShot(true);
    connect(&m_slice, &QTimer::timeout, this, [this] { guarded([this] { runSlice(); }); });
    m_later.setSingleShot(true);
    connect(&m_later, &QTimer::timeout, this, [this] { guarded([this] { recount(); }); });
    buildUi();
    for (Table* t : {dm->dsMain, dm->dsBands, dm->dsModes, dm->dsCors, dm->dsNames})
        m_watches.push_back(std::make_unique<Watch>(this, t));
    recount();
}

TfStats::~TfStats() {
    detach();
}

void TfStats::detach() {
    m_watches.clear();
    m_slice.stop();
    m_later.stop();
    m_job.reset();
}

// A count that runs while the log changes is worthless: it stops at once,
// and a new one starts after a pause.
void TfStats::changed() {
    m_job.reset();
    m_slice.stop();
    m_later.start(kRecountDelayMs);
}

void TfStats::buildUi() {
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(6, 6, 6, 6);
    lay->setSpacing(4);
    pcStats = new QTabWidget(this);
    pcStats->setObjectName(QStringLiteral("pcStats"));
    lay->addWidget(pcStats, 1);

    grYears = makeTable(this, "grYears");
    chYears = makeChart(this, "chYears");
    pcStats->addTab(page(grYears, chYears, Qt::Vertical, {150, 370}),
                    QStringLiteral("Годы и месяцы"));
    grBandMode = makeTable(this, "grBandMode");
    chBands = makeChart(this, "chBands");
    pcStats->addTab(page(grBandMode, chBands, Qt::Vertical, {240, 280}),
                    QStringLiteral("Диапазоны и виды"));
    grHours = makeTable(this, "grHours");
    chHours = makeChart(this, "chHours");
    pcStats->addTab(page(grHours, chHours, Qt::Horizontal, {200, 600}), QStringLiteral("Часы"));

    auto dxccPage = [this](QTableView** table, const char* name, QLabel** note,
                           const char* noteName) {
        // the window owns the page while it is not among the tabs
        auto* w = new QWidget(this);
        w->hide();
        auto* l = new QVBoxLayout(w);
        l->setContentsMargins(0, 0, 0, 0);
        *table = makeTable(w, name);
        *note = new QLabel(w);
        (*note)->setObjectName(QLatin1String(noteName));
        l->addWidget(*table, 1);
        l->addWidget(*note);
        return w;
    };
    m_dxccBandsPage = dxccPage(&grDxccBands, "grDxccBands", &lbDxccBands, "lbDxccBands");
    m_dxccModesPage = dxccPage(&grDxccModes, "grDxccModes", &lbDxccModes, "lbDxccModes");

    auto* top = new QWidget;
    auto* tl = new QHBoxLayout(top);
    tl->setContentsMargins(0, 0, 0, 0);
    auto side = [top, tl](const QString& title, QLabel** label) {
        auto* w = new QWidget(top);
        auto* l = new QVBoxLayout(w);
        l->setContentsMargins(0, 0, 0, 0);
        *label = new QLabel(title, w);
        l->addWidget(*label);
        tl->addWidget(w, 1);
        return std::pair{w, l};
    };
    QLabel* stationsTitle = nullptr;
    auto [stations, sl] = side(QStringLiteral("20 самых частых корреспондентов"), &stationsTitle);
    grTopStations = makeTable(stations, "grTopStations");
    sl->addWidget(grTopStations, 1);
    auto [entities, el] = side(QStringLiteral("20 самых частых стран DXCC"), &lbTopEntities);
    grTopEntities = makeTable(entities, "grTopEntities");
    el->addWidget(grTopEntities, 1);
    m_topEntitiesSide = entities;
    m_topPage = top;
    pcStats->addTab(top, QStringLiteral("Самые частые"));
    entities->hide();

    auto* bottom = new QHBoxLayout;
    lay->addLayout(bottom);
    lbTotal = new QLabel(this);
    lbTotal->setObjectName(QStringLiteral("lbTotal"));
    bottom->addWidget(lbTotal);
    lbStatus = new QLabel(this);
    lbStatus->setObjectName(QStringLiteral("lbStatus"));
    bottom->addWidget(lbStatus, 1);
    btnSaveTable = new QPushButton(QStringLiteral("Таблицу в CSV…"), this);
    btnSaveTable->setObjectName(QStringLiteral("btnSaveTable"));
    btnSaveTable->setToolTip(QStringLiteral("Сохранить таблицу этой страницы в файл CSV"));
    bottom->addWidget(btnSaveTable);
    btnSaveChart = new QPushButton(QStringLiteral("График в PNG…"), this);
    btnSaveChart->setObjectName(QStringLiteral("btnSaveChart"));
    btnSaveChart->setToolTip(QStringLiteral("Сохранить график этой страницы в файл PNG"));
    bottom->addWidget(btnSaveChart);
    connect(btnSaveTable, &QPushButton::clicked, this,
            [this] { guarded([this] { btnSaveTableClick(); }); });
    connect(btnSaveChart, &QPushButton::clicked, this,
            [this] { guarded([this] { btnSaveChartClick(); }); });
    connect(pcStats, &QTabWidget::currentChanged, this,
            [this] { btnSaveChart->setEnabled(currentChart() != nullptr); });
    resize(900, 600);
    setMinimumSize(640, 420);
}

void TfStats::setEntityCache(EntityCache* cache) {
    if (cache == m_entities) return;
    m_entities = cache;
    const bool on = cache != nullptr;
    const int topPage = pcStats->indexOf(m_topPage);
    if (on && pcStats->indexOf(m_dxccBandsPage) < 0) {
        pcStats->insertTab(topPage, m_dxccBandsPage, QStringLiteral("DXCC по диапазонам"));
        pcStats->insertTab(topPage + 1, m_dxccModesPage, QStringLiteral("DXCC по видам"));
    } else if (!on && pcStats->indexOf(m_dxccBandsPage) >= 0) {
        pcStats->removeTab(pcStats->indexOf(m_dxccBandsPage));
        pcStats->removeTab(pcStats->indexOf(m_dxccModesPage));
    }
    m_topEntitiesSide->setVisible(on);
    recount();
}

// ---------------------------------------------------------------- counting

void TfStats::recount() {
    m_later.stop();
    m_job = std::make_unique<StatsJob>(*m_dm, m_entities);
    m_slice.start(0);
}

void TfStats::runSlice() {
    if (!m_job) return;
    QElapsedTimer t;
    t.start();
    if (!m_job->step(t, kSliceMs)) {
        m_slice.start(0);
        return;
    }
    const std::unique_ptr<StatsJob> job = std::move(m_job);
    showStatistics(job->result());
}

void TfStats::finishNow() {
    if (m_later.isActive()) recount();
    if (!m_job) return;
    m_slice.stop();
    m_job->runToEnd();
    const std::unique_ptr<StatsJob> job = std::move(m_job);
    showStatistics(job->result());
}

void TfStats::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    btnSaveChart->setEnabled(currentChart() != nullptr);
}

// ---------------------------------------------------------------- showing

void TfStats::showStatistics(const LogStatistics& s) {
    m_stats = s;
    QString total = QStringLiteral("Всего QSO: %1").arg(num(s.total));
    if (s.withoutTime > 0)
        total += QStringLiteral("; без даты и времени: %1").arg(num(s.withoutTime));
    lbTotal->setText(total);

    // years and months
    {
        QStringList titles{QStringLiteral("Год")};
        titles << kMonths << kTotal;
        QList<QStringList> rows;
        std::array<int, 13> sums{};
        QStringList years;
        QList<int> perYear;
        for (const auto& [year, months] : s.byYear) {
            QStringList row{QString::number(year)};
            for (int m = 1; m <= 12; ++m)
                row << num(months[size_t(m)]);
            row << num(months[0]);
            rows << row;
            for (size_t m = 0; m < 13; ++m)
                sums[m] += months[m];
            years << QString::number(year);
            perYear << months[0];
        }
        QStringList row{kTotal};
        for (int m = 1; m <= 12; ++m)
            row << num(sums[size_t(m)]);
        row << num(sums[0]);
        rows << row;
        fillTable(grYears, titles, rows, 1, {int(rows.size()) - 1});
        setBars(chYears, QStringLiteral("QSO по годам"), years, perYear);
    }

    // bands and modes
    const auto bandName = [&](size_t b) { return s.bandIds[b] > 0 ? s.bandNames[b] : kNoBand; };
    const auto modeName = [&](size_t m) { return s.modeIds[m] > 0 ? s.modeNames[m] : kNoMode; };
    {
        QStringList titles{QStringLiteral("Диапазон")};
        for (size_t m = 0; m < s.modeIds.size(); ++m)
            titles << modeName(m);
        titles << kTotal;
        QList<QStringList> rows;
        QStringList bands;
        QList<int> perBand;
        for (size_t b = 0; b < s.bandIds.size(); ++b) {
            QStringList row{bandName(b)};
            for (size_t m = 0; m < s.modeIds.size(); ++m)
                row << num(s.bandMode[b][m]);
            row << num(s.bandTotals[b]);
            rows << row;
            bands << bandName(b);
            perBand << s.bandTotals[b];
        }
        QStringList row{kTotal};
        for (size_t m = 0; m < s.modeIds.size(); ++m)
            row << num(s.modeTotals[m]);
        row << num(s.total);
        rows << row;
        fillTable(grBandMode, titles, rows, 1, {int(rows.size()) - 1});
        setBars(chBands, QStringLiteral("QSO по диапазонам"), bands, perBand);
    }

    // hours
    {
        QList<QStringList> rows;
        QStringList hours;
        QList<int> perHour;
        const int timed = s.total - s.withoutTime;
        for (int h = 0; h < 24; ++h) {
            const int n = s.byHour[size_t(h)];
            const QString pct =
                timed > 0 ? QLocale().toString(100.0 * n / timed, 'f', 1) : QString();
            rows << QStringList{QStringLiteral("%1–%2")
                                    .arg(h, 2, 10, QLatin1Char('0'))
                                    .arg(h + 1, 2, 10, QLatin1Char('0')),
                                num(n), pct};
            hours << QStringLiteral("%1").arg(h, 2, 10, QLatin1Char('0'));
            perHour << n;
        }
        fillTable(grHours, {QStringLiteral("Час"), QStringLiteral("QSO"), QStringLiteral("%")},
                  rows);
        setBars(chHours, QStringLiteral("QSO по часам суток"), hours, perHour);
    }

    // the most worked stations: call signs and names read from their table
    {
        Table& cors = *m_dm->dsCors;
        const int call = cors.fieldIndex(fld::CallName), name = cors.fieldIndex(fld::Name);
        QList<QStringList> rows;
        int place = 0;
        for (const auto& [corId, n] : s.topStations) {
            const int64_t slot = cors.isActive() ? cors.rows().idSlot(corId) : -1;
            const QString c =
                slot < 0 ? QString() : cors.valueOfSlot(uint32_t(slot), call).toString();
            const QString nm =
                slot < 0 ? QString() : cors.valueOfSlot(uint32_t(slot), name).toString();
            rows << QStringList{QString::number(++place), c, nm, num(n)};
        }
        fillTable(grTopStations,
                  {QStringLiteral("Место"), QStringLiteral("Позывной"), QStringLiteral("Имя"),
                   QStringLiteral("QSO")},
                  rows, 3);
    }

    if (s.hasEntities) {
        auto dxcc = [&](QTableView* view, QLabel* note, const std::vector<std::vector<int>>& per,
                        const std::vector<int>& distinct, size_t n, const auto& title) {
            QStringList titles{QStringLiteral("Страна DXCC"), QStringLiteral("№ DXCC")};
            for (size_t i = 0; i < n; ++i)
                titles << title(i);
            titles << kTotal;
            QList<QStringList> rows;
            for (size_t e = 0; e < s.entities.size(); ++e) {
                QStringList row{s.entities[e].name, s.entities[e].dxcc > 0
                                                        ? QString::number(s.entities[e].dxcc)
                                                        : QString()};
                for (size_t i = 0; i < n; ++i)
                    row << (per[e][i] > 0 ? num(per[e][i]) : QString());
                row << num(s.entityTotals[e]);
                rows << row;
            }
            QStringList row{QStringLiteral("Стран"), QString()};
            for (size_t i = 0; i < n; ++i)
                row << num(distinct[i]);
            row << num(int(s.entities.size()));
            rows << row;
            fillTable(view, titles, rows, 2, {int(rows.size()) - 1});
            QString text = QStringLiteral("Стран DXCC: %1. В клетках — число QSO; в строке "
                                          "«Стран» — сколько стран сработано.")
                               .arg(num(int(s.entities.size())));
            if (s.withoutEntity > 0)
                text +=
                    QStringLiteral(" QSO без определённой страны: %1.").arg(num(s.withoutEntity));
            note->setText(text);
        };
        dxcc(grDxccBands, lbDxccBands, s.entityBand, s.entitiesPerBand, s.bandIds.size(), bandName);
        dxcc(grDxccModes, lbDxccModes, s.entityMode, s.entitiesPerMode, s.modeIds.size(), modeName);
        QList<QStringList> rows;
        int place = 0;
        for (const auto& [e, n] : s.topEntities)
            rows << QStringList{QString::number(++place), s.entities[size_t(e)].name,
                                s.entities[size_t(e)].dxcc > 0
                                    ? QString::number(s.entities[size_t(e)].dxcc)
                                    : QString(),
                                num(n)};
        fillTable(grTopEntities,
                  {QStringLiteral("Место"), QStringLiteral("Страна DXCC"), QStringLiteral("№ DXCC"),
                   QStringLiteral("QSO")},
                  rows, 3);
    }
    emit counted();
}

// ---------------------------------------------------------------- saving

QList<QStringList> TfStats::tableTexts(const QTableView* table) const {
    const QAbstractItemModel* m = table->model();
    QList<QStringList> rows;
    QStringList titles;
    for (int c = 0; c < m->columnCount(); ++c)
        titles << m->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    rows << titles;
    for (int r = 0; r < m->rowCount(); ++r) {
        QStringList row;
        for (int c = 0; c < m->columnCount(); ++c)
            row << m->index(r, c).data().toString();
        rows << row;
    }
    return rows;
}

QTableView* TfStats::currentTable() const {
    QWidget* p = pcStats->currentWidget();
    for (QTableView* t : {grYears, grBandMode, grHours, grDxccBands, grDxccModes, grTopStations})
        if (p && p->isAncestorOf(t)) return t;
    return nullptr;
}

QChartView* TfStats::currentChart() const {
    QWidget* p = pcStats->currentWidget();
    for (QChartView* c : {chYears, chBands, chHours})
        if (p && p->isAncestorOf(c)) return c;
    return nullptr;
}

bool TfStats::writeFile(const QString& path, const QByteArray& bytes, const QString& what) {
    bool written = false;
    const QString why = writeExportFile(path, bytes, &written);
    if (why.isEmpty()) return true;
    msg::error(written ? QStringLiteral("%1 записан в файл %2, но его папку не удалось сбросить на "
                                        "диск: %3.")
                             .arg(what, path, why)
                       : QStringLiteral("Не удалось записать файл %1: %2. Ничего не записано.")
                             .arg(path, why));
    return written;
}

bool TfStats::saveTableCsv(const QTableView* table, const QString& path) {
    finishNow();
    QList<QStringList> rows = tableTexts(table);
    // numbers as the spreadsheet reads them: no group separators
    const QString group = QLocale().groupSeparator();
    for (int r = 1; r < rows.size(); ++r)
        for (QString& cell : rows[r])
            if (!group.isEmpty() && cell.contains(group)) {
                QString bare = cell;
                bare.remove(group);
                bool ok = false;
                QLocale().toInt(bare, &ok);
                if (ok) cell = bare;
            }
    return writeFile(path, toCsv(rows), QStringLiteral("Таблица"));
}

bool TfStats::saveChartPng(QChartView* chart, const QString& path) {
    finishNow();
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    if (!chart->grab().save(&buf, "PNG")) {
        msg::error(QStringLiteral("Не удалось построить изображение графика. Ничего не записано."));
        return false;
    }
    return writeFile(path, bytes, QStringLiteral("График"));
}

void TfStats::btnSaveTableClick() {
    const QTableView* table = currentTable();
    if (!table) table = grTopStations;
    QString path =
        file::askSaveName(this, QStringLiteral("Сохранить таблицу"),
                          QStringLiteral("qardel-statistika.csv"), QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".csv");
    if (saveTableCsv(table, path))
        lbStatus->setText(QStringLiteral("Таблица записана в файл %1").arg(path));
}

void TfStats::btnSaveChartClick() {
    QChartView* chart = currentChart();
    if (!chart) return;
    QString path =
        file::askSaveName(this, QStringLiteral("Сохранить график"),
                          QStringLiteral("qardel-grafik.png"), QStringLiteral("PNG (*.png)"));
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".png");
    if (saveChartPng(chart, path))
        lbStatus->setText(QStringLiteral("График записан в файл %1").arg(path));
}

void TfStats::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(e);
}

} // namespace qardel
