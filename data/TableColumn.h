// Storage of one stored field of a table, by slot. Shared by the engine and
// its file form only.
#pragma once

#include "Table.h"

#include <QSet>

namespace qardel {

constexpr qint64 kMsPerDay = 86400000;

// A local date-time as a plain wall-clock count, exact to the millisecond.
inline qint64 toNaive(const QDateTime& dt) {
    return dt.date().toJulianDay() * kMsPerDay + dt.time().msecsSinceStartOfDay();
}

inline QDateTime fromNaive(qint64 ms) {
    qint64 day = ms / kMsPerDay;
    qint64 rest = ms % kMsPerDay;
    if (rest < 0) {
        rest += kMsPerDay;
        --day;
    }
    return QDateTime(QDate::fromJulianDay(day), QTime::fromMSecsSinceStartOfDay(int(rest)));
}

inline bool isTextType(FieldType t) {
    return t == FieldType::String || t == FieldType::Memo;
}

struct Table::Column {
    FieldType type;
    bool intern = false;
    std::vector<int32_t> ints;
    std::vector<double> floats;
    std::vector<qint64> times;
    std::vector<QString> texts;
    std::vector<uint8_t> nulls; // 1 = null
    QSet<QString> pool;         // shares equal texts of repetitive fields

    explicit Column(FieldType t) : type(t) {}

    void resize(size_t n) {
        nulls.resize(n, 1);
        switch (type) {
        case FieldType::AutoInc:
        case FieldType::Integer:
        case FieldType::Boolean:
            ints.resize(n, 0);
            break;
        case FieldType::Float:
            floats.resize(n, 0.0);
            break;
        case FieldType::DateTime:
            times.resize(n, 0);
            break;
        case FieldType::String:
        case FieldType::Memo:
            texts.resize(n);
            break;
        case FieldType::Lookup:
            break;
        }
    }
    void clearAll() {
        ints = {};
        floats = {};
        times = {};
        texts = {};
        nulls = {};
        pool = {};
    }
    bool isNull(uint32_t s) const { return nulls[s] != 0; }
    QVariant get(uint32_t s) const {
        if (nulls[s]) return {};
        switch (type) {
        case FieldType::AutoInc:
        case FieldType::Integer:
            return ints[s];
        case FieldType::Boolean:
            return ints[s] != 0;
        case FieldType::Float:
            return floats[s];
        case FieldType::DateTime:
            return fromNaive(times[s]);
        case FieldType::String:
        case FieldType::Memo:
            return texts[s];
        case FieldType::Lookup:
            break;
        }
        return {};
    }
    void setNull(uint32_t s) {
        nulls[s] = 1;
        if (isTextType(type)) texts[s] = QString();
    }
    // v is already coerced to the field's type
    void set(uint32_t s, const QVariant& v) {
        if (!v.isValid()) {
            setNull(s);
            return;
        }
        nulls[s] = 0;
        switch (type) {
        case FieldType::AutoInc:
        case FieldType::Integer:
            ints[s] = v.toInt();
            break;
        case FieldType::Boolean:
            ints[s] = v.toBool() ? 1 : 0;
            break;
        case FieldType::Float:
            floats[s] = v.toDouble();
            break;
        case FieldType::DateTime:
            times[s] = toNaive(v.toDateTime());
            break;
        case FieldType::String:
        case FieldType::Memo:
            setText(s, v.toString());
            break;
        case FieldType::Lookup:
            break;
        }
    }
    void setText(uint32_t s, const QString& t) {
        nulls[s] = 0;
        if (intern && t.size() <= 64) {
            auto it = pool.constFind(t);
            if (it == pool.constEnd()) it = pool.insert(t);
            texts[s] = *it;
        } else {
            texts[s] = t;
        }
    }
    size_t bytes() const {
        size_t b = nulls.capacity() + ints.capacity() * 4 + floats.capacity() * 8 +
                   times.capacity() * 8 + texts.capacity() * sizeof(QString);
        return b;
    }
};

} // namespace qardel
