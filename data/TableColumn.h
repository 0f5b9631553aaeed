// Storage of one stored field of a table, by slot, and the date-time form
// the files use.
#pragma once

#include "data/BigAlloc.h"
#include "data/FieldDef.h"

#include <QDateTime>
#include <QVariant>

#include <QSet>

#include <cstdio>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace qardel {

constexpr qint64 kMsPerDay = 86400000;

// A local date-time as a plain wall-clock count, exact to the millisecond.
inline qint64 toNaive(const QDateTime& dt) {
    return dt.date().toJulianDay() * kMsPerDay + dt.time().msecsSinceStartOfDay();
}

// The wall-clock date and time of day of such a count.
inline std::pair<QDate, QTime> naiveParts(qint64 ms) {
    qint64 day = ms / kMsPerDay;
    qint64 rest = ms % kMsPerDay;
    if (rest < 0) {
        rest += kMsPerDay;
        --day;
    }
    return {QDate::fromJulianDay(day), QTime::fromMSecsSinceStartOfDay(int(rest))};
}

inline QDateTime fromNaive(qint64 ms) {
    const auto [date, time] = naiveParts(ms);
    return QDateTime(date, time);
}

// The day of the last date read: rows in a file follow each other in time,
// so most dates are the one before and need no calendar work.
struct LastDay {
    int y = -1, mo = -1, d = -1;
    qint64 julian = 0;
};

// The file form of a date-time: "yyyy-MM-dd HH:mm:ss.zzz", read and written
// without the time-zone work of QDateTime (a million rows load in a blink).
inline bool parseNaiveTime(const char* p, int n, qint64* out, LastDay* last = nullptr) {
    if (n != 23) return false;
    auto num = [p](int at, int len, int* v) {
        int r = 0;
        for (int i = at; i < at + len; ++i) {
            if (p[i] < '0' || p[i] > '9') return false;
            r = r * 10 + (p[i] - '0');
        }
        *v = r;
        return true;
    };
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, z = 0;
    if (!num(0, 4, &y) || p[4] != '-' || !num(5, 2, &mo) || p[7] != '-' || !num(8, 2, &d) ||
        p[10] != ' ' || !num(11, 2, &h) || p[13] != ':' || !num(14, 2, &mi) || p[16] != ':' ||
        !num(17, 2, &s) || p[19] != '.' || !num(20, 3, &z))
        return false;
    if (h > 23 || mi > 59 || s > 59) return false;
    qint64 julian;
    if (last && last->y == y && last->mo == mo && last->d == d) {
        julian = last->julian;
    } else {
        if (!QDate::isValid(y, mo, d)) return false;
        julian = QDate(y, mo, d).toJulianDay();
        if (last) *last = LastDay{y, mo, d, julian};
    }
    *out = julian * kMsPerDay + ((h * 60 + mi) * 60 + s) * 1000 + z;
    return true;
}

inline QByteArray formatNaiveTime(qint64 ms) {
    qint64 day = ms / kMsPerDay;
    qint64 rest = ms % kMsPerDay;
    if (rest < 0) {
        rest += kMsPerDay;
        --day;
    }
    const QDate d = QDate::fromJulianDay(day);
    char buf[40];
    const int n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", d.year(),
                                d.month(), d.day(), int(rest / 3600000), int(rest / 60000 % 60),
                                int(rest / 1000 % 60), int(rest % 1000));
    return QByteArray(buf, n);
}

inline bool isTextType(FieldType t) {
    return t == FieldType::String || t == FieldType::Memo;
}

struct Column {
    FieldType type;
    bool intern = false;
    BigVector<int32_t> ints;
    BigVector<double> floats;
    BigVector<qint64> times;
    BigVector<QString> texts;
    BigVector<uint8_t> nulls; // 1 = null
    QSet<QString> pool;       // shares equal texts of repetitive fields
    // the same while loading, looked up by the file's bytes before decoding
    struct BytesHash {
        using is_transparent = void;
        size_t operator()(std::string_view v) const { return std::hash<std::string_view>()(v); }
    };
    using LoadPool = std::unordered_map<std::string, QString, BytesHash, std::equal_to<>>;
    LoadPool loadPool;

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
    void reserve(size_t n) {
        nulls.reserve(n);
        switch (type) {
        case FieldType::AutoInc:
        case FieldType::Integer:
        case FieldType::Boolean:
            ints.reserve(n);
            break;
        case FieldType::Float:
            floats.reserve(n);
            break;
        case FieldType::DateTime:
            times.reserve(n);
            break;
        case FieldType::String:
        case FieldType::Memo:
            texts.reserve(n);
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
        loadPool = {};
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
    // A repetitive text whose bytes were read before takes the same string;
    // false when they are new (or the field is not repetitive). A reader of
    // its own (another thread) passes pools of its own.
    bool setKnownUtf8(uint32_t s, const char* p, int n, const LoadPool& known) {
        if (!intern || n > 64) return false;
        auto it = known.find(std::string_view(p, size_t(n)));
        if (it == known.end()) return false;
        nulls[s] = 0;
        texts[s] = it->second;
        return true;
    }
    void setTextUtf8(uint32_t s, const char* p, int n, int size, LoadPool& known,
                     QSet<QString>& shared) {
        nulls[s] = 0;
        if (intern && n <= 64) {
            auto it = known.find(std::string_view(p, size_t(n)));
            if (it == known.end()) {
                QString t = QString::fromUtf8(p, n);
                if (size > 0) t = cutText(t, size);
                auto pit = shared.constFind(t);
                if (pit == shared.constEnd()) pit = shared.insert(t);
                it = known.emplace(std::string(p, size_t(n)), *pit).first;
            }
            texts[s] = it->second;
        } else {
            QString t = QString::fromUtf8(p, n);
            texts[s] = size > 0 ? cutText(t, size) : t;
        }
    }
    size_t bytes() const {
        size_t b = nulls.capacity() + ints.capacity() * 4 + floats.capacity() * 8 +
                   times.capacity() * 8 + texts.capacity() * sizeof(QString);
        return b;
    }
};

} // namespace qardel
