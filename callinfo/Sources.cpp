#include "callinfo/Sources.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace qardel::callinfo {

namespace {

QString withSlash(QString dir) {
    if (!dir.isEmpty() && !dir.endsWith(QLatin1Char('/'))) dir += QLatin1Char('/');
    return dir;
}

// A file's bytes: mapped where the system can (no copy, nothing to clear),
// read otherwise. The bytes live as long as the object.
class FileBytes {
  public:
    explicit FileBytes(const QString& path) : m_file(path) {
        if (!m_file.open(QIODevice::ReadOnly)) {
            m_error =
                QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), m_file.errorString());
            return;
        }
        const qint64 size = m_file.size();
        if (size > 0)
            if (const uchar* p = m_file.map(0, size)) {
                m_bytes =
                    QByteArray::fromRawData(reinterpret_cast<const char*>(p), qsizetype(size));
                return;
            }
        m_bytes = m_file.readAll();
        if (m_file.error() != QFileDevice::NoError)
            m_error =
                QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), m_file.errorString());
    }
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;
    const QByteArray& bytes() const { return m_bytes; }
    const QString& error() const { return m_error; }

  private:
    QFile m_file;
    QByteArray m_bytes;
    QString m_error;
};

CtyData readCty(const QString& path) {
    const FileBytes file(path);
    if (!file.error().isEmpty()) throw CtyError(file.error());
    try {
        return CtyData::parse(file.bytes(), CtyData::formatOf(path));
    } catch (const CtyError& e) {
        throw CtyError(QStringLiteral("%1, %2").arg(QDir::toNativeSeparators(path), e.message()));
    }
}

QString notFound(const QStringList& names, const QString& dataDir, const QString& systemDir) {
    return QStringLiteral("%1 нет ни в %2, ни в %3")
        .arg(names.join(QStringLiteral(" и ")), QDir::toNativeSeparators(dataDir),
             QDir::toNativeSeparators(systemDir));
}

} // namespace

QString systemFilesDir() {
    const QString env = qEnvironmentVariable("QARDEL_HAMRADIO_FILES");
    return env.isEmpty() ? QStringLiteral("/usr/share/hamradio-files") : env;
}

std::vector<RefFile> candidateFiles(const QStringList& names, const QString& dataDir,
                                    const QString& systemDir,
                                    QDate (*versionOf)(const QByteArray&)) {
    std::vector<std::pair<RefFile, int>> found; // with the name's rank
    for (int inData = 1; inData >= 0; --inData) {
        const QString dir = withSlash(inData ? dataDir : systemDir);
        if (dir.isEmpty()) continue;
        for (int rank = 0; rank < names.size(); ++rank) {
            const QFileInfo fi(dir + names[rank]);
            if (!fi.isFile()) continue;
            RefFile r;
            r.path = fi.filePath();
            r.inDataFolder = inData != 0;
            const FileBytes file(r.path);
            r.date = file.error().isEmpty() ? versionOf(file.bytes()) : QDate();
            r.dated = r.date.isValid();
            if (!r.dated) r.date = fi.lastModified().date();
            found.push_back({r, rank});
        }
    }
    std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        if (a.first.date != b.first.date) return a.first.date > b.first.date;
        if (a.first.inDataFolder != b.first.inDataFolder) return a.first.inDataFolder;
        return a.second < b.second;
    });
    std::vector<RefFile> out;
    for (const auto& f : found)
        out.push_back(f.first);
    return out;
}

CtyLoad loadCty(const QString& dataDir, const QString& systemDir) {
    const QStringList names = {QStringLiteral("cty.csv"), QStringLiteral("cty.dat")};
    const std::vector<RefFile> files =
        candidateFiles(names, dataDir, systemDir, &CtyData::versionIn);
    CtyLoad load;
    if (files.empty()) {
        load.problem = notFound(names, dataDir, systemDir);
        return load;
    }
    QStringList problems;
    for (size_t i = 0; i < files.size(); ++i) {
        try {
            auto data = std::make_shared<CtyData>(readCty(files[i].path));
            if (CtyData::formatOf(files[i].path) == CtyData::Format::Dat) {
                // the numbers do not change between releases: any csv will do
                for (const RefFile& other : files) {
                    if (CtyData::formatOf(other.path) != CtyData::Format::Csv) continue;
                    try {
                        data->takeDxccNumbers(readCty(other.path));
                        break;
                    } catch (const CtyError&) {
                    }
                }
            }
            load.data = std::move(data);
            load.file = files[i];
            break;
        } catch (const CtyError& e) {
            problems << e.message();
        }
    }
    load.problem = problems.join(QStringLiteral("; "));
    return load;
}

ScpLoad loadScp(const QString& dataDir, const QString& systemDir) {
    const QStringList names = {QStringLiteral("MASTER.SCP")};
    const std::vector<RefFile> files =
        candidateFiles(names, dataDir, systemDir, &ScpList::versionIn);
    ScpLoad load;
    if (files.empty()) {
        load.problem = notFound(names, dataDir, systemDir);
        return load;
    }
    QStringList problems;
    for (const RefFile& f : files) {
        const FileBytes file(f.path);
        if (!file.error().isEmpty()) {
            problems << file.error();
            continue;
        }
        auto list = std::make_shared<ScpList>(ScpList::parse(file.bytes()));
        if (list->isEmpty()) {
            problems
                << QStringLiteral("%1: в файле нет позывных").arg(QDir::toNativeSeparators(f.path));
            continue;
        }
        load.data = std::move(list);
        load.file = f;
        break;
    }
    load.problem = problems.join(QStringLiteral("; "));
    return load;
}

} // namespace qardel::callinfo
