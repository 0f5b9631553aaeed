// The program's own file-system calls on the data folder, in one place:
// making what was written durable (a file's data, or a folder's entries, so
// that a rename in it survives a power cut), creating, renaming and removing
// files. Tests watch them in order through an observer.
#pragma once

#include <QString>

namespace qardel {

// Syncs a file or a folder; empty when done, else the system's reason.
QString syncPath(const QString& path, bool folder);
// Creates an empty file that must not exist yet; empty when done, else the
// system's reason.
QString createNewFile(const QString& path);
// Renames over whatever has the new name; empty when done, else the reason.
QString renameFile(const QString& from, const QString& to);
// Removes a file (never a folder); true when there was one to remove.
bool removeFile(const QString& path);

// Writes all of bytes to an open file descriptor; empty when done, else the
// system's reason (a full disk, a reader that went away).
QString writeAllTo(int fd, const QByteArray& bytes);

// A file written whole or not at all, for what the operator exports: a
// temporary file beside it, written, synced and renamed over it, then the
// folder synced. Only a regular file is replaced (a link is followed to its
// file); a folder, a device, a pipe or a socket at the name is left alone.
struct WholeWrite {
    QString error;           // empty when done
    bool notRegular = false; // refused: the name is not a regular file
    bool written = false;    // the new file is in place (only its folder's sync may have failed)
};
WholeWrite writeFileWhole(const QString& path, const QByteArray& bytes);

// Told of each of the calls above once it succeeded.
class FileOpObserver {
  public:
    virtual ~FileOpObserver() = default;
    virtual void created(const QString& path) = 0;
    virtual void renamed(const QString& from, const QString& to) = 0;
    virtual void removed(const QString& path) = 0;
    // before the sync itself: a crash during it may lose what it syncs
    virtual void syncing(const QString& path, bool folder) = 0;
};
void setFileOpObserver(FileOpObserver* observer); // nullptr: none

} // namespace qardel
