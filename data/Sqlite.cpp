#include "data/Sqlite.h"

#include <QFile>

#include <sqlite3.h>

namespace qardel {

int SqliteDb::open(const QString& path, int flags) {
    close();
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        // the reason is read before the connection goes
        m_openError = error();
        close();
    }
    return rc;
}

void SqliteDb::close() {
    if (m_db) sqlite3_close_v2(m_db);
    m_db = nullptr;
}

QString SqliteDb::error() const {
    if (!m_db) return m_openError.isEmpty() ? QStringLiteral("out of memory") : m_openError;
    return QString::fromUtf8(sqlite3_errmsg(m_db));
}

int SqliteDb::exec(const char* sql) {
    return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
}

int SqliteDb::exec(const QString& sql) {
    return exec(sql.toUtf8().constData());
}

void SqliteDb::keepLogAtClose() {
    if (m_db) sqlite3_db_config(m_db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
}

SqliteStmt::SqliteStmt(const SqliteDb& db, const QString& sql) {
    if (sqlite3_prepare_v2(db.handle(), sql.toUtf8().constData(), -1, &m_stmt, nullptr) !=
        SQLITE_OK) {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
    }
}

SqliteStmt::~SqliteStmt() {
    sqlite3_finalize(m_stmt);
}

int SqliteStmt::step() {
    return m_stmt ? sqlite3_step(m_stmt) : SQLITE_MISUSE;
}

void SqliteStmt::reset() {
    sqlite3_reset(m_stmt);
}

void SqliteStmt::bindText(int column, const QByteArray& utf8) {
    sqlite3_bind_text(m_stmt, column, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

void SqliteStmt::bindInt(int column, int value) {
    sqlite3_bind_int(m_stmt, column, value);
}

} // namespace qardel
