#include "data/FileSync.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qardel {

namespace {

FileOpObserver* g_observer = nullptr;

QString reason(int e) {
    return QString::fromLocal8Bit(std::strerror(e));
}

} // namespace

void setFileOpObserver(FileOpObserver* observer) {
    g_observer = observer;
}

QString syncPath(const QString& path, bool folder) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), folder ? O_RDONLY | O_DIRECTORY : O_RDONLY);
    if (fd < 0) return reason(errno);
    if (g_observer) g_observer->syncing(path, folder);
    const int rc = ::fsync(fd);
    const int e = errno;
    ::close(fd);
    return rc == 0 ? QString() : reason(e);
}

QString createNewFile(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_CREAT | O_EXCL | O_WRONLY, 0644);
    if (fd < 0) return reason(errno);
    ::close(fd);
    if (g_observer) g_observer->created(path);
    return {};
}

QString renameFile(const QString& from, const QString& to) {
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        return reason(errno);
    if (g_observer) g_observer->renamed(from, to);
    return {};
}

bool removeFile(const QString& path) {
    if (::unlink(QFile::encodeName(path).constData()) != 0) return false;
    if (g_observer) g_observer->removed(path);
    return true;
}

QString writeAllTo(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return reason(n < 0 ? errno : EIO);
        done += n;
    }
    return {};
}

WholeWrite writeFileWhole(const QString& path, const QByteArray& bytes) {
    WholeWrite w;
    const QFileInfo info(path);
    const QString target =
        info.isSymLink() && info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
    const QByteArray name = QFile::encodeName(target);
    auto regular = [&name, &w] {
        struct stat st {};
        w.notRegular = ::stat(name.constData(), &st) == 0 && !S_ISREG(st.st_mode);
        return !w.notRegular;
    };
    if (!regular()) return w;
    struct stat old {};
    const bool existed = ::stat(name.constData(), &old) == 0;
    const QString dir = QFileInfo(target).absolutePath();
    const QString tmp =
        dir + QStringLiteral("/.%1.%2.tmp").arg(QFileInfo(target).fileName()).arg(::getpid());
    const int fd =
        ::open(QFile::encodeName(tmp).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
               existed ? old.st_mode & 07777 : 0644);
    if (fd < 0) {
        w.error = QStringLiteral("%1: %2").arg(tmp, reason(errno));
        return w;
    }
    w.error = writeAllTo(fd, bytes);
    if (w.error.isEmpty() && ::fsync(fd) != 0) w.error = reason(errno);
    if (::close(fd) != 0 && w.error.isEmpty()) w.error = reason(errno);
    // something else may have taken the name meanwhile
    if (w.error.isEmpty() && regular()) w.error = renameFile(tmp, target);
    if (!w.error.isEmpty() || w.notRegular) {
        ::unlink(QFile::encodeName(tmp).constData());
        return w;
    }
    w.written = true;
    w.error = syncPath(dir, true);
    return w;
}

} // namespace qardel
