#include "ui/common/DataGrid.h"

#include "data/Schema.h"
#include "ui/common/Colors.h"
#include "ui/common/DataGridAccessible.h"
#include "ui/common/Guard.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <cmath>

namespace qardel {

DataGrid::DataGrid(QWidget* parent)
    : QAbstractItemView(parent), m_header(new QHeaderView(Qt::Horizontal, this)),
      m_rowHeight(fontMetrics().height() + 4) {
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(false); // Tab moves to the next control
    installDataGridAccessibility();
    m_header->setSectionsClickable(true);
    m_header->setHighlightSections(false);
    m_header->setFirstSectionMovable(true);
    m_header->setSectionResizeMode(QHeaderView::Interactive);
    m_header->setStretchLastSection(false);
    auto relayout = [this] {
        updateGeometries();
        viewport()->update();
    };
    connect(m_header, &QHeaderView::sectionResized, this, relayout);
    connect(m_header, &QHeaderView::sectionCountChanged, this, relayout);
    connect(m_header, &QHeaderView::geometriesChanged, this, &DataGrid::updateGeometries);
    connect(m_header, &QHeaderView::sectionHandleDoubleClicked, this,
            &DataGrid::resizeColumnToContents);
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

DataGrid::~DataGrid() {
    // the header and the selection go with the view's children, after the
    // grid's own part is gone: on their way out they must not call into it
    m_header->disconnect(this);
    if (selectionModel()) selectionModel()->disconnect(this);
}

void DataGrid::setModel(QAbstractItemModel* model) {
    if (model == this->model()) return;
    if (this->model()) disconnect(this->model(), nullptr, this, nullptr);
    m_header->setModel(model);
    QAbstractItemView::setModel(model);
    m_measured.clear();
    if (!model) return;
    connect(model, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex&, int s, int e) {
                m_measured.removed(s, e);
                updateGeometries();
                viewport()->update();
            });
    connect(model, &QAbstractItemModel::modelReset, this, [this] { m_measured.clear(); });
    connect(model, &QAbstractItemModel::layoutChanged, this, [this] { m_measured.clear(); });
}

void DataGrid::setSelectionModel(QItemSelectionModel* selectionModel) {
    m_header->setSelectionModel(selectionModel);
    QAbstractItemView::setSelectionModel(selectionModel);
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
    measureAfresh();
}

void DataGrid::setWholeValueColumns(const QList<int>& columns) {
    m_wholeColumns = columns;
    measureAfresh();
}

// Widths given anew: the widest values are found again from what is in view.
void DataGrid::measureAfresh() {
    m_widest.clear();
    m_measured.clear();
    growToShownValues();
}

// The pixels a cell takes beyond its text: grid line and text margins.
int DataGrid::textPadding() const {
    constexpr int width = 100;
    QStyleOptionViewItem o;
    initViewItemOption(&o);
    o.features |= QStyleOptionViewItem::HasDisplay;
    o.rect = QRect(0, 0, width - 1, m_rowHeight - 1);
    o.text = QStringLiteral("0");
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    const QRect text = style()
                           ->subElementRect(QStyle::SE_ItemViewItemText, &o, this)
                           .adjusted(margin, 0, -margin, 0);
    return width - text.width();
}

// What is in view changed: the whole-value columns are measured before the
// next paint. A save or a jump through the log changes the view several
// times in one go; it is measured once, and not while a save is waiting
// for its disk.
void DataGrid::growToShownValues() {
    if (m_wholeColumns.isEmpty() || !model() || m_growing || m_measureOwed) return;
    m_measureOwed = true;
    viewport()->update();
}

// The rows in view are measured; a whole-value column grows to the widest of
// them when that is wider than any value it showed before. The measure is
// the painting's own: a text that needs more than its cell's room is cut.
// Rows measured before and not changed since are not measured again.
void DataGrid::measureShownValues() {
    m_measureOwed = false;
    if (m_wholeColumns.isEmpty() || !model() || m_growing) return;
    const int rows = model()->rowCount(rootIndex());
    const int height = viewport()->height();
    if (rows == 0 || height <= 0) return;
    // only the rows the view can hold: a view not laid out yet must not
    // measure a whole log of a million QSOs
    const int first = std::max(0, rowAt(0));
    const int last = std::min(rows - 1, (verticalOffset() + height - 1) / m_rowHeight);
    // what is in view and not yet measured: one or two runs beside the
    // measured rows, or the whole view when it does not touch them
    QList<std::pair<int, int>> runs;
    if (m_measured.empty() || last < m_measured.first - 1 || first > m_measured.last + 1) {
        runs.append({first, last});
        m_measured.first = first, m_measured.last = last;
    } else {
        if (first < m_measured.first) runs.append({first, m_measured.first - 1});
        if (last > m_measured.last) runs.append({m_measured.last + 1, last});
        m_measured.first = std::min(first, m_measured.first);
        m_measured.last = std::max(last, m_measured.last);
    }
    if (runs.isEmpty()) return;
    m_growing = true;
    const QFont f = font();
    const int padding = textPadding();
    for (int c : std::as_const(m_wholeColumns)) {
        if (c < 0 || c >= m_header->count()) continue;
        int need = 0;
        for (const auto& [from, to] : std::as_const(runs))
            for (int r = from; r <= to; ++r) {
                const QString text =
                    model()->index(r, c, rootIndex()).data(Qt::DisplayRole).toString();
                if (!text.isEmpty())
                    need = std::max(need,
                                    static_cast<int>(std::ceil(shaped(text, f).width)) + padding);
            }
        int& widest = m_widest[c];
        if (need <= widest) continue;
        widest = need;
        if (columnWidth(c) < need) setColumnWidth(c, need);
    }
    m_growing = false;
}

// Rows put in at start..end: the measured rows after them move down; the
// measured rows after a put-in row inside them are dropped (one run is kept).
void DataGrid::MeasuredRows::inserted(int start, int end) {
    if (empty() || start > last) return;
    const int n = end - start + 1;
    if (start <= first)
        first += n, last += n;
    else
        last = start - 1;
}

// Rows taken out at start..end: the measured rows that remain close up.
void DataGrid::MeasuredRows::removed(int start, int end) {
    if (empty()) return;
    const int n = end - start + 1;
    const int newFirst = first < start ? first : (first > end ? first - n : start);
    const int newLast = last > end ? last - n : (last < start ? last : start - 1);
    first = newFirst, last = newLast;
}

// Rows whose values changed are measured again: the run keeps its larger side.
void DataGrid::MeasuredRows::changed(int start, int end) {
    if (empty() || end < first || start > last) return;
    if (start - first >= last - end)
        last = start - 1;
    else
        first = end + 1;
}

void DataGrid::setBackground(const QColor& c) {
    setWidgetColor(this, {QPalette::Base}, c);
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

// The current row is the one selected row: no key or click (Ctrl or Shift
// held, Space, a click beside the rows) takes its highlight away.
QItemSelectionModel::SelectionFlags DataGrid::selectionCommand(const QModelIndex& index,
                                                               const QEvent* event) const {
    if (!index.isValid()) return QItemSelectionModel::NoUpdate;
    if (QAbstractItemView::selectionCommand(index, event) == QItemSelectionModel::NoUpdate)
        return QItemSelectionModel::NoUpdate;
    return QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows;
}

void DataGrid::mouseDoubleClickEvent(QMouseEvent* e) {
    QAbstractItemView::mouseDoubleClickEvent(e);
    emit doubleClickedInGrid();
}

// The focus frame goes around the current row: when it moves, or the focus
// comes or goes, the whole row is painted again.
void DataGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QAbstractItemView::currentChanged(current, previous);
    if (previous.isValid() && previous.row() != current.row()) updateRow(previous.row());
    if (current.isValid()) updateRow(current.row());
    // a screen reader follows the current cell while the grid has the focus;
    // moves of the log made from elsewhere (completing a call sign) do not
    // pull it away from the field being typed in
    if (hasFocus()) tellAccessibility(QAccessible::Focus, current);
}

void DataGrid::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    QAbstractItemView::selectionChanged(selected, deselected);
    if (!deselected.isEmpty())
        tellAccessibility(QAccessible::SelectionRemove, deselected.first().topLeft());
    if (!selected.isEmpty())
        tellAccessibility(QAccessible::SelectionAdd, selected.first().topLeft());
}

// What assistive technology is told of a cell, as a table view tells it.
void DataGrid::tellAccessibility(QAccessible::Event type, const QModelIndex& index) {
    if (!QAccessible::isActive() || !index.isValid()) return;
    if (type == QAccessible::Focus) m_cellFocusOwed = false;
    QAccessibleEvent event(this, type);
    event.setChild(DataGridAccessible::childIndex(this, index.row(), index.column()));
    QAccessible::updateAccessibility(&event);
}

void DataGrid::focusInEvent(QFocusEvent* e) {
    QAbstractItemView::focusInEvent(e);
    updateRow(currentIndex().row());
    // The window system's focus event names the grid as a whole and comes
    // after this handler: the current cell is named once that is out, unless
    // a click has named the cell it made current meanwhile.
    m_cellFocusOwed = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_cellFocusOwed && hasFocus())
                tellAccessibility(QAccessible::Focus, currentIndex());
            m_cellFocusOwed = false;
        },
        Qt::QueuedConnection);
}

void DataGrid::focusOutEvent(QFocusEvent* e) {
    QAbstractItemView::focusOutEvent(e);
    updateRow(currentIndex().row());
}

void DataGrid::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                           const QList<int>& roles) {
    QAbstractItemView::dataChanged(topLeft, bottomRight, roles);
    m_measured.changed(topLeft.row(), bottomRight.row());
    growToShownValues();
}

void DataGrid::mouseReleaseEvent(QMouseEvent* e) {
    QAbstractItemView::mouseReleaseEvent(e);
    if (e->button() == Qt::LeftButton) {
        const QModelIndex idx = indexAt(e->position().toPoint());
        if (idx.isValid()) emit rowClicked(idx.row());
    }
}

// ---------------------------------------------------------------- geometry
//
// Row r lies at r × the row height; the vertical scroll bar counts rows, and
// at its end the last row sits on the bottom edge. The last pixel row and
// column of each cell are its grid lines.

int DataGrid::rowsInViewport(int height) const {
    const int rows = model() ? model()->rowCount(rootIndex()) : 0;
    return std::max(1, std::min(rows, height / m_rowHeight));
}

int DataGrid::verticalOffset() const {
    const QScrollBar* bar = verticalScrollBar();
    if (verticalScrollMode() == ScrollPerPixel) return bar->value();
    if (bar->maximum() > 0 && bar->value() == bar->maximum()) {
        const int rows = model() ? model()->rowCount(rootIndex()) : 0;
        return rows * m_rowHeight - viewport()->height();
    }
    return bar->value() * m_rowHeight;
}

int DataGrid::horizontalOffset() const {
    return m_header->offset();
}

int DataGrid::rowAt(int y) const {
    const int rows = model() ? model()->rowCount(rootIndex()) : 0;
    const int pos = y + verticalOffset();
    return pos < 0 || pos >= rows * m_rowHeight ? -1 : pos / m_rowHeight;
}

int DataGrid::columnAt(int x) const {
    return m_header->logicalIndexAt(x);
}

QRect DataGrid::visualRect(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != model() || index.parent() != rootIndex()) return {};
    return QRect(columnX(index.column()), rowY(index.row()), columnWidth(index.column()) - 1,
                 m_rowHeight - 1);
}

QModelIndex DataGrid::indexAt(const QPoint& point) const {
    const int r = rowAt(point.y()), c = columnAt(point.x());
    return r >= 0 && c >= 0 ? model()->index(r, c, rootIndex()) : QModelIndex();
}

void DataGrid::updateGeometries() {
    const int height =
        m_header->isHidden()
            ? 0
            : std::min(std::max(m_header->minimumHeight(), m_header->sizeHint().height()),
                       m_header->maximumHeight());
    setViewportMargins(0, height, 0, 0);
    const QRect vg = viewport()->geometry();
    m_header->setGeometry(vg.left(), vg.top() - height, vg.width(), height);
    if (m_header->isHidden()) QMetaObject::invokeMethod(m_header, "updateGeometries");

    const int rows = model() ? model()->rowCount(rootIndex()) : 0;
    QSize vsize = viewport()->size();
    const QSize max = maximumViewportSize();
    if (max.width() >= m_header->length() && max.height() >= rows * m_rowHeight) vsize = max;

    // horizontally by whole columns, as many as fit counted from the last
    const int columns = m_header->count();
    int inView = 0;
    for (int w = 0, v = columns - 1; v >= 0; --v) {
        const int c = m_header->logicalIndex(v);
        if (m_header->isSectionHidden(c)) continue;
        w += m_header->sectionSize(c);
        if (w > vsize.width()) break;
        ++inView;
    }
    inView = std::max(inView, 1);
    QScrollBar* h = horizontalScrollBar();
    if (horizontalScrollMode() == ScrollPerItem) {
        const int shown = columns - m_header->hiddenSectionCount();
        h->setRange(0, shown - inView);
        h->setPageStep(inView);
        if (inView >= shown) m_header->setOffset(0);
        h->setSingleStep(1);
    } else {
        h->setPageStep(vsize.width());
        h->setRange(0, m_header->length() - vsize.width());
        h->setSingleStep(std::max(vsize.width() / (inView + 1), 2));
    }

    QScrollBar* v = verticalScrollBar();
    const int rowsInView = rowsInViewport(vsize.height());
    if (verticalScrollMode() == ScrollPerItem) {
        v->setRange(0, rows - rowsInView);
        v->setSingleStep(1);
        v->setPageStep(rowsInView);
    } else {
        v->setPageStep(vsize.height());
        v->setRange(0, rows * m_rowHeight - vsize.height());
        v->setSingleStep(std::max(vsize.height() / (rowsInView + 1), 2));
    }
    // a new row count can move the rows without moving the scroll bar
    if (verticalOffset() != m_paintedOffset) {
        m_paintedOffset = verticalOffset();
        viewport()->update();
    }
    QAbstractItemView::updateGeometries();
    growToShownValues();
}

void DataGrid::doItemsLayout() {
    QAbstractItemView::doItemsLayout();
    m_paintedOffset = verticalOffset();
}

void DataGrid::rowsInserted(const QModelIndex& parent, int start, int end) {
    QAbstractItemView::rowsInserted(parent, start, end);
    m_measured.inserted(start, end);
    updateGeometries();
    viewport()->update();
}

void DataGrid::scrollContentsBy(int dx, int dy) {
    if (dx) {
        const int old = m_header->offset();
        const QScrollBar* h = horizontalScrollBar();
        if (horizontalScrollMode() == ScrollPerPixel)
            m_header->setOffset(h->value());
        else if (h->maximum() > 0 && h->value() == h->maximum())
            m_header->setOffsetToLastSection();
        else
            m_header->setOffsetToSectionPosition(h->value());
        dx = old - m_header->offset();
        // the focus frame is drawn within the view: moved, it would leave
        // its edges behind
        if (dx && hasFocus()) updateRow(currentIndex().row());
    }
    if (dy) {
        const int now = verticalOffset();
        dy = m_paintedOffset - now;
        m_paintedOffset = now;
    }
    QAbstractItemView::scrollContentsBy(dx, dy);
    if (dy) {
        // a row cut by the view's edge had its frame drawn along that edge
        if (hasFocus()) updateRow(currentIndex().row());
        growToShownValues();
    }
}

void DataGrid::scrollTo(const QModelIndex& index, ScrollHint hint) {
    if (!index.isValid() || index.model() != model() || index.parent() != rootIndex()) return;
    // vertically
    const int viewportHeight = viewport()->height();
    const int position = index.row() * m_rowHeight;
    const int offset = verticalOffset();
    if (position - offset < 0 || m_rowHeight > viewportHeight) {
        if (hint == EnsureVisible) hint = PositionAtTop;
    } else if (position - offset + m_rowHeight > viewportHeight) {
        if (hint == EnsureVisible) hint = PositionAtBottom;
    }
    if (verticalScrollMode() == ScrollPerItem) {
        int row = index.row();
        if (hint == PositionAtBottom || hint == PositionAtCenter) {
            const int room = hint == PositionAtCenter ? viewportHeight / 2 : viewportHeight;
            for (int y = m_rowHeight; row > 0; --row) {
                y += m_rowHeight;
                if (y > room) break;
            }
        }
        if (hint != EnsureVisible) verticalScrollBar()->setValue(row);
    } else if (hint == PositionAtTop) {
        verticalScrollBar()->setValue(position);
    } else if (hint == PositionAtBottom) {
        verticalScrollBar()->setValue(position - viewportHeight + m_rowHeight);
    } else if (hint == PositionAtCenter) {
        verticalScrollBar()->setValue(position - (viewportHeight - m_rowHeight) / 2);
    }
    // horizontally
    const int viewportWidth = viewport()->width();
    const int column = index.column();
    const int left = m_header->sectionPosition(column);
    const int width = columnWidth(column);
    const int hOffset = m_header->offset();
    if (horizontalScrollMode() == ScrollPerItem) {
        const bool atLeft = left - hOffset < 0;
        const bool atRight = left - hOffset + width > viewportWidth;
        int visual = m_header->visualIndex(column);
        if (hint == PositionAtCenter || atRight) {
            const int room = hint == PositionAtCenter ? viewportWidth / 2 : viewportWidth;
            for (int x = width; visual > 0; --visual) {
                x += columnWidth(m_header->logicalIndex(visual - 1));
                if (x > room) break;
            }
        }
        if (atRight || hint == PositionAtCenter || atLeft) {
            int hidden = 0;
            for (int s = 0; s < visual; ++s)
                if (m_header->isSectionHidden(m_header->logicalIndex(s))) ++hidden;
            horizontalScrollBar()->setValue(visual - hidden);
        }
    } else if (hint == PositionAtCenter) {
        horizontalScrollBar()->setValue(left - (viewportWidth - width) / 2);
    } else if (left - hOffset < 0 || width > viewportWidth) {
        horizontalScrollBar()->setValue(left);
    } else if (left - hOffset + width > viewportWidth) {
        horizontalScrollBar()->setValue(left - viewportWidth + width);
    }
    update(index);
}

QModelIndex DataGrid::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
    if (!model()) return {};
    const int bottom = model()->rowCount(rootIndex()) - 1;
    const int right = m_header->count() - 1;
    if (bottom < 0 || right < 0) return {};
    const QModelIndex current = currentIndex();
    if (!current.isValid()) return model()->index(0, m_header->logicalIndex(0), rootIndex());
    if (isRightToLeft()) {
        if (action == MoveLeft)
            action = MoveRight;
        else if (action == MoveRight)
            action = MoveLeft;
    }
    int row = std::min(current.row(), bottom);
    int visual = std::min(m_header->visualIndex(current.column()), right);
    auto shownColumn = [this](int v, int step, int stop) {
        for (; v != stop + step; v += step)
            if (!m_header->isSectionHidden(m_header->logicalIndex(v))) return v;
        return -1;
    };
    switch (action) {
    case MoveUp:
        if (row > 0) --row;
        break;
    case MoveDown:
        if (row < bottom) ++row;
        break;
    case MoveLeft:
    case MovePrevious: {
        const int v = visual > 0 ? shownColumn(visual - 1, -1, 0) : -1;
        if (v >= 0)
            visual = v;
        else if (action == MovePrevious && row > 0) {
            --row;
            visual = shownColumn(right, -1, 0);
        }
        break;
    }
    case MoveRight:
    case MoveNext: {
        const int v = visual < right ? shownColumn(visual + 1, 1, right) : -1;
        if (v >= 0)
            visual = v;
        else if (action == MoveNext && row < bottom) {
            ++row;
            visual = shownColumn(0, 1, right);
        }
        break;
    }
    case MoveHome:
        visual = shownColumn(0, 1, right);
        if (modifiers & Qt::ControlModifier) row = 0;
        break;
    case MoveEnd:
        visual = shownColumn(right, -1, 0);
        if (modifiers & Qt::ControlModifier) row = bottom;
        break;
    case MovePageUp: {
        const int r = rowAt(visualRect(current).bottom() - viewport()->height());
        return model()->index(r == -1 ? 0 : r, current.column(), rootIndex());
    }
    case MovePageDown: {
        const int r = rowAt(visualRect(current).top() + viewport()->height());
        return model()->index(r == -1 ? bottom : r, current.column(), rootIndex());
    }
    }
    if (visual < 0) return {};
    return model()->index(row, m_header->logicalIndex(visual), rootIndex());
}

void DataGrid::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) {
    const int x1 =
        isRightToLeft() ? std::max(rect.left(), rect.right()) : std::min(rect.left(), rect.right());
    const int x2 =
        isRightToLeft() ? std::min(rect.left(), rect.right()) : std::max(rect.left(), rect.right());
    const QModelIndex tl = indexAt(QPoint(x1, std::min(rect.top(), rect.bottom())));
    const QModelIndex br = indexAt(QPoint(x2, std::max(rect.top(), rect.bottom())));
    if (!selectionModel() || !tl.isValid() || !br.isValid()) return;
    QItemSelection selection;
    const QItemSelectionRange range(tl, br);
    if (!range.isEmpty()) selection.append(range);
    selectionModel()->select(selection, command);
}

QRegion DataGrid::visualRegionForSelection(const QItemSelection& selection) const {
    QRegion region;
    const QRect vp = viewport()->rect();
    for (const QItemSelectionRange& range : selection) {
        if (!range.isValid()) continue;
        const int x1 = columnX(range.left()), x2 = columnX(range.right());
        const QRect r(QPoint(std::min(x1, x2), rowY(range.top())),
                      QPoint(std::max(x1, x2) + columnWidth(range.right()) - 1,
                             rowY(range.bottom()) + m_rowHeight - 1));
        region += r.intersected(vp);
    }
    return region;
}

void DataGrid::initViewItemOption(QStyleOptionViewItem* option) const {
    QAbstractItemView::initViewItemOption(option);
    option->showDecorationSelected = true;
}

bool DataGrid::viewportEvent(QEvent* e) {
    switch (e->type()) {
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
        m_hover = indexAt(static_cast<QHoverEvent*>(e)->position().toPoint());
        break;
    case QEvent::HoverLeave:
    case QEvent::Leave:
        m_hover = QModelIndex();
        break;
    default:
        break;
    }
    return QAbstractItemView::viewportEvent(e);
}

void DataGrid::resizeColumnToContents(int column) {
    if (!model()) return;
    ensurePolished();
    // the visible rows, then alternately one below and one above, up to the
    // header's count of rows to measure
    const int rows = model()->rowCount(rootIndex());
    const int limit = m_header->resizeContentsPrecision();
    int top = std::max(0, rowAt(0));
    int bottom = rowAt(viewport()->height());
    if (!isVisible() || bottom == -1) bottom = rows - 1;
    int first = top, last = bottom, done = bottom - top + 1;
    if (limit > 0 && done > limit) last = top + limit - 1, done = limit;
    while ((limit == 0 || done < limit) && (first > 0 || last < rows - 1)) {
        if ((done % 2 && first > 0) || last == rows - 1)
            --first;
        else
            ++last;
        ++done;
    }
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    int hint = 0;
    for (int r = first; r <= last; ++r)
        hint = std::max(
            hint, itemDelegate()->sizeHint(option, model()->index(r, column, rootIndex())).width());
    if (rows > 0) ++hint; // the grid line
    m_header->resizeSection(column, std::max(hint, m_header->sectionSizeHint(column)));
}

// ---------------------------------------------------------------- painting
//
// What the style's item painting does, except the text: the style draws each
// cell's background and focus frame, and the text is drawn here, at the
// place the style puts it, from glyphs shaped once.

// Texts repeat down a column (bands, modes, cities, powers): each is shaped
// once and then drawn from its glyphs.
const DataGrid::ShapedText& DataGrid::shaped(const QString& text, const QFont& font) const {
    auto it = m_shaped.find(text);
    if (it != m_shaped.end()) return *it;
    if (m_shaped.size() >= kShapedTexts) m_shaped.clear();
    ShapedText t;
    t.text.setTextFormat(Qt::PlainText);
    t.text.setText(text);
    t.text.prepare(QTransform(), font);
    t.width = QFontMetricsF(font).horizontalAdvance(text);
    return *m_shaped.insert(text, t);
}

void DataGrid::changeEvent(QEvent* e) {
    if (e->type() == QEvent::FontChange || e->type() == QEvent::StyleChange) {
        m_shaped.clear();
        m_measured.clear();
    }
    QAbstractItemView::changeEvent(e);
}

void DataGrid::paintCell(QPainter& p, QStyleOptionViewItem& o, const QRect& textRect,
                         Qt::Alignment align, const QModelIndex& index) const {
    QStyle* s = style();
    s->drawPrimitive(QStyle::PE_PanelItemViewRow, &o, &p, this);
    p.setClipRect(o.rect);
    s->drawPrimitive(QStyle::PE_PanelItemViewItem, &o, &p, this);
    const QString text = index.data(Qt::DisplayRole).toString();
    if (!text.isEmpty()) {
        QPalette::ColorGroup cg =
            o.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
        if (cg == QPalette::Normal && !(o.state & QStyle::State_Active)) cg = QPalette::Inactive;
        p.setPen(o.palette.color(cg, o.state & QStyle::State_Selected ? QPalette::HighlightedText
                                                                      : QPalette::Text));
        const QFontMetricsF fm(o.font);
        const ShapedText* shaped = &this->shaped(text, o.font);
        if (shaped->width > textRect.width())
            shaped = &this->shaped(fm.elidedText(text, o.textElideMode, textRect.width()), o.font);
        const int height = qRound(fm.ascent() + fm.descent());
        const int top = textRect.y() + textRect.height() / 2 - height / 2;
        // the free room is halved in 1/64 pixels, as the text layout does
        qreal x = textRect.x();
        const qreal room = textRect.width() - shaped->width;
        if (align & Qt::AlignRight)
            x += room;
        else if (align & Qt::AlignHCenter)
            x += qreal(qRound(room * 64) / 2) / 64;
        p.drawStaticText(QPointF(x, top), shaped->text);
    }
    p.setClipping(false);
}

// The current row's cells without their grid lines, within the viewport, so
// that all four sides of a frame around it show.
QRect DataGrid::rowRect(int row) const {
    if (row < 0) return {};
    return QRect(-m_header->offset(), rowY(row), m_header->length() - 1, m_rowHeight - 1)
        .intersected(viewport()->rect());
}

void DataGrid::updateRow(int row) {
    const QRect r = rowRect(row);
    if (!r.isEmpty()) viewport()->update(r);
}

void DataGrid::paintEvent(QPaintEvent* e) {
    // before the painter: a column that grows moves the cells to its right
    if (m_measureOwed) measureShownValues();
    QPainter p(viewport());
    const int rows = model() ? model()->rowCount(rootIndex()) : 0;
    const int columns = m_header->count();
    if (rows == 0 || columns == 0) return;
    if (verticalOffset() != m_paintedOffset) { // moved since the last paint: all of it again
        m_paintedOffset = verticalOffset();
        viewport()->update();
    }
    QStyleOptionViewItem base;
    initViewItemOption(&base);
    if (base.state & QStyle::State_Enabled) base.palette.setCurrentColorGroup(QPalette::Normal);
    p.setFont(base.font);
    const QColor gridColor = QColor::fromRgba(
        static_cast<QRgb>(style()->styleHint(QStyle::SH_Table_GridLineColor, &base, this)));
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    const QModelIndex current = currentIndex();
    const bool focus = (hasFocus() || viewport()->hasFocus()) && current.isValid();
    const int lastX = m_header->length() - m_header->offset() - 1;
    const int lastY = rows * m_rowHeight - verticalOffset() - 1;

    for (QRect dirty : e->region()) {
        dirty.setBottom(std::min(dirty.bottom(), lastY));
        dirty.setRight(std::min(dirty.right(), lastX));
        int left = m_header->visualIndexAt(dirty.left());
        int right = m_header->visualIndexAt(dirty.right());
        if (left == -1) left = 0;
        if (right == -1) right = columns - 1;
        const int top = rowAt(dirty.top());
        int bottom = rowAt(dirty.bottom());
        if (bottom == -1) bottom = rows - 1;
        if (top == -1 || top > bottom) continue;

        for (int v = left; v <= right; ++v) {
            const int c = m_header->logicalIndex(v);
            if (m_header->isSectionHidden(c)) continue;
            QStyleOptionViewItem o = base;
            o.features |= QStyleOptionViewItem::HasDisplay;
            o.rect = QRect(columnX(c), rowY(top), columnWidth(c) - 1, m_rowHeight - 1);
            const QModelIndex first = model()->index(top, c, rootIndex());
            const QVariant a = first.data(Qt::TextAlignmentRole);
            if (a.metaType() == QMetaType::fromType<Qt::Alignment>())
                o.displayAlignment = a.value<Qt::Alignment>();
            else if (a.isValid())
                o.displayAlignment = Qt::Alignment(a.toInt());
            QStyleOptionViewItem t = o;
            t.index = first;
            t.text = first.data(Qt::DisplayRole).toString();
            const QRect text = style()
                                   ->subElementRect(QStyle::SE_ItemViewItemText, &t, this)
                                   .adjusted(margin, 0, -margin, 0);
            const QStyle::State state = o.state;
            for (int r = top; r <= bottom; ++r) {
                const QModelIndex index = model()->index(r, c, rootIndex());
                o.index = index;
                o.rect.moveTop(rowY(r));
                o.state = state;
                if (selectionModel() && selectionModel()->isSelected(index))
                    o.state |= QStyle::State_Selected;
                if (index == m_hover) o.state |= QStyle::State_MouseOver;
                paintCell(p, o, text.translated(0, o.rect.y() - rowY(top)), o.displayAlignment,
                          index);
            }
        }

        p.setPen(QPen(gridColor, 1, Qt::SolidLine));
        for (int r = top; r <= bottom; ++r) {
            const int y = rowY(r) + m_rowHeight - 1;
            p.drawLine(dirty.left(), y, dirty.right(), y);
        }
        for (int v = left; v <= right; ++v) {
            const int c = m_header->logicalIndex(v);
            if (m_header->isSectionHidden(c)) continue;
            const int x = columnX(c) + columnWidth(c) - 1;
            p.drawLine(x, dirty.top(), x, dirty.bottom());
        }
    }

    // The focus: a dotted frame round the whole current row, in the colour
    // of the row's text so that it shows on the highlight (the style's own
    // focus frame is a faint shade of it).
    const QRect focusRect = focus ? rowRect(current.row()) : QRect();
    if (!focusRect.isEmpty() && e->region().intersects(focusRect)) {
        p.setClipRegion(e->region());
        const bool selected = selectionModel() && selectionModel()->isSelected(current);
        QPen pen(base.palette.color(QPalette::Normal,
                                    selected ? QPalette::HighlightedText : QPalette::Text));
        pen.setDashPattern({1, 1});
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawRect(focusRect.adjusted(0, 0, -1, -1));
    }
}

} // namespace qardel
