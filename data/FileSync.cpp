#include "data/FileSync.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace qardel {

QString syncPath(const QString& path, bool folder) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), folder ? O_RDONLY | O_DIRECTORY : O_RDONLY);
    if (fd < 0) return QString::fromLocal8Bit(std::strerror(errno));
    const int rc = ::fsync(fd);
    const int e = errno;
    ::close(fd);
    return rc == 0 ? QString() : QString::fromLocal8Bit(std::strerror(e));
}

} // namespace qardel
