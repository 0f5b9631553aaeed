// The main window's side of the search and statistics windows: the keys and
// the status-bar buttons that open them, the way from a QSO found to the
// log's current row, and the entity provider both windows use.
#include "data/Fields.h"
#include "ui/common/Guard.h"
#include "ui/main/uMain.h"
#include "ui/search/uSearch.h"
#include "ui/stats/uStats.h"

namespace qardel {

namespace {
const QString kCorrecting =
    QStringLiteral("В главном окне правится запись, и строка журнала сейчас не может смениться. "
                   "Сохраните или отмените правку (Escape), затем выберите QSO снова.");
} // namespace

void TfMain::buildLogViews(QStatusBar* sb) {
    auto action = [this](const char* name, const QString& text, const QKeySequence& key,
                         void (TfMain::*open)()) {
        auto* a = new QAction(text, this);
        a->setObjectName(QLatin1String(name));
        a->setShortcut(key);
        a->setShortcutContext(Qt::WindowShortcut);
        connect(a, &QAction::triggered, this, [this, open] { guarded([&] { (this->*open)(); }); });
        addAction(a);
        return a;
    };
    miSearch = action("miSearch", QStringLiteral("Поиск"), QKeySequence(Qt::CTRL | Qt::Key_F),
                      &TfMain::OpenSearch);
    miSearch->setToolTip(QStringLiteral("Поиск QSO в журнале (Ctrl+F)"));
    miStats = action("miStats", QStringLiteral("Статистика"), QKeySequence(Qt::CTRL | Qt::Key_T),
                     &TfMain::OpenStats);
    miStats->setToolTip(QStringLiteral("Статистика журнала с графиками (Ctrl+T)"));
    // at the right of the status bar, after its two panels; no focus of
    // their own, so the panel's Tab order stays as it is
    auto button = [&](const char* name, QAction* a) {
        auto* b = new QToolButton(sb);
        b->setObjectName(QLatin1String(name));
        b->setDefaultAction(a);
        b->setAutoRaise(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setToolButtonStyle(Qt::ToolButtonTextOnly);
        b->setFixedHeight(17);
        sb->addPermanentWidget(b);
        return b;
    };
    sbSearch = button("sbSearch", miSearch);
    sbStats = button("sbStats", miStats);
}

TfSearch* TfMain::searchWindow() const {
    return m_search;
}

TfStats* TfMain::statsWindow() const {
    return m_stats;
}

void TfMain::closeLogViews() {
    // the windows let go of the tables before the data module goes
    for (QWidget* w : std::initializer_list<QWidget*>{m_search, m_stats})
        delete w;
}

void TfMain::OpenSearch() {
    if (!DM || !DM->dsMain->isActive()) return;
    if (!m_search) {
        m_search = new TfSearch(DM, this);
        m_search->setAttribute(Qt::WA_DeleteOnClose);
        m_search->showQso = [this](int id) { return ShowQso(id); };
        // the keys work from the other windows too
        m_search->addActions({miSearch, miStats});
        if (m_entities) m_search->setEntityCache(m_entities.get());
    }
    m_search->show();
    m_search->raise();
    m_search->activateWindow();
    m_search->edCall->setFocus();
    m_search->edCall->selectAll();
}

void TfMain::OpenStats() {
    if (!DM || !DM->dsMain->isActive()) return;
    if (!m_stats) {
        m_stats = new TfStats(DM, this);
        m_stats->setAttribute(Qt::WA_DeleteOnClose);
        m_stats->addActions({miSearch, miStats});
        if (m_entities) m_stats->setEntityCache(m_entities.get());
    }
    m_stats->show();
    m_stats->raise();
    m_stats->activateWindow();
}

QString TfMain::ShowQso(int id) {
    // while a QSO is corrected its row is the one the save rewrites
    if (FEditMode) return kCorrecting;
    if (!DM->dsMain->locate(fld::ID, id))
        return QStringLiteral("QSO № %1 больше нет в журнале.").arg(id);
    raise();
    activateWindow();
    grMain->setFocus();
    return {};
}

void TfMain::setEntityProvider(EntityProvider provider) {
    std::unique_ptr<EntityCache> old = std::move(m_entities);
    if (provider && DM) m_entities = std::make_unique<EntityCache>(*DM, std::move(provider));
    if (m_search) m_search->setEntityCache(m_entities.get());
    if (m_stats) m_stats->setEntityCache(m_entities.get());
}

} // namespace qardel
