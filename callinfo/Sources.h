// Where the country files and the list of active calls come from: the
// system's copy that Debian's hamradio-files keeps, or a newer copy the
// operator put into the data folder. How the newer one is told is written
// down in docs/callinfo.md.
#pragma once

#include "callinfo/Cty.h"
#include "callinfo/Scp.h"

#include <QDate>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace qardel::callinfo {

// The system's folder of the shared ham-radio files:
// $QARDEL_HAMRADIO_FILES when set and not empty, else /usr/share/hamradio-files.
QString systemFilesDir();

// One copy of a file that may be read.
struct RefFile {
    QString path;
    QDate date;         // the release the file names, else the day it was last modified
    bool dated = false; // date is the release the file names
    bool inDataFolder = false;
};

// The copies of the files with these names in the data folder and in the
// system's folder, the newest first; of two equally new ones the data
// folder's first, then the order of names. versionOf gives the release a
// file's content names (invalid when none).
std::vector<RefFile> candidateFiles(const QStringList& names, const QString& dataDir,
                                    const QString& systemDir,
                                    QDate (*versionOf)(const QByteArray&));

struct CtyLoad {
    std::shared_ptr<const CtyData> data; // null when no copy could be read
    RefFile file;                        // the copy read
    QString problem; // why nothing could be read, or a newer copy that was passed over
};
// The newest readable cty.csv or cty.dat. A cty.dat takes the DXCC numbers
// it lacks from a readable cty.csv of the same places.
CtyLoad loadCty(const QString& dataDir, const QString& systemDir = systemFilesDir());

struct ScpLoad {
    std::shared_ptr<const ScpList> data; // null when no copy could be read
    RefFile file;
    QString problem;
};
// The newest readable MASTER.SCP.
ScpLoad loadScp(const QString& dataDir, const QString& systemDir = systemFilesDir());

} // namespace qardel::callinfo
