#include "data/TableFile.h"

#include "data/Table.h"
#include "data/TableColumn.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qardel {

void (*TableFile::faultHook)(const char*) = nullptr;

namespace {

QString nativePath(const QString& p) {
    return QDir::toNativeSeparators(p);
}

QString sysReason() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Owns one connection; closes it on every path.
class Db {
  public:
    ~Db() { close(); }
    int open(const QString& path, int flags) {
        return sqlite3_open_v2(QFile::encodeName(path).constData(), &h, flags, nullptr);
    }
    void close() {
        if (h) sqlite3_close_v2(h);
        h = nullptr;
    }
    QString err() const {
        return h ? QString::fromUtf8(sqlite3_errmsg(h)) : QStringLiteral("out of memory");
    }
    int exec(const char* sql) { return sqlite3_exec(h, sql, nullptr, nullptr, nullptr); }
    sqlite3* h = nullptr;
};

class Stmt {
  public:
    Stmt(sqlite3* db, const QString& sql) {
        rc = sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &s, nullptr);
    }
    ~Stmt() { sqlite3_finalize(s); }
    sqlite3_stmt* s = nullptr;
    int rc = SQLITE_OK;
};

// The metadata rows of a table file; false when there is no readable meta table.
bool readMeta(sqlite3* db, QHash<QString, QString>* meta) {
    Stmt st(db, QStringLiteral("SELECT key, value FROM meta"));
    if (st.rc != SQLITE_OK) return false;
    int rc;
    while ((rc = sqlite3_step(st.s)) == SQLITE_ROW)
        meta->insert(
            QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st.s, 0))),
            QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st.s, 1))));
    return rc == SQLITE_DONE;
}

QString quoted(const QString& name) {
    return QLatin1Char('"') + name + QLatin1Char('"');
}

QString storageClassName(int t) {
    switch (t) {
    case SQLITE_INTEGER:
        return QStringLiteral("Integer");
    case SQLITE_FLOAT:
        return QStringLiteral("Float");
    case SQLITE_TEXT:
        return QStringLiteral("Text");
    case SQLITE_BLOB:
        return QStringLiteral("Blob");
    default:
        return QStringLiteral("Null");
    }
}

// Strict UTF-8: no overlong forms, surrogates or code points past U+10FFFF.
bool isValidUtf8(const char* text, int n) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    const auto* end = p + n;
    while (p < end) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        int len;
        uint32_t cp;
        if ((*p & 0xE0) == 0xC0)
            len = 2, cp = *p & 0x1F;
        else if ((*p & 0xF0) == 0xE0)
            len = 3, cp = *p & 0x0F;
        else if ((*p & 0xF8) == 0xF0)
            len = 4, cp = *p & 0x07;
        else
            return false;
        if (end - p < len) return false;
        for (int i = 1; i < len; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        static constexpr uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        p += len;
    }
    return true;
}

void syncPath(const QString& path, bool dir) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), dir ? O_RDONLY | O_DIRECTORY : O_RDWR);
    if (fd < 0) throw errno;
    if (::fsync(fd) != 0) {
        const int e = errno;
        ::close(fd);
        throw e;
    }
    ::close(fd);
    if (dir && TableFile::faultHook) TableFile::faultHook("folder-synced");
}

} // namespace

QString TableFile::declaredType(const Table& t, int fi) {
    const FieldDef& f = t.fieldDefs()[size_t(fi)];
    switch (f.type) {
    case FieldType::AutoInc:
        return QStringLiteral("AUTOINC INTEGER");
    case FieldType::Integer:
        return QStringLiteral("INTEGER");
    case FieldType::Float:
        // BLOB affinity: SQLite keeps a double as given. REAL affinity would
        // store integral values as integers and so turn -0.0 into 0.0.
        return QStringLiteral("FLOAT BLOB");
    case FieldType::DateTime:
        return QStringLiteral("DATETIME TEXT");
    case FieldType::Boolean:
        return QStringLiteral("BOOLEAN INTEGER");
    case FieldType::String:
        return QStringLiteral("STRING VARCHAR(%1)").arg(f.size);
    case FieldType::Memo:
        return QStringLiteral("MEMO TEXT");
    case FieldType::Lookup:
        break;
    }
    return {};
}

TableFile::~TableFile() {
    closeConnection();
}

void TableFile::closeConnection() {
    // closing the last connection checkpoints the log into the file and
    // removes it
    if (m_db) sqlite3_close_v2(m_db);
    m_db = nullptr;
}

void TableFile::forget() {
    closeConnection();
    m_path.clear();
    m_token.clear();
    m_generation = 0;
    m_size = m_mtimeNs = -1;
}

void TableFile::rememberFile(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
        m_dev = quint64(st.st_dev);
        m_ino = quint64(st.st_ino);
        m_size = st.st_size;
        m_mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    } else {
        m_size = m_mtimeNs = -1;
    }
}

// Whether the file at path is still the one this table loaded or wrote last.
// While our connection is open, other writers show in SQLite's data version;
// before that, in the file's size and time.
bool TableFile::sameFileAsWritten(const QString& path) const {
    if (m_token.isEmpty() || path != m_path || m_size < 0) return false;
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return false;
    if (quint64(st.st_dev) != m_dev || quint64(st.st_ino) != m_ino) return false;
    if (m_db) return true;
    return st.st_size == m_size &&
           qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec == m_mtimeNs;
}

// ---------------------------------------------------------------- load

void TableFile::load(Table& t) {
    const QString path = t.filePath;
    Db db;
    bool walHolds = false;
    auto fail = [&](const QString& reason) {
        // a log the file still needs stays as it was, uncheckpointed
        if (db.h && walHolds) sqlite3_db_config(db.h, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        db.close();
        throw DbError(QStringLiteral("Table file '%1': %2").arg(nativePath(path), reason));
    };
    const QFileInfo fi(path);
    if (!fi.exists()) fail(QStringLiteral("the file does not exist"));
    if (!fi.isFile()) fail(QStringLiteral("it is not a file"));
    if (fi.size() == 0) fail(QStringLiteral("the file is empty (zero length)"));
    // The program never writes a rollback journal; one beside the file is
    // another program's, and applying it could ruin the table.
    const QFileInfo journal(path + QStringLiteral("-journal"));
    if (journal.exists() && journal.size() > 0)
        fail(QStringLiteral("beside it lies the rollback journal '%1', which this program never "
                            "writes; it was not applied, and the journal and the file are left as "
                            "they are (move the journal away to open the log)")
                 .arg(nativePath(journal.filePath())));
    // pages a checkpoint had not yet copied into the file are still in the log
    const QFileInfo wal(path + QStringLiteral("-wal"));
    walHolds = wal.exists() && wal.size() > 0;
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) fail(f.errorString());
        const QByteArray head = f.read(100);
        if (!head.startsWith(QByteArray("SQLite format 3\0", 16)))
            fail(QStringLiteral("the file is not a table file (unknown content)"));
        if (head.size() < 100 || fi.size() < 512 || fi.size() % 512 != 0)
            fail(QStringLiteral("the file is truncated or damaged (size %1 bytes)").arg(fi.size()));
        auto be = [&](int off, int n) {
            quint64 v = 0;
            for (int i = 0; i < n; ++i)
                v = (v << 8) | quint8(head[off + i]);
            return v;
        };
        quint64 pageSize = be(16, 2);
        if (pageSize == 1) pageSize = 65536;
        const quint64 pages = be(28, 4);
        // the header's page count is trustworthy when its change counter agrees
        if (!walHolds && be(24, 4) == be(92, 4) && pages > 0 &&
            pages * pageSize > quint64(fi.size()))
            fail(QStringLiteral("the file is truncated (%1 of %2 bytes)")
                     .arg(fi.size())
                     .arg(pages * pageSize));
    }

    // Read-write without create, so that SQLite can rebuild the index of a
    // write-ahead log; queries only. Closing after a good load completes a
    // checkpoint cut short, as any SQLite program would.
    int rc = db.open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
    if (rc != SQLITE_OK) {
        db.close();
        rc = db.open(path, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX);
    }
    if (rc != SQLITE_OK) fail(db.err());
    sqlite3_busy_timeout(db.h, 2000);
    db.exec("PRAGMA query_only=ON");

    // metadata
    QHash<QString, QString> meta;
    if (!readMeta(db.h, &meta)) fail(QStringLiteral("not a QARDEL table file (%1)").arg(db.err()));
    const qint64 format = meta.value(QStringLiteral("format"), QStringLiteral("-1")).toLongLong();
    const QString table = meta.value(QStringLiteral("table"));
    const QString token = meta.value(QStringLiteral("token"));
    const qint64 generation = meta.value(QStringLiteral("generation")).toLongLong();
    if (format < 1) fail(QStringLiteral("not a QARDEL table file (no format version)"));
    if (format > kFormatVersion)
        fail(QStringLiteral("written by a newer version of the program (format %1, this one "
                            "reads format %2)")
                 .arg(format)
                 .arg(kFormatVersion));
    if (table != t.name())
        fail(QStringLiteral("it holds the table '%1', not '%2'").arg(table, t.name()));

    // columns
    QHash<QString, QString> declared;
    {
        Stmt st(db.h, QStringLiteral("PRAGMA table_info(records)"));
        if (st.rc != SQLITE_OK) fail(db.err());
        while ((rc = sqlite3_step(st.s)) == SQLITE_ROW)
            declared.insert(
                QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st.s, 1)))
                    .toLower(),
                QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st.s, 2))));
        if (rc != SQLITE_DONE) fail(db.err());
    }
    if (declared.isEmpty()) fail(QStringLiteral("it holds no records table"));
    std::vector<int> stored;
    QStringList cols;
    for (int i = 0; i < t.fieldCount(); ++i) {
        const FieldDef& f = t.fieldDefs()[size_t(i)];
        if (!f.isStored()) continue;
        auto it = declared.constFind(f.name.toLower());
        if (it == declared.constEnd()) fail(QStringLiteral("Field '%1' not found").arg(f.name));
        if (it->compare(declaredType(t, i), Qt::CaseInsensitive) != 0)
            fail(QStringLiteral("Type mismatch for field '%1', expecting: %2 actual: %3")
                     .arg(f.name, fieldTypeName(f.type), *it));
        stored.push_back(i);
        cols << quoted(f.name);
    }

    // rows, into fresh storage; the table is touched only when all is read
    t.resetData();
    auto abandon = [&](const QString& reason) {
        t.resetData();
        fail(reason);
    };
    size_t expected = 0, row = 0;
    {
        Stmt cnt(db.h, QStringLiteral("SELECT count(*) FROM records"));
        if (cnt.rc == SQLITE_OK && sqlite3_step(cnt.s) == SQLITE_ROW)
            expected = size_t(sqlite3_column_int64(cnt.s, 0));
        t.reserveSlots(expected);
    }
    Stmt st(db.h, QStringLiteral("SELECT %1 FROM records").arg(cols.join(QLatin1Char(','))));
    if (st.rc != SQLITE_OK) abandon(db.err());
    int maxId = 0;
    while ((rc = sqlite3_step(st.s)) == SQLITE_ROW) {
        // the storage for the counted rows is made in one go
        const uint32_t s = row < expected ? uint32_t(row) : t.newSlot();
        ++row;
        for (int c = 0; c < int(stored.size()); ++c) {
            const int fi = stored[size_t(c)];
            const FieldDef& f = t.fieldDefs()[size_t(fi)];
            Table::Column& col = *t.m_columns[size_t(fi)];
            const int ct = sqlite3_column_type(st.s, c);
            auto mismatch = [&](const QString& actual) {
                abandon(QStringLiteral("Type mismatch for field '%1', expecting: %2 actual: %3")
                            .arg(f.name, fieldTypeName(f.type), actual));
            };
            if (ct == SQLITE_NULL) {
                if (f.type == FieldType::AutoInc) abandon(QStringLiteral("a row has no ID"));
                col.setNull(s);
                continue;
            }
            switch (f.type) {
            case FieldType::AutoInc:
            case FieldType::Integer:
            case FieldType::Boolean: {
                if (ct != SQLITE_INTEGER) mismatch(storageClassName(ct));
                const sqlite3_int64 v = sqlite3_column_int64(st.s, c);
                if (v < INT32_MIN || v > INT32_MAX) mismatch(QStringLiteral("a 64-bit integer"));
                if (f.type == FieldType::Boolean && v != 0 && v != 1)
                    mismatch(QStringLiteral("Integer %1").arg(v));
                col.nulls[s] = 0;
                col.ints[s] = int32_t(v);
                break;
            }
            case FieldType::Float: {
                if (ct != SQLITE_FLOAT && ct != SQLITE_INTEGER) mismatch(storageClassName(ct));
                col.nulls[s] = 0;
                col.floats[s] = sqlite3_column_double(st.s, c);
                break;
            }
            case FieldType::DateTime: {
                if (ct != SQLITE_TEXT) mismatch(storageClassName(ct));
                const char* txt = reinterpret_cast<const char*>(sqlite3_column_text(st.s, c));
                const int n = sqlite3_column_bytes(st.s, c);
                qint64 ms = 0;
                if (!parseNaiveTime(txt, n, &ms))
                    mismatch(
                        QStringLiteral("Text '%1'").arg(QString::fromUtf8(txt, std::min(n, 40))));
                col.nulls[s] = 0;
                col.times[s] = ms;
                break;
            }
            case FieldType::String:
            case FieldType::Memo: {
                if (ct != SQLITE_TEXT) mismatch(storageClassName(ct));
                const char* txt = reinterpret_cast<const char*>(sqlite3_column_text(st.s, c));
                const int n = sqlite3_column_bytes(st.s, c);
                // replacing bad bytes would silently change the text when it
                // is written back
                if (!isValidUtf8(txt, n))
                    abandon(QStringLiteral("the field '%1' of the row with ID %2 holds text that "
                                           "is not valid UTF-8")
                                .arg(f.name)
                                .arg(sqlite3_column_int64(st.s, 0)));
                col.setTextUtf8(s, txt, n, f.type == FieldType::String ? f.size : 0);
                break;
            }
            case FieldType::Lookup:
                break;
            }
        }
        const int id = t.m_columns[size_t(t.m_idField)]->ints[s];
        if (id <= 0) abandon(QStringLiteral("a row has the invalid ID %1").arg(id));
        if (t.idSlot(id) >= 0) abandon(QStringLiteral("the ID %1 is used twice").arg(id));
        t.idInsert(id, s);
        for (auto& u : t.m_uniqueText) {
            const Table::Column& col = *t.m_columns[size_t(u.first)];
            if (col.isNull(s)) continue;
            if (u.second.contains(col.texts[s]))
                abandon(QStringLiteral("the value '%1' of field '%2' is used twice")
                            .arg(col.texts[s], t.fieldDefs()[size_t(u.first)].name));
            u.second.insert(col.texts[s], s);
        }
        if (id > maxId) maxId = id;
    }
    if (rc != SQLITE_DONE) abandon(db.err());
    if (row < expected) t.dropSlotsFrom(row);
    for (auto& c : t.m_columns)
        if (c) c->loadPool = {};
    t.rebuildOrder();
    // IDs once handed out stay used even when their rows were deleted; a
    // file written before the mark existed starts after its largest ID
    bool marked = false;
    const qint64 lastId = meta.value(QLatin1String(kLastIdKey)).toLongLong(&marked);
    t.keepIdsAbove(marked && lastId > maxId ? int(std::min<qint64>(lastId, INT32_MAX)) : maxId);
    db.close();
    m_path = path;
    m_token = token;
    m_generation = generation;
    rememberFile(path);
}

// ---------------------------------------------------------------- write

namespace {

// Binds a stored value straight from its column.
void bindStored(sqlite3_stmt* s, int col, const Table::Column& c, uint32_t slot) {
    if (c.isNull(slot)) {
        sqlite3_bind_null(s, col);
        return;
    }
    switch (c.type) {
    case FieldType::AutoInc:
    case FieldType::Integer:
    case FieldType::Boolean:
        sqlite3_bind_int(s, col, c.ints[slot]);
        break;
    case FieldType::Float:
        sqlite3_bind_double(s, col, c.floats[slot]);
        break;
    case FieldType::DateTime: {
        const QByteArray b = formatNaiveTime(c.times[slot]);
        sqlite3_bind_text(s, col, b.constData(), int(b.size()), SQLITE_TRANSIENT);
        break;
    }
    case FieldType::String:
    case FieldType::Memo: {
        const QByteArray b = c.texts[slot].toUtf8();
        sqlite3_bind_text(s, col, b.constData(), int(b.size()), SQLITE_TRANSIENT);
        break;
    }
    case FieldType::Lookup:
        sqlite3_bind_null(s, col);
        break;
    }
}

QString newToken() {
    return QString::number(QRandomGenerator::system()->generate64(), 16);
}

} // namespace

void TableFile::write(Table& t) {
    if (t.filePath.isEmpty())
        throw DbError(QStringLiteral("Table '%1' has no file name").arg(t.name()));
    if (!sameFileAsWritten(t.filePath) || !writeIncremental(t)) writeWhole(t);
    if (faultHook) faultHook("written");
}

bool TableFile::writeIncremental(Table& t) {
    const QString path = t.filePath;
    auto fail = [&](const QString& reason) {
        closeConnection();
        throw DbError(
            QStringLiteral("Cannot write the table file '%1': %2").arg(nativePath(path), reason));
    };
    auto dataVersion = [this]() -> qint64 {
        sqlite3_stmt* st = nullptr;
        qint64 v = -1;
        if (sqlite3_prepare_v2(m_db, "PRAGMA data_version", -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            v = sqlite3_column_int64(st, 0);
        sqlite3_finalize(st);
        return v;
    };
    if (m_db && dataVersion() != m_dataVersion) {
        // another program wrote to the file: it is written whole
        closeConnection();
        return false;
    }
    if (!m_db) {
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
            closeConnection();
            return false;
        }
        sqlite3_busy_timeout(m_db, 2000);
        // is it still the file we wrote last?
        QHash<QString, QString> meta;
        const bool readable = readMeta(m_db, &meta);
        const QString token = readable ? meta.value(QStringLiteral("token")) : QString();
        const qint64 generation =
            meta.value(QStringLiteral("generation"), QStringLiteral("-1")).toLongLong();
        if (token != m_token || generation != m_generation) {
            closeConnection();
            return false;
        }
        // The connection stays open: in write-ahead-log mode a commit costs
        // one sync of the log, and the log is folded into the file when the
        // table closes.
        if (sqlite3_exec(m_db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr) != SQLITE_OK ||
            sqlite3_exec(m_db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr) != SQLITE_OK)
            fail(QString::fromUtf8(sqlite3_errmsg(m_db)));
        m_dataVersion = dataVersion();
    }
    struct Conn {
        sqlite3* h;
        QString err() const { return QString::fromUtf8(sqlite3_errmsg(h)); }
        int exec(const char* sql) { return sqlite3_exec(h, sql, nullptr, nullptr, nullptr); }
    } db{m_db};
    if (db.exec("BEGIN IMMEDIATE") != SQLITE_OK) fail(db.err());
    auto rollback = [&](const QString& reason) {
        db.exec("ROLLBACK");
        fail(reason);
    };
    std::vector<int> stored;
    QStringList cols, qs;
    for (int i = 0; i < t.fieldCount(); ++i)
        if (t.fieldDefs()[size_t(i)].isStored()) {
            stored.push_back(i);
            cols << quoted(t.fieldDefs()[size_t(i)].name);
            qs << QStringLiteral("?");
        }
    {
        Stmt del(db.h, QStringLiteral("DELETE FROM records WHERE \"%1\"=?")
                           .arg(t.fieldDefs()[size_t(t.m_idField)].name));
        if (del.rc != SQLITE_OK) rollback(db.err());
        for (int id : t.m_deletedIds) {
            sqlite3_bind_int(del.s, 1, id);
            if (sqlite3_step(del.s) != SQLITE_DONE) rollback(db.err());
            sqlite3_reset(del.s);
        }
        Stmt ins(db.h, QStringLiteral("INSERT OR REPLACE INTO records(%1) VALUES(%2)")
                           .arg(cols.join(QLatin1Char(',')), qs.join(QLatin1Char(','))));
        if (ins.rc != SQLITE_OK) rollback(db.err());
        QSet<uint32_t> done;
        for (uint32_t id : t.m_dirtyIds) {
            if (done.contains(id)) continue;
            done.insert(id);
            const int64_t slot = t.idSlot(int(id));
            if (slot < 0) continue; // deleted since
            for (int c = 0; c < int(stored.size()); ++c)
                bindStored(ins.s, c + 1, *t.m_columns[size_t(stored[size_t(c)])], uint32_t(slot));
            if (sqlite3_step(ins.s) != SQLITE_DONE) rollback(db.err());
            sqlite3_reset(ins.s);
        }
        Stmt meta(db.h, QStringLiteral("INSERT OR REPLACE INTO meta(key, value) VALUES(?, ?)"));
        if (meta.rc != SQLITE_OK) rollback(db.err());
        for (const auto& [key, value] :
             {std::pair{QByteArray("generation"), QByteArray::number(m_generation + 1)},
              std::pair{QByteArray(kLastIdKey), QByteArray::number(t.lastId())}}) {
            sqlite3_bind_text(meta.s, 1, key.constData(), int(key.size()), SQLITE_TRANSIENT);
            sqlite3_bind_text(meta.s, 2, value.constData(), int(value.size()), SQLITE_TRANSIENT);
            if (sqlite3_step(meta.s) != SQLITE_DONE) rollback(db.err());
            sqlite3_reset(meta.s);
        }
    }
    if (faultHook) {
        try {
            faultHook("before-commit");
        } catch (...) {
            db.exec("ROLLBACK");
            closeConnection();
            throw;
        }
    }
    if (db.exec("COMMIT") != SQLITE_OK) rollback(db.err());
    m_dataVersion = dataVersion();
    ++m_generation;
    rememberFile(path);
    return true;
}

void TableFile::writeWhole(Table& t) {
    const QString path = t.filePath;
    const QFileInfo info(path);
    const QString dir = info.absolutePath();
    const QString tmp = dir + QStringLiteral("/.%1.%2.tmp").arg(info.fileName()).arg(::getpid());
    auto fail = [&](const QString& reason) {
        QFile::remove(tmp);
        throw DbError(
            QStringLiteral("Cannot write the table file '%1': %2").arg(nativePath(path), reason));
    };
    closeConnection();
    QFile::remove(tmp);
    const QString token = newToken();
    {
        Db db;
        // made here first, so that a refusal comes with the system's reason
        const int fd =
            ::open(QFile::encodeName(tmp).constData(), O_CREAT | O_EXCL | O_WRONLY, 0644);
        if (fd < 0) fail(sysReason());
        ::close(fd);
        if (db.open(tmp, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX) !=
            SQLITE_OK) {
            const QString why = db.err();
            db.close();
            fail(why);
        }
        auto dbFail = [&]() {
            const QString why = db.err();
            db.close();
            fail(why);
        };
        // The temporary file becomes visible only by the rename below, so it
        // needs no journal; it is synced before the rename.
        if (db.exec("PRAGMA journal_mode=OFF") != SQLITE_OK ||
            db.exec("PRAGMA synchronous=OFF") != SQLITE_OK || db.exec("BEGIN") != SQLITE_OK)
            dbFail();
        if (db.exec("CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL)") != SQLITE_OK)
            dbFail();
        {
            Stmt m(db.h, QStringLiteral("INSERT INTO meta VALUES(?,?)"));
            const QList<QPair<QString, QString>> meta = {
                {QStringLiteral("format"), QString::number(kFormatVersion)},
                {QStringLiteral("table"), t.name()},
                {QStringLiteral("token"), token},
                {QStringLiteral("generation"), QStringLiteral("1")},
                {QLatin1String(kLastIdKey), QString::number(t.lastId())}};
            for (const auto& kv : meta) {
                const QByteArray k = kv.first.toUtf8(), v = kv.second.toUtf8();
                sqlite3_bind_text(m.s, 1, k.constData(), int(k.size()), SQLITE_TRANSIENT);
                sqlite3_bind_text(m.s, 2, v.constData(), int(v.size()), SQLITE_TRANSIENT);
                if (sqlite3_step(m.s) != SQLITE_DONE) dbFail();
                sqlite3_reset(m.s);
            }
        }
        std::vector<int> stored;
        QStringList defs, cols, qs;
        for (int i = 0; i < t.fieldCount(); ++i) {
            const FieldDef& f = t.fieldDefs()[size_t(i)];
            if (!f.isStored()) continue;
            stored.push_back(i);
            QString d = quoted(f.name) + QLatin1Char(' ') + declaredType(t, i);
            if (f.type == FieldType::AutoInc) d += QStringLiteral(" NOT NULL PRIMARY KEY");
            defs << d;
            cols << quoted(f.name);
            qs << QStringLiteral("?");
        }
        if (db.exec(QStringLiteral("CREATE TABLE records(%1)")
                        .arg(defs.join(QLatin1Char(',')))
                        .toUtf8()
                        .constData()) != SQLITE_OK)
            dbFail();
        {
            Stmt ins(db.h, QStringLiteral("INSERT INTO records(%1) VALUES(%2)")
                               .arg(cols.join(QLatin1Char(',')), qs.join(QLatin1Char(','))));
            if (ins.rc != SQLITE_OK) dbFail();
            // rows in ID order, so a later load finds them sorted
            std::vector<std::pair<int, uint32_t>> rows;
            rows.reserve(t.m_order.size());
            const auto& ids = t.m_columns[size_t(t.m_idField)]->ints;
            for (uint32_t s : t.m_order)
                rows.push_back({ids[s], s});
            std::sort(rows.begin(), rows.end());
            for (const auto& r : rows) {
                for (int c = 0; c < int(stored.size()); ++c)
                    bindStored(ins.s, c + 1, *t.m_columns[size_t(stored[size_t(c)])], r.second);
                if (sqlite3_step(ins.s) != SQLITE_DONE) dbFail();
                sqlite3_reset(ins.s);
            }
        }
        if (db.exec("COMMIT") != SQLITE_OK) dbFail();
        // Marked for write-ahead logging now, so that later incremental
        // writes never touch the file's header.
        if (db.exec("PRAGMA journal_mode=WAL") != SQLITE_OK) dbFail();
        db.close();
    }
    if (faultHook) faultHook("temp-written");
    try {
        syncPath(tmp, false);
    } catch (int e) {
        fail(QString::fromLocal8Bit(std::strerror(e)));
    }
    if (faultHook) faultHook("before-rename");
    // A leftover journal belongs to the file being replaced; it must never be
    // applied to the new one.
    for (const char* side : {"-journal", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(side));
    if (::rename(QFile::encodeName(tmp).constData(), QFile::encodeName(path).constData()) != 0)
        fail(sysReason());
    try {
        syncPath(dir, true);
    } catch (int e) {
        throw DbError(QStringLiteral("Cannot write the table file '%1': %2")
                          .arg(nativePath(path), QString::fromLocal8Bit(std::strerror(e))));
    }
    m_path = path;
    m_token = token;
    m_generation = 1;
    rememberFile(path);
}

} // namespace qardel
