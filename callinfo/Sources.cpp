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

QByteArray readAll(const QString& path, QString* error) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), f.errorString());
        return {};
    }
    QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), f.errorString());
        return {};
    }
    return bytes;
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
            QString error;
            const QByteArray bytes = readAll(r.path, &error);
            r.date = error.isEmpty() ? versionOf(bytes) : QDate();
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
            auto data = std::make_shared<CtyData>(CtyData::readFile(files[i].path));
            if (CtyData::formatOf(files[i].path) == CtyData::Format::Dat) {
                // the numbers do not change between releases: any csv will do
                for (const RefFile& other : files) {
                    if (CtyData::formatOf(other.path) != CtyData::Format::Csv) continue;
                    try {
                        data->takeDxccNumbers(CtyData::readFile(other.path));
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
        QString error;
        const QByteArray bytes = readAll(f.path, &error);
        if (!error.isEmpty()) {
            problems << error;
            continue;
        }
        auto list = std::make_shared<ScpList>(ScpList::parse(bytes));
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
