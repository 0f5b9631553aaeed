#include "query/SearchResults.h"

#include "data/Fields.h"

#include <QCollator>
#include <QElapsedTimer>

#include <algorithm>
#include <bit>
#include <cstring>

namespace qardel {

namespace {

const QString kEntityTitle = QStringLiteral("Страна DXCC");
const QString kNoticeTitle = QStringLiteral("Примечание");

// Call signs, numbers and most band names: compared by their characters,
// which gives the locale's order for them without its cost.
bool isPlain(const QString& s) {
    for (QChar c : s) {
        const char16_t u = c.unicode();
        if (!((u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') ||
              u == u'/'))
            return false;
    }
    return true;
}

int sign(int v) {
    return (v > 0) - (v < 0);
}

// A number as an unsigned key that sorts as the number does.
uint64_t doubleKey(double d) {
    const uint64_t bits = std::bit_cast<uint64_t>(d);
    return (bits & (uint64_t(1) << 63)) ? ~bits : bits | (uint64_t(1) << 63);
}

} // namespace

int compareTexts(const QString& a, const QString& b, const QCollator& collator) {
    if (isPlain(a) && isPlain(b)) return sign(QString::compare(a, b, Qt::CaseInsensitive));
    return sign(collator.compare(a, b));
}

// Tells the results of one table's changes.
class SearchResults::Watch : public TableListener {
  public:
    Watch(SearchResults* r, Table* t, bool log) : m_r(r), m_t(t), m_log(log) {
        m_t->addListener(this);
    }
    ~Watch() override { m_t->removeListener(this); }
    void rowsAboutToBeReset() override {
        if (m_log) m_r->logAboutToReset();
    }
    void rowsReset() override {
        if (m_log)
            m_r->logReset();
        else
            m_r->listsChanged();
    }
    void rowInserted(int pos) override {
        if (m_log) m_r->logInserted(pos);
    }
    void rowAboutToBeRemoved(int pos) override {
        if (m_log) m_r->logAboutToBeRemoved(pos);
    }
    void rowRemoved(int) override {
        if (!m_log) m_r->listsChanged();
    }
    // a move of a row is followed by its change
    void rowChanged(int pos) override {
        if (m_log)
            m_r->logChanged(pos);
        else
            m_r->listsChanged();
    }

  private:
    SearchResults* m_r;
    Table* m_t;
    bool m_log;
};

SearchResults::SearchResults(TDM& dm, QObject* parent)
    : QAbstractTableModel(parent), m_dm(dm), m_collator(std::make_unique<QCollator>(QLocale())) {
    m_collator->setCaseSensitivity(Qt::CaseInsensitive);
    m_slice.setSingleShot(true);
    connect(&m_slice, &QTimer::timeout, this, &SearchResults::runSlice);
    buildColumns();
    m_watches.push_back(std::make_unique<Watch>(this, dm.dsMain, true));
    for (Table* t : {dm.dsCors, dm.dsNames, dm.dsBands, dm.dsModes, dm.dsRS})
        m_watches.push_back(std::make_unique<Watch>(this, t, false));
}

SearchResults::~SearchResults() {
    detach();
}

void SearchResults::detach() {
    m_watches.clear();
    m_slice.stop();
    m_job.reset();
    m_matcher.reset();
}

void SearchResults::buildColumns() {
    m_columns.clear();
    Table& log = *m_dm.dsMain;
    for (const QString& f : {fld::ID, fld::Time, fld::CorCallName, fld::CorSuffix, fld::CorName,
                             fld::CorCity, fld::CorCountry, fld::Band, fld::Mode, fld::CorPower,
                             fld::CorRS, fld::MyPower, fld::MyRS, fld::Repeater})
        m_columns.push_back({log.fieldIndex(f)});
    if (m_entities) m_columns.push_back({-1});
    m_columns.push_back({log.fieldIndex(fld::Notice)});
}

void SearchResults::setEntityCache(EntityCache* cache) {
    if (cache == m_entities) return;
    beginResetModel();
    m_entities = cache;
    buildColumns();
    m_sortColumn = -1;
    endResetModel();
    startJob();
}

int SearchResults::entityColumn() const {
    for (int c = 0; c < int(m_columns.size()); ++c)
        if (m_columns[size_t(c)].fi < 0) return c;
    return -1;
}

int SearchResults::columnOfField(const QString& field) const {
    const int fi = m_dm.dsMain->fieldIndex(field);
    for (int c = 0; c < int(m_columns.size()); ++c)
        if (fi >= 0 && m_columns[size_t(c)].fi == fi) return c;
    return -1;
}

QString SearchResults::fieldOfColumn(int column) const {
    if (column < 0 || column >= int(m_columns.size()) || m_columns[size_t(column)].fi < 0)
        return {};
    return m_dm.dsMain->fieldDefs()[size_t(m_columns[size_t(column)].fi)].name;
}

// ---------------------------------------------------------------- searching

void SearchResults::setCriteria(const SearchCriteria& c) {
    m_criteria = c;
    startJob();
}

void SearchResults::startJob() {
    m_slice.stop();
    m_job.reset();
    m_matcher.reset();
    if (m_watches.empty() || !m_dm.dsMain->isActive()) {
        showResults({});
        return;
    }
    m_matcher = std::make_unique<SearchMatcher>(m_dm, m_criteria, m_entities);
    m_job = std::make_unique<SearchJob>(m_dm, m_criteria, m_entities);
    m_slice.start(0);
}

void SearchResults::runSlice() {
    if (!m_job) return;
    QElapsedTimer t;
    t.start();
    if (!m_job->step(t, kSliceMs)) {
        m_slice.start(0);
        return;
    }
    std::vector<uint32_t> found = std::move(m_job->result());
    m_job.reset();
    showResults(std::move(found));
}

void SearchResults::finishNow() {
    if (!m_job) return;
    m_slice.stop();
    m_job->runToEnd();
    std::vector<uint32_t> found = std::move(m_job->result());
    m_job.reset();
    showResults(std::move(found));
}

void SearchResults::showResults(std::vector<uint32_t> found) {
    sortSlots(found);
    beginResetModel();
    m_slots = std::move(found);
    endResetModel();
    emit countChanged(count());
    emit searchFinished();
}

// ---------------------------------------------------------------- following the log

// A change while a search runs: the search starts again on the new log,
// and the results shown meanwhile follow the change like finished ones.
bool SearchResults::jobRestarted() {
    if (!m_job) return false;
    m_job = std::make_unique<SearchJob>(m_dm, m_criteria, m_entities);
    m_slice.start(0);
    return true;
}

void SearchResults::listsChanged() {
    if (m_watches.empty()) return;
    // what a correspondent's name or a list's text means to the criteria
    // and the order is worked out again
    startJob();
}

void SearchResults::logAboutToReset() {
    // a load that fails resets twice before it is done
    if (!m_resetting) beginResetModel();
    m_resetting = true;
    m_slice.stop();
    m_job.reset();
    m_matcher.reset();
    m_slots.clear();
}

void SearchResults::logReset() {
    if (!m_resetting) beginResetModel();
    m_resetting = false;
    endResetModel();
    emit countChanged(0);
    startJob();
}

int SearchResults::indexOfSlot(uint32_t slot) const {
    const auto it = std::find(m_slots.begin(), m_slots.end(), slot);
    return it == m_slots.end() ? -1 : int(it - m_slots.begin());
}

void SearchResults::insertSorted(uint32_t slot) {
    const auto it = std::lower_bound(m_slots.begin(), m_slots.end(), slot,
                                     [this](uint32_t a, uint32_t b) { return lessInOrder(a, b); });
    const int row = int(it - m_slots.begin());
    beginInsertRows({}, row, row);
    m_slots.insert(m_slots.begin() + row, slot);
    endInsertRows();
    emit countChanged(count());
}

void SearchResults::logInserted(int pos) {
    jobRestarted();
    if (!m_matcher) return;
    const uint32_t slot = m_dm.dsMain->slotAtPosition(pos);
    if (m_matcher->matches(slot)) insertSorted(slot);
}

void SearchResults::logChanged(int pos) {
    jobRestarted();
    if (!m_matcher) return;
    const uint32_t slot = m_dm.dsMain->slotAtPosition(pos);
    const int row = indexOfSlot(slot);
    const bool matches = m_matcher->matches(slot);
    if (row >= 0) {
        const bool inPlace = matches && (row == 0 || lessInOrder(m_slots[size_t(row - 1)], slot)) &&
                             (row + 1 == count() || lessInOrder(slot, m_slots[size_t(row + 1)]));
        if (inPlace) {
            emit dataChanged(index(row, 0), index(row, columnCount() - 1));
            return;
        }
        beginRemoveRows({}, row, row);
        m_slots.erase(m_slots.begin() + row);
        endRemoveRows();
        emit countChanged(count());
    }
    if (matches) insertSorted(slot);
}

void SearchResults::logAboutToBeRemoved(int pos) {
    jobRestarted();
    const int row = indexOfSlot(m_dm.dsMain->slotAtPosition(pos));
    if (row < 0) return;
    beginRemoveRows({}, row, row);
    m_slots.erase(m_slots.begin() + row);
    endRemoveRows();
    emit countChanged(count());
}

// ---------------------------------------------------------------- the model

int SearchResults::idAt(int row) const {
    if (row < 0 || row >= count()) return 0;
    return m_dm.dsMain->rows().idOf(m_slots[size_t(row)]);
}

int SearchResults::rowOfId(int id) const {
    if (id <= 0 || !m_dm.dsMain->isActive()) return -1;
    const int64_t slot = m_dm.dsMain->rows().idSlot(id);
    return slot < 0 ? -1 : indexOfSlot(uint32_t(slot));
}

int SearchResults::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

int SearchResults::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_columns.size());
}

QString SearchResults::textOf(uint32_t slot, int fi) const {
    if (fi < 0) {
        const int e = m_entities ? m_entities->ofSlot(slot) : -1;
        return e < 0 ? QString() : m_entities->entities()[size_t(e)].name;
    }
    const Table& log = *m_dm.dsMain;
    return log.textOfSlot(slot, fi);
}

QString SearchResults::cellText(int row, int column) const {
    if (row < 0 || row >= count() || column < 0 || column >= columnCount()) return {};
    return textOf(m_slots[size_t(row)], m_columns[size_t(column)].fi);
}

QVariant SearchResults::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= count() || index.column() >= columnCount()) return {};
    const uint32_t slot = m_slots[size_t(index.row())];
    const int fi = m_columns[size_t(index.column())].fi;
    const FieldDef* f = fi < 0 ? nullptr : &m_dm.dsMain->fieldDefs()[size_t(fi)];
    switch (role) {
    case Qt::DisplayRole: {
        QString s = textOf(slot, fi);
        if (f && f->type == FieldType::Memo)
            s.replace(QLatin1Char('\n'), QLatin1Char(' ')).remove(QLatin1Char('\r'));
        return s;
    }
    case Qt::ToolTipRole:
        if (f && f->type == FieldType::Memo) return cutText(textOf(slot, fi), 2000);
        return {};
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(
            (f && f->centered ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignVCenter));
    default:
        return {};
    }
}

QVariant SearchResults::headerData(int section, Qt::Orientation o, int role) const {
    if (o != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= columnCount())
        return {};
    const int fi = m_columns[size_t(section)].fi;
    if (fi < 0) return kEntityTitle;
    const FieldDef& f = m_dm.dsMain->fieldDefs()[size_t(fi)];
    return f.type == FieldType::Memo ? kNoticeTitle : f.displayLabel();
}

// ---------------------------------------------------------------- order

int SearchResults::compareColumn(uint32_t a, uint32_t b) const {
    const int fi = m_columns[size_t(m_sortColumn)].fi;
    const Table& log = *m_dm.dsMain;
    if (fi >= 0) {
        const FieldDef& f = log.fieldDefs()[size_t(fi)];
        if (f.isStored() && !isTextType(f.type)) {
            const Column& c = log.rows().column(fi);
            const bool na = c.isNull(a), nb = c.isNull(b);
            if (na || nb) return na == nb ? 0 : (na ? -1 : 1);
            switch (f.type) {
            case FieldType::Float:
                return (c.floats[a] > c.floats[b]) - (c.floats[a] < c.floats[b]);
            case FieldType::DateTime:
                return (c.times[a] > c.times[b]) - (c.times[a] < c.times[b]);
            default:
                return (c.ints[a] > c.ints[b]) - (c.ints[a] < c.ints[b]);
            }
        }
    }
    const QString ta = fi >= 0 && log.fieldDefs()[size_t(fi)].isStored()
                           ? log.rows().column(fi).texts[a]
                           : textOf(a, fi);
    const QString tb = fi >= 0 && log.fieldDefs()[size_t(fi)].isStored()
                           ? log.rows().column(fi).texts[b]
                           : textOf(b, fi);
    if (ta.isEmpty() || tb.isEmpty()) return int(!ta.isEmpty()) - int(!tb.isEmpty());
    return compareTexts(ta, tb, *m_collator);
}

bool SearchResults::lessInOrder(uint32_t a, uint32_t b) const {
    const RowStore& rows = m_dm.dsMain->rows();
    if (m_sortColumn < 0) return rows.idOf(a) > rows.idOf(b);
    if (m_sortOrder == Qt::DescendingOrder) std::swap(a, b);
    const int c = compareColumn(a, b);
    return c != 0 ? c < 0 : rows.idOf(a) > rows.idOf(b);
}

namespace {

// Sorts 64-bit keys in four passes of 16 bits: a million keys in a few
// milliseconds, where comparisons take a hundred.
void radixSort(std::vector<uint64_t>& keys) {
    std::vector<uint64_t> tmp(keys.size());
    for (int shift = 0; shift < 64; shift += 16) {
        std::vector<size_t> count(65537, 0);
        for (uint64_t k : keys)
            ++count[((k >> shift) & 0xFFFF) + 1];
        for (size_t i = 1; i < count.size(); ++i)
            count[i] += count[i - 1];
        for (uint64_t k : keys)
            tmp[count[(k >> shift) & 0xFFFF]++] = k;
        keys.swap(tmp);
    }
}

} // namespace

// The whole list in the chosen order. Numbers and times sort as they are;
// texts are ranked once per distinct text (found through what the text comes
// from: the string itself, a lookup's key, an entity), and the rows then sort
// by rank and ID in one radix sort. A million rows take a fraction of a
// second instead of a comparison of texts at every step.
void SearchResults::sortSlots(std::vector<uint32_t>& order) const {
    if (m_sortColumn < 0 || order.size() < 2) return; // the search gives the log's order
    const int fi = m_columns[size_t(m_sortColumn)].fi;
    const Table& log = *m_dm.dsMain;
    const RowStore& rows = log.rows();
    const FieldDef* f = fi < 0 ? nullptr : &log.fieldDefs()[size_t(fi)];
    if (f && f->isStored() && !isTextType(f->type)) {
        struct Key {
            uint64_t key; // 0: null
            int id;
            uint32_t slot;
        };
        std::vector<Key> keys(order.size());
        const Column& c = rows.column(fi);
        for (size_t i = 0; i < order.size(); ++i) {
            const uint32_t s = order[i];
            uint64_t k = 0;
            if (!c.isNull(s)) {
                switch (f->type) {
                case FieldType::Float:
                    k = doubleKey(c.floats[s]);
                    break;
                case FieldType::DateTime:
                    k = uint64_t(c.times[s]) ^ (uint64_t(1) << 63);
                    break;
                default:
                    k = uint64_t(int64_t(c.ints[s]) - INT32_MIN) + 1;
                    break;
                }
            }
            keys[i] = {k, rows.idOf(s), s};
        }
        std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
            return a.key != b.key ? a.key < b.key : a.id > b.id;
        });
        for (size_t i = 0; i < keys.size(); ++i)
            order[i] = keys[i].slot;
    } else {
        std::vector<QString> texts;
        std::vector<int> textOfRow(order.size(), -1);
        auto distinct = [&texts](const QString& t) {
            texts.push_back(t);
            return int(texts.size()) - 1;
        };
        if (f && f->isStored()) {
            // shared strings by their address first, the others by content
            QHash<const void*, int> byAddress;
            QHash<QString, int> byText;
            const Column& c = rows.column(fi);
            for (size_t i = 0; i < order.size(); ++i) {
                const QString& t = c.texts[order[i]];
                if (t.isEmpty()) continue;
                auto a = byAddress.constFind(t.constData());
                if (a == byAddress.constEnd()) {
                    auto b = byText.constFind(t);
                    if (b == byText.constEnd()) b = byText.insert(t, distinct(t));
                    a = byAddress.insert(t.constData(), *b);
                }
                textOfRow[i] = *a;
            }
        } else {
            // a lookup: one text per key (CorName: per correspondent); the
            // entity: one per entity
            const int keyFi = f ? log.fieldIndex(f->keyField) : -1;
            // a lookup of a stored text by the other table's ID reads it
            // straight from its column
            const Table* other = f ? f->lookupTable : nullptr;
            const int otherFi = other ? other->fieldIndex(f->lookupResultField) : -1;
            const bool direct = other && other->isActive() && otherFi >= 0 &&
                                other->fieldDefs()[size_t(otherFi)].type == FieldType::String &&
                                other->fieldIndex(f->lookupKeyField) == other->fieldIndex(fld::ID);
            auto lookupText = [&](uint32_t s, int key) -> QString {
                if (!direct) return textOf(s, fi);
                const int64_t os = other->rows().idSlot(key);
                return os < 0 ? QString()
                              : cutText(other->rows().column(otherFi).texts[size_t(os)], f->size);
            };
            std::vector<int> byKey;
            QHash<int, int> byFarKey;
            for (size_t i = 0; i < order.size(); ++i) {
                const uint32_t s = order[i];
                int k = -1;
                if (f) {
                    const Column& kc = rows.column(keyFi);
                    if (kc.isNull(s)) continue;
                    k = kc.ints[s];
                } else {
                    k = m_entities ? m_entities->ofSlot(s) : -1;
                }
                if (k < 0) continue;
                int* slotOfKey = nullptr;
                if (k < (1 << 22)) {
                    if (size_t(k) >= byKey.size()) byKey.resize(size_t(k) + 1, -2);
                    slotOfKey = &byKey[size_t(k)];
                } else {
                    slotOfKey = &byFarKey.insert(k, byFarKey.value(k, -2)).value();
                }
                if (*slotOfKey == -2) {
                    const QString t = lookupText(s, k);
                    *slotOfKey = t.isEmpty() ? -1 : distinct(t);
                }
                textOfRow[i] = *slotOfKey;
            }
        }
        // the distinct texts in order; equal ones share a rank (0: empty)
        std::vector<int> byText(texts.size());
        for (size_t i = 0; i < byText.size(); ++i)
            byText[i] = int(i);
        std::vector<uint32_t> rank(texts.size(), 0);
        auto assign = [&](const auto& cmp) {
            std::sort(byText.begin(), byText.end(), [&](int a, int b) { return cmp(a, b) < 0; });
            for (size_t i = 0; i < byText.size(); ++i)
                rank[size_t(byText[i])] = i > 0 && cmp(byText[i - 1], byText[i]) == 0
                                              ? rank[size_t(byText[i - 1])]
                                              : uint32_t(i) + 1;
        };
        const bool plain = std::all_of(texts.begin(), texts.end(), isPlain);
        if (plain && std::all_of(texts.begin(), texts.end(),
                                 [](const QString& t) { return t.size() <= 10; })) {
            // call signs: ten characters of 37 kinds fit in 60 bits that sort
            // as the texts do, letter case aside
            std::vector<uint64_t> packed(texts.size(), 0);
            for (size_t i = 0; i < texts.size(); ++i)
                for (qsizetype k = 0; k < 10; ++k) {
                    uint64_t code = 0;
                    if (k < texts[i].size()) {
                        const char16_t u = texts[i][k].unicode();
                        code = u == u'/'   ? 1
                               : u <= u'9' ? 2 + (u - u'0')
                               : u <= u'Z' ? 12 + (u - u'A')
                                           : 12 + (u - u'a');
                    }
                    packed[i] = packed[i] << 6 | code;
                }
            assign([&](int a, int b) {
                return (packed[size_t(a)] > packed[size_t(b)]) -
                       (packed[size_t(a)] < packed[size_t(b)]);
            });
        } else if (plain) {
            // letters, digits and slashes: folded once, then compared as they are
            std::vector<QString> folded;
            folded.reserve(texts.size());
            for (const QString& t : texts)
                folded.push_back(t.toCaseFolded());
            assign([&](int a, int b) {
                return QString::compare(folded[size_t(a)], folded[size_t(b)], Qt::CaseSensitive);
            });
        } else {
            std::vector<QCollatorSortKey> sk;
            sk.reserve(texts.size());
            for (const QString& t : texts)
                sk.push_back(m_collator->sortKey(t));
            assign([&](int a, int b) { return sk[size_t(a)].compare(sk[size_t(b)]); });
        }
        // rank above, newest first below
        std::vector<uint64_t> keys(order.size());
        for (size_t i = 0; i < order.size(); ++i) {
            const uint64_t r = textOfRow[i] < 0 ? 0 : rank[size_t(textOfRow[i])];
            keys[i] = (r << 32) | uint32_t(INT32_MAX - rows.idOf(order[i]));
        }
        radixSort(keys);
        for (size_t i = 0; i < keys.size(); ++i)
            order[i] = uint32_t(rows.idSlot(INT32_MAX - int(uint32_t(keys[i]))));
    }
    if (m_sortOrder == Qt::DescendingOrder) std::reverse(order.begin(), order.end());
}

void SearchResults::sort(int column, Qt::SortOrder order) {
    if (column >= columnCount()) column = -1;
    if (column == m_sortColumn && (column < 0 || order == m_sortOrder)) return;
    emit layoutAboutToBeChanged();
    // the current row and selection follow their QSOs
    const QModelIndexList before = persistentIndexList();
    std::vector<uint32_t> slotsBefore;
    for (const QModelIndex& i : before)
        slotsBefore.push_back(i.row() < count() ? m_slots[size_t(i.row())] : UINT32_MAX);
    m_sortColumn = column;
    m_sortOrder = order;
    if (column < 0) {
        std::sort(m_slots.begin(), m_slots.end(), [this](uint32_t a, uint32_t b) {
            return m_dm.dsMain->rows().idOf(a) > m_dm.dsMain->rows().idOf(b);
        });
    } else {
        sortSlots(m_slots);
    }
    QModelIndexList after;
    for (int i = 0; i < before.size(); ++i)
        after << index(indexOfSlot(slotsBefore[size_t(i)]), before[i].column());
    changePersistentIndexList(before, after);
    emit layoutChanged();
}

} // namespace qardel
