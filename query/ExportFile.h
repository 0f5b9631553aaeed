// What the search and statistics windows write for the operator: CSV text,
// and an exported file put down whole.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace qardel {

// CSV as spreadsheets read it (RFC 4180): UTF-8, fields separated by commas
// and quoted when they hold a comma, a quote or a line break, lines ending
// with CR LF.
QByteArray toCsv(const QList<QStringList>& rows);

// Writes an exported file whole or not at all: a temporary file beside it,
// written, synced and renamed over it, then the folder synced. Only a
// regular file is replaced (a link is followed to its file); a folder, a
// device or a pipe is refused. Empty when done, else the reason; *written
// tells whether the new file is in place all the same (only its folder could
// not be synced) or the file is as it was.
QString writeExportFile(const QString& path, const QByteArray& bytes, bool* written = nullptr);

} // namespace qardel
