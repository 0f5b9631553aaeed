#include "data/TableFile.h"

#include "data/FileSync.h"
#include "data/Sqlite.h"
#include "data/Table.h"
#include "data/TableColumn.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <sqlite3.h>

#include <sys/stat.h>
#include <unistd.h>

namespace qardel {

void (*TableFile::faultHook)(const char*) = nullptr;
// below this many rows one reader is quicker than starting a second
size_t TableFile::rowsForTwoReaders = 50000;
std::atomic<int> TableFile::loadsByTwoReaders{0};

namespace {

QString nativePath(const QString& p) {
    return QDir::toNativeSeparators(p);
}

[[noreturn]] void refuse(const QString& path, const QString& reason) {
    throw DbError(QStringLiteral("Table file '%1': %2").arg(nativePath(path), reason));
}

[[noreturn]] void cannotWrite(const QString& path, const QString& reason) {
    throw DbError(
        QStringLiteral("Cannot write the table file '%1': %2").arg(nativePath(path), reason));
}

// The pages the write-ahead log holds before it is folded into the file.
constexpr int kLogFrames = 256;

// The file's page size; SQLite's default when it cannot be read.
int pageSize(const SqliteDb& db) {
    SqliteStmt st(db, QStringLiteral("PRAGMA page_size"));
    return st.prepared() && st.step() == SQLITE_ROW ? sqlite3_column_int(st.get(), 0) : 4096;
}

// The metadata rows of a table file; false when there is no readable meta table.
bool readMeta(const SqliteDb& db, QHash<QString, QString>* meta) {
    SqliteStmt st(db, QStringLiteral("SELECT key, value FROM meta"));
    if (!st.prepared()) return false;
    int rc;
    while ((rc = st.step()) == SQLITE_ROW)
        meta->insert(
            QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 0))),
            QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 1))));
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
            // ASCII eight bytes at a time
            uint64_t w;
            while (end - p >= 8 && (std::memcpy(&w, p, 8), (w & 0x8080808080808080u) == 0))
                p += 8;
            while (p < end && *p < 0x80)
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

// A folder's sync is a step of its own that tests can see.
QString syncFolder(const QString& path, const char* point) {
    const QString why = syncPath(path, true);
    if (why.isEmpty() && TableFile::faultHook) TableFile::faultHook(point);
    return why;
}

// The stored fields of a table, by field index, and their quoted names.
struct StoredFields {
    std::vector<int> fields;
    QStringList names, marks;
    explicit StoredFields(const Table& t) {
        for (int i = 0; i < t.fieldCount(); ++i)
            if (t.fieldDefs()[size_t(i)].isStored()) {
                fields.push_back(i);
                names << quoted(t.fieldDefs()[size_t(i)].name);
                marks << QStringLiteral("?");
            }
    }
    QString columns() const { return names.join(QLatin1Char(',')); }
    QString placeholders() const { return marks.join(QLatin1Char(',')); }
};

// Binds a stored value straight from its column.
void bindStored(sqlite3_stmt* s, int col, const Column& c, uint32_t slot) {
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

struct TableFile::Statements {
    std::vector<int> fields; // the stored fields, in the insert's order
    sqlite3* db;
    SqliteStmt begin, commit, del, ins, meta, addMeta;
    Statements(const SqliteDb& d, const Table& t, const StoredFields& stored)
        : fields(stored.fields), db(d.handle()), begin(d, QStringLiteral("BEGIN IMMEDIATE")),
          commit(d, QStringLiteral("COMMIT")),
          del(d, QStringLiteral("DELETE FROM records WHERE \"%1\"=?")
                     .arg(t.fieldDefs()[size_t(stored.fields.front())].name)),
          ins(d, QStringLiteral("INSERT OR REPLACE INTO records(%1) VALUES(%2)")
                     .arg(stored.columns(), stored.placeholders())),
          // an update leaves the key's index alone: one page less to log
          meta(d, QStringLiteral("UPDATE meta SET value=?2 WHERE key=?1")),
          addMeta(d, QStringLiteral("INSERT INTO meta(key, value) VALUES(?1, ?2)")) {}
    bool prepared() const {
        return begin.prepared() && commit.prepared() && del.prepared() && ins.prepared() &&
               meta.prepared() && addMeta.prepared();
    }
    // One step of a statement without rows; it is ready for the next at once.
    static int run(SqliteStmt& st) {
        const int rc = st.step();
        st.reset();
        return rc;
    }
    // A metadata value set, the row made when the file has none yet.
    int setMeta(const QByteArray& key, const QByteArray& value) {
        meta.bindText(1, key);
        meta.bindText(2, value);
        int rc = run(meta);
        if (rc == SQLITE_DONE && sqlite3_changes(db) == 0) {
            addMeta.bindText(1, key);
            addMeta.bindText(2, value);
            rc = run(addMeta);
        }
        return rc;
    }
    // Zeros up to the size the log reaches before it is folded into the file
    // and begun again: a commit that lengthens the log must also sync its
    // size, one more write on the disk for every save. Written under the
    // write lock (no other writer is adding frames) and synced by the
    // commit that follows; zeros are never a valid frame, so neither a
    // reader nor a recovery after a crash sees anything of them.
    void makeLogRoom(int pageSize) const {
        sqlite3_file* log = nullptr;
        sqlite3_int64 size = 0;
        if (sqlite3_file_control(db, "main", SQLITE_FCNTL_JOURNAL_POINTER, &log) != SQLITE_OK ||
            !log || !log->pMethods || log->pMethods->xFileSize(log, &size) != SQLITE_OK)
            return;
        constexpr sqlite3_int64 kLogHeader = 32, kFrameHeader = 24;
        const sqlite3_int64 room = kLogHeader + kLogFrames * (kFrameHeader + pageSize);
        static const std::vector<char> zeros(64 * 1024, 0);
        for (sqlite3_int64 at = size; at < room;) {
            const int n = int(std::min<sqlite3_int64>(room - at, sqlite3_int64(zeros.size())));
            // a disk too full for it leaves the log to grow as it did
            if (log->pMethods->xWrite(log, zeros.data(), n, at) != SQLITE_OK) return;
            at += n;
        }
    }
    // The file's change counter as this connection last read it: it moves
    // with every commit, ours too, and with what another connection wrote
    // once a transaction here has begun. Asked of the pager, it costs no
    // statement and no lock.
    qint64 dataVersion() const {
        unsigned int v = 0;
        return sqlite3_file_control(db, "main", SQLITE_FCNTL_DATA_VERSION, &v) == SQLITE_OK
                   ? qint64(v)
                   : -1;
    }
};

TableFile::TableFile() = default;

TableFile::~TableFile() {
    closeConnection();
}

void TableFile::closeConnection() {
    // closing the last connection checkpoints the log into the file and
    // removes it; a statement left unfinalized would keep it open
    m_stmts.reset();
    m_db.close();
}

void TableFile::close() {
    // Our own connection, when open, is the last one and its close removes
    // the log. Without it, a reader that came after our last write (one
    // opened read-only cannot remove them) leaves an empty log and its index
    // behind: opening and closing a connection as the last one removes them,
    // folding in anything the log holds as any SQLite program would.
    const bool leftBehind = !m_db.isOpen() && sameFileAsWritten(m_path) &&
                            (QFileInfo::exists(m_path + QStringLiteral("-wal")) ||
                             QFileInfo::exists(m_path + QStringLiteral("-shm")));
    const QString path = m_path;
    forget();
    if (!leftBehind) return;
    SqliteDb db;
    if (db.open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX) != SQLITE_OK) return;
    sqlite3_busy_timeout(db.handle(), 2000);
    // the log is opened with the first read
    db.exec("PRAGMA query_only=ON");
    db.exec("SELECT count(*) FROM sqlite_master");
    db.close();
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
    if (m_db.isOpen()) return true;
    return st.st_size == m_size &&
           qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec == m_mtimeNs;
}

// ---------------------------------------------------------------- load

// What can be told of a table file before SQLite opens it: that it is an
// SQLite file whole enough to read, with no foreign journal beside it.
void TableFile::checkHeader(const QString& path, bool walHolds) {
    const QFileInfo fi(path);
    if (!fi.exists()) refuse(path, QStringLiteral("the file does not exist"));
    if (!fi.isFile()) refuse(path, QStringLiteral("it is not a file"));
    if (fi.size() == 0) refuse(path, QStringLiteral("the file is empty (zero length)"));
    // The program never writes a rollback journal; one beside the file is
    // another program's, and applying it could ruin the table.
    const QFileInfo journal(path + QStringLiteral("-journal"));
    if (journal.exists() && journal.size() > 0)
        refuse(path, QStringLiteral("beside it lies the rollback journal '%1', which this program "
                                    "never writes; it was not applied, and the journal and the "
                                    "file are left as they are (move the journal away to open "
                                    "the log)")
                         .arg(nativePath(journal.filePath())));
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) refuse(path, f.errorString());
    const QByteArray head = f.read(100);
    if (!head.startsWith(QByteArray("SQLite format 3\0", 16)))
        refuse(path, QStringLiteral("the file is not a table file (unknown content)"));
    if (head.size() < 100 || fi.size() < 512 || fi.size() % 512 != 0)
        refuse(path,
               QStringLiteral("the file is truncated or damaged (size %1 bytes)").arg(fi.size()));
    auto be = [&](int off, int n) {
        quint64 v = 0;
        for (int i = 0; i < n; ++i)
            v = (v << 8) | quint8(head[off + i]);
        return v;
    };
    quint64 pageSize = be(16, 2);
    if (pageSize == 1) pageSize = 65536;
    const quint64 pages = be(28, 4);
    // the header's page count is trustworthy when its change counter agrees;
    // pages a checkpoint had not yet copied into the file are still in the log
    if (!walHolds && be(24, 4) == be(92, 4) && pages > 0 && pages * pageSize > quint64(fi.size()))
        refuse(path, QStringLiteral("the file is truncated (%1 of %2 bytes)")
                         .arg(fi.size())
                         .arg(pages * pageSize));
}

// The metadata and the declared columns: the file holds this table, in a
// format this program reads. Gives the stored fields in the file's order.
std::vector<int> TableFile::checkColumns(const SqliteDb& db, const Table& t,
                                         QHash<QString, QString>* meta) {
    const QString& path = t.filePath;
    if (!readMeta(db, meta))
        refuse(path, QStringLiteral("not a QARDEL table file (%1)").arg(db.error()));
    const qint64 format = meta->value(QStringLiteral("format"), QStringLiteral("-1")).toLongLong();
    const QString table = meta->value(QStringLiteral("table"));
    if (format < 1) refuse(path, QStringLiteral("not a QARDEL table file (no format version)"));
    if (format > kFormatVersion)
        refuse(path, QStringLiteral("written by a newer version of the program (format %1, this "
                                    "one reads format %2)")
                         .arg(format)
                         .arg(kFormatVersion));
    if (table != t.name())
        refuse(path, QStringLiteral("it holds the table '%1', not '%2'").arg(table, t.name()));

    QHash<QString, QString> declared;
    SqliteStmt st(db, QStringLiteral("PRAGMA table_info(records)"));
    if (!st.prepared()) refuse(path, db.error());
    int rc;
    while ((rc = st.step()) == SQLITE_ROW)
        declared.insert(
            QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 1)))
                .toLower(),
            QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 2))));
    if (rc != SQLITE_DONE) refuse(path, db.error());
    if (declared.isEmpty()) refuse(path, QStringLiteral("it holds no records table"));
    std::vector<int> stored;
    for (int i = 0; i < t.fieldCount(); ++i) {
        const FieldDef& f = t.fieldDefs()[size_t(i)];
        if (!f.isStored()) continue;
        auto it = declared.constFind(f.name.toLower());
        if (it == declared.constEnd())
            refuse(path, QStringLiteral("Field '%1' not found").arg(f.name));
        if (it->compare(declaredType(t, i), Qt::CaseInsensitive) != 0)
            refuse(path, QStringLiteral("Type mismatch for field '%1', expecting: %2 actual: %3")
                             .arg(f.name, fieldTypeName(f.type), *it));
        stored.push_back(i);
    }
    return stored;
}

namespace {

// Fills slots from the rows of a statement, each value checked against its
// field. A filler on another thread keeps pools of repetitive texts of its
// own; the first one shares the columns' pools.
class RowFiller {
  public:
    RowFiller(Table& t, const std::vector<int>& stored, bool ownPools)
        : m_path(t.filePath), m_t(t), m_stored(stored), m_own(ownPools) {
        if (m_own) {
            m_bytes.resize(stored.size());
            m_texts.resize(stored.size());
        }
    }

    void fill(sqlite3_stmt* s, uint32_t slot);
    // The texts this filler interned on its own, by position in stored.
    const std::vector<QSet<QString>>& ownTexts() const { return m_texts; }

  private:
    const QString& m_path;
    Table& m_t;
    const std::vector<int>& m_stored;
    bool m_own;
    LastDay m_lastDay;
    std::vector<Column::LoadPool> m_bytes;
    std::vector<QSet<QString>> m_texts;
};

void RowFiller::fill(sqlite3_stmt* s, uint32_t slot) {
    RowStore& rows = m_t.rows();
    for (int c = 0; c < int(m_stored.size()); ++c) {
        const FieldDef& f = m_t.fieldDefs()[size_t(m_stored[size_t(c)])];
        Column& col = rows.column(m_stored[size_t(c)]);
        // one call into the statement per column; the connection is this
        // thread's alone, so the value needs no lock of its own
        sqlite3_value* val = sqlite3_column_value(s, c);
        const int ct = sqlite3_value_type(val);
        auto mismatch = [&](const QString& actual) {
            refuse(m_path, QStringLiteral("Type mismatch for field '%1', expecting: %2 actual: %3")
                               .arg(f.name, fieldTypeName(f.type), actual));
        };
        if (ct == SQLITE_NULL) {
            if (f.type == FieldType::AutoInc) refuse(m_path, QStringLiteral("a row has no ID"));
            col.setNull(slot);
            continue;
        }
        switch (f.type) {
        case FieldType::AutoInc:
        case FieldType::Integer:
        case FieldType::Boolean: {
            if (ct != SQLITE_INTEGER) mismatch(storageClassName(ct));
            const sqlite3_int64 v = sqlite3_value_int64(val);
            if (v < INT32_MIN || v > INT32_MAX) mismatch(QStringLiteral("a 64-bit integer"));
            if (f.type == FieldType::Boolean && v != 0 && v != 1)
                mismatch(QStringLiteral("Integer %1").arg(v));
            col.nulls[slot] = 0;
            col.ints[slot] = int32_t(v);
            break;
        }
        case FieldType::Float:
            if (ct != SQLITE_FLOAT && ct != SQLITE_INTEGER) mismatch(storageClassName(ct));
            col.nulls[slot] = 0;
            col.floats[slot] = sqlite3_value_double(val);
            break;
        case FieldType::DateTime: {
            if (ct != SQLITE_TEXT) mismatch(storageClassName(ct));
            const char* txt = reinterpret_cast<const char*>(sqlite3_value_text(val));
            const int n = sqlite3_value_bytes(val);
            qint64 ms = 0;
            if (!parseNaiveTime(txt, n, &ms, &m_lastDay))
                mismatch(QStringLiteral("Text '%1'").arg(QString::fromUtf8(txt, std::min(n, 40))));
            col.nulls[slot] = 0;
            col.times[slot] = ms;
            break;
        }
        case FieldType::String:
        case FieldType::Memo: {
            if (ct != SQLITE_TEXT) mismatch(storageClassName(ct));
            const char* txt = reinterpret_cast<const char*>(sqlite3_value_text(val));
            const int n = sqlite3_value_bytes(val);
            Column::LoadPool& known = m_own ? m_bytes[size_t(c)] : col.loadPool;
            // bytes seen before in the field were checked then
            if (col.setKnownUtf8(slot, txt, n, known)) break;
            // replacing bad bytes would silently change the text when it
            // is written back
            if (!isValidUtf8(txt, n))
                refuse(m_path, QStringLiteral("the field '%1' of the row with ID %2 holds text "
                                              "that is not valid UTF-8")
                                   .arg(f.name)
                                   .arg(sqlite3_column_int64(s, 0)));
            col.setTextUtf8(slot, txt, n, f.type == FieldType::String ? f.size : 0, known,
                            m_own ? m_texts[size_t(c)] : col.pool);
            break;
        }
        case FieldType::Lookup:
            break;
        }
    }
}

// The slots two readers fill, the front one from the start, the back one
// from the end, handed out in batches under a lock: neither ever writes a
// slot the other holds. A reader short of slots waits for the other to end
// and give back what it did not use; only rows beyond the counted ones, or
// a failure, leave it without.
class SlotClaims {
  public:
    static constexpr size_t kBatch = 4096;
    explicit SlotClaims(size_t count) : m_end(count) {}

    // Slots [*first, *first + n) for the side; n is 0 when none are left.
    size_t take(bool front, size_t* first) {
        std::unique_lock lock(m_mutex);
        const int side = front ? 0 : 1;
        for (;;) {
            if (m_failed) return 0;
            const size_t n = std::min(kBatch, m_end - m_begin);
            if (n > 0) {
                if (front) {
                    *first = m_begin;
                    m_begin += n;
                } else {
                    m_end -= n;
                    *first = m_end;
                }
                return n;
            }
            // both short: more rows than counted
            if (m_done[1 - side] || m_waiting[1 - side]) {
                m_failed = true;
                m_wake.notify_all();
                return 0;
            }
            m_waiting[side] = true;
            m_wake.wait(lock);
            m_waiting[side] = false;
        }
    }
    // The side is done; its slots beyond boundary (towards the other side)
    // were not used and go back.
    void finish(bool front, size_t boundary) {
        const std::lock_guard lock(m_mutex);
        (front ? m_begin : m_end) = boundary;
        m_done[front ? 0 : 1] = true;
        m_wake.notify_all();
    }
    void fail() {
        const std::lock_guard lock(m_mutex);
        m_failed = true;
        m_wake.notify_all();
    }
    bool failed() {
        const std::lock_guard lock(m_mutex);
        return m_failed;
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    size_t m_begin = 0, m_end;
    bool m_done[2] = {false, false}; // front, back
    bool m_waiting[2] = {false, false};
    bool m_failed = false;
};

} // namespace

// A large table is read by two connections at once, from both ends of its
// rowids: this thread fills the slots from the front, a second one from the
// back, so the slots come out in the order one reader gives. The folder's
// lock keeps writers away; still, counts that do not add up, or a row that
// cannot be read, leave the reading to the caller's single reader, which
// then says what is wrong. False then.
bool TableFile::readFromBothEnds(const SqliteDb& db, Table& t, const std::vector<int>& stored,
                                 const QString& columns, size_t expected) {
    qint64 lo = 0, hi = 0;
    {
        // each on its own, so that both are found in the tree, not by a scan
        SqliteStmt range(db, QStringLiteral("SELECT (SELECT min(rowid) FROM records), "
                                            "(SELECT max(rowid) FROM records)"));
        if (!range.prepared() || range.step() != SQLITE_ROW) return false;
        lo = sqlite3_column_int64(range.get(), 0);
        hi = sqlite3_column_int64(range.get(), 1);
    }
    if (hi - lo < 2) return false;
    const qint64 mid = lo + (hi - lo) / 2;
    SlotClaims claims(expected);
    const QString path = t.filePath;
    RowFiller back(t, stored, true);
    size_t backLow = expected; // the lowest slot the back reader filled
    std::thread other([&] {
        size_t floor = expected; // the back reader's slots are [floor, backLow)
        try {
            SqliteDb db2;
            int rc = db2.open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
            if (rc != SQLITE_OK) rc = db2.open(path, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX);
            if (rc != SQLITE_OK) throw DbError(db2.error());
            sqlite3_busy_timeout(db2.handle(), 2000);
            db2.exec("PRAGMA query_only=ON");
            // the write-ahead log stays for the first connection to check in
            db2.keepLogAtClose();
            SqliteStmt st(db2, QStringLiteral("SELECT %1 FROM records WHERE rowid > %2 ORDER BY "
                                              "rowid DESC")
                                   .arg(columns)
                                   .arg(mid));
            if (!st.prepared()) throw DbError(db2.error());
            while ((rc = st.step()) == SQLITE_ROW) {
                if (backLow == floor && claims.take(false, &floor) == 0)
                    throw DbError(QStringLiteral("more rows than counted"));
                back.fill(st.get(), uint32_t(--backLow));
            }
            if (rc != SQLITE_DONE) throw DbError(db2.error());
            claims.finish(false, backLow);
        } catch (...) {
            claims.fail();
        }
    });
    RowFiller front(t, stored, false);
    size_t frontNext = 0; // the front reader's slots are [.., stop), the next one frontNext
    try {
        SqliteStmt st(
            db, QStringLiteral("SELECT %1 FROM records WHERE rowid <= %2").arg(columns).arg(mid));
        if (!st.prepared()) throw DbError(db.error());
        size_t stop = 0;
        int rc;
        while ((rc = st.step()) == SQLITE_ROW) {
            if (frontNext == stop) {
                const size_t n = claims.take(true, &frontNext);
                if (n == 0) throw DbError(QStringLiteral("more rows than counted"));
                stop = frontNext + n;
            }
            front.fill(st.get(), uint32_t(frontNext++));
        }
        if (rc != SQLITE_DONE) throw DbError(db.error());
        claims.finish(true, frontNext);
    } catch (...) {
        claims.fail();
    }
    other.join();
    // every counted slot filled, each once
    if (claims.failed() || frontNext != backLow) return false;
    // the texts the second reader interned join the columns' pools, so
    // later rows share them
    for (size_t c = 0; c < stored.size(); ++c)
        for (const QString& text : back.ownTexts()[c])
            t.rows().column(stored[c]).pool.insert(text);
    ++loadsByTwoReaders;
    return true;
}

// Every row into the table's fresh storage, each value checked against its
// field; the table opens only when all of them were read.
void TableFile::readRows(const SqliteDb& db, Table& t, const std::vector<int>& stored) {
    const QString& path = t.filePath;
    RowStore& rows = t.rows();
    QStringList cols;
    for (int fi : stored)
        cols << quoted(t.fieldDefs()[size_t(fi)].name);
    const QString columns = cols.join(QLatin1Char(','));
    size_t expected = 0, row = 0;
    {
        SqliteStmt cnt(db, QStringLiteral("SELECT count(*) FROM records"));
        if (cnt.step() == SQLITE_ROW) expected = size_t(sqlite3_column_int64(cnt.get(), 0));
        rows.reserveSlots(expected);
    }
    int maxId = 0;
    auto admit = [&](uint32_t slot) {
        const QString refused = rows.admitLoaded(slot);
        if (!refused.isEmpty()) refuse(path, refused);
        maxId = std::max(maxId, rows.idOf(slot));
    };
    if (expected >= rowsForTwoReaders && readFromBothEnds(db, t, stored, columns, expected)) {
        for (uint32_t slot = 0; slot < expected; ++slot)
            admit(slot);
        t.keepIdsAbove(maxId);
        return;
    }
    if (expected >= rowsForTwoReaders) {
        // read again by one reader, from fresh storage
        rows.reset();
        rows.reserveSlots(expected);
    }
    SqliteStmt st(db, QStringLiteral("SELECT %1 FROM records").arg(columns));
    if (!st.prepared()) refuse(path, db.error());
    RowFiller filler(t, stored, false);
    int rc;
    while ((rc = st.step()) == SQLITE_ROW) {
        // the storage for the counted rows is made in one go
        const uint32_t slot = row < expected ? uint32_t(row) : rows.newSlot();
        ++row;
        filler.fill(st.get(), slot);
        admit(slot);
    }
    if (rc != SQLITE_DONE) refuse(path, db.error());
    if (row < expected) rows.dropSlotsFrom(row);
    t.keepIdsAbove(maxId);
}

void TableFile::load(Table& t) {
    const QString path = t.filePath;
    const QFileInfo wal(path + QStringLiteral("-wal"));
    const bool walHolds = wal.exists() && wal.size() > 0;
    checkHeader(path, walHolds);
    SqliteDb db;
    // Read-write without create, so that SQLite can rebuild the index of a
    // write-ahead log; queries only. Closing after a good load completes a
    // checkpoint cut short, as any SQLite program would.
    int rc = db.open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
    if (rc != SQLITE_OK) rc = db.open(path, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX);
    if (rc != SQLITE_OK) refuse(path, db.error());
    sqlite3_busy_timeout(db.handle(), 2000);
    db.exec("PRAGMA query_only=ON");
    QHash<QString, QString> meta;
    try {
        readRows(db, t, checkColumns(db, t, &meta));
    } catch (...) {
        // a log the file still needs stays as it was, uncheckpointed
        if (walHolds) db.keepLogAtClose();
        throw;
    }
    // IDs once handed out stay used even when their rows were deleted; a
    // file written before the mark existed starts after its largest ID
    bool marked = false;
    const qint64 lastId = meta.value(QLatin1String(kLastIdKey)).toLongLong(&marked);
    if (marked && lastId > 0) t.keepIdsAbove(int(std::min<qint64>(lastId, INT32_MAX)));
    db.close();
    m_path = path;
    m_token = meta.value(QStringLiteral("token"));
    m_generation = meta.value(QStringLiteral("generation")).toLongLong();
    rememberFile(path);
}

// ---------------------------------------------------------------- write

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
        cannotWrite(path, reason);
    };
    if (!m_db.isOpen()) {
        if (m_db.open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX) != SQLITE_OK) return false;
        sqlite3_busy_timeout(m_db.handle(), 2000);
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
        if (m_db.exec("PRAGMA journal_mode=WAL") != SQLITE_OK ||
            m_db.exec("PRAGMA synchronous=FULL") != SQLITE_OK)
            fail(m_db.error());
        // the log is folded into the file every kLogFrames pages, so that
        // it stays within the room made for it
        if (m_db.exec(QStringLiteral("PRAGMA wal_autocheckpoint=%1").arg(kLogFrames)) != SQLITE_OK)
            fail(m_db.error());
        m_stmts = std::make_unique<Statements>(m_db, t, StoredFields(t));
        if (!m_stmts->prepared()) fail(m_db.error());
        // the counter as of the metadata just read
        m_dataVersion = m_stmts->dataVersion();
        m_logRoomOwed = true;
    }
    Statements& st = *m_stmts;
    if (Statements::run(st.begin) != SQLITE_DONE) fail(m_db.error());
    auto rollback = [&](const QString& reason) {
        m_db.exec("ROLLBACK");
        fail(reason);
    };
    if (st.dataVersion() != m_dataVersion) {
        // another program wrote to the file: it is written whole
        m_db.exec("ROLLBACK");
        closeConnection();
        return false;
    }
    if (m_logRoomOwed) {
        m_logRoomOwed = false;
        st.makeLogRoom(pageSize(m_db));
    }
    const RowStore& rows = t.rows();
    for (int id : t.deletedIds()) {
        st.del.bindInt(1, id);
        if (Statements::run(st.del) != SQLITE_DONE) rollback(m_db.error());
    }
    QSet<uint32_t> done;
    for (uint32_t id : t.changedIds()) {
        if (done.contains(id)) continue;
        done.insert(id);
        const int64_t slot = rows.idSlot(int(id));
        if (slot < 0) continue; // deleted since
        for (int c = 0; c < int(st.fields.size()); ++c)
            bindStored(st.ins.get(), c + 1, rows.column(st.fields[size_t(c)]), uint32_t(slot));
        if (Statements::run(st.ins) != SQLITE_DONE) rollback(m_db.error());
    }
    for (const auto& [key, value] :
         {std::pair{QByteArray("generation"), QByteArray::number(m_generation + 1)},
          std::pair{QByteArray(kLastIdKey), QByteArray::number(t.lastId())}})
        if (st.setMeta(key, value) != SQLITE_DONE) rollback(m_db.error());
    if (faultHook) {
        try {
            faultHook("before-commit");
        } catch (...) {
            m_db.exec("ROLLBACK");
            closeConnection();
            throw;
        }
    }
    if (Statements::run(st.commit) != SQLITE_DONE) rollback(m_db.error());
    m_dataVersion = st.dataVersion();
    ++m_generation;
    // The size and time remembered at the load or the last whole write are
    // left as they are: while the connection is open only the file's
    // identity is asked, and its closing folds the log in and changes both.
    return true;
}

// The whole table into a new file: written without a journal, synced, then
// renamed over the old one and the folder synced.
void TableFile::writeTemporary(const Table& t, const QString& tmp, const QString& token) {
    const QString& path = t.filePath;
    SqliteDb db;
    auto dbFail = [&]() {
        const QString why = db.error();
        db.close();
        removeFile(tmp);
        cannotWrite(path, why);
    };
    // made here first, so that a refusal comes with the system's reason
    const QString refused = createNewFile(tmp);
    if (!refused.isEmpty()) cannotWrite(path, refused);
    if (db.open(tmp, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX) != SQLITE_OK)
        dbFail();
    // The temporary file becomes visible only by the rename, so it needs no
    // journal; it is synced before the rename.
    if (db.exec("PRAGMA journal_mode=OFF") != SQLITE_OK ||
        db.exec("PRAGMA synchronous=OFF") != SQLITE_OK || db.exec("BEGIN") != SQLITE_OK)
        dbFail();
    if (db.exec("CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL)") != SQLITE_OK)
        dbFail();
    {
        SqliteStmt m(db, QStringLiteral("INSERT INTO meta VALUES(?,?)"));
        const QList<QPair<QString, QString>> meta = {
            {QStringLiteral("format"), QString::number(kFormatVersion)},
            {QStringLiteral("table"), t.name()},
            {QStringLiteral("token"), token},
            {QStringLiteral("generation"), QStringLiteral("1")},
            {QLatin1String(kLastIdKey), QString::number(t.lastId())}};
        for (const auto& kv : meta) {
            m.bindText(1, kv.first.toUtf8());
            m.bindText(2, kv.second.toUtf8());
            if (m.step() != SQLITE_DONE) dbFail();
            m.reset();
        }
    }
    const StoredFields stored(t);
    QStringList defs;
    for (int i : stored.fields) {
        const FieldDef& f = t.fieldDefs()[size_t(i)];
        QString d = quoted(f.name) + QLatin1Char(' ') + declaredType(t, i);
        if (f.type == FieldType::AutoInc) d += QStringLiteral(" NOT NULL PRIMARY KEY");
        defs << d;
    }
    if (db.exec(QStringLiteral("CREATE TABLE records(%1)").arg(defs.join(QLatin1Char(',')))) !=
        SQLITE_OK)
        dbFail();
    {
        SqliteStmt ins(db, QStringLiteral("INSERT INTO records(%1) VALUES(%2)")
                               .arg(stored.columns(), stored.placeholders()));
        if (!ins.prepared()) dbFail();
        // rows in ID order, so a later load finds them sorted
        const RowStore& rows = t.rows();
        for (uint32_t slot : t.slotsInIdOrder()) {
            for (int c = 0; c < int(stored.fields.size()); ++c)
                bindStored(ins.get(), c + 1, rows.column(stored.fields[size_t(c)]), slot);
            if (ins.step() != SQLITE_DONE) dbFail();
            ins.reset();
        }
    }
    if (db.exec("COMMIT") != SQLITE_OK) dbFail();
    // Marked for write-ahead logging now, so that later incremental writes
    // never touch the file's header.
    if (db.exec("PRAGMA journal_mode=WAL") != SQLITE_OK) dbFail();
}

void TableFile::writeWhole(Table& t) {
    const QString path = t.filePath;
    const QFileInfo info(path);
    const QString dir = info.absolutePath();
    const QString tmp = dir + QStringLiteral("/.%1.%2.tmp").arg(info.fileName()).arg(::getpid());
    auto fail = [&](const QString& reason) {
        removeFile(tmp);
        cannotWrite(path, reason);
    };
    closeConnection();
    removeFile(tmp);
    const QString token = newToken();
    writeTemporary(t, tmp, token);
    if (faultHook) faultHook("temp-written");
    QString why = syncPath(tmp, false);
    if (!why.isEmpty()) fail(why);
    if (faultHook) faultHook("before-rename");
    // A leftover log belongs to the file being replaced and must never be
    // applied to the new one. Its removal, like that of a log the last
    // closing removed, reaches the disk before the rename can: a power cut
    // may otherwise keep the renamed file and the old log beside it.
    for (const char* side : {"-journal", "-wal", "-shm"})
        removeFile(path + QLatin1String(side));
    why = syncFolder(dir, "logs-removed");
    if (!why.isEmpty()) fail(why);
    why = renameFile(tmp, path);
    if (!why.isEmpty()) fail(why);
    why = syncFolder(dir, "folder-synced");
    if (!why.isEmpty()) cannotWrite(path, why);
    m_path = path;
    m_token = token;
    m_generation = 1;
    rememberFile(path);
}

} // namespace qardel
