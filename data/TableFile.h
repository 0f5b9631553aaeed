// The file form of a table: one SQLite database per table, written durably
// (temporary file, sync, rename, folder sync) or, when the file is still the
// one this table last wrote, incrementally in one transaction.
#pragma once

#include "data/Sqlite.h"

#include <QHash>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace qardel {

class Table;

class TableFile {
  public:
    static constexpr int kFormatVersion = 1;
    // The metadata key of the highest ID the table ever assigned.
    static constexpr const char* kLastIdKey = "last_id";

    TableFile();
    ~TableFile();
    TableFile(const TableFile&) = delete;
    TableFile& operator=(const TableFile&) = delete;

    void load(Table& t);
    void write(Table& t);
    void forget(); // the next write is a whole one
    // The table closes: as forget(), and the side files of a write-ahead log
    // that a reader left beside the file this table wrote are folded in and
    // removed, so a closed log is the table files alone.
    void close();

    // Declared SQL type of a stored field, e.g. "STRING VARCHAR(10)".
    static QString declaredType(const Table& t, int fieldIndex);

    // Test hook: when set, called at named points of a write ("temp-written",
    // "before-rename", "logs-removed", "folder-synced" of a whole write,
    // "before-commit" of an incremental one, "written" when either is done);
    // it may throw or stop the process.
    static void (*faultHook)(const char* point);

    // Tables of this many rows or more are read by two readers at once;
    // the loads that did so are counted (for tests and benchmarks).
    static size_t rowsForTwoReaders;
    static std::atomic<int> loadsByTwoReaders;

  private:
    static void checkHeader(const QString& path, bool walHolds);
    static std::vector<int> checkColumns(const SqliteDb& db, const Table& t,
                                         QHash<QString, QString>* meta);
    static void readRows(const SqliteDb& db, Table& t, const std::vector<int>& stored);
    static bool readFromBothEnds(const SqliteDb& db, Table& t, const std::vector<int>& stored,
                                 const QString& columns, size_t expected);
    static void writeTemporary(const Table& t, const QString& tmp, const QString& token);
    void writeWhole(Table& t);
    bool writeIncremental(Table& t);
    void rememberFile(const QString& path);
    bool sameFileAsWritten(const QString& path) const;
    void closeConnection();

    SqliteDb m_db; // kept open between incremental writes
    qint64 m_dataVersion = -1;
    bool m_logRoomOwed = false; // the connection's first write makes room in its log
    // the statements of an incremental write, prepared once for the open
    // connection: a save parses no SQL
    struct Statements;
    std::unique_ptr<Statements> m_stmts;

    QString m_path;  // the file this table last wrote or loaded
    QString m_token; // random identity of that file
    qint64 m_generation = 0;
    // identity of the file after our last write, to notice other writers
    quint64 m_dev = 0, m_ino = 0;
    qint64 m_size = -1, m_mtimeNs = -1;
};

} // namespace qardel
