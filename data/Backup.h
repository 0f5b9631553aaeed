// Daily copies of the nine table files in backup/ inside the data folder.
#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

namespace qardel {

// The table files, as they are named in the data folder.
QStringList tableFileNames();

struct BackupResult {
    QString folder; // the folder written; empty when none was
    QString error;  // for the operator, in Russian, when a backup failed
};

// Taken after the tables were read without error, so a copy is of a sound
// log. Copies the nine table files of dataDir into backup/<date>/ unless a
// complete copy for that date exists, then keeps the newest `keep` complete
// copies. A copy is either complete (each file copied through SQLite's
// backup, so consistent, and synced) or removed again; the program removes
// only what it made inside backup/ and never goes through a link.
BackupResult makeDailyBackup(const QString& dataDir, const QDate& today, int keep = 10);

// The newest backup folder that holds a readable copy of fileName; empty when none.
QString newestBackupOf(const QString& dataDir, const QString& fileName);

} // namespace qardel
