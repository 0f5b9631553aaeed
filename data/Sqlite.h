// One connection to an SQLite file and its statements, each closed or
// finalized on every path; the one way the data module talks to SQLite.
#pragma once

#include <QByteArray>
#include <QString>

struct sqlite3;
struct sqlite3_stmt;

namespace qardel {

class SqliteDb {
  public:
    SqliteDb() = default;
    ~SqliteDb() { close(); }
    SqliteDb(const SqliteDb&) = delete;
    SqliteDb& operator=(const SqliteDb&) = delete;

    int open(const QString& path, int flags); // SQLite's result code
    void close();
    bool isOpen() const { return m_db != nullptr; }
    sqlite3* handle() const { return m_db; }
    QString error() const;
    int exec(const char* sql);
    int exec(const QString& sql);
    // Closing then leaves a write-ahead log as it is, without a checkpoint.
    void keepLogAtClose();

  private:
    sqlite3* m_db = nullptr;
    QString m_openError; // why the last open failed
};

class SqliteStmt {
  public:
    SqliteStmt(const SqliteDb& db, const QString& sql);
    ~SqliteStmt();
    SqliteStmt(const SqliteStmt&) = delete;
    SqliteStmt& operator=(const SqliteStmt&) = delete;

    bool prepared() const { return m_stmt != nullptr; }
    sqlite3_stmt* get() const { return m_stmt; }
    int step();
    void reset();
    void bindText(int column, const QByteArray& utf8);
    void bindInt(int column, int value);

  private:
    sqlite3_stmt* m_stmt = nullptr;
};

} // namespace qardel
