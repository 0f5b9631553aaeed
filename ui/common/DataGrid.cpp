#include "ui/common/DataGrid.h"

#include "data/Schema.h"
#include "ui/common/Guard.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QScrollBar>

namespace qardel {

DataGrid::DataGrid(QWidget* parent) : QTableView(parent) {
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setTabKeyNavigation(false); // Tab moves to the next control
    setWordWrap(false);
    setAlternatingRowColors(false);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    // the selected row stays highlighted when the grid has no focus
    QPalette p = palette();
    p.setColor(QPalette::Inactive, QPalette::Highlight,
               p.color(QPalette::Active, QPalette::Highlight));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText,
               p.color(QPalette::Active, QPalette::HighlightedText));
    // a disabled grid (a QSO being corrected) must stay readable
    p.setColor(QPalette::Disabled, QPalette::Text, p.color(QPalette::Active, QPalette::Text));
    p.setColor(QPalette::Disabled, QPalette::Highlight, p.color(QPalette::Active, QPalette::Mid));
    p.setColor(QPalette::Disabled, QPalette::HighlightedText,
               p.color(QPalette::Active, QPalette::Text));
    setPalette(p);
}

void DataGrid::setDataSource(TableModel* source) {
    if (m_source == source) return;
    if (m_source) disconnect(m_source, nullptr, this, nullptr);
    m_source = source;
    setModel(source);
    if (!source) return;
    connect(source, &TableModel::cursorRowChanged, this, &DataGrid::followCursor);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &DataGrid::onCurrentRowChanged);
    // after inserts and removals the view must show the table's cursor again
    auto resync = [this] {
        if (m_source && m_source->table()->isActive()) followCursor(m_source->table()->recNo());
    };
    connect(source, &QAbstractItemModel::rowsInserted, this, resync, Qt::QueuedConnection);
    connect(source, &QAbstractItemModel::rowsRemoved, this, resync, Qt::QueuedConnection);
    connect(source, &QAbstractItemModel::modelReset, this, resync, Qt::QueuedConnection);
    setColumnWidths({});
    if (source->table()->isActive()) followCursor(source->table()->recNo());
}

namespace {
int titleWidth(const QFontMetrics& fm, const FieldDef& f) {
    return fm.horizontalAdvance(f.displayLabel()) + 8;
}
} // namespace

int DataGrid::fieldWidthPixels(int fieldIndex) const {
    const FieldDef& f = m_source->table()->fieldDefs()[size_t(fieldIndex)];
    const int chars = defaultDisplayWidth(f);
    return std::max(chars * fontMetrics().horizontalAdvance(QLatin1Char('0')) + 6,
                    titleWidth(fontMetrics(), f));
}

void DataGrid::fitColumns() {
    if (!m_source) return;
    const int available = width() - 2 * frameWidth() - verticalScrollBar()->sizeHint().width();
    QList<int> titles, widths;
    int sumTitles = 0, sumWidths = 0;
    for (int c = 0; c < m_source->columnCount(); ++c) {
        const int fi = m_source->fieldIndexOfColumn(c);
        titles << titleWidth(fontMetrics(), m_source->table()->fieldDefs()[size_t(fi)]);
        widths << fieldWidthPixels(fi);
        sumTitles += titles.back();
        sumWidths += widths.back();
    }
    if (sumWidths <= available) return;
    // what each column has beyond its title shrinks in the same proportion
    const double room = std::max(0, available - sumTitles);
    const double excess = sumWidths - sumTitles;
    for (int c = 0; c < int(widths.size()); ++c)
        setColumnWidth(c, titles[c] + int((widths[c] - titles[c]) * room / excess));
}

void DataGrid::setColumnWidths(const QList<int>& widths) {
    if (!m_source) return;
    for (int c = 0; c < m_source->columnCount(); ++c) {
        const int w = c < widths.size() ? widths[c] : 0;
        setColumnWidth(c, w > 0 ? w : fieldWidthPixels(m_source->fieldIndexOfColumn(c)));
    }
}

void DataGrid::setBackground(const QColor& c) {
    QPalette p = palette();
    for (auto g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        p.setColor(g, QPalette::Base, c);
    setPalette(p);
}

// The table's cursor moved: show it.
void DataGrid::followCursor(int row) {
    if (!m_source || m_following) return;
    m_following = true;
    if (row >= 0 && row < m_source->rowCount()) {
        const QModelIndex idx = m_source->index(row, std::max(0, currentIndex().column()));
        selectionModel()->setCurrentIndex(idx, QItemSelectionModel::ClearAndSelect |
                                                   QItemSelectionModel::Rows);
        scrollTo(idx);
    } else {
        selectionModel()->clear();
    }
    m_following = false;
}

// The user moved in the grid: move the table's cursor with it.
void DataGrid::onCurrentRowChanged(const QModelIndex& current, const QModelIndex&) {
    if (m_following || !m_source || !current.isValid()) return;
    m_following = true;
    guarded([&] {
        Table* t = m_source->table();
        if (t->isActive() && t->recNo() != current.row()) t->moveTo(current.row());
    });
    m_following = false;
}

void DataGrid::mouseReleaseEvent(QMouseEvent* e) {
    QTableView::mouseReleaseEvent(e);
    if (e->button() == Qt::LeftButton) {
        const QModelIndex idx = indexAt(e->position().toPoint());
        if (idx.isValid()) emit rowClicked(idx.row());
    }
}

} // namespace qardel
