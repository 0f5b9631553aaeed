#include "Backup.h"

#include <QDir>
#include <QFileInfo>

#include <sqlite3.h>

namespace qardel {

namespace {

const char* kBackupFolder = "backup";

// Copies one database file with SQLite's online backup; false when the
// source cannot be read as a database.
bool copyDatabase(const QString& from, const QString& to) {
    sqlite3* src = nullptr;
    sqlite3* dst = nullptr;
    bool ok = false;
    if (sqlite3_open_v2(QFile::encodeName(from).constData(), &src, SQLITE_OPEN_READONLY, nullptr) ==
            SQLITE_OK &&
        sqlite3_open_v2(QFile::encodeName(to).constData(), &dst,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) == SQLITE_OK) {
        if (sqlite3_backup* b = sqlite3_backup_init(dst, "main", src, "main")) {
            ok = sqlite3_backup_step(b, -1) == SQLITE_DONE;
            ok = sqlite3_backup_finish(b) == SQLITE_OK && ok;
        }
    }
    sqlite3_close_v2(src);
    sqlite3_close_v2(dst);
    if (!ok) QFile::remove(to);
    return ok;
}

QStringList backupFolders(const QString& dataDir) {
    QDir d(dataDir + QLatin1String(kBackupFolder));
    QStringList names = d.entryList({QStringLiteral("[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]")},
                                    QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::Reversed);
    return names;
}

} // namespace

QStringList tableFileNames() {
    return {QStringLiteral("Main.db"),  QStringLiteral("Cors.db"),  QStringLiteral("Bands.db"),
            QStringLiteral("Modes.db"), QStringLiteral("RS.db"),    QStringLiteral("Country.db"),
            QStringLiteral("City.db"),  QStringLiteral("Names.db"), QStringLiteral("Ini.db")};
}

QString makeDailyBackup(const QString& dataDir, const QDate& today, int keep) {
    const QString root = dataDir + QLatin1String(kBackupFolder) + QLatin1Char('/');
    const QString name = today.toString(QStringLiteral("yyyy-MM-dd"));
    const QString target = root + name;
    if (QFileInfo(target).isDir()) return {};
    bool any = false;
    for (const QString& f : tableFileNames())
        any = any || QFileInfo::exists(dataDir + f);
    if (!any) return {};
    // built under a temporary name, so a half-made copy is never taken for one
    const QString tmp = root + QStringLiteral(".") + name + QStringLiteral(".tmp");
    QDir(tmp).removeRecursively();
    if (!QDir().mkpath(tmp)) return {};
    int copied = 0;
    for (const QString& f : tableFileNames())
        if (QFileInfo::exists(dataDir + f) && copyDatabase(dataDir + f, tmp + QLatin1Char('/') + f))
            ++copied;
    if (copied == 0 || !QDir().rename(tmp, target)) {
        QDir(tmp).removeRecursively();
        return {};
    }
    const QStringList all = backupFolders(dataDir);
    for (int i = keep; i < all.size(); ++i)
        QDir(root + all[i]).removeRecursively();
    return target;
}

QString newestBackupOf(const QString& dataDir, const QString& fileName) {
    const QString root = dataDir + QLatin1String(kBackupFolder) + QLatin1Char('/');
    for (const QString& b : backupFolders(dataDir)) {
        const QString p = root + b + QLatin1Char('/') + fileName;
        if (QFileInfo(p).size() > 0) return p;
    }
    return {};
}

} // namespace qardel
