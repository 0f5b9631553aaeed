// Daily copies of the nine table files in backup/ inside the data folder.
#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

namespace qardel {

// The table files, as they are named in the data folder.
QStringList tableFileNames();

// Taken after the tables were read without error, so a copy is of a sound
// file. Copies every table file of dataDir into backup/<date>/ unless a
// copy for that date exists, then keeps the newest `keep` copies. Each file
// is copied through SQLite's backup, so a copy is consistent. Returns the
// folder written, or an empty text when nothing was written.
QString makeDailyBackup(const QString& dataDir, const QDate& today, int keep = 10);

// The newest backup folder that holds a readable copy of fileName; empty when none.
QString newestBackupOf(const QString& dataDir, const QString& fileName);

} // namespace qardel
