#include "query/ExportFile.h"

#include "data/FileSync.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qardel {

namespace {

QString reason(int e) {
    return QString::fromLocal8Bit(std::strerror(e));
}

QString csvField(const QString& s) {
    if (!s.contains(QLatin1Char(',')) && !s.contains(QLatin1Char('"')) &&
        !s.contains(QLatin1Char('\n')) && !s.contains(QLatin1Char('\r')))
        return s;
    QString q = s;
    q.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

QString notRegular(const QByteArray& target) {
    struct stat st {};
    if (::stat(target.constData(), &st) == 0 && !S_ISREG(st.st_mode))
        return QStringLiteral("это не обычный файл (папка, устройство или канал)");
    return {};
}

} // namespace

QByteArray toCsv(const QList<QStringList>& rows) {
    QString out;
    for (const QStringList& row : rows) {
        QStringList fields;
        fields.reserve(row.size());
        for (const QString& f : row)
            fields << csvField(f);
        out += fields.join(QLatin1Char(',')) + QLatin1String("\r\n");
    }
    return out.toUtf8();
}

QString writeExportFile(const QString& path, const QByteArray& bytes, bool* written) {
    if (written) *written = false;
    const QFileInfo info(path);
    const QString target =
        info.isSymLink() && info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
    const QByteArray targetName = QFile::encodeName(target);
    QString why = notRegular(targetName);
    if (!why.isEmpty()) return why;
    struct stat old {};
    const bool existed = ::stat(targetName.constData(), &old) == 0;
    const QString dir = QFileInfo(target).absolutePath();
    const QString tmp =
        dir + QStringLiteral("/.%1.%2.tmp").arg(QFileInfo(target).fileName()).arg(::getpid());
    const int fd =
        ::open(QFile::encodeName(tmp).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
               existed ? old.st_mode & 07777 : 0644);
    if (fd < 0) return reason(errno);
    qsizetype done = 0;
    while (why.isEmpty() && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            why = reason(n < 0 ? errno : EIO);
        else
            done += n;
    }
    if (why.isEmpty() && ::fsync(fd) != 0) why = reason(errno);
    if (::close(fd) != 0 && why.isEmpty()) why = reason(errno);
    if (why.isEmpty()) why = notRegular(targetName); // the name was taken meanwhile
    if (why.isEmpty()) why = renameFile(tmp, target);
    if (!why.isEmpty()) {
        ::unlink(QFile::encodeName(tmp).constData());
        return why;
    }
    if (written) *written = true;
    return syncPath(dir, true);
}

} // namespace qardel
