#include "data/ImportStage.h"

#include "data/FileSync.h"
#include "data/Schema.h"
#include "data/uDM.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace qardel::importstage {

void (*faultHook)(const char* point) = nullptr;

namespace {

const char kMark[] = "COMMITTED";

void hook(const char* point) {
    if (faultHook) faultHook(point);
}

// Removes the stage's files and the folder itself; the caller syncs the
// data folder.
bool removeStage(const QString& stage) {
    QDir d(stage);
    if (!d.exists()) return true;
    // the commit mark first: a stage without it is never finished
    removeFile(stage + QLatin1String(kMark));
    for (const QFileInfo& f : d.entryInfoList(QDir::Files | QDir::Hidden | QDir::System))
        removeFile(f.absoluteFilePath());
    // nothing else is ever made there; a folder someone put inside goes too
    d.removeRecursively();
    return !QFileInfo::exists(stage);
}

// Renames every staged table file into the data folder. A log beside a
// file being replaced belongs to the old file: its removal reaches the disk
// before any rename can, as in a whole write of one table.
QString finish(const QString& dir) {
    const QString stage = folder(dir);
    QStringList staged;
    for (const auto& tf : tableFiles())
        if (QFileInfo::exists(stage + tf.second)) staged << tf.second;
    for (const QString& f : staged)
        for (const char* side : {"-journal", "-wal", "-shm"})
            removeFile(dir + f + QLatin1String(side));
    QString why = syncPath(dir, true);
    if (!why.isEmpty()) return why;
    for (const QString& f : staged) {
        why = renameFile(stage + f, dir + f);
        if (!why.isEmpty())
            return QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(dir + f), why);
        hook("renamed");
    }
    why = syncPath(dir, true);
    if (!why.isEmpty()) return why;
    if (!removeStage(stage))
        return QStringLiteral("%1 cannot be removed").arg(QDir::toNativeSeparators(stage));
    return syncPath(dir, true);
}

} // namespace

QString folder(const QString& dataDir) {
    return dataDir + QStringLiteral(".import/");
}

void write(TDM& dm) {
    const QString dir = dm.DataDir;
    const QString stage = folder(dir);
    auto fail = [&](const QString& why) {
        throw DbError(QStringLiteral("Cannot prepare the import in %1: %2")
                          .arg(QDir::toNativeSeparators(stage), why));
    };
    try {
        // a stage here now is this process's own leftover: opening the folder
        // finished or removed any earlier one
        if (!removeStage(stage)) fail(QStringLiteral("an old stage cannot be removed"));
        if (!QDir().mkdir(stage)) fail(QStringLiteral("the folder cannot be made"));
        QString why = syncPath(dir, true);
        if (!why.isEmpty()) fail(why);
        for (Table* t : dm.saveOrder()) {
            const QString name = tableFileName(t->name());
            if (!dm.IsModified(*t) && QFileInfo::exists(dir + name)) continue;
            // another path than the one it last wrote: written whole
            t->filePath = stage + name;
            t->write();
        }
        why = syncPath(stage, true);
        if (!why.isEmpty()) fail(why);
        hook("staged");
        // the moment the import takes place: once the mark is on the disk,
        // whoever opens the folder finishes it
        why = createNewFile(stage + QLatin1String(kMark));
        if (why.isEmpty()) why = syncPath(stage + QLatin1String(kMark), false);
        if (why.isEmpty()) why = syncPath(stage, true);
        if (!why.isEmpty()) fail(why);
    } catch (...) {
        dm.AbandonTables();
        removeStage(stage);
        syncPath(dir, true);
        throw;
    }
    hook("committed");
    dm.AbandonTables();
    const QString why = finish(dir);
    if (!why.isEmpty())
        throw DbError(
            QStringLiteral("The import is complete in %1 but cannot be put in place (%2); "
                           "the next opening of the folder finishes it")
                .arg(QDir::toNativeSeparators(stage), why));
}

Recovery recover(const QString& dataDir) {
    Recovery r;
    const QString stage = folder(dataDir);
    if (!QFileInfo(stage).isDir()) return r;
    if (QFileInfo::exists(stage + QLatin1String(kMark))) {
        r.found = Found::Finished;
        r.error = finish(dataDir);
    } else {
        r.found = Found::Removed;
        if (!removeStage(stage))
            r.error = QStringLiteral("%1 cannot be removed").arg(QDir::toNativeSeparators(stage));
        else
            r.error = syncPath(dataDir, true);
    }
    return r;
}

} // namespace qardel::importstage
