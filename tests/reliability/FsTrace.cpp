#include "reliability/FsTrace.h"

#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <unistd.h>

namespace fstrace {

namespace {

Recorder* g_rec = nullptr;
sqlite3_vfs* g_real = nullptr; // the default VFS, wrapped
sqlite3_vfs g_vfs;
using OpenDirectory = int (*)(const char*, int*);
OpenDirectory g_realOpenDirectory = nullptr;

// A file of the wrapping VFS: its inode in the record, then the real file.
struct File {
    sqlite3_file base;
    int inode;
    sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};
sqlite3_file* real(sqlite3_file* f) {
    return reinterpret_cast<File*>(f)->real();
}
int inodeOf(sqlite3_file* f) {
    return reinterpret_cast<File*>(f)->inode;
}
const sqlite3_io_methods* m(sqlite3_file* f) {
    return real(f)->pMethods;
}

int xClose(sqlite3_file* f) {
    return m(f)->xClose(real(f));
}
int xRead(sqlite3_file* f, void* b, int n, sqlite3_int64 o) {
    return m(f)->xRead(real(f), b, n, o);
}
int xWrite(sqlite3_file* f, const void* b, int n, sqlite3_int64 o) {
    const int rc = m(f)->xWrite(real(f), b, n, o);
    if (rc == SQLITE_OK) g_rec->wrote(inodeOf(f), b, n, o);
    return rc;
}
int xTruncate(sqlite3_file* f, sqlite3_int64 size) {
    const int rc = m(f)->xTruncate(real(f), size);
    if (rc == SQLITE_OK) g_rec->truncated(inodeOf(f), size);
    return rc;
}
int xSync(sqlite3_file* f, int flags) {
    // a crash during the sync may still lose what it syncs
    g_rec->syncing(inodeOf(f));
    const int rc = m(f)->xSync(real(f), flags);
    if (rc != SQLITE_OK) g_rec->fail(QStringLiteral("a sync failed"));
    return rc;
}
int xFileSize(sqlite3_file* f, sqlite3_int64* size) {
    return m(f)->xFileSize(real(f), size);
}
int xLock(sqlite3_file* f, int l) {
    return m(f)->xLock(real(f), l);
}
int xUnlock(sqlite3_file* f, int l) {
    return m(f)->xUnlock(real(f), l);
}
int xCheckReservedLock(sqlite3_file* f, int* out) {
    return m(f)->xCheckReservedLock(real(f), out);
}
int xFileControl(sqlite3_file* f, int op, void* arg) {
    return m(f)->xFileControl(real(f), op, arg);
}
int xSectorSize(sqlite3_file* f) {
    return m(f)->xSectorSize(real(f));
}
int xDeviceCharacteristics(sqlite3_file* f) {
    return m(f)->xDeviceCharacteristics(real(f));
}
int xShmMap(sqlite3_file* f, int page, int size, int extend, void volatile** p) {
    return m(f)->xShmMap(real(f), page, size, extend, p);
}
int xShmLock(sqlite3_file* f, int offset, int n, int flags) {
    return m(f)->xShmLock(real(f), offset, n, flags);
}
void xShmBarrier(sqlite3_file* f) {
    m(f)->xShmBarrier(real(f));
}
int xShmUnmap(sqlite3_file* f, int deleteFlag) {
    return m(f)->xShmUnmap(real(f), deleteFlag);
}
int xFetch(sqlite3_file* f, sqlite3_int64 o, int n, void** p) {
    return m(f)->xFetch(real(f), o, n, p);
}
int xUnfetch(sqlite3_file* f, sqlite3_int64 o, void* p) {
    return m(f)->xUnfetch(real(f), o, p);
}

const sqlite3_io_methods g_io = {3,
                                 xClose,
                                 xRead,
                                 xWrite,
                                 xTruncate,
                                 xSync,
                                 xFileSize,
                                 xLock,
                                 xUnlock,
                                 xCheckReservedLock,
                                 xFileControl,
                                 xSectorSize,
                                 xDeviceCharacteristics,
                                 xShmMap,
                                 xShmLock,
                                 xShmBarrier,
                                 xShmUnmap,
                                 xFetch,
                                 xUnfetch};

int vfsOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* outFlags) {
    File* file = reinterpret_cast<File*>(f);
    const bool existed = name && ::access(name, F_OK) == 0;
    const int rc = g_real->xOpen(g_real, name, file->real(), flags, outFlags);
    if (rc != SQLITE_OK) {
        f->pMethods = nullptr;
        return rc;
    }
    file->inode = name ? g_rec->opened(name, !existed && (flags & SQLITE_OPEN_CREATE)) : -1;
    f->pMethods = &g_io;
    return SQLITE_OK;
}

int vfsDelete(sqlite3_vfs*, const char* path, int syncFolder) {
    // recorded first: the folder's sync, when asked for, comes inside the call
    if (::access(path, F_OK) == 0) g_rec->unlinking(path);
    const int rc = g_real->xDelete(g_real, path, syncFolder);
    if (rc != SQLITE_OK && rc != SQLITE_IOERR_DELETE_NOENT) g_rec->fail("a removal failed");
    return rc;
}

// SQLite syncs a folder (after creating a log, or removing a file with a
// folder sync) through this call alone.
int openDirectory(const char* path, int* fd) {
    const int rc = g_realOpenDirectory(path, fd);
    if (rc == SQLITE_OK) g_rec->syncingFolderOf(path);
    return rc;
}

} // namespace

Recorder::Recorder(const QString& folder) : m_folder(QFileInfo(folder).canonicalFilePath()) {
    Q_ASSERT(!g_rec);
    g_rec = this;
    g_real = sqlite3_vfs_find("unix");
    g_vfs = *g_real; // its own calls take the real VFS's settings and data
    g_vfs.zName = "qardel-record";
    g_vfs.szOsFile = int(sizeof(File)) + g_real->szOsFile;
    g_vfs.xOpen = vfsOpen;
    g_vfs.xDelete = vfsDelete;
    sqlite3_vfs_register(&g_vfs, 1);
    g_realOpenDirectory =
        reinterpret_cast<OpenDirectory>(g_real->xGetSystemCall(g_real, "openDirectory"));
    g_real->xSetSystemCall(g_real, "openDirectory",
                           reinterpret_cast<sqlite3_syscall_ptr>(openDirectory));
    qardel::setFileOpObserver(this);
}

Recorder::~Recorder() {
    qardel::setFileOpObserver(nullptr);
    g_real->xSetSystemCall(g_real, "openDirectory", nullptr); // back to its own
    sqlite3_vfs_register(g_real, 1);
    sqlite3_vfs_unregister(&g_vfs);
    g_rec = nullptr;
}

QString Recorder::nameIn(const QString& path) const {
    const QFileInfo fi(path);
    const QString parent = QFileInfo(fi.absolutePath()).canonicalFilePath();
    if (parent == m_folder) return fi.fileName();
    // a folder inside it (an import's stage): the name with its folder
    if (parent.startsWith(m_folder + QLatin1Char('/')))
        return parent.mid(m_folder.size() + 1) + QLatin1Char('/') + fi.fileName();
    return {};
}

QString folderOf(const QString& name) {
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : name.left(slash);
}

int Recorder::create(const QString& name) {
    const int inode = m_nextInode++;
    m_names[name] = inode;
    push({Op::Create, inode, name});
    return inode;
}

void Recorder::mark(Op::Kind beginOrEnd, int save) {
    Op op{beginOrEnd};
    op.save = save;
    push(op);
}

int Recorder::opened(const char* path, bool created) {
    const QString name = nameIn(QFile::decodeName(path));
    if (name.isEmpty()) return -1;
    if (created) return create(name);
    auto it = m_names.find(name);
    if (it == m_names.end()) {
        fail(QStringLiteral("%1 was there before the record began").arg(name));
        return -1;
    }
    return it->second;
}

void Recorder::wrote(int inode, const void* data, int length, qint64 offset) {
    if (inode < 0) return;
    Op op{Op::Write, inode};
    op.offset = offset;
    op.data = QByteArray(static_cast<const char*>(data), length);
    push(std::move(op));
}

void Recorder::truncated(int inode, qint64 size) {
    if (inode < 0) return;
    Op op{Op::Truncate, inode};
    op.offset = size;
    push(op);
}

void Recorder::syncing(int inode) {
    if (inode >= 0) push({Op::Sync, inode});
}

void Recorder::unlinking(const char* path) {
    removed(QFile::decodeName(path));
}

void Recorder::syncingFolderOf(const char* path) {
    const QString name = nameIn(QFile::decodeName(path));
    if (!name.isEmpty()) push({Op::DirSync, -1, folderOf(name)});
}

void Recorder::created(const QString& path) {
    const QString name = nameIn(path);
    if (!name.isEmpty()) create(name);
}

void Recorder::renamed(const QString& from, const QString& to) {
    const QString a = nameIn(from), b = nameIn(to);
    if (a.isEmpty() && b.isEmpty()) return;
    if (a.isEmpty() || b.isEmpty() || !m_names.count(a)) {
        fail(QStringLiteral("a rename into or out of the folder: %1 to %2").arg(from, to));
        return;
    }
    const int inode = m_names[a];
    m_names.erase(a);
    m_names[b] = inode;
    push({Op::Rename, inode, a, b});
}

void Recorder::removed(const QString& path) {
    const QString name = nameIn(path);
    auto it = m_names.find(name);
    if (name.isEmpty() || it == m_names.end()) return;
    push({Op::Unlink, it->second, name});
    m_names.erase(it);
}

void Recorder::syncing(const QString& path, bool folder) {
    if (folder) {
        const QString canonical = QFileInfo(path).canonicalFilePath();
        if (canonical == m_folder)
            push({Op::DirSync});
        else if (canonical.startsWith(m_folder + QLatin1Char('/')))
            push({Op::DirSync, -1, canonical.mid(m_folder.size() + 1)});
        return;
    }
    const QString name = nameIn(path);
    auto it = m_names.find(name);
    if (!name.isEmpty() && it != m_names.end()) push({Op::Sync, it->second});
}

} // namespace fstrace
