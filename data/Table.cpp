#include "data/Table.h"

#include "data/TableColumn.h"
#include "data/TableFile.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QSet>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace qardel {

namespace {

const char* kClosed = "Cannot perform this operation on a closed dataset";

bool isIntType(FieldType t) {
    return t == FieldType::AutoInc || t == FieldType::Integer;
}

QLocale numberLocale() {
    QLocale l;
    l.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return l;
}

} // namespace

QString fieldTypeName(FieldType t) {
    switch (t) {
    case FieldType::AutoInc:
        return QStringLiteral("AutoInc");
    case FieldType::Integer:
        return QStringLiteral("Integer");
    case FieldType::Float:
        return QStringLiteral("Float");
    case FieldType::DateTime:
        return QStringLiteral("DateTime");
    case FieldType::Boolean:
        return QStringLiteral("Boolean");
    case FieldType::String:
        return QStringLiteral("String");
    case FieldType::Memo:
        return QStringLiteral("Memo");
    case FieldType::Lookup:
        return QStringLiteral("Lookup");
    }
    return {};
}

QString floatToText(double v) {
    QString s = numberLocale().toString(v, 'g', 15);
    return s;
}

bool textToFloat(const QString& text, double* out) {
    bool ok = false;
    const double v = numberLocale().toDouble(text, &ok);
    if (!ok || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

QString cutText(const QString& text, int size) {
    if (size <= 0 || text.size() <= size) {
        // a text of at most size code units has at most size characters
        return text;
    }
    // count characters (code points), never splitting a surrogate pair
    int chars = 0;
    qsizetype i = 0;
    while (i < text.size() && chars < size) {
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            i += 2;
        else
            i += 1;
        ++chars;
    }
    return text.left(i);
}

// ---------------------------------------------------------------- storage

// ---------------------------------------------------------------- Field

const FieldDef& Field::def() const {
    return m_table->m_fields[m_index];
}

QVariant Field::value() const {
    return m_table->currentValue(m_index);
}
bool Field::isNull() const {
    return !value().isValid();
}

QString Field::asString() const {
    const QVariant v = value();
    if (!v.isValid()) return {};
    return m_table->formatValue(m_index, v);
}

int Field::asInteger() const {
    const QVariant v = value();
    if (!v.isValid()) return 0;
    switch (v.typeId()) {
    case QMetaType::Int:
        return v.toInt();
    case QMetaType::Bool:
        return v.toBool() ? 1 : 0;
    case QMetaType::Double:
        return int(v.toDouble());
    case QMetaType::QString: {
        bool ok = false;
        const int i = v.toString().trimmed().toInt(&ok);
        if (!ok)
            throw DbError(QStringLiteral("'%1' is not a valid integer value").arg(v.toString()));
        return i;
    }
    default:
        break;
    }
    throw DbError(QStringLiteral("Field '%1' cannot be read as an integer").arg(name()));
}

double Field::asFloat() const {
    const QVariant v = value();
    if (!v.isValid()) return 0.0;
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::Double:
    case QMetaType::Bool:
        return v.toDouble();
    case QMetaType::QString: {
        double d = 0;
        if (!textToFloat(v.toString(), &d))
            throw DbError(
                QStringLiteral("'%1' is not a valid floating point value").arg(v.toString()));
        return d;
    }
    default:
        break;
    }
    throw DbError(QStringLiteral("Field '%1' cannot be read as a number").arg(name()));
}

bool Field::asBoolean() const {
    const QVariant v = value();
    if (!v.isValid()) return false;
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString();
        if (s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) return true;
        if (s.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) return false;
        throw DbError(QStringLiteral("'%1' is not a valid boolean value").arg(s));
    }
    return v.toBool();
}

QDateTime Field::asDateTime() const {
    const QVariant v = value();
    if (!v.isValid()) return {};
    if (v.typeId() == QMetaType::QDateTime) return v.toDateTime();
    throw DbError(QStringLiteral("Field '%1' cannot be read as a date and time").arg(name()));
}

QString Field::displayText() const {
    const QVariant v = value();
    if (!v.isValid()) return {};
    return m_table->formatValue(m_index, v);
}

void Field::setValue(const QVariant& v) {
    m_table->setCurrentValue(m_index, v);
}
void Field::setAsString(const QString& v) {
    setValue(v);
}
void Field::setAsInteger(int v) {
    setValue(v);
}
void Field::setAsFloat(double v) {
    setValue(v);
}
void Field::setAsBoolean(bool v) {
    setValue(v);
}
void Field::setAsDateTime(const QDateTime& v) {
    setValue(v);
}
void Field::clear() {
    setValue(QVariant());
}

// ---------------------------------------------------------------- Table

Table::Table(QString name, std::vector<FieldDef> fields, std::vector<IndexDef> indexes,
             QString activeIndex)
    : m_name(std::move(name)), m_fields(std::move(fields)), m_indexes(std::move(indexes)),
      m_activeIndexName(std::move(activeIndex)), m_file(std::make_unique<TableFile>()) {
    for (int i = 0; i < int(m_fields.size()); ++i) {
        m_fieldObjects.push_back(std::make_unique<Field>(this, i));
        m_fieldByName.insert(m_fields[i].name.toLower(), i);
        m_fieldByExact.insert(m_fields[i].name, i);
        if (m_fields[i].type == FieldType::AutoInc) m_idField = i;
    }
    for (const IndexDef& ix : m_indexes) {
        const int fi = fieldIndex(ix.field);
        if (fi < 0) throw DbError(QStringLiteral("Field '%1' not found").arg(ix.field));
        if (ix.name == m_activeIndexName) {
            m_activeField = fi;
            m_activeDescending = ix.descending;
        }
    }
    m_rows = std::make_unique<RowStore>(m_fields, m_indexes, m_idField);
    m_lookups.resize(m_fields.size());
    m_search.resize(m_fields.size());
}

Table::~Table() = default;

int Table::fieldIndex(const QString& name) const {
    const auto exact = m_fieldByExact.constFind(name);
    return exact != m_fieldByExact.constEnd() ? *exact : m_fieldByName.value(name.toLower(), -1);
}

Field& Table::fieldByName(const QString& name) {
    const int i = fieldIndex(name);
    if (i < 0) throw DbError(QStringLiteral("Field '%1' not found").arg(name));
    return *m_fieldObjects[i];
}

void Table::checkActive() const {
    if (m_state == TableState::Inactive) throw DbError(QString::fromLatin1(kClosed));
}

void Table::resetData() {
    notifyListeners([](TableListener* l) { l->rowsAboutToBeReset(); });
    m_rows->reset();
    m_order.clear();
    invalidateSearchIndexes();
    m_lastId = 0;
    m_cursor = -1;
    m_eof = m_bof = true;
    m_buffer.clear();
    m_editSlot = -1;
    m_dirtyIds.clear();
    m_deletedIds.clear();
}

void Table::createEmpty() {
    if (isActive()) close();
    resetData();
    m_state = TableState::Browse;
    m_file->forget();
    notifyListeners([](TableListener* l) { l->rowsReset(); });
}

void Table::load() {
    beginLoad();
    try {
        readFile();
    } catch (...) {
        failLoad();
        throw;
    }
    endLoad();
}

void Table::beginLoad() {
    if (isActive()) close();
    // the file form fills fresh rows; the table opens only when the whole
    // file was read and checked
    resetData();
}

void Table::readFile(const QStringList& searchFields) {
    m_file->load(*this);
    m_rows->finishLoad();
    rebuildOrder();
    for (const QString& name : searchFields) {
        const int fi = fieldIndex(name);
        if (fi >= 0 && m_fields[fi].isStored()) searchIndex(fi);
    }
}

void Table::failLoad() {
    resetData();
    notifyListeners([](TableListener* l) { l->rowsReset(); });
}

void Table::endLoad() {
    m_state = TableState::Browse;
    notifyListeners([](TableListener* l) { l->rowsReset(); });
    if (!m_order.empty()) {
        m_cursor = 0;
        m_eof = m_bof = false;
        scrolled();
    }
}

void Table::keepIdsAbove(int id) {
    m_lastId = std::max(m_lastId, id);
}

int Table::maxValue(const QString& integerField) const {
    const int fi = fieldIndex(integerField);
    if (fi < 0 || !m_rows->hasColumn(fi)) return 0;
    const Column& c = m_rows->column(fi);
    // straight down the column: a free slot holds null
    int best = 0;
    const size_t n = m_rows->slotCount();
    const uint8_t* nulls = c.nulls.data();
    const int32_t* ints = c.ints.data();
    for (size_t s = 0; s < n; ++s)
        best = std::max(best, nulls[s] ? 0 : ints[s]);
    return best;
}

void Table::write() {
    checkActive();
    discardPending();
    m_file->write(*this);
    m_dirtyIds.clear();
    m_deletedIds.clear();
}

void Table::close() {
    if (!isActive()) return;
    discardPending();
    const bool unwritten = ChangeCount > 0 || !m_dirtyIds.empty() || !m_deletedIds.empty();
    if (!filePath.isEmpty() && (unwritten || !QFileInfo::exists(filePath))) write();
    resetData();
    m_state = TableState::Inactive;
    m_file->close();
    notifyListeners([](TableListener* l) { l->rowsReset(); });
}

void Table::abandon() {
    resetData();
    m_state = TableState::Inactive;
    m_file->forget();
    notifyListeners([](TableListener* l) { l->rowsReset(); });
}

// A row left unposted (a refused post) never survives the next move.
void Table::discardPending() {
    if (m_state == TableState::Insert || m_state == TableState::Edit) {
        m_state = TableState::Browse;
        m_buffer.clear();
        m_editSlot = -1;
        notifyCursor();
    }
}

void Table::requireBrowse() {
    checkActive();
    discardPending();
}

void Table::scrolled() {
    notifyCursor();
    if (afterScroll) afterScroll(*this);
}

void Table::notifyCursor() {
    const int pos = m_cursor;
    notifyListeners([pos](TableListener* l) { l->cursorMoved(pos); });
}

void Table::first() {
    requireBrowse();
    if (m_order.empty()) {
        m_cursor = -1;
        m_eof = m_bof = true;
        return;
    }
    m_cursor = 0;
    m_eof = false;
    m_bof = true;
    scrolled();
}

void Table::next() {
    requireBrowse();
    if (m_cursor + 1 < int(m_order.size())) {
        ++m_cursor;
        m_bof = false;
        m_eof = false;
        scrolled();
    } else {
        m_eof = true;
    }
}

bool Table::eof() const {
    checkActive();
    return m_eof;
}
bool Table::bof() const {
    checkActive();
    return m_bof;
}
bool Table::isEmpty() const {
    checkActive();
    return m_order.empty() && m_state != TableState::Insert;
}
int Table::recordCount() const {
    checkActive();
    return int(m_order.size());
}
int Table::recNo() const {
    checkActive();
    return m_order.empty() ? -1 : m_cursor;
}

void Table::moveTo(int pos) {
    requireBrowse();
    if (pos < 0 || pos >= int(m_order.size())) return;
    m_cursor = pos;
    m_eof = false;
    m_bof = pos == 0;
    scrolled();
}

uint32_t Table::slotAt(int pos) const {
    const size_t n = m_order.size();
    return m_activeDescending ? m_order[n - 1 - size_t(pos)] : m_order[size_t(pos)];
}

// Ascending comparison of the active key, ties broken by ID.
bool Table::activeLess(uint32_t a, uint32_t b) const {
    const Column& c = m_rows->column(m_activeField);
    const Column& idc = m_rows->column(m_idField);
    if (isTextType(c.type)) {
        const int r = QString::compare(c.texts[a], c.texts[b], Qt::CaseInsensitive);
        if (r != 0) return r < 0;
        const int r2 = QString::compare(c.texts[a], c.texts[b], Qt::CaseSensitive);
        if (r2 != 0) return r2 < 0;
    } else if (c.type == FieldType::Float) {
        if (c.floats[a] != c.floats[b]) return c.floats[a] < c.floats[b];
    } else if (c.type == FieldType::DateTime) {
        if (c.times[a] != c.times[b]) return c.times[a] < c.times[b];
    } else if (c.ints[a] != c.ints[b]) {
        return c.ints[a] < c.ints[b];
    }
    return idc.ints[a] < idc.ints[b];
}

size_t Table::orderInsertPoint(uint32_t slot) const {
    return m_order.partitionPoint([&](uint32_t a) { return activeLess(a, slot); });
}

int Table::positionOfSlot(uint32_t slot) const {
    const size_t k = orderInsertPoint(slot);
    if (k >= m_order.size() || m_order[k] != slot) return -1;
    return m_activeDescending ? int(m_order.size() - 1 - k) : int(k);
}

void Table::rebuildOrder() {
    std::vector<uint32_t> order;
    order.reserve(m_rows->slotCount());
    for (uint32_t s = 0; s < m_rows->slotCount(); ++s)
        if (m_rows->isLive(s)) order.push_back(s);
    if (!std::is_sorted(order.begin(), order.end(),
                        [this](uint32_t a, uint32_t b) { return activeLess(a, b); }))
        std::sort(order.begin(), order.end(),
                  [this](uint32_t a, uint32_t b) { return activeLess(a, b); });
    m_order.assign(order);
}

std::vector<uint32_t> Table::slotsInIdOrder() const {
    std::vector<std::pair<int, uint32_t>> byId;
    byId.reserve(m_order.size());
    for (uint32_t s : m_order)
        byId.push_back({m_rows->idOf(s), s});
    std::sort(byId.begin(), byId.end());
    std::vector<uint32_t> inIdOrder;
    inIdOrder.reserve(byId.size());
    for (const auto& r : byId)
        inIdOrder.push_back(r.second);
    return inIdOrder;
}

QVariant Table::storedValue(uint32_t slot, int fi) const {
    return m_rows->column(fi).get(slot);
}

// The fields a lookup field reads, found by name once.
const Table::LookupRef& Table::lookupRef(int fi) const {
    LookupRef& l = m_lookups[size_t(fi)];
    if (!l.resolved) {
        const FieldDef& f = m_fields[size_t(fi)];
        l.keyFi = fieldIndex(f.keyField);
        if (f.lookupTable) {
            l.otherKeyFi = f.lookupTable->fieldIndex(f.lookupKeyField);
            l.otherResultFi = f.lookupTable->fieldIndex(f.lookupResultField);
        }
        l.resolved = true;
    }
    return l;
}

QVariant Table::valueOfSlot(uint32_t slot, int fi) const {
    const FieldDef& f = m_fields[fi];
    if (f.isStored()) return storedValue(slot, fi);
    const LookupRef& l = lookupRef(fi);
    if (l.keyFi < 0 || !f.lookupTable) return {};
    const QVariant key = valueOfSlot(slot, l.keyFi);
    if (!key.isValid()) return {};
    return f.lookupTable->lookupValueAt(l.otherKeyFi, key, l.otherResultFi, f.size);
}

QVariant Table::lookupValue(const QString& keyField, const QVariant& key,
                            const QString& resultField, int size) const {
    return lookupValueAt(fieldIndex(keyField), key, fieldIndex(resultField), size);
}

QVariant Table::lookupValueAt(int kfi, const QVariant& key, int rfi, int size) const {
    if (!isActive()) return {};
    if (kfi < 0 || rfi < 0) return {};
    const int64_t slot = findSlot(kfi, key);
    if (slot < 0) return {};
    QVariant v = valueOfSlot(uint32_t(slot), rfi);
    if (v.isValid() && v.typeId() == QMetaType::QString && size > 0)
        v = cutText(v.toString(), size);
    return v;
}

QVariant Table::valueAt(int pos, int fi) const {
    if (!isActive() || pos < 0 || pos >= int(m_order.size())) return {};
    return valueOfSlot(slotAt(pos), fi);
}

int64_t Table::findSlot(int fi, const QVariant& key) const {
    if (fi == m_idField) {
        bool ok = false;
        const int id = key.toInt(&ok);
        if (!ok) return -1;
        return m_rows->idSlot(id);
    }
    for (uint32_t s : m_order)
        if (valueOfSlot(s, fi) == key) return s;
    return -1;
}

QVariant Table::currentValue(int fi) const {
    checkActive();
    if (m_state == TableState::Insert || m_state == TableState::Edit) {
        const FieldDef& f = m_fields[fi];
        if (f.isStored()) return m_buffer[fi];
        const LookupRef& l = lookupRef(fi);
        if (l.keyFi < 0 || !f.lookupTable) return {};
        const QVariant key = currentValue(l.keyFi);
        if (!key.isValid()) return {};
        return f.lookupTable->lookupValueAt(l.otherKeyFi, key, l.otherResultFi, f.size);
    }
    if (m_order.empty() || m_cursor < 0) return {};
    return valueOfSlot(slotAt(m_cursor), fi);
}

QVariant Table::coerce(int fi, const QVariant& v) const {
    if (!v.isValid() || v.isNull()) return {};
    const FieldDef& f = m_fields[fi];
    bool ok = true;
    switch (f.type) {
    case FieldType::AutoInc:
    case FieldType::Integer: {
        int i = 0;
        if (v.typeId() == QMetaType::QString)
            i = v.toString().trimmed().toInt(&ok);
        else if (v.typeId() == QMetaType::Double)
            i = int(v.toDouble());
        else
            i = v.toInt(&ok);
        if (!ok)
            throw DbError(QStringLiteral("'%1' is not a valid integer value").arg(v.toString()));
        return i;
    }
    case FieldType::Float: {
        double d = 0;
        if (v.typeId() == QMetaType::QString) {
            ok = textToFloat(v.toString(), &d);
        } else {
            d = v.toDouble(&ok);
            ok = ok && std::isfinite(d);
        }
        if (!ok)
            throw DbError(
                QStringLiteral("'%1' is not a valid floating point value").arg(v.toString()));
        return d;
    }
    case FieldType::DateTime: {
        const QDateTime dt = v.toDateTime();
        if (!dt.isValid())
            throw DbError(QStringLiteral("'%1' is not a valid date and time").arg(v.toString()));
        return dt;
    }
    case FieldType::Boolean:
        if (v.typeId() == QMetaType::QString) {
            const QString s = v.toString();
            if (s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) return true;
            if (s.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) return false;
            throw DbError(QStringLiteral("'%1' is not a valid boolean value").arg(s));
        }
        return v.toBool();
    case FieldType::String:
        return cutText(v.toString(), f.size);
    case FieldType::Memo:
        return v.toString();
    case FieldType::Lookup:
        break;
    }
    return {};
}

void Table::setCurrentValue(int fi, const QVariant& v) {
    checkActive();
    const FieldDef& f = m_fields[fi];
    if (m_state != TableState::Insert && m_state != TableState::Edit)
        throw DbError(QStringLiteral("Dataset not in edit or insert mode"));
    if (!f.isStored() || f.type == FieldType::AutoInc)
        throw DbError(QStringLiteral("Field '%1' cannot be modified").arg(f.displayLabel()));
    m_buffer[fi] = coerce(fi, v);
}

namespace {
// The locale's short date and the time to the second, as the grid shows them.
// The locale's own formatting reads its patterns anew for every value, and a
// page of the log shows twenty; the texts of the last days shown are kept
// (a page holds a few days), and the time of day is written directly where
// the locale writes ASCII digits.
QString formatDateTime(const QDate& d, const QTime& t) {
    struct Day {
        qint64 julian = std::numeric_limits<qint64>::min();
        QString text;
    };
    struct Texts {
        QLocale locale;
        QString pattern;
        bool asciiDigits = true;
        std::array<Day, 16> days;
        unsigned next = 0;
    };
    thread_local Texts kept;
    const QLocale l;
    if (!(kept.locale == l) || kept.pattern.isEmpty()) {
        kept = Texts{};
        kept.locale = l;
        kept.pattern = l.dateFormat(QLocale::ShortFormat);
        kept.asciiDigits = l.zeroDigit() == QLatin1String("0");
    }
    const qint64 julian = d.toJulianDay();
    const Day* day = nullptr;
    for (const Day& k : kept.days)
        if (k.julian == julian) day = &k;
    if (!day) {
        Day& k = kept.days[kept.next++ % kept.days.size()];
        k = {julian, l.toString(d, kept.pattern)};
        day = &k;
    }
    if (!kept.asciiDigits) return day->text + QLatin1Char(' ') + l.toString(t, u"HH:mm:ss");
    const int hms[3] = {t.hour(), t.minute(), t.second()};
    char16_t clock[9] = {u' ', 0, 0, u':', 0, 0, u':', 0, 0};
    for (int i = 0; i < 3; ++i) {
        clock[1 + 3 * i] = char16_t(u'0' + hms[i] / 10);
        clock[2 + 3 * i] = char16_t(u'0' + hms[i] % 10);
    }
    QString text;
    text.reserve(day->text.size() + 9);
    return text.append(day->text).append(QStringView(clock, 9));
}
} // namespace

QString Table::formatValue(int fi, const QVariant& v) const {
    if (!v.isValid()) return {};
    const FieldDef& f = m_fields[fi];
    switch (v.typeId()) {
    case QMetaType::Double:
        return floatToText(v.toDouble());
    case QMetaType::Bool:
        if (!f.trueText.isEmpty() || !f.falseText.isEmpty())
            return v.toBool() ? f.trueText : f.falseText;
        return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case QMetaType::QDateTime: {
        const QDateTime dt = v.toDateTime();
        return formatDateTime(dt.date(), dt.time());
    }
    default:
        return v.toString();
    }
}

QString Table::textOfSlot(uint32_t slot, int fi) const {
    if (m_fields[fi].type != FieldType::DateTime) return formatValue(fi, valueOfSlot(slot, fi));
    const Column& c = m_rows->column(fi);
    if (c.isNull(slot)) return {};
    const auto [date, time] = naiveParts(c.times[slot]);
    return formatDateTime(date, time);
}

QString Table::textAt(int pos, int fi) const {
    if (!isActive() || pos < 0 || pos >= int(m_order.size())) return {};
    return textOfSlot(slotAt(pos), fi);
}

// ---------------------------------------------------------------- locate

void Table::invalidateSearchIndexes() {
    for (auto& s : m_search)
        s.reset();
}

SearchIndex& Table::searchIndex(int fi) {
    if (m_search[fi]) return *m_search[fi];
    auto ix = std::make_unique<SearchIndex>(*m_rows, fi, [this](uint32_t a, uint32_t b) {
        return m_activeDescending ? activeLess(b, a) : activeLess(a, b);
    });
    std::vector<uint32_t> inOrder = m_order.toVector();
    if (m_activeDescending) std::reverse(inOrder.begin(), inOrder.end());
    ix->build(inOrder);
    m_search[fi] = std::move(ix);
    return *m_search[fi];
}

void Table::prepareLocate(const QString& fieldName) {
    const int fi = fieldIndex(fieldName);
    if (fi >= 0 && isActive() && m_fields[fi].isStored()) searchIndex(fi);
}

// Remove a row from every built search index; the columns still hold its
// old values.
void Table::indexesRemove(uint32_t slot) {
    for (auto& p : m_search)
        if (p) p->remove(slot);
}

void Table::indexesInsert(uint32_t slot) {
    for (auto& p : m_search)
        if (p) p->insert(slot);
}

bool Table::matches(const QVariant& stored, const QVariant& value, int fi, LocateOptions o,
                    const QString& foldedValue) const {
    const FieldType t = m_fields[fi].type;
    const bool ci = o & loCaseInsensitive;
    const bool partial = o & loPartialKey;
    if (isTextType(t) || t == FieldType::Lookup || partial || ci) {
        const QString s = stored.isValid() ? formatValue(fi, stored) : QString();
        if (ci) {
            const QString f = s.toCaseFolded();
            return partial ? f.startsWith(foldedValue) : f == foldedValue;
        }
        const QString val = value.toString();
        return partial ? s.startsWith(val) : s == val;
    }
    if (!value.isValid() || (value.typeId() == QMetaType::QString && value.toString().isEmpty()))
        return !stored.isValid();
    if (!stored.isValid()) return false;
    switch (t) {
    case FieldType::AutoInc:
    case FieldType::Integer: {
        bool ok = false;
        const int i = value.toInt(&ok);
        return ok && stored.toInt() == i;
    }
    case FieldType::Float:
        return stored.toDouble() == value.toDouble();
    case FieldType::Boolean:
        return stored.toBool() == value.toBool();
    case FieldType::DateTime:
        return stored.toDateTime() == value.toDateTime();
    default:
        return stored == value;
    }
}

bool Table::locate(const QString& fieldName, const QVariant& value, LocateOptions options) {
    requireBrowse();
    const int64_t found = findFirst(fieldName, value, options);
    if (found < 0) return false;
    m_cursor = positionOfSlot(uint32_t(found));
    m_eof = false;
    m_bof = m_cursor == 0;
    scrolled();
    return true;
}

int64_t Table::find(const QString& fieldName, const QVariant& value, LocateOptions options) {
    checkActive();
    return findFirst(fieldName, value, options);
}

std::vector<uint32_t> Table::slotsWhere(const QString& integerField, int key) {
    checkActive();
    const int fi = fieldIndex(integerField);
    if (fi < 0) throw DbError(QStringLiteral("Field '%1' not found").arg(integerField));
    if (!isIntType(m_fields[fi].type) || !m_fields[fi].isStored())
        throw DbError(QStringLiteral("Field '%1' is not a stored integer field").arg(integerField));
    const SearchIndex& ix = searchIndex(fi);
    const SlotSequence& entries = ix.entries();
    auto it = entries.at(entries.partitionPoint([&](uint32_t s) { return ix.intKey(s) < key; }));
    std::vector<uint32_t> out;
    for (; it != entries.end() && ix.intKey(*it) == key; ++it)
        out.push_back(*it);
    return out;
}

int64_t Table::findFirst(const QString& fieldName, const QVariant& value, LocateOptions options) {
    const int fi = fieldIndex(fieldName);
    if (fi < 0) throw DbError(QStringLiteral("Field '%1' not found").arg(fieldName));
    const FieldType t = m_fields[fi].type;
    const bool ci = options & loCaseInsensitive;
    const bool partial = options & loPartialKey;
    int64_t found = -1;

    if (fi == m_idField && !partial) {
        found = findSlot(fi, value);
    } else if (isTextType(t) && m_fields[fi].isStored() && t != FieldType::Memo) {
        SearchIndex& ix = searchIndex(fi);
        const QString val = value.toString();
        const QString fv = val.toCaseFolded();
        // First slot whose folded key is >= fv.
        const SlotSequence& entries = ix.entries();
        const size_t lb =
            entries.partitionPoint([&](uint32_t s) { return ix.folded(s).compare(fv) < 0; });
        const Column& c = m_rows->column(fi);
        for (auto it = entries.at(lb); it != entries.end(); ++it) {
            const uint32_t s = *it;
            const QString& fk = ix.folded(s);
            const bool keyHit = partial ? fk.startsWith(fv) : fk == fv;
            if (!keyHit) break;
            const bool hit = ci ? true : (partial ? c.texts[s].startsWith(val) : c.texts[s] == val);
            if (!hit) continue;
            if (!partial) {
                // ties are in active order: the first hit is the answer
                found = s;
                break;
            }
            if (found < 0 || (m_activeDescending ? activeLess(uint32_t(found), s)
                                                 : activeLess(s, uint32_t(found))))
                found = s;
        }
    } else if (isIntType(t) && m_fields[fi].isStored() && !partial && !ci) {
        bool ok = false;
        const int key = value.toInt(&ok);
        if (ok && value.isValid()) {
            SearchIndex& ix = searchIndex(fi);
            const Column& c = m_rows->column(fi);
            const SlotSequence& entries = ix.entries();
            const size_t lb =
                entries.partitionPoint([&](uint32_t s) { return ix.intKey(s) < key; });
            if (lb < entries.size() && !c.nulls[entries[lb]] && c.ints[entries[lb]] == key)
                found = entries[lb];
        } else {
            const QString fv;
            for (int pos = 0; pos < int(m_order.size()); ++pos)
                if (matches(valueOfSlot(slotAt(pos), fi), value, fi, options, fv)) {
                    found = slotAt(pos);
                    break;
                }
        }
    } else {
        const QString fv = value.toString().toCaseFolded();
        for (int pos = 0; pos < int(m_order.size()); ++pos) {
            const uint32_t s = slotAt(pos);
            if (matches(valueOfSlot(s, fi), value, fi, options, fv)) {
                found = s;
                break;
            }
        }
    }
    return found;
}

// ---------------------------------------------------------------- editing

void Table::append() {
    requireBrowse();
    m_buffer.assign(m_fields.size(), QVariant());
    m_editSlot = -1;
    m_state = TableState::Insert;
    if (afterInsert) afterInsert(*this);
    if (afterScroll) afterScroll(*this);
}

void Table::edit() {
    requireBrowse();
    if (m_order.empty()) {
        append();
        return;
    }
    const uint32_t s = slotAt(m_cursor);
    m_buffer.assign(m_fields.size(), QVariant());
    for (int i = 0; i < int(m_fields.size()); ++i)
        if (m_fields[i].isStored()) m_buffer[i] = storedValue(s, i);
    m_editSlot = s;
    m_state = TableState::Edit;
}

void Table::cancel() {
    checkActive();
    discardPending();
}

void Table::checkUnique(const std::vector<QVariant>& buf, int64_t ownSlot) const {
    for (int fi : m_rows->uniqueFields()) {
        const QVariant v = buf[size_t(fi)];
        if (!v.isValid()) continue;
        if (m_rows->uniqueHolder(fi, v.toString(), ownSlot) >= 0)
            throw DbError(QStringLiteral("Key violation: field '%1' already holds the value '%2'")
                              .arg(m_fields[size_t(fi)].displayLabel(), v.toString()));
    }
}

void Table::post() {
    checkActive();
    if (m_state != TableState::Insert && m_state != TableState::Edit) return;
    // Every check comes before the first change, so a refused post leaves
    // every stored row as it was and the row still being edited.
    for (int i = 0; i < int(m_fields.size()); ++i) {
        const FieldDef& f = m_fields[i];
        if (f.isStored() && f.required && f.type != FieldType::AutoInc && !m_buffer[i].isValid())
            throw DbError(QStringLiteral("Field '%1' must have a value").arg(f.displayLabel()));
    }
    checkUnique(m_buffer, m_editSlot);

    if (m_state == TableState::Insert) {
        if (m_lastId >= INT32_MAX)
            throw DbError(QStringLiteral("No more row numbers are free in table '%1' (file '%2')")
                              .arg(m_name, QDir::toNativeSeparators(filePath)));
        const int id = m_lastId + 1;
        m_buffer[m_idField] = id;
        const uint32_t s = m_rows->newSlot();
        for (int i = 0; i < int(m_fields.size()); ++i)
            if (m_rows->hasColumn(i)) m_rows->column(i).set(s, m_buffer[i]);
        m_lastId = id;
        m_rows->idInsert(id, s);
        m_rows->uniqueInsert(s);
        const size_t k = orderInsertPoint(s);
        const int pos = m_activeDescending ? int(m_order.size() - k) : int(k);
        notifyListeners([pos](TableListener* l) { l->rowAboutToBeInserted(pos); });
        m_order.insert(k, s);
        indexesInsert(s);
        m_state = TableState::Browse;
        m_buffer.clear();
        m_cursor = pos;
        m_eof = false;
        m_bof = pos == 0;
        m_dirtyIds.push_back(uint32_t(id));
        notifyListeners([pos](TableListener* l) { l->rowInserted(pos); });
        notifyCursor();
    } else {
        const uint32_t s = uint32_t(m_editSlot);
        const int oldPos = positionOfSlot(s);
        notifyListeners([oldPos](TableListener* l) { l->rowAboutToBeChanged(oldPos); });
        indexesRemove(s);
        m_rows->uniqueRemove(s);
        const size_t oldK =
            m_activeDescending ? m_order.size() - 1 - size_t(oldPos) : size_t(oldPos);
        m_order.erase(oldK);
        for (int i = 0; i < int(m_fields.size()); ++i)
            if (m_rows->hasColumn(i) && i != m_idField) m_rows->column(i).set(s, m_buffer[i]);
        m_rows->uniqueInsert(s);
        const size_t k = orderInsertPoint(s);
        m_order.insert(k, s);
        indexesInsert(s);
        const int pos = positionOfSlot(s);
        m_state = TableState::Browse;
        m_buffer.clear();
        m_editSlot = -1;
        m_cursor = pos;
        m_eof = false;
        m_bof = pos == 0;
        m_dirtyIds.push_back(uint32_t(m_rows->idOf(s)));
        if (pos != oldPos)
            notifyListeners([oldPos, pos](TableListener* l) { l->rowMoved(oldPos, pos); });
        notifyListeners([pos](TableListener* l) { l->rowChanged(pos); });
        notifyCursor();
    }
    if (afterPost) afterPost(*this);
}

void Table::deleteRecord() {
    checkActive();
    if (m_state == TableState::Insert) {
        discardPending();
        return;
    }
    discardPending();
    if (m_order.empty())
        throw DbError(QStringLiteral("Cannot perform this operation on an empty dataset"));
    const int pos = m_cursor;
    const uint32_t s = slotAt(pos);
    const int id = m_rows->idOf(s);
    notifyListeners([pos](TableListener* l) { l->rowAboutToBeRemoved(pos); });
    indexesRemove(s);
    m_rows->uniqueRemove(s);
    const size_t k = m_activeDescending ? m_order.size() - 1 - size_t(pos) : size_t(pos);
    m_order.erase(k);
    m_rows->idRemove(id);
    m_rows->freeSlot(s);
    m_deletedIds.push_back(id);
    const int n = int(m_order.size());
    if (n == 0) {
        m_cursor = -1;
        m_eof = m_bof = true;
    } else {
        m_cursor = pos < n ? pos : n - 1;
        m_eof = false;
        m_bof = m_cursor == 0;
    }
    notifyListeners([pos](TableListener* l) { l->rowRemoved(pos); });
    if (afterDelete) afterDelete(*this);
    scrolled(); // also when the last row went: the log is then empty
}

// ---------------------------------------------------------------- misc

void Table::addListener(TableListener* l) {
    m_listeners.push_back(l);
}
void Table::removeListener(TableListener* l) {
    m_listeners.erase(std::remove(m_listeners.begin(), m_listeners.end(), l), m_listeners.end());
}
void Table::notifyListeners(const std::function<void(TableListener*)>& f) {
    const auto copy = m_listeners;
    for (TableListener* l : copy)
        f(l);
}

size_t Table::approxBytes() const {
    size_t b = m_rows->approxBytes() + m_order.approxBytes();
    for (const auto& s : m_search)
        if (s) b += s->approxBytes();
    return b;
}

} // namespace qardel
