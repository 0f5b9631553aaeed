#include "ui/common/IdComboBox.h"

#include "ui/common/KeyFilter.h"

#include <QCollator>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStandardItemModel>
#include <QStylePainter>

#include <algorithm>

namespace qardel {

namespace {
QCollator collator() {
    QCollator c{QLocale()};
    c.setCaseSensitivity(Qt::CaseInsensitive);
    return c;
}
} // namespace

IdComboBox::IdComboBox(bool editable, bool sorted, QWidget* parent)
    : QComboBox(parent), m_sorted(sorted) {
    setEditable(editable);
    setInsertPolicy(QComboBox::NoInsert);
    setMaxVisibleItems(16);
    if (editable) {
        setCompleter(nullptr);
        connect(lineEdit(), &QLineEdit::textEdited, this, &IdComboBox::onTextEdited);
    }
}

void IdComboBox::setFaceColor(const QColor& c) {
    if (c == m_face) return;
    m_face = c;
    update();
}

void IdComboBox::paintEvent(QPaintEvent* e) {
    if (isEditable() || !m_face.isValid()) {
        QComboBox::paintEvent(e);
        return;
    }
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox opt;
    initStyleOption(&opt);
    painter.drawComplexControl(QStyle::CC_ComboBox, opt);
    const QRect field =
        style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, this);
    painter.fillRect(field, m_face);
    painter.drawControl(QStyle::CE_ComboBoxLabel, opt);
}

void IdComboBox::beginUpdate() {
    if (m_updating++ == 0) setUpdatesEnabled(false);
}

void IdComboBox::endUpdate() {
    if (m_updating == 0 || --m_updating > 0) return;
    if (m_clearing) {
        m_clearing = false;
        // a refill that only adds rows behind the ones the list holds (a save
        // adding a city) inserts just those; anything else rebuilds the list
        const bool onlyAdded = m_filledValid && count() == qsizetype(m_filled.size()) &&
                               m_pending.size() >= m_filled.size() &&
                               std::equal(m_filled.begin(), m_filled.end(), m_pending.begin());
        if (onlyAdded) {
            const bool wasBlocked = blockSignals(true);
            for (size_t i = m_filled.size(); i < m_pending.size(); ++i)
                insertSorted(m_pending[i].first, m_pending[i].second);
            blockSignals(wasBlocked);
            m_filled = std::move(m_pending);
            m_pending.clear();
        } else {
            clearNow();
            m_filled = m_pending; // in the table's order, before the fill sorts them
            fillFromPending();
        }
        m_filledValid = true;
    } else if (!m_pending.empty()) {
        m_filledValid = false;
        fillFromPending();
    }
    setUpdatesEnabled(true);
}

// Adds the collected rows to the list in one go, sorted when the list is.
void IdComboBox::fillFromPending() {
    if (m_pending.empty()) return;
    if (m_sorted) {
        // collation keys once per item, not once per comparison
        const QCollator c = collator();
        std::vector<std::pair<QCollatorSortKey, size_t>> keys;
        keys.reserve(m_pending.size());
        for (size_t i = 0; i < m_pending.size(); ++i)
            keys.push_back({c.sortKey(m_pending[i].first), i});
        std::stable_sort(keys.begin(), keys.end(),
                         [](const auto& a, const auto& b) { return a.first.compare(b.first) < 0; });
        std::vector<std::pair<QString, int>> sorted;
        sorted.reserve(m_pending.size());
        for (const auto& k : keys)
            sorted.push_back(std::move(m_pending[k.second]));
        m_pending.swap(sorted);
    }
    const QString shown = isEditable() ? currentText() : QString();
    const int sel = currentIndex();
    const bool wasBlocked = blockSignals(true);
    if (auto* m = qobject_cast<QStandardItemModel*>(model())) {
        // all rows in one insertion
        QList<QStandardItem*> items;
        items.reserve(qsizetype(m_pending.size()));
        for (const auto& p : m_pending) {
            auto* item = new QStandardItem(p.first);
            item->setData(p.second, Qt::UserRole);
            items << item;
        }
        m->invisibleRootItem()->appendRows(items);
    } else {
        for (const auto& p : m_pending)
            QComboBox::addItem(p.first, p.second);
    }
    if (isEditable() && sel < 0) {
        setCurrentIndex(-1);
        setEditText(shown);
    }
    blockSignals(wasBlocked);
    m_pending.clear();
}

void IdComboBox::clearItems() {
    m_pending.clear();
    if (m_updating > 0) {
        m_clearing = true; // decided when the update ends
        return;
    }
    clearNow();
}

void IdComboBox::clearNow() {
    m_filledValid = false;
    const QString shown = isEditable() ? currentText() : QString();
    const bool wasBlocked = blockSignals(true);
    clear();
    if (isEditable()) setEditText(shown);
    blockSignals(wasBlocked);
}

void IdComboBox::insertSorted(const QString& text, int id) {
    const QCollator c = collator();
    int i = count();
    if (m_sorted) {
        // after the items that sort equal, as the stable sort of a refill puts it
        const QCollatorSortKey key = c.sortKey(text);
        int lo = 0, hi = count();
        while (lo < hi) {
            const int mid = (lo + hi) / 2;
            if (c.sortKey(itemText(mid)).compare(key) <= 0)
                lo = mid + 1;
            else
                hi = mid;
        }
        i = lo;
    }
    const QString shown = isEditable() ? currentText() : QString();
    const int sel = currentIndex();
    insertItem(i, text, id);
    if (isEditable() && sel < 0) {
        setCurrentIndex(-1);
        setEditText(shown);
    }
}

void IdComboBox::addItem(const QString& text, int id) {
    if (m_updating > 0) {
        m_pending.push_back({text, id});
    } else {
        m_filledValid = false;
        insertSorted(text, id);
    }
}

int IdComboBox::itemId(int index) const {
    return itemData(index).toInt();
}

int IdComboBox::selectedId() const {
    return currentIndex() >= 0 ? itemId(currentIndex()) : 0;
}

void IdComboBox::setSelectedIndex(int index) {
    if (index >= 0 && index < count()) {
        setCurrentIndex(index);
        return;
    }
    if (isEditable()) {
        const QString shown = currentText();
        setCurrentIndex(-1);
        setEditText(shown);
    } else {
        setCurrentIndex(-1);
    }
}

void IdComboBox::clearSelectionAndText() {
    setCurrentIndex(-1);
    // an empty text with no history and no change mark is what emptying leaves
    const QLineEdit* le = lineEdit();
    if (le && (!le->text().isEmpty() || le->isUndoAvailable() || le->isRedoAvailable() ||
               le->isModified()))
        setEditText(QString());
}

// Typing drops the selected item as soon as the text is no longer its text.
void IdComboBox::onTextEdited(const QString& text) {
    const int sel = currentIndex();
    if (sel >= 0 && itemText(sel) != text) {
        const QLineEdit* le = lineEdit();
        const int cursor = le->cursorPosition();
        setCurrentIndex(-1);
        setEditText(text);
        lineEdit()->setCursorPosition(cursor);
    }
}

// Type-ahead: complete to the first item that begins with what was typed.
void IdComboBox::keyPressEvent(QKeyEvent* e) {
    if (!isEditable() || !tryComplete(e)) QComboBox::keyPressEvent(e);
}

bool IdComboBox::tryComplete(QKeyEvent* ke) {
    const QChar ch = typedChar(ke);
    if (ch.isNull() || ch.unicode() < 32 || ch.unicode() == 127) return false;
    QLineEdit* le = lineEdit();
    const QString text = le->text();
    const QString head = le->hasSelectedText() ? text.left(le->selectionStart()) : text;
    const QString prefix = head + ch;
    if (le->maxLength() > 0 && prefix.size() > le->maxLength()) return false;
    for (int i = 0; i < count(); ++i) {
        const QString item = itemText(i);
        if (!item.startsWith(prefix, Qt::CaseInsensitive)) continue;
        const QString shown = prefix + item.mid(prefix.size());
        setCurrentIndex(i);
        setEditText(shown);
        le->setSelection(int(shown.size()), -int(shown.size() - prefix.size()));
        return true;
    }
    return false;
}

} // namespace qardel
