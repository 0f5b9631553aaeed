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

QString csvField(const QString& s) {
    if (!s.contains(QLatin1Char(',')) && !s.contains(QLatin1Char('"')) &&
        !s.contains(QLatin1Char('\n')) && !s.contains(QLatin1Char('\r')))
        return s;
    QString q = s;
    q.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
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
    const WholeWrite w = writeFileWhole(path, bytes);
    if (written) *written = w.written;
    return w.notRegular ? QStringLiteral("это не обычный файл (папка, устройство или канал)")
                        : w.error;
}

} // namespace qardel
