// Helpers for the database-layer tests: catching engine errors, reading table
// files behind the engine's back, and dumping table contents exactly.
#pragma once

#include "data/Fields.h"
#include "data/FileSync.h"
#include "data/Schema.h"
#include "data/Table.h"
#include "data/TableFile.h"
#include "data/uDM.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QVariant>

#include <sqlite3.h>
#include <sys/resource.h>

#include <csignal>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

namespace testutil {

const QString kNoError = QStringLiteral("<no error>");

// The nine tables, opened empty and without files.
struct Fixture {
    qardel::LogTables t = qardel::createLogTables();
    Fixture() {
        for (qardel::Table* x : all())
            x->createEmpty();
    }
    std::vector<qardel::Table*> all() const {
        return {t.main.get(),      t.cors.get(),   t.bands.get(), t.modes.get(), t.rs.get(),
                t.countryes.get(), t.cityes.get(), t.names.get(), t.ini.get()};
    }
};

// The message of the DbError that f throws, or "<no error>".
template <class F> QString errorOf(F&& f) {
    try {
        f();
    } catch (const qardel::DbError& e) {
        return e.message();
    }
    return QStringLiteral("<no error>");
}

inline QByteArray readBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QByteArray("<unreadable>");
    return f.readAll();
}

inline bool writeBytes(const QString& path, const QByteArray& data) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return f.write(data) == data.size();
}

// Runs SQL on a file with the plain SQLite library, as another program would.
// Returns the error text, empty on success.
inline QString execSql(const QString& path, const QString& sql) {
    sqlite3* db = nullptr;
    QString err;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK) {
        err = QStringLiteral("open: ") + QString::fromUtf8(sqlite3_errmsg(db));
    } else {
        char* msg = nullptr;
        if (sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &msg) != SQLITE_OK)
            err = QString::fromUtf8(msg ? msg : "error");
        sqlite3_free(msg);
    }
    sqlite3_close(db);
    return err;
}

// One text per result row: each cell as storage class and exact value
// (floats as their bit pattern), so two files compare exactly.
inline QStringList queryRows(const QString& path, const QString& sql) {
    QStringList rows;
    // Read-write, so that closing cleans up the side files of a write-ahead
    // log the way a well-behaved program does; nothing is written.
    sqlite3* db = nullptr;
    const QByteArray file = QFile::encodeName(path);
    if (sqlite3_open_v2(file.constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        db = nullptr;
        if (sqlite3_open_v2(file.constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            sqlite3_close(db);
            return {QStringLiteral("<cannot open>")};
        }
    }
    sqlite3_exec(db, "PRAGMA query_only=ON", nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &st, nullptr) != SQLITE_OK) {
        rows << QStringLiteral("<error: %1>").arg(QString::fromUtf8(sqlite3_errmsg(db)));
    } else {
        while (sqlite3_step(st) == SQLITE_ROW) {
            QStringList cells;
            for (int c = 0; c < sqlite3_column_count(st); ++c) {
                switch (sqlite3_column_type(st, c)) {
                case SQLITE_NULL:
                    cells << QStringLiteral("null");
                    break;
                case SQLITE_INTEGER:
                    cells << QStringLiteral("i:%1").arg(sqlite3_column_int64(st, c));
                    break;
                case SQLITE_FLOAT:
                    cells << QStringLiteral("f:%1").arg(
                        std::bit_cast<quint64>(sqlite3_column_double(st, c)), 16, 16,
                        QLatin1Char('0'));
                    break;
                case SQLITE_TEXT:
                    cells << QStringLiteral("t:") +
                                 QString::fromUtf8(
                                     reinterpret_cast<const char*>(sqlite3_column_text(st, c)),
                                     sqlite3_column_bytes(st, c));
                    break;
                default:
                    cells << QStringLiteral("b:") +
                                 QString::fromLatin1(QByteArray(static_cast<const char*>(
                                                                    sqlite3_column_blob(st, c)),
                                                                sqlite3_column_bytes(st, c))
                                                         .toHex());
                }
            }
            rows << cells.join(QLatin1Char('|'));
        }
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return rows;
}

// The records of a table file in ID order, with their column declarations first.
inline QStringList dumpRecords(const QString& path) {
    return queryRows(path, QStringLiteral("SELECT name, type FROM pragma_table_info('records')")) +
           queryRows(path, QStringLiteral("SELECT * FROM records ORDER BY ID"));
}

// What a table file holds, read through SQLite (so whatever its journal
// holds counts): column declarations, records and metadata. Two files with
// equal content load as the same table.
inline QStringList fileContent(const QString& path) {
    return dumpRecords(path) + queryRows(path, QStringLiteral("SELECT * FROM meta ORDER BY 1"));
}

inline QString metaValue(const QString& path, const QString& key) {
    const QStringList r =
        queryRows(path, QStringLiteral("SELECT value FROM meta WHERE key='%1'").arg(key));
    return r.size() == 1 ? r.first().mid(2) : QString();
}

// A value exactly: type and content, doubles by their bits, times to the ms.
inline QString exact(const QVariant& v) {
    if (!v.isValid()) return QStringLiteral("null");
    switch (v.typeId()) {
    case QMetaType::Double:
        return QStringLiteral("f:%1").arg(std::bit_cast<quint64>(v.toDouble()), 16, 16,
                                          QLatin1Char('0'));
    case QMetaType::QDateTime:
        return QStringLiteral("d:") +
               v.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    case QMetaType::Bool:
        return v.toBool() ? QStringLiteral("b:1") : QStringLiteral("b:0");
    case QMetaType::Int:
        return QStringLiteral("i:%1").arg(v.toInt());
    default:
        return QStringLiteral("t:") + v.toString();
    }
}

// The stored fields of every row, in ID order, read without moving the cursor.
inline QStringList dumpTable(const qardel::Table& t) {
    QList<QPair<int, QString>> rows;
    const int idField = t.fieldIndex(QStringLiteral("ID"));
    for (int pos = 0; pos < t.recordCount(); ++pos) {
        QStringList cells;
        for (int fi = 0; fi < t.fieldCount(); ++fi)
            if (t.fieldDefs()[size_t(fi)].isStored()) cells << exact(t.valueAt(pos, fi));
        rows.append({t.valueAt(pos, idField).toInt(), cells.join(QLatin1Char('|'))});
    }
    std::sort(rows.begin(), rows.end());
    QStringList out;
    for (const auto& r : rows)
        out << r.second;
    return out;
}

// Empty when equal, else where two dumps first differ (cut short, for memos).
inline QString firstDifference(const QStringList& a, const QStringList& b) {
    for (qsizetype i = 0; i < std::max(a.size(), b.size()); ++i) {
        const QString x = a.value(i, QStringLiteral("<none>"));
        const QString y = b.value(i, QStringLiteral("<none>"));
        if (x != y) return QStringLiteral("row %1: %2 / %3").arg(i).arg(x.left(300), y.left(300));
    }
    return {};
}

// Appends a row with the given field values, posts it and returns its ID.
inline int addRow(qardel::Table& t,
                  std::initializer_list<std::pair<const char*, QVariant>> values) {
    t.append();
    for (const auto& [name, value] : values)
        t.fieldByName(QString::fromUtf8(name)).setValue(value);
    t.post();
    return t.fieldByName(qardel::fld::ID).asInteger();
}

// The IDs of all rows in the table's active order.
inline QList<int> idsInOrder(const qardel::Table& t) {
    QList<int> ids;
    const int idField = t.fieldIndex(QStringLiteral("ID"));
    for (int pos = 0; pos < t.recordCount(); ++pos)
        ids << t.valueAt(pos, idField).toInt();
    return ids;
}

// Fault injection: a write throws at the named step, after `skip` passes
// through it.
inline QByteArray g_failAt;
inline int g_skip = 0;
inline void injectFailure(const char* point) {
    if (g_failAt == point && g_skip-- <= 0)
        throw qardel::DbError(QStringLiteral("injected failure"));
}
struct HookGuard {
    explicit HookGuard(const char* point, int skip = 0) {
        g_failAt = point;
        g_skip = skip;
        qardel::TableFile::faultHook = injectFailure;
    }
    ~HookGuard() { qardel::TableFile::faultHook = nullptr; }
    HookGuard(const HookGuard&) = delete;
    HookGuard& operator=(const HookGuard&) = delete;
};

// The program's own file operations while it lives, as lines added to `into`
// ("sync NAME", "sync folder NAME", "rename A -> B", "create NAME",
// "remove NAME"), each name relative to `folder` ("" for the folder itself).
struct FileOps : qardel::FileOpObserver {
    FileOps(const QString& folder, QStringList* into) : m_folder(folder), m_into(into) {
        qardel::setFileOpObserver(this);
    }
    ~FileOps() override { qardel::setFileOpObserver(nullptr); }
    FileOps(const FileOps&) = delete;
    FileOps& operator=(const FileOps&) = delete;

    void created(const QString& path) override { *m_into << "create " + name(path); }
    void renamed(const QString& from, const QString& to) override {
        *m_into << "rename " + name(from) + " -> " + name(to);
    }
    void removed(const QString& path) override { *m_into << "remove " + name(path); }
    void syncing(const QString& path, bool folder) override {
        *m_into << (folder ? "sync folder " : "sync ") + name(path);
    }

  private:
    QString name(const QString& path) const {
        const QString rel = QDir(m_folder).relativeFilePath(path);
        return rel == QLatin1String(".") ? QString() : rel;
    }
    QString m_folder;
    QStringList* m_into;
};

// A full disk while it lives: files cannot grow past `bytes` (root is not
// exempt from a file-size limit, as it is from permissions).
struct FileSizeLimit {
    struct rlimit old {};
    void (*oldSignal)(int);
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &old);
        struct rlimit small = old;
        small.rlim_cur = bytes;
        oldSignal = std::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, &small);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldSignal);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
};

inline QStringList filesIn(const QString& dir) {
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

inline const QStringList kNineFiles = {"Bands.db", "City.db",  "Cors.db",  "Country.db", "Ini.db",
                                       "Main.db",  "Modes.db", "Names.db", "RS.db"};

// Every table of the data module, exactly.
inline QStringList dumpModule(const qardel::TDM& dm) {
    QStringList all;
    for (qardel::Table* t : dm.tables())
        all << t->name() << dumpTable(*t);
    return all;
}

} // namespace testutil
