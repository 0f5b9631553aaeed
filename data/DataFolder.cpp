#include "data/DataFolder.h"

#include "data/Backup.h"
#include "data/ImportStage.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace qardel {

namespace {

QString native(const QString& p) {
    return QDir::toNativeSeparators(p);
}

// Why the lock file cannot be made in dir, in the system's words; empty when
// nothing stands in the way. The lock itself does not tell the reason.
QString lockRefusal(const QString& dir, const QString& lockPath) {
    struct stat st {};
    if (::lstat(QFile::encodeName(lockPath).constData(), &st) == 0 && !S_ISREG(st.st_mode))
        return QStringLiteral("%1: %2").arg(native(lockPath),
                                            QString::fromLocal8Bit(std::strerror(EISDIR)));
    const QByteArray probe =
        QFile::encodeName(dir + QStringLiteral(".qardel-probe.%1").arg(::getpid()));
    const int fd = ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return QString::fromLocal8Bit(std::strerror(errno));
    ::close(fd);
    ::unlink(probe.constData());
    return {};
}

} // namespace

DataFolder::DataFolder(QString dir, bool english) : m_dir(std::move(dir)), m_english(english) {}

QString DataFolder::text(const char* russian, const char* english) const {
    return QString::fromUtf8(m_english ? english : russian);
}

QString DataFolder::take() {
    std::error_code ec;
    std::filesystem::create_directories(QFile::encodeName(m_dir).toStdString(), ec);
    if (ec || !QFileInfo(m_dir).isDir())
        return text("Не удалось создать папку данных\n%1\n%2",
                    "Cannot create the data folder\n%1\n%2")
            .arg(native(m_dir), ec ? QString::fromLocal8Bit(ec.message().c_str()) : QString());
    // One program per data folder: a second one would overwrite the first
    // one's tables with its own older copy.
    const QString lockPath = m_dir + QStringLiteral("qardel.lock");
    const QString refusal = lockRefusal(m_dir, lockPath);
    if (!refusal.isEmpty())
        return text("Не удалось заблокировать папку данных\n%1\n%2",
                    "Cannot lock the data folder\n%1\n%2")
            .arg(native(m_dir), refusal);
    m_lock = std::make_unique<QLockFile>(lockPath);
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0)) return recoverImport();
    const bool held = m_lock->error() == QLockFile::LockFailedError;
    m_lock.reset();
    return held
               ? text("Журнал в папке\n%1\nуже открыт другой копией программы QARDEL.\nЗакройте её "
                      "и запустите программу снова.",
                      "The log in the folder\n%1\nis open in another copy of QARDEL (or "
                      "qardel-adif).\nClose it and try again.")
                     .arg(native(m_dir))
               : text("Не удалось заблокировать папку данных\n%1",
                      "Cannot lock the data folder\n%1")
                     .arg(native(m_dir));
}

QString DataFolder::recoverImport() {
    const importstage::Recovery r = importstage::recover(m_dir);
    if (!r.error.isEmpty()) {
        m_lock.reset();
        return text("Загрузка связей из ADIF в журнал в папке\n%1\nбыла прервана, и её не удалось "
                    "ни завершить, ни отменить:\n%2\n\nПрограмма будет закрыта; файлы данных "
                    "оставлены как есть.",
                    "An import into the log in the folder\n%1\nwas interrupted and can be neither "
                    "finished nor undone:\n%2\n\nNothing else was done; the data files were left "
                    "as they are.")
            .arg(native(m_dir), r.error);
    }
    if (r.found == importstage::Found::Finished)
        m_recovered = text("Загрузка связей из ADIF была прервана после того, как была полностью "
                           "подготовлена; теперь она завершена: журнал содержит загруженные связи.",
                           "An ADIF import was interrupted after it had been fully prepared; it "
                           "is now complete: the log holds the imported QSOs.");
    else if (r.found == importstage::Found::Removed)
        m_recovered = text("Загрузка связей из ADIF была прервана, не успев записаться; она "
                           "отменена: журнал такой же, каким был до неё.",
                           "An ADIF import was interrupted before it was written; it was undone: "
                           "the log is as it was before it.");
    return {};
}

QString DataFolder::unreadable(const QString& engineError) const {
    QString backup;
    for (const QString& f : tableFileNames())
        if (engineError.contains(m_dir + f) || engineError.contains(native(m_dir + f))) {
            const QString b = newestBackupOf(m_dir, f);
            if (!b.isEmpty())
                backup = text("\n\nПоследняя резервная копия этого файла:\n%1",
                              "\n\nThe newest backup of this file:\n%1")
                             .arg(native(b));
        }
    return text("Не удалось прочитать файл журнала.\n%1%2\n\nПрограмма будет закрыта; файлы данных "
                "оставлены без изменений.",
                "A file of the log cannot be read.\n%1%2\n\nNothing was done; the data files "
                "were left as they are.")
        .arg(engineError, backup);
}

QString DataFolder::backUp(const QDate& today) const {
    return makeDailyBackup(m_dir, today).error;
}

} // namespace qardel
