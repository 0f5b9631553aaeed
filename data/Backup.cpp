#include "data/Backup.h"

#include "data/FileSync.h"
#include "data/Schema.h"
#include "data/Sqlite.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qardel {

namespace {

const char* kBackupFolder = "backup";

QByteArray enc(const QString& p) {
    return QFile::encodeName(p);
}

QString sysReason(int e) {
    return QString::fromLocal8Bit(std::strerror(e));
}

// What sits at path itself, never what a link there points to.
enum class Kind { None, Dir, File, Other };
Kind kindOf(const QString& path) {
    struct stat st {};
    if (::lstat(enc(path).constData(), &st) != 0) return Kind::None;
    if (S_ISDIR(st.st_mode)) return Kind::Dir;
    if (S_ISREG(st.st_mode)) return Kind::File;
    return Kind::Other;
}

// Copies one database file with SQLite's online backup, so the copy is
// consistent, and syncs it; the reason when it fails.
QString copyDatabase(const QString& from, const QString& to) {
    SqliteDb src, dst;
    // read-write so that SQLite can read the file in write-ahead-log mode
    // and remove its empty log again when it closes; queries only
    if (src.open(from, SQLITE_OPEN_READWRITE) != SQLITE_OK) return src.error();
    src.exec("PRAGMA query_only=ON");
    if (dst.open(to, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) != SQLITE_OK) return dst.error();
    // the copy is synced as a whole below; it needs no journal of its own
    dst.exec("PRAGMA journal_mode=OFF");
    dst.exec("PRAGMA synchronous=OFF");
    sqlite3_backup* b = sqlite3_backup_init(dst.handle(), "main", src.handle(), "main");
    if (!b) return dst.error();
    const int step = sqlite3_backup_step(b, -1);
    const int fin = sqlite3_backup_finish(b);
    if (step != SQLITE_DONE || fin != SQLITE_OK) return dst.error();
    dst.close();
    return syncPath(to, false);
}

// Removes a backup folder the program made: the table files in it and then
// the folder, never anything through a link and never anything else. A
// folder holding other things stays.
void removeBackupFolder(const QString& path) {
    if (kindOf(path) != Kind::Dir) return;
    for (const QString& f : tableFileNames())
        for (const char* side : {"", "-journal"}) {
            const QString p = path + QLatin1Char('/') + f + QLatin1String(side);
            if (kindOf(p) == Kind::File) ::unlink(enc(p).constData());
        }
    ::rmdir(enc(path).constData());
}

bool isComplete(const QString& folder) {
    if (kindOf(folder) != Kind::Dir) return false;
    for (const QString& f : tableFileNames()) {
        const QString p = folder + QLatin1Char('/') + f;
        if (kindOf(p) != Kind::File || QFileInfo(p).size() == 0) return false;
    }
    return true;
}

// Dated backup folders, newest first: real folders only, never links.
QStringList backupFolders(const QString& root) {
    QStringList names;
    for (const QString& n : QDir(root).entryList(
             {QStringLiteral("[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]")},
             QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name | QDir::Reversed))
        if (kindOf(root + n) == Kind::Dir) names << n;
    return names;
}

QString failure(const QString& target, const QString& reason) {
    return QStringLiteral(
               "Не удалось сделать резервную копию журнала в папке\n%1\n%2\n\nНезаконченная "
               "копия удалена, файлы журнала не изменены; работа продолжается.")
        .arg(QDir::toNativeSeparators(target), reason);
}

} // namespace

QStringList tableFileNames() {
    QStringList names;
    for (const auto& tf : tableFiles())
        names << tf.second;
    return names;
}

BackupResult makeDailyBackup(const QString& dataDir, const QDate& today, int keep) {
    const QString root = dataDir + QLatin1String(kBackupFolder) + QLatin1Char('/');
    const QString name = today.toString(QStringLiteral("yyyy-MM-dd"));
    const QString target = root + name;
    // a backup is of the whole log: until all nine files exist there is none
    for (const QString& f : tableFileNames())
        if (kindOf(dataDir + f) != Kind::File) return {};
    const Kind rootKind = kindOf(dataDir + QLatin1String(kBackupFolder));
    if (rootKind != Kind::None && rootKind != Kind::Dir)
        return {{},
                failure(target, QStringLiteral("«%1» не является папкой (символическая ссылка?)")
                                    .arg(QLatin1String(kBackupFolder)))};
    if (isComplete(target)) return {};
    if (kindOf(target) != Kind::None && kindOf(target) != Kind::Dir)
        return {{}, failure(target, QStringLiteral("на этом месте лежит не папка"))};
    const bool madeRoot = rootKind == Kind::None;
    if (!QDir().mkpath(root))
        return {{}, failure(target, QStringLiteral("не удалось создать папку %1").arg(root))};
    // left by a copy cut short: ours, so removed (never through a link)
    static const QRegularExpression tmpName(
        QStringLiteral("^\\.\\d{4}-\\d\\d-\\d\\d\\.([A-Za-z0-9]{6}|tmp)$"));
    for (const QString& n : QDir(root).entryList({QStringLiteral(".*")},
                                                 QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot))
        if (tmpName.match(n).hasMatch()) removeBackupFolder(root + n);
    // an incomplete copy of today, left by an earlier version, is made anew
    removeBackupFolder(target);
    if (kindOf(target) != Kind::None)
        return {{}, failure(target, QStringLiteral("папка занята посторонними файлами"))};

    // built under a fresh temporary name, so a half-made copy is never taken
    // for one, and nothing already there is ever written through
    QByteArray tmpl = enc(root + QLatin1Char('.') + name + QStringLiteral(".XXXXXX"));
    if (!::mkdtemp(tmpl.data())) return {{}, failure(target, sysReason(errno))};
    const QString tmp = QFile::decodeName(tmpl);
    auto abandon = [&](const QString& why) {
        removeBackupFolder(tmp);
        if (madeRoot) ::rmdir(enc(root).constData()); // the disk as it was
        return BackupResult{{}, failure(target, why)};
    };
    for (const QString& f : tableFileNames()) {
        const QString why = copyDatabase(dataDir + f, tmp + QLatin1Char('/') + f);
        if (!why.isEmpty()) return abandon(QStringLiteral("%1: %2").arg(f, why));
    }
    QString why = syncPath(tmp, true);
    if (!why.isEmpty()) return abandon(why);
    if (::rename(enc(tmp).constData(), enc(target).constData()) != 0)
        return abandon(sysReason(errno));
    why = syncPath(root, true); // the rename survives a power cut
    if (!why.isEmpty()) {
        removeBackupFolder(target);
        return {{}, failure(target, why)};
    }

    // the newest complete copies are kept; older ones and incomplete ones go
    int kept = 0;
    for (const QString& n : backupFolders(root)) {
        if (n == name) {
            ++kept;
            continue;
        }
        if (isComplete(root + n) && kept < keep)
            ++kept;
        else
            removeBackupFolder(root + n);
    }
    return {target, {}};
}

QString newestBackupOf(const QString& dataDir, const QString& fileName) {
    const QString root = dataDir + QLatin1String(kBackupFolder) + QLatin1Char('/');
    for (const QString& b : backupFolders(root)) {
        const QString p = root + b + QLatin1Char('/') + fileName;
        if (kindOf(p) == Kind::File && QFileInfo(p).size() > 0) return p;
    }
    return {};
}

} // namespace qardel
