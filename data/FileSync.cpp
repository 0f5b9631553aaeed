#include "data/FileSync.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
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

} // namespace qardel
